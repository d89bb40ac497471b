// Owned installs and uninstalls against a small model of the claims, plus
// the law they exist for: once every owner has let go, the list is what it
// was before the first claim. Also records read from arbitrary data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "owners/owner_record.h"
#include "path_list/path_list.h"

namespace {

using semilist::OwnerRecord;
using semilist::Release;

void Check(bool law) {
  if (!law) std::abort();
}

// Items that differ in ASCII case only, and in non-ASCII case only.
const wchar_t* const kItems[] = {L"a", L"A", L"b", L"\u00E9", L"\u00C9"};
const wchar_t* const kOwners[] = {L"1", L"2", L"x", L"X"};

// The model: one claim per item up to ASCII case, with its owners as a set.
struct ModelClaim {
  std::wstring item;
  bool wasPresent;
  std::vector<std::wstring> owners;
};

ModelClaim* Find(std::vector<ModelClaim>& model, const std::wstring& item) {
  for (ModelClaim& claim : model) {
    if (semilist::EqualsNoCase(claim.item, item)) return &claim;
  }
  return nullptr;
}

bool Erase(std::vector<std::wstring>& owners, const std::wstring& owner) {
  for (auto it = owners.begin(); it != owners.end(); ++it) {
    if (*it == owner) {
      owners.erase(it);
      return true;
    }
  }
  return false;
}

void CheckRoundTrip(const OwnerRecord& record) {
  OwnerRecord parsed;
  Check(
      semilist::ParseOwnerRecord(semilist::FormatOwnerRecord(record), parsed));
  Check(semilist::FormatOwnerRecord(parsed) ==
        semilist::FormatOwnerRecord(record));
}

void RunInstalls(const std::uint8_t* data, std::size_t size) {
  // The user's own list: items from the same set, so that claims meet them.
  std::wstring list;
  std::size_t at = 0;
  for (; at < size && data[at] != 0xFF && at < 4; ++at) {
    list += kItems[data[at] % 5];
    list += L';';
  }
  const std::wstring before = semilist::RemoveFromList(list, L"");
  OwnerRecord record;
  std::vector<ModelClaim> model;
  const auto claim = [&](const std::wstring& item, const std::wstring& owner) {
    const bool holds = semilist::ListHolds(list, item);
    const bool claimed = semilist::ClaimItem(record, item, owner, holds);
    ModelClaim* expected = Find(model, item);
    if (expected == nullptr) {
      model.push_back({item, holds, {owner}});
      Check(claimed);
    } else {
      bool known = false;
      for (const auto& o : expected->owners) known = known || o == owner;
      Check(claimed == !known);
      if (!known) expected->owners.push_back(owner);
    }
    list = semilist::AppendToList(list, item);
  };
  const auto release = [&](const std::wstring& item,
                           const std::wstring& owner) {
    const Release got = semilist::ReleaseClaim(record, item, owner);
    ModelClaim* expected = Find(model, item);
    if (expected == nullptr || !Erase(expected->owners, owner)) {
      Check(got == Release::NotClaimed);
    } else if (!expected->owners.empty()) {
      Check(got == Release::StillClaimed);
    } else {
      Check(got ==
            (expected->wasPresent ? Release::KeepItem : Release::RemoveItem));
      model.erase(model.begin() + (expected - model.data()));
    }
    if (got == Release::RemoveItem) list = semilist::RemoveFromList(list, item);
  };

  for (; at < size; ++at) {
    const std::wstring item = kItems[data[at] % 5];
    const std::wstring owner = kOwners[(data[at] >> 3) % 4];
    if (data[at] & 0x80) {
      release(item, owner);
    } else {
      claim(item, owner);
    }
    CheckRoundTrip(record);
    Check(record.size() == model.size());
  }
  // Every owner uninstalls.
  for (const wchar_t* owner : kOwners) {
    for (const wchar_t* item : kItems) release(item, owner);
  }
  Check(record.empty());
  Check(semilist::RemoveFromList(list, L"") == before);
}

// Arbitrary data after a valid header: a record read back is the one that
// would be written, so nothing in accepted data is lost or reinterpreted.
void ParseData(const std::uint8_t* data, std::size_t size) {
  static const wchar_t* const kPieces[] = {
      L"\0", L"\0", L"added ", L"found ", L"owner ", L"a", L"A", L"\u00E9"};
  std::wstring units = std::wstring(L"semilist owners 1") + L'\0';
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] & 0x80) {
      units += static_cast<wchar_t>(data[i] & 0x7F);
    } else {
      units += data[i] % 8 < 2 ? std::wstring(1, L'\0')
                               : std::wstring(kPieces[data[i] % 8]);
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
