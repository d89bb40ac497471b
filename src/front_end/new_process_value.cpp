#include "new_process_value.h"

#include <windows.h>
// After windows.h, which it needs.
#include <userenv.h>

#include <memory>
#include <string_view>

#include "front_end/library_function.h"
#include "path_list/path_list.h"

namespace semilist {
namespace {

using OwnedHandle = std::unique_ptr<void, BOOL(WINAPI*)(HANDLE)>;
using OwnedLibrary = std::unique_ptr<HINSTANCE__, BOOL(WINAPI*)(HMODULE)>;

// No variable holds more; one more unit for the terminating null.
constexpr DWORD kExpandedUnits = 32768;

// WOW64 gives a 32-bit process the (x86) folders under these two names; the
// W6432 names hold the 64-bit folders in every process of 64-bit Windows.
// A reference runs from one % to the next, as the expansion reads it.
std::wstring AsA64BitProcessSeesIt(const std::wstring& value) {
  std::wstring result;
  std::size_t at = 0;
  for (std::size_t open; (open = value.find(L'%', at)) != std::wstring::npos;) {
    const std::size_t close = value.find(L'%', open + 1);
    if (close == std::wstring::npos) break;
    const std::wstring_view name(value.data() + open + 1, close - open - 1);
    result.append(value, at, open - at);
    if (EqualsNoCase(name, L"ProgramFiles")) {
      result += L"%ProgramW6432%";
    } else if (EqualsNoCase(name, L"CommonProgramFiles")) {
      result += L"%CommonProgramW6432%";
    } else {
      result.append(value, open, close - open + 1);
    }
    at = close + 1;
  }
  return result.append(value, at, std::wstring::npos);
}

bool IsWow64() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// In this run's own environment, which is what a new process of it gets.
std::optional<std::wstring> ExpandHere(const std::wstring& value) {
  std::wstring expanded(kExpandedUnits, L'\0');
  const DWORD written =
      ExpandEnvironmentStringsW(value.c_str(), expanded.data(), kExpandedUnits);
  if (written == 0 || written > kExpandedUnits) return std::nullopt;
  expanded.resize(std::wstring_view(expanded.c_str()).size());
  return expanded;
}

}  // namespace

std::optional<std::wstring> ExpandForANewProcess(const std::wstring& value,
                                                 bool machine) {
  const std::wstring source = IsWow64() ? AsA64BitProcessSeesIt(value) : value;
  // userenv is not a known DLL: imported, it would first be looked for
  // beside the program. Only a value with a reference needs it.
  const OwnedLibrary userenv(
      LoadLibraryExW(L"userenv.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32),
      FreeLibrary);
  const auto expand =
      userenv ? LibraryFunction<decltype(ExpandEnvironmentStringsForUserW)>(
                    userenv.get(), "ExpandEnvironmentStringsForUserW")
              : nullptr;
  HANDLE token = nullptr;
  // The rights that the function's page asks of the token, TOKEN_DUPLICATE
  // among them since Windows 7.
  if (expand == nullptr ||
      (!machine &&
       !OpenProcessToken(GetCurrentProcess(),
                         TOKEN_IMPERSONATE | TOKEN_QUERY | TOKEN_DUPLICATE,
                         &token))) {
    return ExpandHere(source);
  }
  // Null for the machine's value: the system's variables only.
  const OwnedHandle ownedToken(token, CloseHandle);
  // It tells only whether the result fit, never the size it needs. Where it
  // fails for another reason, this run's environment is the best guess, and
  // a value too long for that fails there too.
  std::wstring expanded(kExpandedUnits, L'\0');
  if (!expand(token, source.c_str(), expanded.data(), kExpandedUnits)) {
    return ExpandHere(source);
  }
  expanded.resize(std::wstring_view(expanded.c_str()).size());
  return expanded;
}

}  // namespace semilist
