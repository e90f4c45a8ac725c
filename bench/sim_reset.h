// A fresh simulated desktop and audio engine, and fresh program globals, per measurement.
#pragma once

#include "app/stop_flag.h"
#include "foreground/watcher.h"
#include "platform/simulated/simulated_audio.h"
#include "platform/simulated/simulated_desktop.h"

inline void ResetSimulation() {
  sim::Reset();
  sim::ResetAudio();
  StopRequested.store(0);
  MainThreadId = 0;
  LastReportLine.clear();
}
