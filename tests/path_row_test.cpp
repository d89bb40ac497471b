// What an MSI's SemilistPath. row schedules for each state of its component.
#include "msi_rows/path_row.h"

#include <gtest/gtest.h>

namespace semilist {
namespace {

TEST(PathRow, ComponentStatesDecideTheTask) {
  struct Case {
    int installed, action;
    bool productRemoved;
    RowTask task;
  };
  const Case cases[] = {
      {kStateAbsent, kStateLocal, false, RowTask::Install},
      {kStateUnknown, kStateSource, false, RowTask::Install},
      // A repair or a patch: the edit again, which puts back a lost entry.
      {kStateLocal, kStateLocal, false, RowTask::Reinstall},
      {kStateSource, kStateLocal, false, RowTask::Reinstall},
      // A feature removed on its own, and a whole uninstall.
      {kStateLocal, kStateAbsent, false, RowTask::Remove},
      {kStateLocal, kStateRemoved, true, RowTask::Remove},
      // Kept for another product that shares it: the claim still goes.
      {kStateLocal, kStateUnknown, true, RowTask::Remove},
      {kStateLocal, kStateUnknown, false, RowTask::Nothing},
      {kStateAbsent, kStateAbsent, false, RowTask::Nothing},
      {kStateAbsent, kStateUnknown, true, RowTask::Nothing},
      {kStateAbsent, kStateDefault, false, RowTask::Nothing},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TaskFor(c.installed, c.action, c.productRemoved), c.task)
        << StateInWords(c.installed) << " -> " << StateInWords(c.action)
        << (c.productRemoved ? ", REMOVE=ALL" : "");
  }
}

TEST(PathRow, EachTaskHasItsEditAndTheRollbackThatUndoesIt) {
  PathRow row;
  std::wstring why;
  ASSERT_TRUE(ParsePathRow(
      {L"/Prepend", L"/SYSTEM", L"PATH", L"C:\\Program Files\\Tool\\bin\\"},
      L"{P-1}", row, why));
  const std::wstring prepend =
      L"/prepend /system PATH \"C:\\Program Files\\Tool\\bin\\\\\" "
      L"/owner:{P-1}";
  const std::wstring remove =
      L"/remove /system PATH \"C:\\Program Files\\Tool\\bin\\\\\" "
      L"/owner:{P-1}";
  EXPECT_EQ(EditsFor(row, RowTask::Install).edit, prepend);
  EXPECT_EQ(EditsFor(row, RowTask::Install).rollback, remove);
  EXPECT_EQ(EditsFor(row, RowTask::Reinstall).edit, prepend);
  EXPECT_EQ(EditsFor(row, RowTask::Reinstall).rollback, L"");
  EXPECT_EQ(EditsFor(row, RowTask::Remove).edit, remove);
  EXPECT_EQ(EditsFor(row, RowTask::Remove).rollback, prepend);
  EXPECT_EQ(EditsFor(row, RowTask::Nothing).edit, L"");

  ASSERT_TRUE(
      ParsePathRow({L"/append", L"/user", L"PATH", L"C:\\x", L"/OWNER:Tool"},
                   L"{P-1}", row, why));
  EXPECT_TRUE(row.user);
  EXPECT_EQ(EditsFor(row, RowTask::Install).edit,
            L"/append /user PATH C:\\x /owner:Tool");
}

TEST(PathRow, WordsSemilistWouldRefuseAreRefused) {
  using Words = std::vector<std::wstring>;
  const Words refused[] = {
      {L"/append", L"/system", L"PATH"},
      {L"/append", L"/system", L"PATH", L"x", L"/owner:a", L"more"},
      {L"/remove", L"/system", L"PATH", L"x"},
      {L"/contains", L"/system", L"PATH", L"x"},
      {L"/append", L"/machine", L"PATH", L"x"},
      // A property that was not set formats to nothing.
      {L"/append", L"/system", L"PATH", L""},
      {L"/append", L"/system", L"PATH", L"a;b"},
      {L"/append", L"/system", L"PATH", L"x", L"/owner:"},
      {L"/append", L"/system", L"PATH", L"x", L"owner:a"},
  };
  for (const Words& words : refused) {
    PathRow row;
    std::wstring why;
    EXPECT_FALSE(ParsePathRow(words, L"{P-1}", row, why))
        << testing::PrintToString(words);
    EXPECT_FALSE(why.empty());
  }
  PathRow row;
  std::wstring why;
  EXPECT_FALSE(
      ParsePathRow({L"/append", L"/system", L"PATH", L"x"}, L"", row, why));
}

}  // namespace
}  // namespace semilist
