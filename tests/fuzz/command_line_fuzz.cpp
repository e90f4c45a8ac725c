// The whole command-line dispatch over the simulated desktop and audio engine: any argv ends in
// the usage line (exit 1), a mode that ran (exit 0) or one error word (exit 2), with nothing on
// standard output outside a mode.
//
// Input: the first byte picks the audio engine's behaviour, the rest is argv[1..] separated by
// NUL bytes; bytes below 0x80 are characters as they are, others map to non-ASCII characters.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "app/entry.h"
#include "app/stop_flag.h"
#include "foreground/watcher.h"
#include "platform/simulated/simulated_audio.h"
#include "platform/simulated/simulated_desktop.h"

namespace {

constexpr char kUsage[] = "usage: tessik-helper foreground | capture <hwnd> [<exclude pid>]\r\n";
constexpr const char* kErrorWords[] = {"no-window", "no-process", "self",       "com",
                                       "activate",  "activate-timeout", "unsupported", "client",
                                       "initialize", "service",   "start"};
constexpr wchar_t kWideExtras[] = {0x00E9, 0x00A0, 0x3000, 0xFF10, 0xFF46, 0x0130,
                                   0x212A, 0xD800, 0xDC00, 0xFEFF, 0x2212, 0x0660};
constexpr platform::Status kFailure = static_cast<platform::Status>(0x80004005);

[[noreturn]] void Fail(const char* what, int code) {
  std::fprintf(stderr, "%s (exit %d)\nstderr: [%s]\nstdout: %zu bytes\n", what, code,
               sim::Recorded().stderrBytes.c_str(), sim::Recorded().stdoutBytes.size());
  std::abort();
}

void SetUpDesktop() {
  sim::AddProcess(4, 0, L"C:\\Windows\\explorer.exe");
  sim::AddProcess(42, 4, L"C:\\Program Files\\App\\app.exe");
  sim::AddProcess(43, 42, L"C:\\Program Files\\App\\app.exe");
  sim::AddProcess(44, 43, L"C:\\Program Files\\App\\helper.exe");
  sim::AddWindow(100, 43, {10, 20, 110, 220}).compositorFails = false;
  sim::AddWindow(200, 0, {});  // no owner process
  sim::AddWindow(300, 99, {});  // owner not in the snapshot
  sim::Model().foreground = 100;
}

// One behaviour of the audio engine for capture set-ups that get that far.
void ScriptAudio(std::uint8_t choice) {
  sim::AudioScript& s = sim::Script();
  switch (choice % 14) {
    case 1: s.coInitialize = kFailure; break;
    case 2: s.activateRequest = kFailure; break;
    case 3: s.completion = sim::Completion::FailureStatus; break;
    case 4: s.completion = sim::Completion::SuccessWithoutInterface; break;
    case 5: s.completion = sim::Completion::Never; break;
    case 6: s.getActivateResult = kFailure; break;
    case 7: s.activateStatus = kFailure; break;
    case 8: s.activatedLacksAudioClient = true; break;
    case 9: s.initialize = kFailure; break;
    case 10: s.setEventHandle = kFailure; break;
    case 11: s.getService = kFailure; break;
    case 12: s.getServiceGivesNull = true; break;
    case 13: s.start = kFailure; break;
    default: break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > 4096) return 0;
  sim::Reset();
  sim::ResetAudio();
  StopRequested.store(0);
  MainThreadId = 0;
  LastReportLine.clear();
  SetUpDesktop();
  ScriptAudio(data[0]);
  sim::Model().stdinState = sim::StdinState::AtEnd;  // every mode ends at once

  std::vector<std::wstring> args{L"C:\\tessik\\tessik-helper.exe", L""};
  for (std::size_t i = 1; i < size && args.size() <= 8; ++i) {
    if (data[i] == 0)
      args.emplace_back();
    else if (data[i] < 0x80)
      args.back() += static_cast<wchar_t>(data[i]);
    else
      args.back() += kWideExtras[data[i] % (sizeof(kWideExtras) / sizeof(kWideExtras[0]))];
  }
  if (size == 1) args.pop_back();  // no words at all
  std::vector<wchar_t*> argv;
  for (std::wstring& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(args.size());

  const int code = TessikMain(argc, argv.data());
  sim::CloseStdin();
  sim::WaitForCompletionThread();
  const std::string& err = sim::Recorded().stderrBytes;
  const std::string& out = sim::Recorded().stdoutBytes;

  const bool foreground = argc >= 2 && std::wcscmp(argv[1], L"foreground") == 0;
  const bool capture = argc >= 3 && std::wcscmp(argv[1], L"capture") == 0;
  if (foreground) {
    if (code != kExitOk) Fail("foreground did not exit 0", code);
    if (!err.empty()) Fail("foreground wrote to stderr", code);
  } else if (capture) {
    if (code == kExitOk) {
      if (err.rfind("ok ", 0) != 0 || err.find("\r\n") != err.size() - 2)
        Fail("capture exit 0 without exactly one ok line", code);
    } else if (code == kExitCaptureFailed) {
      bool known = false;
      for (const char* word : kErrorWords) known |= err == std::string("error ") + word + "\r\n";
      if (!known) Fail("capture exit 2 without one error word", code);
      if (!out.empty()) Fail("capture error wrote to stdout", code);
    } else {
      Fail("capture ended with another exit code", code);
    }
  } else {
    if (code != kExitUsage) Fail("usage path did not exit 1", code);
    if (err != kUsage) Fail("usage path did not print exactly the usage line", code);
    if (!out.empty()) Fail("usage path wrote to stdout", code);
  }
  sim::Reset();  // joins what the run left behind, so no thread outlives the input
  return 0;
}
