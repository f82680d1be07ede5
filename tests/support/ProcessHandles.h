// The process's open kernel handles, for tests that prove a session leaves none behind.
#pragma once

#include <cstdint>
#include <vector>

namespace pictortest {

// Every handle value the process has open, found by asking about each value in turn.
// Wine 8.0's GetProcessHandleCount reports 0, so this works the same on Windows and Wine.
std::vector<uintptr_t> OpenHandles();

}  // namespace pictortest
