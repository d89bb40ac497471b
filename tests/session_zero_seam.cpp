// Linked into semilist-session0.exe, a test build of semilist from the
// product's sources, compiled without dllimport and linked with --wrap so
// that the session calls come here. It believes it runs in session 0 as
// LocalSystem, with sessions {0 disconnected, 1 active, 2 disconnected,
// 3 connected, 65536 listening}; token and process calls go on to Wine's
// real ones. As on Windows, a privilege counts only where it was enabled on
// the token that the asking thread runs with: its impersonation token, or
// else the process's. Setting a token's session takes SeTcbPrivilege, and a
// start takes SeIncreaseQuotaPrivilege and SeAssignPrimaryTokenPrivilege
// where they are held. WTSQueryUserToken, which takes SeTcbPrivilege too,
// gives a session's user token as a primary token of this account's, which
// is marked as that user's.
//   SEMILIST_SEAM_FAULT  "privilege": SeTcbPrivilege is not held;
//                        "unreadable": a session's user cannot open the
//                        relay's files;
//                        "quota": only SeTcbPrivilege is held;
//                        "start-1": the start in session 1 fails;
//                        "start-all": every start fails;
//                        "no-breakaway": the job forbids breaking away;
//                        "arm64": an x64 process on an ARM64 system
//   SEMILIST_SEAM_LOG    file that gets "started N as the user", "... with
//                        no privileges" or "... with privileges" for each
//                        child started, by the token it started with, and
//                        " breakaway" where it broke away from the job;
//                        "broadcast" for session 0's own broadcast, and
//                        "adjusted the process token" should that happen
#include <windows.h>
// After windows.h, which it needs.
#include <wtsapi32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <set>
#include <string>

namespace {

// Set in a relayed child's environment: the session its token was given,
// which Wine ignores. The child then believes it runs there, as on Windows.
const wchar_t kSession[] = L"SEMILIST_SEAM_SESSION";

// From the process's environment block as it is now: the CRT's copy,
// taken at start, misses what a test sets for a DLL in its own process.
std::wstring Environment(const wchar_t* name) {
  wchar_t value[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
  return length > 0 && length < MAX_PATH ? value : L"";
}

bool Faulted(const wchar_t* fault) {
  return Environment(L"SEMILIST_SEAM_FAULT") == fault;
}

void Log(const char* line) {
  const std::wstring path = Environment(L"SEMILIST_SEAM_LOG");
  if (FILE* file = !path.empty() ? _wfopen(path.c_str(), L"ab") : nullptr) {
    std::fprintf(file, "%s\n", line);
    std::fclose(file);
  }
}

// By token, its session, whether it is a session's user's, and the
// privileges enabled on it, for the host's threads that relay at once.
std::map<ULONGLONG, DWORD> g_tokenSessions;
std::set<ULONGLONG> g_userTokens;
std::map<ULONGLONG, std::set<DWORD>> g_enabled;
SRWLOCK g_lock = SRWLOCK_INIT;

ULONGLONG TokenId(HANDLE token) {
  TOKEN_STATISTICS statistics{};
  DWORD size = 0;
  GetTokenInformation(token, TokenStatistics, &statistics, sizeof statistics,
                      &size);
  return (static_cast<ULONGLONG>(statistics.TokenId.HighPart) << 32) |
         statistics.TokenId.LowPart;
}

DWORD PrivilegeId(const wchar_t* name) {
  LUID luid{};
  LookupPrivilegeValueW(nullptr, name, &luid);
  return luid.LowPart;
}

// The token that the calling thread runs with.
ULONGLONG ThreadTokenId() {
  HANDLE token = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  }
  const ULONGLONG id = TokenId(token);
  CloseHandle(token);
  return id;
}

bool IsUserToken(ULONGLONG id) {
  AcquireSRWLockExclusive(&g_lock);
  const bool user = g_userTokens.count(id) != 0;
  ReleaseSRWLockExclusive(&g_lock);
  return user;
}

// Whether the calling thread runs with `name` enabled.
bool Holds(const wchar_t* name) {
  const ULONGLONG id = ThreadTokenId();
  AcquireSRWLockExclusive(&g_lock);
  const bool held = g_enabled[id].count(PrivilegeId(name)) != 0;
  ReleaseSRWLockExclusive(&g_lock);
  return held;
}

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

BOOL WINAPI FakeQueryUserToken(ULONG session, HANDLE* token) {
  if (!Holds(SE_TCB_NAME)) {
    SetLastError(ERROR_PRIVILEGE_NOT_HELD);
    return FALSE;
  }
  HANDLE own = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE, &own);
  const BOOL duplicated =
      DuplicateTokenEx(own, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation,
                       TokenPrimary, token);
  CloseHandle(own);
  if (!duplicated) return FALSE;
  const ULONGLONG id = TokenId(*token);
  AcquireSRWLockExclusive(&g_lock);
  g_userTokens.insert(id);
  g_tokenSessions[id] = session;
  ReleaseSRWLockExclusive(&g_lock);
  return TRUE;
}

BOOL WINAPI FakeIsWow64Process2(HANDLE, USHORT* process, USHORT* native) {
  *process = IMAGE_FILE_MACHINE_UNKNOWN;
  *native = IMAGE_FILE_MACHINE_ARM64;
  return TRUE;
}

// Whose token a child starts with: a session's user's, or this account's,
// with or without privileges.
std::string Kind(HANDLE token) {
  if (IsUserToken(TokenId(token))) return " as the user";
  DWORD size = 0;
  GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
  std::string buffer(std::max<std::size_t>(size, sizeof(TOKEN_PRIVILEGES)),
                     '\0');
  if (GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size) &&
      reinterpret_cast<TOKEN_PRIVILEGES*>(buffer.data())->PrivilegeCount == 0) {
    return " with no privileges";
  }
  return " with privileges";
}

}  // namespace

extern "C" {
BOOL WINAPI __real_DuplicateTokenEx(HANDLE, DWORD, LPSECURITY_ATTRIBUTES,
                                    SECURITY_IMPERSONATION_LEVEL, TOKEN_TYPE,
                                    PHANDLE);
HANDLE WINAPI __real_CreateFileW(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES,
                                 DWORD, DWORD, HANDLE);
FARPROC WINAPI __real_GetProcAddress(HMODULE, LPCSTR);
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
  *session = std::wcstoul(Environment(kSession).c_str(), nullptr, 10);
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
    if (std::strcmp(name, "WTSQueryUserToken") == 0) {
      return reinterpret_cast<FARPROC>(
          reinterpret_cast<Any>(FakeQueryUserToken));
    }
    if (std::strcmp(name, "WTSFreeMemory") == 0) {
      return reinterpret_cast<FARPROC>(reinterpret_cast<Any>(FakeFreeMemory));
    }
    if (std::strcmp(name, "IsWow64Process2") == 0 && Faulted(L"arm64")) {
      return reinterpret_cast<FARPROC>(
          reinterpret_cast<Any>(FakeIsWow64Process2));
    }
  }
  return __real_GetProcAddress(module, name);
}

BOOL WINAPI __wrap_AdjustTokenPrivileges(HANDLE token, BOOL,
                                         PTOKEN_PRIVILEGES state, DWORD,
                                         PTOKEN_PRIVILEGES, PDWORD) {
  TOKEN_TYPE type = TokenImpersonation;
  DWORD size = 0;
  GetTokenInformation(token, TokenType, &type, sizeof type, &size);
  if (type == TokenPrimary) Log("adjusted the process token");
  const DWORD privilege = state->Privileges[0].Luid.LowPart;
  const bool isTcb = privilege == PrivilegeId(SE_TCB_NAME);
  if (Faulted(L"privilege") || (!isTcb && Faulted(L"quota"))) {
    // As for an account that lacks the privilege: success, and a warning.
    SetLastError(ERROR_NOT_ALL_ASSIGNED);
    return TRUE;
  }
  const ULONGLONG id = TokenId(token);
  AcquireSRWLockExclusive(&g_lock);
  g_enabled[id].insert(privilege);
  ReleaseSRWLockExclusive(&g_lock);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL WINAPI __wrap_SetTokenInformation(HANDLE token,
                                       TOKEN_INFORMATION_CLASS kind,
                                       LPVOID data, DWORD size) {
  if (kind == TokenSessionId) {
    if (!Holds(SE_TCB_NAME)) {
      SetLastError(ERROR_PRIVILEGE_NOT_HELD);
      return FALSE;
    }
    const ULONGLONG id = TokenId(token);
    AcquireSRWLockExclusive(&g_lock);
    g_tokenSessions[id] = *static_cast<DWORD*>(data);
    ReleaseSRWLockExclusive(&g_lock);
  }
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
  const ULONGLONG id = TokenId(token);
  AcquireSRWLockExclusive(&g_lock);
  const DWORD session = g_tokenSessions[id];
  ReleaseSRWLockExclusive(&g_lock);
  // However the relay goes wrong, a child starts no children of its own.
  const bool relayedAgain = !Environment(kSession).empty();
  if (relayedAgain) Log("relayed again");
  const bool breakaway = (flags & CREATE_BREAKAWAY_FROM_JOB) != 0;
  if (relayedAgain || (session == 1 && Faulted(L"start-1")) ||
      Faulted(L"start-all") || (breakaway && Faulted(L"no-breakaway"))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (!Faulted(L"quota") &&
      !(Holds(SE_INCREASE_QUOTA_NAME) && Holds(SE_ASSIGNPRIMARYTOKEN_NAME))) {
    SetLastError(ERROR_PRIVILEGE_NOT_HELD);
    return FALSE;
  }
  // The child's own environment, not this process's, which the host's
  // other threads read, tells it its session.
  std::wstring block;
  if (wchar_t* inherited = GetEnvironmentStringsW()) {
    for (const wchar_t* entry = inherited; *entry != L'\0';
         entry += std::wcslen(entry) + 1) {
      block.append(entry, std::wcslen(entry) + 1);
    }
    FreeEnvironmentStringsW(inherited);
  }
  block += std::wstring(kSession) + L"=" + std::to_wstring(session);
  block.push_back(L'\0');
  block.push_back(L'\0');
  // Rarely, Wine's own start-up of a new process fails with
  // ERROR_INTERNAL_ERROR, which Windows does not do; only then is it tried
  // again, as the tests' own starts are.
  BOOL started = FALSE;
  for (int attempt = 0; attempt < 3 && !started; ++attempt) {
    started = __real_CreateProcessAsUserW(
        token, application, commandLine, processAttributes, threadAttributes,
        inherit, flags | CREATE_UNICODE_ENVIRONMENT,
        environment != nullptr ? environment : block.data(), directory, startup,
        process);
    if (!started && GetLastError() != ERROR_INTERNAL_ERROR) break;
  }
  if (started) {
    Log(("started " + std::to_string(session) + Kind(token) +
         (breakaway ? " breakaway" : ""))
            .c_str());
  }
  return started;
}

// A duplicate of a session's user's token is that user's too.
BOOL WINAPI __wrap_DuplicateTokenEx(HANDLE token, DWORD access,
                                    LPSECURITY_ATTRIBUTES attributes,
                                    SECURITY_IMPERSONATION_LEVEL level,
                                    TOKEN_TYPE type, PHANDLE duplicate) {
  if (!__real_DuplicateTokenEx(token, access, attributes, level, type,
                               duplicate)) {
    return FALSE;
  }
  if (IsUserToken(TokenId(token))) {
    AcquireSRWLockExclusive(&g_lock);
    g_userTokens.insert(TokenId(*duplicate));
    ReleaseSRWLockExclusive(&g_lock);
  }
  return TRUE;
}

// Where the relay checks what a session's user can open.
HANDLE WINAPI __wrap_CreateFileW(LPCWSTR name, DWORD access, DWORD share,
                                 LPSECURITY_ATTRIBUTES attributes,
                                 DWORD disposition, DWORD flags,
                                 HANDLE templateFile) {
  if (Faulted(L"unreadable") && IsUserToken(ThreadTokenId())) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return __real_CreateFileW(name, access, share, attributes, disposition, flags,
                            templateFile);
}

// It runs as LocalSystem: the account its token names is S-1-5-18.
BOOL WINAPI __wrap_ConvertSidToStringSidW(PSID, LPWSTR* text) {
  static const wchar_t kLocalSystem[] = L"S-1-5-18";
  *text = static_cast<LPWSTR>(LocalAlloc(LMEM_FIXED, sizeof kLocalSystem));
  if (*text == nullptr) return FALSE;
  std::memcpy(*text, kLocalSystem, sizeof kLocalSystem);
  return TRUE;
}

LRESULT WINAPI __wrap_SendMessageTimeoutW(HWND window, UINT message,
                                          WPARAM wParam, LPARAM lParam,
                                          UINT flags, UINT timeout,
                                          PDWORD_PTR result) {
  if (Environment(kSession).empty()) Log("broadcast");
  return __real_SendMessageTimeoutW(window, message, wParam, lParam, flags,
                                    timeout, result);
}
}

// What no entry of the product does, for the test of the terminate handler:
// an exception with nowhere to go.
extern "C" __declspec(dllexport) void SemilistSeamTerminate() {
  std::terminate();
}
