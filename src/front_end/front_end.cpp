#include "front_end.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "front_end/broadcast.h"
#include "front_end/edit_lock.h"
#include "front_end/new_process_value.h"
#include "owners/owner_record.h"
#include "path_list/path_list.h"
#include "registry/registry.h"

namespace semilist {
namespace {

enum class Action { Append, Prepend, Remove, Contains };
enum class Scope { User, System };

// Indexed by Scope; the root key is chosen by the same scope.
const wchar_t* const EnvironmentKeyPaths[] = {
    L"Environment",
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
};

// Where owned edits keep their claims, by Scope: not under an Environment
// key, where every value becomes an environment variable. Always the 64-bit
// view, so that the x86 and x64 programs share one record.
const wchar_t* const OwnerKeyPaths[] = {
    L"Software\\semilist\\Owners",
    L"SOFTWARE\\semilist\\Owners",
};
constexpr REGSAM kOwnerView = KEY_WOW64_64KEY;

HKEY RootKey(Scope scope) {
  return scope == Scope::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

bool ParseAction(std::wstring_view word, Action& action) {
  if (EqualsNoCase(word, L"/append")) {
    action = Action::Append;
  } else if (EqualsNoCase(word, L"/prepend")) {
    action = Action::Prepend;
  } else if (EqualsNoCase(word, L"/remove")) {
    action = Action::Remove;
  } else if (EqualsNoCase(word, L"/contains")) {
    action = Action::Contains;
  } else {
    return false;
  }
  return true;
}

bool ParseScope(std::wstring_view word, Scope& scope) {
  if (EqualsNoCase(word, L"/system")) {
    scope = Scope::System;
  } else if (EqualsNoCase(word, L"/user")) {
    scope = Scope::User;
  } else {
    return false;
  }
  return true;
}

bool ParseOwner(std::wstring_view word, std::wstring& owner) {
  constexpr std::wstring_view prefix = L"/owner:";
  if (word.size() <= prefix.size() ||
      !EqualsNoCase(word.substr(0, prefix.size()), prefix)) {
    return false;
  }
  owner = word.substr(prefix.size());
  return true;
}

// A claim must name one piece of the list: an empty item is never a piece,
// and one with a separator would add pieces that its removal cannot find.
bool IsOneListPiece(std::wstring_view item) {
  return !item.empty() && item.find(L';') == std::wstring_view::npos;
}

// Long enough for any number of queued runs, each of which takes
// milliseconds; short enough that a stuck installer fails visibly.
constexpr DWORD kLockTimeoutMs = 30000;

// The logon environment sets a user's REG_SZ values before their
// REG_EXPAND_SZ ones, and each machine's likewise, so a PATH of REG_EXPAND_SZ
// can refer to a REG_SZ helper list but not to one of its own type. A REG_SZ
// list keeps its type unless the edit brings a reference, which then needs
// expanding; a new value is REG_EXPAND_SZ, so that references keep working.
DWORD StoredType(DWORD foundType, const std::wstring& edited) {
  if (foundType == REG_SZ && edited.find(L'%') == std::wstring::npos) {
    return REG_SZ;
  }
  return REG_EXPAND_SZ;
}

// Only a value that is not there counts as the empty list. Going on after
// any other failure would store the item alone, or delete the value, and
// lose the user's whole list.
bool ReadList(HKEY root, const std::wstring& subKey, const std::wstring& name,
              std::wstring& current, DWORD& type) {
  LSTATUS status = ERROR_SUCCESS;
  return ReadRegistryString(root, subKey, name, current, type, status) ||
         IsNotFound(status);
}

// cmd.exe ignores an inherited variable longer than 8,191 characters, and
// so drops a whole PATH (KB 830473); no process holds one over 32,767.
constexpr std::size_t kVariableLimits[] = {8191, 32767};
constexpr std::size_t kBeyondEveryLimit = SIZE_MAX;

// `value`'s length as a new process of this account gets it: a REG_SZ value
// as stored, a REG_EXPAND_SZ one as expanded for a new process. A failure
// to expand means a value beyond every limit.
std::size_t ProcessLength(const std::wstring& value, DWORD type, Scope scope) {
  if (type != REG_EXPAND_SZ || value.find(L'%') == std::wstring::npos) {
    return value.size();
  }
  const std::optional<std::wstring> expanded =
      ExpandForANewProcess(value, scope == Scope::System);
  return expanded ? expanded->size() : kBeyondEveryLimit;
}

// A new process's Path is the machine's, then ";", then the user's; an
// empty part is left out. Only the length counts, so the order does not.
std::size_t JoinedLength(std::size_t one, std::size_t other) {
  if (one == kBeyondEveryLimit || other == kBeyondEveryLimit) {
    return kBeyondEveryLimit;
  }
  return one + other + (one != 0 && other != 0 ? 1 : 0);
}

// Whether storing `edited` in place of `current`, found as `foundType`,
// takes the variable from at most a limit to over it. A variable already
// over a limit may still grow: that breaks nothing more. For Path the other
// scope's value counts too; where it cannot be read, it counts as absent,
// so that the check never stops an edit for another reason than length.
bool CrossesALimit(Scope scope, const std::wstring& name,
                   const std::wstring& current, DWORD foundType,
                   const std::wstring& edited) {
  std::size_t before = ProcessLength(current, foundType, scope);
  std::size_t after =
      ProcessLength(edited, StoredType(foundType, edited), scope);
  if (EqualsNoCase(name, L"Path")) {
    const Scope other = scope == Scope::User ? Scope::System : Scope::User;
    std::wstring text;
    DWORD type = REG_NONE;
    LSTATUS status = ERROR_SUCCESS;
    const std::size_t otherLength =
        ReadRegistryString(RootKey(other),
                           EnvironmentKeyPaths[static_cast<int>(other)], name,
                           text, type, status)
            ? ProcessLength(text, type, other)
            : 0;
    before = JoinedLength(before, otherLength);
    after = JoinedLength(after, otherLength);
  }
  for (std::size_t limit : kVariableLimits) {
    if (before <= limit && after > limit) return true;
  }
  return false;
}

std::wstring EditList(Action action, const std::wstring& current,
                      const std::wstring& item) {
  switch (action) {
    case Action::Append:
      return AppendToList(current, item);
    case Action::Prepend:
      return PrependToList(current, item);
    case Action::Remove:
    case Action::Contains:
      break;
  }
  return RemoveFromList(current, item);
}

ExitStatus StoreList(Action action, HKEY root, const std::wstring& subKey,
                     const std::wstring& name, const std::wstring& edited,
                     DWORD foundType) {
  LSTATUS status = ERROR_SUCCESS;
  if (action == Action::Remove && edited.empty()) {
    // Removing from a value that is not there is already done.
    return DeleteRegistryValue(root, subKey, name, status) || IsNotFound(status)
               ? kDone
               : kStoreFailed;
  }
  return WriteRegistryString(root, subKey, name, edited,
                             StoredType(foundType, edited), status)
             ? kDone
             : kStoreFailed;
}

// A record that is not there holds no claims; one that cannot be read or
// understood must not be replaced, or every claim in it would be lost.
bool ReadOwners(HKEY root, const std::wstring& subKey, const std::wstring& name,
                OwnerRecord& record) {
  std::wstring data;
  DWORD type = REG_NONE;
  LSTATUS status = ERROR_SUCCESS;
  if (!ReadRegistryData(root, subKey, name, kOwnerView, data, type, status)) {
    return IsNotFound(status);
  }
  return type == REG_MULTI_SZ && ParseOwnerRecord(data, record);
}

bool StoreOwners(HKEY root, const std::wstring& subKey,
                 const std::wstring& name, const OwnerRecord& record) {
  LSTATUS status = ERROR_SUCCESS;
  if (record.empty()) {
    return DeleteRegistryValue(root, subKey, name, status, kOwnerView) ||
           IsNotFound(status);
  }
  return WriteRegistryMultiString(root, subKey, name, kOwnerView,
                                  FormatOwnerRecord(record), status);
}

// Reads, edits and stores the value; the caller holds the edit lock.
ExitStatus EditValue(Action action, Scope scope, const std::wstring& name,
                     const std::wstring& item) {
  const HKEY root = RootKey(scope);
  const std::wstring subKey = EnvironmentKeyPaths[static_cast<int>(scope)];
  std::wstring current;
  DWORD type = REG_NONE;
  if (!ReadList(root, subKey, name, current, type)) return kUnreadable;
  const std::wstring edited = EditList(action, current, item);
  if (action != Action::Remove &&
      CrossesALimit(scope, name, current, type, edited)) {
    return kTooLong;
  }
  return StoreList(action, root, subKey, name, edited, type);
}

// As EditValue, keeping `owner`'s claim on the item, so that a removal takes
// out only what no other owner needs and what was not there before. A claim
// is stored before its item is added, and dropped after its item is removed:
// a run that dies between the two leaves a stale claim, never a lost entry.
ExitStatus EditOwnedValue(Action action, Scope scope, const std::wstring& name,
                          const std::wstring& item, const std::wstring& owner) {
  const HKEY root = RootKey(scope);
  const std::wstring subKey = EnvironmentKeyPaths[static_cast<int>(scope)];
  const std::wstring ownerKey = OwnerKeyPaths[static_cast<int>(scope)];
  std::wstring current;
  DWORD type = REG_NONE;
  OwnerRecord record;
  if (!ReadList(root, subKey, name, current, type) ||
      !ReadOwners(root, ownerKey, name, record)) {
    return kUnreadable;
  }

  if (action != Action::Remove) {
    const std::wstring edited = EditList(action, current, item);
    // Before the claim, so that a refused edit records nothing.
    if (CrossesALimit(scope, name, current, type, edited)) {
      return kTooLong;
    }
    const bool claimed =
        ClaimItem(record, item, owner, ListHolds(current, item));
    if (claimed && !StoreOwners(root, ownerKey, name, record)) {
      return kStoreFailed;
    }
    const ExitStatus status =
        StoreList(action, root, subKey, name, edited, type);
    // The item was not added, so neither is the claim: releasing a claim
    // just made puts the record back as it was. Should that store fail
    // too, the stale claim only keeps the item when the owner lets go.
    if (status != kDone && claimed) {
      ReleaseClaim(record, item, owner);
      StoreOwners(root, ownerKey, name, record);
    }
    return status;
  }

  switch (ReleaseClaim(record, item, owner)) {
    case Release::NotClaimed:
      return kDone;
    case Release::RemoveItem: {
      const ExitStatus status = StoreList(action, root, subKey, name,
                                          RemoveFromList(current, item), type);
      if (status != kDone) return status;
      break;
    }
    case Release::StillClaimed:
    case Release::KeepItem:
      break;
  }
  return StoreOwners(root, ownerKey, name, record) ? kDone : kStoreFailed;
}

// Whether the list holds a piece that /append would take for `item`, and,
// with an owner, whether that owner claims it. Writes nothing.
ExitStatus FindInValue(Scope scope, const std::wstring& name,
                       const std::wstring& item, const std::wstring& owner) {
  const HKEY root = RootKey(scope);
  std::wstring current;
  DWORD type = REG_NONE;
  OwnerRecord record;
  if (!ReadList(root, EnvironmentKeyPaths[static_cast<int>(scope)], name,
                current, type) ||
      (!owner.empty() &&
       !ReadOwners(root, OwnerKeyPaths[static_cast<int>(scope)], name,
                   record))) {
    return kUnreadable;
  }
  const bool found = ListHolds(current, item) &&
                     (owner.empty() || IsClaimedBy(record, item, owner));
  return found ? kDone : kNotListed;
}

}  // namespace

int RunSemilist(int argc, const wchar_t* const argv[], HMODULE image,
                AfterEdit after) {
  // Sent on its own, for what edits the environment without telling anyone:
  // an MSI's Environment table run from session 0, or with a reboot pending.
  if (argc == 2 && EqualsNoCase(argv[1], L"/broadcast")) {
    BroadcastEnvironmentChange(RelayImage(image));
    return kDone;
  }

  Action action{};
  Scope scope{};
  std::wstring owner;
  if ((argc != 5 && argc != 6) || !ParseAction(argv[1], action) ||
      !ParseScope(argv[2], scope)) {
    return kUsageError;
  }
  if (argc == 6 && (!ParseOwner(argv[5], owner) || !IsOneListPiece(argv[4]))) {
    return kUsageError;
  }
  const bool readOnly = action == Action::Contains;
  // Before the wait for the lock, so that the file that the relay starts is
  // the one that made the edit. A question sends no broadcast.
  std::optional<RelayImage> relay;
  if (!readOnly && after == AfterEdit::Broadcast) relay.emplace(image);

  // /user edits of different accounts never touch the same value, and an
  // unelevated run could not open the machine's lock while an elevated run
  // held it; so each account has a lock of its own. Should the token not
  // name the account, the machine's lock still keeps runs apart.
  EditLock lock;
  const std::wstring account =
      scope == Scope::User ? CurrentAccountSid() : std::wstring();
  if (!lock.Acquire(account, kLockTimeoutMs, readOnly)) return kLockTimedOut;
  // Under the lock, so that it never sees half of an owned edit.
  if (readOnly) return FindInValue(scope, argv[3], argv[4], owner);
  const ExitStatus status =
      owner.empty() ? EditValue(action, scope, argv[3], argv[4])
                    : EditOwnedValue(action, scope, argv[3], argv[4], owner);
  // A slow listener can hold up the broadcast for seconds; the next run
  // need not wait for that.
  lock.Release();

  // Nothing was changed where the list could not be read or the edit was
  // refused for its length.
  if (relay && status != kUnreadable && status != kTooLong) {
    BroadcastEnvironmentChange(*relay);
  }
  return status;
}

}  // namespace semilist
