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

class LogCapture {
 public:
  static LogCapture& Get();
  void SetLevel(uint8_t level);  // default 2 (verbose on)
  void SetWritingSuspended(bool suspended);
  void Clear();                           // forget everything received so far
  std::vector<CapturedRecord> Records();  // everything received since the last Clear
  std::vector<std::string> Lines();       // their texts

 private:
  LogCapture();
  struct State;
  State* state;
};

}  // namespace pictortest
