#include "log/Log.h"

#include "log/LogClient.h"
#include "log/LogRecord.h"
#include "log/LogRing.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

std::atomic<int64_t> g_CounterFrequency{0};

uint64_t TimeStampMilliseconds()
{
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  int64_t frequency = g_CounterFrequency.load(std::memory_order_relaxed);
  if (frequency == 0) {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    frequency = f.QuadPart;
    g_CounterFrequency.store(frequency, std::memory_order_relaxed);
  }
  return uint64_t(CounterToMilliseconds(counter.QuadPart, frequency));
}

// Makes a log buffer hold `need` bytes: at least the next 102,400-byte step strictly
// above `need` (so a need of exactly 102,400 takes 204,800). Buffers only grow; a failed
// allocation leaves the buffer empty (capacity 0) and the message is dropped.
template <typename T>
bool EnsureBuffer(T*& buffer, uint32_t& capacity, uint64_t need)
{
  const uint32_t newCapacity = LogBufferCapacityFor(need);
  if (buffer && newCapacity != 0 && capacity >= newCapacity) return true;
  if (buffer) VirtualFree(buffer, 0, MEM_RELEASE);
  buffer = nullptr;
  capacity = 0;
  if (newCapacity == 0) return false;
  buffer = static_cast<T*>(VirtualAlloc(nullptr, newCapacity, MEM_COMMIT, PAGE_READWRITE));
  if (!buffer) return false;
  capacity = newCapacity;
  return true;
}

// Reads a header byte another process may change at any time.
uint8_t HeaderByte(const uint8_t* channel, size_t offset)
{
  return static_cast<const volatile uint8_t*>(channel)[offset];
}

void LogWrite(const char* format, va_list args, uint32_t kind, int level)
{
  TLogClient& client = LogClient();
  if (const uint8_t* channel = client.Channel())
    if (HeaderByte(channel, kLogChannelSuspendedOffset) != 0) client.SuspensionSeen.store(1, std::memory_order_relaxed);
  if (!g_bLoggingEnabled.load(std::memory_order_acquire)) return;
  if (!client.Connect()) return;
  const uint8_t* channel = client.Channel();
  if (!channel || HeaderByte(channel, kLogChannelLevelOffset) < level) return;

  TCriticalSectionHold hold(client.LogLock);
  // The Microsoft C runtime's own formatter, on purpose: "%S" is a wide string and
  // "%I64d" a 64-bit integer there, whatever mingw's ANSI stdio setting redirects.
  va_list measureArgs;
  va_copy(measureArgs, args);
  const int measured = format ? _vscprintf(format, measureArgs) : -1;
  va_end(measureArgs);
  const uint64_t need = uint64_t(int64_t(measured) + 1);
  // At least one byte, so that even a formatting error leaves an empty text.
  if (EnsureBuffer(client.pFormatBuffer, client.dwFormatBufferSize, need > 0 ? need : 1)) {
    char* text = client.pFormatBuffer;
    text[0] = 0;
    if (measured >= 0) {
      _vsnprintf(text, size_t(need), format, args);
      text[need - 1] = 0;
    }
    const uint64_t textLength = strlen(text) + 1;
    const uint32_t size = LogRecordSizeFor(textLength);
    if (size != 0 && EnsureBuffer(client.pRecordBuffer, client.dwRecordBufferSize, size)) {
      TLogRecordFields fields;
      fields.kind = kind;
      fields.processId = client.dwProcessId;
      fields.moduleNumber = client.dwModuleNumber;
      fields.threadId = GetCurrentThreadId();
      fields.time = TimeStampMilliseconds();
      fields.suspensionSeen = client.SuspensionSeen.load(std::memory_order_relaxed);
      BuildLogRecord(client.pRecordBuffer, fields, text, uint32_t(textLength));
      client.WriteRecord(client.pRecordBuffer, fields);
    }
  }
}

}  // namespace

void LogInfoV(const char* format, va_list args)
{
  if (g_bLoggingEnabled.load(std::memory_order_acquire)) LogWrite(format, args, kLogRecordKindInfo, 0);
}

void LogVerboseV(const char* format, va_list args)
{
  // Never connects: until an ordinary or error message has connected the channel,
  // verbose messages are dropped.
  if (!g_bLoggingEnabled.load(std::memory_order_acquire)) return;
  const uint8_t* channel = LogClient().Channel();
  if (channel && HeaderByte(channel, kLogChannelLevelOffset) >= 2) LogWrite(format, args, kLogRecordKindInfo, 2);
}

void LogErrorV(const char* format, va_list args)
{
  if (g_bLoggingEnabled.load(std::memory_order_acquire)) LogWrite(format, args, kLogRecordKindError, 0);
}

void LogInfo(const char* format, ...)
{
  va_list args;
  va_start(args, format);
  LogInfoV(format, args);
  va_end(args);
}

void LogVerbose(const char* format, ...)
{
  va_list args;
  va_start(args, format);
  LogVerboseV(format, args);
  va_end(args);
}

void LogError(const char* format, ...)
{
  va_list args;
  va_start(args, format);
  LogErrorV(format, args);
  va_end(args);
}

int GetLogLevel()
{
  if (!g_bLoggingEnabled.load(std::memory_order_acquire)) return 0;
  const uint8_t* channel = LogClient().Channel();
  return channel ? HeaderByte(channel, kLogChannelLevelOffset) : 0;
}

bool LogTraceEnabled()
{
  return GetLogLevel() == 2;
}
