// What the built semilist.exe carries, read back the way the loader reads it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "windows_test_support.h"

namespace semilist {
namespace {

const char kExpectedManifest[] =
    R"(<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">
    <security>
      <requestedPrivileges>
        <requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>
      </requestedPrivileges>
    </security>
  </trustInfo>
</assembly>
)";

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR names) {
  reinterpret_cast<std::vector<ULONG_PTR>*>(names)->push_back(
      reinterpret_cast<ULONG_PTR>(name));
  return TRUE;
}

TEST(Executable, CarriesTheAdministratorManifestAsItsOnlyManifest) {
  const HMODULE image =
      LoadLibraryExW(test::SiblingPath(L"semilist.exe").c_str(), nullptr,
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
  EXPECT_EQ(manifest, kExpectedManifest);

  std::vector<ULONG_PTR> names;
  EnumResourceNamesW(image, RT_MANIFEST, CollectName,
                     reinterpret_cast<LONG_PTR>(&names));
  EXPECT_EQ(names, std::vector<ULONG_PTR>{1});
  FreeLibrary(image);
}

}  // namespace
}  // namespace semilist
