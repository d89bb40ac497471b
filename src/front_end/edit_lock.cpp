#include "edit_lock.h"

namespace semilist {
namespace {

// Global\ reaches every session, so an installer running as a service and
// one run from a desktop take turns too. Local\ still covers one session
// where the global namespace is not available.
const wchar_t* const kLockNames[] = {
    L"Global\\semilist-environment-edit",
    L"Local\\semilist-environment-edit",
};

}  // namespace

EditLock::~EditLock() {
  Release();
  if (mutex_ != nullptr) CloseHandle(mutex_);
}

bool EditLock::Acquire(DWORD timeoutMs) {
  for (const wchar_t* name : kLockNames) {
    mutex_ = CreateMutexW(nullptr, FALSE, name);
    if (mutex_ != nullptr) break;
  }
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
