#include "identity/process_family.h"
#include "sim_test.h"

namespace {

ProcessTable Table(std::initializer_list<std::tuple<platform::ProcessId, platform::ProcessId,
                                                    const wchar_t*>> rows) {
  ProcessTable table;
  for (auto [pid, parent, name] : rows) table[pid] = ProcessEntry{parent, name};
  return table;
}

// A chain of `length` same-image processes below an explorer: pid 1000 is the top one, each
// next pid a child of the one before.
ProcessTable Chain(int length) {
  ProcessTable table = Table({{4, 0, L"explorer.exe"}});
  for (int i = 0; i < length; ++i)
    table[1000 + i] = ProcessEntry{i == 0 ? 4u : 999u + i, L"app.exe"};
  return table;
}

struct FamilyCase {
  const char* what;
  ProcessTable table;
  platform::ProcessId windowPid;
  platform::ProcessId excludedPid;
  platform::ProcessId root;
  bool isSelf;
};

TEST(ResolveCaptureRoot, ClimbsSameImageAncestorsAndTestsTheExcludedProcess) {
  const FamilyCase cases[] = {
      {"different parent image is its own root",
       Table({{1, 0, L"explorer.exe"}, {2, 1, L"app.exe"}}), 2, 0, 2, false},
      {"three generations climb to the grandparent",
       Table({{1, 0, L"x.exe"}, {10, 1, L"app.exe"}, {11, 10, L"app.exe"}, {12, 11, L"app.exe"}}),
       12, 0, 10, false},
      {"ASCII case ignored", Table({{1, 0, L"x.exe"}, {10, 1, L"APP.EXE"}, {11, 10, L"App.exe"}}),
       11, 0, 10, false},
      {"non-ASCII case not folded",
       Table({{1, 0, L"x.exe"}, {10, 1, L"\x00C9.exe"}, {11, 10, L"\x00E9.exe"}}), 11, 0, 11, false},
      {"same file name from another folder climbs",
       Table({{1, 0, L"x.exe"}, {10, 1, L"app.exe"}, {11, 10, L"app.exe"}}), 11, 0, 10, false},
      {"parent cycle stops after 16 moves on the start",
       Table({{20, 21, L"app.exe"}, {21, 20, L"app.exe"}}), 20, 0, 20, false},
      {"self-parented process stops", Table({{30, 30, L"app.exe"}}), 30, 0, 30, false},
      {"parent absent from the table stops", Table({{31, 77, L"app.exe"}}), 31, 0, 31, false},
      {"window process absent from the table is the root", Table({}), 32, 32, 32, true},
      {"excluded root is self",
       Table({{1, 0, L"x.exe"}, {10, 1, L"app.exe"}, {11, 10, L"app.exe"}}), 11, 10, 10, true},
      {"excluded window process is self (no same-image parent)",
       Table({{1, 0, L"x.exe"}, {2, 1, L"app.exe"}}), 2, 2, 2, true},
      {"excluded grandchild is self",
       Table({{1, 0, L"x.exe"}, {10, 1, L"app.exe"}, {40, 10, L"helper.exe"}, {41, 40, L"tool.exe"}}),
       10, 41, 10, true},
      {"excluded sibling is not self",
       Table({{1, 0, L"x.exe"}, {10, 1, L"app.exe"}, {11, 1, L"app2.exe"}}), 10, 11, 10, false},
      {"excluded parent of the root is not self",
       Table({{1, 0, L"x.exe"}, {10, 1, L"app.exe"}}), 10, 1, 10, false},
      {"excluded 0 disables the test", Table({{0, 0, L"idle"}, {10, 0, L"app.exe"}}), 10, 0, 10,
       false},
      {"excluded process in a parent cycle ends", Table({{10, 1, L"app.exe"}, {50, 51, L"a"},
                                                         {51, 50, L"b"}}),
       10, 50, 10, false},
  };
  for (const FamilyCase& c : cases) {
    CaptureRoot got = ResolveCaptureRootIn(c.table, c.windowPid, c.excludedPid);
    EXPECT_EQ(got.rootPid, c.root) << c.what;
    EXPECT_EQ(got.isSelf, c.isSelf) << c.what;
  }
}

TEST(ResolveCaptureRoot, ClimbMakesAtMostSixteenMoves) {
  ProcessTable table = Chain(20);  // 1000 .. 1019
  EXPECT_EQ(ResolveCaptureRootIn(table, 1019, 0).rootPid, 1003u);
  EXPECT_EQ(ResolveCaptureRootIn(table, 1016, 0).rootPid, 1000u);
}

TEST(ResolveCaptureRoot, SelfTestFollowsAtMostSixtyThreeAncestors) {
  // Root 1 with a chain of other-image descendants 100, 101, ...: the one 63 links below the
  // root reaches it on the 63rd step, the one 64 links below only on the 64th.
  ProcessTable table = Table({{1, 0, L"root.exe"}});
  for (platform::ProcessId i = 0; i < 70; ++i) table[100 + i] = ProcessEntry{i == 0 ? 1 : 99 + i, L"t.exe"};
  EXPECT_TRUE(ResolveCaptureRootIn(table, 1, 100 + 62).isSelf);
  EXPECT_FALSE(ResolveCaptureRootIn(table, 1, 100 + 63).isSelf);
}

class ProcessSnapshotTest : public SimTest {};

TEST_F(ProcessSnapshotTest, TableHoldsFileNamesAndParentsOfOneSnapshot) {
  sim::AddProcess(10, 1, L"C:\\A\\app.exe");
  sim::AddProcess(11, 10, L"D:\\B\\app.exe");
  sim::AddProcess(12, 11, L"C:\\t.exe").snapshotName = L"other.exe";
  ProcessTable table = SnapshotProcessTable();
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table[11].parentPid, 10u);
  EXPECT_EQ(table[11].imageName, L"app.exe");
  EXPECT_EQ(table[12].imageName, L"other.exe");
  EXPECT_EQ(ResolveCaptureRoot(11, 0).rootPid, 10u);
  EXPECT_EQ(sim::Recorded().handlesOpened, sim::Recorded().handlesClosed);
}

TEST_F(ProcessSnapshotTest, FailedSnapshotLeavesTheRootAtTheWindowProcess) {
  sim::AddProcess(10, 1, L"C:\\app.exe");
  sim::AddProcess(11, 10, L"C:\\app.exe");
  sim::Model().snapshotFails = true;
  CaptureRoot got = ResolveCaptureRoot(11, 10);
  EXPECT_EQ(got.rootPid, 11u);
  EXPECT_FALSE(got.isSelf);
  EXPECT_TRUE(ResolveCaptureRoot(11, 11).isSelf);
}

TEST_F(ProcessSnapshotTest, RepeatedEntriesKeepOneRowPerPid) {
  sim::AddProcess(10, 1, L"C:\\app.exe");
  sim::AddProcess(11, 10, L"C:\\app.exe");
  sim::Model().duplicateSnapshotEntries = true;
  EXPECT_EQ(SnapshotProcessTable().size(), 2u);
}

}  // namespace
