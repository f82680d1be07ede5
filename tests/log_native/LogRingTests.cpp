// Free space, the strictly-smaller rule, the wrapped copy and reading records back.
#include "log/LogRecord.h"
#include "log/LogRing.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> MakeRecord(const std::string& text, uint32_t threadId = 1)
{
  TLogRecordFields f;
  f.threadId = threadId;
  std::vector<uint8_t> record(LogRecordSizeFor(text.size() + 1), 0);
  BuildLogRecord(record.data(), f, text.c_str(), uint32_t(text.size() + 1));
  return record;
}

std::vector<uint8_t> Pattern(uint32_t size)
{
  std::vector<uint8_t> bytes(size);
  for (uint32_t i = 0; i < size; ++i)
    bytes[i] = uint8_t(i * 7 + 1);
  return bytes;
}

// A small mapping: the header, a ring of `capacity` bytes, and guard bytes behind it.
struct SmallChannel {
  explicit SmallChannel(uint32_t capacity)
      : mappingSize(kLogChannelHeaderSize + capacity), bytes(mappingSize + 64, 0xCC) {}
  uint8_t* Ring() { return bytes.data() + kLogChannelHeaderSize; }
  bool GuardsIntact() const
  {
    for (size_t i = mappingSize; i < bytes.size(); ++i)
      if (bytes[i] != 0xCC)
        return false;
    return true;
  }
  size_t mappingSize;
  std::vector<uint8_t> bytes;
};

TEST(LogRingWrite, RecordWrapsAtTheEndOfTheRing)
{
  SmallChannel channel(1000);
  const std::vector<uint8_t> record = Pattern(150);
  uint32_t next = 0;
  // Write offset 100 bytes before the end, ring empty there.
  ASSERT_TRUE(LogRingWrite(channel.Ring(), {1000, 900, 900}, channel.mappingSize, record.data(), 150, &next));
  EXPECT_EQ(next, 50u);
  EXPECT_TRUE(std::equal(record.begin(), record.begin() + 100, channel.Ring() + 900));
  EXPECT_TRUE(std::equal(record.begin() + 100, record.end(), channel.Ring()));
  EXPECT_EQ(channel.Ring()[50], 0xCC);  // nothing written behind the record
  EXPECT_EQ(channel.Ring()[899], 0xCC);
  EXPECT_TRUE(channel.GuardsIntact());

  // A record that ends exactly at the end of the ring moves the offset to 0.
  ASSERT_TRUE(LogRingWrite(channel.Ring(), {1000, 900, 900}, channel.mappingSize, record.data(), 100, &next));
  EXPECT_EQ(next, 0u);
  EXPECT_TRUE(channel.GuardsIntact());
}

TEST(LogRingWrite, CorruptHeaderIsRefusedWithoutTouchingMemory)
{
  SmallChannel channel(1000);
  const std::vector<uint8_t> record = Pattern(40);
  const std::vector<uint8_t> before = channel.bytes;
  uint32_t next = 0;
  const TLogRingState corrupt[] = {
      {1001, 0, 0},            // capacity beyond the mapping
      {0, 0, 0},               // no ring at all
      {1000, 0, 1000},         // write offset outside the ring
      {1000, 1000, 0},         // read offset outside the ring
      {0xFFFFFFFFu, 5, 0xFFFFFFF0u},
  };
  for (const TLogRingState& s : corrupt) {
    EXPECT_FALSE(LogRingStateIsValid(s, channel.mappingSize));
    EXPECT_FALSE(LogRingWrite(channel.Ring(), s, channel.mappingSize, record.data(), 40, &next));
  }
  EXPECT_EQ(channel.bytes, before);
  EXPECT_FALSE(LogRingStateIsValid({10, 0, 0}, kLogChannelHeaderSize - 1));
}

TEST(LogRingRead, ReadsRecordsSplitAnywhereIncludingTheSizeField)
{
  for (uint32_t split = 1; split < 40; ++split) {
    SmallChannel channel(200);
    const std::vector<uint8_t> record = MakeRecord("split record");  // 47 bytes
    const uint32_t start = 200 - split;
    uint32_t written = 0;
    ASSERT_TRUE(LogRingWrite(channel.Ring(), {200, start, start}, channel.mappingSize, record.data(),
                             uint32_t(record.size()), &written));
    std::vector<uint8_t> back;
    uint32_t read = 0;
    ASSERT_EQ(LogRingRead(channel.Ring(), {200, start, written}, channel.mappingSize, &back, &read),
              TLogRingReadResult::Record)
        << "split " << split;
    EXPECT_EQ(back, record);
    EXPECT_EQ(read, written);
    EXPECT_EQ(LogRingRead(channel.Ring(), {200, read, written}, channel.mappingSize, &back, &read),
              TLogRingReadResult::Empty);
  }
}

TEST(LogRingRead, SizeFieldThatCannotBeARecordIsCorrupt)
{
  SmallChannel channel(200);
  std::vector<uint8_t> back;
  uint32_t read = 0;
  StoreU32(channel.Ring(), 34);  // smaller than any record
  EXPECT_EQ(LogRingRead(channel.Ring(), {200, 0, 50}, channel.mappingSize, &back, &read), TLogRingReadResult::Corrupt);
  StoreU32(channel.Ring(), 51);  // runs past the write offset
  EXPECT_EQ(LogRingRead(channel.Ring(), {200, 0, 50}, channel.mappingSize, &back, &read), TLogRingReadResult::Corrupt);
  EXPECT_EQ(LogRingRead(channel.Ring(), {200, 0, 3}, channel.mappingSize, &back, &read), TLogRingReadResult::Corrupt);
  EXPECT_EQ(LogRingRead(channel.Ring(), {201, 0, 3}, channel.mappingSize, &back, &read), TLogRingReadResult::Corrupt);
}

// Writer and reader taking turns at random over a small ring: every record written comes
// back whole and in order, and what does not fit is refused, never overwritten.
TEST(LogRingRoundTrip, RandomTrafficMatchesAQueueModel)
{
  SmallChannel channel(509);
  TLogRingState state{509, 0, 0};
  std::deque<std::vector<uint8_t>> model;
  std::mt19937 random(7);
  uint32_t used = 0;
  for (int step = 0; step < 20000; ++step) {
    if (random() % 3 != 0) {
      const std::vector<uint8_t> record = MakeRecord(std::string(random() % 120, char('a' + step % 26)), step);
      uint32_t next = 0;
      const bool fits = record.size() < 509 - used;
      ASSERT_EQ(LogRingWrite(channel.Ring(), state, channel.mappingSize, record.data(), uint32_t(record.size()), &next),
                fits);
      if (fits) {
        state.writeOffset = next;
        used += uint32_t(record.size());
        model.push_back(record);
      }
    } else {
      std::vector<uint8_t> back;
      uint32_t next = 0;
      const TLogRingReadResult result = LogRingRead(channel.Ring(), state, channel.mappingSize, &back, &next);
      if (model.empty()) {
        ASSERT_EQ(result, TLogRingReadResult::Empty);
        continue;
      }
      ASSERT_EQ(result, TLogRingReadResult::Record);
      ASSERT_EQ(back, model.front());
      used -= uint32_t(back.size());
      model.pop_front();
      state.readOffset = next;
    }
  }
  EXPECT_TRUE(channel.GuardsIntact());
}

TEST(LogChannelHeader, FreshHeaderHasTheDefaultCapacityAndEverythingElseZero)
{
  std::vector<uint8_t> channel(kLogChannelHeaderSize + 8, 0xAB);
  InitLogChannelHeader(channel.data(), 2);
  EXPECT_EQ(LoadU32(channel.data()), 20959498u);
  EXPECT_EQ(LoadU32(channel.data() + 4), 0u);
  EXPECT_EQ(LoadU32(channel.data() + 8), 0u);
  EXPECT_EQ(channel[12], 2);
  EXPECT_EQ(channel[13], 0);
  for (size_t i = 14; i < kLogChannelHeaderSize; ++i)
    ASSERT_EQ(channel[i], 0) << i;
  EXPECT_EQ(channel[kLogChannelHeaderSize], 0xAB);  // the ring is not the header's business
}

}  // namespace
