// The owners' claims, run natively (32-bit wchar_t) and under Wine (UTF-16).
#include "owners/owner_record.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string_view>

namespace semilist {
namespace {

using namespace std::string_view_literals;

// A record as "+t:A,B =u:C": per item, + if semilist added it, = if it was
// there before, then its owners.
std::wstring Show(const OwnerRecord& record) {
  std::wstring shown;
  for (const ClaimedItem& claim : record) {
    shown += (shown.empty() ? L"" : L" ") +
             std::wstring(claim.wasPresent ? L"=" : L"+") + claim.item;
    for (std::size_t i = 0; i < claim.owners.size(); ++i) {
      shown += (i == 0 ? L":" : L",") + claim.owners[i];
    }
  }
  return shown;
}

OwnerRecord Record(const std::wstring& shown) {
  OwnerRecord record;
  std::wistringstream claims(shown);
  for (std::wstring word; claims >> word;) {
    const std::size_t colon = word.find(L':');
    record.push_back({word.substr(1, colon - 1), word[0] == L'=', {}});
    std::wistringstream owners(word.substr(colon + 1));
    for (std::wstring owner; std::getline(owners, owner, L',');) {
      record.back().owners.push_back(owner);
    }
  }
  return record;
}

TEST(OwnerRecord, ClaimsAndReleases) {
  struct Case {
    const char* what;
    const wchar_t *before, *item, *owner;
    int expected;    // for a claim, whether the record changes
    bool listHolds;  // for a claim
    const wchar_t* after;
  };
  const auto r = [](Release release) { return static_cast<int>(release); };
  const Case claims[] = {
      {"new item", L"", L"t", L"A", true, false, L"+t:A"},
      {"item already listed", L"", L"t", L"A", true, true, L"=t:A"},
      {"claimed twice", L"+t:A", L"t", L"A", false, true, L"+t:A"},
      {"second owner; the first claim decides", L"+t:A", L"T", L"B", true, true,
       L"+t:A,B"},
      {"owners compare exactly", L"+t:A", L"t", L"a", true, false, L"+t:A,a"},
      {"non-ASCII letters differ", L"=\u00E9:A", L"\u00C9", L"A", true, false,
       L"=\u00E9:A +\u00C9:A"},
  };
  for (const Case& c : claims) {
    OwnerRecord record = Record(c.before);
    EXPECT_EQ(ClaimItem(record, c.item, c.owner, c.listHolds), c.expected != 0)
        << c.what;
    EXPECT_EQ(Show(record), c.after) << c.what;
  }
  const Case releases[] = {
      {"another owner still needs it", L"+t:A,B", L"T", L"A",
       r(Release::StillClaimed), false, L"+t:B"},
      {"last owner of an added item", L"+t:A", L"T", L"A",
       r(Release::RemoveItem), false, L""},
      {"last owner of an item found", L"=t:A +u:B", L"t", L"A",
       r(Release::KeepItem), false, L"+u:B"},
      {"never claimed", L"+t:A", L"u", L"A", r(Release::NotClaimed), false,
       L"+t:A"},
      {"claimed by others only", L"+t:A", L"t", L"B", r(Release::NotClaimed),
       false, L"+t:A"},
  };
  for (const Case& c : releases) {
    OwnerRecord record = Record(c.before);
    EXPECT_EQ(IsClaimedBy(record, c.item, c.owner),
              c.expected != r(Release::NotClaimed))
        << c.what;
    EXPECT_EQ(static_cast<int>(ReleaseClaim(record, c.item, c.owner)),
              c.expected)
        << c.what;
    EXPECT_EQ(Show(record), c.after) << c.what;
  }
}

TEST(OwnerRecord, StoredFormatKeepsEveryItemExactly) {
  const OwnerRecord record =
      Record(L"+%P%\\\u00C9\U0001F600:{G},x=y =\u00E9:o");
  const std::wstring data = FormatOwnerRecord(record);
  EXPECT_EQ(data,
            L"semilist owners 1\0added %P%\\\u00C9\U0001F600\0"
            L"owner {G}\0owner x=y\0found \u00E9\0owner o\0\0"sv);
  for (const std::wstring& padded : {data, data + L'\0'}) {
    OwnerRecord parsed;
    ASSERT_TRUE(ParseOwnerRecord(padded, parsed));
    EXPECT_EQ(Show(parsed), Show(record));
  }
  const std::wstring_view refused[] = {
      L""sv,
      L"semilist owners 1"sv,  // no terminating NUL
      L"semilist owners 2\0\0"sv,
      L"added a\0owner A\0\0"sv,            // no header
      L"semilist owners 1\0added a\0\0"sv,  // an item nobody owns
      L"semilist owners 1\0added a\0owner A\0\0added b\0owner A\0\0"sv,
      L"semilist owners 1\0added a\0owner A\0found A\0owner B\0\0"sv,
      L"semilist owners 1\0added a\0owner A\0owner A\0\0"sv,
  };
  for (const std::wstring_view data : refused) {
    OwnerRecord kept = record;
    EXPECT_FALSE(ParseOwnerRecord(std::wstring(data), kept))
        << testing::PrintToString(std::wstring(data));
    EXPECT_EQ(Show(kept), Show(record));
  }
}

}  // namespace
}  // namespace semilist
