// A desktop with one application window for capture tests: explorer (4) started app.exe (42),
// whose window is 100.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "run_program.h"
#include "sim_test.h"

class CaptureTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    sim::AddProcess(4, 0, L"C:\\Windows\\explorer.exe");
    sim::AddProcess(42, 4, L"C:\\Apps\\app.exe");
    sim::AddWindow(100, 42, {0, 0, 640, 480});
  }

  static int Capture(std::vector<std::wstring> args = {L"100"}) {
    args.insert(args.begin(), L"capture");
    int code = RunProgram(std::move(args));
    sim::WaitForCompletionThread();
    return code;
  }

  static const std::string& Out() { return sim::Recorded().stdoutBytes; }
  static const std::string& Err() { return sim::Recorded().stderrBytes; }

  static sim::Packet Frames(std::vector<std::int16_t> interleaved) {
    sim::Packet packet;
    packet.samples = std::move(interleaved);
    return packet;
  }

  static std::string Pcm(const std::vector<std::int16_t>& mono) {
    std::string bytes(mono.size() * 2, '\0');
    for (std::size_t i = 0; i < mono.size(); ++i) {
      auto u = static_cast<std::uint16_t>(mono[i]);
      bytes[2 * i] = static_cast<char>(u & 0xFF);
      bytes[2 * i + 1] = static_cast<char>(u >> 8);
    }
    return bytes;
  }
};
