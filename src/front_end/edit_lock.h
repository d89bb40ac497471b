// Serialises the read-modify-write of all semilist runs that edit the same
// environment, so that two installers editing PATH at once both keep their
// edit.
#pragma once

#include <windows.h>

#include <string>

namespace semilist {

// The SID of the account this process runs as, as text (S-1-5-21-...), or
// the empty text if the process token cannot tell it.
std::wstring CurrentAccountSid();

// Owns the named mutex handle, and its ownership while held.
class EditLock {
 public:
  EditLock() = default;
  EditLock(const EditLock&) = delete;
  EditLock& operator=(const EditLock&) = delete;
  ~EditLock();

  // Waits up to `timeoutMs` for the lock on the machine's environment, or,
  // with an account's SID, on that account's environment. False when it
  // could not be had in time, or when someone else holds its name. Where no
  // mutex can be created at all, the run goes on unlocked and this returns
  // true; so does a reader whose rights do not reach the lock, since a read
  // can lose nothing.
  bool Acquire(const std::wstring& accountSid, DWORD timeoutMs,
               bool readOnly = false);
  void Release();

 private:
  HANDLE mutex_ = nullptr;
  bool held_ = false;
};

}  // namespace semilist
