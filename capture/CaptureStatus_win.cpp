// Capture status (see CaptureStatus.h), and TPictor's operations that read it.
#include "capture/CaptureStatus.h"

#include "capture/PictorState.h"
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

const char kName[] = "TPictor::GetCaptureStatus";

}  // namespace

void TCaptureStatus::Started()
{
  Error = 0;
  Delivered = 0;
  Dropped = 0;
  FrameRate = 0.0;
  Reconnects = 0;
  WindowStart = 0;
  WindowFrames = 0;
  State = PICTOR_CAPTURE_RUNNING;
}

void TCaptureStatus::StartRefused(HRESULT error)
{
  Error = error;
  State = PICTOR_CAPTURE_ENDED;
  LogInfo("%s camera refused the start, result %x", kName, static_cast<unsigned>(error));
}

void TCaptureStatus::Ended(HRESULT error)
{
  int running = PICTOR_CAPTURE_RUNNING;
  int waiting = PICTOR_CAPTURE_RECONNECTING;
  if (State.compare_exchange_strong(running, PICTOR_CAPTURE_ENDED) ||
      State.compare_exchange_strong(waiting, PICTOR_CAPTURE_ENDED)) {
    Error = error;
    LogInfo("%s capture ended by the stream, result %x", kName, static_cast<unsigned>(error));
  }
}

void TCaptureStatus::Stopped()
{
  State = PICTOR_CAPTURE_IDLE;
  Error = 0;
}

bool TCaptureStatus::Reconnecting(HRESULT loss, bool waitingAgain, bool* again)
{
  int state = State.load();
  if (state != PICTOR_CAPTURE_RUNNING && !(state == PICTOR_CAPTURE_RECONNECTING && waitingAgain)) return false;
  *again = state == PICTOR_CAPTURE_RECONNECTING;
  if (!State.compare_exchange_strong(state, PICTOR_CAPTURE_RECONNECTING)) return false;
  Error = loss;
  return true;
}

void TCaptureStatus::Resumed()
{
  Reconnects.fetch_add(1);
  Error = 0;
  int waiting = PICTOR_CAPTURE_RECONNECTING;
  State.compare_exchange_strong(waiting, PICTOR_CAPTURE_RUNNING);
}

// The rate is measured over windows of about a second; the first estimate comes from the
// first frames so that a host asking early sees a figure.
void TCaptureStatus::FrameDelivered()
{
  Delivered.fetch_add(1);
  const long long now = PerformanceCounter();
  if (WindowStart == 0) {
    WindowStart = now;
    WindowFrames = 0;
    return;
  }
  const unsigned long long frames = ++WindowFrames;
  const long long elapsed = now - WindowStart.load();
  const long long frequency = PerformanceFrequency();
  if (elapsed <= 0) return;
  const double rate = static_cast<double>(frames) * static_cast<double>(frequency) / static_cast<double>(elapsed);
  if (elapsed >= frequency) {
    FrameRate = rate;
    WindowStart = now;
    WindowFrames = 0;
  } else if (FrameRate.load() == 0.0 && frames >= 2) {
    FrameRate = rate;
  }
}

// The rate is published when a frame closes a window of a second or more, so without frames
// (a stalled or lost camera) it would stay as it was. A window still open after more than a
// second counts as closed now: the rate falls as time passes without frames.
double TCaptureStatus::RateSoFar() const
{
  const double published = FrameRate.load();
  // The converter moves the start before it clears the count: the same start read on both
  // sides of the count means the count is that window's.
  const long long start = WindowStart.load();
  const unsigned long long frames = WindowFrames.load();
  if (start == 0 || WindowStart.load() != start) return published;
  const long long open = PerformanceCounter() - start;
  const long long frequency = PerformanceFrequency();
  if (open <= frequency) return published;
  const double rate = static_cast<double>(frames) * static_cast<double>(frequency) / static_cast<double>(open);
  return rate < published ? rate : published;
}

TPictorCaptureStatus TCaptureStatus::Read() const
{
  TPictorCaptureStatus status;
  status.State = State.load();
  status.Error = static_cast<HRESULT>(Error.load());
  status.FramesDelivered = Delivered.load();
  status.FramesDropped = Dropped.load();
  // Once stopped or ended, the last run's rate stays.
  const bool live = status.State == PICTOR_CAPTURE_RUNNING || status.State == PICTOR_CAPTURE_RECONNECTING;
  status.FrameRate = live ? RateSoFar() : FrameRate.load();
  return status;
}

TPictorCaptureStatus TPictor::GetCaptureStatus()
{
  if (!pState) return TPictorCaptureStatus();
  return pState->Status.Read();
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
  now.Reconnects = pState ? pState->Status.ReconnectCount() : 0;
  // A host built against a later version passes a larger record: its Size stays, the
  // fields this version does not know are left as the host set them.
  const unsigned int size = status->Size < sizeof now ? status->Size : static_cast<unsigned int>(sizeof now);
  now.Size = status->Size;
  std::memcpy(status, &now, size);
  return true;
}
