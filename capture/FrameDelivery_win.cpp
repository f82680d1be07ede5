// Frame delivery to the host (the converter's output samples and the host callback, through
// the session, the converter's sink) and the sample copies of the capture thread.
#include "capture/FrameDelivery.h"

#include "Pictor.h"
#include "capture/FrameInfo.h"
#include "capture/PictorState.h"
#include "capture/Session.h"
#include "common/Ownership_win.h"
#include "media/MFRuntime.h"
#include "media/SamplePool.h"
#include "log/Log.h"
#include "log/LogTrace.h"

#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <wrl/client.h>

#include <cstring>

using Microsoft::WRL::ComPtr;

namespace {

// Holds a buffer lock for the scope, so that no path (a throw included) leaves a
// buffer locked.
class TScopedBufferLock {
 public:
  explicit TScopedBufferLock(IMFMediaBuffer* buffer) : Buffer(buffer) {}
  ~TScopedBufferLock()
  {
    if (Locked) Buffer->Unlock();
  }
  TScopedBufferLock(const TScopedBufferLock&) = delete;
  TScopedBufferLock& operator=(const TScopedBufferLock&) = delete;

  HRESULT Lock()
  {
    const HRESULT hr = Buffer->Lock(&Data, &MaxLength, &CurrentLength);
    Locked = SUCCEEDED(hr);
    return hr;
  }
  HRESULT Unlock()
  {
    Locked = false;
    return Buffer->Unlock();
  }

  BYTE* Data = nullptr;
  DWORD MaxLength = 0;
  DWORD CurrentLength = 0;

 private:
  IMFMediaBuffer* Buffer;
  bool Locked = false;
};

// Writes the line and leaves by throwing, as every failing copy does.
[[noreturn]] void FailCopy(const char* function, HRESULT hr)
{
  LogError("%s error %x", function, static_cast<unsigned>(hr));
  throw new EPictor("Error in TPictor");
}

}  // namespace

IMFSample* TPictor::CreateNewOutputSample(UINT32 width, UINT32 height)
{
  static const char* const kName = "TPictor::CreateNewOutputSample";
  // A missing entry point counts as a failed call: never call through null.
  ComPtr<IMFSample> sample;
  HRESULT hr = pMFRuntime && pMFRuntime->pMFCreateSample ? pMFRuntime->pMFCreateSample(&sample) : E_NOTIMPL;
  if (hr != S_OK) {
    LogError("%s MFCreateSample error %x", kName, static_cast<unsigned>(hr));
    return nullptr;
  }

  const DWORD length = width * height * 4u;  // 32-bit arithmetic, as the buffer size is
  ComPtr<IMFMediaBuffer> buffer;
  // A running capture reuses its session's buffers: the buffer goes back to the pool when
  // the converter releases the sample, so no frame allocates one.
  if (pState && pState->Session)
    hr = pState->Session->OutputPool().GetBuffer(length, &buffer);
  else
    hr = pMFRuntime->pMFCreateMemoryBuffer ? pMFRuntime->pMFCreateMemoryBuffer(length, &buffer) : E_NOTIMPL;
  if (hr != S_OK) {
    LogError("%s MFCreateMemoryBuffer error %x", kName, static_cast<unsigned>(hr));
    return sample.Detach();
  }

  hr = sample->AddBuffer(buffer.Get());
  if (hr != S_OK) LogError("%s AddBuffer error %x", kName, static_cast<unsigned>(hr));
  return sample.Detach();
}

void TPictor::ProcessRGB32Sample(IMFSample* sample, UINT32 width, UINT32 height, bool topDown)
{
  static const char* const kName = "TPictor::ProcessRGB32Sample";
  // Trace lines cost nothing unless the server asks for verbose output.
  const TLogScope scope(kName, TLogScope::TLevel::Trace);

  DWORD totalLength = 0;
  HRESULT hr = sample->GetTotalLength(&totalLength);
  if (hr != S_OK) {
    LogError("%s GetTotalLength error %x", kName, static_cast<unsigned>(hr));
    return;
  }
  if (LogTraceEnabled()) LogVerbose("%s sample length %I64d", kName, static_cast<long long>(totalLength));

  ComPtr<IMFMediaBuffer> buffer;
  hr = sample->GetBufferByIndex(0, &buffer);
  if (hr != S_OK) {
    LogError("%s GetBufferByIndex error %x", kName, static_cast<unsigned>(hr));
    return;
  }

  TScopedBufferLock lock(buffer.Get());
  hr = lock.Lock();
  if (hr != S_OK) {
    LogError("%s Lock error %x", kName, static_cast<unsigned>(hr));
    return;
  }
  if (LogTraceEnabled()) LogVerbose("%s buffer has been locked", kName);

  // The host reads width x height x 4 bytes: a shorter frame (a driver's truncated one)
  // is dropped rather than handed over.
  // Nor is one read past the buffer's end, whatever its current length says.
  const unsigned long long frameBytes = 4ull * width * height;
  const DWORD frameLength = lock.CurrentLength < lock.MaxLength ? lock.CurrentLength : lock.MaxLength;
  if (frameLength < frameBytes) {
    LogError("%s frame of %u bytes is shorter than %ux%u pixels, dropped", kName, static_cast<unsigned>(frameLength),
             width, height);
    return;
  }

  if (pPictorImageReady) {
    if (LogTraceEnabled()) LogVerbose("%s before pPictorImageReady", kName);
    TCaptureSession* session = pState->Session.get();
    if (pPictorImageReady == ExtendedCallbackMarker && session && session->DeliversWithInfo())
      session->DeliverWithInfo(sample, width, height, topDown, lock.Data, pImageReadyContext);
    else
      pPictorImageReady(width, height, topDown, lock.Data, pImageReadyContext);
    pState->Status.FrameDelivered();
    if (LogTraceEnabled()) LogVerbose("%s after pPictorImageReady", kName);
  }

  hr = lock.Unlock();
  if (hr != S_OK) LogError("%s Unlock error %x", kName, static_cast<unsigned>(hr));
}

IMFSample* PictorDuplicateSample(IMFSample* source)
{
  return PictorDuplicateSample(source, nullptr);
}

IMFSample* PictorDuplicateSample(IMFSample* source, TSamplePool* pool)
{
  static const char* const kName = "PictorDuplicateSample";
  LogVerbose("%s", kName);
  if (!source) {
    LogVerbose("%s sample is null", kName);
    return nullptr;
  }

  DWORD flags = 0;
  LONGLONG time = 0;
  LONGLONG duration = 0;
  HRESULT hr = source->GetSampleFlags(&flags);
  if (FAILED(hr)) FailCopy(kName, hr);
  // A camera may leave out the time stamp or the duration: the copy carries what the
  // sample has.
  hr = source->GetSampleTime(&time);
  const bool hasTime = SUCCEEDED(hr);
  if (FAILED(hr) && hr != MF_E_NO_SAMPLE_TIMESTAMP) FailCopy(kName, hr);
  hr = source->GetSampleDuration(&duration);
  const bool hasDuration = SUCCEEDED(hr);
  if (FAILED(hr) && hr != MF_E_NO_SAMPLE_DURATION) FailCopy(kName, hr);

  ComPtr<IMFSample> copy;
  hr = TMFRuntime::CreateSharedSample(&copy);
  if (FAILED(hr)) FailCopy(kName, hr);
  if (FAILED(hr = copy->SetSampleFlags(flags)) || (hasTime && FAILED(hr = copy->SetSampleTime(time))) ||
      (hasDuration && FAILED(hr = copy->SetSampleDuration(duration))))
    FailCopy(kName, hr);

  DWORD count = 0;
  hr = source->GetBufferCount(&count);
  if (FAILED(hr)) FailCopy(kName, hr);
  for (DWORD index = 0; index < count; ++index) {
    ComPtr<IMFMediaBuffer> buffer;
    hr = source->GetBufferByIndex(index, &buffer);
    if (FAILED(hr)) FailCopy(kName, hr);
    ComPtr<IMFMediaBuffer> bufferCopy = AdoptComPtr(PictorDuplicateBuffer(buffer.Get(), pool));
    hr = copy->AddBuffer(bufferCopy.Get());
    if (FAILED(hr)) FailCopy(kName, hr);
  }

  LogVerbose("%s exit", kName);
  return copy.Detach();
}

IMFMediaBuffer* PictorDuplicateBuffer(IMFMediaBuffer* source)
{
  return PictorDuplicateBuffer(source, nullptr);
}

namespace {

// A buffer of `length` bytes for a copy: from the pool when there is one.
ComPtr<IMFMediaBuffer> NewCopyBuffer(DWORD length, TSamplePool* pool, const char* name)
{
  ComPtr<IMFMediaBuffer> copy;
  const HRESULT hr = pool ? pool->GetBuffer(length, &copy) : TMFRuntime::CreateSharedMemoryBuffer(length, &copy);
  if (FAILED(hr)) FailCopy(name, hr);
  return copy;
}

// A 2-D buffer copied through its own contiguous copy, which reads it with Lock2D: a
// plain Lock of a padded 2-D buffer makes a scratch copy on Windows, and crashes on a
// bottom-up one in Wine 8.0. Null when the platform cannot copy it that way and a plain
// Lock is safe (a top-down buffer); throws when neither way is.
ComPtr<IMFMediaBuffer> Duplicate2DBuffer(IMFMediaBuffer* buffer, IMF2DBuffer* source, TSamplePool* pool,
                                         const char* name)
{
  DWORD length = 0;
  DWORD current = 0;
  HRESULT hr = source->GetContiguousLength(&length);
  if (SUCCEEDED(hr)) hr = buffer->GetCurrentLength(&current);
  if (FAILED(hr)) FailCopy(name, hr);
  ComPtr<IMFMediaBuffer> copy = NewCopyBuffer(length, pool, name);
  TScopedBufferLock copyLock(copy.Get());
  if (FAILED(hr = copyLock.Lock())) FailCopy(name, hr);
  hr = source->ContiguousCopyTo(copyLock.Data, length);
  if (SUCCEEDED(hr)) {
    // The copy holds what a plain Lock would give: the contiguous frame, up to the
    // source's current length.
    if (FAILED(hr = copyLock.Unlock()) || FAILED(hr = copy->SetCurrentLength(current < length ? current : length)))
      FailCopy(name, hr);
    return copy;
  }
  // Wine 8.0 lacks ContiguousCopyTo: the row order decides whether Lock may be used.
  BYTE* scanline0 = nullptr;
  LONG pitch = 0;
  const HRESULT lockHr = source->Lock2D(&scanline0, &pitch);
  if (FAILED(lockHr)) FailCopy(name, lockHr);
  source->Unlock2D();
  if (pitch < 0) FailCopy(name, hr);
  return nullptr;
}

}  // namespace

IMFMediaBuffer* PictorDuplicateBuffer(IMFMediaBuffer* source, TSamplePool* pool)
{
  static const char* const kName = "PictorDuplicateBuffer";
  LogVerbose("%s", kName);

  ComPtr<IMF2DBuffer> source2D;
  if (SUCCEEDED(source->QueryInterface(IID_PPV_ARGS(&source2D)))) {
    ComPtr<IMFMediaBuffer> copy = Duplicate2DBuffer(source, source2D.Get(), pool, kName);
    if (copy) {
      LogVerbose("%s exit", kName);
      return copy.Detach();
    }
  }

  TScopedBufferLock sourceLock(source);
  HRESULT hr = sourceLock.Lock();
  if (FAILED(hr)) FailCopy(kName, hr);

  // A driver may report more current bytes than its buffer holds: copy what it holds.
  DWORD length = sourceLock.CurrentLength;
  if (length > sourceLock.MaxLength) {
    if (!pool || pool->FirstLengthFault())
      LogError("%s current length %u is over the buffer's maximum of %u, %u bytes copied", kName,
               static_cast<unsigned>(length), static_cast<unsigned>(sourceLock.MaxLength),
               static_cast<unsigned>(sourceLock.MaxLength));
    length = sourceLock.MaxLength;
  }
  ComPtr<IMFMediaBuffer> copy = NewCopyBuffer(length, pool, kName);

  TScopedBufferLock copyLock(copy.Get());
  hr = copyLock.Lock();
  if (FAILED(hr)) FailCopy(kName, hr);
  if (length) std::memcpy(copyLock.Data, sourceLock.Data, length);

  if (FAILED(hr = copyLock.Unlock()) || FAILED(hr = sourceLock.Unlock())) FailCopy(kName, hr);
  hr = copy->SetCurrentLength(length);
  if (FAILED(hr)) FailCopy(kName, hr);

  LogVerbose("%s exit", kName);
  return copy.Detach();
}
