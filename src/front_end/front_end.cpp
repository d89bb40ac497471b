#include "front_end.h"

#include <windows.h>

#include <string>

#include "path_list/path_list.h"
#include "registry/registry.h"

namespace semilist {
namespace {

enum class Action { Append, Remove };
enum class Scope { User, System };

// Indexed by Scope; the root key is chosen by the same scope.
const wchar_t* const EnvironmentKeyPaths[] = {
    L"Environment",
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
};

HKEY RootKey(Scope scope) {
  return scope == Scope::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

bool ParseAction(const std::wstring& word, Action& action) {
  if (EqualsNoCase(word, L"/append")) {
    action = Action::Append;
  } else if (EqualsNoCase(word, L"/remove")) {
    action = Action::Remove;
  } else {
    return false;
  }
  return true;
}

bool ParseScope(const std::wstring& word, Scope& scope) {
  if (EqualsNoCase(word, L"/system")) {
    scope = Scope::System;
  } else if (EqualsNoCase(word, L"/user")) {
    scope = Scope::User;
  } else {
    return false;
  }
  return true;
}

void BroadcastEnvironmentChange() {
  // Listeners reload their environment; a hung or slow one is skipped after
  // the time-out, and the outcome changes nothing about the run.
  DWORD_PTR result = 0;
  SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                      reinterpret_cast<LPARAM>(L"Environment"),
                      SMTO_ABORTIFHUNG, 5000, &result);
}

}  // namespace

int RunSemilist(int argc, const wchar_t* const argv[]) {
  Action action{};
  Scope scope{};
  if (argc != 5 || !ParseAction(argv[1], action) ||
      !ParseScope(argv[2], scope)) {
    return kUsageError;
  }
  const HKEY root = RootKey(scope);
  const std::wstring subKey = EnvironmentKeyPaths[static_cast<int>(scope)];
  const std::wstring name = argv[3];
  const std::wstring item = argv[4];

  // Only a value that is not there counts as the empty list. Going on after
  // any other failure would store the item alone, or delete the value, and
  // lose the user's whole list.
  std::wstring current;
  LSTATUS status = ERROR_SUCCESS;
  if (!ReadRegistryString(root, subKey, name, current, status) &&
      !IsNotFound(status)) {
    return kUnreadable;
  }

  const std::wstring edited = action == Action::Append
                                  ? AppendToList(current, item)
                                  : RemoveFromList(current, item);

  bool stored = false;
  if (action == Action::Remove && edited.empty()) {
    // Removing from a value that is not there is already done.
    stored =
        DeleteRegistryValue(root, subKey, name, status) || IsNotFound(status);
  } else {
    stored = WriteRegistryExpandString(root, subKey, name, edited, status);
  }

  BroadcastEnvironmentChange();
  return stored ? kDone : kStoreFailed;
}

}  // namespace semilist
