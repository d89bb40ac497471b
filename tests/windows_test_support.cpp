#include "windows_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace semilist::test {

const wchar_t kUserEnvironment[] = L"Environment";
const wchar_t kSystemEnvironment[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
const wchar_t kUserOwners[] = L"Software\\semilist\\Owners";
const wchar_t kSystemOwners[] = L"SOFTWARE\\semilist\\Owners";

void PrintTo(const RawValue& value, std::ostream* out) {
  *out << "type " << value.type << ", " << value.data.size() << " bytes: ";
  const std::size_t shown = std::min<std::size_t>(value.data.size(), 80);
  if (value.type == REG_SZ || value.type == REG_EXPAND_SZ ||
      value.type == REG_MULTI_SZ) {
    for (std::size_t i = 0; i + 1 < shown; i += 2) {
      const unsigned unit = value.data[i] | (value.data[i + 1] << 8);
      if (unit >= 0x20 && unit < 0x7F) {
        *out << static_cast<char>(unit);
      } else {
        *out << "\\u" << std::hex << unit << std::dec;
      }
    }
  } else {
    for (std::size_t i = 0; i < shown; ++i) *out << ' ' << int{value.data[i]};
  }
  if (shown < value.data.size()) *out << "...";
}

std::vector<BYTE> TextBytes(const std::wstring& text, bool withNul) {
  std::vector<BYTE> bytes((text.size() + (withNul ? 1 : 0)) * sizeof(wchar_t));
  std::memcpy(bytes.data(), text.c_str(), bytes.size());
  return bytes;
}

RawValue ExpandString(const std::wstring& text) {
  return {REG_EXPAND_SZ, TextBytes(text)};
}

std::optional<RawValue> ReadRaw(HKEY root, const std::wstring& subKey,
                                const std::wstring& name) {
  // RegQueryValueExW, unlike RegGetValueW, hands back the stored bytes
  // exactly, without adding a terminator.
  HKEY key = nullptr;
  LSTATUS status =
      RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key);
  if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
  EXPECT_EQ(status, ERROR_SUCCESS);
  RawValue value;
  DWORD size = 0;
  status =
      RegQueryValueExW(key, name.c_str(), nullptr, &value.type, nullptr, &size);
  if (status == ERROR_SUCCESS) {
    value.data.resize(size);
    status = RegQueryValueExW(key, name.c_str(), nullptr, &value.type,
                              value.data.data(), &size);
    EXPECT_EQ(status, ERROR_SUCCESS);
    value.data.resize(size);
  }
  RegCloseKey(key);
  if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
  EXPECT_EQ(status, ERROR_SUCCESS);
  return value;
}

void WriteRaw(HKEY root, const std::wstring& subKey, const std::wstring& name,
              DWORD type, const std::vector<BYTE>& data) {
  HKEY key = nullptr;
  ASSERT_EQ(
      RegCreateKeyExW(root, subKey.c_str(), 0, nullptr, 0,
                      KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr),
      ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(key, name.c_str(), 0, type, data.data(),
                           static_cast<DWORD>(data.size())),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

void DeleteRaw(HKEY root, const std::wstring& subKey,
               const std::wstring& name) {
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExW(root, subKey.c_str(), 0,
                                 KEY_SET_VALUE | KEY_WOW64_64KEY, &key);
  if (status == ERROR_SUCCESS) {
    status = RegDeleteValueW(key, name.c_str());
    RegCloseKey(key);
  }
  EXPECT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND);
}

std::map<std::wstring, RawValue> Snapshot(HKEY root,
                                          const std::wstring& subKey) {
  std::map<std::wstring, RawValue> values;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    ADD_FAILURE() << "cannot open key for a snapshot";
    return values;
  }
  for (DWORD index = 0;; ++index) {
    std::vector<wchar_t> name(16384);
    DWORD nameLength = static_cast<DWORD>(name.size());
    RawValue value;
    DWORD size = 0;
    if (RegEnumValueW(key, index, name.data(), &nameLength, nullptr,
                      &value.type, nullptr, &size) != ERROR_SUCCESS) {
      break;
    }
    value.data.resize(size);
    nameLength = static_cast<DWORD>(name.size());
    RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &value.type,
                  value.data.data(), &size);
    value.data.resize(size);
    values[std::wstring(name.data(), nameLength)] = value;
  }
  RegCloseKey(key);
  return values;
}

ScratchKey::ScratchKey()
    : path_(L"Software\\semilist-test-" +
            std::to_wstring(GetCurrentProcessId())) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  if (key != nullptr) RegCloseKey(key);
}

ScratchKey::~ScratchKey() { RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str()); }

}  // namespace semilist::test

namespace semilist::test {

std::wstring SiblingPath(const std::wstring& fileName) {
  std::vector<wchar_t> path(32768);
  const DWORD length =
      GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  std::wstring self(path.data(), length);
  return self.substr(0, self.find_last_of(L"\\/") + 1) + fileName;
}

bool UnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") !=
         nullptr;
}

}  // namespace semilist::test
