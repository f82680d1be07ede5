// The C interface's handles and guards, shared by its capture part (c-api/PictorC_win.cpp)
// and its preview part (c-api/PictorPreviewC_win.cpp); the registry itself is
// c-api/PictorCHandles_win.cpp.
//
// A handle is a number the registry hands out once and never again, not an address:
// a destroyed handle is recognised for the life of the process and never dereferenced,
// even when the allocator has reused the object's memory. A call holds its object by a
// shared reference while it runs; a destroy takes the handle out of the registry, waits
// until the calls that found the object before have returned (a setter called from the
// object's own callback among them) and deletes the object on its own thread. So an
// object is never deleted on its callback thread, and its destructor stops it before the
// destroy returns.
#pragma once

#include "PictorC.h"
#include "Pictor.h"
#include "log/Log.h"

#include <cstdint>
#include <memory>
#include <new>

namespace pictorc {

enum class THandleKind { Capture, Preview };

struct TObject {
  // Throws std::bad_alloc when the event cannot be made.
  explicit TObject(THandleKind kind);
  virtual ~TObject();
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  const THandleKind Kind;
  // Set when the last shared reference goes; the destroy waits for it.
  const HANDLE Unused;
};

// A new handle for the object (never 0, never reused).
uintptr_t RegisterHandle(std::unique_ptr<TObject> object);
// The live object of that handle and kind, or null.
std::shared_ptr<TObject> FindHandle(uintptr_t handle, THandleKind kind);
// Takes the handle out of the registry, waits until no call holds its object any more and
// deletes the object on the calling thread. False when the handle is no live one of that
// kind.
bool DestroyHandle(uintptr_t handle, THandleKind kind);

// While a host callback of `object` runs on this thread; start, stop and destroy of that
// object from inside it would wait for the thread that is running the callback.
class TCallbackScope {
 public:
  explicit TCallbackScope(const void* object);
  ~TCallbackScope();
  TCallbackScope(const TCallbackScope&) = delete;
  TCallbackScope& operator=(const TCallbackScope&) = delete;

 private:
  const void* previous;
};
bool InCallbackOf(const void* object);

// Writes "<function> <problem>" and returns the code.
inline int Fail(const char* function, int code, const char* problem)
{
  LogError("%s %s, result %d", function, problem, code);
  return code;
}

// The object behind a handle, typed; the handle's problem is logged when there is none.
template <typename T>
std::shared_ptr<T> Lookup(const char* function, const void* handle, THandleKind kind)
{
  std::shared_ptr<TObject> object = FindHandle(reinterpret_cast<uintptr_t>(handle), kind);
  if (!object) {
    LogError("%s handle %p is null, destroyed or not of this kind, result %d", function, handle,
             PICTOR_E_INVALID_HANDLE);
    return nullptr;
  }
  return std::static_pointer_cast<T>(object);
}

// Runs one interface function's body; no exception leaves it.
template <typename F>
int Guarded(const char* function, F&& body) noexcept
{
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return Fail(function, PICTOR_E_OUT_OF_MEMORY, "out of memory");
  } catch (EPictor* error) {
    delete error;
    return Fail(function, PICTOR_E_INTERNAL, "unexpected library exception");
  } catch (...) {
    return Fail(function, PICTOR_E_INTERNAL, "unexpected exception");
  }
}

// A bool written by a host in another language may hold any byte: only 0 is false.
inline bool HostBool(const bool* field)
{
  return *reinterpret_cast<const unsigned char*>(field) != 0;
}

}  // namespace pictorc
