// What semilist.exe and semilist-user.exe carry, read back the way the loader
// reads it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "windows_test_support.h"

namespace semilist {
namespace {

// Both programs, which differ only in the execution level they request.
struct Program {
  const wchar_t* file;
  const char* level;
};
const Program kPrograms[] = {{L"semilist.exe", "requireAdministrator"},
                             {L"semilist-user.exe", "asInvoker"}};

std::string ExpectedManifest(const std::string& level) {
  return R"(<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">
    <security>
      <requestedPrivileges>
        <requestedExecutionLevel level=")" +
         level + R"(" uiAccess="false"/>
      </requestedPrivileges>
    </security>
  </trustInfo>
</assembly>
)";
}

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR names) {
  reinterpret_cast<std::vector<ULONG_PTR>*>(names)->push_back(
      reinterpret_cast<ULONG_PTR>(name));
  return TRUE;
}

TEST(Executable, CarriesItsExecutionLevelAsItsOnlyManifest) {
  for (const Program& program : kPrograms) {
    SCOPED_TRACE(program.level);
    const HMODULE image = LoadLibraryExW(
        test::SiblingPath(program.file).c_str(), nullptr,
        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr) << GetLastError();

    const HRSRC resource =
        FindResourceExW(image, RT_MANIFEST, MAKEINTRESOURCEW(1),
                        MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    ASSERT_NE(resource, nullptr) << GetLastError();
    const HGLOBAL loaded = LoadResource(image, resource);
    ASSERT_NE(loaded, nullptr);
    const std::string manifest(static_cast<const char*>(LockResource(loaded)),
                               SizeofResource(image, resource));
    EXPECT_EQ(manifest, ExpectedManifest(program.level));

    std::vector<ULONG_PTR> names;
    EnumResourceNamesW(image, RT_MANIFEST, CollectName,
                       reinterpret_cast<LONG_PTR>(&names));
    EXPECT_EQ(names, std::vector<ULONG_PTR>{1});
    FreeLibrary(image);
  }
}

std::wstring VersionString(const std::vector<BYTE>& block, const wchar_t* key) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
  if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) ||
      length == 0) {
    return L"<missing>";
  }
  return std::wstring(static_cast<const wchar_t*>(value), length - 1);
}

TEST(Executable, TellsWhatItIsAndWhichVersion) {
  for (const wchar_t* file :
       {L"semilist.exe", L"semilist-user.exe", L"semilist.dll"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(file)));
    const std::wstring path = test::SiblingPath(file);
    DWORD ignored = 0;
    std::vector<BYTE> block(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    ASSERT_FALSE(block.empty()) << GetLastError();
    ASSERT_TRUE(GetFileVersionInfoW(
        path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));

    const std::wstring version = TEXT(SEMILIST_EXPECTED_VERSION);
    EXPECT_EQ(VersionString(block, L"FileVersion"), version);
    EXPECT_EQ(VersionString(block, L"ProductVersion"), version);
    EXPECT_EQ(VersionString(block, L"ProductName"), L"semilist");
    EXPECT_EQ(VersionString(block, L"OriginalFilename"), file);
    EXPECT_NE(VersionString(block, L"FileDescription"), L"<missing>");
    EXPECT_NE(VersionString(block, L"LegalCopyright").find(L"MIT License"),
              std::wstring::npos);

    // The numeric version, which installers compare, says the same.
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\",
                               reinterpret_cast<void**>(&fixed), &length));
    const std::wstring numeric =
        std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
        std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
        std::to_wstring(HIWORD(fixed->dwFileVersionLS));
    EXPECT_EQ(numeric, version);
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwFileType,
              std::wstring(file).find(L".dll") == std::wstring::npos
                  ? DWORD{VFT_APP}
                  : DWORD{VFT_DLL});
  }
}

}  // namespace
}  // namespace semilist
