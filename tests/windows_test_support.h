// Raw registry access for the Windows tests: they set up and inspect values
// with the platform's own calls, not with the code under test.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace semilist::test {

extern const wchar_t kUserEnvironment[];
extern const wchar_t kSystemEnvironment[];
// Where owned edits keep their claims.
extern const wchar_t kUserOwners[];
extern const wchar_t kSystemOwners[];

struct RawValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  bool operator==(const RawValue& other) const {
    return type == other.type && data == other.data;
  }
};

// Shows the type and, for text, the code units; for test failure messages.
void PrintTo(const RawValue& value, std::ostream* out);

// The bytes of `text`, followed by a NUL code unit when `withNul` is set.
std::vector<BYTE> TextBytes(const std::wstring& text, bool withNul = true);
RawValue ExpandString(const std::wstring& text);

// All three see the 64-bit registry, as the x64 program does, also in an
// x86 test; a key that is missing reads as no value.
std::optional<RawValue> ReadRaw(HKEY root, const std::wstring& subKey,
                                const std::wstring& name);
void WriteRaw(HKEY root, const std::wstring& subKey, const std::wstring& name,
              DWORD type, const std::vector<BYTE>& data);
void DeleteRaw(HKEY root, const std::wstring& subKey, const std::wstring& name);

// Every value under a key, by name.
std::map<std::wstring, RawValue> Snapshot(HKEY root,
                                          const std::wstring& subKey);

// A key of the test's own under HKCU\Software, removed with everything in it
// when the test ends.
class ScratchKey {
 public:
  ScratchKey();
  ScratchKey(const ScratchKey&) = delete;
  ScratchKey& operator=(const ScratchKey&) = delete;
  ~ScratchKey();
  const std::wstring& Path() const { return path_; }

 private:
  std::wstring path_;
};

}  // namespace semilist::test

namespace semilist::test {

// A file that sits next to the running test executable.
std::wstring SiblingPath(const std::wstring& fileName);

// True under Wine, which differs from Windows in places a test can name.
bool UnderWine();

}  // namespace semilist::test
