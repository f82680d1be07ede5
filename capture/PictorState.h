// TPictorState: what a TPictor keeps beyond the members its first interface lists
// (include/Pictor.h), whose size hosts compile against and which therefore never grows:
// the object-wide settings and status, and the running capture's session. Everything a
// capture needs for itself lives in its session (capture/Session.h), made by StartCapture
// and destroyed by StopCapture, so that each capture starts from fresh state.
#pragma once

#include "Pictor.h"
#include "capture/CaptureStatus.h"
#include "common/Thread_win.h"

#include <atomic>
#include <memory>

class TCameraListWatcher;
class TCaptureSession;

// The auto reconnect setting, and the wake-up of a reconnection's wait when it changes.
struct TAutoReconnect {
  std::atomic<bool> On{false};
  TEvent Changed{TEvent::AutoReset};
};

class TPictorState {
 public:
  TPictorState();
  ~TPictorState();
  TPictorState(const TPictorState&) = delete;
  TPictorState& operator=(const TPictorState&) = delete;

  // Starts and stops of a capture, one at a time (TSessionHold): a camera list callback may
  // stop or start while the host's thread does. Recursive: a start stops first.
  CRITICAL_SECTION SessionLock;
  // The running capture's converter thread, where the host's frame callback runs: a start or
  // stop from there is refused without the lock, which a stop holds while it joins that thread.
  std::atomic<DWORD> ConvertThreadId{0};

  // Host thread: the converter of the next format enumeration or capture.
  TPictorConversion Conversion = pcSystemConverter;
  // Any thread; read by the capture thread when its camera is lost and while it waits.
  TAutoReconnect AutoReconnect;
  // The current or last capture's status, read from any thread.
  TCaptureStatus Status;
  // Host thread: why the last activation of the camera slot failed (S_OK when it did not).
  HRESULT ActivationError = S_OK;
  // Host thread: the last DeactivateDevice left its camera closing on a thread of its own
  // (capture/CameraClose_win.cpp), which still holds the reader.
  bool CameraStillClosing = false;
  // Host thread: StartCaptureEx's callback, taken by the session StartCapture makes.
  TImageReadyCallbackEx PendingImageReadyEx = nullptr;
  // The camera list notices (capture/CameraListWatcher_win.cpp); null while off. Read and
  // changed under the lock: the host's thread and the watcher's own may call at once.
  SRWLOCK ListWatcherLock = SRWLOCK_INIT;
  TCameraListWatcher* pListWatcher = nullptr;
  // The running capture, from StartCapture to StopCapture. Written by the host thread only
  // while no thread of the capture runs; read by the capture and converter threads.
  std::unique_ptr<TCaptureSession> Session;
};

// Holds the object's session lock, where it has a state, to the end of the scope; not on the
// running capture's converter thread (see TPictorState::ConvertThreadId).
class TSessionHold {
 public:
  explicit TSessionHold(TPictorState* state)
      : Lock(state && state->ConvertThreadId != GetCurrentThreadId() ? &state->SessionLock : nullptr)
  {
    if (Lock) EnterCriticalSection(Lock);
  }
  ~TSessionHold()
  {
    if (Lock) LeaveCriticalSection(Lock);
  }
  TSessionHold(const TSessionHold&) = delete;
  TSessionHold& operator=(const TSessionHold&) = delete;

 private:
  CRITICAL_SECTION* const Lock;
};

// An object whose state could not be made (no memory) refuses every operation that needs
// it: true after an error line naming `operation`.
bool StateMissing(const TPictorState* state, const char* operation);
