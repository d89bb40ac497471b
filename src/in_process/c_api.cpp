// The C entry, for Inno Setup's external functions, P/Invoke and any other
// caller that can call a stdcall function of a DLL.
#include <windows.h>

#include "in_process/run_text.h"
// The public declaration, exported here.
#define SEMILIST_API __declspec(dllexport)
#include "in_process/semilist.h"

int __stdcall SemilistRunW(const wchar_t* commandLine) {
  return semilist::RunText(commandLine);
}
