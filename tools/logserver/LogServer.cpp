#include "LogServer.h"

#include "log/LogObjects.h"
#include "log/LogRing.h"

#include <algorithm>

std::u16string ToU16(const std::wstring& text)
{
  return std::u16string(text.begin(), text.end());
}

std::wstring FromU16(const std::u16string& text)
{
  return std::wstring(text.begin(), text.end());
}

static std::wstring LastErrorText(const wchar_t* what)
{
  return std::wstring(what) + L" failed with error " + std::to_wstring(GetLastError());
}

bool TLogServerTableHost::Open(std::wstring* error)
{
  TLogSecurity security;
  hMutex.Reset(CreateMutexW(security.Attributes(), FALSE, PICTOR_LOG_SERVER_MUTEX_NAME));
  if (!hMutex) {
    *error = LastErrorText(L"CreateMutexW(registration mutex)");
    return false;
  }
  TMutexHold hold(hMutex.Get());
  hMapping.Reset(CreateFileMappingW(INVALID_HANDLE_VALUE, security.Attributes(), PAGE_READWRITE | SEC_COMMIT, 0,
                                    kLogServerTableSize, PICTOR_LOG_SERVER_TABLE_NAME));
  const DWORD createError = GetLastError();
  if (!hMapping) {
    *error = LastErrorText(L"CreateFileMappingW(registration table)");
    return false;
  }
  view = TUniqueView(MapViewOfFile(hMapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, kLogServerTableSize));
  if (!view.Get()) {
    *error = LastErrorText(L"MapViewOfFile(registration table)");
    return false;
  }
  if (!LogViewIsUsable(view.Get(), kLogServerTableSize)) {
    view.Reset();
    *error = L"the registration table another program created is not 5 MiB of committed paging-file memory";
    return false;
  }
  if (createError != ERROR_ALREADY_EXISTS) StoreU32(view.Get(), 0);
  return true;
}

bool TLogServerTableHost::Register(const TLogDirectoryRegistration& entry)
{
  TMutexHold hold(hMutex.Get());
  return view.Get() && AddLogDirectoryEntry(view.Get(), kLogServerTableSize, entry, true);
}

void TLogServerTableHost::Unregister(const std::u16string& channel)
{
  TMutexHold hold(hMutex.Get());
  if (view.Get()) RemoveLogDirectoryEntries(view.Get(), kLogServerTableSize, channel);
}

std::vector<TLogDirectoryRegistration> TLogServerTableHost::List()
{
  TMutexHold hold(hMutex.Get());
  if (!view.Get()) return {};
  return ListLogDirectoryEntries(view.Get(), kLogServerTableSize);
}

bool TLogChannelHost::Create(const std::wstring& name, uint8_t level, std::wstring* error)
{
  TLogSecurity security;
  hEvent.Reset(CreateEventW(security.Attributes(), FALSE, FALSE, (PICTOR_LOG_READY_EVENT_PREFIX + name).c_str()));
  if (!hEvent) {
    *error = LastErrorText(L"CreateEventW(log ready)");
    return false;
  }
  hMutex.Reset(CreateMutexW(security.Attributes(), FALSE, (PICTOR_LOG_WRITE_MUTEX_PREFIX + name).c_str()));
  if (!hMutex) {
    *error = LastErrorText(L"CreateMutexW(write access)");
    return false;
  }
  TMutexHold hold(hMutex.Get());
  hMapping.Reset(CreateFileMappingW(INVALID_HANDLE_VALUE, security.Attributes(), PAGE_READWRITE | SEC_COMMIT, 0,
                                    kLogChannelMappingSize, (PICTOR_LOG_CHANNEL_MAPPING_PREFIX + name).c_str()));
  const DWORD createError = GetLastError();
  if (!hMapping) {
    *error = LastErrorText(L"CreateFileMappingW(channel buffer)");
    return false;
  }
  view = TUniqueView(MapViewOfFile(hMapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, kLogChannelMappingSize));
  if (!view.Get()) {
    *error = LastErrorText(L"MapViewOfFile(channel buffer)");
    return false;
  }
  if (!LogViewIsUsable(view.Get(), kLogChannelMappingSize)) {
    view.Reset();
    *error = L"the channel buffer another program created is not 20 MiB of committed paging-file memory";
    return false;
  }
  if (createError != ERROR_ALREADY_EXISTS) InitLogChannelHeader(view.Get(), level);
  view.Get()[kLogChannelLevelOffset] = level;
  return true;
}

void TLogChannelHost::SetLevel(uint8_t level)
{
  if (view.Get()) static_cast<volatile uint8_t*>(view.Get())[kLogChannelLevelOffset] = level;
}

void TLogChannelHost::SetSuspended(bool suspended)
{
  if (view.Get()) static_cast<volatile uint8_t*>(view.Get())[kLogChannelSuspendedOffset] = suspended ? 1 : 0;
}

uint8_t TLogChannelHost::Level() const
{
  return view.Get() ? static_cast<volatile uint8_t*>(view.Get())[kLogChannelLevelOffset] : 0;
}

std::vector<TLogServerRecord> TLogChannelHost::Drain()
{
  std::vector<TLogServerRecord> records;
  if (!view.Get()) return records;
  uint8_t* buffer = view.Get();
  const uint8_t* ring = buffer + kLogChannelHeaderSize;
  TLogRingState state;
  {
    // The mutex is held only to read the offsets and to store the read offset: clients
    // write only into the free part of the ring, so what lies before the write offset
    // read here stays put, and they never wait while records are parsed.
    TMutexHold hold(hMutex.Get());
    if (!hold.Owned()) return records;
    state = LoadLogRingState(buffer);
  }
  bool reset = false;
  std::vector<uint8_t> bytes;
  for (;;) {
    uint32_t next = 0;
    const TLogRingReadResult result = LogRingRead(ring, state, kLogChannelMappingSize, &bytes, &next);
    if (result == TLogRingReadResult::Empty) break;
    if (result == TLogRingReadResult::Corrupt) {
      // Nothing behind a bad size field can be trusted: give the clients the ring back.
      ++corruptCount;
      reset = !LogRingStateIsValid(state, kLogChannelMappingSize);
      state.readOffset = state.writeOffset;
      break;
    }
    TLogServerRecord record;
    if (ParseLogRecord(bytes.data(), bytes.size(), &record.fields, &record.text))
      records.push_back(std::move(record));
    else
      ++malformedCount;
    state.readOffset = next;
  }
  TMutexHold hold(hMutex.Get());
  if (!hold.Owned()) return records;
  if (reset)
    InitLogChannelHeader(buffer, buffer[kLogChannelLevelOffset]);
  else
    StoreU32(buffer + kLogChannelReadOffset, state.readOffset);
  return records;
}

std::wstring LogServerDirectoryOf(const std::wstring& path)
{
  wchar_t full[1024];
  const DWORD length = GetFullPathNameW(path.c_str(), 1024, full, nullptr);
  if (length == 0 || length >= 1024) return {};
  std::wstring result(full, length);
  const size_t slash = result.find_last_of(L"\\/");
  result.erase(slash == std::wstring::npos ? 0 : slash + 1);
  return result;
}

std::vector<TLogModuleRegistration> LogServerModulesIn(const std::wstring& directory)
{
  std::vector<std::wstring> names;
  for (const wchar_t* pattern : {L"*.dll", L"*.exe"}) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((directory + pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) continue;
    do {
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  std::sort(names.begin(), names.end(),
            [](const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) < 0; });
  std::vector<TLogModuleRegistration> modules;
  int32_t number = 1;
  for (const std::wstring& name : names)
    if (directory.size() + name.size() < kLogModulePathUnits) modules.push_back({number++, ToU16(directory + name)});
  return modules;
}
