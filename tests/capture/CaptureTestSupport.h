// What only the capture tests need beyond tests/support/HostTest.h.
#pragma once

#include "tests/support/HostTest.h"

#include <psapi.h>

namespace capturetest {

using namespace pictortest;

// Committed private memory of this process.
inline SIZE_T PrivateBytes()
{
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
  // Wine 8.0 reports no private usage; its page-file usage counts the same memory.
  return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

}  // namespace capturetest
