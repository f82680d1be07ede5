#include "LogCapture.h"

#include "tools/logserver/LogServer.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace pictortest {

struct LogCapture::State {
  TLogServerTableHost table;
  TLogChannelHost channel;
  std::wstring channelName;
  std::vector<TLogModuleRegistration> modules;
  std::mutex mutex;  // guards `records` and serialises draining
  std::vector<CapturedRecord> records;
  std::thread reader;

  void DrainLocked()
  {
    for (TLogServerRecord& r : channel.Drain()) {
      const TLogRecordFields& f = r.fields;
      records.push_back({f.kind, f.processId, f.moduleNumber, f.threadId, f.time, f.suspensionSeen, std::move(r.text)});
    }
  }
};

[[noreturn]] static void Fail(const std::wstring& what)
{
  std::fwprintf(stderr, L"LogCapture: %ls\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

LogCapture& LogCapture::Get()
{
  // Lives until the process ends: the library may log from its own threads until then.
  static LogCapture* capture = new LogCapture();
  return *capture;
}

LogCapture::LogCapture() : state(new State())
{
  wchar_t exePath[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, exePath, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    Fail(L"GetModuleFileNameW failed");
  const std::wstring directory = LogServerDirectoryOf(exePath);
  state->channelName = L"pictortest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                       std::to_wstring(GetTickCount64());
  std::wstring error;
  if (!state->table.Open(&error) || !state->channel.Create(state->channelName, 2, &error))
    Fail(error);
  state->modules = LogServerModulesIn(directory);
  if (!state->table.Register({ToU16(directory), ToU16(state->channelName), state->modules}))
    Fail(L"the registration table has no room for " + directory);
  State* s = state;
  state->reader = std::thread([s] {
    for (;;) {
      WaitForSingleObject(s->channel.ReadyEvent(), 50);
      std::lock_guard<std::mutex> lock(s->mutex);
      s->DrainLocked();
    }
  });
  state->reader.detach();
}

void LogCapture::SetLevel(uint8_t level)
{
  state->channel.SetLevel(level);
}

void LogCapture::SetWritingSuspended(bool suspended)
{
  state->channel.SetSuspended(suspended);
}

void LogCapture::Clear()
{
  std::lock_guard<std::mutex> lock(state->mutex);
  state->DrainLocked();
  state->records.clear();
}

std::vector<CapturedRecord> LogCapture::Records()
{
  std::lock_guard<std::mutex> lock(state->mutex);
  state->DrainLocked();
  return state->records;
}

std::vector<std::string> LogCapture::Lines()
{
  std::vector<std::string> lines;
  for (CapturedRecord& r : Records())
    lines.push_back(std::move(r.text));
  return lines;
}

uint32_t LogCapture::ModuleNumber(const std::wstring& fileName)
{
  for (const TLogModuleRegistration& m : state->modules) {
    const std::wstring path = FromU16(m.path);
    if (path.size() >= fileName.size() &&
        _wcsicmp(path.c_str() + path.size() - fileName.size(), fileName.c_str()) == 0 &&
        (path.size() == fileName.size() || path[path.size() - fileName.size() - 1] == L'\\'))
      return uint32_t(m.number);
  }
  return 0;
}

std::wstring LogCapture::ChannelName()
{
  return state->channelName;
}

uint8_t* LogCapture::ChannelBuffer()
{
  return state->channel.Buffer();
}

size_t LogCapture::MalformedCount()
{
  std::lock_guard<std::mutex> lock(state->mutex);
  return state->channel.MalformedCount() + state->channel.CorruptCount();
}

}  // namespace pictortest
