// The C interface's handle registry and callback marker (c-api/PictorCHandles.h), shared by
// its capture and preview parts.
#include "c-api/PictorCHandles.h"

#include <unordered_map>

namespace pictorc {
namespace {

// The registry and the callback marker are made while the library loads and go with it:
// a guarded function-local static or a thread_local would make the statically linked
// threading runtime keep an event and a thread handle per load (emulated TLS and its
// once-guards), and an SRW lock needs nothing released at all.
struct TRegistry {
  SRWLOCK Lock = SRWLOCK_INIT;
  std::unordered_map<uintptr_t, std::shared_ptr<TObject>> Objects;
  uintptr_t Next = 1;

  ~TRegistry()
  {
    // Objects the host never destroyed are left as they are: tearing one down here would
    // join its threads inside the loader's lock.
    for (auto& entry : Objects) new std::shared_ptr<TObject>(std::move(entry.second));
  }
};
TRegistry gRegistry;

class TRegistryHold {
 public:
  TRegistryHold() { AcquireSRWLockExclusive(&gRegistry.Lock); }
  ~TRegistryHold() { ReleaseSRWLockExclusive(&gRegistry.Lock); }
  TRegistryHold(const TRegistryHold&) = delete;
  TRegistryHold& operator=(const TRegistryHold&) = delete;
};

struct TCallbackSlot {
  DWORD Index = TlsAlloc();
  ~TCallbackSlot()
  {
    if (Index != TLS_OUT_OF_INDEXES) TlsFree(Index);
  }
  const void* Get() const { return Index != TLS_OUT_OF_INDEXES ? TlsGetValue(Index) : nullptr; }
  void Set(const void* object) const
  {
    if (Index != TLS_OUT_OF_INDEXES) TlsSetValue(Index, const_cast<void*>(object));
  }
};
const TCallbackSlot gCallbackObject;

}  // namespace

TObject::TObject(THandleKind kind) : Kind(kind), Unused(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
  if (!Unused) throw std::bad_alloc();
}

TObject::~TObject()
{
  CloseHandle(Unused);
}

uintptr_t RegisterHandle(std::unique_ptr<TObject> object)
{
  // The last shared reference only signals; DestroyHandle deletes the object. Should the
  // shared owner not be made, the unique one still deletes it.
  std::shared_ptr<TObject> shared(object.get(), [](TObject* unused) { SetEvent(unused->Unused); });
  object.release();
  const TRegistryHold hold;
  TRegistry& registry = gRegistry;
  const uintptr_t handle = registry.Next++;
  registry.Objects.emplace(handle, std::move(shared));
  return handle;
}

std::shared_ptr<TObject> FindHandle(uintptr_t handle, THandleKind kind)
{
  const TRegistryHold hold;
  TRegistry& registry = gRegistry;
  const auto found = registry.Objects.find(handle);
  if (found == registry.Objects.end() || found->second->Kind != kind) return nullptr;
  return found->second;
}

bool DestroyHandle(uintptr_t handle, THandleKind kind)
{
  TObject* object = nullptr;
  {
    const TRegistryHold hold;
    TRegistry& registry = gRegistry;
    const auto found = registry.Objects.find(handle);
    if (found == registry.Objects.end() || found->second->Kind != kind) return false;
    object = found->second.get();
    registry.Objects.erase(found);  // the registry's reference goes here
  }
  // Out of the registry, no call can find the object again; the calls that found it
  // before return by themselves (a setter inside the object's own callback returns
  // without waiting for its frame). The destroying thread is never the object's callback
  // thread: the callers refuse a destroy from inside the callback.
  WaitForSingleObject(object->Unused, INFINITE);
  delete object;  // stops a running capture first
  return true;
}

TCallbackScope::TCallbackScope(const void* object) : previous(gCallbackObject.Get())
{
  gCallbackObject.Set(object);
}

TCallbackScope::~TCallbackScope()
{
  gCallbackObject.Set(previous);
}

bool InCallbackOf(const void* object)
{
  return gCallbackObject.Get() == object;
}

}  // namespace pictorc
