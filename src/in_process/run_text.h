// What every entry of semilist.dll shares: one text, split as a command line
// is, through the run sequence of the programs.
#pragma once

#include "front_end/front_end.h"

namespace semilist {

// The status semilist.exe would end with for the words of `text`; null is
// the empty text. Never throws: running out of memory gives the program's
// abnormal status, STATUS_NO_MEMORY, with nothing stored.
int RunText(const wchar_t* text,
            AfterEdit after = AfterEdit::Broadcast) noexcept;

// `status` in decimal as a program's exit code reads: 0xC0000017 is
// 3221225495. Written out by hand: the runtime's formatting would double
// the DLL's size.
void FormatStatus(int status, wchar_t (&text)[11]);

}  // namespace semilist
