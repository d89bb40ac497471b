// Serialises the read-modify-write of all semilist runs on one machine, so
// that two installers editing PATH at once both keep their edit.
#pragma once

#include <windows.h>

namespace semilist {

// Owns the named mutex handle, and its ownership while held.
class EditLock {
 public:
  EditLock() = default;
  EditLock(const EditLock&) = delete;
  EditLock& operator=(const EditLock&) = delete;
  ~EditLock();

  // Waits up to `timeoutMs` for the lock; false when it could not be had in
  // time, or when someone else holds its name. Where no mutex can be created
  // at all, the run goes on unlocked and this returns true.
  bool Acquire(DWORD timeoutMs);
  void Release();

 private:
  HANDLE mutex_ = nullptr;
  bool held_ = false;
};

}  // namespace semilist
