#include <windows.h>

#include <exception>

#include "front_end.h"

// Only std::bad_alloc and std::length_error can escape a run. The runtime's
// default handler for them prints the exception's name, which this program
// never does, and exits with 3, the status of a failed store; it also links
// in a demangler and printf, a third of the program's size. The run ends
// abnormally instead, with the platform's out-of-memory status.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_NO_MEMORY));
}
}  // namespace __gnu_cxx

int wmain(int argc, wchar_t* argv[]) {
  // A console program started by a GUI program, such as an installer, gets a
  // console window of its own, owned by its account: as LocalSystem, its
  // menus and dialogs are a way to a SYSTEM shell. semilist writes to no
  // stream, so it lets go of a console that no other process shares; one
  // that it shares with a shell stays.
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) == 1) FreeConsole();
  return semilist::RunSemilist(argc, argv);
}
