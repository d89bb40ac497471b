// The Windows Installer custom actions that edit: SemilistCustomAction, for
// actions an author sequences, and SemilistScheduledEdit, for those that
// SemilistSchedule schedules from an MSI's SemilistPath. rows. Both are DLL
// actions from the Binary table (type 1) that run deferred, rollback or
// commit, with their text in CustomActionData, and log one line per call.
#include <string>

#include "command_line/command_line.h"
#include "front_end/edit_lock.h"
#include "front_end/front_end.h"
#include "in_process/msi_session.h"
#include "in_process/run_text.h"
#include "path_list/path_list.h"

namespace {

using semilist::Installer;
using semilist::Log;

const wchar_t* StatusInWords(int status) {
  switch (status) {
    case semilist::kDone:
      return L"done";
    case semilist::kUsageError:
      return L"usage error, nothing was touched";
    case semilist::kUnreadable:
      return L"the list or the owners' record could not be read or is not "
             L"understood, nothing was changed";
    case semilist::kStoreFailed:
      return L"the store failed";
    case semilist::kLockTimedOut:
      return L"the edit lock could not be had, nothing was changed";
    case semilist::kNotListed:
      return L"the list does not hold the item";
    case semilist::kTooLong:
      return L"not done: the variable would grow past what cmd.exe or a "
             L"process can read, and the whole list would be lost to them; "
             L"nothing was changed. Shorten it, or add the folder by hand";
    default:
      return L"out of memory, nothing was stored";
  }
}

// A no-impersonate action runs as LocalSystem, whose own environment a
// /user edit would change, and not the installing user's. A program run as
// LocalSystem may mean that; an installer's action never does.
bool EditsLocalSystemsOwnEnvironment(const std::wstring& text) {
  const std::vector<std::wstring> words = semilist::SplitCommandLine(text);
  return words.size() > 1 && semilist::EqualsNoCase(words[1], L"/user") &&
         semilist::CurrentAccountSid() == L"S-1-5-18";
}

// A scheduled edit leaves the broadcast to the one that its scheduler
// sends after the last edit, and a removal that fails leaves the rest of an
// uninstall to go on: the entry stays, which is the lesser harm.
enum class Caller { Author, Scheduler };

UINT RunAction(const Installer& installer, MSIHANDLE install, Caller caller) {
  // An immediate action runs before the installation script, often
  // unelevated, and nothing would undo it on a failure.
  if (!installer.getMode(install, MSIRUNMODE_SCHEDULED) &&
      !installer.getMode(install, MSIRUNMODE_ROLLBACK) &&
      !installer.getMode(install, MSIRUNMODE_COMMIT)) {
    Log(installer, install,
        std::wstring(L"semilist: ") +
            (caller == Caller::Scheduler ? L"SemilistScheduledEdit"
                                         : L"SemilistCustomAction") +
            L" must be a deferred, rollback or commit action, with its "
            L"command in CustomActionData; it was run as an immediate action "
            L"and did nothing");
    return ERROR_INSTALL_FAILURE;
  }
  std::wstring text;
  if (!semilist::ReadProperty(installer, install, L"CustomActionData", text)) {
    Log(installer, install,
        L"semilist: CustomActionData could not be read; nothing was done");
    return ERROR_INSTALL_FAILURE;
  }
  const bool asLocalSystem = EditsLocalSystemsOwnEnvironment(text);
  const int status =
      asLocalSystem ? static_cast<int>(semilist::kUsageError)
                    : semilist::RunText(text.c_str(),
                                        caller == Caller::Scheduler
                                            ? semilist::AfterEdit::NoBroadcast
                                            : semilist::AfterEdit::Broadcast);
  wchar_t number[11];
  semilist::FormatStatus(status, number);
  // A PATH too long to take the folder is the user's to shorten, and a
  // scheduled removal that fails leaves only its entry behind: both warn,
  // and neither rolls back a product's install or stops its uninstall.
  const bool failedRemoval = caller == Caller::Scheduler &&
                             status != semilist::kDone &&
                             text.compare(0, 7, L"/remove") == 0;
  const bool warning = status == semilist::kTooLong || failedRemoval;
  Log(installer, install,
      L"semilist: " + text + L": " + StatusInWords(status) + L" (status " +
          number + L")" +
          (asLocalSystem
               ? L": the action runs as LocalSystem, so /user would edit "
                 L"LocalSystem's environment, not the installing user's. "
                 L"Make the action impersonated, or use /system"
               : L"") +
          (failedRemoval ? L"; the uninstall goes on and leaves the entry"
                         : L""),
      warning ? INSTALLMESSAGE_WARNING : INSTALLMESSAGE_INFO);
  return status == semilist::kDone || warning ? ERROR_SUCCESS
                                              : ERROR_INSTALL_FAILURE;
}

UINT RunGuarded(MSIHANDLE install, Caller caller) {
  Installer installer;
  if (!semilist::FindInstaller(installer)) return ERROR_INSTALL_FAILURE;
  // The text and the log line need memory; without it, the action fails
  // and the installer rolls back.
  try {
    return RunAction(installer, install, caller);
  } catch (...) {
    return ERROR_INSTALL_FAILURE;
  }
}

}  // namespace

extern "C" __declspec(dllexport) UINT
    __stdcall SemilistCustomAction(MSIHANDLE install) {
  return RunGuarded(install, Caller::Author);
}

extern "C" __declspec(dllexport) UINT
    __stdcall SemilistScheduledEdit(MSIHANDLE install) {
  return RunGuarded(install, Caller::Scheduler);
}
