// What semilist.dll's Windows Installer actions share: the installer's
// functions, found in the msi.dll that the installer has loaded, one owner
// per MSI handle, properties read whole, and lines in the MSI log.
#pragma once

#include <windows.h>
// After windows.h, which they need.
#include <msi.h>
#include <msiquery.h>

#include <string>

namespace semilist {

struct Installer {
  decltype(MsiGetMode)* getMode = nullptr;
  decltype(MsiGetPropertyW)* getProperty = nullptr;
  decltype(MsiSetPropertyW)* setProperty = nullptr;
  decltype(MsiCreateRecord)* createRecord = nullptr;
  decltype(MsiRecordSetStringW)* setString = nullptr;
  decltype(MsiRecordSetInteger)* setInteger = nullptr;
  decltype(MsiRecordGetStringW)* getString = nullptr;
  decltype(MsiFormatRecordW)* formatRecord = nullptr;
  decltype(MsiProcessMessage)* processMessage = nullptr;
  decltype(MsiCloseHandle)* closeHandle = nullptr;
  decltype(MsiGetActiveDatabase)* activeDatabase = nullptr;
  decltype(MsiDatabaseOpenViewW)* openView = nullptr;
  decltype(MsiViewExecute)* executeView = nullptr;
  decltype(MsiViewFetch)* fetchRecord = nullptr;
  decltype(MsiViewModify)* modifyView = nullptr;
  decltype(MsiGetComponentStateW)* componentState = nullptr;
  decltype(MsiDoActionW)* doAction = nullptr;
};

// msi.dll is not a known DLL, so an import of it would first be looked for
// in the host's folder. The installer's own process has it loaded already,
// and any other host has no installer to log to.
bool FindInstaller(Installer& installer);

// Closes its handle when it goes, on every path out.
class MsiHandle {
 public:
  MsiHandle(const Installer& installer, MSIHANDLE handle)
      : installer_(installer), handle_(handle) {}
  MsiHandle(const MsiHandle&) = delete;
  MsiHandle& operator=(const MsiHandle&) = delete;
  ~MsiHandle() {
    if (handle_ != 0) installer_.closeHandle(handle_);
  }
  MSIHANDLE Get() const { return handle_; }
  MSIHANDLE* Receive() { return &handle_; }

 private:
  const Installer& installer_;
  MSIHANDLE handle_;
};

// One line in the MSI log, or, as a warning, a message box with the full
// UI and a log line in a quiet install.
void Log(const Installer& installer, MSIHANDLE install,
         const std::wstring& line, INSTALLMESSAGE kind = INSTALLMESSAGE_INFO);

// A string that the installer hands out through a sized buffer, whole:
// `call(buffer, &length)` is asked once for the size, then for the text.
template <typename Call>
bool ReadSized(Call call, std::wstring& text) {
  wchar_t empty[1] = L"";
  DWORD length = 0;
  UINT status = call(empty, &length);
  text.clear();
  if (status == ERROR_SUCCESS) return true;
  if (status != ERROR_MORE_DATA) return false;
  text.resize(length + 1);
  length = static_cast<DWORD>(text.size());
  status = call(text.data(), &length);
  text.resize(length);
  return status == ERROR_SUCCESS;
}

// A property's whole value; false if it cannot be had.
bool ReadProperty(const Installer& installer, MSIHANDLE install,
                  const wchar_t* name, std::wstring& value);

}  // namespace semilist
