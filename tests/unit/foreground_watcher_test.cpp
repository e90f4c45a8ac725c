#include <string>

#include "run_program.h"
#include "sim_test.h"

namespace {

const char kLineA[] = R"({"pid":42,"x":10,"y":20,"w":800,"h":600,"fs":0,"exe":"app.exe"})";
const char kLineMoved[] = R"({"pid":42,"x":110,"y":20,"w":800,"h":600,"fs":0,"exe":"app.exe"})";

int CountLines(const std::string& bytes) {
  int lines = 0;
  for (char c : bytes) lines += c == '\n';
  return lines;
}

class ForegroundTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    sim::AddProcess(42, 1, L"C:\\Apps\\app.exe");
    sim::AddProcess(43, 1, L"C:\\Apps\\other.exe");
    sim::AddWindow(100, 42, {10, 20, 810, 620});
    sim::AddWindow(101, 42, {10, 20, 810, 620});  // same process and bounds as 100
    sim::AddWindow(102, 43, {0, 0, 100, 100});
    sim::Model().foreground = 100;
  }

  static const std::string& Out() { return sim::Recorded().stdoutBytes; }

  // Checks the number of lines written when the clock reaches atMs.
  static void ExpectLinesAt(std::uint64_t atMs, int lines) {
    sim::At(atMs, [=] { EXPECT_EQ(CountLines(Out()), lines) << "at " << atMs << " ms"; });
  }

  static void MoveWindow100() { sim::FindWindow(100)->rect = {110, 20, 910, 620}; }
};

TEST_F(ForegroundTest, WritesTheFirstLineAtOnceAndNothingWhileTheDesktopRests) {
  ExpectLinesAt(1, 1);
  sim::At(20000, sim::CloseStdin);
  EXPECT_EQ(RunProgram({L"foreground"}), kExitOk);
  EXPECT_EQ(Out(), std::string(kLineA) + "\n");
  const sim::Record& record = sim::Recorded();
  EXPECT_EQ(record.stdoutFlushes, 1);
  EXPECT_GE(record.timerMessagesDispatched, 9) << "every tick is sampled and dispatched";
  EXPECT_EQ(record.timerPeriods, std::vector<std::uint32_t>{2000});
  EXPECT_EQ(record.hookArguments, (std::vector<std::uint32_t>{3, 3, 0, 0, 2}));
  EXPECT_EQ(record.hooksInstalled, 1);
  EXPECT_EQ(record.hooksRemoved, 1);
  EXPECT_EQ(sim::Now(), 20000u) << "stdin end wakes the idle loop at once";
}

TEST_F(ForegroundTest, MovingTheWindowGivesOneLineAtTheNextTick) {
  sim::At(2500, MoveWindow100);
  ExpectLinesAt(3999, 1);
  ExpectLinesAt(4001, 2);
  sim::At(12000, sim::CloseStdin);
  RunProgram({L"foreground"});
  EXPECT_EQ(Out(), std::string(kLineA) + "\n" + kLineMoved + "\n");
}

TEST_F(ForegroundTest, ForegroundEventWritesAChangedLineAtOnce) {
  sim::At(2500, [] {
    sim::Model().foreground = 102;
    sim::FireForegroundEvent();
  });
  ExpectLinesAt(2501, 2);
  sim::At(2600, [] {
    sim::Model().foreground = 100;
    sim::FireForegroundEvent();
  });
  ExpectLinesAt(2601, 3);
  sim::At(2700, [] {
    sim::Model().foreground = 101;  // an identical line: nothing written
    sim::FireForegroundEvent();
  });
  sim::At(2800, sim::FireForegroundEvent);
  ExpectLinesAt(2801, 3);
  sim::At(5000, sim::CloseStdin);
  RunProgram({L"foreground"});
  EXPECT_EQ(CountLines(Out()), 3);
  EXPECT_EQ(sim::Recorded().stdoutFlushes, 3);
}

TEST_F(ForegroundTest, FullScreenChangeAloneGivesANewLineAtTheNextTick) {
  sim::At(100, [] { sim::Model().notificationState = 3; });
  ExpectLinesAt(1999, 1);
  ExpectLinesAt(2001, 2);
  sim::At(3000, sim::CloseStdin);
  RunProgram({L"foreground"});
  EXPECT_NE(Out().rfind("\"fs\":1"), std::string::npos);
}

TEST_F(ForegroundTest, WithoutTheHookTheTimerStillReports) {
  sim::Model().hookFails = true;
  sim::At(2500, [] {
    sim::Model().foreground = 102;
    sim::FireForegroundEvent();
  });
  ExpectLinesAt(3999, 1);
  ExpectLinesAt(4001, 2);
  sim::At(5000, sim::CloseStdin);
  RunProgram({L"foreground"});
  EXPECT_EQ(sim::Recorded().hooksRemoved, 0);
}

TEST_F(ForegroundTest, FailedFlushStopsAfterTheChangedLine) {
  sim::Model().stdoutFlushFailsFrom = 2;
  sim::At(2500, MoveWindow100);
  EXPECT_EQ(RunProgram({L"foreground"}), kExitOk);
  EXPECT_EQ(sim::Now(), 4000u) << "ends with the tick that wrote the failing line";
  EXPECT_EQ(StopRequested.load(), 1);
  EXPECT_EQ(sim::Recorded().quitPostsToSelf, 1);
  EXPECT_EQ(LastReportLine, kLineMoved) << "a line whose write failed still counts as sent";
  EXPECT_EQ(sim::Recorded().hooksRemoved, 1);
}

TEST_F(ForegroundTest, ShortWriteCountsOnlyThroughTheFlush) {
  sim::Model().stdoutCapacity = 10;  // the stream takes part of the first line and then fails
  EXPECT_EQ(RunProgram({L"foreground"}), kExitOk);
  EXPECT_EQ(Out(), std::string(kLineA).substr(0, 10));
  EXPECT_EQ(sim::Now(), 0u);
}

TEST_F(ForegroundTest, RetrievalErrorEndsTheMode) {
  sim::At(5000, [] { sim::Model().getMessageFails = true; });
  EXPECT_EQ(RunProgram({L"foreground"}), kExitOk);
  EXPECT_LE(sim::Now(), 6000u);
  EXPECT_EQ(sim::Recorded().hooksRemoved, 1);
}

TEST_F(ForegroundTest, BecomesPerMonitorDpiAwareOrFallsBackToSystemAwareness) {
  struct Case {
    bool hasPerMonitor;
    bool perMonitorFails;
    bool user32Missing;
    int perMonitorCalls;
    int systemAwareCalls;
  } cases[] = {
      {true, false, false, 1, 0},
      {true, true, false, 1, 1},
      {false, false, false, 0, 1},
      {true, false, true, 0, 1},
  };
  for (const Case& c : cases) {
    ResetAll();
    sim::Model().hasPerMonitorDpi = c.hasPerMonitor;
    sim::Model().perMonitorDpiFails = c.perMonitorFails;
    sim::Model().user32Missing = c.user32Missing;
    sim::Model().stdinState = sim::StdinState::AtEnd;
    RunProgram({L"foreground"});
    const sim::Record& record = sim::Recorded();
    ASSERT_EQ(static_cast<int>(record.perMonitorDpiCalls.size()), c.perMonitorCalls);
    if (c.perMonitorCalls == 1) {
      EXPECT_EQ(record.perMonitorDpiCalls[0], -4);
    }
    EXPECT_EQ(record.setProcessDpiAwareCalls, c.systemAwareCalls);
  }
}

TEST_F(ForegroundTest, StdinEndDuringAChangeWritesNothingFurtherOnARestingDesktop) {
  sim::At(3000, sim::CloseStdin);
  sim::At(3000, MoveWindow100);  // changed, but the loop ends before the next tick
  RunProgram({L"foreground"});
  EXPECT_EQ(Out(), std::string(kLineA) + "\n");
  EXPECT_EQ(sim::Now(), 3000u);
}

TEST_F(ForegroundTest, NoForegroundWindowLine) {
  sim::Model().foreground = 0;
  sim::At(2500, [] { sim::Model().foreground = 100; });
  sim::At(4500, [] { sim::Model().foreground = 0; });
  sim::At(7000, sim::CloseStdin);
  RunProgram({L"foreground"});
  EXPECT_EQ(Out(), std::string("{\"pid\":0}\n") + kLineA + "\n{\"pid\":0}\n");
}

}  // namespace
