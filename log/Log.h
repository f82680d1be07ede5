// Logging front end. Every operation of the library writes its diagnostic lines
// through these four functions; the lines travel as records through the shared-memory
// channel to the log server. Without a server they cost a flag test and go nowhere.
//
// Caller convention: the format starts with "%s" and the first argument is the
// qualified name of the calling function, e.g.
//   LogInfo("%s exit with %d", "TPictor::GetWebCamerasCount", count);
// The formatter is the Windows C runtime's: "%S" takes a wide string, "%I64d" a
// 64-bit integer, HRESULTs go in with "%x".
#pragma once

#include "PictorConfig.h"

#include <cstdarg>

void LogInfo(const char* format, ...) PICTOR_PRINTF_FORMAT(1, 2);
void LogVerbose(const char* format, ...) PICTOR_PRINTF_FORMAT(1, 2);
void LogError(const char* format, ...) PICTOR_PRINTF_FORMAT(1, 2);

// The same with the caller's argument list.
void LogInfoV(const char* format, va_list args);
void LogVerboseV(const char* format, va_list args);
void LogErrorV(const char* format, va_list args);

// The level byte the log server keeps in the channel header, 0 while no channel is
// mapped.
int GetLogLevel();
// True while that level is exactly 2: work that only serves trace output (frame-rate
// measurement, per-frame lines) runs only then; level 3 keeps the verbose lines without it.
bool LogTraceEnabled();
