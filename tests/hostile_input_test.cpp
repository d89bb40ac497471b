// Awkward and hostile input through the real command line. Each case has a
// defined status, and nothing changes in either Environment key but the one
// value named.
#include <gtest/gtest.h>

#include <iostream>

#include "semilist_process.h"
#include "windows_test_support.h"

namespace semilist {
namespace {

using test::kSystemEnvironment;
using test::kUserEnvironment;
using test::RawValue;
using Values = std::map<std::wstring, RawValue>;

class HostileInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    user_ = test::Snapshot(HKEY_CURRENT_USER, kUserEnvironment);
    system_ = test::Snapshot(HKEY_LOCAL_MACHINE, kSystemEnvironment);
  }

  // Runs semilist and checks that the user key now differs from the
  // snapshot only in `name`, which holds `expected` (or is absent), and that
  // the machine key has not changed at all.
  void ExpectRun(const std::vector<std::wstring>& arguments, DWORD status,
                 const std::wstring& name, std::optional<RawValue> expected,
                 const std::string& what) {
    test::BroadcastCounter broadcasts;
    EXPECT_EQ(test::WaitForSemilist(test::StartSemilist(arguments)), status)
        << what;
    // Only runs that reached the store broadcast, failed ones included.
    EXPECT_EQ(broadcasts.Count(), status == 0 || status == 3 ? 1 : 0) << what;
    Values user = user_;
    if (expected) {
      user[name] = *expected;
    } else {
      user.erase(name);
    }
    EXPECT_EQ(test::Snapshot(HKEY_CURRENT_USER, kUserEnvironment), user)
        << what;
    EXPECT_EQ(test::Snapshot(HKEY_LOCAL_MACHINE, kSystemEnvironment), system_)
        << what;
    user_ = user;
  }

  // Appends `item` to the absent value `name`, or to `before`, then removes
  // it again.
  void ExpectRoundTrip(const std::wstring& name, const std::wstring& item,
                       const std::string& what,
                       const std::wstring& before = L"") {
    if (user_.count(name) != 0) {
      // On a real machine, a name such as the key's default value may hold
      // the user's own data, which a test must never touch.
      if (name.rfind(L"SEMILIST", 0) != 0) {
        std::cout << "skipped, the value exists already: " << what << "\n";
        return;
      }
      // A failed earlier run left it behind.
      user_.erase(name);
      test::DeleteRaw(HKEY_CURRENT_USER, kUserEnvironment, name);
    }
    std::optional<RawValue> initial;
    if (!before.empty()) {
      initial = test::ExpandString(before);
      test::WriteRaw(HKEY_CURRENT_USER, kUserEnvironment, name, initial->type,
                     initial->data);
      user_[name] = *initial;
    }
    ExpectRun({L"/append", L"/user", name, item}, 0, name,
              test::ExpandString(before.empty() ? item : before + L";" + item),
              what + ", append");
    ExpectRun({L"/remove", L"/user", name, item}, 0, name, initial,
              what + ", remove");
    if (initial) {
      test::DeleteRaw(HKEY_CURRENT_USER, kUserEnvironment, name);
      user_.erase(name);
    }
  }

  Values user_;
  Values system_;
};

// 30 000 code units or more, with blanks, tabs, quotes, backslashes and
// surrogate pairs, none of them split. Quotes are few, since each costs an
// escape and the quoted command line must stay within its 32 767 units.
// A list already past the longest variable a process holds: an item of
// thousands of characters appended to a short list would push it past what
// cmd.exe reads, and be refused.
const std::wstring kOverEveryLimit = L"C:\\" + std::wstring(32768, L'o');

std::wstring LongItem() {
  std::wstring item = L"\"C:\\Program Files\\\"";
  while (item.size() < 30000) item += L"Vendor Tool\t\U0001F600\\";
  return item;
}

TEST_F(HostileInputTest, ItemsArriveExactlyAsTyped) {
  const std::pair<const char*, std::wstring> items[] = {
      {"spaces", L"C:\\Program Files (x86)\\Vendor Tool\\bin"},
      {"quotes", L"say \"hi\" \"there"},
      {"lone quote", L"\""},
      {"backslash before quote", L"C:\\dir\\\"x"},
      {"trailing backslash", L"C:\\dir\\"},
      {"trailing backslashes", L"C:\\dir\\\\\\"},
      {"tabs", L"\tC:\\tab\there\t"},
      {"leading blank", L" C:\\x"},
      {"non-BMP", L"C:\\\U0001F600\\\U00010348"},
      {"percent signs", L"%PATH%\\%%x%"},
      {"control character", L"C:\\\x01x"},
      {"30 000 characters", LongItem()},
  };
  for (const auto& [what, item] : items) {
    ExpectRoundTrip(L"SEMILIST_HOSTILE_ITEM", item, what,
                    item.size() > 8191 ? kOverEveryLimit : L"");
  }
}

TEST_F(HostileInputTest, CommandLineNearItsLimit) {
  // CreateProcessW takes 32 767 characters with the NUL; fill all of them.
  const std::wstring name = L"SEMILIST_HOSTILE_LONG";
  const std::wstring base =
      test::QuoteArgument(test::SiblingPath(L"semilist.exe")) +
      L" \"/append\" \"/user\" \"" + name + L"\" \"\"";
  const std::wstring item(32766 - base.size(), L'L');
  ExpectRoundTrip(name, item, "command line of 32 766 characters",
                  kOverEveryLimit);
}

TEST_F(HostileInputTest, ValueNamesAreTakenLiterally) {
  const std::pair<const char*, std::wstring> names[] = {
      {"backslash inside", L"SEMILIST\\HOSTILE"},
      {"lone backslash", L"\\"},
      {"trailing backslashes", L"SEMILIST_HOSTILE\\\\"},
      {"spaces and quotes", L"SEMILIST \"HOSTILE\" NAME"},
      {"non-BMP", L"SEMILIST_\U0001F600"},
      {"empty: the key's default value", L""},
  };
  for (const auto& [what, name] : names) {
    ExpectRoundTrip(name, L"C:\\x", what);
  }
}

TEST_F(HostileInputTest, OverlongValueNameIsRefused) {
  // The registry refuses names over 16 383 characters, so the store fails.
  const std::wstring name(16384, L'N');
  ExpectRun({L"/append", L"/user", name, L"C:\\x"}, 3, name, std::nullopt,
            "16 384-character name");
}

TEST_F(HostileInputTest, NearlyRightSwitchesAreUsageErrors) {
  const std::wstring name = L"SEMILIST_HOSTILE_SWITCH";
  const std::vector<std::pair<std::wstring, std::wstring>> switches = {
      {L"/append\u00A0", L"/user"}, {L"/app\u00E9nd", L"/user"},
      {L"//append", L"/user"},      {L"/append/", L"/user"},
      {L"\uFF0Fappend", L"/user"},  {L"\\append", L"/user"},
      {L"/append\t", L"/user"},     {L"/appendx", L"/user"},
      {L"/append", L"/user\u00A0"}, {L"/append", L"\uFF0Fuser"},
      {L"/remove", L"/sys"},        {L"/remove", L"/systems"},
      {L"/remove", L"/\u0130ser"},  {L"/\u212Aemove", L"/user"},
  };
  for (std::size_t i = 0; i < switches.size(); ++i) {
    ExpectRun({switches[i].first, switches[i].second, name, L"C:\\x"}, 1, name,
              std::nullopt, "switch pair " + std::to_string(i));
  }
}

TEST_F(HostileInputTest, MegabyteValueIsEditedIntact) {
  const std::wstring name = L"SEMILIST_HOSTILE_BIG";
  std::wstring text;
  for (int i = 0; i < 60000; ++i) {
    if (i > 0) text += L';';
    text += L"C:\\d" + std::to_wstring(10000 + i);
  }
  ASSERT_GT(text.size() * sizeof(wchar_t), 1u << 20);
  test::WriteRaw(HKEY_CURRENT_USER, kUserEnvironment, name, REG_EXPAND_SZ,
                 test::TextBytes(text));
  user_[name] = test::ExpandString(text);

  ExpectRun({L"/append", L"/user", name, L"C:\\d40000"}, 0, name,
            test::ExpandString(text), "append of a piece already present");
  ExpectRun({L"/append", L"/user", name, L"C:\\new"}, 0, name,
            test::ExpandString(text + L";C:\\new"), "append at the end");
  const std::wstring middle = L";C:\\d40000";
  std::wstring removed = text + L";C:\\new";
  removed.erase(removed.find(middle), middle.size());
  ExpectRun({L"/remove", L"/user", name, L"c:\\D40000"}, 0, name,
            test::ExpandString(removed), "remove from the middle");
  test::DeleteRaw(HKEY_CURRENT_USER, kUserEnvironment, name);
}

}  // namespace
}  // namespace semilist
