// Any text splits without fault, and words quoted as the MSI scheduler
// quotes them come back as they went in.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "command_line/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // A small alphabet of the units that matter, so that runs of them meet.
  const wchar_t alphabet[] = {L'\\', L'"', L' ', L'\t', L'a', L'\u00E9'};
  std::wstring text;
  for (std::size_t i = 0; i < size; ++i) text += alphabet[data[i] % 6];
  const std::vector<std::wstring> words = semilist::SplitCommandLine(text);
  std::wstring joined;
  for (const std::wstring& word : words)
    joined += semilist::QuoteArgument(word) + L" ";
  if (semilist::SplitCommandLine(joined) != words) std::abort();
  return 0;
}
