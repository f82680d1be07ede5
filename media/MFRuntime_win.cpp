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

// A hold of the library's own on the work queue the platform's source readers share while
// the platform is started (see HoldReadersQueue).
typedef HRESULT(WINAPI* TMFLockSharedWorkQueue)(PCWSTR usageClass, LONG basePriority, DWORD* taskId, DWORD* queue);
typedef HRESULT(WINAPI* TMFUnlockWorkQueue)(DWORD queue);
DWORD gReadersQueue = 0;
bool gReadersQueueHeld = false;

// Every source reader locks the platform's shared work queue and unlocks it at its end.
// Wine 8.0 shuts that queue down at its last unlock, waiting for the queue's running
// callbacks with its list of queues locked; when a reader's last reference goes with one
// of its own work items (a read still queued as its camera is closed), that wait is on
// itself and never ends, and every later reader creation in the process waits for ever.
// With this hold a reader's unlock is never the last.
void HoldReadersQueue(const TMFRuntime& runtime)
{
  const auto lock = reinterpret_cast<TMFLockSharedWorkQueue>(
      reinterpret_cast<void*>(GetProcAddress(runtime.hMFPlat, "MFLockSharedWorkQueue")));
  gReadersQueueHeld = lock && SUCCEEDED(lock(L"", 0, nullptr, &gReadersQueue));
}

// Called before the platform shuts down, on a thread of the library or the host.
void ReleaseReadersQueue(const TMFRuntime& runtime)
{
  if (!gReadersQueueHeld) return;
  gReadersQueueHeld = false;
  const auto unlock = reinterpret_cast<TMFUnlockWorkQueue>(
      reinterpret_cast<void*>(GetProcAddress(runtime.hMFPlat, "MFUnlockWorkQueue")));
  if (unlock) unlock(gReadersQueue);
}

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
      if (gSharedStarted) HoldReadersQueue(*gShared);
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
    if (gSharedStarted) ReleaseReadersQueue(*last);
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
