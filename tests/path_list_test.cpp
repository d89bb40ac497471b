// The list rules, run natively (32-bit wchar_t) and under Wine (UTF-16).
#include "path_list/path_list.h"

#include <gtest/gtest.h>

namespace semilist {
namespace {

TEST(EqualsNoCase, FoldsOnlyAsciiLetters) {
  EXPECT_TRUE(EqualsNoCase(L"C:\\Tools", L"c:\\TOOLS"));
  EXPECT_TRUE(EqualsNoCase(L"/APPEND", L"/append"));
  EXPECT_TRUE(EqualsNoCase(L"", L""));
  // The neighbours of A-Z and a-z are not letters and must not be folded.
  EXPECT_FALSE(EqualsNoCase(L"@", L"`"));
  EXPECT_FALSE(EqualsNoCase(L"[", L"{"));
  EXPECT_FALSE(EqualsNoCase(L"\\", L"|"));
  // No locale: non-ASCII letters keep their case.
  EXPECT_FALSE(EqualsNoCase(L"\u00C9", L"\u00E9"));
  EXPECT_FALSE(EqualsNoCase(L"\u0130", L"i"));
  EXPECT_FALSE(EqualsNoCase(L"\u212A", L"k"));  // Kelvin sign
}

TEST(EqualsNoCase, LengthAndSpacingMatter) {
  EXPECT_FALSE(EqualsNoCase(L"C:\\Tools", L"C:\\Tools\\"));
  EXPECT_FALSE(EqualsNoCase(L"C:\\Tools", L" C:\\Tools"));
  EXPECT_FALSE(EqualsNoCase(L"a", L""));
  EXPECT_FALSE(EqualsNoCase(L"ab", L"a"));
}

TEST(EqualsNoCase, ComparesWholeCodeUnits) {
  const std::wstring smile = L"\U0001F600";
  EXPECT_TRUE(EqualsNoCase(L"X" + smile, L"x" + smile));
  EXPECT_FALSE(EqualsNoCase(smile, L"\U0001F601"));
}

TEST(SplitAndJoin, DropEmptyPiecesAndKeepOrder) {
  const auto split = [](const std::wstring& text) {
    StringList list;
    SplitString(text, L";", list);
    return list;
  };
  EXPECT_EQ(split(L""), StringList{});
  EXPECT_EQ(split(L";;;"), StringList{});
  EXPECT_EQ(split(L"a;;b;"), (StringList{L"a", L"b"}));
  EXPECT_EQ(split(L";a"), StringList{L"a"});
  EXPECT_EQ(split(L"b;a;b"), (StringList{L"b", L"a", L"b"}));

  StringList kept{L"first"};
  SplitString(L"x", L";", kept);
  EXPECT_EQ(kept, (StringList{L"first", L"x"}));

  std::wstring text = L">";
  JoinStrings({L"a", L"b", L""}, L";", text);
  EXPECT_EQ(text, L">a;b;");
  text.clear();
  JoinStrings({}, L";", text);
  EXPECT_EQ(text, L"");
}

TEST(AppendToList, AddsAtTheEndUnlessPresent) {
  EXPECT_EQ(AppendToList(L"C:\\a;C:\\b", L"C:\\new"), L"C:\\a;C:\\b;C:\\new");
  EXPECT_EQ(AppendToList(L"", L"x"), L"x");
  EXPECT_EQ(AppendToList(L";;;", L"x"), L"x");
  // Present in another case: the stored spelling stays, and the text is
  // still normalised.
  EXPECT_EQ(AppendToList(L"a;;B;", L"b"), L"a;B");
  EXPECT_EQ(AppendToList(L"%SystemRoot%\\bin", L"%systemroot%\\BIN"),
            L"%SystemRoot%\\bin");
  EXPECT_EQ(AppendToList(L"C:\\Tools", L"C:\\Tools\\"),
            L"C:\\Tools;C:\\Tools\\");
  EXPECT_EQ(AppendToList(L"C:\\Tools", L" C:\\Tools"), L"C:\\Tools; C:\\Tools");
}

TEST(AppendToList, AddsTheItemExactlyAsGiven) {
  EXPECT_EQ(AppendToList(L"a;b", L""), L"a;b;");
  EXPECT_EQ(AppendToList(L"", L""), L"");
  EXPECT_EQ(AppendToList(L"a", L"x;"), L"a;x;");
  EXPECT_EQ(AppendToList(L"a", L";x"), L"a;;x");
  EXPECT_EQ(AppendToList(L"a", L"x;y"), L"a;x;y");
  // No single piece equals "x;y", so it is added again.
  EXPECT_EQ(AppendToList(L"a;x;y", L"x;y"), L"a;x;y;x;y");
}

TEST(PrependToList, PutsTheItemOrItsFirstMatchFirst) {
  EXPECT_EQ(PrependToList(L"a;;b", L"x"), L"x;a;b");
  EXPECT_EQ(PrependToList(L";;;", L"x"), L"x");
  EXPECT_EQ(PrependToList(L"C:\\x;a;", L"c:\\X"), L"C:\\x;a");
  // The first match moves in its stored spelling; a later copy stays.
  EXPECT_EQ(PrependToList(L"a;B;c;b", L"b"), L"B;a;c;b");
  EXPECT_EQ(PrependToList(L"a;b;C:\\Tools", L"c:\\tools"), L"C:\\Tools;a;b");
}

TEST(PrependToList, PutsTheItemFirstExactlyAsGiven) {
  EXPECT_EQ(PrependToList(L"a;b", L""), L";a;b");
  EXPECT_EQ(PrependToList(L"", L""), L"");
  EXPECT_EQ(PrependToList(L"a", L"x;y"), L"x;y;a");
  EXPECT_EQ(PrependToList(L"x;y;a", L"x;y"), L"x;y;x;y;a");
}

TEST(RemoveFromList, RemovesOnlyTheFirstMatch) {
  EXPECT_EQ(RemoveFromList(L"x", L"X"), L"");
  EXPECT_EQ(RemoveFromList(L"a;b;a", L"a"), L"b;a");
  EXPECT_EQ(RemoveFromList(L"a;;b", L"c"), L"a;b");
  EXPECT_EQ(RemoveFromList(L"a;;b", L""), L"a;b");
  EXPECT_EQ(RemoveFromList(L";;;", L"a"), L"");
  EXPECT_EQ(RemoveFromList(L"", L"a"), L"");
  EXPECT_EQ(RemoveFromList(L"a;x;y", L"x;y"), L"a;x;y");
  EXPECT_EQ(RemoveFromList(L"C:\\Tools\\;C:\\Tools", L"c:\\tools"),
            L"C:\\Tools\\");
}

TEST(ListEditing, NonAsciiTextPassesThroughIntact) {
  const std::wstring astral = L"C:\\\U0001F600\\\U00010348";
  const std::wstring accented = L"D:\\\u00C9t\u00E9";
  const std::wstring list = astral + L";" + accented;
  EXPECT_EQ(AppendToList(list, astral), list);
  EXPECT_EQ(AppendToList(list, L"d:\\\u00E9t\u00E9"),
            list + L";d:\\\u00E9t\u00E9");
  EXPECT_EQ(RemoveFromList(list, L"c:\\\U0001F600\\\U00010348"), accented);
  EXPECT_EQ(RemoveFromList(list, L"D:\\\u00E9T\u00C9"), list);
}

}  // namespace
}  // namespace semilist
