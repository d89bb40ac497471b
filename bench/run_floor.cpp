// The least a run of semilist must cost: the same platform calls, with no
// list logic. It reads the value and stores the same bytes back.
//   run_floor NAME
#include <windows.h>

#include <vector>

int wmain(int argc, wchar_t* argv[]) {
  if (argc != 2) return 1;
  const wchar_t* name = argv[1];

  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Environment", 0, KEY_QUERY_VALUE,
                    &key) != ERROR_SUCCESS) {
    return 2;
  }
  DWORD type = 0;
  BYTE probe = 0;
  DWORD size = 0;
  RegQueryValueExW(key, name, nullptr, &type, &probe, &size);
  std::vector<BYTE> data(size + 2);
  RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
  RegCloseKey(key);

  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Environment", 0, KEY_SET_VALUE,
                    &key) != ERROR_SUCCESS) {
    return 3;
  }
  RegSetValueExW(key, name, 0, REG_EXPAND_SZ, data.data(), size);
  RegCloseKey(key);

  DWORD_PTR result = 0;
  SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                      reinterpret_cast<LPARAM>(L"Environment"),
                      SMTO_ABORTIFHUNG, 5000, &result);
  return 0;
}
