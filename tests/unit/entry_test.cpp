#include "run_program.h"
#include "sim_test.h"

namespace {

const char kUsageLine[] = "usage: tessik-helper foreground | capture <hwnd> [<exclude pid>]\r\n";

class EntryTest : public SimTest {};

TEST_F(EntryTest, AnythingButTheTwoCommandsPrintsUsage) {
  const std::vector<std::vector<std::wstring>> lines = {
      {},
      {L"capture"},
      {L"Foreground"},
      {L"FOREGROUND", L"x"},
      {L"bogus"},
      {L"bogus", L"1", L"2"},
      {L""},
      {L"capture "},
      {L" foreground"},
      {L"foreground\x00E9"},
      {L"Capture", L"1"},
      {std::wstring(100000, L'a')},
  };
  for (const auto& args : lines) {
    ResetAll();
    EXPECT_EQ(RunProgram(args), kExitUsage);
    EXPECT_EQ(sim::Recorded().stderrBytes, kUsageLine);
    EXPECT_EQ(sim::Recorded().stdoutBytes, "");
  }
}

TEST_F(EntryTest, StartUpPreparesTheProcessBeforeLookingAtTheCommand) {
  RunProgram({L"bogus"});
  const sim::Record& record = sim::Recorded();
  EXPECT_EQ(MainThreadId, sim::ThreadIdOfCaller());
  EXPECT_TRUE(record.stdoutBinary);
  EXPECT_TRUE(record.stderrText);
  EXPECT_EQ(record.priorityClasses, std::vector<std::uint32_t>{0x4000});
  EXPECT_TRUE(record.threadPriorities.empty());
  sim::CloseStdin();  // the watcher is running: it ends, stops and wakes the main thread
  EXPECT_EQ(StopRequested.load(), 1);
  EXPECT_EQ(record.quitPostsToThread, 1);
}

// Node hands standard error over in binary mode, and Wine's C runtime keeps that mode.
TEST_F(EntryTest, StandardErrorLinesEndInCrLfWhenTheParentHandsItOverBinary) {
  const struct {
    std::vector<std::wstring> args;
    const char* err;
  } cases[] = {
      {{}, kUsageLine},
      {{L"capture", L"abc"}, "error no-window\r\n"},
  };
  for (const auto& c : cases) {
    ResetAll();
    sim::Model().stderrStartsBinary = true;
    RunProgram(c.args);
    EXPECT_EQ(sim::Recorded().stderrBytes, c.err);
  }
}

TEST_F(EntryTest, CaptureRaisesPrioritiesAndReadsItsNumbers) {
  // "abc" converts to window 0, which names no window.
  EXPECT_EQ(RunProgram({L"capture", L"abc"}), kExitCaptureFailed);
  EXPECT_EQ(sim::Recorded().stderrBytes, "error no-window\r\n");
  EXPECT_EQ(sim::Recorded().stdoutBytes, "");
  EXPECT_EQ(sim::Recorded().priorityClasses, (std::vector<std::uint32_t>{0x4000, 0x20}));
  EXPECT_EQ(sim::Recorded().threadPriorities, std::vector<std::int32_t>{1});
}

TEST_F(EntryTest, CaptureArgumentsConvertAsDecimal) {
  sim::AddProcess(4, 0, L"C:\\Windows\\explorer.exe");
  sim::AddProcess(42, 4, L"C:\\app.exe");
  sim::AddWindow(100, 42, {});
  struct Case {
    std::vector<std::wstring> args;
    const char* status;
  } cases[] = {
      {{L"capture", L"100", L"42"}, "error self\r\n"},
      {{L"capture", L" +100", L"42abc", L"ignored"}, "error self\r\n"},
      {{L"capture", L"100abc", L"0"}, "ok 42 app.exe\r\n"},  // 0 disables the self test
      {{L"capture", L"100", L"4"}, "ok 42 app.exe\r\n"},      // a parent is not self
      {{L"capture", L"18446744073709551716", L"42"}, "error no-window\r\n"},  // saturates
      {{L"capture", L"-1"}, "error no-window\r\n"},
  };
  for (const Case& c : cases) {
    sim::Recorded() = sim::Record{};
    sim::ResetAudio();
    StopRequested.store(0);
    sim::Model().stdinState = sim::StdinState::AtEnd;  // a started capture stops at once
    RunProgram(c.args);
    sim::CloseStdin();
    EXPECT_EQ(sim::Recorded().stderrBytes, c.status) << c.status;
  }
}

TEST_F(EntryTest, ForegroundIgnoresFurtherWords) {
  sim::Model().stdinState = sim::StdinState::AtEnd;
  EXPECT_EQ(RunProgram({L"foreground", L"capture", L"1"}), kExitOk);
  EXPECT_EQ(sim::Recorded().stdoutBytes, "{\"pid\":0}\n");
  EXPECT_EQ(sim::Recorded().stderrBytes, "");
}

TEST_F(EntryTest, WithoutTheWatcherTheModesStillEndOnTheirOwnFailures) {
  sim::Model().threadCreationFails = true;
  sim::Model().stdoutFlushFailsFrom = 1;
  EXPECT_EQ(RunProgram({L"foreground"}), kExitOk);
  EXPECT_EQ(sim::Recorded().stdoutBytes, "{\"pid\":0}\n");
}

TEST_F(EntryTest, StdinStatesThatEndTheProgramAtOnce) {
  for (sim::StdinState state :
       {sim::StdinState::AtEnd, sim::StdinState::Failing, sim::StdinState::NoHandle}) {
    ResetAll();
    sim::Model().stdinState = state;
    EXPECT_EQ(RunProgram({L"foreground"}), kExitOk);
    EXPECT_EQ(sim::Recorded().stdoutBytes, "{\"pid\":0}\n");
    EXPECT_LE(sim::Now(), 2000u) << "ends at the latest with the first tick";
  }
}

}  // namespace
