#include "broadcast.h"

#include <windows.h>
// After windows.h, which it needs.
#include <wtsapi32.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "front_end/library_function.h"

namespace semilist {
namespace {

using OwnedHandle = std::unique_ptr<void, BOOL(WINAPI*)(HANDLE)>;
using OwnedLibrary = std::unique_ptr<HINSTANCE__, BOOL(WINAPI*)(HMODULE)>;

// What setting the duplicate's session, and starting a process with it, ask.
constexpr DWORD kChildTokenAccess = TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE |
                                    TOKEN_QUERY | TOKEN_ADJUST_DEFAULT |
                                    TOKEN_ADJUST_SESSIONID;

// A child normally ends within a second; one held up by slow listeners is
// left to finish on its own.
constexpr DWORD kRelayWaitMs = 10000;

void SendToThisSession() {
  // Listeners reload their environment; a hung or slow one is skipped after
  // the time-out, and the outcome changes nothing about the run.
  DWORD_PTR result = 0;
  SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                      reinterpret_cast<LPARAM>(L"Environment"),
                      SMTO_ABORTIFHUNG, 5000, &result);
}

// Services, deployment agents and their installs run in session 0, which no
// user signs in to since Vista, so a broadcast from there reaches no one.
bool RunsInSessionZero() {
  DWORD session = 1;
  return ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0;
}

// Putting a token into another session needs SeTcbPrivilege, which
// LocalSystem holds but has to enable. CreateProcessAsUserW is documented
// to need SeIncreaseQuotaPrivilege as well, and SeAssignPrimaryTokenPrivilege
// where the token is not assignable; they are enabled where held, and
// missing them is left for the start to report.
const wchar_t* const kRelayPrivileges[] = {SE_TCB_NAME, SE_INCREASE_QUOTA_NAME,
                                           SE_ASSIGNPRIMARYTOKEN_NAME};

// AdjustTokenPrivileges succeeds also when the token lacks the privilege,
// and tells so only through the last error.
bool EnablePrivilege(HANDLE token, const wchar_t* name) {
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  return LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid) &&
         AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr,
                               nullptr) &&
         GetLastError() == ERROR_SUCCESS;
}

// The sessions where someone is signed in: active ones, and disconnected
// ones, whose Explorer still runs and is stale when the user comes back.
// Listeners and connected sessions at the logon screen have no one to tell.
std::vector<DWORD> UserSessions() {
  // wtsapi32 is not a known DLL, so an import of it would first be looked
  // for beside the program, often in a download folder. Loaded here from
  // the system directory, it also costs a run outside session 0 nothing.
  const OwnedLibrary wtsapi(
      LoadLibraryExW(L"wtsapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32),
      FreeLibrary);
  if (!wtsapi) return {};
  const auto enumerate = LibraryFunction<decltype(WTSEnumerateSessionsW)>(
      wtsapi.get(), "WTSEnumerateSessionsW");
  const auto release =
      LibraryFunction<decltype(WTSFreeMemory)>(wtsapi.get(), "WTSFreeMemory");
  if (enumerate == nullptr || release == nullptr) return {};

  WTS_SESSION_INFOW* listed = nullptr;
  DWORD count = 0;
  if (!enumerate(WTS_CURRENT_SERVER_HANDLE, 0, 1, &listed, &count)) return {};
  const std::unique_ptr<WTS_SESSION_INFOW, decltype(release)> owned(listed,
                                                                    release);
  std::vector<DWORD> sessions;
  for (DWORD i = 0; i < count; ++i) {
    const WTS_SESSION_INFOW& session = listed[i];
    if (session.SessionId != 0 &&
        (session.State == WTSActive || session.State == WTSDisconnected)) {
      sessions.push_back(session.SessionId);
    }
  }
  return sessions;
}

// The path of `module`'s file, however long; empty if it cannot be had.
std::wstring ModulePath(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(module, path.data(),
                                            static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    // Cut short. No path exceeds 32,767 units, so a buffer larger than that
    // that is still too small means something else is wrong.
    if (path.size() > 32767) return {};
    path.resize(2 * path.size());
  }
}

std::wstring SystemDirectory() {
  std::wstring directory(MAX_PATH, L'\0');
  const UINT length = GetSystemDirectoryW(directory.data(), MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  directory.resize(length);
  return directory;
}

// Starts the image's broadcast in `session` under a duplicate of this
// process's token, moved there. Not the signed-in user's token: that one
// could not start semilist.exe, whose manifest requires elevation. The
// child shows no window, reads nothing and ends after its broadcast.
HANDLE StartInSession(HANDLE ownToken, DWORD session, const RelayImage& image) {
  HANDLE duplicate = nullptr;
  if (!DuplicateTokenEx(ownToken, kChildTokenAccess, nullptr,
                        SecurityImpersonation, TokenPrimary, &duplicate)) {
    return nullptr;
  }
  const OwnedHandle token(duplicate, CloseHandle);
  if (!SetTokenInformation(duplicate, TokenSessionId, &session,
                           sizeof session)) {
    return nullptr;
  }
  std::wstring commandLine = image.CommandLine();
  wchar_t desktop[] = L"winsta0\\default";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop;
  PROCESS_INFORMATION process{};
  const auto start = [&](DWORD flags) {
    return CreateProcessAsUserW(duplicate, image.Program().c_str(),
                                commandLine.data(), nullptr, nullptr, FALSE,
                                flags, nullptr, image.Directory().c_str(),
                                &startup, &process);
  };
  // A job's processes all run in one session, and a child starts in its
  // parent's job, so from inside a job (Task Scheduler's, an agent's) the
  // start fails unless the child breaks away. A job may forbid that, and
  // then says ERROR_ACCESS_DENIED; without a job, the plain start works.
  if (!start(CREATE_NO_WINDOW | CREATE_BREAKAWAY_FROM_JOB) &&
      (GetLastError() != ERROR_ACCESS_DENIED || !start(CREATE_NO_WINDOW))) {
    return nullptr;
  }
  CloseHandle(process.hThread);
  return process.hProcess;
}

// The relay's children, started by its own thread.
struct Relay {
  const RelayImage* image;
  std::vector<OwnedHandle> children;
};

// Starts a child that broadcasts in every user session; a step that fails
// skips that session, or the relay, and is not reported: the edit is
// stored already.
void StartRelaysOnThisThread(Relay& relay) {
  const std::vector<DWORD> sessions = UserSessions();
  if (sessions.empty()) return;
  relay.children.reserve(sessions.size());
  HANDLE own = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY,
                        &own)) {
    return;
  }
  const OwnedHandle ownToken(own, CloseHandle);
  HANDLE duplicate = nullptr;
  if (!DuplicateTokenEx(
          own, TOKEN_ADJUST_PRIVILEGES | TOKEN_IMPERSONATE | TOKEN_QUERY,
          nullptr, SecurityImpersonation, TokenImpersonation, &duplicate)) {
    return;
  }
  const OwnedHandle privileged(duplicate, CloseHandle);
  // Without the session privilege there is no relay; the others are tried.
  if (!EnablePrivilege(duplicate, kRelayPrivileges[0])) return;
  for (std::size_t i = 1; i < std::size(kRelayPrivileges); ++i) {
    EnablePrivilege(duplicate, kRelayPrivileges[i]);
  }
  // A privilege is checked against the token of the thread that asks, while
  // it impersonates: SetTokenInformation's SeTcbPrivilege here, and the
  // kernel's checks behind CreateProcessAsUserW, whose page speaks of "the
  // process that calls" it.
  if (!SetThreadToken(nullptr, duplicate)) return;
  // Every child starts before any is waited for: a terminal server can
  // have hundreds of sessions, and each child can take seconds.
  for (DWORD session : sessions) {
    if (HANDLE child = StartInSession(own, session, *relay.image)) {
      relay.children.emplace_back(child, CloseHandle);
    }
  }
  // The impersonation ends with the thread.
}

DWORD WINAPI RelayThread(void* relay) {
  // Only running out of memory throws, and before any child starts.
  try {
    StartRelaysOnThisThread(*static_cast<Relay*>(relay));
  } catch (...) {
  }
  return 0;
}

// On a thread of the relay's own, which starts with WOW64 file redirection
// on, whatever the host's thread turned off, and with no impersonation of
// the caller's. Its privileges are enabled on a duplicate of the process
// token that only that thread impersonates: the process token, which every
// thread of a host shares, is never adjusted, so two relays at once cannot
// take each other's privileges away, and no other thread runs with them.
std::vector<OwnedHandle> StartRelays(const RelayImage& image) {
  Relay relay{&image, {}};
  const HANDLE thread =
      CreateThread(nullptr, 0, RelayThread, &relay, 0, nullptr);
  if (thread == nullptr) return {};
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  return std::move(relay.children);
}

void WaitForRelays(const std::vector<OwnedHandle>& owners) {
  std::vector<HANDLE> children;
  for (const OwnedHandle& child : owners) children.push_back(child.get());
  // One wait takes at most 64 handles, so they are waited for in groups,
  // against one deadline for all.
  const ULONGLONG deadline = GetTickCount64() + kRelayWaitMs;
  for (std::size_t first = 0; first < children.size();
       first += MAXIMUM_WAIT_OBJECTS) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) break;
    const std::size_t count =
        std::min<std::size_t>(MAXIMUM_WAIT_OBJECTS, children.size() - first);
    WaitForMultipleObjects(static_cast<DWORD>(count), &children[first], TRUE,
                           static_cast<DWORD>(deadline - now));
  }
}

// An x64 program runs emulated on an ARM64 Windows, but that system's
// rundll32 is an ARM64 program, which cannot load an x64 DLL. The x86 DLL's
// rundll32, in SysWOW64, is an x86 program. IsWow64Process2 is found at run
// time: Windows before 10 lacks it, and runs on no ARM64 machine.
bool RundllCannotLoadThisDll() {
#if defined(__x86_64__)
  const auto isWow64Process2 = LibraryFunction<decltype(IsWow64Process2)>(
      GetModuleHandleW(L"kernel32.dll"), "IsWow64Process2");
  USHORT process = 0;
  USHORT native = 0;
  return isWow64Process2 != nullptr &&
         isWow64Process2(GetCurrentProcess(), &process, &native) &&
         native == IMAGE_FILE_MACHINE_ARM64;
#else
  return false;
#endif
}

}  // namespace

RelayImage::RelayImage(HMODULE module) {
  if (!RunsInSessionZero()) return;
  if (module != nullptr && RundllCannotLoadThisDll()) return;
  const std::wstring path = ModulePath(module);
  if (path.empty()) return;
  // The children start there, out of any folder that a user could change.
  directory_ = SystemDirectory();
  if (directory_.empty()) return;
  // Windows never holds a quote in a path, so quoting cannot go wrong.
  if (module == nullptr) {
    program_ = path;
    commandLine_ = L"\"" + path + L"\" /broadcast";
  } else {
    // rundll32 looks for SemilistBroadcastW, the wide form, first.
    program_ = directory_ + L"\\rundll32.exe";
    commandLine_ = L"\"" + program_ + L"\" \"" + path + L"\",SemilistBroadcast";
  }
  // No FILE_SHARE_WRITE or FILE_SHARE_DELETE: while this handle is open, no
  // one can write the file or rename it away; and where someone already
  // holds it so, the open fails and there is no relay.
  file_ = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

RelayImage::~RelayImage() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

void BroadcastEnvironmentChange(const RelayImage& image) {
  // The users' sessions first: session 0's own windows can hold the local
  // broadcast up for seconds, and no user sees them. A relayed child runs in
  // a user session, so it never relays again.
  std::vector<OwnedHandle> children;
  if (image.IsHeld()) children = StartRelays(image);
  SendToThisSession();
  WaitForRelays(children);
}

}  // namespace semilist
