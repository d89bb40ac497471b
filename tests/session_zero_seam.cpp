// Linked into semilist-session0.exe, a test build of semilist from the
// product's sources, compiled without dllimport and linked with --wrap so
// that the session calls come here. It believes it runs in session 0, with
// sessions {0 disconnected, 1 active, 2 disconnected, 3 connected, 65536
// listening}; token and process calls go on to Wine's real ones. A start
// is refused unless SeIncreaseQuotaPrivilege and SeAssignPrimaryToken-
// Privilege were enabled, where they are held.
//   SEMILIST_SEAM_FAULT  "privilege": SeTcbPrivilege is not held;
//                        "quota": only SeTcbPrivilege is held;
//                        "start-1": the start in session 1 fails;
//                        "start-all": every start fails;
//                        "no-breakaway": the job forbids breaking away
//   SEMILIST_SEAM_LOG    file that gets "started N" for each child started,
//                        with " breakaway" where it broke away from the
//                        job, and "broadcast" for session 0's own broadcast
#include <windows.h>
// After windows.h, which it needs.
#include <wtsapi32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace {

// Set in a relayed child's environment: the session its token was given,
// which Wine ignores. The child then believes it runs there, as on Windows.
const wchar_t kSession[] = L"SEMILIST_SEAM_SESSION";

bool Faulted(const wchar_t* fault) {
  const wchar_t* value = _wgetenv(L"SEMILIST_SEAM_FAULT");
  return value != nullptr && std::wcscmp(value, fault) == 0;
}

void Log(const char* line) {
  const wchar_t* path = _wgetenv(L"SEMILIST_SEAM_LOG");
  if (FILE* file = path != nullptr ? _wfopen(path, L"ab") : nullptr) {
    std::fprintf(file, "%s\n", line);
    std::fclose(file);
  }
}

std::map<HANDLE, DWORD> g_tokenSessions;
int g_startPrivileges = 0;  // how many of the two were enabled

BOOL WINAPI FakeEnumerateSessions(HANDLE, DWORD, DWORD,
                                  WTS_SESSION_INFOW** sessions, DWORD* count) {
  static const WTS_SESSION_INFOW kSessions[] = {
      {0, nullptr, WTSDisconnected}, {1, nullptr, WTSActive},
      {2, nullptr, WTSDisconnected}, {3, nullptr, WTSConnected},
      {65536, nullptr, WTSListen},
  };
  *sessions = static_cast<WTS_SESSION_INFOW*>(std::malloc(sizeof kSessions));
  std::memcpy(*sessions, kSessions, sizeof kSessions);
  *count = sizeof kSessions / sizeof kSessions[0];
  return TRUE;
}

void WINAPI FakeFreeMemory(void* memory) { std::free(memory); }

}  // namespace

extern "C" {
FARPROC WINAPI __real_GetProcAddress(HMODULE, LPCSTR);
BOOL WINAPI __real_AdjustTokenPrivileges(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD,
                                         PTOKEN_PRIVILEGES, PDWORD);
BOOL WINAPI __real_SetTokenInformation(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID,
                                       DWORD);
LRESULT WINAPI __real_SendMessageTimeoutW(HWND, UINT, WPARAM, LPARAM, UINT,
                                          UINT, PDWORD_PTR);
BOOL WINAPI __real_CreateProcessAsUserW(HANDLE, LPCWSTR, LPWSTR,
                                        LPSECURITY_ATTRIBUTES,
                                        LPSECURITY_ATTRIBUTES, BOOL, DWORD,
                                        LPVOID, LPCWSTR, LPSTARTUPINFOW,
                                        LPPROCESS_INFORMATION);

BOOL WINAPI __wrap_ProcessIdToSessionId(DWORD, DWORD* session) {
  const wchar_t* relayedTo = _wgetenv(kSession);
  *session = relayedTo != nullptr ? std::wcstoul(relayedTo, nullptr, 10) : 0;
  return TRUE;
}

FARPROC WINAPI __wrap_GetProcAddress(HMODULE module, LPCSTR name) {
  using Any = void (*)();
  // Names only: an ordinal is a number below 0x10000.
  if (reinterpret_cast<ULONG_PTR>(name) > 0xFFFF) {
    if (std::strcmp(name, "WTSEnumerateSessionsW") == 0) {
      return reinterpret_cast<FARPROC>(
          reinterpret_cast<Any>(FakeEnumerateSessions));
    }
    if (std::strcmp(name, "WTSFreeMemory") == 0) {
      return reinterpret_cast<FARPROC>(reinterpret_cast<Any>(FakeFreeMemory));
    }
  }
  return __real_GetProcAddress(module, name);
}

BOOL WINAPI __wrap_AdjustTokenPrivileges(HANDLE token, BOOL disableAll,
                                         PTOKEN_PRIVILEGES state, DWORD size,
                                         PTOKEN_PRIVILEGES previous,
                                         PDWORD returned) {
  LUID tcb{};
  LookupPrivilegeValueW(nullptr, SE_TCB_NAME, &tcb);
  const LUID& luid = state->Privileges[0].Luid;
  const bool isTcb =
      luid.LowPart == tcb.LowPart && luid.HighPart == tcb.HighPart;
  if (Faulted(L"privilege") || (!isTcb && Faulted(L"quota"))) {
    // As for an account that lacks the privilege: success, and a warning.
    SetLastError(ERROR_NOT_ALL_ASSIGNED);
    return TRUE;
  }
  if (!isTcb) ++g_startPrivileges;
  return __real_AdjustTokenPrivileges(token, disableAll, state, size, previous,
                                      returned);
}

BOOL WINAPI __wrap_SetTokenInformation(HANDLE token,
                                       TOKEN_INFORMATION_CLASS kind,
                                       LPVOID data, DWORD size) {
  if (kind == TokenSessionId)
    g_tokenSessions[token] = *static_cast<DWORD*>(data);
  return __real_SetTokenInformation(token, kind, data, size);
}

BOOL WINAPI __wrap_CreateProcessAsUserW(HANDLE token, LPCWSTR application,
                                        LPWSTR commandLine,
                                        LPSECURITY_ATTRIBUTES processAttributes,
                                        LPSECURITY_ATTRIBUTES threadAttributes,
                                        BOOL inherit, DWORD flags,
                                        LPVOID environment, LPCWSTR directory,
                                        LPSTARTUPINFOW startup,
                                        LPPROCESS_INFORMATION process) {
  const DWORD session = g_tokenSessions[token];
  // However the relay goes wrong, a child starts no children of its own.
  const bool relayedAgain = _wgetenv(kSession) != nullptr;
  if (relayedAgain) Log("relayed again");
  const bool breakaway = (flags & CREATE_BREAKAWAY_FROM_JOB) != 0;
  if (relayedAgain || (session == 1 && Faulted(L"start-1")) ||
      Faulted(L"start-all") || (breakaway && Faulted(L"no-breakaway"))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (g_startPrivileges < 2 && !Faulted(L"quota")) {
    SetLastError(ERROR_PRIVILEGE_NOT_HELD);
    return FALSE;
  }
  SetEnvironmentVariableW(kSession, std::to_wstring(session).c_str());
  const BOOL started = __real_CreateProcessAsUserW(
      token, application, commandLine, processAttributes, threadAttributes,
      inherit, flags, environment, directory, startup, process);
  SetEnvironmentVariableW(kSession, nullptr);
  if (started) {
    Log(("started " + std::to_string(session) + (breakaway ? " breakaway" : ""))
            .c_str());
  }
  return started;
}

LRESULT WINAPI __wrap_SendMessageTimeoutW(HWND window, UINT message,
                                          WPARAM wParam, LPARAM lParam,
                                          UINT flags, UINT timeout,
                                          PDWORD_PTR result) {
  if (_wgetenv(kSession) == nullptr) Log("broadcast");
  return __real_SendMessageTimeoutW(window, message, wParam, lParam, flags,
                                    timeout, result);
}
}
