#include "in_process/run_text.h"

#include <windows.h>

#include <string>
#include <vector>

#include "command_line/command_line.h"
#include "front_end/front_end.h"

// The linker's name for the start of this DLL's own image, which is its
// module handle; unlike a lookup, it cannot fail.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace semilist {

int RunText(const wchar_t* text, AfterEdit after) noexcept {
  // Only std::bad_alloc and std::length_error can leave a run; neither may
  // reach a host, which would end. Each unwinds with every key closed and
  // the lock released, before anything is stored that was not already.
  try {
    const std::vector<std::wstring> words =
        SplitCommandLine(text != nullptr ? text : L"");
    std::vector<const wchar_t*> argv = {L"semilist.dll"};
    for (const std::wstring& word : words) argv.push_back(word.c_str());
    return RunSemilist(static_cast<int>(argv.size()), argv.data(),
                       reinterpret_cast<HMODULE>(&__ImageBase), after);
  } catch (...) {
    return static_cast<int>(STATUS_NO_MEMORY);
  }
}

void FormatStatus(int status, wchar_t (&text)[11]) {
  wchar_t digits[10];
  int count = 0;
  for (auto value = static_cast<unsigned long>(static_cast<DWORD>(status));
       count == 0 || value != 0; value /= 10) {
    digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
  }
  for (int i = 0; i < count; ++i) text[i] = digits[count - 1 - i];
  text[count] = L'\0';
}

}  // namespace semilist
