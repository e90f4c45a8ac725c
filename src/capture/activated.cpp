#include "capture/activated.h"

Activated::Activated() : completionEvent_(platform::CreateEventW(true, false)) {}

Activated::~Activated() {
  if (completionEvent_ != nullptr) platform::CloseHandle(completionEvent_);
}

platform::Status Activated::QueryInterface(const platform::Guid& iid, void** out) {
  if (out == nullptr) return platform::kEPointer;
  if (iid == platform::IID_IUnknown ||
      iid == platform::IID_IActivateAudioInterfaceCompletionHandler) {
    *out = static_cast<platform::IActivateAudioInterfaceCompletionHandler*>(this);
  } else if (iid == platform::IID_IAgileObject) {
    *out = static_cast<platform::IAgileObject*>(this);
  } else {
    *out = nullptr;
    return platform::kENoInterface;
  }
  AddRef();
  return platform::kSOk;
}

std::uint32_t Activated::AddRef() { return referenceCount_.fetch_add(1) + 1; }

std::uint32_t Activated::Release() {
  std::uint32_t count = referenceCount_.fetch_sub(1) - 1;
  if (count == 0) delete this;
  return count;
}

platform::Status Activated::ActivateCompleted(::IActivateAudioInterfaceAsyncOperation*) {
  // The creator holds its own pointer to the operation and asks it for the result.
  if (completionEvent_ != nullptr) platform::SetEvent(completionEvent_);
  return platform::kSOk;
}
