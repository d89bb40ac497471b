// Telling the programs that listen for it that the environment changed.
#pragma once

namespace semilist {

// Sends WM_SETTINGCHANGE "Environment" to this session's top-level windows.
// From session 0, where no user's desktop is, it also has the broadcast sent
// in every session where a user is signed in. Reports nothing: a listener
// that misses it changes nothing about the run.
void BroadcastEnvironmentChange();

}  // namespace semilist
