// Entry and exit lines of a function, written the same way everywhere (Windows).
#pragma once

#include "log/Log.h"

#include <windows.h>

// Writes a function's entry line "<name>" when made and its exit line when the scope
// ends, however it ends: "<name> exit", or "<name> exit with <n>" once Returns() has
// given the result. Exit() writes the exit line at once, for a function whose teardown
// must come after it (a destructor that deletes the lock the log may wait behind).
//   Info:    both lines as ordinary records;
//   Verbose: both as verbose records;
//   Trace:   both as verbose records, and only when LogTraceEnabled() at entry.
class TLogScope {
 public:
  enum class TLevel { Info, Verbose, Trace };

  explicit TLogScope(const char* name, TLevel level = TLevel::Info)
      : name(name), info(level == TLevel::Info), armed(level != TLevel::Trace || LogTraceEnabled())
  {
    if (armed && info)
      LogInfo("%s", name);
    else if (armed)
      LogVerbose("%s", name);
  }
  ~TLogScope() { Exit(); }
  TLogScope(const TLogScope&) = delete;
  TLogScope& operator=(const TLogScope&) = delete;

  // Records the result for the exit line and passes it on: `return scope.Returns(ok);`.
  // A bool is reported as 1 or 0.
  template <typename T>
  T Returns(T value)
  {
    result = static_cast<int>(value);
    hasResult = true;
    return value;
  }

  void Exit()
  {
    if (!armed) return;
    armed = false;
    if (hasResult && info)
      LogInfo("%s exit with %d", name, result);
    else if (hasResult)
      LogVerbose("%s exit with %d", name, result);
    else if (info)
      LogInfo("%s exit", name);
    else
      LogVerbose("%s exit", name);
  }

 private:
  const char* name;
  bool info;
  bool armed;
  bool hasResult = false;
  int result = 0;
};
