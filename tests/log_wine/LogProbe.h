// pictor-log-probe.dll: the library's log client and front end in a DLL of their own,
// with C exports a test can call through GetProcAddress. Loading a copy of it from
// another directory gives a second, independent client, as a second copy of the
// library would.
#pragma once

#include <cstdint>

struct TLogProbeState {
  uint32_t formatBufferSize;
  uint32_t recordBufferSize;
  uint32_t moduleNumber;
  uint32_t processId;
  uint8_t tableMapped;
  uint8_t channelMapped;
  uint8_t connectionAttempted;
  uint8_t suspensionSeen;
  uint8_t loggingEnabled;
};

using TProbeLog = void (*)(const char* format, ...);
using TProbeGetLogLevel = int (*)();
using TProbeGetState = void (*)(TLogProbeState* state);
