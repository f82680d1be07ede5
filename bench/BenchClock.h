// The Windows benchmarks' clock: seconds on the performance counter.
#pragma once

#include <windows.h>

inline double BenchSeconds()
{
  static const LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return double(counter.QuadPart) / double(frequency.QuadPart);
}
