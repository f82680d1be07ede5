// The ring: reading records split anywhere, the strictly-smaller rule and the wrapped
// copy against a queue model, and the fresh channel header.
#include "log/LogRecord.h"
#include "log/LogRing.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// A mapping of the header and a ring of `capacity` bytes, with guard bytes behind it.
struct SmallChannel {
  explicit SmallChannel(uint32_t capacity)
      : mappingSize(kLogChannelHeaderSize + capacity), bytes(mappingSize + 64, 0xCC) {}
  uint8_t* Ring() { return bytes.data() + kLogChannelHeaderSize; }
  bool GuardsIntact() const { return std::count(bytes.begin() + mappingSize, bytes.end(), 0xCC) == 64; }
  size_t mappingSize;
  std::vector<uint8_t> bytes;
};

TEST(LogRing, ReadsRecordsSplitAnywhereAndRejectsImpossibleSizes)
{
  for (uint32_t split = 1; split < 40; ++split) {
    SmallChannel channel(200);
    const std::vector<uint8_t> record = MakeRecord("split record");  // 47 bytes
    const uint32_t start = 200 - split;
    uint32_t written = 0, read = 0;
    ASSERT_TRUE(LogRingWrite(channel.Ring(), {200, start, start}, channel.mappingSize, record.data(),
                             uint32_t(record.size()), &written));
    std::vector<uint8_t> back;
    ASSERT_EQ(LogRingRead(channel.Ring(), {200, start, written}, channel.mappingSize, &back, &read),
              TLogRingReadResult::Record) << "split " << split;
    EXPECT_EQ(back, record);
    EXPECT_EQ(read, written);
  }
  SmallChannel channel(200);
  std::vector<uint8_t> back;
  uint32_t read = 0;
  StoreU32(channel.Ring(), 34);  // smaller than any record
  EXPECT_EQ(LogRingRead(channel.Ring(), {200, 0, 50}, channel.mappingSize, &back, &read), TLogRingReadResult::Corrupt);
  StoreU32(channel.Ring(), 51);  // runs past the write offset
  EXPECT_EQ(LogRingRead(channel.Ring(), {200, 0, 50}, channel.mappingSize, &back, &read), TLogRingReadResult::Corrupt);
  EXPECT_EQ(LogRingRead(channel.Ring(), {200, 0, 3}, channel.mappingSize, &back, &read), TLogRingReadResult::Corrupt);
}

// Writer and reader taking turns at random over a small ring: every record written comes
// back whole and in order, wherever the ring's end splits it, and what does not fit is
// refused, never overwritten. The header's numbers are checked before any copy.
TEST(LogRing, RandomTrafficMatchesAQueueModel)
{
  SmallChannel channel(509);
  TLogRingState state{509, 0, 0};
  std::deque<std::vector<uint8_t>> model;
  std::mt19937 random(7);
  uint32_t used = 0;
  for (int step = 0; step < 20000; ++step) {
    uint32_t next = 0;
    if (random() % 3 != 0) {
      const std::vector<uint8_t> record = MakeRecord(std::string(random() % 120, char('a' + step % 26)), step);
      const bool fits = record.size() < 509 - used;  // strictly smaller than the free space
      ASSERT_EQ(LogRingWrite(channel.Ring(), state, channel.mappingSize, record.data(), uint32_t(record.size()), &next),
                fits) << "step " << step << " used " << used << " size " << record.size();
      if (fits) {
        state.writeOffset = next;
        used += uint32_t(record.size());
        model.push_back(record);
      }
    } else {
      std::vector<uint8_t> back;
      const TLogRingReadResult result = LogRingRead(channel.Ring(), state, channel.mappingSize, &back, &next);
      ASSERT_EQ(result, model.empty() ? TLogRingReadResult::Empty : TLogRingReadResult::Record);
      if (model.empty())
        continue;
      ASSERT_EQ(back, model.front());
      used -= uint32_t(back.size());
      model.pop_front();
      state.readOffset = next;
    }
  }
  EXPECT_TRUE(channel.GuardsIntact());
  EXPECT_TRUE(LogRingStateIsValid({509, 508, 508}, channel.mappingSize));
  for (const TLogRingState& s : {TLogRingState{510, 0, 0}, {0, 0, 0}, {509, 0, 509}, {509, 509, 0}})
    EXPECT_FALSE(LogRingStateIsValid(s, channel.mappingSize)) << s.capacity << " " << s.readOffset;
}

TEST(LogChannelHeader, FreshHeaderHasTheDefaultCapacityAndEverythingElseZero)
{
  std::vector<uint8_t> channel(kLogChannelHeaderSize + 8, 0xAB);
  InitLogChannelHeader(channel.data(), 2);
  std::vector<uint8_t> expected(kLogChannelHeaderSize + 8, 0);
  StoreU32(expected.data(), 20959498u);
  expected[12] = 2;
  std::fill(expected.begin() + kLogChannelHeaderSize, expected.end(), 0xAB);  // the ring is not touched
  EXPECT_EQ(channel, expected);
}

}  // namespace
