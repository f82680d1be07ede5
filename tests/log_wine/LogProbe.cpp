#include "LogProbe.h"

#include "log/Log.h"
#include "log/LogClient.h"

extern "C" {

void ProbeLogInfo(const char* format, ...)
{
  va_list args;
  va_start(args, format);
  LogInfoV(format, args);
  va_end(args);
}

void ProbeLogVerbose(const char* format, ...)
{
  va_list args;
  va_start(args, format);
  LogVerboseV(format, args);
  va_end(args);
}

void ProbeLogError(const char* format, ...)
{
  va_list args;
  va_start(args, format);
  LogErrorV(format, args);
  va_end(args);
}

int ProbeGetLogLevel()
{
  return GetLogLevel();
}

void ProbeGetState(TLogProbeState* state)
{
  const TLogClient& client = LogClient();
  state->formatBufferSize = client.dwFormatBufferSize;
  state->recordBufferSize = client.dwRecordBufferSize;
  state->moduleNumber = client.dwModuleNumber;
  state->processId = client.dwProcessId;
  state->tableMapped = client.pServerTable != nullptr;
  state->channelMapped = client.Channel() != nullptr;
  state->connectionAttempted = client.bConnectionAttempted.load();
  state->suspensionSeen = client.SuspensionSeen.load();
  state->loggingEnabled = g_bLoggingEnabled.load();
}

}  // extern "C"
