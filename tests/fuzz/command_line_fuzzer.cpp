// Any text splits without fault, and words quoted as a caller would quote
// them come back as they went in.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "command_line/command_line.h"

namespace {

// As a caller quotes a word: backslashes doubled only before a quote.
std::wstring Quote(const std::wstring& word) {
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t unit : word) {
    if (unit == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(unit == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += unit;
  }
  return quoted.append(2 * backslashes, L'\\') + L"\"";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // A small alphabet of the units that matter, so that runs of them meet.
  const wchar_t alphabet[] = {L'\\', L'"', L' ', L'\t', L'a', L'\u00E9'};
  std::wstring text;
  for (std::size_t i = 0; i < size; ++i) text += alphabet[data[i] % 6];
  const std::vector<std::wstring> words = semilist::SplitCommandLine(text);
  std::wstring joined;
  for (const std::wstring& word : words) joined += Quote(word) + L" ";
  if (semilist::SplitCommandLine(joined) != words) std::abort();
  return 0;
}
