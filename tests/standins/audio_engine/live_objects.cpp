#include "live_objects.h"

#include "engine_script.h"

namespace engine {

namespace {

constexpr int kMaxLive = 64;
SRWLOCK LiveLock = SRWLOCK_INIT;
LiveObject* Live[kMaxLive] = {};

void Track(LiveObject* object, LiveObject* replacement) {
  AcquireSRWLockExclusive(&LiveLock);
  for (LiveObject*& slot : Live) {
    if (slot == object) {
      slot = replacement;
      break;
    }
  }
  ReleaseSRWLockExclusive(&LiveLock);
}

}  // namespace

LiveObject::LiveObject(const char* name) : name_(name) {
  Track(nullptr, this);
  ENGINE_CALL("create %s 1", name_);
}

LiveObject::~LiveObject() { Track(this, nullptr); }

ULONG LiveObject::AddReference() {
  const ULONG count = static_cast<ULONG>(InterlockedIncrement(&count_));
  ENGINE_CALL("addref %s %lu", name_, count);
  return count;
}

ULONG LiveObject::ReleaseReference() {
  const LONG count = InterlockedDecrement(&count_);
  ENGINE_CALL("release %s %ld", name_, count);
  if (count == 0) {
    ENGINE_CALL("destroy %s", name_);
    delete this;
  }
  return static_cast<ULONG>(count);
}

void LiveObject::EngineHold() {
  InterlockedExchange(&engineHolds_, 1);
  const LONG count = InterlockedIncrement(&count_);
  ENGINE_CALL("engine-hold %s %ld", name_, count);
}

void LiveObject::EngineLetGo() {
  InterlockedExchange(&engineHolds_, 0);
  const LONG count = InterlockedDecrement(&count_);
  ENGINE_CALL("engine-let-go %s %ld", name_, count);
  if (count == 0) {
    ENGINE_CALL("destroy %s", name_);
    delete this;
  }
}

void LogLiveObjectsAtExit() {
  AcquireSRWLockShared(&LiveLock);
  for (LiveObject* object : Live) {
    if (object != nullptr) {
      ENGINE_CALL("exit alive %s refs=%lu engine=%ld", object->Name(), object->Count(),
                  static_cast<long>(object->engineHolds_));
    }
  }
  ReleaseSRWLockShared(&LiveLock);
}

HRESULT QueryFor(LiveObject* object, REFIID iid, REFIID own, IUnknown* self, void** out) {
  HRESULT status = E_NOINTERFACE;
  if (out == nullptr) {
    status = E_POINTER;
  } else if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, own)) {
    *out = self;
    status = S_OK;
  } else {
    *out = nullptr;
  }
  ENGINE_CALL("query %s iid=%s status=%s", object->Name(), GuidText(iid).c_str(),
              StatusText(status).c_str());
  if (status == S_OK) object->AddReference();
  return status;
}

}  // namespace engine
