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

// wtsapi32 is not a known DLL, so an import of it would first be looked
// for beside the program, often in a download folder. Loaded here from the
// system directory, it also costs a run outside session 0 nothing.
struct SessionApi {
  OwnedLibrary library{
      LoadLibraryExW(L"wtsapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32),
      FreeLibrary};
  decltype(&WTSEnumerateSessionsW) enumerate = nullptr;
  decltype(&WTSFreeMemory) release = nullptr;
  decltype(&WTSQueryUserToken) queryUserToken = nullptr;

  SessionApi() {
    if (!library) return;
    FindLibraryFunction(library.get(), "WTSEnumerateSessionsW", enumerate);
    FindLibraryFunction(library.get(), "WTSFreeMemory", release);
    FindLibraryFunction(library.get(), "WTSQueryUserToken", queryUserToken);
  }
};

// The sessions where someone is signed in: active ones, and disconnected
// ones, whose Explorer still runs and is stale when the user comes back.
// Listeners and connected sessions at the logon screen have no one to tell.
std::vector<DWORD> UserSessions(const SessionApi& api) {
  if (api.enumerate == nullptr || api.release == nullptr) return {};
  WTS_SESSION_INFOW* listed = nullptr;
  DWORD count = 0;
  if (!api.enumerate(WTS_CURRENT_SERVER_HANDLE, 0, 1, &listed, &count)) {
    return {};
  }
  const std::unique_ptr<WTS_SESSION_INFOW, decltype(api.release)> owned(
      listed, api.release);
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

// Starts `child` with `token`, on the session's interactive desktop.
HANDLE StartChild(HANDLE token, const RelayChild& child,
                  const std::wstring& directory) {
  std::wstring commandLine = child.commandLine;
  wchar_t desktop[] = L"winsta0\\default";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop;
  PROCESS_INFORMATION process{};
  const auto start = [&](DWORD flags) {
    return CreateProcessAsUserW(
        token, child.program.c_str(), commandLine.data(), nullptr, nullptr,
        FALSE, flags, nullptr, directory.c_str(), &startup, &process);
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

// Whether the session's user can open `file` to run it, as rundll32 must to
// load the DLL: asked as that user, on this thread, which then goes back to
// its `privileged` token. CreateProcessAsUserW opens the program itself as
// its caller, so this also holds for semilist-user.exe only by caution.
bool UserCanRun(HANDLE user, const std::wstring& file, HANDLE privileged) {
  HANDLE impersonation = nullptr;
  if (!DuplicateTokenEx(user, TOKEN_IMPERSONATE | TOKEN_QUERY, nullptr,
                        SecurityImpersonation, TokenImpersonation,
                        &impersonation)) {
    return false;
  }
  const OwnedHandle owned(impersonation, CloseHandle);
  if (!SetThreadToken(nullptr, impersonation)) return false;
  // Shared for reading, as the relay holds it.
  const HANDLE opened =
      CreateFileW(file.c_str(), GENERIC_READ | GENERIC_EXECUTE, FILE_SHARE_READ,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (opened != INVALID_HANDLE_VALUE) CloseHandle(opened);
  // Back as the process first, as the relay began: whether a thread may
  // take a token is not asked of the user's.
  return RevertToSelf() && SetThreadToken(nullptr, privileged) &&
         opened != INVALID_HANDLE_VALUE;
}

// A duplicate of this process's token, moved to `session`, with every
// privilege that it holds deleted: a child of it can enable none. Deleted,
// not disabled, so that AdjustTokenPrivileges cannot bring them back.
HANDLE RestrictedInSession(HANDLE own, DWORD session) {
  HANDLE duplicate = nullptr;
  if (!DuplicateTokenEx(own, kChildTokenAccess, nullptr, SecurityImpersonation,
                        TokenPrimary, &duplicate)) {
    return nullptr;
  }
  const OwnedHandle ownedDuplicate(duplicate, CloseHandle);
  DWORD size = 0;
  GetTokenInformation(duplicate, TokenPrivileges, nullptr, 0, &size);
  // A token without privileges needs only the count.
  std::vector<unsigned char> buffer(
      std::max<std::size_t>(size, sizeof(TOKEN_PRIVILEGES)));
  if (!GetTokenInformation(duplicate, TokenPrivileges, buffer.data(), size,
                           &size)) {
    return nullptr;
  }
  auto* const privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer.data());
  HANDLE restricted = nullptr;
  // The new handle has the duplicate's rights, which setting the session
  // and starting a process with it ask.
  if (!CreateRestrictedToken(duplicate, 0, 0, nullptr,
                             privileges->PrivilegeCount, privileges->Privileges,
                             0, nullptr, &restricted)) {
    return nullptr;
  }
  OwnedHandle ownedRestricted(restricted, CloseHandle);
  if (!SetTokenInformation(restricted, TokenSessionId, &session,
                           sizeof session)) {
    return nullptr;
  }
  return ownedRestricted.release();
}

// Starts the image's broadcast in `session`: as its signed-in user, whose
// token WTSQueryUserToken gives LocalSystem, and whose broadcast reaches
// Explorer, which runs at Medium; else, where the image allows, as this
// process's account with no privileges and no window; else not at all.
HANDLE StartInSession(const SessionApi& api, HANDLE own, HANDLE privileged,
                      DWORD session, const RelayImage& image) {
  const RelayChild& asUser = image.AsUser();
  HANDLE user = nullptr;
  if (!asUser.program.empty() && api.queryUserToken != nullptr &&
      api.queryUserToken(session, &user)) {
    const OwnedHandle ownedUser(user, CloseHandle);
    if (UserCanRun(user, asUser.file, privileged)) {
      if (HANDLE child = StartChild(user, asUser, image.Directory())) {
        return child;
      }
    }
  }
  if (image.Restricted().program.empty()) return nullptr;
  const OwnedHandle restricted(RestrictedInSession(own, session), CloseHandle);
  if (!restricted) return nullptr;
  return StartChild(restricted.get(), image.Restricted(), image.Directory());
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
  const SessionApi api;
  const std::vector<DWORD> sessions = UserSessions(api);
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
  // it impersonates: WTSQueryUserToken's and SetTokenInformation's
  // SeTcbPrivilege here, and the kernel's checks behind
  // CreateProcessAsUserW, whose page speaks of "the process that calls" it.
  if (!SetThreadToken(nullptr, duplicate)) return;
  // Every child starts before any is waited for: a terminal server can
  // have hundreds of sessions, and each child can take seconds.
  for (DWORD session : sessions) {
    if (HANDLE child =
            StartInSession(api, own, duplicate, session, *relay.image)) {
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
  directory_ = SystemDirectory();
  if (directory_.empty()) return;
  // Windows never holds a quote in a path, so quoting cannot go wrong.
  const auto quoted = [](const std::wstring& text) {
    return L"\"" + text + L"\"";
  };
  if (module == nullptr) {
    const std::wstring user =
        path.substr(0, path.find_last_of(L'\\') + 1) + L"semilist-user.exe";
    asUser_ = {user, quoted(user) + L" /broadcast", user};
    restricted_ = {path, quoted(path) + L" /broadcast", path};
  } else {
    // rundll32 looks for SemilistBroadcastW, the wide form, first.
    const std::wstring rundll = directory_ + L"\\rundll32.exe";
    asUser_ = {rundll,
               quoted(rundll) + L" " + quoted(path) + L",SemilistBroadcast",
               path};
  }
  Hold(asUser_, held_[0]);
  Hold(restricted_, held_[1]);
}

void RelayImage::Hold(RelayChild& child, HANDLE& held) {
  if (child.program.empty()) return;
  // No FILE_SHARE_WRITE or FILE_SHARE_DELETE: while this handle is open, no
  // one can write the file or rename it away; and where someone already
  // holds it so, the open fails and that child is not started.
  held = CreateFileW(child.file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) child = {};
}

RelayImage::~RelayImage() {
  for (HANDLE held : held_) {
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  }
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
