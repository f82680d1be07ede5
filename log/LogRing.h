// The channel buffer: a 12,022-byte header followed by the ring of records.
//   0 capacity (u32)  4 read offset (u32, server)  8 write offset (u32, clients)
//  12 level (u8)  13 writing suspended (u8)  14 u32 written 0 on creation  18.. rest, zero
// Offsets are relative to the ring start; read == write means empty, and clients never
// fill the ring completely. A record that reaches the end of the ring continues at its
// start; the split can fall anywhere, also inside the size field.
//
// The header lives in memory another process writes, so every function here takes the
// three numbers as read once and checks them before touching the ring: a corrupt header
// must never send a read or write outside the mapping.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr uint32_t kLogChannelMappingSize = 20971520;
constexpr uint32_t kLogChannelHeaderSize = 12022;
constexpr uint32_t kLogChannelDefaultCapacity = kLogChannelMappingSize - kLogChannelHeaderSize;

constexpr size_t kLogChannelCapacityOffset = 0;
constexpr size_t kLogChannelReadOffset = 4;
constexpr size_t kLogChannelWriteOffset = 8;
constexpr size_t kLogChannelLevelOffset = 12;
constexpr size_t kLogChannelSuspendedOffset = 13;
constexpr size_t kLogChannelReservedOffset = 14;

struct TLogRingState {
  uint32_t capacity = 0;
  uint32_t readOffset = 0;
  uint32_t writeOffset = 0;
};

// Reads the three numbers from a mapped channel header.
TLogRingState LoadLogRingState(const uint8_t* channel);

// Writes a fresh header: everything zero, the default capacity, the given level.
void InitLogChannelHeader(uint8_t* channel, uint8_t level);

// True when a ring of this capacity fits behind the header in a mapping of
// `mappingSize` bytes and both offsets lie inside it.
bool LogRingStateIsValid(const TLogRingState& state, size_t mappingSize);

// Bytes free for clients: r - w when r > w, otherwise r - w + capacity.
uint32_t LogRingFreeSpace(const TLogRingState& state);

// Copies a record of `size` bytes into `ring` at the write offset, wrapping at the
// capacity, in at most two block copies. Only a record strictly smaller than the free
// space is written. Returns false (nothing written) when it does not fit or the state
// is invalid for `mappingSize`; otherwise stores the new write offset.
bool LogRingWrite(uint8_t* ring, const TLogRingState& state, size_t mappingSize, const uint8_t* record, uint32_t size,
                  uint32_t* newWriteOffset);

enum class TLogRingReadResult { Empty, Record, Corrupt };

// Server side: takes the record at the read offset out of the ring (unwrapped into
// `record`) and gives the read offset behind it. Corrupt when the size field is below a
// minimal record or runs past the write offset; the caller then discards the unread
// bytes by moving the read offset to the write offset.
TLogRingReadResult LogRingRead(const uint8_t* ring, const TLogRingState& state, size_t mappingSize,
                               std::vector<uint8_t>* record, uint32_t* newReadOffset);
