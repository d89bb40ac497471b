// SemilistSchedule, the immediate action of semilist.wxi: for each
// SemilistPath.<component> property it asks the component's states and
// schedules the edit they need, with its rollback first, so that an author
// writes one line per entry and no condition or sequence.
#include <string>
#include <vector>

#include "command_line/command_line.h"
#include "in_process/msi_session.h"
#include "msi_rows/path_row.h"
#include "path_list/path_list.h"

namespace {

using semilist::Installer;
using semilist::Log;
using semilist::MsiHandle;
using semilist::ReadSized;

// The actions that semilist.wxi holds, and the Binary row of the DLL.
constexpr wchar_t kBinaryKey[] = L"SemilistDll";
constexpr wchar_t kBroadcast[] = L"SemilistBroadcast";
// Rollback actions are added at run time, as temporary rows: some tools
// build every action of a .wxi as an immediate one (wixl before 0.102
// ignores Execute="rollback"), and a rollback run at once would undo the
// edit before it was made. The type bits are Windows Installer's: a DLL in
// the Binary table 1, exit status ignored 64, rollback 256, in the script
// 1024, no impersonation 2048.
struct ActionRow {
  const wchar_t* action;
  int type;
  const wchar_t* entry;
};
constexpr ActionRow kSystemRollback = {L"SemilistEditSystemRollback", 3393,
                                       L"SemilistScheduledEdit"};
constexpr ActionRow kUserRollback = {L"SemilistEditUserRollback", 1345,
                                     L"SemilistScheduledEdit"};
constexpr ActionRow kBroadcastRollback = {L"SemilistBroadcastRollback", 3393,
                                          L"SemilistCustomAction"};

struct PlannedRow {
  std::wstring property;
  semilist::PathRow row;
  semilist::RowEdits edits;
};

// The names of the SemilistPath. properties, in the Property table's order.
bool FindRows(const Installer& installer, MSIHANDLE install,
              std::vector<std::wstring>& names) {
  const MsiHandle database(installer, installer.activeDatabase(install));
  MsiHandle view(installer, 0);
  if (database.Get() == 0 ||
      installer.openView(database.Get(), L"SELECT `Property` FROM `Property`",
                         view.Receive()) != ERROR_SUCCESS ||
      installer.executeView(view.Get(), 0) != ERROR_SUCCESS) {
    return false;
  }
  for (;;) {
    MsiHandle record(installer, 0);
    const UINT status = installer.fetchRecord(view.Get(), record.Receive());
    if (status == ERROR_NO_MORE_ITEMS) return true;
    if (status != ERROR_SUCCESS) return false;
    std::wstring name;
    if (!ReadSized(
            [&](wchar_t* buffer, DWORD* length) {
              return installer.getString(record.Get(), 1, buffer, length);
            },
            name)) {
      return false;
    }
    if (name.compare(0, semilist::kPathRowPrefix.size(),
                     semilist::kPathRowPrefix) == 0) {
      names.push_back(name);
    }
  }
}

// `word` with its [Property] references resolved, as the installer formats.
bool FormatWord(const Installer& installer, MSIHANDLE install,
                const std::wstring& word, std::wstring& formatted) {
  const MsiHandle record(installer, installer.createRecord(0));
  return record.Get() != 0 &&
         installer.setString(record.Get(), 0, word.c_str()) == ERROR_SUCCESS &&
         ReadSized(
             [&](wchar_t* buffer, DWORD* length) {
               return installer.formatRecord(install, record.Get(), buffer,
                                             length);
             },
             formatted);
}

// Decides one row, or says why it cannot be, in `line`. The value is split
// into words before each is formatted, so that a folder that ends in a
// backslash or holds a quote stays one word.
bool PlanRow(const Installer& installer, MSIHANDLE install,
             const std::wstring& property, const std::wstring& productCode,
             bool productRemoved, PlannedRow& plan, std::wstring& line) {
  const std::wstring component =
      property.substr(semilist::kPathRowPrefix.size());
  line = L"semilist: " + property + L": ";
  std::wstring value;
  if (!semilist::ReadProperty(installer, install, property.c_str(), value)) {
    line += L"its value could not be read";
    return false;
  }
  INSTALLSTATE installed = INSTALLSTATE_UNKNOWN;
  INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
  if (installer.componentState(install, component.c_str(), &installed,
                               &action) != ERROR_SUCCESS) {
    line += L"the MSI has no component " + component +
            L": name the property SemilistPath. and the key of the component "
            L"that installs the folder";
    return false;
  }
  std::vector<std::wstring> words = semilist::SplitCommandLine(value);
  for (std::wstring& word : words) {
    std::wstring formatted;
    if (!FormatWord(installer, install, word, formatted)) {
      line += L"'" + word + L"' could not be formatted";
      return false;
    }
    word = formatted;
  }
  std::wstring why;
  if (!semilist::ParsePathRow(words, productCode, plan.row, why)) {
    line += L"'" + value + L"' is not an edit semilist makes: " + why;
    return false;
  }
  plan.property = property;
  const semilist::RowTask task =
      semilist::TaskFor(installed, action, productRemoved);
  plan.edits = semilist::EditsFor(plan.row, task);
  line += L"component " + component + L" " + semilist::StateInWords(installed) +
          L" -> " + semilist::StateInWords(action) +
          (productRemoved ? L" in an uninstall" : L"") + L": " +
          semilist::TaskInWords(task) + L", ";
  if (plan.edits.edit.empty()) {
    line += L"so nothing is scheduled";
  } else {
    line += L"scheduled " + plan.edits.edit +
            (plan.edits.rollback.empty()
                 ? L", with no rollback: a repair that fails leaves the "
                   L"product, and its entry, installed"
                 : L", rolled back by " + plan.edits.rollback);
  }
  return true;
}

bool AddActionRow(const Installer& installer, MSIHANDLE install,
                  const ActionRow& row) {
  const MsiHandle database(installer, installer.activeDatabase(install));
  MsiHandle view(installer, 0);
  const MsiHandle record(installer, installer.createRecord(4));
  return database.Get() != 0 && record.Get() != 0 &&
         installer.openView(database.Get(),
                            L"SELECT `Action`, `Type`, `Source`, `Target` "
                            L"FROM `CustomAction`",
                            view.Receive()) == ERROR_SUCCESS &&
         installer.executeView(view.Get(), 0) == ERROR_SUCCESS &&
         installer.setString(record.Get(), 1, row.action) == ERROR_SUCCESS &&
         installer.setInteger(record.Get(), 2, row.type) == ERROR_SUCCESS &&
         installer.setString(record.Get(), 3, kBinaryKey) == ERROR_SUCCESS &&
         installer.setString(record.Get(), 4, row.entry) == ERROR_SUCCESS &&
         installer.modifyView(view.Get(), MSIMODIFY_INSERT_TEMPORARY,
                              record.Get()) == ERROR_SUCCESS;
}

// A deferred action's CustomActionData is the property named as the
// action when it is scheduled, so one action serves every row.
bool Schedule(const Installer& installer, MSIHANDLE install,
              const wchar_t* action, const std::wstring& text) {
  return installer.setProperty(install, action, text.c_str()) ==
             ERROR_SUCCESS &&
         installer.doAction(install, action) == ERROR_SUCCESS;
}

UINT ScheduleRows(const Installer& installer, MSIHANDLE install) {
  std::wstring productCode;
  std::wstring remove;
  std::vector<std::wstring> names;
  if (!semilist::ReadProperty(installer, install, L"ProductCode",
                              productCode) ||
      !semilist::ReadProperty(installer, install, L"REMOVE", remove) ||
      !FindRows(installer, install, names)) {
    Log(installer, install,
        L"semilist: the MSI's properties could not be read; nothing was "
        L"scheduled");
    return ERROR_INSTALL_FAILURE;
  }
  const bool productRemoved = semilist::EqualsNoCase(remove, L"ALL");

  // Every row is checked before any is scheduled, so that a bad one fails
  // the install with nothing changed.
  std::vector<PlannedRow> plans;
  std::vector<std::wstring> lines;
  bool refused = false;
  for (const std::wstring& name : names) {
    PlannedRow plan;
    std::wstring line;
    if (PlanRow(installer, install, name, productCode, productRemoved, plan,
                line)) {
      if (!plan.edits.edit.empty()) plans.push_back(plan);
    } else {
      line += L"; the install fails, and nothing was scheduled";
      refused = true;
    }
    lines.push_back(line);
  }
  for (const std::wstring& line : lines) Log(installer, install, line);
  if (refused) return ERROR_INSTALL_FAILURE;
  if (plans.empty()) return ERROR_SUCCESS;

  // Rolled back in reverse order, so the rollback's broadcast comes last.
  bool scheduled =
      AddActionRow(installer, install, kBroadcastRollback) &&
      AddActionRow(installer, install, kSystemRollback) &&
      AddActionRow(installer, install, kUserRollback) &&
      Schedule(installer, install, kBroadcastRollback.action, L"/broadcast");
  for (const PlannedRow& plan : plans) {
    if (!scheduled) break;
    const bool user = plan.row.user;
    if (!plan.edits.rollback.empty()) {
      scheduled = Schedule(installer, install,
                           user ? kUserRollback.action : kSystemRollback.action,
                           plan.edits.rollback);
    }
    scheduled = scheduled &&
                Schedule(installer, install,
                         user ? L"SemilistEditUser" : L"SemilistEditSystem",
                         plan.edits.edit);
  }
  scheduled =
      scheduled && Schedule(installer, install, kBroadcast, L"/broadcast");
  if (!scheduled) {
    Log(installer, install,
        L"semilist: the edits could not be scheduled: does the MSI include "
        L"semilist.wxi, whose actions they are?");
    return ERROR_INSTALL_FAILURE;
  }
  return ERROR_SUCCESS;
}

}  // namespace

extern "C" __declspec(dllexport) UINT
    __stdcall SemilistSchedule(MSIHANDLE install) {
  Installer installer;
  if (!semilist::FindInstaller(installer)) return ERROR_INSTALL_FAILURE;
  try {
    return ScheduleRows(installer, install);
  } catch (...) {
    return ERROR_INSTALL_FAILURE;
  }
}
