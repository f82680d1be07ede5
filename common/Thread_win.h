// The library's threads, the events they wait on, and the check of which thread touches
// what. Header-only, like Ownership_win.h.
//
// Every thread of the library is a TLibraryThread: it holds a reference to the module it runs
// in until its last instruction (FreeLibraryAndExitThread), so that a thread left to end by
// itself never runs in an unloaded library, and its owner either joins it or lets it end by
// itself (Detach). It carries a name for debuggers and crash dumps where the system has
// SetThreadDescription (Windows 10 1607 and later), looked up at run time; Wine 8.0 has it.
#pragma once

#include "common/Ownership_win.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

// An unnamed event with one owner; false when it could not be made.
class TEvent {
 public:
  enum TReset { AutoReset, ManualReset };
  explicit TEvent(TReset reset) : Handle(CreateEventW(nullptr, reset == ManualReset, FALSE, nullptr)) {}
  explicit operator bool() const { return static_cast<bool>(Handle); }
  HANDLE Get() const { return Handle.Get(); }
  void Set() const { SetEvent(Handle.Get()); }
  // True when it was (or became) set within the time.
  bool Wait(DWORD timeoutMs) const { return WaitForSingleObject(Handle.Get(), timeoutMs) == WAIT_OBJECT_0; }

 private:
  TUniqueHandle Handle;
};

namespace threadkit {

// What a new thread runs; freed by the thread as it starts.
struct TStart {
  LPTHREAD_START_ROUTINE Routine;
  void* Parameter;
};

inline DWORD WINAPI Trampoline(LPVOID parameter)
{
  const TStart start = *static_cast<TStart*>(parameter);
  delete static_cast<TStart*>(parameter);
  DWORD code = 0;
  try {
    code = start.Routine(start.Parameter);
  } catch (...) {
    code = 1;  // a routine lets nothing escape; should one, its thread still ends cleanly
  }
  // The reference Start took: the library may go with it, so nothing of it runs afterwards.
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&Trampoline), &module);
  FreeLibraryAndExitThread(module, code);
  return code;
}

inline void Name(HANDLE thread, const wchar_t* name)
{
  using TSetThreadDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto describe = kernel ? reinterpret_cast<TSetThreadDescription>(
                                     reinterpret_cast<void*>(GetProcAddress(kernel, "SetThreadDescription")))
                               : nullptr;
  if (describe && name) describe(thread, name);
}

}  // namespace threadkit

class TLibraryThread {
 public:
  // The stop event is made here: a routine run on another thread (a test's) may wait on it.
  TLibraryThread() : StopEvent(TEvent::ManualReset) {}
  // A thread still owned is asked to stop and joined; one whose own routine destroys its
  // owner (a thread that frees itself) is let go, to end by itself.
  ~TLibraryThread()
  {
    if (IsCurrent()) {
      Detach();
    } else if (Thread) {
      RequestStop();
      Join(INFINITE);
    }
  }
  TLibraryThread(const TLibraryThread&) = delete;
  TLibraryThread& operator=(const TLibraryThread&) = delete;

  // Runs routine(parameter) on a new thread called `name`. False, with the reason in
  // GetLastError, when it could not be started (or one runs already).
  bool Start(const wchar_t* name, LPTHREAD_START_ROUTINE routine, void* parameter)
  {
    if (Thread) return SetLastError(ERROR_BUSY), false;
    if (!StopEvent) return false;
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&threadkit::Trampoline),
                            &module))
      return false;
    auto* start = new (std::nothrow) threadkit::TStart{routine, parameter};
    DWORD id = 0;
    // Suspended until it has its name and its id is known here: the routine may ask
    // IsCurrent at once.
    Thread.Reset(start ? CreateThread(nullptr, 0, threadkit::Trampoline, start, CREATE_SUSPENDED, &id) : nullptr);
    if (!Thread) {
      const DWORD error = start ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
      delete start;
      FreeLibrary(module);
      return SetLastError(error), false;
    }
    threadkit::Name(Thread.Get(), name);
    Id = id;
    ResumeThread(Thread.Get());
    return true;
  }

  // Sets the stop event, which the routine waits on beside its work.
  void RequestStop() const { StopEvent.Set(); }
  HANDLE StopHandle() const { return StopEvent.Get(); }
  // Waits up to timeoutMs for a stop request; true once one came.
  bool StopRequested(DWORD timeoutMs = 0) const { return StopEvent.Wait(timeoutMs); }

  // Waits for the thread's end; true when it ended within the time, and the object then
  // owns no thread. Never from the thread itself.
  bool Join(DWORD timeoutMs)
  {
    if (!Thread) return true;
    if (WaitForSingleObject(Thread.Get(), timeoutMs) != WAIT_OBJECT_0) return false;
    Thread.Reset();
    Id = 0;
    return true;
  }
  // The thread ends by itself; the object lets go of it.
  void Detach()
  {
    Thread.Reset();
    Id = 0;
  }

  HANDLE Handle() const { return Thread.Get(); }
  DWORD ThreadId() const { return Id; }
  bool IsCurrent() const { return Id != 0 && Id == GetCurrentThreadId(); }

 private:
  TEvent StopEvent;
  TUniqueHandle Thread;
  std::atomic<DWORD> Id{0};
};

// State that belongs to one thread (a capture session's to its capture thread, a converter's
// to its convert thread) is checked in debug builds: PICTOR_DCHECK_THREAD(checker) fails when
// another thread touches it. The first thread to check owns it, until Detach (a new capture's
// thread takes over). Release builds keep and check nothing.
#if !defined(PICTOR_THREAD_CHECKS)
#  if defined(NDEBUG)
#    define PICTOR_THREAD_CHECKS 0
#  else
#    define PICTOR_THREAD_CHECKS 1
#  endif
#endif

class TThreadChecker {
 public:
#if PICTOR_THREAD_CHECKS
  bool CalledOnOwner()
  {
    const DWORD self = GetCurrentThreadId();
    DWORD owner = 0;
    return Owner.compare_exchange_strong(owner, self) || owner == self;
  }
  void Detach()
  {
    Owner = 0;
  }

 private:
  std::atomic<DWORD> Owner{0};
#else
  void Detach() {}
#endif
};

#if PICTOR_THREAD_CHECKS
[[noreturn]] inline void PictorThreadCheckFailed(const char* file, int line)
{
  char text[300];
  std::snprintf(text, sizeof text, "%s:%d: thread-owned state touched by thread %lu\n", file, line,
                static_cast<unsigned long>(GetCurrentThreadId()));
  OutputDebugStringA(text);
  std::fputs(text, stderr);
  std::abort();
}
#  define PICTOR_DCHECK_THREAD(checker) \
    ((checker).CalledOnOwner() ? static_cast<void>(0) : PictorThreadCheckFailed(__FILE__, __LINE__))
#else
#  define PICTOR_DCHECK_THREAD(checker) static_cast<void>(0)
#endif
