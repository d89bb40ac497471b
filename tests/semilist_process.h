// Starting the real semilist.exe from a test, and counting the broadcasts
// it sends.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "front_end/edit_lock.h"
#include "quote_argument.h"

namespace semilist::test {

// Starts `program` (semilist.exe or semilist-user.exe), found next to the
// test executable, with exactly these arguments. Returns the process handle,
// or null after a test failure. With `suspendedThread`, the process starts
// suspended and its main thread's handle is stored there, for the caller to
// resume and close. `flags` are further creation flags.
HANDLE StartSemilist(const std::vector<std::wstring>& arguments,
                     HANDLE* suspendedThread = nullptr,
                     const wchar_t* program = L"semilist.exe", DWORD flags = 0);

// The names of the edit locks that `program` takes: the machine's, and this
// account's. semilist-namespace.exe's are where the stand-in for private
// namespaces puts the mutex of each boundary.
std::wstring MachineLockName(const wchar_t* program = L"semilist.exe");
std::wstring AccountLockName(const wchar_t* program = L"semilist.exe");

// Whether `program` keeps its lock in private namespaces: the stand-in
// build always, the others where the platform has the functions.
bool UsesPrivateNamespaces(const wchar_t* program);

// Whether `object` came to have at least `handles` handles open, as it does
// once another process opened it; false if `process` ended first.
bool WaitForHandles(HANDLE object, unsigned long handles, HANDLE process);

// The edit lock that `program` takes for the machine's list or this
// account's, held by the calling thread: semilist's own, through the same
// namespace, boundary and alias, or for semilist-namespace.exe the mutex
// where its stand-in keeps that lock.
class HeldEditLock {
 public:
  HeldEditLock(bool machine, const wchar_t* program);
  HeldEditLock(const HeldEditLock&) = delete;
  HeldEditLock& operator=(const HeldEditLock&) = delete;
  ~HeldEditLock();
  bool IsHeld() const { return held_; }
  // Whether `process`, and `others` before it, opened the lock, as a run
  // does just before it waits for it; false if the process ended first.
  bool WaitUntilOpenedBy(HANDLE process, unsigned long others = 0) const;

 private:
  HANDLE Mutex() const {
    return standIn_ != nullptr ? standIn_ : lock_.Mutex();
  }

  EditLock lock_;
  HANDLE standIn_ = nullptr;
  bool held_ = false;
};

// Waits for the process while dispatching this thread's messages, so that
// its broadcast can be delivered; closes the handle and returns the status.
DWORD WaitForSemilist(HANDLE process);

// Dispatches this thread's messages for about `milliseconds`.
void PumpMessagesFor(DWORD milliseconds);

// Owns a top-level window that counts WM_SETTINGCHANGE "Environment".
class BroadcastCounter {
 public:
  BroadcastCounter();
  BroadcastCounter(const BroadcastCounter&) = delete;
  BroadcastCounter& operator=(const BroadcastCounter&) = delete;
  ~BroadcastCounter();
  int Count() const;
  // Also forgets the callback.
  void Reset();
  // Called for each broadcast, while its sender waits for the answer.
  void OnBroadcast(std::function<void()> callback);

 private:
  HWND window_ = nullptr;
};

}  // namespace semilist::test
