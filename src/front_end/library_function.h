// Finding a function that a loaded DLL exports, for DLLs that are loaded
// on demand or used only where the host has loaded them.
#pragma once

#include <windows.h>

namespace semilist {

// `name` in `library` as a `Function`, or null if it exports no such name.
template <typename Function>
Function* LibraryFunction(HMODULE library, const char* name) {
  // Through void(*)(), which any function pointer may be cast from and to.
  return reinterpret_cast<Function*>(
      reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

// The same into `function`, whose type says what to find.
template <typename Function>
void FindLibraryFunction(HMODULE library, const char* name,
                         Function*& function) {
  function = LibraryFunction<Function>(library, name);
}

}  // namespace semilist
