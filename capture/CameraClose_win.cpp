// Closes a camera on a thread of its own and waits for it a limited time (CameraClose.h).
#include "capture/CameraClose.h"

#include "common/Thread_win.h"
#include "log/Log.h"
#include "media/MFRuntime.h"

#include <mfidl.h>
#include <objbase.h>

#include <atomic>
#include <new>

namespace {

// Who runs the close: the thread once it starts, or the caller when the thread has not
// started by the end of the wait.
enum TCloseState : int { csPending, csOnThread, csByCaller };

void CloseNow(IMFMediaSource* source, IUnknown* other)
{
  if (source) source->Shutdown();
  if (other) other->Release();
  if (source) source->Release();
}

struct TCloseJob {
  IMFMediaSource* Source;
  IUnknown* Other;
  TMFRuntime* Runtime = nullptr;  // a use of the platform's libraries, the reader's among them
  std::atomic<int> State{csPending};
  std::atomic<int> Holders{2};  // the caller and the thread

  void Close() { CloseNow(Source, Other); }
  void Leave()
  {
    if (--Holders == 0) delete this;
  }
};

DWORD WINAPI CloseThread(LPVOID parameter)
{
  TCloseJob* job = static_cast<TCloseJob*>(parameter);
  int expected = csPending;
  if (job->State.compare_exchange_strong(expected, csOnThread)) {
    // The camera's objects are free-threaded; a proxy to the camera service needs the
    // thread in the multithreaded apartment.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    job->Close();
    if (SUCCEEDED(com)) CoUninitialize();
  }
  if (job->Runtime) TMFRuntime::ReleaseShared();
  job->Leave();
  return 0;
}

// True while the process is exiting (its DLLs are being detached under the loader lock).
// Its other threads are gone by then, the camera's and the platform's among them, with any
// lock they held: a Shutdown or Release now may wait for ever, and a thread made now would
// never run. The camera is left as it is; the process's end closes it.
bool ProcessIsExiting()
{
  using TRtlDllShutdownInProgress = BOOLEAN(WINAPI*)();
  static const auto inProgress = reinterpret_cast<TRtlDllShutdownInProgress>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlDllShutdownInProgress")));
  return inProgress && inProgress();
}

}  // namespace

bool CloseCameraWithin(IMFMediaSource* source, IUnknown* other, DWORD limitMs, const char* who)
{
  if (!source && !other) return true;
  if (ProcessIsExiting()) return true;
  TCloseJob* job = new (std::nothrow) TCloseJob{source, other};
  TLibraryThread thread;
  bool started = false;
  if (job) {
    // The platform stays started and its libraries loaded while the thread may still use
    // the reader and the source: the host may let go of its last object meanwhile.
    TMFRuntime::AcquireShared(&job->Runtime);
    started = thread.Start(L"Pictor camera close", CloseThread, job);
    if (!started && job->Runtime) TMFRuntime::ReleaseShared();
  }
  if (!started) {
    // No thread: closed here, as it would be without one.
    delete job;
    CloseNow(source, other);
    return true;
  }
  bool closed = thread.Join(limitMs);
  if (!closed) {
    thread.Detach();
    int expected = csPending;
    if (job->State.compare_exchange_strong(expected, csByCaller)) {
      job->Close();
      closed = true;
    } else {
      LogError("%s the camera has not closed within %lu ms; it goes on closing on its own thread", who,
               static_cast<unsigned long>(limitMs));
    }
  }
  job->Leave();
  return closed;
}
