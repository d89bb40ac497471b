// The real semilist.exe, started with CreateProcessW against the prefix's
// Environment keys. A top-level window of this process counts the
// WM_SETTINGCHANGE broadcasts that each run sends.
#include <gtest/gtest.h>

#include "windows_test_support.h"

namespace semilist {
namespace {

using test::ExpandString;
using test::kSystemEnvironment;
using test::kUserEnvironment;
using test::RawValue;
using test::TextBytes;

int g_environmentBroadcasts = 0;

LRESULT CALLBACK CountingWindowProc(HWND window, UINT message, WPARAM wParam,
                                    LPARAM lParam) {
  if (message == WM_SETTINGCHANGE && lParam != 0 &&
      std::wstring(reinterpret_cast<const wchar_t*>(lParam)) ==
          L"Environment") {
    ++g_environmentBroadcasts;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// Quotes one argument so that the runtime's command-line splitting gives it
// back unchanged: backslashes are literal except before a quote.
std::wstring QuoteArgument(const std::wstring& argument) {
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t unit : argument) {
    if (unit == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(unit == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += unit;
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}

struct RunResult {
  DWORD status = 0xDEAD;
  int broadcasts = 0;
};

class SemilistRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = CountingWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"SemilistBroadcastCounter";
    RegisterClassW(&windowClass);
    window_ = CreateWindowExW(0, windowClass.lpszClassName, L"counter",
                              WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr,
                              nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(window_, nullptr);
    name_ = L"SEMILIST_TEST_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
            std::to_wstring(++counter_);
  }
  void TearDown() override {
    test::DeleteRaw(HKEY_CURRENT_USER, kUserEnvironment, name_);
    test::DeleteRaw(HKEY_LOCAL_MACHINE, kSystemEnvironment, name_);
    DestroyWindow(window_);
  }

  // Runs semilist with exactly these arguments, pumping this thread's
  // messages meanwhile so that the broadcast can reach the window.
  RunResult Run(const std::vector<std::wstring>& arguments) {
    std::wstring commandLine =
        QuoteArgument(test::SiblingPath(L"semilist.exe"));
    for (const std::wstring& argument : arguments) {
      commandLine += L" " + QuoteArgument(argument);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    RunResult result;
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &process)) {
      ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
      return result;
    }
    g_environmentBroadcasts = 0;
    while (MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, 60000,
                                     QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&message);
      }
    }
    GetExitCodeProcess(process.hProcess, &result.status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    // The broadcast is synchronous, so it has been handled by the time the
    // sender exits.
    result.broadcasts = g_environmentBroadcasts;
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
  HWND window_ = nullptr;
  std::wstring name_;
};

int SemilistRunTest::counter_ = 0;

void ExpectDone(const RunResult& result) {
  EXPECT_EQ(result.status, 0u);
  EXPECT_EQ(result.broadcasts, 1);
}

TEST_F(SemilistRunTest, UsageErrorsTouchNothing) {
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
      {L"/append ", L"/user", name_, L"x"},
      {L"/user", L"/append", name_, L"x"},
      {L"/remove", L"/\u00FCser", name_, L"x"},
      {L"/remove", L"", name_, L"x"},
  };
  for (const auto& arguments : misuses) {
    const RunResult result = Run(arguments);
    EXPECT_EQ(result.status, 1u) << arguments.size() << " arguments";
    EXPECT_EQ(result.broadcasts, 0);
  }
  EXPECT_EQ(test::Snapshot(HKEY_CURRENT_USER, kUserEnvironment), user);
  EXPECT_EQ(test::Snapshot(HKEY_LOCAL_MACHINE, kSystemEnvironment), system);
}

TEST_F(SemilistRunTest, SwitchesIgnoreAsciiCase) {
  ExpectDone(Run({L"/Append", L"/USER", name_, L"x"}));
  ExpectDone(Run({L"/APPEND", L"/uSeR", name_, L"y"}));
  EXPECT_EQ(UserValue(), ExpandString(L"x;y"));
  ExpectDone(Run({L"/REMOVE", L"/User", name_, L"X"}));
  EXPECT_EQ(UserValue(), ExpandString(L"y"));
}

TEST_F(SemilistRunTest, AppendCreatesThenExtendsTheValue) {
  ExpectDone(Append(L"C:\\a"));
  EXPECT_EQ(UserValue(), ExpandString(L"C:\\a"));
  ExpectDone(Append(L"C:\\b"));
  EXPECT_EQ(UserValue(), ExpandString(L"C:\\a;C:\\b"));
}

TEST_F(SemilistRunTest, DuplicateInOtherCaseIsNotAddedButTextIsRewritten) {
  SetUserValue(REG_SZ, TextBytes(L"a;;B;"));
  ExpectDone(Append(L"b"));
  EXPECT_EQ(UserValue(), ExpandString(L"a;B"));
}

TEST_F(SemilistRunTest, ReferencesAreKeptAsWritten) {
  SetUserValue(REG_SZ, TextBytes(L"%SystemRoot%\\tools"));
  ExpectDone(Append(L"%USERPROFILE%\\bin"));
  EXPECT_EQ(UserValue(),
            ExpandString(L"%SystemRoot%\\tools;%USERPROFILE%\\bin"));
}

TEST_F(SemilistRunTest, RemoveNormalisesAndDeletesAnEmptiedValue) {
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

TEST_F(SemilistRunTest, EmptyItemIsAppendedAsGiven) {
  ExpectDone(Append(L""));
  EXPECT_EQ(UserValue(), (RawValue{REG_EXPAND_SZ, {0, 0}}));
  SetUserValue(REG_SZ, TextBytes(L"a;b"));
  ExpectDone(Append(L""));
  EXPECT_EQ(UserValue(), ExpandString(L"a;b;"));
}

TEST_F(SemilistRunTest, NonTextValueIsNeverRewritten) {
  const std::vector<std::pair<DWORD, std::vector<BYTE>>> values = {
      {REG_DWORD, {1, 0, 0, 0}},
      {REG_MULTI_SZ, TextBytes(std::wstring(L"C:\\a\0C:\\b\0", 10))},
      {REG_BINARY, {0x43, 0, 0x3A, 0}},
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

TEST_F(SemilistRunTest, FailedStoreIsReportedAndChangesNothing) {
  // The registry refuses value names over 16 383 characters.
  name_ = std::wstring(16384, L'N');
  const auto user = test::Snapshot(HKEY_CURRENT_USER, kUserEnvironment);
  const RunResult result = Append(L"C:\\x");
  EXPECT_EQ(result.status, 3u);
  EXPECT_EQ(result.broadcasts, 1);
  EXPECT_EQ(test::Snapshot(HKEY_CURRENT_USER, kUserEnvironment), user);
}

TEST_F(SemilistRunTest, SystemScopeEditsTheMachineKeyOnly) {
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

}  // namespace
}  // namespace semilist
