// The real semilist.exe, started with CreateProcessW against the prefix's
// Environment keys. A top-level window of this process counts the
// WM_SETTINGCHANGE broadcasts that each run sends.
#include <windows.h>
// After windows.h, which it needs.
#include <gtest/gtest.h>
#include <userenv.h>

#include "semilist_process.h"
#include "windows_test_support.h"

namespace semilist {
namespace {

using test::ExpandString;
using test::kSystemEnvironment;
using test::kUserEnvironment;
using test::RawValue;
using test::TextBytes;
using namespace std::string_view_literals;

struct RunResult {
  DWORD status = 0xDEAD;
  int broadcasts = 0;
};

// What runs a case: semilist.exe, which asks to run elevated;
// semilist-user.exe, which runs as its caller and otherwise edits exactly as
// semilist.exe does; or a host that hands the same words to semilist.dll.
struct Runner {
  const wchar_t* program;
  const wchar_t* image;  // the file that the relay holds and starts
  bool inProcess;
};

class SemilistRunTest : public ::testing::TestWithParam<Runner> {
 protected:
  void SetUp() override {
    name_ = L"SEMILIST_TEST_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
            std::to_wstring(++counter_);
  }
  void TearDown() override {
    test::DeleteRaw(HKEY_CURRENT_USER, kUserEnvironment, name_);
    test::DeleteRaw(HKEY_LOCAL_MACHINE, kSystemEnvironment, name_);
    test::DeleteRaw(HKEY_CURRENT_USER, test::kUserOwners, name_);
    test::DeleteRaw(HKEY_LOCAL_MACHINE, test::kSystemOwners, name_);
  }

  RunResult Run(const std::vector<std::wstring>& arguments) {
    broadcasts_.Reset();
    RunResult result;
    result.status = test::WaitForSemilist(
        test::StartSemilist(arguments, nullptr, GetParam().program));
    // The broadcast is synchronous, so it has been handled by the time the
    // sender exits.
    result.broadcasts = broadcasts_.Count();
    return result;
  }

  RunResult Append(const std::wstring& item, const wchar_t* scope = L"/user") {
    return Run({L"/append", scope, name_, item});
  }
  RunResult Remove(const std::wstring& item, const wchar_t* scope = L"/user") {
    return Run({L"/remove", scope, name_, item});
  }
  std::optional<RawValue> UserValue() {
    return test::ReadRaw(HKEY_CURRENT_USER, kUserEnvironment, name_);
  }
  void SetUserValue(DWORD type, const std::vector<BYTE>& data) {
    test::WriteRaw(HKEY_CURRENT_USER, kUserEnvironment, name_, type, data);
  }

  static int counter_;
  test::BroadcastCounter broadcasts_;
  std::wstring name_;
};

int SemilistRunTest::counter_ = 0;

void ExpectDone(const RunResult& result) {
  EXPECT_EQ(result.status, 0u);
  EXPECT_EQ(result.broadcasts, 1);
}

TEST_P(SemilistRunTest, UsageErrorsTouchNothing) {
  SetUserValue(REG_SZ, TextBytes(L"a;;b"));
  const auto user = test::Snapshot(HKEY_CURRENT_USER, kUserEnvironment);
  const auto system = test::Snapshot(HKEY_LOCAL_MACHINE, kSystemEnvironment);
  const std::vector<std::vector<std::wstring>> misuses = {
      {},
      {L"/append", L"/user", name_},
      {L"/append", L"/user", name_, L"x", L"y"},
      {L"/add", L"/user", name_, L"x"},
      {L"/append", L"/machine", name_, L"x"},
      {L"-append", L"/user", name_, L"x"},
      {L"/appen", L"/user", name_, L"x"},
      {L"/prepen", L"/user", name_, L"x"},
      {L"/prepend", L"/user", name_},
      {L"/append ", L"/user", name_, L"x"},
      {L"/user", L"/append", name_, L"x"},
      {L"/remove", L"/\u00FCser", name_, L"x"},
      {L"/remove", L"", name_, L"x"},
      {L"/broadcast", L"x"},
      {L"/broadcas"},
      {L"-broadcast"},
      {L"/broadcast", L"/user", name_, L"x"},
      {L"/broadcast", L"/owner:A"},
      {L"/append", L"/user", name_, L"x", L"/owner:"},
      {L"/append", L"/user", name_, L"x", L"/owner"},
      {L"/append", L"/user", name_, L"x", L"-owner:A"},
      {L"/append", L"/user", name_, L"x", L"/owner:A", L"/owner:B"},
      {L"/append", L"/user", name_, L"", L"/owner:A"},
      {L"/remove", L"/user", name_, L"a;b", L"/owner:A"},
      {L"/contains", L"/user", name_},
      {L"/contain", L"/user", name_, L"a"},
      {L"/contains", L"/user", name_, L"", L"/owner:A"},
  };
  for (const auto& arguments : misuses) {
    const RunResult result = Run(arguments);
    EXPECT_EQ(result.status, 1u) << arguments.size() << " arguments";
    EXPECT_EQ(result.broadcasts, 0);
  }
  EXPECT_EQ(test::Snapshot(HKEY_CURRENT_USER, kUserEnvironment), user);
  EXPECT_EQ(test::Snapshot(HKEY_LOCAL_MACHINE, kSystemEnvironment), system);
}

TEST_P(SemilistRunTest, OwnedEditsRemoveOnlyWhatNoOneElseNeeds) {
  struct Scope {
    HKEY root;
    const wchar_t *key, *owners, *name;
  };
  for (const Scope& scope :
       {Scope{HKEY_CURRENT_USER, kUserEnvironment, test::kUserOwners, L"/user"},
        Scope{HKEY_LOCAL_MACHINE, kSystemEnvironment, test::kSystemOwners,
              L"/system"}}) {
    const auto list = [&] {
      return test::ReadRaw(scope.root, scope.key, name_);
    };
    const auto record = [&] {
      return test::ReadRaw(scope.root, scope.owners, name_);
    };
    const auto owned = [&](const wchar_t* action, const wchar_t* item,
                           const wchar_t* owner) {
      ExpectDone(Run({action, scope.name, name_, item, owner}));
    };
    // Plain runs never make the key that owned runs keep their claims in.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(scope.root, L"Software", 0,
                            KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key),
              ERROR_SUCCESS);
    RegDeleteTreeW(key, L"semilist");
    RegCloseKey(key);
    ExpectDone(Append(L"C:\\Tools", scope.name));
    ExpectDone(Remove(L"C:\\Tools", scope.name));
    EXPECT_EQ(RegOpenKeyExW(scope.root, L"Software\\semilist", 0,
                            KEY_READ | KEY_WOW64_64KEY, &key),
              ERROR_FILE_NOT_FOUND);

    // The user's own entry, in another case, outlives an install and its
    // uninstall, and the list comes back byte for byte.
    const RawValue before{REG_SZ, TextBytes(L"a;C:\\Tools;b")};
    test::WriteRaw(scope.root, scope.key, name_, before.type, before.data);
    owned(L"/append", L"c:\\TOOLS", L"/owner:{A}");
    EXPECT_EQ(record(), (RawValue{REG_MULTI_SZ,
                                  TextBytes(std::wstring(L"semilist owners 1\0"
                                                         L"found c:\\TOOLS\0"
                                                         L"owner {A}\0\0"sv),
                                            false)}));
    owned(L"/remove", L"C:\\Tools", L"/owner:{A}");
    EXPECT_EQ(list(), before) << scope.name;
    EXPECT_FALSE(record()) << scope.name;

    // Two products share an entry, or a major upgrade installs {B} before
    // it removes {A}: the entry stays until its last owner goes. A remove by
    // an owner that never claimed it changes nothing.
    owned(L"/append", L"C:\\Shared", L"/owner:{A}");
    owned(L"/PREPEND", L"C:\\Shared", L"/OWNER:{B}");
    owned(L"/remove", L"C:\\Shared", L"/owner:{a}");
    owned(L"/remove", L"C:\\Shared", L"/owner:{A}");
    EXPECT_EQ(list(),
              (RawValue{REG_SZ, TextBytes(L"C:\\Shared;a;C:\\Tools;b")}))
        << scope.name;
    owned(L"/remove", L"C:\\Shared", L"/owner:{B}");
    EXPECT_EQ(list(), before) << scope.name;
    EXPECT_FALSE(record()) << scope.name;

    // A record this version cannot read is never replaced, nor the list.
    for (const RawValue& unreadable :
         {RawValue{REG_DWORD, {1, 0, 0, 0}},
          RawValue{REG_MULTI_SZ, TextBytes(std::wstring(
                                     L"semilist owners 2\0added x\0\0"sv))}}) {
      test::WriteRaw(scope.root, scope.owners, name_, unreadable.type,
                     unreadable.data);
      for (const wchar_t* action : {L"/append", L"/remove"}) {
        const RunResult result =
            Run({action, scope.name, name_, L"C:\\Tools", L"/owner:{A}"});
        EXPECT_EQ(result.status, 2u) << scope.name;
        EXPECT_EQ(result.broadcasts, 0);
      }
      EXPECT_EQ(record(), unreadable);
      EXPECT_EQ(list(), before);
    }
  }
}

TEST_P(SemilistRunTest, ContainsFindsWholePiecesAndWritesNothing) {
  ExpectDone(Run({L"/append", L"/user", name_, L"C:\\Owned", L"/owner:{A}"}));
  const std::wstring list = L"C:\\Tools;%SystemRoot%;C:\\Owned";
  struct Case {
    const char* what;
    DWORD type;  // REG_NONE: no value
    std::wstring data;
    const wchar_t* item;
    std::wstring owner;
    DWORD status;
  };
  const Case cases[] = {
      {"another case", REG_SZ, list, L"c:\\TOOLS", L"", 0},
      {"a reference, unexpanded", REG_EXPAND_SZ, list, L"%systemroot%", L"", 0},
      {"absent", REG_SZ, list, L"C:\\Other", L"", 5},
      {"a substring", REG_SZ, list, L"C:\\Tool", L"", 5},
      {"a longer piece", REG_SZ, L"C:\\Tools2", L"C:\\Tools", L"", 5},
      {"a trailing backslash", REG_SZ, list, L"C:\\Tools\\", L"", 5},
      {"no value", REG_NONE, L"", L"C:\\Tools", L"", 5},
      {"claimed by its owner", REG_SZ, list, L"c:\\owned", L"/owner:{A}", 0},
      {"an owner that never claimed it", REG_SZ, list, L"C:\\Owned",
       L"/owner:{B}", 5},
      {"listed, but not claimed", REG_SZ, list, L"C:\\Tools", L"/owner:{A}", 5},
      {"claimed, but no longer listed", REG_SZ, L"C:\\Tools", L"C:\\Owned",
       L"/owner:{A}", 5},
      {"REG_MULTI_SZ", REG_MULTI_SZ, std::wstring(L"C:\\Tools\0\0", 10),
       L"C:\\Tools", L"", 2},
      {"a tail after a NUL", REG_SZ, std::wstring(L"C:\\a\0C:\\Tools", 12),
       L"C:\\Tools", L"", 2},
  };
  for (const Case& c : cases) {
    test::DeleteRaw(HKEY_CURRENT_USER, kUserEnvironment, name_);
    if (c.type != REG_NONE) SetUserValue(c.type, TextBytes(c.data));
    const auto before = test::Snapshot(HKEY_CURRENT_USER, kUserEnvironment);
    const auto claims =
        test::ReadRaw(HKEY_CURRENT_USER, test::kUserOwners, name_);
    std::vector<std::wstring> arguments = {L"/CONTAINS", L"/user", name_,
                                           c.item};
    if (!c.owner.empty()) arguments.push_back(c.owner);
    const RunResult result = Run(arguments);
    EXPECT_EQ(result.status, c.status) << c.what;
    EXPECT_EQ(result.broadcasts, 0) << c.what;
    EXPECT_EQ(test::Snapshot(HKEY_CURRENT_USER, kUserEnvironment), before)
        << c.what;
    EXPECT_EQ(test::ReadRaw(HKEY_CURRENT_USER, test::kUserOwners, name_),
              claims)
        << c.what;
  }
  // Asking with an owner creates no record, and one that cannot be read is
  // an unreadable run, as for an edit.
  SetUserValue(REG_SZ, TextBytes(list));
  test::DeleteRaw(HKEY_CURRENT_USER, test::kUserOwners, name_);
  EXPECT_EQ(
      Run({L"/contains", L"/user", name_, L"C:\\Tools", L"/owner:{A}"}).status,
      5u);
  EXPECT_FALSE(test::ReadRaw(HKEY_CURRENT_USER, test::kUserOwners, name_));
  test::WriteRaw(HKEY_CURRENT_USER, test::kUserOwners, name_, REG_DWORD,
                 {1, 0, 0, 0});
  EXPECT_EQ(
      Run({L"/contains", L"/user", name_, L"C:\\Tools", L"/owner:{A}"}).status,
      2u);
  // The machine's list needs no administrator to be read; under Wine every
  // process is one, so only the answer shows here.
  test::WriteRaw(HKEY_LOCAL_MACHINE, kSystemEnvironment, name_, REG_SZ,
                 TextBytes(L"C:\\Machine"));
  EXPECT_EQ(Run({L"/contains", L"/system", name_, L"c:\\machine"}).status, 0u);
  EXPECT_EQ(Run({L"/contains", L"/system", name_, L"C:\\Tools"}).status, 5u);
}

TEST_P(SemilistRunTest, SwitchesIgnoreAsciiCase) {
  ExpectDone(Run({L"/Append", L"/USER", name_, L"x"}));
  ExpectDone(Run({L"/APPEND", L"/uSeR", name_, L"y"}));
  EXPECT_EQ(UserValue(), ExpandString(L"x;y"));
  ExpectDone(Run({L"/REMOVE", L"/User", name_, L"X"}));
  EXPECT_EQ(UserValue(), ExpandString(L"y"));
}

TEST_P(SemilistRunTest, BroadcastAloneTouchesNoValueAndTakesNoLock) {
  const auto user = test::Snapshot(HKEY_CURRENT_USER, kUserEnvironment);
  const auto system = test::Snapshot(HKEY_LOCAL_MACHINE, kSystemEnvironment);
  {
    // Either lock taken would end the run with status 4.
    const test::HeldEditLock machine(true, GetParam().program);
    const test::HeldEditLock account(false, GetParam().program);
    ExpectDone(Run({L"/broadcast"}));
    ExpectDone(Run({L"/BROADCAST"}));
  }
  EXPECT_EQ(test::Snapshot(HKEY_CURRENT_USER, kUserEnvironment), user);
  EXPECT_EQ(test::Snapshot(HKEY_LOCAL_MACHINE, kSystemEnvironment), system);
}

TEST_P(SemilistRunTest, KeepsOnlyAConsoleThatItShares) {
  // Asked while the process waits for this thread's window to answer its
  // broadcast, which comes after its console is let go of.
  const auto hasConsole = [](HANDLE process) {
    FreeConsole();
    const bool attached = AttachConsole(GetProcessId(process)) != FALSE;
    FreeConsole();
    return attached;
  };
  // As a GUI program starts it: with a console window of its own, which a
  // host of semilist.dll keeps, since only the programs let go of theirs.
  HANDLE own = test::StartSemilist({L"/broadcast"}, nullptr, GetParam().program,
                                   CREATE_NEW_CONSOLE);
  std::optional<bool> kept;
  broadcasts_.OnBroadcast([&] { kept = hasConsole(own); });
  EXPECT_EQ(test::WaitForSemilist(own), 0u);
  EXPECT_EQ(kept, GetParam().inProcess);

  // As a shell starts it: the console it shares stays.
  AllocConsole();
  HANDLE shared =
      test::StartSemilist({L"/broadcast"}, nullptr, GetParam().program);
  kept.reset();
  broadcasts_.OnBroadcast([&] { kept = hasConsole(shared); });
  EXPECT_EQ(test::WaitForSemilist(shared), 0u);
  EXPECT_EQ(kept, true);
}

TEST_P(SemilistRunTest, AppendCreatesThenExtendsTheValue) {
  ExpectDone(Append(L"C:\\a"));
  EXPECT_EQ(UserValue(), ExpandString(L"C:\\a"));
  ExpectDone(Append(L"C:\\b"));
  EXPECT_EQ(UserValue(), ExpandString(L"C:\\a;C:\\b"));
}

TEST_P(SemilistRunTest, PrependPutsTheItemOrItsStoredSpellingFirst) {
  ExpectDone(Run({L"/PREPEND", L"/user", name_, L"%USERPROFILE%\\bin"}));
  EXPECT_EQ(UserValue(), ExpandString(L"%USERPROFILE%\\bin"));
  SetUserValue(REG_EXPAND_SZ, TextBytes(L"a;;C:\\Tools;c:\\tools"));
  ExpectDone(Run({L"/prepend", L"/user", name_, L"C:\\TOOLS"}));
  EXPECT_EQ(UserValue(), ExpandString(L"C:\\Tools;a;c:\\tools"));
}

TEST_P(SemilistRunTest, DuplicateInOtherCaseIsNotAddedButTextIsRewritten) {
  SetUserValue(REG_EXPAND_SZ, TextBytes(L"a;;B;"));
  ExpectDone(Append(L"b"));
  EXPECT_EQ(UserValue(), ExpandString(L"a;B"));
}

TEST_P(SemilistRunTest, ReferencesAreKeptAsWritten) {
  SetUserValue(REG_SZ, TextBytes(L"%SystemRoot%\\tools"));
  ExpectDone(Append(L"%USERPROFILE%\\bin"));
  EXPECT_EQ(UserValue(),
            ExpandString(L"%SystemRoot%\\tools;%USERPROFILE%\\bin"));
}

TEST_P(SemilistRunTest, RegSzStaysRegSzUnlessTheListHoldsAReference) {
  // A REG_EXPAND_SZ PATH can refer to a REG_SZ helper list only while the
  // list stays REG_SZ, which the logon environment sets first.
  struct Case {
    const wchar_t *action, *before, *item, *after;
    DWORD type, stored;  // type REG_NONE: no value before the run
  };
  const Case cases[] = {
      {L"/append", L"a;;", L"b", L"a;b", REG_SZ, REG_SZ},
      {L"/prepend", L"a", L"b", L"b;a", REG_SZ, REG_SZ},
      {L"/remove", L"a;b", L"B", L"a", REG_SZ, REG_SZ},
      {L"/append", L"a", L"%USERPROFILE%", L"a;%USERPROFILE%", REG_SZ,
       REG_EXPAND_SZ},
      {L"/remove", L"%SystemRoot%;a", L"a", L"%SystemRoot%", REG_SZ,
       REG_EXPAND_SZ},
      {L"/append", L"a", L"b", L"a;b", REG_EXPAND_SZ, REG_EXPAND_SZ},
      {L"/append", L"", L"b", L"b", REG_NONE, REG_EXPAND_SZ},
  };
  struct Scope {
    HKEY root;
    const wchar_t *key, *name;
  };
  for (const Scope& scope :
       {Scope{HKEY_CURRENT_USER, kUserEnvironment, L"/user"},
        Scope{HKEY_LOCAL_MACHINE, kSystemEnvironment, L"/system"}}) {
    for (const Case& c : cases) {
      test::DeleteRaw(scope.root, scope.key, name_);
      if (c.type != REG_NONE) {
        test::WriteRaw(scope.root, scope.key, name_, c.type,
                       TextBytes(c.before));
      }
      ExpectDone(Run({c.action, scope.name, name_, c.item}));
      EXPECT_EQ(test::ReadRaw(scope.root, scope.key, name_),
                (RawValue{c.stored, TextBytes(c.after)}))
          << scope.name << " " << c.action << " " << c.type;
    }
  }
}

TEST_P(SemilistRunTest, EditPastWhatCmdReadsIsRefused) {
  // cmd.exe drops a variable of over 8,191 characters, as a new process gets
  // it: expanded, and Path as the machine's, ";", the user's.
  const auto text = [](std::size_t length, wchar_t c = L'a') {
    return ExpandString(std::wstring(length, c));
  };
  const std::wstring path = L"Path";
  const RawValue unreadable{REG_DWORD, {1, 0, 0, 0}};
  // Stored as well as set: a new process of the account gets the account's
  // variables from the registry.
  const std::wstring longText(8180, L'a');
  SetEnvironmentVariableW(L"SEMILIST_LONG", longText.c_str());
  test::WriteRaw(HKEY_CURRENT_USER, kUserEnvironment, L"SEMILIST_LONG", REG_SZ,
                 TextBytes(longText));
  // A machine Path that reaches 8,191 exactly with the edit, as a 64-bit
  // process expands it; WOW64 gives a 32-bit one a longer %ProgramFiles%.
  wchar_t programFiles[MAX_PATH] = L"";
  if (!GetEnvironmentVariableW(L"ProgramW6432", programFiles, MAX_PATH)) {
    GetEnvironmentVariableW(L"ProgramFiles", programFiles, MAX_PATH);
  }
  const RawValue programFilesPath =
      ExpandString(L"%ProgramFiles%\\" +
                   std::wstring(8172 - 3000 - wcslen(programFiles), L'm'));
  struct Case {
    const char* what;
    const std::wstring& name;
    std::optional<RawValue> machine, user;
    const wchar_t* action;  // on the user's list, of C:\Tools\new\bin
    DWORD status;
    const wchar_t* owner = nullptr;
  };
  const wchar_t* const append = L"/append";
  const RawValue reference = ExpandString(L"%SEMILIST_LONG%");
  const RawValue referenceAsText{REG_SZ, TextBytes(L"%SEMILIST_LONG%")};
  const Case cases[] = {
      {"8,180 + 17", name_, {}, text(8180), append, 6},
      {"8,180 + 17 by prepending", name_, {}, text(8180), L"/prepend", 6},
      {"owned", name_, {}, text(8180), append, 6, L"/owner:A"},
      {"a reference expands to 8,180", name_, {}, reference, append, 6},
      {"a REG_SZ list that the edit makes REG_EXPAND_SZ",
       name_,
       {},
       referenceAsText,
       append,
       6},
      {"Path: 5,000 + 1 + 3,180 + 17", path, text(5000, L'm'), text(3180),
       append, 6},
      {"another name counts alone", name_, text(5000, L'm'), text(3180), append,
       0},
      {"Path with %ProgramFiles% as a 64-bit process counts it", path,
       programFilesPath, text(3000), append, 0},
      {"already over", name_, {}, text(8200), append, 0},
      {"removing", name_, {}, text(8200), L"/remove", 0},
      {"over 32,767 from above 8,191", name_, {}, text(32760), append, 6},
      {"an unreadable machine Path counts as absent", path, unreadable,
       text(8000), append, 0},
  };
  // The prefix's own Path values, put back at the end.
  const auto machinePath =
      test::ReadRaw(HKEY_LOCAL_MACHINE, kSystemEnvironment, path);
  const auto userPath =
      test::ReadRaw(HKEY_CURRENT_USER, kUserEnvironment, path);
  const auto put = [](HKEY root, const wchar_t* key, const std::wstring& name,
                      const std::optional<RawValue>& value) {
    // Written over, so that the prefix's PATH keeps its name's stored case.
    if (value) {
      test::WriteRaw(root, key, name, value->type, value->data);
    } else {
      test::DeleteRaw(root, key, name);
    }
  };
  for (const Case& c : cases) {
    put(HKEY_LOCAL_MACHINE, kSystemEnvironment, c.name, c.machine);
    put(HKEY_CURRENT_USER, kUserEnvironment, c.name, c.user);
    std::vector<std::wstring> arguments = {c.action, L"/user", c.name,
                                           L"C:\\Tools\\new\\bin"};
    if (c.owner != nullptr) arguments.push_back(c.owner);
    const RunResult result = Run(arguments);
    EXPECT_EQ(result.status, c.status) << c.what;
    if (c.status == 6) {
      EXPECT_EQ(result.broadcasts, 0) << c.what;
      EXPECT_EQ(test::ReadRaw(HKEY_CURRENT_USER, kUserEnvironment, c.name),
                c.user)
          << c.what;
      EXPECT_FALSE(test::ReadRaw(HKEY_CURRENT_USER, test::kUserOwners, c.name))
          << c.what << ": a claim was recorded";
    }
  }
  put(HKEY_LOCAL_MACHINE, kSystemEnvironment, path, machinePath);
  put(HKEY_CURRENT_USER, kUserEnvironment, path, userPath);
  SetEnvironmentVariableW(L"SEMILIST_LONG", nullptr);
  test::DeleteRaw(HKEY_CURRENT_USER, kUserEnvironment, L"SEMILIST_LONG");
}

TEST_P(SemilistRunTest, RemoveNormalisesAndDeletesAnEmptiedValue) {
  SetUserValue(REG_EXPAND_SZ, TextBytes(L"a;;b;"));
  ExpectDone(Remove(L"c"));
  EXPECT_EQ(UserValue(), ExpandString(L"a;b"));
  ExpectDone(Remove(L"A"));
  EXPECT_EQ(UserValue(), ExpandString(L"b"));
  ExpectDone(Remove(L"b"));
  EXPECT_FALSE(UserValue().has_value());

  SetUserValue(REG_SZ, TextBytes(L";;;"));
  ExpectDone(Remove(L"x"));
  EXPECT_FALSE(UserValue().has_value());

  // Removing from a value that is not there is already done.
  ExpectDone(Remove(L"x"));
  EXPECT_FALSE(UserValue().has_value());
}

TEST_P(SemilistRunTest, EmptyItemIsAppendedAsGiven) {
  ExpectDone(Append(L""));
  EXPECT_EQ(UserValue(), (RawValue{REG_EXPAND_SZ, {0, 0}}));
  SetUserValue(REG_EXPAND_SZ, TextBytes(L"a;b"));
  ExpectDone(Append(L""));
  EXPECT_EQ(UserValue(), ExpandString(L"a;b;"));
}

TEST_P(SemilistRunTest, NonTextOrHiddenTailIsNeverRewritten) {
  const std::vector<std::pair<DWORD, std::vector<BYTE>>> values = {
      {REG_DWORD, {1, 0, 0, 0}},
      {REG_MULTI_SZ, TextBytes(std::wstring(L"C:\\a\0C:\\b\0", 10))},
      {REG_BINARY, {0x43, 0, 0x3A, 0}},
      // Text that hides C:\b after a NUL: a rewrite would drop it for good.
      {REG_EXPAND_SZ, TextBytes(std::wstring(L"C:\\a\0C:\\b", 9))},
  };
  for (const auto& [type, data] : values) {
    SetUserValue(type, data);
    for (const RunResult& result : {Append(L"C:\\new"), Remove(L"C:\\a")}) {
      EXPECT_EQ(result.status, 2u) << "type " << type;
      EXPECT_EQ(result.broadcasts, 0);
    }
    EXPECT_EQ(UserValue(), (RawValue{type, data}));
  }
}

TEST_P(SemilistRunTest, PublicNameSquatterStopsOnlyARunWithoutNamespaces) {
  // Where the lock lives in private namespaces, the public names are no
  // one's lock, and whoever holds them changes nothing. Where it lives
  // under them, another object there stops the run.
  const bool squatterStops = !test::UsesPrivateNamespaces(GetParam().program);
  struct Case {
    const wchar_t* scope;
    std::wstring lock;
    HKEY root;
    const wchar_t* key;
  };
  for (const Case& c : {Case{L"/user", test::AccountLockName(),
                             HKEY_CURRENT_USER, kUserEnvironment},
                        Case{L"/system", test::MachineLockName(),
                             HKEY_LOCAL_MACHINE, kSystemEnvironment}}) {
    HANDLE squatter = CreateEventW(nullptr, TRUE, FALSE, c.lock.c_str());
    ASSERT_NE(squatter, nullptr);
    const RunResult result = Append(L"x", c.scope);
    EXPECT_EQ(result.status, squatterStops ? 4u : 0u) << c.scope;
    EXPECT_EQ(result.broadcasts, squatterStops ? 0 : 1);
    EXPECT_EQ(test::ReadRaw(c.root, c.key, name_).has_value(), !squatterStops);
    CloseHandle(squatter);
    ExpectDone(Append(L"x", c.scope));
    EXPECT_EQ(test::ReadRaw(c.root, c.key, name_), ExpandString(L"x"));
  }
}

TEST_P(SemilistRunTest, NewLogonEnvironmentShowsTheEdit) {
  // What a user gets at their next logon, built from the registry.
  if (test::UnderWine()) {
    GTEST_SKIP() << "Wine's CreateEnvironmentBlock leaves the user's own "
                    "variables out; this check runs on Windows only";
  }
  ExpectDone(Append(L"%USERPROFILE%\\semilist-logon-test"));
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(),
                               TOKEN_QUERY | TOKEN_DUPLICATE, &token));
  void* block = nullptr;
  ASSERT_TRUE(CreateEnvironmentBlock(&block, token, FALSE));
  wchar_t profile[MAX_PATH] = {};
  GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH);
  const std::wstring expected =
      name_ + L"=" + profile + L"\\semilist-logon-test";
  bool found = false;
  for (auto* entry = static_cast<const wchar_t*>(block); *entry != L'\0';
       entry += wcslen(entry) + 1) {
    found = found || expected == entry;
  }
  DestroyEnvironmentBlock(block);
  CloseHandle(token);
  EXPECT_TRUE(found) << "no " << testing::PrintToString(expected);
}

TEST_P(SemilistRunTest, SystemScopeEditsTheMachineKeyOnly) {
  const auto user = test::Snapshot(HKEY_CURRENT_USER, kUserEnvironment);
  ExpectDone(Append(L"C:\\machine", L"/system"));
  ExpectDone(Append(L"%ProgramFiles%\\tool", L"/SYSTEM"));
  EXPECT_EQ(test::ReadRaw(HKEY_LOCAL_MACHINE, kSystemEnvironment, name_),
            ExpandString(L"C:\\machine;%ProgramFiles%\\tool"));
  ExpectDone(Remove(L"c:\\MACHINE", L"/system"));
  ExpectDone(Remove(L"%programfiles%\\tool", L"/system"));
  EXPECT_FALSE(
      test::ReadRaw(HKEY_LOCAL_MACHINE, kSystemEnvironment, name_).has_value());
  EXPECT_EQ(test::Snapshot(HKEY_CURRENT_USER, kUserEnvironment), user);
}

std::string RunnerName(const ::testing::TestParamInfo<Runner>& info) {
  if (info.param.inProcess) return "InProcess";
  return std::wstring(info.param.program) == L"semilist-user.exe" ? "AsInvoker"
                                                                  : "Elevated";
}

INSTANTIATE_TEST_SUITE_P(
    Programs, SemilistRunTest,
    ::testing::Values(Runner{L"semilist.exe", L"semilist.exe", false},
                      Runner{L"semilist-user.exe", L"semilist-user.exe", false},
                      Runner{L"semilist-dll-host.exe", L"semilist.dll", true}),
    RunnerName);

// semilist-session0.exe believes that it runs in session 0, with users in
// session 1 (active) and 2 (disconnected), none in 3 (connected) and a
// listener. The children it relays to really start, and broadcast here.
class RelayTest : public SemilistRunTest {
 protected:
  void SetUp() override {
    SemilistRunTest::SetUp();
    if (!test::UnderWine()) {
      GTEST_SKIP() << "the session calls are stood in for as Wine answers "
                      "them; on Windows they would reach real sessions";
    }
    SetEnvironmentVariableW(L"SEMILIST_SEAM_LOG", log_.c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"SEMILIST_SEAM_LOG", nullptr);
    SetEnvironmentVariableW(L"SEMILIST_SEAM_FAULT", nullptr);
    DeleteFileW(log_.c_str());
    SemilistRunTest::TearDown();
  }
  // The children started since the last call, one "started N" line each.
  std::string Started() {
    std::string lines;
    if (FILE* file = _wfopen(log_.c_str(), L"rb")) {
      char buffer[256];
      for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, file)) > 0;) {
        lines.append(buffer, n);
      }
      fclose(file);
    }
    DeleteFileW(log_.c_str());
    return lines;
  }

  const std::wstring log_ = test::SiblingPath(
      L"relay-" + std::to_wstring(GetCurrentProcessId()) + L".log");
};

TEST_P(RelayTest, EveryUserSessionHearsTheBroadcastOfAStoredEdit) {
  const std::wstring unreadable = name_ + L"_DWORD";
  test::WriteRaw(HKEY_CURRENT_USER, kUserEnvironment, unreadable, REG_DWORD,
                 {1, 0, 0, 0});
  HANDLE squatter =
      CreateEventW(nullptr, TRUE, FALSE, test::MachineLockName().c_str());
  struct Case {
    const char* what;
    const wchar_t* fault;
    std::vector<std::wstring> arguments;
    DWORD status;
    int broadcasts;   // this session's, and one from each child
    const char* log;  // the children started, then session 0's broadcast
  };
  // Every child runs as its session's user.
  const char* const both =
      "started 1 as the user breakaway\nstarted 2 as the user breakaway\n"
      "broadcast\n";
  // Where the user cannot read the relay's files, semilist.exe starts its
  // own program as itself without privileges; rundll32, which would own a
  // window, is not started.
  const bool hasWindow = GetParam().inProcess;
  const char* const restricted =
      hasWindow ? "broadcast\n"
                : "started 1 with no privileges breakaway\n"
                  "started 2 with no privileges breakaway\nbroadcast\n";
  const std::vector<std::wstring> append = {L"/append", L"/user", name_, L"y"};
  // rundll32 on ARM64 cannot load the x64 DLL, which so relays nothing.
  const bool noRundll = GetParam().inProcess && sizeof(void*) == 8;
  const Case cases[] = {
      {"append", L"", {L"/append", L"/user", name_, L"x"}, 0, 3, both},
      {"remove", L"", {L"/remove", L"/user", name_, L"x"}, 0, 3, both},
      {"broadcast", L"", {L"/broadcast"}, 0, 3, both},
      {"BROADCAST", L"", {L"/BROADCAST"}, 0, 3, both},
      {"privilege refused", L"privilege", append, 0, 1, "broadcast\n"},
      {"only the session privilege held", L"quota", append, 0, 3, both},
      {"job forbids breakaway", L"no-breakaway", append, 0, 3,
       "started 1 as the user\nstarted 2 as the user\nbroadcast\n"},
      {"the user cannot read the files", L"unreadable", append, 0,
       hasWindow ? 1 : 3, restricted},
      {"every start fails", L"start-all", append, 0, 1, "broadcast\n"},
      {"session 1 fails",
       L"start-1",
       {L"/append", L"/user", name_, L"z"},
       0,
       2,
       "started 2 as the user breakaway\nbroadcast\n"},
      {"x64 on ARM64", L"arm64", append, 0, noRundll ? 1 : 3,
       noRundll ? "broadcast\n" : both},
      {"contains", L"", {L"/contains", L"/user", name_, L"y"}, 0, 0, ""},
      {"usage error", L"", {L"/broadcast", L"x"}, 1, 0, ""},
      {"unreadable", L"", {L"/append", L"/user", unreadable, L"x"}, 2, 0, ""},
      {"lock held", L"", {L"/append", L"/system", name_, L"x"}, 4, 0, ""},
  };
  for (const Case& c : cases) {
    SetEnvironmentVariableW(L"SEMILIST_SEAM_FAULT", c.fault);
    const RunResult result = Run(c.arguments);
    EXPECT_EQ(result.status, c.status) << c.what;
    EXPECT_EQ(result.broadcasts, c.broadcasts) << c.what;
    EXPECT_EQ(Started(), c.log) << c.what;
  }
  SetEnvironmentVariableW(L"SEMILIST_SEAM_FAULT", nullptr);
  // Held by someone who may rename it, the file that the user's child runs
  // or loads cannot be held for the relay, which then does not start it.
  HANDLE image = CreateFileW(test::SiblingPath(GetParam().image).c_str(),
                             DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(image, INVALID_HANDLE_VALUE);
  const RunResult held = Run(append);
  CloseHandle(image);
  EXPECT_EQ(held.status, 0u);
  EXPECT_EQ(held.broadcasts, hasWindow ? 1 : 3);
  EXPECT_EQ(Started(), restricted);
  CloseHandle(squatter);
  test::DeleteRaw(HKEY_CURRENT_USER, kUserEnvironment, unreadable);
  EXPECT_EQ(UserValue(), ExpandString(L"y;z"));
}

// semilist-session0.dll in a host whose threads relay, for what only a host
// shows.
class HostRelayTest : public RelayTest {
 protected:
  // Relays /broadcast from `threads` threads of one host, all at once.
  void BroadcastFrom(const wchar_t* threads) {
    SetEnvironmentVariableW(L"SEMILIST_HOST_THREADS", threads);
    EXPECT_EQ(Run({L"/broadcast"}).status, 0u);
    SetEnvironmentVariableW(L"SEMILIST_HOST_THREADS", nullptr);
  }
};

TEST_P(HostRelayTest, TwoThreadsRelayingAtOnceBothReachEverySession) {
  BroadcastFrom(L"2");
  EXPECT_EQ(broadcasts_.Count(), 6);
  const std::string log = Started();
  for (const char* line : {"started 1 as the user breakaway\n",
                           "started 2 as the user breakaway\n"}) {
    std::size_t count = 0;
    for (std::size_t at = log.find(line); at != std::string::npos;
         at = log.find(line, at + 1)) {
      ++count;
    }
    EXPECT_EQ(count, 2u) << line << " in\n" << log;
  }
  // The privileges are enabled on the relay thread's own token only.
  EXPECT_EQ(log.find("adjusted the process token"), std::string::npos) << log;
}

TEST_P(HostRelayTest, ThreadWithoutFileRedirectionStillRelays) {
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  if (!wow64) {
    GTEST_SKIP() << "only an x86 host under WOW64 can turn off file "
                    "redirection; this runs in the x86 build";
  }
  // As NSIS's DisableX64FSRedirection does on the thread that calls plugins.
  SetEnvironmentVariableW(L"SEMILIST_HOST_NO_REDIRECTION", L"1");
  BroadcastFrom(L"1");
  SetEnvironmentVariableW(L"SEMILIST_HOST_NO_REDIRECTION", nullptr);
  EXPECT_EQ(Started(),
            "started 1 as the user breakaway\nstarted 2 as the user "
            "breakaway\nbroadcast\n");
}

TEST_P(HostRelayTest, TerminateEndsTheHostAtOnceWithoutAWindow) {
  // abort would end it with 3, after a message box where it has no console.
  SetEnvironmentVariableW(L"SEMILIST_HOST_TERMINATE", L"1");
  constexpr DWORD kFailFast = 0xC0000602;  // STATUS_FAIL_FAST_EXCEPTION
  EXPECT_EQ(Run({}).status, kFailFast);
  SetEnvironmentVariableW(L"SEMILIST_HOST_TERMINATE", nullptr);
}

INSTANTIATE_TEST_SUITE_P(SessionZero, HostRelayTest,
                         ::testing::Values(Runner{
                             L"semilist-session0-dll-host.exe",
                             L"semilist-session0.dll", true}),
                         RunnerName);

INSTANTIATE_TEST_SUITE_P(
    SessionZero, RelayTest,
    ::testing::Values(Runner{L"semilist-session0.exe", L"semilist-user.exe",
                             false},
                      Runner{L"semilist-session0-dll-host.exe",
                             L"semilist-session0.dll", true}),
    RunnerName);

}  // namespace
}  // namespace semilist
