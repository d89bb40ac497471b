#include "command_line/command_line.h"

namespace semilist {
namespace {

bool IsBlank(wchar_t unit) { return unit == L' ' || unit == L'\t'; }

}  // namespace

std::vector<std::wstring> SplitCommandLine(std::wstring_view text) {
  std::vector<std::wstring> arguments;
  std::size_t at = 0;
  const std::size_t end = text.size();
  for (;;) {
    while (at < end && IsBlank(text[at])) ++at;
    if (at == end) return arguments;
    // Anything that is not a blank starts an argument, so "" is one, empty.
    std::wstring argument;
    bool quoted = false;
    while (at < end && (quoted || !IsBlank(text[at]))) {
      if (text[at] == L'\\') {
        std::size_t backslashes = 0;
        for (; at < end && text[at] == L'\\'; ++at) ++backslashes;
        const bool beforeQuote = at < end && text[at] == L'"';
        argument.append(beforeQuote ? backslashes / 2 : backslashes, L'\\');
        if (beforeQuote && backslashes % 2 == 1) {
          argument += L'"';
          ++at;
        }
      } else if (text[at] == L'"') {
        ++at;
        if (quoted && at < end && text[at] == L'"') {
          argument += L'"';
          ++at;
          quoted = false;
        } else {
          quoted = !quoted;
        }
      } else {
        argument += text[at++];
      }
    }
    arguments.push_back(std::move(argument));
  }
}

std::wstring QuoteArgument(std::wstring_view word) {
  if (!word.empty() &&
      word.find_first_of(L" \t\"") == std::wstring_view::npos) {
    return std::wstring(word);
  }
  // Backslashes are literal except in a run that ends at a quote, where
  // each must be doubled; the quote itself is escaped.
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
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}

}  // namespace semilist
