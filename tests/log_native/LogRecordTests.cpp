// The record wire format, the buffer growth rule and the time stamp arithmetic.
#include "log/LogRecord.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

TEST(LogRecordLayout, HeaderFieldsSitAtTheirOffsetsLittleEndian)
{
  TLogRecordFields f;
  f.kind = 2;
  f.processId = 0x11223344;
  f.moduleNumber = 7;
  f.threadId = 0xA0B0C0D0;
  f.time = 0x0102030405060708ull;
  f.suspensionSeen = 1;
  std::vector<uint8_t> record(40, 0xEE);
  ASSERT_EQ(BuildLogRecord(record.data(), f, "ab", 3), 37u);
  const std::vector<uint8_t> expected = {
      37, 0, 0, 0,                                      // size = 34 + 3
      2, 0, 0, 0,                                       // kind
      0x44, 0x33, 0x22, 0x11,                           // process id
      7, 0, 0, 0,                                       // module number
      0xD0, 0xC0, 0xB0, 0xA0,                           // thread id
      0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,   // time
      1,                                                // suspension seen
      3, 0, 0, 0,                                       // text length with NUL
      'a', 'b', 0,                                      // text
      0xEE,                                             // pad byte: left as it was
      0xEE, 0xEE, 0xEE};
  EXPECT_EQ(record, expected);
}

TEST(LogRecordLayout, ParseGivesBackWhatWasBuiltAndRejectsInconsistentRecords)
{
  TLogRecordFields f;
  f.kind = 0;
  f.processId = 42;
  f.moduleNumber = 3;
  f.threadId = 99;
  f.time = 123456789;
  f.suspensionSeen = 1;
  std::vector<uint8_t> record(34 + 6);
  BuildLogRecord(record.data(), f, "hello", 6);

  TLogRecordFields back;
  std::string text;
  ASSERT_TRUE(ParseLogRecord(record.data(), record.size(), &back, &text));
  EXPECT_EQ(text, "hello");
  EXPECT_EQ(back.processId, 42u);
  EXPECT_EQ(back.moduleNumber, 3u);
  EXPECT_EQ(back.threadId, 99u);
  EXPECT_EQ(back.time, 123456789u);
  EXPECT_EQ(back.suspensionSeen, 1);

  EXPECT_FALSE(ParseLogRecord(record.data(), record.size() - 1, &back, &text));  // size field disagrees
  std::vector<uint8_t> noNul = record;
  noNul[33 + 5] = 'x';
  EXPECT_FALSE(ParseLogRecord(noNul.data(), noNul.size(), &back, &text));
  std::vector<uint8_t> badLength = record;
  StoreU32(badLength.data() + 29, 5);
  EXPECT_FALSE(ParseLogRecord(badLength.data(), badLength.size(), &back, &text));
  std::vector<uint8_t> zeroLength(34, 0);
  StoreU32(zeroLength.data(), 34);
  EXPECT_FALSE(ParseLogRecord(zeroLength.data(), zeroLength.size(), &back, &text));
}

TEST(LogBufferGrowth, SmallestStepStrictlyAboveTheNeed)
{
  EXPECT_EQ(LogBufferCapacityFor(0), 102400u);
  EXPECT_EQ(LogBufferCapacityFor(1), 102400u);
  EXPECT_EQ(LogBufferCapacityFor(102399), 102400u);
  EXPECT_EQ(LogBufferCapacityFor(102400), 204800u);  // exactly one step takes two
  EXPECT_EQ(LogBufferCapacityFor(102433), 204800u);  // record of a 102,398-character text
  EXPECT_EQ(LogBufferCapacityFor(204800), 307200u);
  // Beyond 32 bits there is no buffer.
  EXPECT_EQ(LogBufferCapacityFor(4294967295ull), 0u);
  EXPECT_EQ(LogRecordSizeFor(4294967295ull - 34), 4294967295u);
  EXPECT_EQ(LogRecordSizeFor(4294967295ull - 33), 0u);
}

TEST(LogTimeStamp, MillisecondsOfTheCounterWithoutOverflow)
{
  EXPECT_EQ(CounterToMilliseconds(12345678901, 10000000), 1234567);
  // A counter near the top of the range: counter * 1000 would overflow.
  EXPECT_EQ(CounterToMilliseconds(INT64_C(0x3FFFFFFFFFFFFFFF), 10000000), INT64_C(461168601842738));
  // An odd frequency: 100-ns units are truncated first, then milliseconds.
  // 1,000,001 / 3 s = 333,333.666.. s -> 3,333,336,666,666 units -> 333,333,666 ms.
  EXPECT_EQ(CounterToMilliseconds(1000001, 3), 333333666);
  EXPECT_EQ(CounterToMilliseconds(-15, 10), -1500);  // truncation toward zero
  EXPECT_EQ(CounterToMilliseconds(5, 0), 0);
}

}  // namespace
