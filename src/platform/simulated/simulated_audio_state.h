// The simulated engine's state, shared by its activation half (simulated_activation.cpp) and
// its stream half (simulated_stream.cpp). Engine objects are plain records that count the
// references handed to the program; they stay allocated until ResetAudio.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/simulated/simulated_audio.h"
#include "platform/simulated/simulated_internal.h"

namespace sim::detail {
struct Activation;
}

struct IUnknown {
  int references = 0;
  IAudioClient* client = nullptr;  // what QueryInterface gives for IID_IAudioClient
};

struct IAudioClient {
  int references = 0;
  IAudioCaptureClient* capture = nullptr;
};

struct IAudioCaptureClient {
  int references = 0;
};

struct IActivateAudioInterfaceAsyncOperation {
  int references = 0;
  sim::detail::Activation* activation = nullptr;
};

namespace sim::detail {

// One activation request and the engine thread that completes it. The thread's fields
// (started, finished) are guarded by Mutex().
struct Activation {
  platform::IActivateAudioInterfaceCompletionHandler* handler = nullptr;
  IActivateAudioInterfaceAsyncOperation* operation = nullptr;
  Completion completion = Completion::Success;
  IUnknown* activated = nullptr;
  const platform::PropVariantBlob* params = nullptr;  // read on the engine thread, not before
  bool engineHoldsHandler = false;  // the reference taken at the request, until the thread ends
  bool due = false;                 // a late completion, started once the program has moved on
  bool started = false;
  bool finished = false;
  std::thread thread;
};

struct AudioState {
  AudioScript script;
  AudioRecord record;
  int outstanding = 0;
  std::atomic<int> handlerReferences{0};
  std::atomic<int> createEventCalls{0};
  std::vector<std::unique_ptr<IUnknown>> unknowns;
  std::vector<std::unique_ptr<IAudioClient>> clients;
  std::vector<std::unique_ptr<IAudioCaptureClient>> captures;
  std::vector<std::unique_ptr<IActivateAudioInterfaceAsyncOperation>> operations;
  std::vector<std::unique_ptr<Activation>> activations;  // guarded by Mutex()
  Handle bufferEvent = nullptr;                          // guarded by Mutex()
  bool running = false;                                  // between Start and Stop
  // The packets ready are those of the bursts signalled so far, from readyPacket of
  // readyBurst on; they stay in the script, so handing them out allocates nothing.
  std::size_t nextBurst = 0;
  std::size_t readyBurst = 0;
  std::size_t readyPacket = 0;
  bool handlerAliveAtReset = false;
};

AudioState& Audio();

inline void Call(const char* name) { Audio().record.calls.emplace_back(name); }

template <typename T>
T* HandOut(T* object) {
  ++object->references;
  ++Audio().outstanding;
  return object;
}

template <typename T>
T* Make(std::vector<std::unique_ptr<T>>& store) {
  return store.emplace_back(std::make_unique<T>()).get();
}

template <typename T>
std::uint32_t ReleaseObject(T* object, const char* name) {
  if (object == nullptr) {
    Audio().record.calls.push_back(std::string(name) + " (null)");
    return 0;
  }
  Call(name);
  --Audio().outstanding;
  if (object->references > 0) --object->references;
  return static_cast<std::uint32_t>(object->references);
}

// The stream half's part of ResetAudio (simulated_stream.cpp).
void ResetStream();

}  // namespace sim::detail
