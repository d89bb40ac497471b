// Quoting one argument as a caller must, so that Windows' command-line
// splitting gives it back unchanged: the product's own, which the fuzzer
// checks against the splitting.
#pragma once

#include "command_line/command_line.h"

namespace semilist::test {

using semilist::QuoteArgument;

}  // namespace semilist::test
