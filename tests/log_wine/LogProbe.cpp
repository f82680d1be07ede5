#include "LogProbe.h"

#include "log/Log.h"
#include "log/LogClient.h"

#define PROBE_LOG(name, call)                                         \
  extern "C" __declspec(dllexport) void name(const char* format, ...) \
  {                                                                   \
    va_list args;                                                     \
    va_start(args, format);                                           \
    call(format, args);                                               \
    va_end(args);                                                     \
  }

PROBE_LOG(ProbeLogInfo, LogInfoV)
PROBE_LOG(ProbeLogVerbose, LogVerboseV)
PROBE_LOG(ProbeLogError, LogErrorV)

extern "C" __declspec(dllexport) int ProbeGetLogLevel()
{
  return GetLogLevel();
}

extern "C" __declspec(dllexport) void ProbeGetState(TLogProbeState* state)
{
  const TLogClient& client = LogClient();
  *state = {client.Channel() != nullptr, client.bConnectionAttempted.load(), bool(client.ServerTable)};
}
