#include "capture/activated.h"
#include "sim_test.h"

namespace {

class ActivatedTest : public SimTest {};

TEST_F(ActivatedTest, AnswersItsThreeIdentifiersThroughEitherTable) {
  Activated* handler = new Activated();
  platform::IActivateAudioInterfaceCompletionHandler* primary = handler;
  platform::IAgileObject* agile = handler;
  ASSERT_NE(static_cast<void*>(primary), static_cast<void*>(agile));

  for (platform::IAgileObject* through : {static_cast<platform::IAgileObject*>(nullptr), agile}) {
    auto query = [&](const platform::Guid& iid, void** out) {
      return through != nullptr ? through->QueryInterface(iid, out)
                                : primary->QueryInterface(iid, out);
    };
    void* out = nullptr;
    EXPECT_EQ(query(platform::IID_IUnknown, &out), 0);
    EXPECT_EQ(out, static_cast<void*>(primary));
    EXPECT_EQ(query(platform::IID_IActivateAudioInterfaceCompletionHandler, &out), 0);
    EXPECT_EQ(out, static_cast<void*>(primary));
    EXPECT_EQ(query(platform::IID_IAgileObject, &out), 0);
    EXPECT_EQ(out, static_cast<void*>(agile));
    out = &out;
    EXPECT_EQ(query(platform::IID_IAudioClient, &out), platform::kENoInterface);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(query(platform::IID_IUnknown, nullptr), platform::kEPointer);
  }
  // Three successful queries through each table took six references.
  EXPECT_EQ(primary->AddRef(), 8u);
  for (std::uint32_t expected = 7; expected >= 1; --expected)
    EXPECT_EQ(agile->Release(), expected);
  EXPECT_EQ(sim::Recorded().handlesOpened, 1) << "its completion event";
  EXPECT_EQ(sim::Recorded().handlesClosed, 0);
  EXPECT_EQ(agile->Release(), 0u) << "the last release through the second table frees it";
  EXPECT_EQ(sim::Recorded().handlesClosed, 1);
}

TEST_F(ActivatedTest, CompletionSignalsTheEventAndAlwaysSucceeds) {
  Activated* handler = new Activated();
  EXPECT_EQ(platform::WaitForSingleObject(handler->CompletionEvent(), 0), platform::kWaitTimeout);
  EXPECT_EQ(handler->ActivateCompleted(nullptr), 0);
  EXPECT_EQ(handler->ActivateCompleted(nullptr), 0);
  EXPECT_EQ(platform::WaitForSingleObject(handler->CompletionEvent(), 0), platform::kWaitObject0);
  EXPECT_EQ(platform::WaitForSingleObject(handler->CompletionEvent(), 0), platform::kWaitObject0)
      << "manual reset: stays signalled";
  handler->Release();
}

TEST_F(ActivatedTest, WorksWithoutAnEvent) {
  sim::Script().failingCreateEvents = {1};
  Activated* handler = new Activated();
  EXPECT_EQ(handler->CompletionEvent(), nullptr);
  EXPECT_EQ(handler->ActivateCompleted(nullptr), 0);
  EXPECT_EQ(handler->Release(), 0u);
  EXPECT_EQ(sim::Recorded().invalidCloses, 0);
}

}  // namespace
