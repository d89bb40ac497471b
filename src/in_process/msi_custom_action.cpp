// The Windows Installer custom action SemilistCustomAction, a DLL action
// from the Binary table (type 1). It runs deferred, rollback or commit, with
// its text in CustomActionData, and logs one line per call to the MSI log.
#include <windows.h>
// After windows.h, which they need.
#include <msi.h>
#include <msiquery.h>

#include <string>

#include "command_line/command_line.h"
#include "front_end/edit_lock.h"
#include "front_end/front_end.h"
#include "front_end/library_function.h"
#include "in_process/run_text.h"
#include "path_list/path_list.h"

namespace {

// msi.dll is not a known DLL, so an import of it would first be looked for
// in the host's folder. The installer's own process has it loaded already,
// and any other host has no installer to log to.
struct Installer {
  decltype(MsiGetMode)* getMode = nullptr;
  decltype(MsiGetPropertyW)* getProperty = nullptr;
  decltype(MsiCreateRecord)* createRecord = nullptr;
  decltype(MsiRecordSetStringW)* setString = nullptr;
  decltype(MsiProcessMessage)* processMessage = nullptr;
  decltype(MsiCloseHandle)* closeHandle = nullptr;
};

bool FindInstaller(Installer& installer) {
  const HMODULE msi = GetModuleHandleW(L"msi.dll");
  if (msi == nullptr) return false;
  semilist::FindLibraryFunction(msi, "MsiGetMode", installer.getMode);
  semilist::FindLibraryFunction(msi, "MsiGetPropertyW", installer.getProperty);
  semilist::FindLibraryFunction(msi, "MsiCreateRecord", installer.createRecord);
  semilist::FindLibraryFunction(msi, "MsiRecordSetStringW",
                                installer.setString);
  semilist::FindLibraryFunction(msi, "MsiProcessMessage",
                                installer.processMessage);
  semilist::FindLibraryFunction(msi, "MsiCloseHandle", installer.closeHandle);
  return installer.getMode && installer.getProperty && installer.createRecord &&
         installer.setString && installer.processMessage &&
         installer.closeHandle;
}

// One line in the MSI log, or, as a warning, a message box with the full
// UI and a log line in a quiet install. The text goes in a field of its
// own, so that brackets in a path are not read as a format.
void Log(const Installer& installer, MSIHANDLE install,
         const std::wstring& line, INSTALLMESSAGE kind = INSTALLMESSAGE_INFO) {
  const MSIHANDLE record = installer.createRecord(1);
  if (record == 0) return;
  installer.setString(record, 0, L"[1]");
  installer.setString(record, 1, line.c_str());
  installer.processMessage(install, kind, record);
  installer.closeHandle(record);
}

// CustomActionData, sized first; false if it cannot be had.
bool ReadActionData(const Installer& installer, MSIHANDLE install,
                    std::wstring& text) {
  wchar_t empty[1] = L"";
  DWORD length = 0;
  UINT status =
      installer.getProperty(install, L"CustomActionData", empty, &length);
  if (status == ERROR_SUCCESS) return true;
  if (status != ERROR_MORE_DATA) return false;
  text.resize(length + 1);
  length = static_cast<DWORD>(text.size());
  status =
      installer.getProperty(install, L"CustomActionData", text.data(), &length);
  text.resize(length);
  return status == ERROR_SUCCESS;
}

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

UINT RunAction(const Installer& installer, MSIHANDLE install) {
  // An immediate action runs before the installation script, often
  // unelevated, and nothing would undo it on a failure.
  if (!installer.getMode(install, MSIRUNMODE_SCHEDULED) &&
      !installer.getMode(install, MSIRUNMODE_ROLLBACK) &&
      !installer.getMode(install, MSIRUNMODE_COMMIT)) {
    Log(installer, install,
        L"semilist: SemilistCustomAction must be a deferred, rollback or "
        L"commit action, with its command in CustomActionData; it was run "
        L"as an immediate action and did nothing");
    return ERROR_INSTALL_FAILURE;
  }
  std::wstring text;
  if (!ReadActionData(installer, install, text)) {
    Log(installer, install,
        L"semilist: CustomActionData could not be read; nothing was done");
    return ERROR_INSTALL_FAILURE;
  }
  const bool asLocalSystem = EditsLocalSystemsOwnEnvironment(text);
  const int status = asLocalSystem ? static_cast<int>(semilist::kUsageError)
                                   : semilist::RunText(text.c_str());
  wchar_t number[11];
  semilist::FormatStatus(status, number);
  // A PATH too long to take the folder is the user's to shorten: it warns,
  // and never rolls back a product's whole install.
  const bool warning = status == semilist::kTooLong;
  Log(installer, install,
      L"semilist: " + text + L": " + StatusInWords(status) + L" (status " +
          number + L")" +
          (asLocalSystem
               ? L": the action runs as LocalSystem, so /user would edit "
                 L"LocalSystem's environment, not the installing user's. "
                 L"Make the action impersonated, or use /system"
               : L""),
      warning ? INSTALLMESSAGE_WARNING : INSTALLMESSAGE_INFO);
  return status == semilist::kDone || warning ? ERROR_SUCCESS
                                              : ERROR_INSTALL_FAILURE;
}

}  // namespace

extern "C" __declspec(dllexport) UINT
    __stdcall SemilistCustomAction(MSIHANDLE install) {
  Installer installer;
  if (!FindInstaller(installer)) return ERROR_INSTALL_FAILURE;
  // The text and the log line need memory; without it, the action fails
  // and the installer rolls back.
  try {
    return RunAction(installer, install);
  } catch (...) {
    return ERROR_INSTALL_FAILURE;
  }
}
