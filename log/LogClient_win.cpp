#include "log/LogClient.h"

#include "log/LogRecord.h"
#include "log/LogRing.h"
#include "log/LogTable.h"

#include <shlwapi.h>

#include <cstring>
#include <string_view>

std::atomic<bool> g_bLoggingEnabled{false};

namespace {

TLogClient g_LogClient;

// Builds the client while the library loads and tears it down while it unloads: the
// C++ runtime runs this constructor before the entry point sees process attach, and
// the destructor after it has seen process detach.
struct TLogClientLifetime {
  TLogClientLifetime() { g_LogClient.Construct(); }
  ~TLogClientLifetime() { g_LogClient.Teardown(); }
} g_LogClientLifetime;

std::u16string_view AsU16(const wchar_t* text, size_t length)
{
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide strings are UTF-16");
  return {reinterpret_cast<const char16_t*>(text), length};
}

void CloseIfOpen(HANDLE& handle)
{
  if (handle) {
    CloseHandle(handle);
    handle = nullptr;
  }
}

}  // namespace

TLogClient& LogClient()
{
  return g_LogClient;
}

size_t GetModulePath(bool directoryOnly, wchar_t* buffer, size_t bufferChars)
{
  if (!buffer || bufferChars == 0)
    return 0;
  buffer[0] = 0;
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&GetModulePath), &module))
    return 0;
  wchar_t fileName[MAX_PATH] = {};
  wchar_t fullPath[MAX_PATH] = {};
  const DWORD nameLength = GetModuleFileNameW(module, fileName, MAX_PATH);
  if (nameLength == 0 || nameLength >= MAX_PATH)
    return 0;
  const DWORD fullLength = GetFullPathNameW(fileName, MAX_PATH, fullPath, nullptr);
  if (fullLength == 0 || fullLength >= MAX_PATH)
    return 0;
  if (directoryOnly) {
    PathRemoveFileSpecW(fullPath);
    const size_t length = wcslen(fullPath);
    if (length > 0 && fullPath[length - 1] != L'\\' && length + 1 < MAX_PATH) {
      fullPath[length] = L'\\';
      fullPath[length + 1] = 0;
    }
  }
  size_t length = wcslen(fullPath);
  if (length >= bufferChars)
    length = bufferChars - 1;
  std::memcpy(buffer, fullPath, length * sizeof(wchar_t));
  buffer[length] = 0;
  return length;
}

void TLogClient::Construct()
{
  InitializeCriticalSection(&LogLock);
  InitializeCriticalSection(&ConnectLock);
  bLocksInitialised = true;
  // Before the server mutex is taken, here and in every later lookup (see ModulePath).
  ModulePathLength = GetModulePath(false, ModulePath, 1024);
  ModuleDirectoryLength = GetModulePath(true, ModuleDirectory, 1024);

  {
    TLogSecurity security;
    hServerMutex = OpenMutexW(SYNCHRONIZE, FALSE, PICTOR_LOG_SERVER_MUTEX_NAME);
    if (!hServerMutex)
      hServerMutex = CreateMutexW(security.Attributes(), FALSE, PICTOR_LOG_SERVER_MUTEX_NAME);
    if (hServerMutex) {
      const bool owned = LogWaitOwned(hServerMutex);
      DWORD createError = ERROR_ALREADY_EXISTS;
      hServerTableMapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, PICTOR_LOG_SERVER_TABLE_NAME);
      if (!hServerTableMapping) {
        hServerTableMapping = CreateFileMappingW(INVALID_HANDLE_VALUE, security.Attributes(),
                                                 PAGE_READWRITE | SEC_COMMIT, 0, kLogServerTableSize,
                                                 PICTOR_LOG_SERVER_TABLE_NAME);
        createError = GetLastError();
      }
      if (hServerTableMapping) {
        pServerTable = static_cast<uint8_t*>(
            MapViewOfFile(hServerTableMapping, FILE_MAP_ALL_ACCESS, 0, 0, kLogServerTableSize));
        // A table this process brought into being starts with no entries.
        if (pServerTable && createError != ERROR_ALREADY_EXISTS)
          std::memset(pServerTable, 0, 4);
      }
      if (owned)
        ReleaseMutex(hServerMutex);
    }
  }

  dwProcessId = GetCurrentProcessId();
  dwModuleNumber = LookupModuleNumber();
  g_bLoggingEnabled.store(true, std::memory_order_release);
}

void TLogClient::Teardown()
{
  g_bLoggingEnabled.store(false, std::memory_order_release);

  if (uint8_t* channel = pChannel.exchange(nullptr))
    UnmapViewOfFile(channel);
  CloseIfOpen(hChannelMapping);
  CloseIfOpen(hChannelMutex);
  if (bLocksInitialised) {
    DeleteCriticalSection(&LogLock);
    DeleteCriticalSection(&ConnectLock);
    bLocksInitialised = false;
  }
  CloseIfOpen(hLogReadyEvent);
  if (pRecordBuffer)
    VirtualFree(pRecordBuffer, 0, MEM_RELEASE);
  pRecordBuffer = nullptr;
  dwRecordBufferSize = 0;
  if (pFormatBuffer)
    VirtualFree(pFormatBuffer, 0, MEM_RELEASE);
  pFormatBuffer = nullptr;
  dwFormatBufferSize = 0;
  if (pServerTable)
    UnmapViewOfFile(pServerTable);
  pServerTable = nullptr;
  CloseIfOpen(hServerTableMapping);
  CloseIfOpen(hServerMutex);
  ChannelName.clear();
  ChannelName.shrink_to_fit();
  bConnectionAttempted.store(false);
}

size_t TLogClient::FindDirectoryEntry()
{
  if (!pServerTable || !LogWaitOwned(hServerMutex))
    return 0;
  std::optional<size_t> entry;
  try {
    entry = FindLogDirectoryEntry(pServerTable, kLogServerTableSize, AsU16(ModuleDirectory, ModuleDirectoryLength));
  } catch (...) {
    // Out of memory while reading the table: no match.
  }
  if (!entry) {
    ReleaseMutex(hServerMutex);
    return 0;
  }
  return *entry;
}

std::wstring TLogClient::LookupChannelName()
{
  const size_t entry = FindDirectoryEntry();
  if (!entry)
    return {};
  std::wstring name;
  try {
    const std::u16string channel = LogDirectoryEntryChannel(pServerTable, kLogServerTableSize, entry);
    name.assign(channel.begin(), channel.end());
  } catch (...) {
    name.clear();
  }
  ReleaseMutex(hServerMutex);
  return name;
}

uint32_t TLogClient::LookupModuleNumber()
{
  const size_t entry = FindDirectoryEntry();
  if (!entry)
    return 0;
  uint32_t number = 0;
  try {
    number = LogDirectoryEntryModuleNumber(pServerTable, kLogServerTableSize, entry,
                                           AsU16(ModulePath, ModulePathLength));
  } catch (...) {
    number = 0;
  }
  ReleaseMutex(hServerMutex);
  return number;
}

bool TLogClient::Connect()
{
  if (bConnectionAttempted.load(std::memory_order_acquire))
    return true;
  EnterCriticalSection(&ConnectLock);
  if (!bConnectionAttempted.load(std::memory_order_relaxed)) {
    if (ChannelName.empty())
      ChannelName = LookupChannelName();
    if (!ChannelName.empty())
      ConnectOnce();
  }
  const bool attempted = bConnectionAttempted.load(std::memory_order_relaxed);
  LeaveCriticalSection(&ConnectLock);
  return attempted;
}

// One attempt to open (or create) the channel named ChannelName. Whatever happens, the
// attempt is not repeated.
void TLogClient::ConnectOnce()
{
  std::wstring eventName, mutexName, mappingName;
  try {
    eventName = PICTOR_LOG_READY_EVENT_PREFIX + ChannelName;
    mutexName = PICTOR_LOG_WRITE_MUTEX_PREFIX + ChannelName;
    mappingName = PICTOR_LOG_CHANNEL_MAPPING_PREFIX + ChannelName;
  } catch (...) {
    // Out of memory: the attempt ends like a failed open.
    bConnectionAttempted.store(true, std::memory_order_release);
    return;
  }
  TLogSecurity security;
  hLogReadyEvent = OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, eventName.c_str());
  if (!hLogReadyEvent)
    hLogReadyEvent = CreateEventW(security.Attributes(), FALSE, FALSE, eventName.c_str());

  hChannelMutex = OpenMutexW(SYNCHRONIZE, FALSE, mutexName.c_str());
  if (!hChannelMutex)
    hChannelMutex = CreateMutexW(security.Attributes(), FALSE, mutexName.c_str());
  if (!hChannelMutex) {
    bConnectionAttempted.store(true, std::memory_order_release);
    return;
  }

  const bool owned = LogWaitOwned(hChannelMutex);
  DWORD createError = ERROR_ALREADY_EXISTS;
  hChannelMapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, mappingName.c_str());
  if (!hChannelMapping) {
    hChannelMapping = CreateFileMappingW(INVALID_HANDLE_VALUE, security.Attributes(), PAGE_READWRITE | SEC_COMMIT,
                                         0, kLogChannelMappingSize, mappingName.c_str());
    createError = GetLastError();
  }
  if (hChannelMapping) {
    auto* channel =
        static_cast<uint8_t*>(MapViewOfFile(hChannelMapping, FILE_MAP_ALL_ACCESS, 0, 0, kLogChannelMappingSize));
    if (channel) {
      if (createError != ERROR_ALREADY_EXISTS)
        InitLogChannelHeader(channel, 0);
      // A new client clears a suspension left behind in an existing channel.
      channel[kLogChannelSuspendedOffset] = 0;
      pChannel.store(channel, std::memory_order_release);
    }
  }
  if (owned)
    ReleaseMutex(hChannelMutex);
  bConnectionAttempted.store(true, std::memory_order_release);
}

void TLogClient::WriteRecord(const uint8_t* record)
{
  uint8_t* channel = Channel();
  if (!channel || !LogWaitOwned(hChannelMutex))
    return;
  if (channel[kLogChannelSuspendedOffset] != 0) {
    ReleaseMutex(hChannelMutex);
    return;
  }
  const uint32_t size = LoadU32(record);
  const TLogRingState state = LoadLogRingState(channel);
  uint32_t newWrite = 0;
  const bool written =
      LogRingWrite(channel + kLogChannelHeaderSize, state, kLogChannelMappingSize, record, size, &newWrite);
  if (written)
    StoreU32(channel + kLogChannelWriteOffset, newWrite);
  ReleaseMutex(hChannelMutex);
  if (written && hLogReadyEvent)
    SetEvent(hLogReadyEvent);
}
