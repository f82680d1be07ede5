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
  std::mutex mutex;  // guards `records` and serialises draining
  std::vector<CapturedRecord> records;

  std::vector<CapturedRecord>& Drain()
  {
    for (TLogServerRecord& r : channel.Drain()) {
      const TLogRecordFields& f = r.fields;
      records.push_back({f.kind, f.processId, f.moduleNumber, f.threadId, f.time, f.suspensionSeen, std::move(r.text)});
    }
    return records;
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
  const std::wstring directory = LogServerDirectoryOf(std::wstring(exePath, length));
  const std::wstring channelName =
      L"pictortest-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64());
  std::wstring error = L"the registration table has no room for " + directory;
  if (length == 0 || length >= MAX_PATH || !state->table.Open(&error) ||
      !state->channel.Create(channelName, 2, &error) ||
      !state->table.Register({ToU16(directory), ToU16(channelName), LogServerModulesIn(directory)})) {
    std::fwprintf(stderr, L"LogCapture: %ls\n", error.c_str());
    std::abort();
  }
  std::thread([s = state] {
    for (;;) {
      WaitForSingleObject(s->channel.ReadyEvent(), 50);
      std::lock_guard<std::mutex> lock(s->mutex);
      s->Drain();
    }
  }).detach();
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
  state->Drain().clear();
}

std::vector<CapturedRecord> LogCapture::Records()
{
  std::lock_guard<std::mutex> lock(state->mutex);
  return state->Drain();
}

std::vector<std::string> LogCapture::Lines()
{
  std::vector<std::string> lines;
  for (CapturedRecord& r : Records()) lines.push_back(std::move(r.text));
  return lines;
}

}  // namespace pictortest
