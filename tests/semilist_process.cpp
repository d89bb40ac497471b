#include "semilist_process.h"

#include <gtest/gtest.h>
#include <winternl.h>

#include "front_end/edit_lock.h"
#include "windows_test_support.h"

namespace semilist::test {
namespace {

int g_environmentBroadcasts = 0;
std::function<void()> g_onBroadcast;

LRESULT CALLBACK CountingWindowProc(HWND window, UINT message, WPARAM wParam,
                                    LPARAM lParam) {
  if (message == WM_SETTINGCHANGE && lParam != 0 &&
      std::wstring(reinterpret_cast<const wchar_t*>(lParam)) ==
          L"Environment") {
    ++g_environmentBroadcasts;
    if (g_onBroadcast) g_onBroadcast();
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void DispatchPending() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    DispatchMessageW(&message);
  }
}

}  // namespace

HANDLE StartSemilist(const std::vector<std::wstring>& arguments,
                     HANDLE* suspendedThread, const wchar_t* program,
                     DWORD flags) {
  std::wstring commandLine = QuoteArgument(SiblingPath(program));
  for (const std::wstring& argument : arguments) {
    commandLine += L" " + QuoteArgument(argument);
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (suspendedThread != nullptr) flags |= CREATE_SUSPENDED;
  // Rarely, under Wine, a new process dies in Wine's own start-up, before any
  // code of the program runs, and CreateProcessW fails with
  // ERROR_INTERNAL_ERROR; only then is it started again.
  bool started = false;
  for (int attempt = 0; attempt < 3; ++attempt) {
    started =
        CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                       flags, nullptr, nullptr, &startup, &process) != FALSE;
    if (started || GetLastError() != ERROR_INTERNAL_ERROR) break;
  }
  if (!started) {
    ADD_FAILURE() << "CreateProcessW failed: " << GetLastError()
                  << ", command line of " << commandLine.size() << " units";
    return nullptr;
  }
  if (suspendedThread != nullptr) {
    *suspendedThread = process.hThread;
  } else {
    CloseHandle(process.hThread);
  }
  return process.hProcess;
}

DWORD WaitForSemilist(HANDLE process) {
  if (process == nullptr) return 0xDEAD;
  // SMTO_ABORTIFHUNG skips a thread that has not asked for messages for 5 s,
  // so this one asks every 100 ms, however slow the run or the machine.
  const ULONGLONG deadline = GetTickCount64() + 120000;
  do {
    DispatchPending();
  } while (MsgWaitForMultipleObjects(1, &process, FALSE, 100, QS_ALLINPUT) !=
               WAIT_OBJECT_0 &&
           GetTickCount64() < deadline);
  DWORD status = 0xDEAD;
  GetExitCodeProcess(process, &status);
  CloseHandle(process);
  return status;
}

namespace {
// semilist-namespace.exe, whose stand-in for private namespaces keeps each
// lock under a public name of its own.
bool IsNamespaceStandIn(const wchar_t* program) {
  return std::wstring(program) == L"semilist-namespace.exe";
}

// The public name with `suffix`, or, for the stand-in build, where it puts
// the mutex of a `boundary` of SIDs.
std::wstring LockName(const wchar_t* program, const std::wstring& suffix,
                      const std::wstring& boundary) {
  return IsNamespaceStandIn(program)
             ? L"Global\\semilist-seam-semilist-environment-edit_" + boundary +
                   L"_edit"
             : L"Global\\semilist-environment-edit" + suffix;
}
}  // namespace

std::wstring MachineLockName(const wchar_t* program) {
  return LockName(program, L"", L"S-1-5-32-544_S-1-16-12288");
}

std::wstring AccountLockName(const wchar_t* program) {
  const std::wstring sid = CurrentAccountSid();
  EXPECT_FALSE(sid.empty()) << "the process token names no account";
  return LockName(program, L"-" + sid, sid + L"_S-1-16-8192");
}

bool UsesPrivateNamespaces(const wchar_t* program) {
  if (IsNamespaceStandIn(program)) return true;
  // Wine exports a stub of the first and none of the others.
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  return GetProcAddress(kernel, "CreatePrivateNamespaceW") != nullptr &&
         GetProcAddress(kernel, "OpenPrivateNamespaceW") != nullptr;
}

bool WaitForHandles(HANDLE object, unsigned long handles, HANDLE process) {
  using QueryObject =
      NTSTATUS(NTAPI*)(HANDLE, OBJECT_INFORMATION_CLASS, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<QueryObject>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
  const ULONGLONG deadline = GetTickCount64() + 60000;
  for (;;) {
    PUBLIC_OBJECT_BASIC_INFORMATION information{};
    if (query == nullptr || query(object, ObjectBasicInformation, &information,
                                  sizeof information, nullptr) < 0) {
      ADD_FAILURE() << "NtQueryObject cannot count the handles";
      return false;
    }
    if (information.HandleCount >= handles) return true;
    if (GetTickCount64() > deadline) return false;
    // Also dispatches this thread's messages, for any broadcast meanwhile.
    if (MsgWaitForMultipleObjects(1, &process, FALSE, 10, QS_ALLINPUT) ==
        WAIT_OBJECT_0) {
      return false;
    }
    DispatchPending();
  }
}

HeldEditLock::HeldEditLock(bool machine, const wchar_t* program) {
  if (IsNamespaceStandIn(program)) {
    const std::wstring name =
        machine ? MachineLockName(program) : AccountLockName(program);
    standIn_ = CreateMutexW(nullptr, TRUE, name.c_str());
    held_ = standIn_ != nullptr && GetLastError() != ERROR_ALREADY_EXISTS;
  } else {
    held_ = lock_.Acquire(machine ? std::wstring() : CurrentAccountSid(), 0) &&
            lock_.Mutex() != nullptr;
  }
  EXPECT_TRUE(IsHeld()) << "no run may hold the lock now: " << GetLastError();
}

HeldEditLock::~HeldEditLock() {
  if (standIn_ != nullptr) {
    ReleaseMutex(standIn_);
    CloseHandle(standIn_);
  }
}

bool HeldEditLock::WaitUntilOpenedBy(HANDLE process,
                                     unsigned long others) const {
  return IsHeld() && WaitForHandles(Mutex(), 2 + others, process);
}

void PumpMessagesFor(DWORD milliseconds) {
  const ULONGLONG end = GetTickCount64() + milliseconds;
  for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now),
                              QS_ALLINPUT);
    DispatchPending();
  }
}

BroadcastCounter::BroadcastCounter() {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = CountingWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"SemilistBroadcastCounter";
  RegisterClassW(&windowClass);
  // A top-level window, not a message-only one: only those get broadcasts.
  window_ = CreateWindowExW(0, windowClass.lpszClassName, L"counter",
                            WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr,
                            windowClass.hInstance, nullptr);
  EXPECT_NE(window_, nullptr);
  Reset();
}

BroadcastCounter::~BroadcastCounter() {
  if (window_ != nullptr) DestroyWindow(window_);
}

int BroadcastCounter::Count() const { return g_environmentBroadcasts; }

void BroadcastCounter::Reset() {
  g_environmentBroadcasts = 0;
  g_onBroadcast = nullptr;
}

void BroadcastCounter::OnBroadcast(std::function<void()> callback) {
  g_onBroadcast = std::move(callback);
}

}  // namespace semilist::test
