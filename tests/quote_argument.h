// Quoting one argument as a caller must, so that Windows' command-line
// splitting gives it back unchanged. Pure, for the Windows tests and the
// native fuzzer alike.
#pragma once

#include <string>

namespace semilist::test {

// Backslashes are literal except in a run that ends at a quote, where each
// must be doubled; the quote itself is escaped.
inline std::wstring QuoteArgument(const std::wstring& argument) {
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t unit : argument) {
    if (unit == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(unit == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += unit;
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}

}  // namespace semilist::test
