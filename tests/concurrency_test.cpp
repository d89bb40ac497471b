// Many semilist processes editing one value at once: every edit survives.
#include <windows.h>
// After windows.h, which they need.
#include <gtest/gtest.h>
#include <sddl.h>

#include <atomic>
#include <set>
#include <thread>

#include "front_end/library_function.h"
#include "in_process/semilist.h"
#include "path_list/path_list.h"
#include "semilist_process.h"
#include "windows_test_support.h"

namespace semilist {
namespace {

using test::kSystemEnvironment;
using test::kUserEnvironment;

constexpr int kProcesses = 32;

class ConcurrencyTest : public ::testing::Test {
 protected:
  void TearDown() override {
    test::DeleteRaw(HKEY_CURRENT_USER, kUserEnvironment, name_);
    test::DeleteRaw(HKEY_LOCAL_MACHINE, kSystemEnvironment, name_);
  }

  std::wstring Item(int i) {
    return L"C:\\Tools\\Parallel" + std::to_wstring(i);
  }

  // Starts one run per item, all suspended, then lets them go at once, so
  // that their reads and writes overlap as much as they can.
  std::vector<DWORD> RunAll(const wchar_t* action) {
    std::vector<HANDLE> processes;
    std::vector<HANDLE> threads;
    for (int i = 0; i < kProcesses; ++i) {
      HANDLE thread = nullptr;
      processes.push_back(test::StartSemilist(
          {action, L"/user", name_, Item(i)}, &thread, program_));
      if (thread != nullptr) threads.push_back(thread);
    }
    for (HANDLE thread : threads) {
      ResumeThread(thread);
      CloseHandle(thread);
    }
    std::vector<DWORD> statuses;
    for (HANDLE process : processes) {
      statuses.push_back(test::WaitForSemilist(process));
    }
    return statuses;
  }

  std::wstring StoredText() {
    const auto value =
        test::ReadRaw(HKEY_CURRENT_USER, kUserEnvironment, name_);
    if (!value) return L"<absent>";
    return std::wstring(reinterpret_cast<const wchar_t*>(value->data.data()),
                        value->data.size() / sizeof(wchar_t) - 1);
  }

  DWORD Run(const std::vector<std::wstring>& arguments) {
    return test::WaitForSemilist(
        test::StartSemilist(arguments, nullptr, program_));
  }

  test::BroadcastCounter broadcasts_;
  const std::wstring name_ =
      L"SEMILIST_PARALLEL_" + std::to_wstring(GetCurrentProcessId());
  const wchar_t* program_ = L"semilist.exe";
};

// The same with the lock under public names, where the platform has no
// private namespaces, and in them, through a stand-in for Windows'.
class LockTest : public ConcurrencyTest,
                 public ::testing::WithParamInterface<const wchar_t*> {
 protected:
  void SetUp() override { program_ = GetParam(); }
};

TEST_P(LockTest, ParallelAppendsAndRemovesLoseNothing) {
  test::WriteRaw(HKEY_CURRENT_USER, kUserEnvironment, name_, REG_EXPAND_SZ,
                 test::TextBytes(L"C:\\Existing"));

  for (DWORD status : RunAll(L"/append")) EXPECT_EQ(status, 0u);
  StringList pieces;
  SplitString(StoredText(), L";", pieces);
  const std::set<std::wstring> stored(pieces.begin(), pieces.end());
  EXPECT_EQ(pieces.size(), stored.size()) << "an item was stored twice";
  EXPECT_EQ(pieces.front(), L"C:\\Existing");
  int lost = 0;
  for (int i = 0; i < kProcesses; ++i) lost += stored.count(Item(i)) == 0;
  EXPECT_EQ(lost, 0) << "of " << kProcesses << " parallel appends";
  EXPECT_EQ(broadcasts_.Count(), kProcesses);

  for (DWORD status : RunAll(L"/remove")) EXPECT_EQ(status, 0u);
  EXPECT_EQ(StoredText(), L"C:\\Existing");
}

TEST_P(LockTest, RunWaitsOnlyForTheLockOfItsOwnScope) {
  // /user takes this account's lock and /system the machine's, so a run on
  // one never waits for a run on the other.
  struct Case {
    const wchar_t *scope, *other;
    std::wstring lockName;
  };
  for (const auto& [scope, other, lockName] :
       {Case{L"/user", L"/system", test::AccountLockName(program_)},
        Case{L"/system", L"/user", test::MachineLockName(program_)}}) {
    const HANDLE lock = CreateMutexW(nullptr, TRUE, lockName.c_str());
    ASSERT_NE(lock, nullptr);
    const HANDLE waiting = test::StartSemilist({L"/append", scope, name_, L"b"},
                                               nullptr, program_);
    EXPECT_EQ(Run({L"/append", other, name_, L"c"}), 0u)
        << other << " waited for the lock of " << scope;
    test::PumpMessagesFor(1000);
    EXPECT_EQ(WaitForSingleObject(waiting, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << scope;

    ReleaseMutex(lock);
    EXPECT_EQ(test::WaitForSemilist(waiting), 0u);
    CloseHandle(lock);
  }
  // The user's b waited while the machine's c went ahead, then the other way.
  EXPECT_EQ(test::ReadRaw(HKEY_CURRENT_USER, kUserEnvironment, name_),
            test::ExpandString(L"b;c"));
  EXPECT_EQ(test::ReadRaw(HKEY_LOCAL_MACHINE, kSystemEnvironment, name_),
            test::ExpandString(L"c;b"));
}

TEST_P(LockTest, LockLeftByADeadRunIsTakenOver) {
  // A thread that ends while owning the mutex abandons it, as a killed
  // process would.
  struct Owner {
    std::wstring name;
    HANDLE lock = nullptr;
    static DWORD WINAPI Run(void* self) {
      auto* owner = static_cast<Owner*>(self);
      owner->lock = CreateMutexW(nullptr, TRUE, owner->name.c_str());
      return 0;
    }
  } dead{test::AccountLockName(program_)};
  const HANDLE owner = CreateThread(nullptr, 0, Owner::Run, &dead, 0, nullptr);
  ASSERT_NE(owner, nullptr);
  WaitForSingleObject(owner, INFINITE);
  CloseHandle(owner);

  EXPECT_EQ(Run({L"/append", L"/user", name_, L"x"}), 0u);
  EXPECT_EQ(StoredText(), L"x");
  // Closed only now: closed earlier, the mutex would be gone rather than
  // abandoned; left open, it would hold the name for later tests.
  CloseHandle(dead.lock);
}

TEST_F(ConcurrencyTest, TwoThreadsOfOneHostKeepBothEdits) {
  const HMODULE dll = LoadLibraryW(test::SiblingPath(L"semilist.dll").c_str());
  const auto run = LibraryFunction<decltype(SemilistRunW)>(dll, "SemilistRunW");
  ASSERT_NE(run, nullptr) << GetLastError();
  std::vector<int> statuses[2];
  std::thread threads[2];
  std::atomic<int> running{2};
  for (int t = 0; t < 2; ++t) {
    threads[t] = std::thread([&, t] {
      for (int i = t; i < kProcesses; i += 2) {
        const std::wstring text =
            L"/append /user " + name_ + L" " + test::QuoteArgument(Item(i));
        statuses[t].push_back(run(text.c_str()));
      }
      --running;
    });
  }
  // Their broadcasts come to this thread's window, which must answer.
  while (running > 0) test::PumpMessagesFor(20);
  for (std::thread& thread : threads) thread.join();
  for (const std::vector<int>& each : statuses) {
    EXPECT_EQ(each, std::vector<int>(kProcesses / 2, 0));
  }
  StringList pieces;
  SplitString(StoredText(), L";", pieces);
  EXPECT_EQ(std::set<std::wstring>(pieces.begin(), pieces.end()).size(),
            static_cast<std::size_t>(kProcesses));
  EXPECT_EQ(broadcasts_.Count(), kProcesses);
  FreeLibrary(dll);
}

INSTANTIATE_TEST_SUITE_P(
    PublicNamesAndNamespaces, LockTest,
    ::testing::Values(L"semilist.exe", L"semilist-namespace.exe"),
    [](const ::testing::TestParamInfo<const wchar_t*>& info) {
      return info.index == 0 ? "PublicNames" : "PrivateNamespaces";
    });

TEST_F(ConcurrencyTest, NoOneOutsideTheNamespacesHoldsOrSplitsTheLock) {
  program_ = L"semilist-namespace.exe";
  // The public names, and a namespace whose boundary is Everyone's, are not
  // the lock, whoever holds them.
  const HANDLE squatters[] = {
      CreateEventW(nullptr, TRUE, FALSE, test::MachineLockName().c_str()),
      CreateEventW(nullptr, TRUE, FALSE, test::AccountLockName().c_str()),
      CreateMutexW(nullptr, TRUE,
                   L"Global\\semilist-seam-semilist-environment-edit_S-1-1-0_"
                   L"S-1-16-12288_edit"),
  };
  struct Case {
    const char* what;
    const wchar_t *token, *fault, *action, *scope, *item;
    DWORD status;
    bool machineLockHeld;
  };
  const Case cases[] = {
      {"squatted", L"", L"", L"/append", L"/system", L"x", 0, false},
      {"squatted", L"", L"", L"/append", L"/user", L"x", 0, false},
      // The last holder closed the namespace between the create and the open.
      {"race", L"", L"namespace-race", L"/append", L"/user", L"y", 0, false},
      // Outside the machine's boundary: a question reads without the lock,
      // and so at once; an edit is refused. The account's own is inside.
      {"reader", L"standard", L"", L"/contains", L"/system", L"x", 0, true},
      {"writer", L"standard", L"", L"/append", L"/system", L"z", 4, true},
      {"own list", L"standard", L"", L"/append", L"/user", L"z", 0, true},
  };
  const std::wstring machineLock = test::MachineLockName(program_);
  for (const Case& c : cases) {
    SetEnvironmentVariableW(L"SEMILIST_SEAM_TOKEN", c.token);
    SetEnvironmentVariableW(L"SEMILIST_SEAM_FAULT", c.fault);
    const HANDLE held = c.machineLockHeld
                            ? CreateMutexW(nullptr, TRUE, machineLock.c_str())
                            : nullptr;
    EXPECT_EQ(Run({c.action, c.scope, name_, c.item}), c.status) << c.what;
    if (held != nullptr) CloseHandle(held);
  }
  SetEnvironmentVariableW(L"SEMILIST_SEAM_TOKEN", nullptr);
  SetEnvironmentVariableW(L"SEMILIST_SEAM_FAULT", nullptr);
  for (HANDLE squatter : squatters) CloseHandle(squatter);
  EXPECT_EQ(StoredText(), L"x;y;z");
  EXPECT_EQ(test::ReadRaw(HKEY_LOCAL_MACHINE, kSystemEnvironment, name_),
            test::ExpandString(L"x"));
}

TEST_F(ConcurrencyTest, NamespaceOutlivesItsCreatorWhileARunHoldsIt) {
  // CreatePrivateNamespace's remarks say that OpenPrivateNamespace fails
  // once the creator's handle is closed. The lock relies on the other
  // reading, that a namespace stays while any process holds it: else a
  // third run would make a second namespace, and a lock of its own.
  if (test::UnderWine()) {
    GTEST_SKIP() << "Wine has no private namespaces; on Windows this "
                    "settles which reading of their lifetime holds";
  }
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto createBoundary =
      LibraryFunction<decltype(CreateBoundaryDescriptorW)>(
          kernel, "CreateBoundaryDescriptorW");
  const auto addSid = LibraryFunction<decltype(AddSIDToBoundaryDescriptor)>(
      kernel, "AddSIDToBoundaryDescriptor");
  const auto addLabel =
      LibraryFunction<decltype(AddIntegrityLabelToBoundaryDescriptor)>(
          kernel, "AddIntegrityLabelToBoundaryDescriptor");
  const auto create = LibraryFunction<decltype(CreatePrivateNamespaceW)>(
      kernel, "CreatePrivateNamespaceW");
  const auto close = LibraryFunction<decltype(ClosePrivateNamespace)>(
      kernel, "ClosePrivateNamespace");
  ASSERT_TRUE(createBoundary && addSid && addLabel && create && close);
  // The machine's boundary, as semilist makes it.
  HANDLE boundary = createBoundary(L"semilist-environment-edit", 0);
  PSID administrators = nullptr;
  PSID high = nullptr;
  ASSERT_TRUE(ConvertStringSidToSidW(L"S-1-5-32-544", &administrators));
  ASSERT_TRUE(ConvertStringSidToSidW(L"S-1-16-12288", &high));
  ASSERT_TRUE(addSid(&boundary, administrators) && addLabel(&boundary, high));
  const HANDLE created = create(nullptr, boundary, L"semilist-test");
  ASSERT_NE(created, nullptr)
      << "no other run may hold the namespace now: " << GetLastError();
  const HANDLE lock = CreateMutexW(nullptr, TRUE, L"semilist-test\\edit");
  ASSERT_NE(lock, nullptr) << GetLastError();
  // The second run holds the namespace and waits for the lock; then the
  // creator lets go of the namespace, keeping the lock.
  const HANDLE second =
      test::StartSemilist({L"/append", L"/system", name_, L"b"});
  test::PumpMessagesFor(2000);
  close(created, 0);
  const HANDLE third =
      test::StartSemilist({L"/append", L"/system", name_, L"c"});
  test::PumpMessagesFor(2000);
  EXPECT_EQ(WaitForSingleObject(third, 0), static_cast<DWORD>(WAIT_TIMEOUT))
      << "the third run found a namespace of its own";
  ReleaseMutex(lock);
  CloseHandle(lock);
  EXPECT_EQ(test::WaitForSemilist(second), 0u);
  EXPECT_EQ(test::WaitForSemilist(third), 0u);
  LocalFree(administrators);
  LocalFree(high);
}

}  // namespace
}  // namespace semilist
