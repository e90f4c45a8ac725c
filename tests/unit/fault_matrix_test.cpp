// Runs every row of the fault matrix (fault_matrix.h) against its scene: explorer (4) started
// app.exe (42), which started app.exe (43), whose window 100 is in the foreground with
// compositor bounds; a full-screen application runs; the engine delivers one packet at 20 ms.
#include "fault_matrix.h"
#include "capture_test_support.h"

namespace {

using namespace fault_matrix;
using enum Mode;
using enum Outcome;

class FaultMatrixTest : public CaptureTest {
 protected:
  static void Scene() {
    sim::AddProcess(43, 42, L"C:\\Apps\\app.exe");
    sim::Window& window = *sim::FindWindow(100);
    window.owner = 43;
    window.rect = {10, 20, 810, 620};
    window.compositorFails = false;
    window.compositorBounds = {17, 20, 803, 613};
    sim::Model().foreground = 100;
    sim::Model().notificationState = platform::kQunsRunningD3dFullScreen;
    sim::Script().bursts = {{20, {Frames({2, 4})}}};
    sim::At(kParentEndsMs, sim::CloseStdin);
  }
};

TEST_F(FaultMatrixTest, EachFailureEndsAsTheProgramPromises) {
  for (const Fault& row : Faults()) {
    SCOPED_TRACE(std::string(row.operation) + ": " + row.failure +
                 (row.mode == Foreground ? " (foreground)" : " (capture)"));
    ResetAll();
    SetUp();
    Scene();
    row.inject();
    const int code = row.mode == Foreground ? RunProgram({L"foreground"}) : Capture();
    EXPECT_EQ(code, row.outcome == Error ? kExitCaptureFailed : kExitOk);
    EXPECT_EQ(Out(), Expand(row.out));
    EXPECT_EQ(Err(), row.err);
    if (row.outcome == Stop) {
      EXPECT_LT(sim::Now(), kParentEndsMs) << "ends by itself";
    } else if (row.outcome != Error) {
      EXPECT_GE(sim::Now(), kParentEndsMs) << "runs on until ended from outside";
    }
    const sim::Record& record = sim::Recorded();
    EXPECT_EQ(record.handlesOpened - record.handlesClosed, row.handlesLeft);
    EXPECT_EQ(record.invalidCloses, 0);
    EXPECT_EQ(sim::OutstandingReferences(), row.referencesLeft);
    if (row.check != nullptr) row.check();
  }
}

}  // namespace
