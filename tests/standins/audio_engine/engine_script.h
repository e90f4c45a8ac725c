// The stand-in engine's script, log and clock.
//
// The script is a text file named by TESSIK_ENGINE_SCRIPT, read at each activation request.
// One directive a line (all optional):
//   log <windows path>           append the engine's log there
//   calls off                    log no calls: only the packet clock's summary (for benchmarks)
//   fail <point> [K]             request | never | status | no-interface | result | no-client |
//                                initialize | set-event | get-service | start | get-buffer K
//                                (the K-th GetBuffer call, counting from 1, fails)
//   completion-delay-ms N        the completion thread waits this long first (default 20)
//   packet-frames N              frames per packet (default 480)
//   period-ms N                  one packet every N ms after Start (default 10)
//   packets N                    packets made before the engine goes quiet (default: no end)
//   silent K,K...                packet numbers (from 0) marked silent, their data junk
//   null-data K,K...             packet numbers handed out without a data pointer
//   buffer-packets N             packets the engine holds before it drops new ones (default:
//                                the client's buffer duration, in whole packets)
//   tone HZ [AMPLITUDE]          a sine on both channels instead of the test pattern
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "standin_io.h"

namespace engine {

enum class FailurePoint {
  None,
  Request,
  Never,
  Status,
  NoInterface,
  Result,
  NoClient,
  Initialize,
  SetEvent,
  GetService,
  Start,
  GetBuffer,
};

struct Script {
  FailurePoint failure = FailurePoint::None;
  std::uint64_t failingFetch = 0;  // GetBuffer call number, from 1
  DWORD completionDelayMs = 20;
  std::uint32_t packetFrames = 480;
  DWORD periodMs = 10;
  std::int64_t packets = -1;  // -1: no end
  std::vector<std::uint64_t> silent;
  std::vector<std::uint64_t> nullData;
  std::uint32_t bufferPackets = 0;  // 0: from the buffer duration
  bool logCalls = true;
  double toneHz = 0;  // 0: the test pattern
  int toneAmplitude = 12000;
};

// Reads TESSIK_ENGINE_SCRIPT afresh and opens its log on the first call.
void LoadScript();
const Script& TheScript();
standin::Log& TheLog();
// A call to the log when calls are logged.
#define ENGINE_CALL(...)                                                      \
  do {                                                                        \
    if (::engine::TheScript().logCalls) ::engine::TheLog().Line(__VA_ARGS__); \
  } while (0)

// Microseconds since 1970 from the system's precise clock: the same clock as a Linux
// process's wall clock under Wine, so the tests can compare moments across the two.
std::int64_t NowMicroseconds();

// "{1CB9AD4C-DBFA-4C32-B178-C2F568A703B2}"
std::string GuidText(const GUID& guid);
// "0x88890004"
std::string StatusText(HRESULT status);

}  // namespace engine
