#include "log/LogClient.h"

#include "log/LogRecord.h"
#include "log/LogRing.h"
#include "log/LogTable.h"

#include <shlwapi.h>

#include <cstdio>
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

HANDLE OpenOrCreateMutex(const wchar_t* name, TLogSecurity& security)
{
  HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, name);
  return mutex ? mutex : CreateMutexW(security.Attributes(), FALSE, name);
}

// Opens the named mapping, or creates one of `size` bytes, and maps all of it. True when
// this call brought the mapping into being (its bytes still need their initial values).
// A view that is not `size` bytes of committed paging-file memory is not kept.
bool OpenOrCreateView(const wchar_t* name, DWORD size, TLogSecurity& security, TUniqueHandle& mapping,
                      TUniqueView& view)
{
  DWORD createError = ERROR_ALREADY_EXISTS;
  mapping.Reset(OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name));
  if (!mapping) {
    HANDLE created =
        CreateFileMappingW(INVALID_HANDLE_VALUE, security.Attributes(), PAGE_READWRITE | SEC_COMMIT, 0, size, name);
    createError = GetLastError();
    mapping.Reset(created);
  }
  if (mapping) view = TUniqueView(MapViewOfFile(mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, size));
  if (view && !LogViewIsUsable(view.Get(), size)) {
    view.Reset();
    mapping.Reset();
  }
  return createError != ERROR_ALREADY_EXISTS;
}

}  // namespace

// A hold on one of the channel's mutexes that waits a few milliseconds at most, and only
// tries while the last wait ran out. A wait that runs out drops the record it was for.
class TChannelMutexHold {
 public:
  TChannelMutexHold(HANDLE mutex, TLogClient& client)
      : hold(mutex, client.bChannelBusy.load(std::memory_order_relaxed) ? 0 : TLogClient::kChannelWaitMilliseconds)
  {
    if (hold.Owned()) {
      client.bChannelBusy.store(false, std::memory_order_relaxed);
    } else if (hold.TimedOut()) {
      client.bChannelBusy.store(true, std::memory_order_relaxed);
      client.dwBusyDrops.fetch_add(1, std::memory_order_relaxed);
    }
  }
  bool Owned() const { return hold.Owned(); }

 private:
  TMutexHold hold;
};

TLogClient& LogClient()
{
  return g_LogClient;
}

size_t GetModulePath(bool directoryOnly, wchar_t* buffer, size_t bufferChars)
{
  if (!buffer || bufferChars == 0) return 0;
  buffer[0] = 0;
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&GetModulePath), &module))
    return 0;
  wchar_t fileName[MAX_PATH] = {};
  wchar_t fullPath[MAX_PATH] = {};
  const DWORD nameLength = GetModuleFileNameW(module, fileName, MAX_PATH);
  if (nameLength == 0 || nameLength >= MAX_PATH) return 0;
  const DWORD fullLength = GetFullPathNameW(fileName, MAX_PATH, fullPath, nullptr);
  if (fullLength == 0 || fullLength >= MAX_PATH) return 0;
  if (directoryOnly) {
    PathRemoveFileSpecW(fullPath);
    const size_t length = wcslen(fullPath);
    if (length > 0 && fullPath[length - 1] != L'\\' && length + 1 < MAX_PATH) {
      fullPath[length] = L'\\';
      fullPath[length + 1] = 0;
    }
  }
  size_t length = wcslen(fullPath);
  if (length >= bufferChars) length = bufferChars - 1;
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
    // Without the server mutex: a table this process brings into being is paging-file
    // memory, which reads as zeros, so it already has no entries.
    TLogSecurity security;
    hServerMutex.Reset(OpenOrCreateMutex(PICTOR_LOG_SERVER_MUTEX_NAME, security));
    if (hServerMutex)
      OpenOrCreateView(PICTOR_LOG_SERVER_TABLE_NAME, kLogServerTableSize, security, hServerTableMapping, ServerTable);
  }

  dwProcessId = GetCurrentProcessId();
  g_bLoggingEnabled.store(true, std::memory_order_release);
}

void TLogClient::Teardown()
{
  g_bLoggingEnabled.store(false, std::memory_order_release);

  pChannel.store(nullptr);
  ChannelView.Reset();
  hChannelMapping.Reset();
  hChannelMutex.Reset();
  if (bLocksInitialised) {
    DeleteCriticalSection(&LogLock);
    DeleteCriticalSection(&ConnectLock);
    bLocksInitialised = false;
  }
  hLogReadyEvent.Reset();
  if (pRecordBuffer) VirtualFree(pRecordBuffer, 0, MEM_RELEASE);
  pRecordBuffer = nullptr;
  dwRecordBufferSize = 0;
  if (pFormatBuffer) VirtualFree(pFormatBuffer, 0, MEM_RELEASE);
  pFormatBuffer = nullptr;
  dwFormatBufferSize = 0;
  ServerTable.Reset();
  hServerTableMapping.Reset();
  hServerMutex.Reset();
  ChannelName.clear();
  ChannelName.shrink_to_fit();
  bConnectionAttempted.store(false);
}

void TLogClient::LookUpRegistration()
{
  if (!ServerTable) return;
  TChannelMutexHold hold(hServerMutex.Get(), *this);
  if (!hold.Owned()) return;
  const bool readModuleNumber = !bModuleNumberRead;
  bModuleNumberRead = true;
  try {
    const std::optional<size_t> entry =
        FindLogDirectoryEntry(ServerTable.Get(), kLogServerTableSize, AsU16(ModuleDirectory, ModuleDirectoryLength));
    if (!entry) return;
    if (readModuleNumber)
      dwModuleNumber = LogDirectoryEntryModuleNumber(ServerTable.Get(), kLogServerTableSize, *entry,
                                                     AsU16(ModulePath, ModulePathLength));
    const std::u16string channel = LogDirectoryEntryChannel(ServerTable.Get(), kLogServerTableSize, *entry);
    ChannelName.assign(channel.begin(), channel.end());
  } catch (...) {
    // Out of memory while reading the table: no match.
  }
}

bool TLogClient::Connect()
{
  if (bConnectionAttempted.load(std::memory_order_acquire)) return true;
  TCriticalSectionHold hold(ConnectLock);
  if (!bConnectionAttempted.load(std::memory_order_relaxed)) {
    if (ChannelName.empty()) LookUpRegistration();
    if (!ChannelName.empty()) ConnectOnce();
  }
  return bConnectionAttempted.load(std::memory_order_relaxed);
}

// One attempt to open (or create) the channel named ChannelName. Whatever happens, the
// attempt is not repeated, unless the channel's write mutex stayed held: then the next
// record tries again.
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
  hLogReadyEvent.Reset(OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, eventName.c_str()));
  if (!hLogReadyEvent) hLogReadyEvent.Reset(CreateEventW(security.Attributes(), FALSE, FALSE, eventName.c_str()));

  hChannelMutex.Reset(OpenOrCreateMutex(mutexName.c_str(), security));
  if (hChannelMutex) {
    TChannelMutexHold hold(hChannelMutex.Get(), *this);
    if (!hold.Owned()) {
      hChannelMutex.Reset();
      hLogReadyEvent.Reset();
      return;
    }
    const bool created =
        OpenOrCreateView(mappingName.c_str(), kLogChannelMappingSize, security, hChannelMapping, ChannelView);
    if (uint8_t* channel = ChannelView.Get()) {
      if (created) InitLogChannelHeader(channel, 0);
      // A new client clears a suspension left behind in an existing channel.
      channel[kLogChannelSuspendedOffset] = 0;
      pChannel.store(channel, std::memory_order_release);
    }
  }
  bConnectionAttempted.store(true, std::memory_order_release);
}

void TLogClient::WriteRecord(const uint8_t* record, const TLogRecordFields& fields)
{
  uint8_t* channel = Channel();
  if (!channel) return;
  bool written = false;
  {
    TChannelMutexHold hold(hChannelMutex.Get(), *this);
    if (!hold.Owned() || channel[kLogChannelSuspendedOffset] != 0) return;
    TLogRingState state = LoadLogRingState(channel);
    uint8_t* ring = channel + kLogChannelHeaderSize;
    if (const uint32_t dropped = dwBusyDrops.load(std::memory_order_relaxed)) {
      char text[96];
      const int length =
          std::snprintf(text, sizeof text, "%lu log records were dropped because the log channel was busy",
                        static_cast<unsigned long>(dropped));
      uint8_t notice[kLogRecordOverhead + sizeof text];
      TLogRecordFields noticeFields = fields;
      noticeFields.kind = kLogRecordKindError;
      BuildLogRecord(notice, noticeFields, text, uint32_t(length + 1));
      if (LogRingWrite(ring, state, kLogChannelMappingSize, notice, LoadU32(notice), &state.writeOffset)) {
        dwBusyDrops.fetch_sub(dropped, std::memory_order_relaxed);
        written = true;
      }
    }
    written = LogRingWrite(ring, state, kLogChannelMappingSize, record, LoadU32(record), &state.writeOffset) || written;
    if (written) StoreU32(channel + kLogChannelWriteOffset, state.writeOffset);
  }
  // The reader is woken after the mutex is given back, so it never waits for it.
  if (written && hLogReadyEvent) SetEvent(hLogReadyEvent.Get());
}
