#include "log/LogRecord.h"

#include <cstring>

uint32_t LoadU32(const uint8_t* p)
{
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void StoreU32(uint8_t* p, uint32_t value)
{
  p[0] = uint8_t(value);
  p[1] = uint8_t(value >> 8);
  p[2] = uint8_t(value >> 16);
  p[3] = uint8_t(value >> 24);
}

static uint64_t LoadU64(const uint8_t* p)
{
  return uint64_t(LoadU32(p)) | uint64_t(LoadU32(p + 4)) << 32;
}

static void StoreU64(uint8_t* p, uint64_t value)
{
  StoreU32(p, uint32_t(value));
  StoreU32(p + 4, uint32_t(value >> 32));
}

uint32_t LogBufferCapacityFor(uint64_t need)
{
  const uint64_t capacity = (need / kLogBufferStep + 1) * kLogBufferStep;
  return capacity > UINT32_MAX ? 0 : uint32_t(capacity);
}

uint32_t LogRecordSizeFor(uint64_t textLength)
{
  const uint64_t size = textLength + kLogRecordOverhead;
  return size > UINT32_MAX ? 0 : uint32_t(size);
}

uint32_t BuildLogRecord(uint8_t* record, const TLogRecordFields& fields, const char* text, uint32_t textLength)
{
  const uint32_t size = textLength + kLogRecordOverhead;
  StoreU32(record + 0, size);
  StoreU32(record + 4, fields.kind);
  StoreU32(record + 8, fields.processId);
  StoreU32(record + 12, fields.moduleNumber);
  StoreU32(record + 16, fields.threadId);
  StoreU64(record + 20, fields.time);
  record[28] = fields.suspensionSeen;
  StoreU32(record + 29, textLength);
  std::memcpy(record + kLogRecordTextOffset, text, textLength);
  return size;
}

bool ParseLogRecord(const uint8_t* record, size_t available, TLogRecordFields* fields, std::string* text)
{
  if (available < kLogRecordOverhead + 1) return false;
  const uint32_t size = LoadU32(record);
  const uint32_t textLength = LoadU32(record + 29);
  if (size != available || textLength == 0 || uint64_t(textLength) + kLogRecordOverhead != size) return false;
  const char* textStart = reinterpret_cast<const char*>(record + kLogRecordTextOffset);
  if (textStart[textLength - 1] != '\0') return false;
  fields->kind = LoadU32(record + 4);
  fields->processId = LoadU32(record + 8);
  fields->moduleNumber = LoadU32(record + 12);
  fields->threadId = LoadU32(record + 16);
  fields->time = LoadU64(record + 20);
  fields->suspensionSeen = record[28];
  // The text ends at its first NUL, as the client measured it.
  text->assign(textStart, std::strlen(textStart));
  return true;
}

int64_t CounterToMilliseconds(int64_t counter, int64_t frequency)
{
  if (frequency <= 0) return 0;
  const int64_t units = (counter / frequency) * 10000000 + ((counter % frequency) * 10000000) / frequency;
  return units / 10000;
}
