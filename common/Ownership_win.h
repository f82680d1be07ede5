// Owners for what Windows and COM hand out: references, kernel handles, mapped views,
// mutex and critical-section holds, COM task memory. Each releases what it holds on every
// path out of its scope. Header-only, so that the library, the log server and the virtual
// camera share one set without linking each other.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <wrl/client.h>

#include <cstdint>
#include <mutex>

// Releases a raw COM member and nulls it: the one teardown step for members whose type
// is fixed.
template <class T>
void ReleaseAndNull(T*& object)
{
  if (object) {
    object->Release();
    object = nullptr;
  }
}

// Wraps a reference the caller already owns (a factory's result) without adding one.
// mingw-w64's ComPtr::Attach adds a reference where the Windows SDK's does not, so the
// code never uses Attach: taking ownership goes through this one function.
template <class T>
Microsoft::WRL::ComPtr<T> AdoptComPtr(T* owned)
{
  Microsoft::WRL::ComPtr<T> pointer;
  *pointer.GetAddressOf() = owned;
  return pointer;
}

// Moves a local's reference into a raw member, releasing what the member held: objects are
// built in locals and handed over once every step has succeeded.
template <class T>
void HandOverComPtr(Microsoft::WRL::ComPtr<T>& local, T*& member)
{
  ReleaseAndNull(member);
  member = local.Detach();
}

// A kernel handle with one owner (null means none).
class TUniqueHandle {
 public:
  TUniqueHandle() = default;
  explicit TUniqueHandle(HANDLE h) : handle(h) {}
  ~TUniqueHandle() { Reset(); }
  TUniqueHandle(TUniqueHandle&& other) noexcept : handle(other.Release()) {}
  TUniqueHandle& operator=(TUniqueHandle&& other) noexcept
  {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  HANDLE Get() const { return handle; }
  explicit operator bool() const { return handle != nullptr; }
  HANDLE Release()
  {
    HANDLE h = handle;
    handle = nullptr;
    return h;
  }
  void Reset(HANDLE h = nullptr)
  {
    if (handle) CloseHandle(handle);
    handle = h;
  }

 private:
  HANDLE handle = nullptr;
};

// A mapped view of a file mapping with one owner.
class TUniqueView {
 public:
  TUniqueView() = default;
  explicit TUniqueView(void* v) : view(static_cast<uint8_t*>(v)) {}
  ~TUniqueView() { Reset(); }
  TUniqueView(TUniqueView&& other) noexcept : view(other.view) { other.view = nullptr; }
  TUniqueView& operator=(TUniqueView&& other) noexcept
  {
    if (this != &other) {
      Reset();
      view = other.view;
      other.view = nullptr;
    }
    return *this;
  }
  uint8_t* Get() const { return view; }
  explicit operator bool() const { return view != nullptr; }
  void Reset()
  {
    if (view) UnmapViewOfFile(view);
    view = nullptr;
  }

 private:
  uint8_t* view = nullptr;
};

// Holds a mutex from a successful wait to the end of the scope. The wait has no time-out
// unless one is given (then TimedOut() says whether it ran out); a mutex abandoned by a
// dead owner is owned as well, and released like any other.
class TMutexHold {
 public:
  explicit TMutexHold(HANDLE mutex) : mutex(mutex), owned(mutex && WaitOwned(mutex, INFINITE)) {}
  TMutexHold(HANDLE mutex, DWORD timeoutMilliseconds)
      : mutex(mutex), owned(mutex && WaitOwned(mutex, timeoutMilliseconds))
  {
  }
  ~TMutexHold()
  {
    if (owned) ReleaseMutex(mutex);
  }
  TMutexHold(const TMutexHold&) = delete;
  TMutexHold& operator=(const TMutexHold&) = delete;
  bool Owned() const { return owned; }
  bool TimedOut() const { return timedOut; }

 private:
  bool WaitOwned(HANDLE mutex, DWORD timeoutMilliseconds)
  {
    const DWORD result = WaitForSingleObject(mutex, timeoutMilliseconds);
    timedOut = result == WAIT_TIMEOUT;
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
  }

  HANDLE mutex;
  bool timedOut = false;
  bool owned;
};

// Holds a critical section to the end of the scope. Made with std::try_to_lock it only
// tries, and Owned() says whether it got the section.
class TCriticalSectionHold {
 public:
  explicit TCriticalSectionHold(CRITICAL_SECTION& section) : section(section), owned(true)
  {
    EnterCriticalSection(&section);
  }
  TCriticalSectionHold(CRITICAL_SECTION& section, std::try_to_lock_t)
      : section(section), owned(TryEnterCriticalSection(&section) != FALSE)
  {
  }
  ~TCriticalSectionHold()
  {
    if (owned) LeaveCriticalSection(&section);
  }
  TCriticalSectionHold(const TCriticalSectionHold&) = delete;
  TCriticalSectionHold& operator=(const TCriticalSectionHold&) = delete;
  bool Owned() const { return owned; }

 private:
  CRITICAL_SECTION& section;
  bool owned;
};

// Holds a slim reader/writer lock exclusively to the end of the scope.
class TExclusiveSRWHold {
 public:
  explicit TExclusiveSRWHold(SRWLOCK& lock) : lock(lock) { AcquireSRWLockExclusive(&lock); }
  ~TExclusiveSRWHold() { ReleaseSRWLockExclusive(&lock); }
  TExclusiveSRWHold(const TExclusiveSRWHold&) = delete;
  TExclusiveSRWHold& operator=(const TExclusiveSRWHold&) = delete;

 private:
  SRWLOCK& lock;
};

// An array of COM references in COM task memory, as MFEnumDeviceSources hands one out:
// every reference is released, then the array freed, when the owner goes.
template <typename T>
class TComArray {
 public:
  TComArray() = default;
  ~TComArray() { Reset(); }
  TComArray(const TComArray&) = delete;
  TComArray& operator=(const TComArray&) = delete;

  // For the out-parameters: frees what is held and hands out the slots.
  T*** PutItems()
  {
    Reset();
    return &items;
  }
  UINT32* PutCount() { return &count; }
  // The count the call reported, and the items there are (none without an array).
  UINT32 ReportedCount() const { return count; }
  UINT32 Count() const { return items ? count : 0; }
  T* operator[](UINT32 i) const { return items[i]; }
  void Reset()
  {
    for (UINT32 i = 0; items && i < count; ++i)
      if (items[i]) items[i]->Release();
    CoTaskMemFree(items);
    items = nullptr;
    count = 0;
  }

 private:
  T** items = nullptr;
  UINT32 count = 0;
};

// One block of COM task memory (strings from GetAllocatedString or StringFromCLSID, the
// activation array of MFEnumDeviceSources), freed when the owner goes.
template <typename T>
class TCoTaskMemPtr {
 public:
  TCoTaskMemPtr() = default;
  ~TCoTaskMemPtr() { Reset(); }
  TCoTaskMemPtr(const TCoTaskMemPtr&) = delete;
  TCoTaskMemPtr& operator=(const TCoTaskMemPtr&) = delete;

  T* Get() const { return pointer; }
  // For an out-parameter: frees what is held and hands out the slot.
  T** Put()
  {
    Reset();
    return &pointer;
  }
  void Reset()
  {
    if (pointer) CoTaskMemFree(pointer);
    pointer = nullptr;
  }

 private:
  T* pointer = nullptr;
};
