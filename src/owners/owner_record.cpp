#include "owner_record.h"

#include <algorithm>
#include <string_view>

#include "path_list/path_list.h"

namespace semilist {
namespace {

// One string per line of a REG_MULTI_SZ, each tagged, so that an
// administrator can read the record in a registry editor. The header names
// the format's version; a later format gets another header, which this
// version refuses rather than misreads. Items and owners come from the
// command line and so never hold a NUL, the one unit a string cannot hold.
constexpr std::wstring_view kHeader = L"semilist owners 1";
constexpr std::wstring_view kAdded = L"added ";
constexpr std::wstring_view kFound = L"found ";
constexpr std::wstring_view kOwner = L"owner ";

bool StartsWith(std::wstring_view text, std::wstring_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Const as the record is: a question finds what an edit would change.
template <typename Record>
auto* FindClaim(Record& record, const std::wstring& item) {
  const auto found = std::find_if(
      record.begin(), record.end(),
      [&](const ClaimedItem& claim) { return EqualsNoCase(claim.item, item); });
  return found == record.end() ? nullptr : &*found;
}

bool Holds(const std::vector<std::wstring>& owners, const std::wstring& owner) {
  return std::find(owners.begin(), owners.end(), owner) != owners.end();
}

}  // namespace

bool ParseOwnerRecord(const std::wstring& data, OwnerRecord& record) {
  // Every string ends with a NUL and the list with one more; further NULs
  // only pad. An empty string before the end would hide what follows it.
  const std::size_t end = data.find_last_not_of(L'\0');
  if (end == std::wstring::npos || end + 1 == data.size()) return false;
  const std::wstring_view strings(data.data(), end + 1);

  OwnerRecord parsed;
  bool header = false;
  std::size_t start = 0;
  while (start <= strings.size()) {
    const std::size_t nul =
        std::min(strings.find(L'\0', start), strings.size());
    const std::wstring_view line = strings.substr(start, nul - start);
    start = nul + 1;
    if (!header) {
      if (line != kHeader) return false;
      header = true;
    } else if (StartsWith(line, kAdded) || StartsWith(line, kFound)) {
      std::wstring item(line.substr(kAdded.size()));
      if (item.empty() || FindClaim(parsed, item) != nullptr) return false;
      parsed.push_back({std::move(item), StartsWith(line, kFound), {}});
    } else if (StartsWith(line, kOwner) && !parsed.empty()) {
      std::wstring owner(line.substr(kOwner.size()));
      auto& owners = parsed.back().owners;
      if (owner.empty() || Holds(owners, owner)) return false;
      owners.push_back(std::move(owner));
    } else {
      return false;
    }
  }
  if (std::any_of(parsed.begin(), parsed.end(), [](const ClaimedItem& claim) {
        return claim.owners.empty();
      })) {
    return false;
  }
  record = std::move(parsed);
  return true;
}

std::wstring FormatOwnerRecord(const OwnerRecord& record) {
  std::wstring data(kHeader);
  data += L'\0';
  for (const ClaimedItem& claim : record) {
    data += claim.wasPresent ? kFound : kAdded;
    data += claim.item;
    data += L'\0';
    for (const std::wstring& owner : claim.owners) {
      data += kOwner;
      data += owner;
      data += L'\0';
    }
  }
  data += L'\0';
  return data;
}

bool ClaimItem(OwnerRecord& record, const std::wstring& item,
               const std::wstring& owner, bool listHolds) {
  ClaimedItem* claim = FindClaim(record, item);
  if (claim == nullptr) {
    record.push_back({item, listHolds, {owner}});
    return true;
  }
  if (Holds(claim->owners, owner)) return false;
  claim->owners.push_back(owner);
  return true;
}

bool IsClaimedBy(const OwnerRecord& record, const std::wstring& item,
                 const std::wstring& owner) {
  const ClaimedItem* claim = FindClaim(record, item);
  return claim != nullptr && Holds(claim->owners, owner);
}

Release ReleaseClaim(OwnerRecord& record, const std::wstring& item,
                     const std::wstring& owner) {
  ClaimedItem* claim = FindClaim(record, item);
  if (claim == nullptr || !Holds(claim->owners, owner)) {
    return Release::NotClaimed;
  }
  auto& owners = claim->owners;
  owners.erase(std::find(owners.begin(), owners.end(), owner));
  if (!owners.empty()) return Release::StillClaimed;
  const bool wasPresent = claim->wasPresent;
  record.erase(record.begin() + (claim - record.data()));
  return wasPresent ? Release::KeepItem : Release::RemoveItem;
}

}  // namespace semilist
