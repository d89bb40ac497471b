// Telling the programs that listen for it that the environment changed.
#pragma once

#include <windows.h>

#include <string>

namespace semilist {

// What the relay starts in a user's session, where, and the file of
// semilist's that it runs or loads; an empty program is no child.
struct RelayChild {
  std::wstring program;
  std::wstring commandLine;
  std::wstring file;
};

// In session 0, holds the files that the relay's children run or load
// open, shared for reading only, from the start of the run until the relay
// has started its children: while they are held, no one can write them, or
// rename one and put another program at its path for the relay to start.
// Outside session 0 it holds nothing, and there is no relay.
//
// A null `module` is this program. A child of it runs semilist-user.exe
// /broadcast, found beside it, as the session's user; where there is none,
// or the user cannot read it, this program /broadcast, as this process's
// account with every privilege removed, and, a console program, with no
// window. semilist.exe itself could not run as the user: its manifest
// requires elevation.
//
// Otherwise `module` is semilist.dll in someone else's process, and a child
// runs the system's rundll32, which loads the DLL and broadcasts, as the
// session's user, where that user can read the DLL. rundll32 makes a
// window, so it is never started as this process's account: that would
// put a window of LocalSystem's on the user's desktop, which any program
// there could send messages to.
class RelayImage {
 public:
  explicit RelayImage(HMODULE module);
  RelayImage(const RelayImage&) = delete;
  RelayImage& operator=(const RelayImage&) = delete;
  ~RelayImage();

  // False outside session 0, or when no child's file could be held; then
  // there is no relay.
  bool IsHeld() const {
    return !asUser_.program.empty() || !restricted_.program.empty();
  }
  const RelayChild& AsUser() const { return asUser_; }
  const RelayChild& Restricted() const { return restricted_; }
  // Where every child starts: out of any folder that a user could change.
  const std::wstring& Directory() const { return directory_; }

 private:
  // Holds the child's file in `held`, or empties the child.
  static void Hold(RelayChild& child, HANDLE& held);

  RelayChild asUser_;
  RelayChild restricted_;
  std::wstring directory_;
  HANDLE held_[2] = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE};
};

// Sends WM_SETTINGCHANGE "Environment" to this session's top-level windows.
// From session 0, where no user's desktop is, it first has the broadcast
// sent in every session where a user is signed in. Reports nothing: a
// listener that misses it changes nothing about the run.
void BroadcastEnvironmentChange(const RelayImage& image);

}  // namespace semilist
