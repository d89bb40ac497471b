#include <windows.h>

// No exception leaves an entry of semilist.dll, so std::terminate is reached
// only where the runtime itself has failed. Its default handler prints the
// exception's name, and links in a demangler and printf, a third of the
// DLL's size. abort may show a message box in a host with no console, which
// in session 0 no one can close, and the install would hang; failing fast
// ends the host at once, without a window and without running any handler.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
  RaiseFailFastException(nullptr, nullptr, FAIL_FAST_NO_HARD_ERROR_DLG);
  // Not reached; it keeps the promise that a terminate handler never returns.
  TerminateProcess(GetCurrentProcess(), STATUS_FATAL_APP_EXIT);
}
}  // namespace __gnu_cxx
