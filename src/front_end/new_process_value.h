// What a new process gets of a stored REG_EXPAND_SZ value, which is not
// what this run's own environment would make of it.
#pragma once

#include <optional>
#include <string>

namespace semilist {

// `value` expanded as a new process gets it: the machine's with the
// system's variables only, as the logon environment expands it before any
// user's exist, and a user's with this process's account's variables. In a
// 32-bit process on 64-bit Windows, %ProgramFiles% and %CommonProgramFiles%
// count as a 64-bit process sees them, so that both builds give one
// verdict. Empty when the expansion does not fit in 32,767 units.
std::optional<std::wstring> ExpandForANewProcess(const std::wstring& value,
                                                 bool machine);

}  // namespace semilist
