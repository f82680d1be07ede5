#include "capture/FPSCalculator.h"

#include <windows.h>

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
