// The server side of the log channel, shared by pictor-logserver.exe and the tests'
// in-process capture: the registration table (create or open, register a directory)
// and one channel (create, set level and suspension, take records out of the ring).
#pragma once

#include "common/Ownership_win.h"
#include "log/LogRecord.h"
#include "log/LogTable.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class TLogServerTableHost {
 public:
  // Opens the registration table, or creates it (empty) when no process has it yet.
  // False with `error` set when that fails.
  bool Open(std::wstring* error);
  // Adds a directory entry ahead of older ones. False when the table is full or corrupt, or
  // another program keeps the registration mutex.
  bool Register(const TLogDirectoryRegistration& entry);
  // Removes the entries of this channel (when the server stops).
  void Unregister(const std::u16string& channel);
  std::vector<TLogDirectoryRegistration> List();

 private:
  TUniqueHandle hMutex;
  TUniqueHandle hMapping;
  TUniqueView view;
};

struct TLogServerRecord {
  TLogRecordFields fields;
  std::string text;
};

class TLogChannelHost {
 public:
  // Creates (or opens) the channel's event, write mutex and 20 MiB buffer. A buffer
  // created here gets a fresh header with `level`; an existing one gets `level` too.
  bool Create(const std::wstring& name, uint8_t level, std::wstring* error);
  void SetLevel(uint8_t level);
  void SetSuspended(bool suspended);
  uint8_t Level() const;
  // Takes every complete record out of the ring and advances the read offset. A
  // corrupt ring is skipped to the write offset and counted.
  std::vector<TLogServerRecord> Drain();
  size_t CorruptCount() const { return corruptCount; }
  size_t MalformedCount() const { return malformedCount; }
  HANDLE ReadyEvent() const { return hEvent.Get(); }
  // The mapped buffer (header first), for tests that set up ring states.
  uint8_t* Buffer() const { return view.Get(); }
  HANDLE WriteMutex() const { return hMutex.Get(); }

 private:
  TUniqueHandle hEvent;
  TUniqueHandle hMutex;
  TUniqueHandle hMapping;
  TUniqueView view;
  // A read offset a drain could not store because another program kept the write mutex.
  std::optional<uint32_t> pendingReadOffset;
  size_t corruptCount = 0;
  size_t malformedCount = 0;
};

// "Z:\dir\" form of the directory of `path` (with a trailing backslash), and the list of
// *.dll and *.exe files in a directory, numbered from 1 in name order.
std::wstring LogServerDirectoryOf(const std::wstring& path);
std::vector<TLogModuleRegistration> LogServerModulesIn(const std::wstring& directory);

std::u16string ToU16(const std::wstring& text);
std::wstring FromU16(const std::u16string& text);
