// Frame delivery to the host and the sample copies of the capture thread.
#include "capture/FrameDelivery.h"

#include "Pictor.h"
#include "capture/MFRuntime.h"
#include "log/Log.h"
#include "capture/ComAdopt.h"

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
    if (Locked)
      Buffer->Unlock();
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

// When armed, writes "<name> exit" as the scope ends, whichever way it ends.
class TVerboseExitTrace {
 public:
  TVerboseExitTrace(const char* name, bool armed) : Name(name), Armed(armed) {}
  ~TVerboseExitTrace()
  {
    if (Armed)
      LogVerbose("%s exit", Name);
  }
  TVerboseExitTrace(const TVerboseExitTrace&) = delete;
  TVerboseExitTrace& operator=(const TVerboseExitTrace&) = delete;

 private:
  const char* Name;
  bool Armed;
};

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
  hr = pMFRuntime->pMFCreateMemoryBuffer ? pMFRuntime->pMFCreateMemoryBuffer(length, &buffer) : E_NOTIMPL;
  if (hr != S_OK) {
    LogError("%s MFCreateMemoryBuffer error %x", kName, static_cast<unsigned>(hr));
    return sample.Detach();
  }

  hr = sample->AddBuffer(buffer.Get());
  if (hr != S_OK)
    LogError("%s AddBuffer error %x", kName, static_cast<unsigned>(hr));
  return sample.Detach();
}

void TPictor::ProcessRGB32Sample(IMFSample* sample, UINT32 width, UINT32 height, bool topDown)
{
  static const char* const kName = "TPictor::ProcessRGB32Sample";
  // Trace lines cost nothing unless the server asks for verbose output.
  const bool trace = GetLogLevel() == 2;
  if (trace)
    LogVerbose("%s", kName);
  const TVerboseExitTrace exitTrace(kName, trace);

  DWORD totalLength = 0;
  HRESULT hr = sample->GetTotalLength(&totalLength);
  if (hr != S_OK) {
    LogError("%s GetTotalLength error %x", kName, static_cast<unsigned>(hr));
    return;
  }
  if (GetLogLevel() == 2)
    LogVerbose("%s sample length %I64d", kName, static_cast<long long>(totalLength));

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
  if (GetLogLevel() == 2)
    LogVerbose("%s buffer has been locked", kName);

  // The host reads width x height x 4 bytes: a shorter frame (a driver's truncated one)
  // is dropped rather than handed over.
  const unsigned long long frameBytes = 4ull * width * height;
  if (lock.CurrentLength < frameBytes) {
    LogError("%s frame of %u bytes is shorter than %ux%u pixels, dropped", kName,
             static_cast<unsigned>(lock.CurrentLength), width, height);
    return;
  }

  if (pPictorImageReady) {
    if (GetLogLevel() == 2)
      LogVerbose("%s before pPictorImageReady", kName);
    pPictorImageReady(width, height, topDown, lock.Data, pImageReadyContext);
    CaptureFrameDelivered();
    if (GetLogLevel() == 2)
      LogVerbose("%s after pPictorImageReady", kName);
  }

  hr = lock.Unlock();
  if (hr != S_OK)
    LogError("%s Unlock error %x", kName, static_cast<unsigned>(hr));
}

IMFSample* PictorDuplicateSample(IMFSample* source)
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
  if (FAILED(hr))
    FailCopy(kName, hr);
  // A camera may leave out the time stamp or the duration: the copy carries what the
  // sample has.
  hr = source->GetSampleTime(&time);
  const bool hasTime = SUCCEEDED(hr);
  if (FAILED(hr) && hr != MF_E_NO_SAMPLE_TIMESTAMP)
    FailCopy(kName, hr);
  hr = source->GetSampleDuration(&duration);
  const bool hasDuration = SUCCEEDED(hr);
  if (FAILED(hr) && hr != MF_E_NO_SAMPLE_DURATION)
    FailCopy(kName, hr);

  ComPtr<IMFSample> copy;
  hr = MFCreateSample(&copy);
  if (FAILED(hr))
    FailCopy(kName, hr);
  if (FAILED(hr = copy->SetSampleFlags(flags)) || (hasTime && FAILED(hr = copy->SetSampleTime(time))) ||
      (hasDuration && FAILED(hr = copy->SetSampleDuration(duration))))
    FailCopy(kName, hr);

  DWORD count = 0;
  hr = source->GetBufferCount(&count);
  if (FAILED(hr))
    FailCopy(kName, hr);
  for (DWORD index = 0; index < count; ++index) {
    ComPtr<IMFMediaBuffer> buffer;
    hr = source->GetBufferByIndex(index, &buffer);
    if (FAILED(hr))
      FailCopy(kName, hr);
    ComPtr<IMFMediaBuffer> bufferCopy = AdoptComPtr(PictorDuplicateBuffer(buffer.Get()));
    hr = copy->AddBuffer(bufferCopy.Get());
    if (FAILED(hr))
      FailCopy(kName, hr);
  }

  LogVerbose("%s exit", kName);
  return copy.Detach();
}

IMFMediaBuffer* PictorDuplicateBuffer(IMFMediaBuffer* source)
{
  static const char* const kName = "PictorDuplicateBuffer";
  LogVerbose("%s", kName);

  TScopedBufferLock sourceLock(source);
  HRESULT hr = sourceLock.Lock();
  if (FAILED(hr))
    FailCopy(kName, hr);

  ComPtr<IMFMediaBuffer> copy;
  const DWORD length = sourceLock.CurrentLength;
  hr = MFCreateMemoryBuffer(length, &copy);
  if (FAILED(hr))
    FailCopy(kName, hr);

  TScopedBufferLock copyLock(copy.Get());
  hr = copyLock.Lock();
  if (FAILED(hr))
    FailCopy(kName, hr);
  if (length)
    std::memcpy(copyLock.Data, sourceLock.Data, length);

  if (FAILED(hr = copyLock.Unlock()) || FAILED(hr = sourceLock.Unlock()))
    FailCopy(kName, hr);
  hr = copy->SetCurrentLength(length);
  if (FAILED(hr))
    FailCopy(kName, hr);

  LogVerbose("%s exit", kName);
  return copy.Detach();
}
