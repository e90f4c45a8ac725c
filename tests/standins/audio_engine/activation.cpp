// ActivateAudioInterfaceAsync and its asynchronous operation.
//
// As a real engine may: the request returns at once with the operation; a worker thread of the
// process's thread pool completes it later (after the scripted delay), and only then reads the
// activation parameters through the pointer it was given. While it holds the completion
// handler it keeps a reference of its own; it asks the handler for IAgileObject, calls
// ActivateCompleted and lets go.
#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "audio_client.h"
#include "engine_script.h"
#include "live_objects.h"

namespace engine {

namespace {

constexpr wchar_t kProcessLoopbackPath[] = L"VAD\\Process_Loopback";
constexpr HRESULT kIllegalMethodCall = static_cast<HRESULT>(0x8000000E);
constexpr VARTYPE kVtBlob = 65;

// AUDIOCLIENT_ACTIVATION_PARAMS for process loopback: activation type, then the target
// process and the loopback mode.
struct ProcessLoopbackParams {
  DWORD activationType;  // 1: process loopback
  DWORD targetProcessId;
  DWORD loopbackMode;  // 0: include the target's tree, 1: exclude it
};

// The UTF-8 form of a short wide string, for the log.
std::string Utf8(const wchar_t* text) {
  if (text == nullptr) return "(null)";
  char bytes[512];
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
  return length > 0 ? std::string(bytes) : std::string("(unconvertible)");
}

class Operation final : public IActivateAudioInterfaceAsyncOperation, public LiveObject {
 public:
  Operation() : LiveObject("operation") {}
  ENGINE_IUNKNOWN(IActivateAudioInterfaceAsyncOperation)

  // What the request decided at once; the parameters are read later, on the engine's thread.
  const PROPVARIANT* params = nullptr;
  bool rightPath = false;
  bool rightInterface = false;
  IActivateAudioInterfaceCompletionHandler* handler = nullptr;

  void Complete(HRESULT status, IUnknown* activated) {
    status_ = status;
    activated_ = activated;
    InterlockedExchange(&completed_, 1);
  }

  HRESULT STDMETHODCALLTYPE GetActivateResult(HRESULT* result, IUnknown** activated) override {
    HRESULT status = S_OK;
    if (result == nullptr || activated == nullptr)
      status = E_POINTER;
    else if (InterlockedCompareExchange(&completed_, 1, 1) == 0)
      status = kIllegalMethodCall;
    else if (TheScript().failure == FailurePoint::Result)
      status = E_UNEXPECTED;
    if (status == S_OK) {
      *result = status_;
      *activated = activated_;
      if (activated_ != nullptr) activated_->AddRef();
    }
    ENGINE_CALL("get-activate-result status=%s activate=%s interface=%s",
                StatusText(status).c_str(), StatusText(status == S_OK ? status_ : 0).c_str(),
                status == S_OK && activated_ != nullptr ? "given" : "null");
    return status;
  }

 private:
  ~Operation() override {
    if (activated_ != nullptr) activated_->Release();
  }

  volatile LONG completed_ = 0;
  HRESULT status_ = E_FAIL;
  IUnknown* activated_ = nullptr;
};

// The activation status and object, from what the request carried and what the script says.
HRESULT Activate(Operation& operation, IUnknown** activated) {
  *activated = nullptr;
  const PROPVARIANT* params = operation.params;
  HRESULT status = S_OK;
  if (params == nullptr) {
    ENGINE_CALL("read-late params=null");
    status = E_INVALIDARG;
  } else if (params->vt != kVtBlob) {
    ENGINE_CALL("read-late vt=%u", params->vt);
    status = E_INVALIDARG;
  } else if (params->blob.cbSize != sizeof(ProcessLoopbackParams) ||
             params->blob.pBlobData == nullptr) {
    ENGINE_CALL("read-late vt=%u size=%lu data=%s", params->vt,
                static_cast<unsigned long>(params->blob.cbSize),
                params->blob.pBlobData ? "given" : "null");
    status = E_INVALIDARG;
  } else {
    ProcessLoopbackParams record;
    std::memcpy(&record, params->blob.pBlobData, sizeof record);
    ENGINE_CALL("read-late vt=%u size=%lu type=%lu pid=%lu mode=%lu", params->vt,
                static_cast<unsigned long>(params->blob.cbSize),
                static_cast<unsigned long>(record.activationType),
                static_cast<unsigned long>(record.targetProcessId),
                static_cast<unsigned long>(record.loopbackMode));
    if (record.activationType != 1 || record.loopbackMode > 1) status = E_INVALIDARG;
  }
  if (status < 0) return status;
  if (!operation.rightPath) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  if (!operation.rightInterface) return E_NOINTERFACE;
  switch (TheScript().failure) {
    case FailurePoint::Status:
      return E_NOTIMPL;
    case FailurePoint::NoInterface:
      return S_OK;
    case FailurePoint::NoClient:
      *activated = static_cast<IUnknown*>(new ForeignObject());
      return S_OK;
    default:
      *activated = static_cast<IUnknown*>(static_cast<IAudioClient*>(new AudioClient()));
      return S_OK;
  }
}

// Runs on a worker of the process's thread pool, as the system's own completions do.
void CALLBACK CompleteActivation(PTP_CALLBACK_INSTANCE, void* argument) {
  auto* operation = static_cast<Operation*>(argument);
  Sleep(TheScript().completionDelayMs);
  IUnknown* activated = nullptr;
  const HRESULT status = Activate(*operation, &activated);
  operation->Complete(status, activated);

  IActivateAudioInterfaceCompletionHandler* handler = operation->handler;
  void* agile = nullptr;
  const HRESULT agileStatus = handler->QueryInterface(IID_IAgileObject, &agile);
  ENGINE_CALL("handler-query iid=IAgileObject status=%s distinct=%d",
              StatusText(agileStatus).c_str(), agile != nullptr && agile != handler ? 1 : 0);
  if (agileStatus >= 0 && agile != nullptr) {
    ENGINE_CALL("handler-release-agile count=%lu", static_cast<IUnknown*>(agile)->Release());
  }
  const HRESULT completed = handler->ActivateCompleted(operation);
  ENGINE_CALL("completed status=%s", StatusText(completed).c_str());
  ENGINE_CALL("handler-release count=%lu", handler->Release());
  operation->handler = nullptr;
  operation->EngineLetGo();
}

}  // namespace

}  // namespace engine

extern "C" HRESULT WINAPI
ActivateAudioInterfaceAsync(LPCWSTR path, REFIID iid, PROPVARIANT* params,
                            IActivateAudioInterfaceCompletionHandler* handler,
                            IActivateAudioInterfaceAsyncOperation** operationOut) {
  using namespace engine;
  LoadScript();
  HRESULT status = S_OK;
  if (path == nullptr || handler == nullptr || operationOut == nullptr)
    status = E_POINTER;
  else if (TheScript().failure == FailurePoint::Request)
    status = kIllegalMethodCall;
  ENGINE_CALL("request path=%s iid=%s params=%s handler=%s operation=%s status=%s at=%lld",
              Utf8(path).c_str(), GuidText(iid).c_str(), params ? "given" : "null",
              handler ? "given" : "null", operationOut ? "given" : "null",
              StatusText(status).c_str(), static_cast<long long>(NowMicroseconds()));
  if (status < 0) return status;

  auto* operation = new Operation();
  operation->params = params;
  operation->rightPath = std::wcscmp(path, kProcessLoopbackPath) == 0;
  operation->rightInterface = IsEqualIID(iid, __uuidof(IAudioClient));
  operation->handler = handler;
  ENGINE_CALL("handler-addref count=%lu", handler->AddRef());
  operation->EngineHold();  // until the completion is delivered
  *operationOut = operation;
  if (TheScript().failure == FailurePoint::Never) return S_OK;  // holds both, for good
  TrySubmitThreadpoolCallback(CompleteActivation, operation, nullptr);
  return S_OK;
}
