// The client side of the shared-memory log channel (Windows). One process-wide
// TLogClient is constructed while the library loads and torn down while it unloads;
// the front end (log/Log.h) admits, formats and packs messages and hands each record
// to WriteRecord. Declared here for the front end and for white-box tests.
#pragma once

#include "common/Ownership_win.h"
#include "log/LogObjects.h"
#include "log/LogRecord.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

class TLogClient {
 public:
  // The longest a record waits for a mutex of the channel before it is dropped. Another
  // process can take those mutexes and keep them: a host never waits on the log longer.
  static constexpr DWORD kChannelWaitMilliseconds = 5;

  // Load-time construction: module path, server mutex and table, process id; sets the
  // logging-enabled flag last. It waits for nothing (the loader lock is held): the
  // registration table is first read for the first record.
  void Construct();
  // Unload: clears the enabled flag first, then releases everything obtained.
  void Teardown();

  // False only while no channel name is known; true once an attempt has been made.
  bool Connect();
  // Copies one complete record (first u32 = its size) into the ring or drops it. When
  // records were dropped because the channel was busy, a line saying how many goes
  // ahead of it, made with the record's own fields.
  void WriteRecord(const uint8_t* record, const TLogRecordFields& fields);

  // Reads the registration table's entry for this module's directory: the channel name
  // (stays empty for none) and, the first time the table could be read, this module's
  // number (0 for none).
  void LookUpRegistration();

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
  bool bModuleNumberRead = false;
  std::atomic<bool> bConnectionAttempted{false};
  // Records dropped because a mutex of the channel stayed held, not yet reported. After
  // a wait ran out the next ones only try the mutex, until one gets it: a mutex held for
  // good costs a record no wait at all.
  std::atomic<uint32_t> dwBusyDrops{0};
  std::atomic<bool> bChannelBusy{false};
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
  friend class TChannelMutexHold;
  void ConnectOnce();
};

// The process-wide client, and the flag every log entry point tests first.
TLogClient& LogClient();
extern std::atomic<bool> g_bLoggingEnabled;

// Path of the module this code is linked into (the DLL, or a test program that links
// the library's objects), or its directory with a trailing backslash. Returns the
// length in characters; 0 when it cannot be found.
size_t GetModulePath(bool directoryOnly, wchar_t* buffer, size_t bufferChars);
