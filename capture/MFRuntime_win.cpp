// The run-time binding of Media Foundation, and the start and end of a TPictor's life
// around it.
#include <windows.h>

#include <new>

#include "Pictor.h"
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

}  // namespace

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

  hMFReadWrite = LoadLibraryW(names.mfreadwrite);
  if (!hMFReadWrite) return;
  Lookup(hMFReadWrite, "MFCreateSourceReaderFromMediaSource", pMFCreateSourceReaderFromMediaSource);

  // MFCreateVideoMediaTypeFromBitMapInfoHeaderEx is never called; its presence still
  // tells apart a Media Foundation that is complete enough. MFCreateMemoryBuffer is
  // optional.
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
      Conversion(pcSystemConverter)
{
  pMFRuntime = new (std::nothrow) TMFRuntime();
  if (!pMFRuntime) {
    LogError("%s MFStartup error %x", "TPictor::TPictor", static_cast<unsigned>(E_OUTOFMEMORY));
    return;
  }
  // Construction completes even when Media Foundation does not start; the operations
  // then fail one by one with their own lines.
  const HRESULT hr =
      pMFRuntime->pMFStartup ? pMFRuntime->pMFStartup(kMFVersion, kMFStartupFull) : TMFRuntime::kFunctionMissing;
  if (hr != 0) LogError("%s MFStartup error %x", "TPictor::TPictor", static_cast<unsigned>(hr));
}

TPictor::~TPictor()
{
  // A host may destroy an object that still captures: both threads end before anything
  // they use is released.
  if (hCaptureThread || pMFVideoConverter) StopCapture();
  DeactivateDevice();
  if (pMFRuntime) {
    if (pMFRuntime->pMFShutdown) {
      pMFRuntime->pMFShutdown();
    } else {
      LogError("%s MFShutdown error %x", "TPictor::~TPictor", static_cast<unsigned>(TMFRuntime::kFunctionMissing));
    }
    delete pMFRuntime;
    pMFRuntime = nullptr;
  }
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
