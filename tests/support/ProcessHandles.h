// The process's open kernel handles, for tests that prove a session leaves none behind.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

namespace pictortest {

// Every handle value the process has open, found by asking about each value in turn.
// Wine 8.0's GetProcessHandleCount reports 0, so this works the same on Windows and Wine.
inline std::vector<uintptr_t> OpenHandles()
{
  std::vector<uintptr_t> handles;
  DWORD flags = 0;
  for (uintptr_t value = 4; value < 0x40000; value += 4)
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) handles.push_back(value);
  return handles;
}

// Handles the platform opens on demand between two counts: Wine's Media Foundation work
// queues start worker threads under load, and their handles come and go with timing.
// Loops that prove nothing leaks run 100 cycles or more, so a handle lost per cycle shows
// far above this.
constexpr size_t kPlatformHandleSlack = 8;

}  // namespace pictortest
