// The start and end of a TPictor's life: each object holds the shared Media Foundation
// binding (media/MFRuntime.h) from construction to destruction, and its private state
// (capture/PictorState.h).
#include <windows.h>

#include <new>

#include "Pictor.h"
#include "capture/CameraListWatcher.h"
#include "capture/FrameDelivery.h"
#include "capture/PictorState.h"
#include "capture/Session.h"
#include "log/Log.h"
#include "media/MFRuntime.h"

TPictorState::TPictorState()
{
  InitializeCriticalSection(&SessionLock);
}

TPictorState::~TPictorState()
{
  DeleteCriticalSection(&SessionLock);
}

bool StateMissing(const TPictorState* state, const char* operation)
{
  if (state) return false;
  LogError("%s the object has no memory for its state, refused", operation);
  return true;
}

TPictor::TPictor()
    : pMFRuntime(nullptr),
      pMediaSource(nullptr),
      pSourceReader(nullptr),
      pMFVideoConverter(nullptr),
      hCaptureThread(nullptr),
      dwCaptureThreadId(0),
      bStopCapture(false),
      pPictorImageReady(nullptr),
      pImageReadyContext(nullptr),
      pState(new (std::nothrow) TPictorState())
{
  // Without its state the object refuses every operation that needs it, each with a line.
  if (!pState) LogError("%s no memory for the object's state", "TPictor::TPictor");
  // Construction completes even when Media Foundation does not start; the operations
  // then fail one by one with their own lines.
  const HRESULT hr = TMFRuntime::AcquireShared(&pMFRuntime);
  if (hr != S_OK) LogError("%s MFStartup error %x", "TPictor::TPictor", static_cast<unsigned>(hr));
}

TPictor::~TPictor()
{
  // A host may destroy an object that still captures: both threads end before anything
  // they use is released; then the object's hold on the shared binding goes. The camera
  // list notices end first, so that none reaches a host that is tearing down.
  EndCameraListNotices(pState);
  if (hCaptureThread || pMFVideoConverter) StopCapture();
  DeactivateDevice();
  delete pState;
  pState = nullptr;
  if (pMFRuntime) TMFRuntime::ReleaseShared();
  pMFRuntime = nullptr;
}

bool TPictor::CanUseMFAPI()
{
  try {
    TMFRuntime runtime;
    return runtime.bCanUse;
  } catch (...) {
    return false;
  }
}
