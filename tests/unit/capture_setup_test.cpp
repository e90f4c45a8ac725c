#include <algorithm>

#include "capture_test_support.h"

namespace {

using platform::Status;
constexpr Status kFail = static_cast<Status>(0x80004005u);

struct ErrorCase {
  const char* word;
  void (*setUp)();
  int referencesLeft;  // what the error path leaves to process exit
};

const ErrorCase kErrorCases[] = {
    {"no-window", [] { sim::Model().windows.clear(); }, 0},
    {"no-process", [] { sim::FindWindow(100)->owner = 0; }, 0},
    {"self", [] { sim::AddProcess(77, 42, L"C:\\Apps\\child.exe"); }, 0},
    {"com", [] { sim::Script().coInitialize = kFail; }, 0},
    {"activate", [] { sim::Script().activateRequest = kFail; }, 0},
    {"activate-timeout", [] { sim::Script().completion = sim::Completion::Never; }, 1},
    {"activate-timeout", [] { sim::Script().completion = sim::Completion::AfterWaitGivesUp; }, 1},
    {"unsupported", [] { sim::Script().completion = sim::Completion::FailureStatus; }, 0},
    {"unsupported", [] { sim::Script().completion = sim::Completion::SuccessWithoutInterface; }, 0},
    {"unsupported", [] { sim::Script().getActivateResult = kFail; }, 0},
    {"unsupported", [] { sim::Script().activateStatus = kFail; }, 0},
    {"client", [] { sim::Script().activatedLacksAudioClient = true; }, 0},
    {"initialize", [] { sim::Script().initialize = kFail; }, 0},
    {"service", [] { sim::Script().setEventHandle = kFail; }, 0},
    {"service", [] { sim::Script().getService = kFail; }, 0},
    {"service", [] { sim::Script().getServiceGivesNull = true; }, 0},
    {"service", [] { sim::Script().failingCreateEvents = {2}; }, 0},  // the buffer event
    {"start", [] { sim::Script().start = kFail; }, 0},
};

class CaptureSetupTest : public CaptureTest {};

TEST_F(CaptureSetupTest, EachFailureGivesItsWordAndExitTwo) {
  for (const ErrorCase& c : kErrorCases) {
    ResetAll();
    SetUp();
    c.setUp();
    std::vector<std::wstring> args = {L"100"};
    if (std::string(c.word) == "self") args.push_back(L"77");
    EXPECT_EQ(Capture(args), kExitCaptureFailed) << c.word;
    EXPECT_EQ(Err(), std::string("error ") + c.word + "\r\n");
    EXPECT_EQ(Out(), "") << c.word;
    EXPECT_EQ(sim::OutstandingReferences(), c.referencesLeft) << c.word;
    const auto& calls = sim::AudioRecorded().calls;
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Stop"), 0) << c.word;
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "CoUninitialize"), 0) << c.word;
  }
}

TEST_F(CaptureSetupTest, ActivationTimesOutAfterFiveSecondsOrAtOnceWithoutAnEvent) {
  sim::Script().completion = sim::Completion::Never;
  Capture();
  EXPECT_EQ(Err(), "error activate-timeout\r\n");
  EXPECT_EQ(
      sim::AudioRecorded().activationWaitEndedAt - sim::AudioRecorded().activationWaitStartedAt,
      5000u);

  ResetAll();
  SetUp();
  sim::Script().failingCreateEvents = {1};  // the completion event
  Capture();
  EXPECT_EQ(Err(), "error activate-timeout\r\n");
  EXPECT_EQ(sim::Now(), 0u);
  EXPECT_TRUE(sim::AudioRecorded().handlerPassed) << "activation is still requested";
}

TEST_F(CaptureSetupTest, LateCompletionOnlySignalsAndTheHandlerLivesUntilItsLastRelease) {
  sim::Script().completion = sim::Completion::AfterWaitGivesUp;
  Capture();
  EXPECT_EQ(Err(), "error activate-timeout\r\n");
  EXPECT_EQ(sim::HandlerReferencesHeldByEngine(), 0) << "the engine released its reference";
  EXPECT_EQ(sim::Recorded().handlesOpened, sim::Recorded().handlesClosed)
      << "the handler, and its event, went with the last release";
  EXPECT_EQ(sim::Recorded().invalidCloses, 0);
}

// The engine reads the activation record on its own thread, whenever it gets to it: here after
// the program gave up waiting and went on to report.
TEST_F(CaptureSetupTest, TheActivationRecordOutlivesTheWaitForIt) {
  sim::Script().completion = sim::Completion::AfterWaitGivesUp;
  Capture();
  EXPECT_EQ(Err(), "error activate-timeout\r\n");
  sim::WaitForCompletionThread();
  const sim::AudioRecord& audio = sim::AudioRecorded();
  EXPECT_EQ(audio.propVariantType, 65);
  EXPECT_EQ(audio.blobSize, 12u);
  EXPECT_EQ(audio.blobBytes, (std::vector<std::uint8_t>{1, 0, 0, 0, 42, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(CaptureSetupTest, PassesTheActivationAndStreamArgumentsExactly) {
  sim::Model().stdinState = sim::StdinState::AtEnd;
  EXPECT_EQ(Capture(), kExitOk);
  const sim::AudioRecord& audio = sim::AudioRecorded();
  EXPECT_EQ(audio.devicePath, L"VAD\\Process_Loopback");
  EXPECT_EQ(audio.devicePath.size(), 20u);
  EXPECT_EQ(audio.activateIid, platform::IID_IAudioClient);
  EXPECT_EQ(audio.propVariantType, 65);
  EXPECT_EQ(audio.blobSize, 12u);
  EXPECT_EQ(audio.blobBytes, (std::vector<std::uint8_t>{1, 0, 0, 0, 42, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(audio.shareMode, 0u);
  EXPECT_EQ(audio.streamFlags, 0x88060000u);
  EXPECT_EQ(audio.bufferDuration, 200000);
  EXPECT_EQ(audio.periodicity, 0);
  EXPECT_EQ(audio.format.wFormatTag, 1);
  EXPECT_EQ(audio.format.nChannels, 2);
  EXPECT_EQ(audio.format.nSamplesPerSec, 48000u);
  EXPECT_EQ(audio.format.nAvgBytesPerSec, 192000u);
  EXPECT_EQ(audio.format.nBlockAlign, 4);
  EXPECT_EQ(audio.format.wBitsPerSample, 16);
  EXPECT_EQ(audio.format.cbSize, 0);
  EXPECT_TRUE(audio.sessionGuidNull);
  EXPECT_EQ(audio.serviceIid, platform::IID_IAudioCaptureClient);
  EXPECT_FALSE(audio.bufferEventManualReset);
}

TEST_F(CaptureSetupTest, OkLineAfterStartBeforeTheFirstSampleAndOrderlyTearDown) {
  sim::Script().bursts = {{100, {Frames({2, 4})}}};
  sim::At(50, [] {
    EXPECT_EQ(Err(), "ok 42 app.exe\r\n");
    EXPECT_EQ(Out(), "");
  });
  sim::At(1000, sim::CloseStdin);
  EXPECT_EQ(Capture(), kExitOk);
  EXPECT_EQ(Err(), "ok 42 app.exe\r\n");
  EXPECT_EQ(Out(), Pcm({3}));
  const auto& calls = sim::AudioRecorded().calls;
  auto start = std::find(calls.begin(), calls.end(), "Start");
  ASSERT_NE(start, calls.end());
  std::vector<std::string> tail(std::find(calls.begin(), calls.end(), "Stop"), calls.end());
  EXPECT_EQ(tail,
            (std::vector<std::string>{"Stop", "Release IAudioCaptureClient", "Release IAudioClient",
                                      "CloseHandle event", "CoUninitialize"}));
  EXPECT_EQ(sim::OutstandingReferences(), 0);
  EXPECT_EQ(sim::HandlerReferencesHeldByEngine(), 0);
  EXPECT_EQ(sim::Recorded().handlesOpened, sim::Recorded().handlesClosed);
}

TEST_F(CaptureSetupTest, RootIsTheSameImageAncestorAndItsNameIsPrinted) {
  sim::AddProcess(43, 42, L"D:\\Other\\APP.EXE");
  sim::AddProcess(44, 43, L"C:\\Apps\\app.exe");
  sim::AddWindow(200, 44, {});
  sim::Model().stdinState = sim::StdinState::AtEnd;
  Capture({L"200"});
  EXPECT_EQ(Err(), "ok 42 app.exe\r\n");
  EXPECT_EQ(sim::AudioRecorded().blobBytes[4], 42);
}

TEST_F(CaptureSetupTest, SelfTestAgainstTheRootsTree) {
  sim::AddProcess(43, 42, L"C:\\Apps\\app.exe");  // the window's process, below the root
  sim::AddProcess(50, 43, L"C:\\Apps\\gpu.exe");  // grandchild of the root
  sim::AddProcess(60, 4, L"C:\\Apps\\app.exe");   // sibling of the root
  sim::AddWindow(200, 43, {});
  struct Case {
    const wchar_t* excluded;
    const char* status;
  } cases[] = {{L"42", "error self\r\n"},   {L"43", "error self\r\n"},
               {L"50", "error self\r\n"},   {L"60", "ok 42 app.exe\r\n"},
               {L"4", "ok 42 app.exe\r\n"}, {L"9999", "ok 42 app.exe\r\n"}};
  for (const Case& c : cases) {
    sim::Recorded() = sim::Record{};
    sim::ResetAudio();
    StopRequested.store(0);
    sim::Model().stdinState = sim::StdinState::AtEnd;
    Capture({L"200", c.excluded});
    sim::CloseStdin();
    EXPECT_EQ(Err(), c.status) << "excluded " << c.excluded;
  }
}

TEST_F(CaptureSetupTest, EmptyRootNameLeavesATrailingSpace) {
  sim::FindProcess(42)->pathQueryFails = true;
  sim::Model().stdinState = sim::StdinState::AtEnd;
  Capture();
  EXPECT_EQ(Err(), "ok 42 \r\n");
}

TEST_F(CaptureSetupTest, NonAsciiRootNameIsRawUtf8) {
  sim::FindProcess(42)->imagePath = L"C:\\Apps\\m\x00FCsik.exe";
  sim::Model().stdinState = sim::StdinState::AtEnd;
  Capture();
  EXPECT_EQ(Err(), "ok 42 m\xC3\xBCsik.exe\r\n");
}

TEST_F(CaptureSetupTest, StdinAlreadyAtEndStillRunsTheWholeSetUp) {
  sim::Model().stdinState = sim::StdinState::AtEnd;
  sim::Script().bursts = {{100, {Frames({2, 4})}}};
  EXPECT_EQ(Capture(), kExitOk);
  EXPECT_EQ(Err(), "ok 42 app.exe\r\n");
  EXPECT_EQ(Out(), "");
  EXPECT_EQ(sim::AudioRecorded().packetsFetched, 0);
}

}  // namespace
