// The NSIS plugin call `semilist::Run "TEXT"`: pops the text and pushes the
// status, as decimal text, for the script to Pop.
#include <windows.h>
// After windows.h, which it needs.
#include <nsis/pluginapi.h>

#include "front_end/front_end.h"
#include "in_process/run_text.h"

extern "C" __declspec(dllexport) void __cdecl Run(HWND, int stringSize,
                                                  LPWSTR variables,
                                                  stack_t** stackTop,
                                                  extra_parameters*) {
  if (stackTop == nullptr) return;
  g_stringsize = static_cast<unsigned int>(stringSize);
  g_stacktop = stackTop;
  g_variables = variables;
  // An empty stack is a call without its text: a usage error, as for the
  // program, and something for the script's Pop to take.
  int status = semilist::kUsageError;
  if (*stackTop != nullptr) {
    // Taken off as NSIS's own pop does, but with no buffer to cut it short.
    stack_t* top = *stackTop;
    *stackTop = top->next;
    status = semilist::RunText(top->text);
    GlobalFree(top);
  }
  wchar_t text[11];
  semilist::FormatStatus(status, text);
  pushstring(text);
}
