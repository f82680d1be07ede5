#include "LogCapture.h"

#include "tools/logserver/LogServer.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace pictortest {

struct LogCapture::State {
  TLogServerTableHost table;
  TLogChannelHost channel;
  std::wstring directory;
  std::vector<TLogModuleRegistration> modules;
  std::mutex mutex;  // guards `records` and serialises draining
  std::vector<CapturedRecord> records;

  void DrainLocked()
  {
    for (TLogServerRecord& r : channel.Drain()) {
      const TLogRecordFields& f = r.fields;
      records.push_back({f.kind, f.processId, f.moduleNumber, f.threadId, f.time, f.suspensionSeen, std::move(r.text)});
    }
  }
};

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
  state->directory = LogServerDirectoryOf(std::wstring(exePath, length));
  const std::wstring channelName =
      L"pictortest-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64());
  std::wstring error = L"the registration table has no room for " + state->directory;
  state->modules = LogServerModulesIn(state->directory);
  if (length == 0 || length >= MAX_PATH || !state->table.Open(&error) ||
      !state->channel.Create(channelName, 2, &error) ||
      !state->table.Register({ToU16(state->directory), ToU16(channelName), state->modules})) {
    std::fwprintf(stderr, L"LogCapture: %ls\n", error.c_str());
    std::abort();
  }
  State* s = state;
  std::thread([s] {
    for (;;) {
      WaitForSingleObject(s->channel.ReadyEvent(), 50);
      std::lock_guard<std::mutex> lock(s->mutex);
      s->DrainLocked();
    }
  }).detach();
}

void LogCapture::SetLevel(uint8_t level) { state->channel.SetLevel(level); }

void LogCapture::SetWritingSuspended(bool suspended) { state->channel.SetSuspended(suspended); }

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
  for (const TLogModuleRegistration& m : state->modules)
    if (_wcsicmp(FromU16(m.path).c_str(), (state->directory + fileName).c_str()) == 0)
      return uint32_t(m.number);
  return 0;
}

}  // namespace pictortest
