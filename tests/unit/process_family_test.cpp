#include <algorithm>

#include "capture_test_support.h"
#include "identity/process_family.h"

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

// Tables without creation times: every recorded parent is followed.
CreationTime NoTimes(platform::ProcessId) { return std::nullopt; }

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
    CaptureRoot got = ResolveCaptureRootIn(c.table, c.windowPid, c.excludedPid, NoTimes);
    EXPECT_EQ(got.rootPid, c.root) << c.what;
    EXPECT_EQ(got.isSelf, c.isSelf) << c.what;
  }
}

TEST(ResolveCaptureRoot, ClimbMakesAtMostSixteenMoves) {
  ProcessTable table = Chain(20);  // 1000 .. 1019
  EXPECT_EQ(ResolveCaptureRootIn(table, 1019, 0, NoTimes).rootPid, 1003u);
  EXPECT_EQ(ResolveCaptureRootIn(table, 1016, 0, NoTimes).rootPid, 1000u);
}

TEST(ResolveCaptureRoot, SelfTestFollowsAtMostSixtyThreeAncestors) {
  // Root 1 with a chain of other-image descendants 100, 101, ...: the one 63 links below the
  // root reaches it on the 63rd step, the one 64 links below only on the 64th.
  ProcessTable table = Table({{1, 0, L"root.exe"}});
  for (platform::ProcessId i = 0; i < 70; ++i) table[100 + i] = ProcessEntry{i == 0 ? 1 : 99 + i, L"t.exe"};
  EXPECT_TRUE(ResolveCaptureRootIn(table, 1, 100 + 62, NoTimes).isSelf);
  EXPECT_FALSE(ResolveCaptureRootIn(table, 1, 100 + 63, NoTimes).isSelf);
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

// A pid names a process only while it runs: once a parent has ended, Windows may give its pid
// to a process started later, and the snapshot entries of the ended parent's children still name
// it. Such a newcomer started after the child it is recorded for, so it cannot be its parent.
enum class Times { Readable, QueryFails, NotOpenable };

struct SimulatedProcess {
  platform::ProcessId pid;
  platform::ProcessId parent;
  const wchar_t* path;
  int startedAt;  // seconds after the simulated boot
  Times times = Times::Readable;
};

struct ReusedPidCase {
  const char* what;
  std::vector<SimulatedProcess> processes;
  platform::ProcessId windowPid;
  platform::ProcessId excludedPid;
  platform::ProcessId root;
  bool isSelf;
};

TEST_F(ProcessSnapshotTest, RecordedParentStartedAfterTheChildIsNotItsParent) {
  using enum Times;
  const SimulatedProcess explorer = {4, 0, L"C:\\Windows\\explorer.exe", 0};
  const ReusedPidCase cases[] = {
      {"a genuine same-image parent, started first, is climbed",
       {explorer, {10, 4, L"C:\\app.exe", 10}, {11, 10, L"C:\\app.exe", 20}}, 11, 0, 10, false},
      {"a parent started in the same clock tick as its child is climbed",
       {explorer, {10, 4, L"C:\\app.exe", 10}, {11, 10, L"C:\\app.exe", 10}}, 11, 0, 10, false},
      {"another instance that took the ended parent's pid is not climbed into",
       {explorer, {10, 4, L"C:\\app.exe", 20}, {11, 10, L"C:\\app.exe", 10}}, 11, 0, 11, false},
      {"the climb stops below a reused pid higher up the chain",
       {explorer, {10, 4, L"C:\\app.exe", 30}, {11, 10, L"C:\\app.exe", 10},
        {12, 11, L"C:\\app.exe", 20}},
       12, 0, 11, false},
      {"a parent whose times cannot be read is trusted",
       {explorer, {10, 4, L"C:\\app.exe", 20, QueryFails}, {11, 10, L"C:\\app.exe", 10}}, 11, 0,
       10, false},
      {"a parent that cannot be opened is trusted",
       {explorer, {10, 4, L"C:\\app.exe", 20, NotOpenable}, {11, 10, L"C:\\app.exe", 10}}, 11, 0,
       10, false},
      {"a child whose times cannot be read trusts its parent",
       {explorer, {10, 4, L"C:\\app.exe", 20}, {11, 10, L"C:\\app.exe", 10, QueryFails}}, 11, 0,
       10, false},
      {"an excluded process whose recorded parent is a root started after it is not self",
       {explorer, {10, 4, L"C:\\app.exe", 20}, {50, 10, L"C:\\tool.exe", 10}}, 10, 50, 10,
       false},
      {"an excluded grandchild whose chain passes a reused pid is not self",
       {explorer, {10, 4, L"C:\\app.exe", 0}, {40, 10, L"C:\\mid.exe", 30},
        {51, 40, L"C:\\tool.exe", 20}},
       10, 51, 10, false},
      {"an excluded grandchild started after its ancestors is self",
       {explorer, {10, 4, L"C:\\app.exe", 0}, {40, 10, L"C:\\mid.exe", 10},
        {51, 40, L"C:\\tool.exe", 20}},
       10, 51, 10, true},
      {"an excluded root is self whenever it started",
       {explorer, {10, 4, L"C:\\app.exe", 20}, {11, 10, L"C:\\app.exe", 30}}, 11, 10, 10, true},
  };
  for (const ReusedPidCase& c : cases) {
    ResetAll();
    for (const SimulatedProcess& p : c.processes) {
      sim::Process& added = sim::AddProcess(p.pid, p.parent, p.path);
      added.createdAt = sim::kBootTime + static_cast<std::uint64_t>(p.startedAt) * sim::kSecond;
      added.timesQueryFails = p.times == QueryFails;
      added.openable = p.times != NotOpenable;
    }
    CaptureRoot got = ResolveCaptureRoot(c.windowPid, c.excludedPid);
    EXPECT_EQ(got.rootPid, c.root) << c.what;
    EXPECT_EQ(got.isSelf, c.isSelf) << c.what;
    EXPECT_EQ(sim::Recorded().handlesOpened, sim::Recorded().handlesClosed) << c.what;
  }
}

TEST_F(ProcessSnapshotTest, TimesAreReadOnceAndOnlyForProcessesTheWalksVisit) {
  sim::AddProcess(4, 0, L"C:\\Windows\\explorer.exe");
  for (platform::ProcessId pid = 100; pid < 140; ++pid)
    sim::AddProcess(pid, 4, L"C:\\Windows\\svc.exe");  // bystanders
  sim::AddProcess(10, 4, L"C:\\app.exe");
  sim::AddProcess(11, 10, L"C:\\app.exe");
  sim::AddProcess(12, 11, L"C:\\app.exe");
  sim::AddProcess(50, 11, L"C:\\gpu.exe");
  EXPECT_TRUE(ResolveCaptureRoot(12, 50).isSelf);
  std::vector<platform::ProcessId> read = sim::Recorded().processTimesRead;
  std::sort(read.begin(), read.end());
  EXPECT_EQ(read, (std::vector<platform::ProcessId>{10, 11, 12, 50}));
  EXPECT_EQ(sim::Recorded().handlesOpened, sim::Recorded().handlesClosed);
}

// The same two faults as the parent sees them: explorer (4) started app.exe (42), window 100.
class ReusedPidCaptureTest : public CaptureTest {
 protected:
  void SetUp() override {
    CaptureTest::SetUp();
    sim::Model().stdinState = sim::StdinState::AtEnd;
  }
  static void StartedAt(platform::ProcessId pid, int seconds) {
    sim::FindProcess(pid)->createdAt =
        sim::kBootTime + static_cast<std::uint64_t>(seconds) * sim::kSecond;
  }
};

TEST_F(ReusedPidCaptureTest, CaptureStaysInTheTreeOfTheWindowsProcess) {
  // 43's parent app.exe ended; its pid 42 now names another instance, started after 43.
  sim::AddProcess(43, 42, L"C:\\Apps\\app.exe");
  sim::AddWindow(200, 43, {});
  StartedAt(43, 10);
  StartedAt(42, 20);
  EXPECT_EQ(Capture({L"200"}), kExitOk);
  EXPECT_EQ(Err(), "ok 43 app.exe\r\n");
  EXPECT_EQ(sim::AudioRecorded().blobBytes[4], 43);
  EXPECT_EQ(sim::Recorded().handlesOpened, sim::Recorded().handlesClosed);
}

TEST_F(ReusedPidCaptureTest, ProcessOutsideTheTreeIsNotSelf) {
  // 77's parent ended; its pid 42 now names the application captured, started after 77.
  sim::AddProcess(77, 42, L"C:\\Tools\\recorder.exe");
  StartedAt(77, 10);
  StartedAt(42, 20);
  EXPECT_EQ(Capture({L"100", L"77"}), kExitOk);
  EXPECT_EQ(Err(), "ok 42 app.exe\r\n");
  EXPECT_EQ(sim::Recorded().handlesOpened, sim::Recorded().handlesClosed);
}

}  // namespace
