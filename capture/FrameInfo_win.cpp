// Frame information: the capture thread numbers every frame it reads and notes its times;
// the record rides on the frame's copy through the converter and reaches the host's
// StartCaptureEx callback together with the count of frames dropped since the last one.
#include "capture/FrameInfo.h"

#include "capture/PictorState.h"
#include "capture/Session.h"
#include "log/Log.h"
#include "log/LogTrace.h"

#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>

#include <cstring>

namespace {

// {6A1C0E54-9B2F-4D38-8E17-3F5B2C9D0A61}: the private sample attribute holding the record.
const GUID kFrameInfoKey = {0x6a1c0e54, 0x9b2f, 0x4d38, {0x8e, 0x17, 0x3f, 0x5b, 0x2c, 0x9d, 0x0a, 0x61}};
// MFSampleExtension_DeviceTimestamp {8F3E35E7-2DCD-4887-8622-2A58BAA652B0} (UINT64, 100 ns,
// performance-counter time base); mingw-w64's headers lack it.
const GUID kDeviceTimestampKey = {0x8f3e35e7, 0x2dcd, 0x4887, {0x86, 0x22, 0x2a, 0x58, 0xba, 0xa6, 0x52, 0xb0}};

}  // namespace

bool ExtendedCallbackMarker(unsigned int, unsigned int, bool, unsigned char*, void*)
{
  return false;
}

long long PerformanceCounterIn100ns()
{
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0) return 0;
  const long long c = counter.QuadPart, f = frequency.QuadPart;
  return c / f * 10000000LL + c % f * 10000000LL / f;
}

bool AttachFrameInfo(IMFSample* sample, const TPictorFrameInfo& info)
{
  return sample && SUCCEEDED(sample->SetBlob(kFrameInfoKey, reinterpret_cast<const UINT8*>(&info), sizeof info));
}

bool ReadFrameInfo(IMFSample* sample, TPictorFrameInfo* info)
{
  std::memset(info, 0, sizeof *info);
  UINT32 size = 0;
  return sample && SUCCEEDED(sample->GetBlob(kFrameInfoKey, reinterpret_cast<UINT8*>(info), sizeof *info, &size)) &&
         size == sizeof *info;
}

TPictorFrameInfo TFrameStamper::Stamp(IMFSample* sample)
{
  TPictorFrameInfo info = {};
  info.ReadTime = PerformanceCounterIn100ns();
  info.Sequence = NextSequence++;
  // The stream's time counts from its first frame: a camera's stamps may start anywhere.
  LONGLONG time = 0;
  const bool stamped = SUCCEEDED(sample->GetSampleTime(&time));
  const long long camera = stamped ? time : info.ReadTime;
  if (!bHaveBase) {
    BaseSampleTime = camera;
    bHaveBase = true;
  } else if (bRebase) {
    // Not the read time since the first frame: a camera whose stamps ran ahead of the read
    // clock (an unpaced one) would go back by as much.
    const long long gap = info.ReadTime - LastReadTime;
    BaseSampleTime = camera - (LastSampleTime + (gap > 0 ? gap : 1));
    bRebase = false;
  }
  info.SampleTime = camera - BaseSampleTime;
  LastSampleTime = info.SampleTime;
  LastReadTime = info.ReadTime;
  UINT64 deviceTime = 0;
  if (SUCCEEDED(sample->GetUINT64(kDeviceTimestampKey, &deviceTime)))
    info.DeviceTime = static_cast<long long>(deviceTime);
  return info;
}

bool TPictor::StartCaptureEx(const wchar_t* symbolicLink, int formatIndex, bool topDown, TImageReadyCallbackEx callback,
                             void* context)
{
  static const char* const kName = "TPictor::StartCaptureEx";
  TLogScope scope(kName);
  if (StateMissing(pState, kName)) return scope.Returns(false);
  const TSessionHold session(pState);
  // The extended callback is read by the converter thread: it changes only while no
  // capture runs.
  if (hCaptureThread || pMFVideoConverter) StopCapture();
  if (hCaptureThread || pMFVideoConverter) return scope.Returns(false);  // from the frame callback: refused
  pState->PendingImageReadyEx = callback;
  return scope.Returns(
      StartCapture(symbolicLink, formatIndex, topDown, callback ? ExtendedCallbackMarker : nullptr, context));
}

void TCaptureSession::DeliverWithInfo(IMFSample* sample, unsigned int width, unsigned int height, bool topDown,
                                      unsigned char* pixels, void* context)
{
  PICTOR_DCHECK_THREAD(OnConvertThread);
  TPictorFrameInfo info;
  if (!ReadFrameInfo(sample, &info)) info.Sequence = NextDelivered;
  info.DroppedBefore = info.Sequence >= NextDelivered ? info.Sequence - NextDelivered : 0;
  NextDelivered = info.Sequence + 1;
  ImageReadyEx(&info, width, height, topDown, pixels, context);
}
