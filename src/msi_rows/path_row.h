// How one line of an MSI, a property named SemilistPath.<component> that
// holds semilist's words, becomes the edits that its component's install,
// repair or removal needs. Pure computation: no platform calls, so it
// builds and is tested natively as well as for Windows.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace semilist {

// The row's property name is this, then the component's key.
inline constexpr std::wstring_view kPathRowPrefix = L"SemilistPath.";

// Windows Installer's INSTALLSTATE values, as MsiGetComponentState gives
// them; 1 is both "advertised" and, as an action, "removed".
enum ComponentState : int {
  kStateUnknown = -1,
  kStateRemoved = 1,
  kStateAbsent = 2,
  kStateLocal = 3,
  kStateSource = 4,
  kStateDefault = 5,
};

enum class RowTask {
  Nothing,
  Install,    // the component is being installed: the row's edit
  Reinstall,  // repaired or patched: the edit again, which puts back a lost
              // entry
  Remove,     // the component or the whole product goes: the owned removal
};

// What a component's installed and action states ask of its row.
// `productRemoved` is an uninstall of the whole product (REMOVE=ALL).
RowTask TaskFor(int installed, int action, bool productRemoved);

// A row's words, checked: "/append" or "/prepend", "/user" or "/system",
// the variable, the item and the owner, in semilist's spelling.
struct PathRow {
  std::wstring verb;
  std::wstring scope;
  std::wstring name;
  std::wstring item;
  std::wstring owner;
  bool user = false;
};

// Reads the row's words, each already formatted; without an /owner: the
// owner is `defaultOwner`. False, and `why` in words, for words that
// semilist would refuse, or that are not an edit an install makes.
bool ParsePathRow(const std::vector<std::wstring>& words,
                  const std::wstring& defaultOwner, PathRow& row,
                  std::wstring& why);

// semilist's command texts for `task`: the edit, and the rollback that
// undoes it, each empty where there is none.
struct RowEdits {
  std::wstring edit;
  std::wstring rollback;
};
RowEdits EditsFor(const PathRow& row, RowTask task);

// For the log.
const wchar_t* StateInWords(int state);
const wchar_t* TaskInWords(RowTask task);

}  // namespace semilist
