// The run-time binding of Media Foundation, shared by the library's objects, and the start
// and end of a TPictor's life.
#include <windows.h>

#include <new>

#include "Pictor.h"
#include "capture/CaptureFeatures.h"
#include "capture/FrameDelivery.h"
#include "capture/MFRuntime.h"
#include "log/Log.h"

namespace {

template <typename T>
void Lookup(HMODULE module, const char* name, T& slot)
{
  slot = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// MF_VERSION for the Windows 7 SDK and later, MFSTARTUP_FULL.
constexpr ULONG kMFVersion = 0x00020070;
constexpr DWORD kMFStartupFull = 0;

// The shared binding, how many objects hold it and whether Media Foundation was started
// through it. An SRW lock needs nothing made or released at load or unload.
SRWLOCK gSharedLock = SRWLOCK_INIT;
TMFRuntime* gShared = nullptr;
unsigned gSharedUsers = 0;
bool gSharedStarted = false;

}  // namespace

HRESULT TMFRuntime::AcquireShared(TMFRuntime** runtime)
{
  AcquireSRWLockExclusive(&gSharedLock);
  if (!gShared) gShared = new (std::nothrow) TMFRuntime();
  HRESULT hr = E_OUTOFMEMORY;
  if (gShared) {
    ++gSharedUsers;
    hr = S_OK;
    if (!gSharedStarted) {
      hr = gShared->pMFStartup ? gShared->pMFStartup(kMFVersion, kMFStartupFull) : kFunctionMissing;
      gSharedStarted = hr == S_OK;
    }
  }
  *runtime = gShared;
  ReleaseSRWLockExclusive(&gSharedLock);
  return hr;
}

void TMFRuntime::ReleaseShared()
{
  AcquireSRWLockExclusive(&gSharedLock);
  TMFRuntime* last = nullptr;
  if (gShared && gSharedUsers > 0 && --gSharedUsers == 0) {
    last = gShared;
    gShared = nullptr;
    if (gSharedStarted && last->pMFShutdown) last->pMFShutdown();
    gSharedStarted = false;
  }
  ReleaseSRWLockExclusive(&gSharedLock);
  delete last;
}

TMFRuntime::TMFRuntime() : TMFRuntime(ModuleNames()) {}

TMFRuntime::TMFRuntime(const ModuleNames& names)
{
  // Each library is looked at only when the one before it loaded. Failures here are not
  // logged: CanUseMFAPI must stay silent, and a TPictor reports the consequences.
  hMF = LoadLibraryW(names.mf);
  if (!hMF) return;
  Lookup(hMF, "MFEnumDeviceSources", pMFEnumDeviceSources);
  Lookup(hMF, "MFCreateDeviceSource", pMFCreateDeviceSource);

  hMFPlat = LoadLibraryW(names.mfplat);
  if (!hMFPlat) return;
  Lookup(hMFPlat, "MFStartup", pMFStartup);
  Lookup(hMFPlat, "MFShutdown", pMFShutdown);
  Lookup(hMFPlat, "MFCreateAttributes", pMFCreateAttributes);
  Lookup(hMFPlat, "MFCreateVideoMediaTypeFromBitMapInfoHeaderEx", pMFCreateVideoMediaTypeFromBitMapInfoHeaderEx);
  Lookup(hMFPlat, "MFCreateSample", pMFCreateSample);
  Lookup(hMFPlat, "MFCreateMemoryBuffer", pMFCreateMemoryBuffer);
  Lookup(hMFPlat, "MFCreateMediaEvent", pMFCreateMediaEvent);

  hMFReadWrite = LoadLibraryW(names.mfreadwrite);
  if (!hMFReadWrite) return;
  Lookup(hMFReadWrite, "MFCreateSourceReaderFromMediaSource", pMFCreateSourceReaderFromMediaSource);

  // MFCreateVideoMediaTypeFromBitMapInfoHeaderEx is never called; its presence still
  // tells apart a Media Foundation that is complete enough. MFCreateMemoryBuffer is
  // optional, and so is MFCreateMediaEvent.
  bCanUse = pMFEnumDeviceSources && pMFCreateDeviceSource && pMFStartup && pMFShutdown && pMFCreateAttributes &&
            pMFCreateVideoMediaTypeFromBitMapInfoHeaderEx && pMFCreateSample && pMFCreateSourceReaderFromMediaSource;
}

TMFRuntime::~TMFRuntime()
{
  if (hMFPlat) FreeLibrary(hMFPlat);
  if (hMF) FreeLibrary(hMF);
  if (hMFReadWrite) FreeLibrary(hMFReadWrite);
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
