// Capture status: what the current capture is doing, told to the host beyond
// IsCaptureActive. The capture thread marks the end of the stream (with the failing
// result) the moment its read fails; the converter thread counts delivered frames and
// measures the rate; the mailbox counts frames it had to drop. Everything is atomic so
// the host may ask from any thread while the capture runs.
#include "Pictor.h"

#include "capture/CaptureFeatures.h"

#include "log/Log.h"

#include <cstring>

namespace {

long long PerformanceCounter()
{
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

// Asked each time: a guarded function-local static would make the statically linked
// threading runtime keep per-thread records that outlive an unloaded copy of the library.
long long PerformanceFrequency()
{
  LARGE_INTEGER f;
  return QueryPerformanceFrequency(&f) && f.QuadPart > 0 ? f.QuadPart : 1;
}

}  // namespace

TPictorCaptureStatus TPictor::GetCaptureStatus()
{
  TPictorCaptureStatus status;
  status.State = CaptureCounters.State.load();
  status.Error = static_cast<HRESULT>(CaptureCounters.Error.load());
  status.FramesDelivered = CaptureCounters.Delivered.load();
  status.FramesDropped = CaptureCounters.Dropped.load();
  status.FrameRate = CaptureCounters.FrameRate.load();
  return status;
}

bool TPictor::GetCaptureStatusEx(TPictorCaptureStatusEx* status)
{
  if (!status || status->Size < PICTOR_CAPTURE_STATUS_EX_MIN_SIZE) {
    LogError("%s record null or smaller than %d bytes", "TPictor::GetCaptureStatusEx",
             PICTOR_CAPTURE_STATUS_EX_MIN_SIZE);
    return false;
  }
  TPictorCaptureStatusEx now = {};
  const TPictorCaptureStatus plain = GetCaptureStatus();
  now.Size = sizeof now;
  now.State = plain.State;
  now.Error = plain.Error;
  now.FramesDelivered = plain.FramesDelivered;
  now.FramesDropped = plain.FramesDropped;
  now.FrameRate = plain.FrameRate;
  now.Reconnects = pFeatures ? pFeatures->Reconnects.load() : 0;
  // A host built against a later version passes a larger record: its Size stays, the
  // fields this version does not know are left as the host set them.
  const unsigned int size = status->Size < sizeof now ? status->Size : static_cast<unsigned int>(sizeof now);
  now.Size = status->Size;
  std::memcpy(status, &now, size);
  return true;
}

// Before the capture thread exists: counters start from zero.
void TPictor::CaptureStatusStarted()
{
  CaptureCounters.Error = 0;
  CaptureCounters.Delivered = 0;
  CaptureCounters.Dropped = 0;
  CaptureCounters.FrameRate = 0.0;
  CaptureCounters.WindowStart = 0;
  CaptureCounters.WindowFrames = 0;
  if (pFeatures) {
    pFeatures->Stamper = TFrameStamper();
    pFeatures->NextDelivered = 0;
    pFeatures->Reconnects = 0;
    pFeatures->ResumePending = false;
    pFeatures->FailedReopens = 0;
  }
  CaptureCounters.State = PICTOR_CAPTURE_RUNNING;
}

// After a start that the camera refused (in use, blocked, gone): the host reads the
// camera's reason as the end of the capture it asked for.
void TPictor::CaptureStatusStartRefused(HRESULT error)
{
  CaptureCounters.Error = error;
  CaptureCounters.State = PICTOR_CAPTURE_ENDED;
  LogInfo("%s camera refused the start, result %x", "TPictor::GetCaptureStatus", static_cast<unsigned>(error));
}

// Capture thread, leaving its loop without a stop request. Only the first end counts:
// the error recorded where the read failed is not overwritten by the thread's exit.
void TPictor::CaptureStatusEnded(HRESULT error)
{
  if (bStopCapture) return;
  int running = PICTOR_CAPTURE_RUNNING;
  if (CaptureCounters.State.compare_exchange_strong(running, PICTOR_CAPTURE_ENDED)) {
    CaptureCounters.Error = error;
    LogInfo("%s capture ended by the stream, result %x", "TPictor::GetCaptureStatus", static_cast<unsigned>(error));
  }
}

// After StopCapture has joined the threads; counters and rate of the last run stay.
void TPictor::CaptureStatusStopped()
{
  CaptureCounters.State = PICTOR_CAPTURE_IDLE;
  CaptureCounters.Error = 0;
}

// Converter thread, once per frame handed to the host. The rate is measured over
// windows of about a second; the first estimate comes from the first frames so that a
// host asking early sees a figure.
void TPictor::CaptureFrameDelivered()
{
  CaptureCounters.Delivered.fetch_add(1);
  const long long now = PerformanceCounter();
  if (CaptureCounters.WindowStart == 0) {
    CaptureCounters.WindowStart = now;
    CaptureCounters.WindowFrames = 0;
    return;
  }
  const unsigned long long frames = ++CaptureCounters.WindowFrames;
  const long long elapsed = now - CaptureCounters.WindowStart;
  const long long frequency = PerformanceFrequency();
  if (elapsed <= 0) return;
  const double rate = static_cast<double>(frames) * static_cast<double>(frequency) / static_cast<double>(elapsed);
  if (elapsed >= frequency) {
    CaptureCounters.FrameRate = rate;
    CaptureCounters.WindowStart = now;
    CaptureCounters.WindowFrames = 0;
  } else if (CaptureCounters.FrameRate.load() == 0.0 && frames >= 2) {
    CaptureCounters.FrameRate = rate;
  }
}

// Capture thread: a frame read from the camera that never reaches the host.
void TPictor::CaptureFrameDropped()
{
  CaptureCounters.Dropped.fetch_add(1);
}
