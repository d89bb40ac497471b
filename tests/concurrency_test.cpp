// Many semilist processes editing one value at once: every edit survives.
#include <windows.h>
// After windows.h, which they need.
#include <gtest/gtest.h>
#include <sddl.h>

#include <atomic>
#include <memory>
#include <optional>
#include <set>
#include <thread>
#include <tuple>

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

  std::wstring StoredText(bool machine = false) {
    const auto value =
        machine ? test::ReadRaw(HKEY_LOCAL_MACHINE, kSystemEnvironment, name_)
                : test::ReadRaw(HKEY_CURRENT_USER, kUserEnvironment, name_);
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
  for (const auto& [scope, other, machine] :
       {std::tuple{L"/user", L"/system", false},
        std::tuple{L"/system", L"/user", true}}) {
    HANDLE waiting = nullptr;
    {
      const test::HeldEditLock lock(machine, program_);
      waiting = test::StartSemilist({L"/append", scope, name_, L"b"}, nullptr,
                                    program_);
      EXPECT_TRUE(lock.WaitUntilOpenedBy(waiting))
          << scope << " did not wait for its lock";
      EXPECT_EQ(Run({L"/append", other, name_, L"c"}), 0u)
          << other << " waited for the lock of " << scope;
      EXPECT_EQ(WaitForSingleObject(waiting, 0),
                static_cast<DWORD>(WAIT_TIMEOUT))
          << scope;
    }
    EXPECT_EQ(test::WaitForSemilist(waiting), 0u);
  }
  // The user's b waited while the machine's c went ahead, then the other way.
  EXPECT_EQ(test::ReadRaw(HKEY_CURRENT_USER, kUserEnvironment, name_),
            test::ExpandString(L"b;c"));
  EXPECT_EQ(test::ReadRaw(HKEY_LOCAL_MACHINE, kSystemEnvironment, name_),
            test::ExpandString(L"c;b"));
}

TEST_P(LockTest, LockLeftByADeadRunIsTakenOver) {
  // A thread that ends while owning the lock abandons it, as a killed
  // process would. Deleted only after the run: deleted earlier, the mutex
  // would be gone rather than abandoned.
  std::unique_ptr<test::HeldEditLock> dead;
  std::thread([&] {
    dead = std::make_unique<test::HeldEditLock>(false, program_);
  }).join();
  ASSERT_TRUE(dead->IsHeld());

  EXPECT_EQ(Run({L"/append", L"/user", name_, L"x"}), 0u);
  EXPECT_EQ(StoredText(), L"x");
}

// Two threads of one host, each editing at once, with the plain DLL and the
// one whose private namespaces, like Windows', refuse a second registration
// of one alias in a process.
class TwoThreadTest
    : public ConcurrencyTest,
      public ::testing::WithParamInterface<std::tuple<const wchar_t*, bool>> {};

TEST_P(TwoThreadTest, TwoThreadsOfOneHostKeepBothEdits) {
  const auto [file, machine] = GetParam();
  const HMODULE dll = LoadLibraryW(test::SiblingPath(file).c_str());
  const auto run = LibraryFunction<decltype(SemilistRunW)>(dll, "SemilistRunW");
  ASSERT_NE(run, nullptr) << GetLastError();
  const std::wstring scope = machine ? L"/system " : L"/user ";
  std::vector<int> statuses[2];
  std::thread threads[2];
  std::atomic<int> running{2};
  for (int t = 0; t < 2; ++t) {
    threads[t] = std::thread([&, t] {
      for (int i = t; i < kProcesses; i += 2) {
        const std::wstring text =
            L"/append " + scope + name_ + L" " + test::QuoteArgument(Item(i));
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
  SplitString(StoredText(machine), L";", pieces);
  EXPECT_EQ(std::set<std::wstring>(pieces.begin(), pieces.end()).size(),
            static_cast<std::size_t>(kProcesses));
  EXPECT_EQ(broadcasts_.Count(), kProcesses);
  FreeLibrary(dll);
}

INSTANTIATE_TEST_SUITE_P(
    DllsAndScopes, TwoThreadTest,
    ::testing::Combine(::testing::Values(L"semilist.dll",
                                         L"semilist-namespace.dll"),
                       ::testing::Bool()),
    [](const auto& info) {
      const bool plain =
          std::wstring(std::get<0>(info.param)) == L"semilist.dll";
      return std::string(plain ? "Plain" : "Namespaces") +
             (std::get<1>(info.param) ? "System" : "User");
    });

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
  for (const Case& c : cases) {
    SetEnvironmentVariableW(L"SEMILIST_SEAM_TOKEN", c.token);
    SetEnvironmentVariableW(L"SEMILIST_SEAM_FAULT", c.fault);
    std::optional<test::HeldEditLock> held;
    if (c.machineLockHeld) held.emplace(true, program_);
    EXPECT_EQ(Run({c.action, c.scope, name_, c.item}), c.status) << c.what;
  }
  SetEnvironmentVariableW(L"SEMILIST_SEAM_TOKEN", nullptr);
  SetEnvironmentVariableW(L"SEMILIST_SEAM_FAULT", nullptr);
  for (HANDLE squatter : squatters) CloseHandle(squatter);
  EXPECT_EQ(StoredText(), L"x;y;z");
  EXPECT_EQ(test::ReadRaw(HKEY_LOCAL_MACHINE, kSystemEnvironment, name_),
            test::ExpandString(L"x"));
}

TEST_F(ConcurrencyTest, AccountLockAdmitsItsMediumAndHighRunsButNotLowOnes) {
  program_ = L"semilist-namespace.exe";
  HANDLE runs[2] = {};
  {
    // A High run holds the account's namespace while it waits for the lock.
    const test::HeldEditLock lock(false, program_);
    runs[0] = test::StartSemilist({L"/append", L"/user", name_, L"w"}, nullptr,
                                  program_);
    ASSERT_TRUE(lock.WaitUntilOpenedBy(runs[0]));
    SetEnvironmentVariableW(L"SEMILIST_SEAM_TOKEN", L"low");
    const HANDLE low = test::StartSemilist({L"/append", L"/user", name_, L"w"},
                                           nullptr, program_);
    EXPECT_FALSE(lock.WaitUntilOpenedBy(low, 1)) << "a Low run holds the lock";
    EXPECT_EQ(test::WaitForSemilist(low), 4u);
    SetEnvironmentVariableW(L"SEMILIST_SEAM_TOKEN", L"standard");
    runs[1] = test::StartSemilist({L"/append", L"/user", name_, L"w"}, nullptr,
                                  program_);
    EXPECT_TRUE(lock.WaitUntilOpenedBy(runs[1], 1))
        << "the account's Medium run did not wait for the lock";
    SetEnvironmentVariableW(L"SEMILIST_SEAM_TOKEN", nullptr);
  }
  for (HANDLE run : runs) EXPECT_EQ(test::WaitForSemilist(run), 0u);
  EXPECT_EQ(StoredText(), L"w");
}

TEST_F(ConcurrencyTest, NamespaceOutlivesItsCreatorWhileARunHoldsIt) {
  // CreatePrivateNamespace's remarks say that OpenPrivateNamespace fails
  // once the creator's handle is closed. The lock relies on the other
  // reading, that a namespace stays while any process holds it: else a
  // third run would make a second namespace, and a lock of its own.
  if (!test::UsesPrivateNamespaces(L"semilist.exe")) {
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
  // Once the second run opened the lock, it holds the namespace and waits;
  // then the creator lets go of the namespace, keeping the lock. A third run
  // that opens the same lock found the same namespace.
  const HANDLE second =
      test::StartSemilist({L"/append", L"/system", name_, L"b"});
  EXPECT_TRUE(test::WaitForHandles(lock, 2, second))
      << "the second run did not wait for the lock";
  close(created, 0);
  const HANDLE third =
      test::StartSemilist({L"/append", L"/system", name_, L"c"});
  EXPECT_TRUE(test::WaitForHandles(lock, 3, third))
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
