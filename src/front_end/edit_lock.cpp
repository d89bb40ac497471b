#include "edit_lock.h"

#include <sddl.h>

#include <memory>
#include <vector>

namespace semilist {
namespace {

// Global\ reaches every session, so an installer running as a service and
// one run from a desktop take turns too. Local\ still covers one session
// where the global namespace is not available.
const wchar_t* const kLockNames[] = {
    L"Global\\semilist-environment-edit",
    L"Local\\semilist-environment-edit",
};

// LocalSystem and the Administrators group, and no one else. Every run on
// the machine's environment is one of the two, so a service and an elevated
// administrator share the lock whichever of them created it; the protected
// DACL inherits nothing. An account's own lock also admits that account, so
// its unelevated runs share it with its elevated ones.
const wchar_t kLockSecurity[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";

// All a run does with the mutex is wait for it and release it.
constexpr DWORD kLockAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;

using LocalMemory = std::unique_ptr<void, HLOCAL(WINAPI*)(HLOCAL)>;
using OwnedHandle = std::unique_ptr<void, BOOL(WINAPI*)(HANDLE)>;

}  // namespace

EditLock::~EditLock() {
  Release();
  if (mutex_ != nullptr) CloseHandle(mutex_);
}

std::wstring CurrentAccountSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  const OwnedHandle ownedToken(token, CloseHandle);
  // The first call only asks for the size; TOKEN_USER and the SID it points
  // to come back in one block.
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  if (size < sizeof(TOKEN_USER)) return {};
  std::vector<unsigned char> user(size);
  wchar_t* text = nullptr;
  if (!GetTokenInformation(token, TokenUser, user.data(), size, &size) ||
      !ConvertSidToStringSidW(
          reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid, &text)) {
    return {};
  }
  const LocalMemory ownedText(text, LocalFree);
  return text;
}

bool EditLock::Acquire(const std::wstring& accountSid, DWORD timeoutMs,
                       bool readOnly) {
  std::wstring security = kLockSecurity;
  std::wstring suffix;
  if (!accountSid.empty()) {
    security += L"(A;;GA;;;" + accountSid + L")";
    suffix = L"-" + accountSid;
  }
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  // Only memory exhaustion makes this fail; the mutex then gets the
  // account's default DACL, which still serves runs of the same account.
  ConvertStringSecurityDescriptorToSecurityDescriptorW(
      security.c_str(), SDDL_REVISION_1, &descriptor, nullptr);
  const LocalMemory owned(descriptor, LocalFree);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};

  for (const wchar_t* base : kLockNames) {
    const std::wstring name = base + suffix;
    mutex_ = CreateMutexExW(&attributes, name.c_str(), 0, kLockAccess);
    if (mutex_ != nullptr) break;
    // The name is public. A mutex that refuses us, or another kind of object
    // under that name, means someone else holds it; going on, or moving to
    // a name that other sessions do not share, would let them switch the
    // lock off unseen.
    // A standard user cannot open the machine's lock while an elevated run
    // has it open; such a reader reads unlocked.
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED && readOnly) return true;
    if (error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_HANDLE) {
      return false;
    }
  }
  // Any other failure means the namespace, or the resources for a mutex, are
  // missing where this run is. An installer there must still be able to
  // edit, and a lock that cannot be created cannot be held by anyone else.
  if (mutex_ == nullptr) return true;

  switch (WaitForSingleObject(mutex_, timeoutMs)) {
    case WAIT_OBJECT_0:
    // A run that died while holding the lock leaves no half edit behind,
    // because each registry write is atomic; the lock is ours now.
    case WAIT_ABANDONED:
      held_ = true;
      return true;
    default:
      return false;
  }
}

void EditLock::Release() {
  if (held_) {
    ReleaseMutex(mutex_);
    held_ = false;
  }
}

}  // namespace semilist
