#include <algorithm>
#include <random>
#include <vector>

#include "capture/capture_pump.h"
#include "capture_test_support.h"

namespace {

TEST(FoldStereoToMono, SumsInThirtyTwoBitsAndTruncatesTowardZero) {
  const std::int16_t stereo[] = {-3, 0,  3, 0,  32767, 32767, -32768, -32768, -1, 0,
                                 1,  0,  32767, -32768, -32768, 32767, 5, 6, -5, -6};
  const std::int16_t expected[] = {-1, 1, 32767, -32768, 0, 0, 0, 0, 5, -5};
  std::int16_t mono[10] = {};
  FoldStereoToMono(stereo, 10, mono);
  EXPECT_TRUE(std::equal(mono, mono + 10, expected));
}

// The plain definition the vectorised fold must match sample for sample.
std::vector<std::int16_t> PlainFold(const std::vector<std::int16_t>& stereo) {
  std::vector<std::int16_t> mono(stereo.size() / 2);
  for (std::size_t i = 0; i < mono.size(); ++i)
    mono[i] = static_cast<std::int16_t>((std::int32_t{stereo[2 * i]} + stereo[2 * i + 1]) / 2);
  return mono;
}

TEST(FoldStereoToMono, MatchesThePlainDefinitionOnExtremesAndNoise) {
  const std::int16_t extremes[] = {-32768, -32767, -32766, -2, -1, 0, 1, 2, 32766, 32767};
  std::vector<std::int16_t> stereo;
  for (std::int16_t left : extremes)
    for (std::int16_t right : extremes) stereo.insert(stereo.end(), {left, right});
  std::mt19937 random(2024);
  std::uniform_int_distribution<int> sample(-32768, 32767);
  for (int i = 0; i < 2 * 4801; ++i) stereo.push_back(static_cast<std::int16_t>(sample(random)));
  // Every length up to a few vector steps, so the scalar tail is covered at each offset, then all.
  std::vector<std::size_t> lengths;
  for (std::size_t frames = 0; frames <= 40; ++frames) lengths.push_back(frames);
  lengths.push_back(stereo.size() / 2);
  for (std::size_t frames : lengths) {
    const std::vector<std::int16_t> in(stereo.begin(), stereo.begin() + 2 * frames);
    std::vector<std::int16_t> mono(frames + 1, 0x5A5A);
    FoldStereoToMono(in.data(), static_cast<std::uint32_t>(frames), mono.data());
    EXPECT_EQ(std::vector<std::int16_t>(mono.begin(), mono.end() - 1), PlainFold(in)) << frames;
    EXPECT_EQ(mono.back(), 0x5A5A) << "wrote past " << frames << " frames";
  }
}

class CapturePumpTest : public CaptureTest {};

TEST_F(CapturePumpTest, WritesEveryPacketAsMonoPcmInOrder) {
  sim::Packet silent = Frames({100, 100, 200, 200, 300, 300});
  silent.flags = platform::AUDCLNT_BUFFERFLAGS_SILENT;
  sim::Packet nullData;
  nullData.nullData = true;
  nullData.frames = 2;
  sim::Packet empty;
  empty.frames = 0;
  empty.reportedSize = 4;  // announced, then handed out empty
  sim::Packet otherFlags = Frames({10, 20});
  otherFlags.flags = 0x1 | 0x4;  // discontinuity, time-stamp error: ignored
  sim::Script().bursts = {
      {20, {Frames({-3, 0, 3, 0}), Frames({32767, 32767, -32768, -32768})}},
      {40, {silent, nullData, empty, otherFlags}},
  };
  sim::At(500, sim::CloseStdin);
  EXPECT_EQ(Capture(), kExitOk);
  EXPECT_EQ(Out(), Pcm({-1, 1, 32767, -32768, 0, 0, 0, 0, 0, 15}));
  const sim::AudioRecord& audio = sim::AudioRecorded();
  EXPECT_EQ(audio.packetsFetched, 6);
  EXPECT_EQ(audio.packetsReleased, 6) << "the empty packet is given back too";
  EXPECT_EQ(audio.releasedFrames, (std::vector<std::uint32_t>{2, 2, 3, 2, 0, 1}));
  EXPECT_EQ(sim::Recorded().stdoutFlushes, 2) << "one flush per drain";
  EXPECT_EQ(sim::Recorded().stdoutSizeAtFlush[0], 8u);
}

TEST_F(CapturePumpTest, WaitsInSlicesOfTwoHundredMillisecondsAndStopsWithinOne) {
  sim::At(1050, sim::CloseStdin);
  EXPECT_EQ(Capture(), kExitOk);
  EXPECT_LE(sim::Now(), 1250u);
  const auto& waits = sim::AudioRecorded().bufferWaits;
  EXPECT_FALSE(waits.empty());
  EXPECT_TRUE(std::all_of(waits.begin(), waits.end(), [](std::uint32_t ms) { return ms == 200; }));
  EXPECT_EQ(sim::Recorded().stdoutFlushes, 0) << "a wait that timed out is followed by no flush";
}

TEST_F(CapturePumpTest, StopFailuresEndTheCaptureWithExitZero) {
  struct Case {
    const char* what;
    void (*setUp)();
    int fetched;
    int released;
    std::string out;
  } cases[] = {
      {"failed fetch: nothing released for that packet",
       [] {
         sim::Packet broken = Frames({8, 8});
         broken.bufferStatus = static_cast<platform::Status>(0x88890001u);
         sim::Script().bursts = {{20, {Frames({2, 2}), broken, Frames({6, 6})}}};
       },
       1, 1, Pcm({2})},
      {"short write stops after the packet in hand",
       [] {
         sim::Model().stdoutCapacity = 3;
         sim::Script().bursts = {{20, {Frames({2, 2}), Frames({4, 4}), Frames({6, 6})}}};
       },
       2, 2, Pcm({2, 4}).substr(0, 3)},
      {"failed flush",
       [] {
         sim::Model().stdoutFlushFailsFrom = 1;
         sim::Script().bursts = {{20, {Frames({2, 2}), Frames({4, 4})}}, {40, {Frames({6, 6})}}};
       },
       2, 2, Pcm({2, 4})},
  };
  for (const Case& c : cases) {
    ResetAll();
    SetUp();
    c.setUp();
    EXPECT_EQ(Capture(), kExitOk) << c.what;
    EXPECT_EQ(StopRequested.load(), 1) << c.what;
    EXPECT_EQ(sim::AudioRecorded().packetsFetched, c.fetched) << c.what;
    EXPECT_EQ(sim::AudioRecorded().packetsReleased, c.released) << c.what;
    EXPECT_EQ(Out(), c.out) << c.what;
    EXPECT_EQ(Err(), "ok 42 app.exe\r\n") << c.what << ": nothing more on stderr";
    EXPECT_EQ(sim::Recorded().stdoutFlushes, 1) << c.what << ": the drain still ends in a flush";
    EXPECT_EQ(sim::OutstandingReferences(), 0) << c.what;
  }
}

TEST_F(CapturePumpTest, FailedSizeQueryEndsOnlyTheCurrentDrain) {
  sim::Packet unknown = Frames({8, 8});
  unknown.sizeStatus = static_cast<platform::Status>(0x88890004u);
  sim::Script().bursts = {{20, {Frames({2, 2}), unknown}}, {40, {Frames({6, 6})}}};
  sim::At(500, sim::CloseStdin);
  EXPECT_EQ(Capture(), kExitOk);
  EXPECT_EQ(Out(), Pcm({2, 6}));
  EXPECT_EQ(sim::Recorded().stdoutFlushes, 2);
}

TEST_F(CapturePumpTest, StdinEndDuringADrainStopsAfterThePacketInHand) {
  sim::Packet inHand = Frames({4, 4});
  inHand.endsStdinWhenFetched = true;
  sim::Script().bursts = {{20, {Frames({2, 2}), inHand, Frames({6, 6})}}, {40, {Frames({8, 8})}}};
  EXPECT_EQ(Capture(), kExitOk);
  EXPECT_EQ(Out(), Pcm({2, 4}));
  EXPECT_EQ(sim::AudioRecorded().packetsFetched, 2);
  EXPECT_EQ(sim::Recorded().stdoutFlushes, 1) << "flushed once more after the drain";
  EXPECT_EQ(sim::Now(), 20u);
}

}  // namespace
