// Telling the programs that listen for it that the environment changed.
#pragma once

#include <windows.h>

#include <string>

namespace semilist {

// In session 0, holds the image file of `module` open, shared for reading
// only, from the start of the run until the relay has started its children:
// while it is held, no one can write the file, or rename it and put another
// program at its path for the relay to start as LocalSystem. Outside
// session 0 it holds nothing, and there is no relay.
//
// A null `module` is this program, which the children run with /broadcast.
// Otherwise it is semilist.dll in someone else's process, and the children
// run the system's rundll32, which loads the DLL and broadcasts.
class RelayImage {
 public:
  explicit RelayImage(HMODULE module);
  RelayImage(const RelayImage&) = delete;
  RelayImage& operator=(const RelayImage&) = delete;
  ~RelayImage();

  // False outside session 0, or when the file could not be held; then
  // there is no relay.
  bool IsHeld() const { return file_ != INVALID_HANDLE_VALUE; }
  // What the children start, with which command line, and where.
  const std::wstring& Program() const { return program_; }
  const std::wstring& CommandLine() const { return commandLine_; }
  const std::wstring& Directory() const { return directory_; }

 private:
  std::wstring program_;
  std::wstring commandLine_;
  std::wstring directory_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

// Sends WM_SETTINGCHANGE "Environment" to this session's top-level windows.
// From session 0, where no user's desktop is, it first has the broadcast
// sent in every session where a user is signed in. Reports nothing: a
// listener that misses it changes nothing about the run.
void BroadcastEnvironmentChange(const RelayImage& image);

}  // namespace semilist
