// An in-process log server for test programs. The first use registers the directory of
// the running .exe (and so the library beside it) with a channel of its own, at level 2;
// from then on the library's records are collected and can be inspected exactly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pictortest {

struct CapturedRecord {
  uint32_t kind, processId, moduleNumber, threadId;
  uint64_t time;
  uint8_t suspensionSeen;
  std::string text;
};

class LogCapture {  // process-wide in-process log server for a test program
 public:
  static LogCapture& Get();  // first use registers the .exe's directory with a channel
  void SetLevel(uint8_t level);           // default 2 (verbose on)
  void Clear();                           // forget everything received so far
  std::vector<CapturedRecord> Records();  // everything received since the last Clear
  std::vector<std::string> Lines();       // their texts

  // For the log channel's own tests.
  void SetWritingSuspended(bool suspended);
  // The module number registered for a file in the .exe's directory (e.g. L"Pictor.dll").
  uint32_t ModuleNumber(const std::wstring& fileName);

 private:
  LogCapture();
  struct State;
  State* state;
};

}  // namespace pictortest
