// Owned installs and uninstalls against a small model of the claims, plus
// the law they exist for: once every owner has let go, the list is what it
// was before the first claim. Also records read from arbitrary data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include "owners/owner_record.h"
#include "path_list/path_list.h"

namespace {

using semilist::OwnerRecord;
using semilist::Release;

void Check(bool law) {
  if (!law) std::abort();
}

// Items that differ in ASCII case only, and in non-ASCII case only; the
// model knows them by their index, with a and A one item.
const wchar_t* const kItems[] = {L"a", L"A", L"b", L"\u00E9", L"\u00C9"};
const int kSameItem[] = {0, 0, 2, 3, 4};
const wchar_t* const kOwners[] = {L"1", L"2", L"x", L"X"};

struct ModelClaim {
  bool wasPresent = false;
  std::set<std::wstring> owners;
};

void RunInstalls(const std::uint8_t* data, std::size_t size) {
  // The user's own list, of the same items, so that claims meet them.
  std::wstring list;
  std::size_t at = 0;
  for (; at < size && at < 4 && data[at] < 0x40; ++at) {
    list += kItems[data[at] % 5] + std::wstring(L";");
  }
  const std::wstring before = semilist::RemoveFromList(list, L"");
  OwnerRecord record;
  std::map<int, ModelClaim> model;
  const auto step = [&](int item, const std::wstring& owner, bool release) {
    ModelClaim& expected = model[kSameItem[item]];
    if (!release) {
      const bool holds = semilist::ListHolds(list, kItems[item]);
      if (expected.owners.empty()) expected.wasPresent = holds;
      Check(semilist::ClaimItem(record, kItems[item], owner, holds) ==
            expected.owners.insert(owner).second);
      list = semilist::AppendToList(list, kItems[item]);
      return;
    }
    const Release got = semilist::ReleaseClaim(record, kItems[item], owner);
    if (expected.owners.erase(owner) == 0) {
      Check(got == Release::NotClaimed);
    } else if (!expected.owners.empty()) {
      Check(got == Release::StillClaimed);
    } else {
      Check(got ==
            (expected.wasPresent ? Release::KeepItem : Release::RemoveItem));
    }
    if (got == Release::RemoveItem) {
      list = semilist::RemoveFromList(list, kItems[item]);
    }
  };

  for (; at < size; ++at) {
    step(data[at] % 5, kOwners[(data[at] >> 3) % 4], (data[at] & 0x80) != 0);
    // What is stored reads back as it was.
    OwnerRecord parsed;
    const std::wstring stored = semilist::FormatOwnerRecord(record);
    Check(semilist::ParseOwnerRecord(stored, parsed));
    Check(semilist::FormatOwnerRecord(parsed) == stored);
  }
  for (const wchar_t* owner : kOwners) {
    for (int item = 0; item < 5; ++item) step(item, owner, true);
  }
  Check(record.empty());
  Check(semilist::RemoveFromList(list, L"") == before);
}

// Arbitrary data after a valid header: a record that is read is the one
// that would be written, so nothing in accepted data is lost or misread.
void ParseData(const std::uint8_t* data, std::size_t size) {
  static const wchar_t* const kPieces[] = {L"added ", L"found ", L"owner ",
                                           L"a",      L"A",      L"\u00E9"};
  std::wstring units = std::wstring(L"semilist owners 1") + L'\0';
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] & 0x80) {
      units += static_cast<wchar_t>(data[i] & 0x7F);
    } else {
      units +=
          data[i] % 8 < 2 ? std::wstring(1, L'\0') : kPieces[data[i] % 8 - 2];
    }
  }
  OwnerRecord record;
  if (!semilist::ParseOwnerRecord(units, record)) return;
  const std::size_t end = units.find_last_not_of(L'\0');
  Check(semilist::FormatOwnerRecord(record) ==
        units.substr(0, end + 1) + std::wstring(2, L'\0'));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 1) return 0;
  if (data[0] & 1) {
    RunInstalls(data + 1, size - 1);
  } else {
    ParseData(data + 1, size - 1);
  }
  return 0;
}
