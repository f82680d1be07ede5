// TLogRecord: the unit a client writes into the channel ring and the log server reads
// back. Packed, little-endian:
//   0 size (u32) = 34 + text length   4 kind (u32)   8 process id (u32)
//  12 module number (u32)  16 thread id (u32)  20 time in ms (u64)
//  28 suspension seen (u8)  29 text length incl. NUL (u32)  33 text, NUL, then one pad byte
// Portable: no windows.h, shared by the library, the log server and the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint32_t kLogRecordTextOffset = 33;
// Header plus the pad byte behind the text; the size field counts both.
constexpr uint32_t kLogRecordOverhead = 34;
constexpr uint32_t kLogRecordKindInfo = 0;
constexpr uint32_t kLogRecordKindError = 2;

// Both log buffers grow in these steps only.
constexpr uint32_t kLogBufferStep = 102400;

struct TLogRecordFields {
  uint32_t kind = 0;
  uint32_t processId = 0;
  uint32_t moduleNumber = 0;
  uint32_t threadId = 0;
  uint64_t time = 0;
  uint8_t suspensionSeen = 0;
};

// Capacity for a buffer that must hold `need` bytes: the smallest multiple of 102,400
// strictly greater than `need`. 0 when that does not fit in 32 bits.
uint32_t LogBufferCapacityFor(uint64_t need);

// Record size for a text of `textLength` bytes including its NUL; 0 when it would
// not fit in 32 bits.
uint32_t LogRecordSizeFor(uint64_t textLength);

// Writes the header and `textLength` bytes of `text` (its NUL included) into `record`,
// which must hold LogRecordSizeFor(textLength) bytes. The pad byte is left as it is.
// Returns the record size.
uint32_t BuildLogRecord(uint8_t* record, const TLogRecordFields& fields, const char* text, uint32_t textLength);

// Reads a record of `available` bytes back. False when the size field disagrees with
// the text length or with `available`, or the text does not end with its NUL.
bool ParseLogRecord(const uint8_t* record, size_t available, TLogRecordFields* fields, std::string* text);

// Performance-counter ticks to milliseconds, going through 100-ns units with truncating
// signed division so that no intermediate product overflows for ordinary frequencies.
int64_t CounterToMilliseconds(int64_t counter, int64_t frequency);

// Little-endian field access that needs no alignment.
uint32_t LoadU32(const uint8_t* p);
void StoreU32(uint8_t* p, uint32_t value);
