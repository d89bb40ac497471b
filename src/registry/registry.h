// Access to one named registry value: read it as text or as raw data, write
// it as REG_SZ, REG_EXPAND_SZ or REG_MULTI_SZ, delete it. Each call opens the
// key itself with the least access it needs and closes it before returning.
// Only the REG_MULTI_SZ write creates a key: an Environment key is never
// made.
//
// Every call returns true exactly when its last platform call succeeded, and
// leaves that call's status in `status`, so that a caller can tell "not
// found" apart from a real failure.
#pragma once

#include <windows.h>

#include <string>

namespace semilist {

// Owns at most one open key handle and closes it on every path out.
class RegistryKey {
 public:
  RegistryKey() = default;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  ~RegistryKey() { Close(); }

  // Closes any key held and returns the empty slot for RegOpenKeyExW to fill.
  HKEY* Receive() {
    Close();
    return &handle_;
  }
  HKEY Handle() const { return handle_; }
  void Close();

 private:
  HKEY handle_ = nullptr;
};

// True when `status` means the key or the value does not exist.
bool IsNotFound(LSTATUS status);

// On success replaces `text` with the value's text, up to its first NUL; a
// value with no data leaves `text` as it was. Only REG_SZ and REG_EXPAND_SZ
// count as text, and only when nothing but NULs follows their first NUL: any
// other value fails with ERROR_UNSUPPORTED_TYPE, because rewriting it as a
// string would destroy it. On success `type` is the value's type; on failure
// `text` and `type` are unchanged.
bool ReadRegistryString(HKEY root, const std::wstring& subKey,
                        const std::wstring& valueName, std::wstring& text,
                        DWORD& type, LSTATUS& status);

// On success `data` holds all of the value's data as UTF-16 code units, NULs
// included, and `type` its type, whatever it is; data of an odd byte count
// fails with ERROR_INVALID_DATA. On failure both are unchanged. `view` may
// add KEY_WOW64_64KEY or KEY_WOW64_32KEY to the access asked for.
bool ReadRegistryData(HKEY root, const std::wstring& subKey,
                      const std::wstring& valueName, REGSAM view,
                      std::wstring& data, DWORD& type, LSTATUS& status);

// Stores `data`, which must end in the two NULs of a string list, as
// REG_MULTI_SZ. Unlike the other calls, it creates the key, and any missing
// key above it, with the default permissions of its parent.
bool WriteRegistryMultiString(HKEY root, const std::wstring& subKey,
                              const std::wstring& valueName, REGSAM view,
                              const std::wstring& data, LSTATUS& status);

// Stores `text` and its terminating NUL as `type`, REG_SZ or REG_EXPAND_SZ;
// any other type is refused with ERROR_INVALID_PARAMETER.
bool WriteRegistryString(HKEY root, const std::wstring& subKey,
                         const std::wstring& valueName,
                         const std::wstring& text, DWORD type, LSTATUS& status);

// Removes the value; a value that does not exist gives false.
bool DeleteRegistryValue(HKEY root, const std::wstring& subKey,
                         const std::wstring& valueName, LSTATUS& status,
                         REGSAM view = 0);

}  // namespace semilist
