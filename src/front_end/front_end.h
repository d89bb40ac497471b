// The whole run of semilist as a function of its argument vector, so that it
// can be driven in-process as well as from wmain.
#pragma once

#include <windows.h>

namespace semilist {

enum ExitStatus : int {
  kDone = 0,
  kUsageError = 1,  // nothing was touched
  kUnreadable = 2,  // the existing value could not be read or is not text
  kStoreFailed = 3,
  kLockTimedOut = 4,  // the edit lock could not be had; nothing done
  kNotListed = 5,     // /contains only: the list does not hold the item
  kTooLong = 6,  // an append or prepend would push the variable past a limit
};

// Whether an edit broadcasts the change itself. An installer that makes
// several edits sends one broadcast after the last instead.
enum class AfterEdit { Broadcast, NoBroadcast };

// argv[0] is the program path; argv[1..4] are action (or /contains), scope,
// name, item, and an optional argv[5] /owner:TOKEN; or argv[1] alone is
// /broadcast. `image` is what the relay from session 0 has its children
// start: null for this program, or semilist.dll's own module in-process.
int RunSemilist(int argc, const wchar_t* const argv[], HMODULE image = nullptr,
                AfterEdit after = AfterEdit::Broadcast);

}  // namespace semilist
