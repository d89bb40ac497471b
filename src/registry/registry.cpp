#include "registry.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace semilist {

void RegistryKey::Close() {
  if (handle_ != nullptr) {
    // Nothing useful can be done about a failed close; the handle is gone.
    RegCloseKey(handle_);
    handle_ = nullptr;
  }
}

namespace {

// Only REG_SZ and REG_EXPAND_SZ are text; anything else fails with
// ERROR_UNSUPPORTED_TYPE, since rewriting it as a string would destroy it.
bool CheckText(DWORD type, LSTATUS& status) {
  if (type == REG_SZ || type == REG_EXPAND_SZ) return true;
  status = ERROR_UNSUPPORTED_TYPE;
  return false;
}

// Fetches the value's data into `buffer`, sized to its first answer, and
// sets `bytes` to what the platform returned; `type` is the value's type.
bool QueryValueData(HKEY root, const std::wstring& subKey,
                    const std::wstring& valueName, REGSAM view,
                    std::vector<wchar_t>& buffer, DWORD& bytes, DWORD& type,
                    LSTATUS& status) {
  // KEY_READ would add the rights to list and watch subkeys, which a key
  // whose permissions delegate only "Query Value" refuses.
  RegistryKey key;
  status = RegOpenKeyExW(root, subKey.c_str(), 0, KEY_QUERY_VALUE | view,
                         key.Receive());
  if (status != ERROR_SUCCESS) return false;

  // A non-null buffer with a size of 0 makes a value with data answer
  // ERROR_MORE_DATA with its size, while an empty value answers success.
  BYTE probe = 0;
  DWORD size = 0;
  status = RegQueryValueExW(key.Handle(), valueName.c_str(), nullptr, &type,
                            &probe, &size);
  if (status == ERROR_SUCCESS) {
    buffer.clear();
    bytes = 0;
    return true;
  }
  if (status != ERROR_MORE_DATA) return false;

  // n bytes of data get a buffer of n + 1 code units, zeroed, so the bytes
  // the platform returns always end inside it. The query is allowed n + 1
  // bytes: a value that has grown beyond that since the first query fails
  // with ERROR_MORE_DATA instead of being read half. The count is widened
  // before adding, so a size of 0xFFFFFFFF cannot wrap to an empty buffer.
  const std::uint64_t units = std::uint64_t{size} + 1;
  if (units > std::numeric_limits<DWORD>::max()) {
    status = ERROR_MORE_DATA;
    return false;
  }
  buffer.assign(static_cast<std::size_t>(units), L'\0');
  bytes = static_cast<DWORD>(units);
  status = RegQueryValueExW(key.Handle(), valueName.c_str(), nullptr, &type,
                            reinterpret_cast<BYTE*>(buffer.data()), &bytes);
  return status == ERROR_SUCCESS;
}

}  // namespace

bool IsNotFound(LSTATUS status) {
  return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND;
}

bool ReadRegistryString(HKEY root, const std::wstring& subKey,
                        const std::wstring& valueName, std::wstring& text,
                        DWORD& foundType, LSTATUS& status) {
  std::vector<wchar_t> buffer;
  DWORD size = 0;
  DWORD type = REG_NONE;
  if (!QueryValueData(root, subKey, valueName, 0, buffer, size, type, status) ||
      !CheckText(type, status)) {
    return false;
  }

  // Only whole code units of what was returned count: an odd last byte is
  // dropped, and the text ends at the first NUL if there is one. NULs may pad
  // the text, but anything else after one is data that Windows hides and a
  // rewrite would drop for good, so such a value is not text to edit.
  const wchar_t* const begin = buffer.data();
  const wchar_t* const end = begin + size / sizeof(wchar_t);
  const wchar_t* const nul = std::find(begin, end, L'\0');
  if (std::any_of(nul, end, [](wchar_t unit) { return unit != L'\0'; })) {
    status = ERROR_UNSUPPORTED_TYPE;
    return false;
  }
  if (size > 0) text.assign(begin, nul);
  foundType = type;
  return true;
}

bool ReadRegistryData(HKEY root, const std::wstring& subKey,
                      const std::wstring& valueName, REGSAM view,
                      std::wstring& data, DWORD& type, LSTATUS& status) {
  std::vector<wchar_t> buffer;
  DWORD size = 0;
  DWORD found = REG_NONE;
  if (!QueryValueData(root, subKey, valueName, view, buffer, size, found,
                      status)) {
    return false;
  }
  // Half a code unit is not data that this program wrote.
  if (size % sizeof(wchar_t) != 0) {
    status = ERROR_INVALID_DATA;
    return false;
  }
  data.assign(buffer.data(), size / sizeof(wchar_t));
  type = found;
  return true;
}

bool WriteRegistryString(HKEY root, const std::wstring& subKey,
                         const std::wstring& valueName,
                         const std::wstring& text, DWORD type,
                         LSTATUS& status) {
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    status = ERROR_INVALID_PARAMETER;
    return false;
  }
  // The size in bytes, NUL included, must fit the DWORD the platform takes;
  // a larger text is refused rather than stored cut short.
  const std::uint64_t bytes =
      (std::uint64_t{text.size()} + 1) * sizeof(wchar_t);
  if (bytes > std::numeric_limits<DWORD>::max()) {
    status = ERROR_INVALID_PARAMETER;
    return false;
  }

  // KEY_WRITE would add the right to create subkeys, which a key whose
  // permissions delegate only "Set Value" refuses.
  RegistryKey key;
  status = RegOpenKeyExW(root, subKey.c_str(), 0, KEY_SET_VALUE, key.Receive());
  if (status != ERROR_SUCCESS) return false;
  // c_str() guarantees the terminating NUL that the byte count includes.
  status = RegSetValueExW(key.Handle(), valueName.c_str(), 0, type,
                          reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(bytes));
  return status == ERROR_SUCCESS;
}

bool WriteRegistryMultiString(HKEY root, const std::wstring& subKey,
                              const std::wstring& valueName, REGSAM view,
                              const std::wstring& data, LSTATUS& status) {
  const std::uint64_t bytes = std::uint64_t{data.size()} * sizeof(wchar_t);
  if (bytes > std::numeric_limits<DWORD>::max()) {
    status = ERROR_INVALID_PARAMETER;
    return false;
  }
  // No security attributes: the new keys inherit their parent's permissions.
  RegistryKey key;
  status =
      RegCreateKeyExW(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE | view, nullptr, key.Receive(), nullptr);
  if (status != ERROR_SUCCESS) return false;
  status = RegSetValueExW(key.Handle(), valueName.c_str(), 0, REG_MULTI_SZ,
                          reinterpret_cast<const BYTE*>(data.data()),
                          static_cast<DWORD>(bytes));
  return status == ERROR_SUCCESS;
}

bool DeleteRegistryValue(HKEY root, const std::wstring& subKey,
                         const std::wstring& valueName, LSTATUS& status,
                         REGSAM view) {
  RegistryKey key;
  status = RegOpenKeyExW(root, subKey.c_str(), 0, KEY_SET_VALUE | view,
                         key.Receive());
  if (status != ERROR_SUCCESS) return false;
  status = RegDeleteValueW(key.Handle(), valueName.c_str());
  return status == ERROR_SUCCESS;
}

}  // namespace semilist
