// The start and end of a TPictor's life: each object holds the shared Media Foundation
// binding (media/MFRuntime.h) from construction to destruction.
#include <windows.h>

#include <new>

#include "Pictor.h"
#include "capture/CaptureFeatures.h"
#include "capture/FrameDelivery.h"
#include "log/Log.h"
#include "media/MFRuntime.h"

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
      pCaptureCamera(nullptr),
      Conversion(pcSystemConverter),
      pFeatures(new (std::nothrow) TCaptureFeatures)
{
  if (!pFeatures) LogError("%s no memory for the capture features", "TPictor::TPictor");
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
  if (pFeatures && pFeatures->pListWatcher) SetCameraListCallback(nullptr, nullptr);
  if (hCaptureThread || pMFVideoConverter) StopCapture();
  delete pFrameSink;
  pFrameSink = nullptr;
  DeactivateDevice();
  delete pFeatures;
  pFeatures = nullptr;
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
