#include "media/FPSCalculator.h"

#include <windows.h>

#include "log/Log.h"

namespace {

bool QueryFrequency(int64_t* frequency)
{
  LARGE_INTEGER value;
  if (!QueryPerformanceFrequency(&value)) return false;
  *frequency = value.QuadPart;
  return true;
}

bool QueryCounter(int64_t* counter)
{
  LARGE_INTEGER value;
  if (!QueryPerformanceCounter(&value)) return false;
  *counter = value.QuadPart;
  return true;
}

uint32_t TickCount()
{
  return GetTickCount();
}

const TFPSClock kPlatformClock = {QueryFrequency, QueryCounter, TickCount};

}  // namespace

const TFPSClock& PlatformFPSClock()
{
  return kPlatformClock;
}

TFPSCalculator::TFPSCalculator() : TFPSCalculator(kPlatformClock) {}

void LogFrameRate(const char* name, TFPSCalculator* meter, unsigned long& lastLineTick)
{
  // The measurement only serves this line: nothing is measured below trace level.
  if (!meter || !LogTraceEnabled()) return;
  if (lastLineTick == 0) lastLineTick = GetTickCount();
  meter->Update();
  if (!meter->HasValue || static_cast<DWORD>(GetTickCount() - lastLineTick) <= 5000) return;
  lastLineTick = GetTickCount();
  LogVerbose("%s WebCam FPS is %f", name, meter->FPS);
}
