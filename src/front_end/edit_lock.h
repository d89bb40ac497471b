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

// Owns the mutex handle, its ownership while held, the handle of the
// private namespace that the mutex lives in, and the ownership of the
// process's own lock for the scope while that namespace is open.
class EditLock {
 public:
  EditLock() = default;
  EditLock(const EditLock&) = delete;
  EditLock& operator=(const EditLock&) = delete;
  ~EditLock();

  // Waits up to `timeoutMs` for the lock on the machine's environment, or,
  // with an account's SID, on that account's environment. False when it
  // could not be had in time, or when no lock could be made: nothing may be
  // edited then. A reader whose rights do not reach the lock gets true
  // without it, since a read can lose nothing; so does any run where the
  // platform has neither private namespaces nor a place for a named mutex.
  bool Acquire(const std::wstring& accountSid, DWORD timeoutMs,
               bool readOnly = false);
  // Lets go of the lock, and of everything that was opened to take it.
  void Release();
  // The lock's mutex, still owned by this object, for watching who else
  // opens it; null where no mutex was made.
  HANDLE Mutex() const { return mutex_; }

 private:
  using CloseNamespace = BOOLEAN(WINAPI*)(HANDLE, ULONG);

  bool CreateInNamespace(const std::wstring& accountSid,
                         SECURITY_ATTRIBUTES& attributes, bool readOnly);
  bool CreateUnderPublicName(const std::wstring& accountSid,
                             SECURITY_ATTRIBUTES& attributes, bool readOnly);

  HANDLE namespace_ = nullptr;
  CloseNamespace closeNamespace_ = nullptr;
  HANDLE mutex_ = nullptr;
  bool held_ = false;
  // Owned while the namespace is open; shared by the process's runs.
  HANDLE inProcess_ = nullptr;
};

}  // namespace semilist
