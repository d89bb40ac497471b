#include "in_process/msi_session.h"

#include "front_end/library_function.h"

namespace semilist {

bool FindInstaller(Installer& installer) {
  const HMODULE msi = GetModuleHandleW(L"msi.dll");
  if (msi == nullptr) return false;
  FindLibraryFunction(msi, "MsiGetMode", installer.getMode);
  FindLibraryFunction(msi, "MsiGetPropertyW", installer.getProperty);
  FindLibraryFunction(msi, "MsiSetPropertyW", installer.setProperty);
  FindLibraryFunction(msi, "MsiCreateRecord", installer.createRecord);
  FindLibraryFunction(msi, "MsiRecordSetStringW", installer.setString);
  FindLibraryFunction(msi, "MsiRecordSetInteger", installer.setInteger);
  FindLibraryFunction(msi, "MsiRecordGetStringW", installer.getString);
  FindLibraryFunction(msi, "MsiFormatRecordW", installer.formatRecord);
  FindLibraryFunction(msi, "MsiProcessMessage", installer.processMessage);
  FindLibraryFunction(msi, "MsiCloseHandle", installer.closeHandle);
  FindLibraryFunction(msi, "MsiGetActiveDatabase", installer.activeDatabase);
  FindLibraryFunction(msi, "MsiDatabaseOpenViewW", installer.openView);
  FindLibraryFunction(msi, "MsiViewExecute", installer.executeView);
  FindLibraryFunction(msi, "MsiViewFetch", installer.fetchRecord);
  FindLibraryFunction(msi, "MsiViewModify", installer.modifyView);
  FindLibraryFunction(msi, "MsiGetComponentStateW", installer.componentState);
  FindLibraryFunction(msi, "MsiDoActionW", installer.doAction);
  return installer.getMode && installer.getProperty && installer.setProperty &&
         installer.createRecord && installer.setString &&
         installer.setInteger && installer.getString &&
         installer.formatRecord && installer.processMessage &&
         installer.closeHandle && installer.activeDatabase &&
         installer.openView && installer.executeView && installer.fetchRecord &&
         installer.modifyView && installer.componentState && installer.doAction;
}

void Log(const Installer& installer, MSIHANDLE install,
         const std::wstring& line, INSTALLMESSAGE kind) {
  const MsiHandle record(installer, installer.createRecord(1));
  if (record.Get() == 0) return;
  // The text goes in a field of its own, so that brackets in a path are
  // not read as a format.
  installer.setString(record.Get(), 0, L"[1]");
  installer.setString(record.Get(), 1, line.c_str());
  installer.processMessage(install, kind, record.Get());
}

bool ReadProperty(const Installer& installer, MSIHANDLE install,
                  const wchar_t* name, std::wstring& value) {
  return ReadSized(
      [&](wchar_t* buffer, DWORD* length) {
        return installer.getProperty(install, name, buffer, length);
      },
      value);
}

}  // namespace semilist
