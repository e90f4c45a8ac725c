// The completion handler of process-loopback activation. The platform calls it on a thread of
// its own; it only signals an event, and the main thread, which waits on that event with a time
// limit, fetches the activation result itself.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/audio_services.h"

class Activated : public platform::IActivateAudioInterfaceCompletionHandler,
                  public platform::IAgileObject {
 public:
  Activated();  // one reference, the creator's; a fresh unsignalled manual-reset event
  Activated(const Activated&) = delete;
  Activated& operator=(const Activated&) = delete;

  // Null when the event could not be created: the creator's wait then fails at once.
  platform::Handle CompletionEvent() const { return completionEvent_; }

  platform::Status TESSIK_COMCALL QueryInterface(const platform::Guid& iid, void** out) override;
  std::uint32_t TESSIK_COMCALL AddRef() override;
  std::uint32_t TESSIK_COMCALL Release() override;
  platform::Status TESSIK_COMCALL
  ActivateCompleted(::IActivateAudioInterfaceAsyncOperation* operation) override;

 protected:
  virtual ~Activated();  // only Release destroys it

 private:
  std::atomic<std::uint32_t> referenceCount_{1};
  platform::Handle completionEvent_ = nullptr;
};
