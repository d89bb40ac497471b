// The run sequence in-process, with faults injected at the platform calls.
// The product sources are compiled into this test without dllimport and
// linked with --wrap, so every registry call, the lock and the broadcast
// pass through the __wrap_ functions below. Calls that are not faulted go on
// to Wine's real registry.
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <functional>
#include <new>
#include <optional>

#include "front_end/edit_lock.h"
#include "front_end/front_end.h"
#include "in_process/semilist.h"
#include "path_list/path_list.h"
#include "registry/registry.h"
#include "windows_test_support.h"

namespace {

struct Faults {
  // Each returns the status to fail with, or nothing to call through.
  std::function<std::optional<LSTATUS>(REGSAM access)> open;
  std::function<std::optional<LSTATUS>(int queryNumber)> query;
  std::optional<LSTATUS> set;
  std::optional<LSTATUS> remove;
  std::optional<DWORD> wait;
  std::vector<DWORD> mutexErrors;  // one per failing creation, in order
  int failingCall = 0;  // the registry call, counted from 1, that fails
};

struct Counts {
  int opens = 0;                 // successful ones, which must each be closed
  std::vector<REGSAM> accesses;  // asked for by every open, in order
  int closes = 0;
  int queries = 0;
  int calls = 0;  // registry calls but closes
  int broadcasts = 0;
  std::vector<std::wstring> mutexNames;
};

Faults g_faults;
Counts g_counts;

std::optional<LSTATUS> NthCallFails() {
  if (++g_counts.calls == g_faults.failingCall) return ERROR_ACCESS_DENIED;
  return std::nullopt;
}

}  // namespace

extern "C" {
LSTATUS WINAPI __real_RegOpenKeyExW(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY);
LSTATUS WINAPI __real_RegQueryValueExW(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE,
                                       LPDWORD);
LSTATUS WINAPI __real_RegSetValueExW(HKEY, LPCWSTR, DWORD, DWORD, const BYTE*,
                                     DWORD);
LSTATUS WINAPI __real_RegDeleteValueW(HKEY, LPCWSTR);
LSTATUS WINAPI __real_RegCreateKeyExW(HKEY, LPCWSTR, DWORD, LPWSTR, DWORD,
                                      REGSAM, LPSECURITY_ATTRIBUTES, PHKEY,
                                      LPDWORD);
LSTATUS WINAPI __real_RegCloseKey(HKEY);
HANDLE WINAPI __real_CreateMutexExW(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD,
                                    DWORD);
DWORD WINAPI __real_WaitForSingleObject(HANDLE, DWORD);

LSTATUS WINAPI __wrap_RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD options,
                                    REGSAM access, PHKEY key) {
  g_counts.accesses.push_back(access);
  if (auto status = NthCallFails()) return *status;
  if (g_faults.open) {
    if (auto status = g_faults.open(access)) return *status;
  }
  const LSTATUS status =
      __real_RegOpenKeyExW(root, subKey, options, access, key);
  if (status == ERROR_SUCCESS) ++g_counts.opens;
  return status;
}

LSTATUS WINAPI __wrap_RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved,
                                       LPDWORD type, LPBYTE data,
                                       LPDWORD size) {
  const int number = ++g_counts.queries;
  if (auto status = NthCallFails()) return *status;
  if (g_faults.query) {
    if (auto status = g_faults.query(number)) return *status;
  }
  return __real_RegQueryValueExW(key, name, reserved, type, data, size);
}

LSTATUS WINAPI __wrap_RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved,
                                     DWORD type, const BYTE* data, DWORD size) {
  if (auto status = NthCallFails()) return *status;
  if (g_faults.set) return *g_faults.set;
  return __real_RegSetValueExW(key, name, reserved, type, data, size);
}

LSTATUS WINAPI __wrap_RegDeleteValueW(HKEY key, LPCWSTR name) {
  if (auto status = NthCallFails()) return *status;
  if (g_faults.remove) return *g_faults.remove;
  return __real_RegDeleteValueW(key, name);
}

LSTATUS WINAPI __wrap_RegCreateKeyExW(HKEY root, LPCWSTR subKey, DWORD reserved,
                                      LPWSTR className, DWORD options,
                                      REGSAM access,
                                      LPSECURITY_ATTRIBUTES attributes,
                                      PHKEY key, LPDWORD disposition) {
  g_counts.accesses.push_back(access);
  if (auto status = NthCallFails()) return *status;
  const LSTATUS status =
      __real_RegCreateKeyExW(root, subKey, reserved, className, options, access,
                             attributes, key, disposition);
  if (status == ERROR_SUCCESS) ++g_counts.opens;
  return status;
}

LSTATUS WINAPI __wrap_RegCloseKey(HKEY key) {
  ++g_counts.closes;
  return __real_RegCloseKey(key);
}

LRESULT WINAPI __wrap_SendMessageTimeoutW(HWND window, UINT message, WPARAM,
                                          LPARAM lParam, UINT flags,
                                          UINT timeout, PDWORD_PTR result) {
  EXPECT_EQ(window, HWND_BROADCAST);
  EXPECT_EQ(message, static_cast<UINT>(WM_SETTINGCHANGE));
  EXPECT_STREQ(reinterpret_cast<const wchar_t*>(lParam), L"Environment");
  EXPECT_EQ(flags, static_cast<UINT>(SMTO_ABORTIFHUNG));
  EXPECT_EQ(timeout, 5000u);
  EXPECT_NE(result, nullptr);
  ++g_counts.broadcasts;
  return 0;  // as if every listener timed out: the run must not care
}

HANDLE WINAPI __wrap_CreateMutexExW(LPSECURITY_ATTRIBUTES attributes,
                                    LPCWSTR name, DWORD flags, DWORD access) {
  EXPECT_EQ(access, static_cast<DWORD>(SYNCHRONIZE | MUTEX_MODIFY_STATE));
  g_counts.mutexNames.push_back(name);
  if (g_counts.mutexNames.size() <= g_faults.mutexErrors.size()) {
    SetLastError(g_faults.mutexErrors[g_counts.mutexNames.size() - 1]);
    return nullptr;
  }
  return __real_CreateMutexExW(attributes, name, flags, access);
}

DWORD WINAPI __wrap_WaitForSingleObject(HANDLE handle, DWORD timeout) {
  if (g_faults.wait) return *g_faults.wait;
  return __real_WaitForSingleObject(handle, timeout);
}
}

namespace semilist {
namespace {

using test::kUserEnvironment;

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_faults = Faults{};
    g_counts = Counts{};
  }
  void TearDown() override {
    g_faults = Faults{};
    test::DeleteRaw(HKEY_CURRENT_USER, kUserEnvironment, name_);
    test::DeleteRaw(HKEY_CURRENT_USER, test::kUserOwners, name_);
    EXPECT_EQ(g_counts.opens, g_counts.closes) << "a key was left open";
  }

  int Run(const wchar_t* action, const std::wstring& item) {
    const wchar_t* const argv[] = {L"semilist.exe", action, L"/user",
                                   name_.c_str(), item.c_str()};
    return RunSemilist(5, argv);
  }
  void Store(const std::wstring& text) {
    test::WriteRaw(HKEY_CURRENT_USER, kUserEnvironment, name_, REG_EXPAND_SZ,
                   test::TextBytes(text));
  }
  std::optional<test::RawValue> Stored() {
    return test::ReadRaw(HKEY_CURRENT_USER, kUserEnvironment, name_);
  }

  const std::wstring name_ =
      L"SEMILIST_FAULT_" + std::to_wstring(GetCurrentProcessId());
};

Faults OpenFails(REGSAM access, LSTATUS status) {
  Faults faults;
  faults.open = [=](REGSAM requested) -> std::optional<LSTATUS> {
    if (requested == access) return status;
    return std::nullopt;
  };
  return faults;
}

Faults QueryFails(int number, LSTATUS status) {
  Faults faults;
  faults.query = [=](int n) -> std::optional<LSTATUS> {
    if (n == number) return status;
    return std::nullopt;
  };
  return faults;
}

TEST_F(FaultTest, UnreadableValueIsNeverOverwritten) {
  struct Case {
    const char* fault;
    Faults faults;
  };
  const Case cases[] = {
      {"open for reading denied",
       OpenFails(KEY_QUERY_VALUE, ERROR_ACCESS_DENIED)},
      {"first query fails", QueryFails(1, ERROR_INVALID_HANDLE)},
      {"second query fails", QueryFails(2, ERROR_ACCESS_DENIED)},
  };
  for (const Case& c : cases) {
    // A read that fails never answers "not listed".
    for (const wchar_t* action : {L"/append", L"/remove", L"/contains"}) {
      Store(L"C:\\a;C:\\b");
      g_counts = Counts{};
      g_faults = c.faults;
      EXPECT_EQ(Run(action, L"C:\\a"), kUnreadable) << c.fault;
      g_faults = Faults{};
      EXPECT_EQ(Stored(), test::ExpandString(L"C:\\a;C:\\b")) << c.fault;
      EXPECT_EQ(g_counts.broadcasts, 0) << c.fault;
      EXPECT_EQ(g_counts.opens, g_counts.closes) << c.fault;
    }
  }
}

TEST_F(FaultTest, ValueThatGrowsBetweenTheQueriesIsNotReadHalf) {
  const std::wstring grown = L"C:\\a;C:\\b;C:\\added-by-another-program";
  Store(L"C:\\a");
  // Another writer lengthens the value just before the second query, which
  // then finds more data than it was sized for.
  g_faults.query = [&](int n) -> std::optional<LSTATUS> {
    if (n == 2) Store(grown);
    return std::nullopt;
  };
  std::wstring text = L"unchanged";
  LSTATUS status = ERROR_SUCCESS;
  DWORD type = REG_NONE;
  EXPECT_FALSE(ReadRegistryString(HKEY_CURRENT_USER, kUserEnvironment, name_,
                                  text, type, status));
  EXPECT_EQ(status, ERROR_MORE_DATA);
  EXPECT_EQ(text, L"unchanged");

  Store(L"C:\\a");
  g_counts.queries = 0;
  EXPECT_EQ(Run(L"/remove", L"C:\\a"), kUnreadable);
  EXPECT_EQ(Stored(), test::ExpandString(grown));
  EXPECT_EQ(g_counts.broadcasts, 0);
}

TEST_F(FaultTest, FailedStoreIsReportedAndStillBroadcast) {
  struct Case {
    const char* fault;
    Faults faults;
    const wchar_t* action;
    std::wstring before;
  };
  const Faults denyWriteOpen = OpenFails(KEY_SET_VALUE, ERROR_ACCESS_DENIED);
  Faults failSet;
  failSet.set = ERROR_ACCESS_DENIED;
  Faults denyDelete;
  denyDelete.remove = ERROR_ACCESS_DENIED;
  const Case cases[] = {
      {"open for writing denied, append", denyWriteOpen, L"/append", L"a"},
      {"open for writing denied, remove", denyWriteOpen, L"/remove", L"x"},
      {"set fails", failSet, L"/append", L"a"},
      {"delete denied", denyDelete, L"/remove", L"x"},
  };
  for (const Case& c : cases) {
    Store(c.before);
    g_counts = Counts{};
    g_faults = c.faults;
    EXPECT_EQ(Run(c.action, L"x"), kStoreFailed) << c.fault;
    g_faults = Faults{};
    EXPECT_EQ(Stored(), test::ExpandString(c.before)) << c.fault;
    EXPECT_EQ(g_counts.broadcasts, 1) << c.fault;
    EXPECT_EQ(g_counts.opens, g_counts.closes) << c.fault;
  }
}

TEST_F(FaultTest, DeleteThatFindsNoValueIsDone) {
  Store(L"x");
  g_faults.remove = ERROR_FILE_NOT_FOUND;
  EXPECT_EQ(Run(L"/remove", L"x"), kDone);
  EXPECT_EQ(g_counts.broadcasts, 1);
}

TEST_F(FaultTest, CompletedRunsBroadcastOnceWhateverTheListenersDo) {
  EXPECT_EQ(Run(L"/append", L"x"), kDone);
  EXPECT_EQ(Run(L"/remove", L"x"), kDone);
  EXPECT_EQ(Run(L"/remove", L"x"), kDone);
  EXPECT_EQ(g_counts.broadcasts, 3);
  EXPECT_FALSE(Stored().has_value());
  // The least access: a key that delegates only Query Value and Set Value
  // refuses KEY_READ and KEY_WRITE. Each run reads, then writes or deletes.
  EXPECT_EQ(
      g_counts.accesses,
      (std::vector<REGSAM>{KEY_QUERY_VALUE, KEY_SET_VALUE, KEY_QUERY_VALUE,
                           KEY_SET_VALUE, KEY_QUERY_VALUE, KEY_SET_VALUE}));

  const wchar_t* const tooFew[] = {L"semilist.exe", L"/append", L"/user"};
  EXPECT_EQ(RunSemilist(3, tooFew), kUsageError);
  // In-process, a null text is the empty one.
  EXPECT_EQ(SemilistRunW(nullptr), kUsageError);
  EXPECT_EQ(g_counts.broadcasts, 3);
}

TEST_F(FaultTest, LockTimeOutTouchesNothing) {
  Store(L"a");
  g_faults.wait = WAIT_TIMEOUT;
  EXPECT_EQ(Run(L"/append", L"x"), kLockTimedOut);
  g_faults.wait = WAIT_FAILED;
  EXPECT_EQ(Run(L"/remove", L"a"), kLockTimedOut);
  EXPECT_EQ(g_counts.opens, 0);
  EXPECT_EQ(g_counts.broadcasts, 0);
  EXPECT_EQ(Stored(), test::ExpandString(L"a"));
}

TEST_F(FaultTest, LockNameHeldBySomeoneElseStopsTheRun) {
  Store(L"a");
  for (DWORD error : {ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE}) {
    g_counts.mutexNames.clear();
    g_faults.mutexErrors = {error};
    EXPECT_EQ(Run(L"/append", L"x"), kLockTimedOut) << error;
    EXPECT_EQ(g_counts.mutexNames.size(), 1u) << "fell back to another name";
  }
  EXPECT_EQ(g_counts.opens, 0);
  EXPECT_EQ(g_counts.broadcasts, 0);
  EXPECT_EQ(Stored(), test::ExpandString(L"a"));
  // A reader whose rights do not reach the lock reads without it.
  for (DWORD error : {ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE}) {
    g_counts.mutexNames.clear();
    g_faults.mutexErrors = {error};
    EXPECT_EQ(Run(L"/contains", L"A"),
              error == ERROR_ACCESS_DENIED ? kDone : kLockTimedOut);
  }
}

TEST_F(FaultTest, LockFallsBackToTheSessionThenToNone) {
  // As where the global namespace is missing, or mutexes cannot be made.
  g_faults.mutexErrors = {ERROR_PATH_NOT_FOUND};
  EXPECT_EQ(Run(L"/append", L"x"), kDone);
  const std::wstring account = L"-" + CurrentAccountSid();
  EXPECT_EQ(g_counts.mutexNames,
            (std::vector<std::wstring>{
                L"Global\\semilist-environment-edit" + account,
                L"Local\\semilist-environment-edit" + account}));

  g_counts.mutexNames.clear();
  g_faults.mutexErrors = {ERROR_PATH_NOT_FOUND, ERROR_NOT_ENOUGH_MEMORY};
  EXPECT_EQ(Run(L"/append", L"y"), kDone);
  EXPECT_EQ(g_counts.mutexNames.size(), 2u);
  EXPECT_EQ(Stored(), test::ExpandString(L"x;y"));
}

TEST_F(FaultTest, LockMutexGrantsOnlySystemAdministratorsAndItsAccount) {
  const std::wstring sid = CurrentAccountSid();
  ASSERT_EQ(sid.rfind(L"S-1-", 0), 0u) << testing::PrintToString(sid);
  for (const std::wstring& account : {std::wstring(), sid}) {
    EditLock lock;
    ASSERT_TRUE(lock.Acquire(account, 0));
    const std::wstring name = L"Global\\semilist-environment-edit" +
                              (account.empty() ? L"" : L"-" + account);
    HANDLE mutex = OpenMutexW(READ_CONTROL, FALSE, name.c_str());
    ASSERT_NE(mutex, nullptr) << GetLastError();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(
        GetSecurityInfo(mutex, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION,
                        nullptr, nullptr, nullptr, nullptr, &descriptor),
        static_cast<DWORD>(ERROR_SUCCESS));
    wchar_t* sddl = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
        descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl,
        nullptr));
    // Windows maps GA onto the mutex's own rights when it makes the object;
    // Wine keeps the ACEs as given.
    std::wstring dacl = sddl;
    for (std::size_t at; (at = dacl.find(L"0x1f0001")) != dacl.npos;) {
      dacl.replace(at, 8, L"GA");
    }
    EXPECT_EQ(dacl,
              L"D:P(A;;GA;;;SY)(A;;GA;;;BA)" +
                  (account.empty() ? L"" : L"(A;;GA;;;" + account + L")"));
    LocalFree(sddl);
    LocalFree(descriptor);
    CloseHandle(mutex);
  }
}

TEST_F(FaultTest, OwnedEditsLoseNoEntryWhicheverRegistryCallFails) {
  // A user's own entry, and an installer's that a second owner shares,
  // through two installs and their uninstalls. Each step is run with each
  // of its registry calls failing in turn, then retried, as an installer
  // would; then the rest follow.
  struct Step {
    const wchar_t *action, *item, *owner;
    const wchar_t* needed;  // must be in the list after the step, whatever
  };
  const Step steps[] = {
      {L"/append", L"c:\\tools", L"/owner:A", L"C:\\Tools"},
      {L"/append", L"C:\\New", L"/owner:A", L"C:\\Tools"},
      {L"/prepend", L"C:\\New", L"/owner:B", L"C:\\Tools"},
      {L"/remove", L"C:\\New", L"/owner:A", L"C:\\New"},
      {L"/remove", L"C:\\Tools", L"/owner:A", L"C:\\Tools"},
      {L"/remove", L"C:\\New", L"/owner:B", L"C:\\Tools"},
  };
  const std::wstring before = L"C:\\Tools;b";
  const auto step = [&](const Step& s) {
    const wchar_t* const argv[] = {L"semilist.exe", s.action, L"/user",
                                   name_.c_str(),   s.item,   s.owner};
    return RunSemilist(6, argv);
  };
  const auto holds = [&](const wchar_t* item) {
    const auto stored = Stored();
    return stored && ListHolds(std::wstring(reinterpret_cast<const wchar_t*>(
                                   stored->data.data())),
                               item);
  };
  for (std::size_t failing = 0; failing < std::size(steps); ++failing) {
    for (int call = 1;; ++call) {
      test::DeleteRaw(HKEY_CURRENT_USER, test::kUserOwners, name_);
      Store(before);
      for (std::size_t i = 0; i < failing; ++i)
        ASSERT_EQ(step(steps[i]), kDone);
      g_counts = Counts{};
      g_faults.failingCall = call;
      const int status = step(steps[failing]);
      g_faults = Faults{};
      const std::string what =
          "step " + std::to_string(failing) + ", call " + std::to_string(call);
      EXPECT_TRUE(holds(steps[failing].needed)) << what;
      if (g_counts.calls < call) {
        EXPECT_EQ(status, kDone) << what;
        break;
      }
      EXPECT_NE(status, kDone) << what;
      for (std::size_t i = failing; i < std::size(steps); ++i) {
        EXPECT_EQ(step(steps[i]), kDone) << what;
        EXPECT_TRUE(holds(steps[i].needed)) << what << ", then " << i;
      }
      EXPECT_EQ(Stored(), test::ExpandString(before)) << what;
      EXPECT_FALSE(test::ReadRaw(HKEY_CURRENT_USER, test::kUserOwners, name_))
          << what;
    }
  }
}

TEST_F(FaultTest, ExceptionUnwindsWithKeysClosedAndLockReleased) {
  Store(L"a;b");
  g_faults.query = [](int n) -> std::optional<LSTATUS> {
    if (n == 2) throw std::bad_alloc();
    return std::nullopt;
  };
  EXPECT_THROW(Run(L"/append", L"x"), std::bad_alloc);
  EXPECT_EQ(g_counts.opens, 1);
  EXPECT_EQ(g_counts.closes, 1);
  EXPECT_EQ(g_counts.broadcasts, 0);
  // In-process, the host goes on, told what the program would end with.
  const std::wstring text = L"/append /user " + name_ + L" x";
  g_counts = Counts{};
  EXPECT_EQ(static_cast<DWORD>(SemilistRunW(text.c_str())), STATUS_NO_MEMORY);
  EXPECT_EQ(g_counts.opens, g_counts.closes);
  EXPECT_EQ(g_counts.broadcasts, 0);
  EXPECT_EQ(Stored(), test::ExpandString(L"a;b"));

  // The lock was released: a second run does not wait for it.
  g_faults = Faults{};
  g_faults.wait = std::nullopt;
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(Run(L"/append", L"x"), kDone);
  EXPECT_LT(GetTickCount64() - start, 5000u);
  EXPECT_EQ(Stored(), test::ExpandString(L"a;b;x"));
}

}  // namespace
}  // namespace semilist
