// The log channel's bytes: the record wire format; the ring against a queue model and
// records with impossible sizes; the registration table walk (prefix
// matching with ASCII-only folding, the first match winning, module numbers by whole path,
// corrupt tables) and what the server writes into it.
#include "log/LogRecord.h"
#include "log/LogRing.h"
#include "log/LogTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

TEST(LogRecord, FieldsSitAtTheirOffsetsLittleEndianAndParseBack)
{
  const TLogRecordFields f{2, 0x11223344, 7, 0xA0B0C0D0, 0x0102030405060708ull, 1};
  std::vector<uint8_t> record(40, 0xEE);
  ASSERT_EQ(BuildLogRecord(record.data(), f, "ab", 3), 37u);
  // clang-format off
  const std::vector<uint8_t> expected = {
      37, 0, 0, 0, 2, 0, 0, 0, 0x44, 0x33, 0x22, 0x11, 7, 0, 0, 0,  // size, kind, process, module
      0xD0, 0xC0, 0xB0, 0xA0, 8, 7, 6, 5, 4, 3, 2, 1,              // thread, time
      1, 3, 0, 0, 0, 'a', 'b', 0,                                // suspension, text length, text
      0xEE, 0xEE, 0xEE, 0xEE};                                   // pad byte left as it was
  // clang-format on
  EXPECT_EQ(record, expected);

  TLogRecordFields back;
  std::string text;
  ASSERT_TRUE(ParseLogRecord(record.data(), 37, &back, &text));
  EXPECT_EQ(text, "ab");
  EXPECT_EQ(std::vector<uint64_t>(
                {back.kind, back.processId, back.moduleNumber, back.threadId, back.time, back.suspensionSeen}),
            std::vector<uint64_t>({2, 0x11223344, 7, 0xA0B0C0D0, 0x0102030405060708ull, 1}));
}

std::vector<uint8_t> MakeRecord(const std::string& text, uint32_t threadId = 1)
{
  TLogRecordFields f;
  f.threadId = threadId;
  std::vector<uint8_t> record(LogRecordSizeFor(text.size() + 1), 0);
  BuildLogRecord(record.data(), f, text.c_str(), uint32_t(text.size() + 1));
  return record;
}

// Writer and reader taking turns at random over a small ring: every record written comes
// back whole and in order, wherever the ring's end splits it, and what does not fit is
// refused, never overwritten. The header's numbers are checked before any copy.
TEST(LogRing, RandomTrafficMatchesAQueueModel)
{
  const size_t mappingSize = kLogChannelHeaderSize + 509;
  std::vector<uint8_t> bytes(mappingSize + 64, 0xCC);  // guard bytes behind the ring
  uint8_t* ring = bytes.data() + kLogChannelHeaderSize;
  TLogRingState state{509, 0, 0};
  std::deque<std::vector<uint8_t>> model;
  std::mt19937 random(7);
  uint32_t used = 0;
  for (int step = 0; step < 20000; ++step) {
    uint32_t next = 0;
    if (random() % 3 != 0) {
      const std::vector<uint8_t> record = MakeRecord(std::string(random() % 120, char('a' + step % 26)), step);
      const bool fits = record.size() < 509 - used;  // strictly smaller than the free space
      ASSERT_EQ(LogRingWrite(ring, state, mappingSize, record.data(), uint32_t(record.size()), &next), fits)
          << "step " << step << " used " << used << " size " << record.size();
      if (fits) {
        state.writeOffset = next;
        used += uint32_t(record.size());
        model.push_back(record);
      }
    } else {
      std::vector<uint8_t> back;
      const TLogRingReadResult result = LogRingRead(ring, state, mappingSize, &back, &next);
      ASSERT_EQ(result, model.empty() ? TLogRingReadResult::Empty : TLogRingReadResult::Record);
      if (model.empty()) continue;
      ASSERT_EQ(back, model.front());
      used -= uint32_t(back.size());
      model.pop_front();
      state.readOffset = next;
    }
  }
  EXPECT_EQ(std::count(bytes.begin() + mappingSize, bytes.end(), 0xCC), 64);
  EXPECT_TRUE(LogRingStateIsValid({509, 508, 508}, mappingSize));
  for (const TLogRingState& s : {TLogRingState{510, 0, 0}, {0, 0, 0}, {509, 0, 509}, {509, 509, 0}})
    EXPECT_FALSE(LogRingStateIsValid(s, mappingSize)) << s.capacity << " " << s.readOffset;
  // A record size smaller than any record, or running past the write offset.
  std::vector<uint8_t> back;
  uint32_t read = 0;
  for (const std::pair<uint32_t, uint32_t>& c : {std::pair<uint32_t, uint32_t>{34, 50}, {51, 50}, {35, 3}}) {
    StoreU32(ring, c.first);
    EXPECT_EQ(LogRingRead(ring, {509, 0, c.second}, mappingSize, &back, &read), TLogRingReadResult::Corrupt)
        << c.first << " " << c.second;
  }
}

struct Table {
  explicit Table(size_t size = 64 * 1024) : bytes(size, 0) {}
  void Add(std::u16string directory, std::u16string channel, std::vector<TLogModuleRegistration> modules = {},
           bool first = false)
  {
    ASSERT_TRUE(AddLogDirectoryEntry(bytes.data(), bytes.size(), {directory, channel, modules}, first));
  }
  // The channel a library in `directory` would connect to ("" for none).
  std::u16string ChannelFor(std::u16string_view directory) const
  {
    const auto entry = FindLogDirectoryEntry(bytes.data(), bytes.size(), directory);
    return entry ? LogDirectoryEntryChannel(bytes.data(), bytes.size(), *entry) : u"";
  }
  uint32_t ModuleNumberFor(std::u16string_view directory, std::u16string_view path) const
  {
    const auto entry = FindLogDirectoryEntry(bytes.data(), bytes.size(), directory);
    return entry ? LogDirectoryEntryModuleNumber(bytes.data(), bytes.size(), *entry, path) : 0;
  }
  std::vector<uint8_t> bytes;
};

TEST(LogTable, FirstEntryWhosePathIsAPrefixWithAsciiFoldingWins)
{
  Table t;
  StoreU32(t.bytes.data(), 1);  // an entry of another type (7, 24 bytes) in front: skipped by its size
  StoreU32(t.bytes.data() + 4, 24);
  StoreU32(t.bytes.data() + 8, 7);
  t.Add(u"C:\\Apps\\", u"apps");
  t.Add(u"C:\\App", u"app");
  t.Add(u"C:\\\u00C9t\u00E9\\", u"accents");
  t.Add(u"C:\\[a]\\", u"symbols");
  t.Add(u"", u"none");  // an empty path would be a prefix of every directory
  t.Add(u"C:\\Apps\\Tools\\", u"later");
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"c:\\apps\\tools\\", u"apps"},
      {u"C:\\APPS\\", u"apps"},
      {u"C:\\Apps", u"app"},  // "C:\Apps\" is longer than the directory
      {u"c:\\application\\", u"app"},
      {u"D:\\Apps\\", u""},
      {u"c:\\\u00C9t\u00E9\\x\\", u"accents"},
      {u"c:\\\u00E9t\u00E9\\x\\", u""},  // only A-Z fold
      {u"c:\\[A]\\", u"symbols"},
      {u"c:\\{a]\\", u""}};  // '[' and '{' differ by 0x20 too
  for (const auto& c : cases) EXPECT_EQ(t.ChannelFor(c.first), c.second) << std::string(c.first.begin(), c.first.end());

  t.Add(u"c:\\apps\\tools\\", u"newest", {}, true);  // added in front: wins over the older ones
  EXPECT_EQ(t.ChannelFor(u"C:\\Apps\\Tools\\"), u"newest");
  EXPECT_EQ(t.ChannelFor(u"C:\\Apps\\"), u"apps");
}

TEST(LogTable, ModuleNumberIsTakenForTheWholePathWithinTheEntry)
{
  Table t;
  t.Add(u"C:\\A\\", u"a", {{5, u"C:\\A\\p.dll"}, {6, u"C:\\A\\b.dll"}, {9, u"C:\\A\\p.dll"}});
  EXPECT_EQ(t.ModuleNumberFor(u"C:\\A\\", u"c:\\a\\P.DLL"), 5u);  // the first of two equal paths
  EXPECT_EQ(t.ModuleNumberFor(u"C:\\A\\", u"C:\\A\\p.dl"), 0u);   // no prefix matching here
  EXPECT_EQ(t.ModuleNumberFor(u"C:\\A\\", u"C:\\A\\p.dll2"), 0u);
  // The module count against the entry's size: {count, entry size (0: as written), path, number}.
  const struct {
    int32_t count;
    size_t entrySize;
    const char16_t* path;
    uint32_t number;
  } cases[] = {{1000000, 0, u"C:\\A\\b.dll", 6},
               {1, 0, u"C:\\A\\b.dll", 0},
               {-3, 0, u"C:\\A\\p.dll", 0},
               {2, kLogModuleListOffset + kLogModuleEntrySize, u"C:\\A\\b.dll", 0},
               {2, kLogModuleListOffset + kLogModuleEntrySize, u"C:\\A\\p.dll", 5}};
  for (const auto& c : cases) {
    Table copy = t;
    StoreU32(copy.bytes.data() + 4 + kLogModuleCountOffset, uint32_t(c.count));
    if (c.entrySize) StoreU32(copy.bytes.data() + 4, uint32_t(c.entrySize));
    EXPECT_EQ(copy.ModuleNumberFor(u"C:\\A\\", c.path), c.number) << c.count << " " << c.entrySize;
  }
}

TEST(LogTable, CorruptTablesGiveNoMatchAndTakeNoEntry)
{
  Table t;
  t.Add(u"a", u"everything");
  const std::pair<const char*, std::function<void(uint8_t*)>> corruptions[] = {
      {"size 0 (would walk in place)",
       [](uint8_t* b) {
         StoreU32(b, 0xFFFFFFFFu);
         StoreU32(b + 4, 0);
       }},
      {"size past the table", [](uint8_t* b) { StoreU32(b + 4, 64 * 1024); }},
      {"smaller than its fields", [](uint8_t* b) { StoreU32(b + 4, uint32_t(kLogModuleListOffset - 2)); }},
      {"path without NUL",
       [](uint8_t* b) {
         for (size_t i = 0; i < kLogDirectoryPathUnits; ++i) b[4 + kLogDirectoryPathOffset + 2 * i] = 'a';
       }},
      {"channel without NUL", [](uint8_t* b) {
         for (size_t i = 0; i < kLogChannelNameUnits; ++i) b[4 + kLogChannelNameOffset + 2 * i] = 'c';
       }}};
  for (const auto& c : corruptions) {
    Table copy = t;
    c.second(copy.bytes.data());
    EXPECT_EQ(copy.ChannelFor(std::u16string(1100, u'a')), u"") << c.first;
  }
  Table countTooHigh = t;
  StoreU32(countTooHigh.bytes.data(), 2);  // the second entry is all zeros: size 0
  EXPECT_EQ(countTooHigh.ChannelFor(u"ab"), u"everything");
  EXPECT_FALSE(AddLogDirectoryEntry(countTooHigh.bytes.data(), countTooHigh.bytes.size(), {u"a", u"b", {}}, false));
  EXPECT_FALSE(FindLogDirectoryEntry(t.bytes.data(), 3, u"ab"));
  EXPECT_EQ(LogDirectoryEntryChannel(t.bytes.data(), t.bytes.size(), 5), u"");  // not an entry's start
  EXPECT_EQ(LogDirectoryEntryChannel(t.bytes.data(), t.bytes.size(), t.bytes.size() - 2), u"");
}

// The server's side: what it adds has the layout libraries walk (an entry of one module
// is its fixed fields and one module slot, of type 3), and what would not fit is refused.
TEST(LogTable, ServerWritesEntriesLibrariesCanWalkAndRefusesWhatDoesNotFit)
{
  Table t(3 * 1024 * 16);
  t.Add(u"C:\\A\\", u"one", {{1, u"C:\\A\\x.dll"}});
  EXPECT_EQ(std::vector<uint32_t>({LoadU32(t.bytes.data() + 4), LoadU32(t.bytes.data() + 8),
                                   LoadU32(t.bytes.data() + 4 + kLogModuleCountOffset)}),
            std::vector<uint32_t>({kLogModuleListOffset + kLogModuleEntrySize, 3, 1}));  // size, type, modules
  for (const TLogDirectoryRegistration& tooBig : {TLogDirectoryRegistration{std::u16string(1024, u'a'), u"x", {}},
                                                  {u"a", std::u16string(1030, u'x'), {}},
                                                  {u"a", u"x", std::vector<TLogModuleRegistration>(100, {1, u"m"})}})
    EXPECT_FALSE(AddLogDirectoryEntry(t.bytes.data(), t.bytes.size(), tooBig, false));
}

}  // namespace
