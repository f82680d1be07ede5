// The client side of the shared-memory log channel (Windows). One process-wide
// TLogClient is constructed while the library loads and torn down while it unloads;
// the front end (log/Log.h) admits, formats and packs messages and hands each record
// to WriteRecord. Declared here for the front end and for white-box tests.
#pragma once

#include "common/Ownership_win.h"
#include "log/LogObjects.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

class TLogClient {
 public:
  // Load-time construction: module path, server mutex and table, process id, module
  // number; sets the logging-enabled flag last.
  void Construct();
  // Unload: clears the enabled flag first, then releases everything obtained.
  void Teardown();

  // False only while no channel name is known; true once an attempt has been made.
  bool Connect();
  // Copies one complete record (first u32 = its size) into the ring or drops it.
  void WriteRecord(const uint8_t* record);

  // What the registration table's entry for this module's directory says: the channel
  // name (empty for none) and this module's number (0 for none).
  std::wstring LookupChannelName();
  uint32_t LookupModuleNumber();

  // The mapped channel header, null while not connected.
  uint8_t* Channel() const { return pChannel.load(std::memory_order_acquire); }

  // Front-end state (log/Log_win.cpp).
  TUniqueHandle hServerMutex;
  TUniqueHandle hServerTableMapping;
  TUniqueView ServerTable;
  TUniqueHandle hChannelMutex;
  TUniqueHandle hChannelMapping;
  TUniqueHandle hLogReadyEvent;
  // The channel's view, and the pointer to it that writers read without a lock.
  TUniqueView ChannelView;
  std::atomic<uint8_t*> pChannel{nullptr};
  uint8_t* pRecordBuffer = nullptr;
  uint32_t dwRecordBufferSize = 0;
  char* pFormatBuffer = nullptr;
  uint32_t dwFormatBufferSize = 0;
  CRITICAL_SECTION LogLock;
  std::atomic<uint8_t> SuspensionSeen{0};
  uint32_t dwProcessId = 0;
  uint32_t dwModuleNumber = 0;
  std::atomic<bool> bConnectionAttempted{false};
  std::wstring ChannelName;
  // This module's path and directory, found once at start-up: asking the loader while
  // the server mutex is held deadlocks against a copy of the library being loaded (the
  // loader lock held, its start-up waiting for the mutex).
  wchar_t ModulePath[1024] = {};
  size_t ModulePathLength = 0;
  wchar_t ModuleDirectory[1024] = {};
  size_t ModuleDirectoryLength = 0;

 private:
  // Serialises first connection attempts of concurrent threads. Never held together
  // with the log lock: connecting takes the server and channel mutexes outside it.
  CRITICAL_SECTION ConnectLock;
  bool bLocksInitialised = false;
  void ConnectOnce();
  // Calls read(entry offset) for the table entry that matches the module's directory,
  // with the server mutex held around the search and the read; not at all without a
  // table or a match. Running out of memory while reading counts as no match.
  template <typename Read>
  void ReadDirectoryEntry(Read read);
};

// The process-wide client, and the flag every log entry point tests first.
TLogClient& LogClient();
extern std::atomic<bool> g_bLoggingEnabled;

// Path of the module this code is linked into (the DLL, or a test program that links
// the library's objects), or its directory with a trailing backslash. Returns the
// length in characters; 0 when it cannot be found.
size_t GetModulePath(bool directoryOnly, wchar_t* buffer, size_t bufferChars);
