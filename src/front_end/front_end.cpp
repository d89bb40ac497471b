#include "front_end.h"

#include <windows.h>

#include <string>
#include <string_view>

#include "front_end/broadcast.h"
#include "front_end/edit_lock.h"
#include "path_list/path_list.h"
#include "registry/registry.h"

namespace semilist {
namespace {

enum class Action { Append, Prepend, Remove };
enum class Scope { User, System };

// Indexed by Scope; the root key is chosen by the same scope.
const wchar_t* const EnvironmentKeyPaths[] = {
    L"Environment",
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
};

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

// Reads, edits and stores the value; the caller holds the edit lock.
ExitStatus EditValue(Action action, HKEY root, const std::wstring& subKey,
                     const std::wstring& name, const std::wstring& item) {
  // Only a value that is not there counts as the empty list. Going on after
  // any other failure would store the item alone, or delete the value, and
  // lose the user's whole list.
  std::wstring current;
  DWORD type = REG_NONE;
  LSTATUS status = ERROR_SUCCESS;
  if (!ReadRegistryString(root, subKey, name, current, type, status) &&
      !IsNotFound(status)) {
    return kUnreadable;
  }

  std::wstring edited;
  switch (action) {
    case Action::Append:
      edited = AppendToList(current, item);
      break;
    case Action::Prepend:
      edited = PrependToList(current, item);
      break;
    case Action::Remove:
      edited = RemoveFromList(current, item);
      break;
  }

  if (action == Action::Remove && edited.empty()) {
    // Removing from a value that is not there is already done.
    return DeleteRegistryValue(root, subKey, name, status) || IsNotFound(status)
               ? kDone
               : kStoreFailed;
  }
  return WriteRegistryString(root, subKey, name, edited,
                             StoredType(type, edited), status)
             ? kDone
             : kStoreFailed;
}

}  // namespace

int RunSemilist(int argc, const wchar_t* const argv[]) {
  // Sent on its own, for what edits the environment without telling anyone:
  // an MSI's Environment table run from session 0, or with a reboot pending.
  if (argc == 2 && EqualsNoCase(argv[1], L"/broadcast")) {
    BroadcastEnvironmentChange();
    return kDone;
  }

  Action action{};
  Scope scope{};
  if (argc != 5 || !ParseAction(argv[1], action) ||
      !ParseScope(argv[2], scope)) {
    return kUsageError;
  }

  // /user edits of different accounts never touch the same value, and an
  // unelevated run could not open the machine's lock while an elevated run
  // held it; so each account has a lock of its own. Should the token not
  // name the account, the machine's lock still keeps runs apart.
  EditLock lock;
  const std::wstring account =
      scope == Scope::User ? CurrentAccountSid() : std::wstring();
  if (!lock.Acquire(account, kLockTimeoutMs)) return kLockTimedOut;
  const ExitStatus status =
      EditValue(action, RootKey(scope),
                EnvironmentKeyPaths[static_cast<int>(scope)], argv[3], argv[4]);
  // A slow listener can hold up the broadcast for seconds; the next run
  // need not wait for that.
  lock.Release();

  if (status != kUnreadable) BroadcastEnvironmentChange();
  return status;
}

}  // namespace semilist
