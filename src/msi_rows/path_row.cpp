#include "msi_rows/path_row.h"

#include "command_line/command_line.h"
#include "path_list/path_list.h"

namespace semilist {
namespace {

bool IsInstalledHere(int state) {
  return state == kStateLocal || state == kStateSource;
}

std::wstring CommandText(const std::wstring& verb, const PathRow& row) {
  std::wstring text = verb;
  for (const std::wstring* word : {&row.scope, &row.name, &row.item}) {
    text += L' ';
    text += QuoteArgument(*word);
  }
  return text + L' ' + QuoteArgument(L"/owner:" + row.owner);
}

}  // namespace

RowTask TaskFor(int installed, int action, bool productRemoved) {
  if (!IsInstalledHere(installed)) {
    return action == kStateLocal || action == kStateSource ? RowTask::Install
                                                           : RowTask::Nothing;
  }
  // An owned removal drops only this product's claim, so an uninstall takes
  // it also where Windows Installer keeps the component for another product
  // and reports no action for it: else the claim would outlive the product
  // and keep the entry for good.
  if (productRemoved || action == kStateAbsent || action == kStateRemoved) {
    return RowTask::Remove;
  }
  return action == kStateLocal || action == kStateSource ? RowTask::Reinstall
                                                         : RowTask::Nothing;
}

bool ParsePathRow(const std::vector<std::wstring>& words,
                  const std::wstring& defaultOwner, PathRow& row,
                  std::wstring& why) {
  if (words.size() != 4 && words.size() != 5) {
    why =
        L"it must hold /append or /prepend, /user or /system, NAME, ITEM "
        L"and optionally /owner:TOKEN";
    return false;
  }
  if (EqualsNoCase(words[0], L"/append")) {
    row.verb = L"/append";
  } else if (EqualsNoCase(words[0], L"/prepend")) {
    row.verb = L"/prepend";
  } else {
    why =
        L"its first word must be /append or /prepend: the component's "
        L"removal takes the item out";
    return false;
  }
  row.user = EqualsNoCase(words[1], L"/user");
  if (!row.user && !EqualsNoCase(words[1], L"/system")) {
    why = L"its second word must be /user or /system";
    return false;
  }
  row.scope = row.user ? L"/user" : L"/system";
  row.name = words[2];
  row.item = words[3];
  // An empty item would be a property that is not set; an item with a
  // separator, pieces that the removal cannot find.
  if (row.item.empty() || row.item.find(L';') != std::wstring::npos) {
    why = L"its item is empty or holds ';'";
    return false;
  }
  row.owner = defaultOwner;
  if (words.size() == 5) {
    constexpr std::wstring_view prefix = L"/owner:";
    const std::wstring& word = words[4];
    if (word.size() <= prefix.size() ||
        !EqualsNoCase(std::wstring_view(word).substr(0, prefix.size()),
                      prefix)) {
      why = L"its last word must be /owner: with a token";
      return false;
    }
    row.owner = word.substr(prefix.size());
  }
  if (row.owner.empty()) {
    why = L"it has no owner";
    return false;
  }
  return true;
}

RowEdits EditsFor(const PathRow& row, RowTask task) {
  switch (task) {
    case RowTask::Install:
      // The owners' record makes the removal exact: it takes out only what
      // this edit added, and keeps what was there before.
      return {CommandText(row.verb, row), CommandText(L"/remove", row)};
    case RowTask::Reinstall:
      // The product stays installed when a repair rolls back, and so does
      // its claim; its entry stays with them.
      return {CommandText(row.verb, row), {}};
    case RowTask::Remove:
      return {CommandText(L"/remove", row), CommandText(row.verb, row)};
    case RowTask::Nothing:
      break;
  }
  return {};
}

const wchar_t* StateInWords(int state) {
  switch (state) {
    case kStateRemoved:
      return L"removed";
    case kStateAbsent:
      return L"absent";
    case kStateLocal:
      return L"local";
    case kStateSource:
      return L"source";
    case kStateDefault:
      return L"default";
    default:
      return L"unknown";
  }
}

const wchar_t* TaskInWords(RowTask task) {
  switch (task) {
    case RowTask::Install:
      return L"installed";
    case RowTask::Reinstall:
      return L"reinstalled";
    case RowTask::Remove:
      return L"removed";
    case RowTask::Nothing:
      break;
  }
  return L"left as it is";
}

}  // namespace semilist
