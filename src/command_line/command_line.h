// Splitting one text into arguments as Windows splits a program's command
// line after its name, so that a caller in-process passes the same words,
// quoted the same way, as on a command line. Pure computation: no platform
// calls, so it builds and is tested natively as well as for Windows.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace semilist {

// The arguments of `text`, by CommandLineToArgvW's rules for every argument
// but the first: blanks and tabs outside quotes separate; a quote toggles
// quoting; 2n backslashes before a quote give n and the quote toggles,
// 2n+1 give n and a literal quote; other backslashes are literal; inside
// quotes, two quotes give one literal quote and end the quoting.
std::vector<std::wstring> SplitCommandLine(std::wstring_view text);

// `word` as a command line must give it for SplitCommandLine to give it
// back unchanged: as it is where it holds no blank or quote, else quoted.
std::wstring QuoteArgument(std::wstring_view word);

}  // namespace semilist
