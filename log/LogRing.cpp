#include "log/LogRing.h"

#include "log/LogRecord.h"

#include <cstring>

TLogRingState LoadLogRingState(const uint8_t* channel)
{
  TLogRingState state;
  state.capacity = LoadU32(channel + kLogChannelCapacityOffset);
  state.readOffset = LoadU32(channel + kLogChannelReadOffset);
  state.writeOffset = LoadU32(channel + kLogChannelWriteOffset);
  return state;
}

void InitLogChannelHeader(uint8_t* channel, uint8_t level)
{
  std::memset(channel, 0, kLogChannelHeaderSize);
  StoreU32(channel + kLogChannelCapacityOffset, kLogChannelDefaultCapacity);
  channel[kLogChannelLevelOffset] = level;
}

bool LogRingStateIsValid(const TLogRingState& state, size_t mappingSize)
{
  if (mappingSize < kLogChannelHeaderSize) return false;
  return state.capacity > 0 && state.capacity <= mappingSize - kLogChannelHeaderSize &&
         state.readOffset < state.capacity && state.writeOffset < state.capacity;
}

uint32_t LogRingFreeSpace(const TLogRingState& state)
{
  if (state.readOffset > state.writeOffset) return state.readOffset - state.writeOffset;
  return state.readOffset - state.writeOffset + state.capacity;
}

bool LogRingWrite(uint8_t* ring, const TLogRingState& state, size_t mappingSize, const uint8_t* record, uint32_t size,
                  uint32_t* newWriteOffset)
{
  if (!LogRingStateIsValid(state, mappingSize) || size >= LogRingFreeSpace(state)) return false;
  const uint32_t capacity = state.capacity;
  const uint32_t write = state.writeOffset;
  const uint32_t first = size >= capacity - write ? capacity - write : size;
  std::memcpy(ring + write, record, first);
  uint32_t next = write + first;
  if (size > first) {
    std::memcpy(ring, record + first, size - first);
    next = size - first;
  }
  *newWriteOffset = next < capacity ? next : 0;
  return true;
}

// Copies `count` bytes starting at ring offset `from`, continuing at the ring start.
static void CopyOut(const uint8_t* ring, uint32_t capacity, uint32_t from, uint8_t* to, uint32_t count)
{
  const uint32_t first = count < capacity - from ? count : capacity - from;
  std::memcpy(to, ring + from, first);
  if (count > first) std::memcpy(to + first, ring, count - first);
}

TLogRingReadResult LogRingRead(const uint8_t* ring, const TLogRingState& state, size_t mappingSize,
                               std::vector<uint8_t>* record, uint32_t* newReadOffset)
{
  if (!LogRingStateIsValid(state, mappingSize)) return TLogRingReadResult::Corrupt;
  const uint32_t capacity = state.capacity;
  const uint32_t read = state.readOffset;
  if (read == state.writeOffset) return TLogRingReadResult::Empty;
  const uint32_t used = state.writeOffset > read ? state.writeOffset - read : state.writeOffset - read + capacity;
  if (used < 4) return TLogRingReadResult::Corrupt;
  uint8_t sizeBytes[4];
  CopyOut(ring, capacity, read, sizeBytes, 4);
  const uint32_t size = LoadU32(sizeBytes);
  if (size < kLogRecordOverhead + 1 || size > used) return TLogRingReadResult::Corrupt;
  record->resize(size);
  CopyOut(ring, capacity, read, record->data(), size);
  const uint64_t next = uint64_t(read) + size;
  *newReadOffset = uint32_t(next >= capacity ? next - capacity : next);
  return TLogRingReadResult::Record;
}
