// Who claimed which items of a list value, so that an uninstall removes only
// what its install added. Pure computation: no platform calls, so it builds
// and is tested natively as well as for Windows.
#pragma once

#include <string>
#include <vector>

namespace semilist {

struct ClaimedItem {
  std::wstring item;  // as first claimed; matched with EqualsNoCase
  // The list held the item before its first claim, so it was the user's or
  // another tool's, and stays when the last owner lets go.
  bool wasPresent = false;
  std::vector<std::wstring> owners;  // compared exactly, never empty
};

using OwnerRecord = std::vector<ClaimedItem>;

// Reads the record from a REG_MULTI_SZ value's data, every code unit of it;
// false for data that this version does not understand, including a record
// of another format version.
bool ParseOwnerRecord(const std::wstring& data, OwnerRecord& record);

// The REG_MULTI_SZ data for `record`, its terminating NULs included.
std::wstring FormatOwnerRecord(const OwnerRecord& record);

// Records that `owner` needs `item`; `listHolds` tells whether the list
// holds it now, which counts only for the first claim. False when the owner
// had claimed it already, and the record is unchanged.
bool ClaimItem(OwnerRecord& record, const std::wstring& item,
               const std::wstring& owner, bool listHolds);

// True when `owner` claims `item`.
bool IsClaimedBy(const OwnerRecord& record, const std::wstring& item,
                 const std::wstring& owner);

enum class Release {
  NotClaimed,    // the owner never claimed the item: nothing changes
  StillClaimed,  // the owner was dropped, others still need the item
  KeepItem,      // the last owner went, and the item was there before
  RemoveItem,    // the last owner went, and semilist had added the item
};

// Drops `owner` from `item`'s claim, and the claim once no owner is left.
Release ReleaseClaim(OwnerRecord& record, const std::wstring& item,
                     const std::wstring& owner);

}  // namespace semilist
