// The splitting of an in-process call's text, natively and, under Wine,
// against the platform's own CommandLineToArgvW.
#include "command_line/command_line.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#endif

namespace semilist {
namespace {

using Words = std::vector<std::wstring>;

TEST(CommandLine, SplitsAsTheProgramsCommandLineIsSplit) {
  struct Case {
    const wchar_t* text;
    Words words;
  };
  const Case cases[] = {
      {L"", {}},
      {L" \t ", {}},
      {L"/append /system PATH \"C:\\Program Files\\Tool\\bin\" /owner:{A-1}",
       {L"/append", L"/system", L"PATH", L"C:\\Program Files\\Tool\\bin",
        L"/owner:{A-1}"}},
      {L"  a\tb  ", {L"a", L"b"}},
      {L"\"\" x", {L"", L"x"}},
      {L"a\"b c\"d", {L"ab cd"}},
      {L"C:\\dir\\ \"C:\\dir\\\\\"", {L"C:\\dir\\", L"C:\\dir\\"}},
      {L"\\\\\\\"x \\\\\\\\\"y z\"", {L"\\\"x", L"\\\\y z"}},
      {L"\"a\"\"b c\"", {L"a\"b", L"c"}},
      {L"\"\"\"a b\"", {L"\"a", L"b"}},
      {L"\"unterminated  x", {L"unterminated  x"}},
      {L"%PATH%;\u00E9\U0001F600 \r\n", {L"%PATH%;\u00E9\U0001F600", L"\r\n"}},
  };
  for (const Case& c : cases) {
    const std::wstring text = c.text;
    EXPECT_EQ(SplitCommandLine(text), c.words) << testing::PrintToString(text);
#ifdef _WIN32
    // The platform splits a whole command line, program name first.
    int count = 0;
    wchar_t** platform = CommandLineToArgvW((L"x " + text).c_str(), &count);
    ASSERT_NE(platform, nullptr);
    EXPECT_EQ(Words(platform + 1, platform + count), c.words)
        << "CommandLineToArgvW, " << testing::PrintToString(text);
    LocalFree(platform);
#endif
  }
}

}  // namespace
}  // namespace semilist
