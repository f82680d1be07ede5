// The run-time binding of Media Foundation, shared by the library's objects (see
// MFRuntime.h).
#include "media/MFRuntime.h"

#include <windows.h>

#include <new>

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

HRESULT TMFRuntime::CreateSharedSample(IMFSample** sample)
{
  AcquireSRWLockShared(&gSharedLock);
  const TMFCreateSample create = gShared ? gShared->pMFCreateSample : nullptr;
  ReleaseSRWLockShared(&gSharedLock);
  return create ? create(sample) : kFunctionMissing;
}

HRESULT TMFRuntime::CreateSharedMemoryBuffer(DWORD length, IMFMediaBuffer** buffer)
{
  AcquireSRWLockShared(&gSharedLock);
  const TMFCreateMemoryBuffer create = gShared ? gShared->pMFCreateMemoryBuffer : nullptr;
  ReleaseSRWLockShared(&gSharedLock);
  return create ? create(length, buffer) : kFunctionMissing;
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
