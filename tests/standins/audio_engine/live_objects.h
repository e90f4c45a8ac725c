// Reference counting of the engine's objects, as the tests see it: every AddRef and Release
// is logged with the count it returns, the object's end is logged, and at process exit the
// objects still alive are listed with their counts (what the program left to the exit).
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace engine {

class LiveObject {
 public:
  explicit LiveObject(const char* name);  // one reference, the creator's
  LiveObject(const LiveObject&) = delete;
  LiveObject& operator=(const LiveObject&) = delete;

  const char* Name() const { return name_; }
  ULONG Count() const { return static_cast<ULONG>(count_); }
  ULONG AddReference();
  ULONG ReleaseReference();  // destroys the object at zero
  // The engine's own reference, logged apart so that the tests can tell it from the program's.
  void EngineHold();
  void EngineLetGo();

 protected:
  virtual ~LiveObject();

 private:
  friend void LogLiveObjectsAtExit();

  const char* name_;
  volatile LONG count_ = 1;
  volatile LONG engineHolds_ = 0;
};

// Logs "exit alive <name> refs=<n> engine=<0|1>" for each object not yet destroyed: refs
// counts every reference, engine=1 when one of them is the engine's own.
void LogLiveObjectsAtExit();

}  // namespace engine

// The IUnknown part of an engine object implementing Interface (one interface each).
#define ENGINE_IUNKNOWN(Interface)                                                                 \
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {                      \
    return ::engine::QueryFor(this, iid, __uuidof(Interface), static_cast<Interface*>(this), out); \
  }                                                                                                \
  ULONG STDMETHODCALLTYPE AddRef() override { return AddReference(); }                             \
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseReference(); }

namespace engine {

// QueryInterface for an object with one interface besides IUnknown; logged.
HRESULT QueryFor(LiveObject* object, REFIID iid, REFIID own, IUnknown* self, void** out);

}  // namespace engine
