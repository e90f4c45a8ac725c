// A test over the simulated desktop and audio engine, with the program's globals fresh.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "app/stop_flag.h"
#include "foreground/watcher.h"
#include "platform/simulated/simulated_audio.h"
#include "platform/simulated/simulated_desktop.h"

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetAll(); }
  void TearDown() override { ResetAll(); }

  static void ResetAll() {
    sim::Reset();
    sim::ResetAudio();
    StopRequested.store(0);
    MainThreadId = 0;
    LastReportLine.clear();
  }
};
