// The registry operations against Wine's real registry, in a scratch key.
#include "registry/registry.h"

#include <gtest/gtest.h>

#include "windows_test_support.h"

namespace semilist {
namespace {

using test::ReadRaw;
using test::TextBytes;
using test::WriteRaw;

class RegistryTest : public ::testing::Test {
 protected:
  bool Read(const std::wstring& name, std::wstring& text) {
    return ReadRegistryString(HKEY_CURRENT_USER, scratch_.Path(), name, text,
                              type_, status_);
  }
  bool Write(const std::wstring& name, const std::wstring& text,
             DWORD type = REG_EXPAND_SZ) {
    return WriteRegistryString(HKEY_CURRENT_USER, scratch_.Path(), name, text,
                               type, status_);
  }
  bool Delete(const std::wstring& name) {
    return DeleteRegistryValue(HKEY_CURRENT_USER, scratch_.Path(), name,
                               status_);
  }
  void Put(const std::wstring& name, DWORD type,
           const std::vector<BYTE>& data) {
    WriteRaw(HKEY_CURRENT_USER, scratch_.Path(), name, type, data);
  }
  std::optional<test::RawValue> Get(const std::wstring& name) {
    return ReadRaw(HKEY_CURRENT_USER, scratch_.Path(), name);
  }

  test::ScratchKey scratch_;
  DWORD type_ = REG_NONE;
  LSTATUS status_ = ERROR_SUCCESS;
};

TEST_F(RegistryTest, MissingKeyIsNotFoundAndIsNeverCreated) {
  const std::wstring missing = scratch_.Path() + L"\\missing";
  std::wstring text = L"kept";
  EXPECT_FALSE(ReadRegistryString(HKEY_CURRENT_USER, missing, L"v", text, type_,
                                  status_));
  EXPECT_TRUE(IsNotFound(status_));
  EXPECT_EQ(text, L"kept");

  EXPECT_FALSE(WriteRegistryString(HKEY_CURRENT_USER, missing, L"v", L"x",
                                   REG_EXPAND_SZ, status_));
  EXPECT_TRUE(IsNotFound(status_));
  EXPECT_FALSE(DeleteRegistryValue(HKEY_CURRENT_USER, missing, L"v", status_));
  EXPECT_TRUE(IsNotFound(status_));

  HKEY key = nullptr;
  EXPECT_EQ(
      RegOpenKeyExW(HKEY_CURRENT_USER, missing.c_str(), 0, KEY_READ, &key),
      ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, MissingValueIsNotFound) {
  std::wstring text = L"kept";
  EXPECT_FALSE(Read(L"absent", text));
  EXPECT_TRUE(IsNotFound(status_));
  EXPECT_EQ(text, L"kept");

  EXPECT_FALSE(Delete(L"absent"));
  EXPECT_TRUE(IsNotFound(status_));
}

TEST_F(RegistryTest, ZeroByteTextValueReadsAsNothing) {
  for (DWORD type : {REG_SZ, REG_EXPAND_SZ}) {
    Put(L"empty", type, {});
    std::wstring text = L"kept";
    EXPECT_TRUE(Read(L"empty", text)) << type;
    EXPECT_EQ(text, L"kept");
    EXPECT_EQ(type_, type);
  }
}

TEST_F(RegistryTest, TextEndsAtNulPaddingOrTheLastWholeCodeUnit) {
  struct Case {
    std::vector<BYTE> data;
    std::optional<std::wstring> expected;  // nothing: refused, not text
  };
  std::vector<BYTE> odd = TextBytes(L"abc", false);
  odd.push_back('d');
  std::vector<BYTE> paddedOdd = TextBytes(std::wstring(L"abc\0\0", 5));
  paddedOdd.push_back('d');
  std::vector<BYTE> lone = {'z'};
  const Case cases[] = {
      {TextBytes(L"C:\\a;C:\\b"), L"C:\\a;C:\\b"},
      {TextBytes(L"abc", false), L"abc"},
      {odd, L"abc"},
      {paddedOdd, L"abc"},
      {lone, L""},
      {TextBytes(std::wstring(L"first\0\0\0", 8)), L"first"},
      {TextBytes(L"\U0001F600\u00E9"), L"\U0001F600\u00E9"},
      // A tail after a NUL is hidden from Windows but still stored.
      {TextBytes(std::wstring(L"first\0second", 12)), std::nullopt},
      {TextBytes(std::wstring(L"\0\0x", 3), false), std::nullopt},
  };
  for (const Case& c : cases) {
    for (DWORD type : {REG_SZ, REG_EXPAND_SZ}) {
      Put(L"v", type, c.data);
      std::wstring text = L"stale";
      type_ = REG_NONE;
      EXPECT_EQ(Read(L"v", text), c.expected.has_value())
          << c.data.size() << " bytes, type " << type;
      EXPECT_EQ(text, c.expected.value_or(L"stale"));
      EXPECT_EQ(type_, c.expected ? type : REG_NONE);
      if (!c.expected) {
        EXPECT_EQ(status_, ERROR_UNSUPPORTED_TYPE);
      }
    }
  }
}

TEST_F(RegistryTest, ReferencesAreNeitherExpandedNorFrozen) {
  const std::wstring text = L"%USERPROFILE%\\bin;%SystemRoot%";
  ASSERT_TRUE(Write(L"v", text));
  EXPECT_EQ(Get(L"v"), test::ExpandString(text));
  std::wstring read;
  ASSERT_TRUE(Read(L"v", read));
  EXPECT_EQ(read, text);
}

TEST_F(RegistryTest, WriteStoresTheTypeGivenAndTheNul) {
  Put(L"v", REG_SZ, TextBytes(L"old;longer text"));
  ASSERT_TRUE(Write(L"v", L"new"));
  EXPECT_EQ(Get(L"v"), test::ExpandString(L"new"));
  ASSERT_TRUE(Write(L"v", L"plain", REG_SZ));
  EXPECT_EQ(Get(L"v"), (test::RawValue{REG_SZ, TextBytes(L"plain")}));
  // Only the two text types: anything else would store text as non-text.
  EXPECT_FALSE(Write(L"v", L"x", REG_MULTI_SZ));
  EXPECT_EQ(status_, ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Get(L"v"), (test::RawValue{REG_SZ, TextBytes(L"plain")}));

  ASSERT_TRUE(Write(L"empty", L""));
  const auto stored = Get(L"empty");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(stored->data, (std::vector<BYTE>{0, 0}));
}

TEST_F(RegistryTest, TextTooLargeForTheByteCountIsRefusedNotCut) {
  // 2 * length + 2 bytes no longer fits a DWORD; a wrapped count would store
  // a short prefix of the text. A 32-bit program cannot hold such a text, so
  // there the case cannot arise.
  constexpr std::size_t length = std::size_t{1} << 31;
  std::wstring huge;
  if (huge.max_size() < length) {
    GTEST_SKIP() << "a 32-bit program cannot hold 2^31 wide characters";
  }
  try {
    huge.assign(length, L'x');
  } catch (const std::bad_alloc&) {
    GTEST_SKIP() << "no 4 GiB for the text";
  }
  EXPECT_FALSE(Write(L"huge", huge));
  EXPECT_FALSE(Get(L"huge").has_value());
  huge.resize(huge.size() - 1);  // 2^32 bytes with the NUL: one too many
  EXPECT_FALSE(Write(L"huge", huge));
  EXPECT_FALSE(Get(L"huge").has_value());
}

TEST_F(RegistryTest, NonTextTypesAreRefusedAndLeftAlone) {
  const DWORD types[] = {REG_DWORD, REG_QWORD, REG_BINARY, REG_MULTI_SZ,
                         REG_NONE};
  for (DWORD type : types) {
    const std::vector<BYTE> data = TextBytes(std::wstring(L"a;b\0c\0", 6));
    Put(L"v", type, data);
    std::wstring text = L"kept";
    EXPECT_FALSE(Read(L"v", text)) << type;
    EXPECT_EQ(status_, ERROR_UNSUPPORTED_TYPE);
    EXPECT_EQ(text, L"kept");
    EXPECT_EQ(Get(L"v"), (test::RawValue{type, data}));
  }
  Put(L"none", REG_NONE, {});
  std::wstring text;
  EXPECT_FALSE(Read(L"none", text));
  EXPECT_EQ(status_, ERROR_UNSUPPORTED_TYPE);
}

TEST_F(RegistryTest, DeleteRemovesOnlyThatValue) {
  ASSERT_TRUE(Write(L"gone", L"x"));
  ASSERT_TRUE(Write(L"stays", L"y"));
  EXPECT_TRUE(Delete(L"gone"));
  EXPECT_FALSE(Get(L"gone").has_value());
  EXPECT_EQ(Get(L"stays"), test::ExpandString(L"y"));
  EXPECT_FALSE(Delete(L"gone"));
  EXPECT_EQ(status_, ERROR_FILE_NOT_FOUND);
}

}  // namespace
}  // namespace semilist
