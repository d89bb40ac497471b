// The owners' claims, run natively (32-bit wchar_t) and under Wine (UTF-16).
#include "owners/owner_record.h"

#include <gtest/gtest.h>

#include <string_view>

namespace semilist {

using namespace std::string_view_literals;

bool operator==(const ClaimedItem& a, const ClaimedItem& b) {
  return a.item == b.item && a.wasPresent == b.wasPresent &&
         a.owners == b.owners;
}

namespace {

const ClaimedItem kToolsAdded{L"C:\\Tools", false, {L"A"}};
const ClaimedItem kToolsFound{L"C:\\Tools", true, {L"A"}};

TEST(OwnerRecord, ClaimsAndReleases) {
  enum Op { Claim, Drop };
  struct Case {
    const char* what;
    OwnerRecord before;
    Op op;
    const wchar_t *item, *owner;
    bool listHolds;
    int result;  // ClaimItem's bool, or ReleaseClaim's Release
    OwnerRecord after;
  };
  const auto r = [](Release release) { return static_cast<int>(release); };
  const ClaimedItem shared{L"C:\\Tools", false, {L"A", L"B"}};
  const Case cases[] = {
      {"new item", {}, Claim, L"C:\\Tools", L"A", false, true, {kToolsAdded}},
      {"item already listed",
       {},
       Claim,
       L"C:\\Tools",
       L"A",
       true,
       true,
       {kToolsFound}},
      {"claimed twice",
       {kToolsAdded},
       Claim,
       L"C:\\Tools",
       L"A",
       true,
       false,
       {kToolsAdded}},
      {"second owner, first claim decides",
       {kToolsAdded},
       Claim,
       L"c:\\TOOLS",
       L"B",
       true,
       true,
       {shared}},
      {"owners compare exactly",
       {kToolsAdded},
       Claim,
       L"C:\\Tools",
       L"a",
       false,
       true,
       {{L"C:\\Tools", false, {L"A", L"a"}}}},
      {"non-ASCII letters differ",
       {{L"C:\\\u00E9", true, {L"A"}}},
       Claim,
       L"C:\\\u00C9",
       L"A",
       false,
       true,
       {{L"C:\\\u00E9", true, {L"A"}}, {L"C:\\\u00C9", false, {L"A"}}}},
      {"other owner still needs it",
       {shared},
       Drop,
       L"C:\\TOOLS",
       L"A",
       false,
       r(Release::StillClaimed),
       {{L"C:\\Tools", false, {L"B"}}}},
      {"last owner of an added item",
       {kToolsAdded},
       Drop,
       L"c:\\tools",
       L"A",
       false,
       r(Release::RemoveItem),
       {}},
      {"last owner of an item found",
       {kToolsFound, shared},
       Drop,
       L"C:\\Tools",
       L"A",
       false,
       r(Release::KeepItem),
       {shared}},
      {"never claimed",
       {kToolsAdded},
       Drop,
       L"C:\\Other",
       L"A",
       false,
       r(Release::NotClaimed),
       {kToolsAdded}},
      {"claimed by others only",
       {kToolsAdded},
       Drop,
       L"C:\\Tools",
       L"B",
       false,
       r(Release::NotClaimed),
       {kToolsAdded}},
      {"no record",
       {},
       Drop,
       L"C:\\Tools",
       L"A",
       false,
       r(Release::NotClaimed),
       {}},
  };
  for (const Case& c : cases) {
    OwnerRecord record = c.before;
    const int result =
        c.op == Claim ? ClaimItem(record, c.item, c.owner, c.listHolds)
                      : static_cast<int>(ReleaseClaim(record, c.item, c.owner));
    EXPECT_EQ(result, c.result) << c.what;
    EXPECT_EQ(record, c.after) << c.what;
  }
}

TEST(OwnerRecord, StoredFormatKeepsEveryItemExactly) {
  const OwnerRecord record = {
      {L"%ProgramFiles%\\\u00C9 \U0001F600", false, {L"{GUID-1}", L"x y"}},
      {L"C:\\\u00E9", true, {L"owner C:\\\u00E9"}}};
  const std::wstring data = FormatOwnerRecord(record);
  EXPECT_EQ(data,
            L"semilist owners 1\0"
            L"added %ProgramFiles%\\\u00C9 \U0001F600\0"
            L"owner {GUID-1}\0owner x y\0"
            L"found C:\\\u00E9\0owner owner C:\\\u00E9\0\0"sv);
  OwnerRecord parsed;
  ASSERT_TRUE(ParseOwnerRecord(data, parsed));
  EXPECT_EQ(parsed, record);
  ASSERT_TRUE(ParseOwnerRecord(data + std::wstring(3, L'\0'), parsed));
  EXPECT_EQ(parsed, record);
}

TEST(OwnerRecord, DataItDoesNotUnderstandIsRefused) {
  const std::wstring_view refused[] = {
      L""sv,
      L"semilist owners 1"sv,  // no terminating NUL
      L"semilist owners 2\0\0"sv,
      L"semilist owners\0\0"sv,
      L"added a\0owner A\0\0"sv,            // no header
      L"semilist owners 1\0added a\0\0"sv,  // an item nobody owns
      L"semilist owners 1\0owner A\0added a\0owner A\0\0"sv,
      L"semilist owners 1\0added a\0owner A\0\0added b\0owner A\0\0"sv,
      L"semilist owners 1\0added a\0owner A\0found A\0owner B\0\0"sv,
      L"semilist owners 1\0added a\0owner A\0owner A\0\0"sv,
      L"semilist owners 1\0added \0owner A\0\0"sv,
      L"semilist owners 1\0added a\0owner \0\0"sv,
      L"semilist owners 1\0Added a\0owner A\0\0"sv,
  };
  for (const std::wstring_view data : refused) {
    OwnerRecord record = {kToolsAdded};
    EXPECT_FALSE(ParseOwnerRecord(std::wstring(data), record))
        << testing::PrintToString(std::wstring(data));
    EXPECT_EQ(record, OwnerRecord{kToolsAdded});
  }
}

}  // namespace
}  // namespace semilist
