// The record wire format, the buffer growth rule and the time stamp arithmetic.
#include "log/LogRecord.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(LogRecord, FieldsSitAtTheirOffsetsLittleEndianAndParseBack)
{
  const TLogRecordFields f{2, 0x11223344, 7, 0xA0B0C0D0, 0x0102030405060708ull, 1};
  std::vector<uint8_t> record(40, 0xEE);
  ASSERT_EQ(BuildLogRecord(record.data(), f, "ab", 3), 37u);
  const std::vector<uint8_t> expected = {
      37, 0, 0, 0, 2, 0, 0, 0, 0x44, 0x33, 0x22, 0x11, 7, 0, 0, 0,  // size, kind, process, module
      0xD0, 0xC0, 0xB0, 0xA0, 8, 7, 6, 5, 4, 3, 2, 1,              // thread, time
      1, 3, 0, 0, 0, 'a', 'b', 0,                                // suspension, text length, text
      0xEE, 0xEE, 0xEE, 0xEE};                                   // pad byte left as it was
  EXPECT_EQ(record, expected);

  TLogRecordFields back;
  std::string text;
  ASSERT_TRUE(ParseLogRecord(record.data(), 37, &back, &text));
  EXPECT_EQ(text, "ab");
  EXPECT_EQ(std::vector<uint64_t>({back.kind, back.processId, back.moduleNumber, back.threadId, back.time,
                                   back.suspensionSeen}),
            std::vector<uint64_t>({2, 0x11223344, 7, 0xA0B0C0D0, 0x0102030405060708ull, 1}));
}

TEST(LogRecord, InconsistentRecordsAreRejected)
{
  std::vector<uint8_t> good(37);
  BuildLogRecord(good.data(), {}, "ab", 3);
  TLogRecordFields f;
  std::string text;
  EXPECT_FALSE(ParseLogRecord(good.data(), 36, &f, &text));  // size field disagrees with what is there
  for (const std::pair<size_t, uint32_t>& change : {std::pair<size_t, uint32_t>{29, 2}, {33, 0x00787878}}) {
    std::vector<uint8_t> bad = good;  // text length off, no NUL
    StoreU32(bad.data() + change.first, change.second);
    EXPECT_FALSE(ParseLogRecord(bad.data(), 37, &f, &text)) << change.first;
  }
  std::vector<uint8_t> noText(34, 0);  // not even a NUL
  StoreU32(noText.data(), 34);
  EXPECT_FALSE(ParseLogRecord(noText.data(), 34, &f, &text));
}

TEST(LogBufferGrowth, SmallestStepStrictlyAboveTheNeedWithin32Bits)
{
  EXPECT_EQ(LogBufferCapacityFor(0), 102400u);
  EXPECT_EQ(LogBufferCapacityFor(102399), 102400u);
  EXPECT_EQ(LogBufferCapacityFor(102400), 204800u);  // exactly one step takes two
  EXPECT_EQ(LogBufferCapacityFor(4294967295ull), 0u);
  EXPECT_EQ(LogRecordSizeFor(4294967295ull - 34), 4294967295u);
  EXPECT_EQ(LogRecordSizeFor(4294967295ull - 33), 0u);
}

TEST(LogTimeStamp, MillisecondsOfTheCounterWithoutOverflow)
{
  EXPECT_EQ(CounterToMilliseconds(12345678901, 10000000), 1234567);
  // counter * 1000 would overflow here.
  EXPECT_EQ(CounterToMilliseconds(INT64_C(0x3FFFFFFFFFFFFFFF), 10000000), INT64_C(461168601842738));
  // 100-ns units are truncated first: 1,000,001 / 3 s -> 3,333,336,666,666 units.
  EXPECT_EQ(CounterToMilliseconds(1000001, 3), 333333666);
  EXPECT_EQ(CounterToMilliseconds(-15, 10), -1500);
  EXPECT_EQ(CounterToMilliseconds(5, 0), 0);
}

}  // namespace
