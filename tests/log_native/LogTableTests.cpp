// Walking the registration table: prefix matching with ASCII-only folding, the first
// match winning, module numbers by whole path, and corrupt tables giving no match.
#include "log/LogRecord.h"
#include "log/LogTable.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

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
  t.Add(u"", u"everything");
  t.Add(u"C:\\Apps\\Tools\\", u"later");
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"c:\\apps\\tools\\", u"apps"}, {u"C:\\APPS\\", u"apps"},
      {u"C:\\Apps", u"app"},  // "C:\Apps\" is longer than the directory
      {u"c:\\application\\", u"app"}, {u"D:\\Apps\\", u"everything"},
      {u"c:\\\u00C9t\u00E9\\x\\", u"accents"}, {u"c:\\\u00E9t\u00E9\\x\\", u"everything"},  // only A-Z fold
      {u"c:\\[A]\\", u"symbols"}, {u"c:\\{a]\\", u"everything"}};  // '[' and '{' differ by 0x20 too
  for (const auto& c : cases)
    EXPECT_EQ(t.ChannelFor(c.first), c.second) << std::string(c.first.begin(), c.first.end());
  EXPECT_EQ(*FindLogDirectoryEntry(t.bytes.data(), t.bytes.size(), u"C:\\Apps\\"), 4u + 24u);

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
  const struct { int32_t count; size_t entrySize; const char16_t* path; uint32_t number; } cases[] = {
      {1000000, 0, u"C:\\A\\b.dll", 6}, {1, 0, u"C:\\A\\b.dll", 0}, {-3, 0, u"C:\\A\\p.dll", 0},
      {2, kLogModuleListOffset + kLogModuleEntrySize, u"C:\\A\\b.dll", 0},
      {2, kLogModuleListOffset + kLogModuleEntrySize, u"C:\\A\\p.dll", 5}};
  for (const auto& c : cases) {
    Table copy = t;
    StoreU32(copy.bytes.data() + 4 + kLogModuleCountOffset, uint32_t(c.count));
    if (c.entrySize)
      StoreU32(copy.bytes.data() + 4, uint32_t(c.entrySize));
    EXPECT_EQ(copy.ModuleNumberFor(u"C:\\A\\", c.path), c.number) << c.count << " " << c.entrySize;
  }
  for (size_t i = 0; i < kLogModulePathUnits; ++i)  // a path without its NUL
    t.bytes[4 + kLogModuleListOffset + kLogModulePathOffset + 2 * i] = 'm';
  EXPECT_EQ(t.ModuleNumberFor(u"C:\\A\\", std::u16string(kLogModulePathUnits, u'm')), 0u);
}

TEST(LogTable, CorruptTablesGiveNoMatchAndTakeNoEntry)
{
  Table t;
  t.Add(u"", u"everything");
  const std::pair<const char*, std::function<void(uint8_t*)>> corruptions[] = {
      {"size 0 (would walk in place)", [](uint8_t* b) { StoreU32(b, 0xFFFFFFFFu); StoreU32(b + 4, 0); }},
      {"size past the table", [](uint8_t* b) { StoreU32(b + 4, 64 * 1024); }},
      {"smaller than its fields", [](uint8_t* b) { StoreU32(b + 4, uint32_t(kLogModuleListOffset - 2)); }},
      {"path without NUL", [](uint8_t* b) {
         for (size_t i = 0; i < kLogDirectoryPathUnits; ++i) b[4 + kLogDirectoryPathOffset + 2 * i] = 'a'; }},
      {"channel without NUL", [](uint8_t* b) {
         for (size_t i = 0; i < kLogChannelNameUnits; ++i) b[4 + kLogChannelNameOffset + 2 * i] = 'c'; }}};
  for (const auto& c : corruptions) {
    Table copy = t;
    c.second(copy.bytes.data());
    EXPECT_EQ(copy.ChannelFor(std::u16string(1100, u'a')), u"") << c.first;
  }
  Table countTooHigh = t;
  StoreU32(countTooHigh.bytes.data(), 2);  // the second entry is all zeros: size 0
  EXPECT_EQ(countTooHigh.ChannelFor(u"C:\\x\\"), u"everything");
  EXPECT_FALSE(AddLogDirectoryEntry(countTooHigh.bytes.data(), countTooHigh.bytes.size(), {u"a", u"b", {}}, false));
  EXPECT_FALSE(FindLogDirectoryEntry(t.bytes.data(), 3, u"C:\\x\\"));
  EXPECT_EQ(LogDirectoryEntryChannel(t.bytes.data(), t.bytes.size(), 5), u"");  // not an entry's start
  EXPECT_EQ(LogDirectoryEntryChannel(t.bytes.data(), t.bytes.size(), t.bytes.size() - 2), u"");
}

TEST(LogTable, ServerWritesListsAndRemovesEntriesAndRefusesWhatDoesNotFit)
{
  Table t(3 * 1024 * 16);
  t.Add(u"C:\\A\\", u"one", {{1, u"C:\\A\\x.dll"}});
  t.Add(u"C:\\B\\", u"two");
  t.Add(u"C:\\C\\", u"one");
  EXPECT_EQ(LoadU32(t.bytes.data() + 4), kLogModuleListOffset + kLogModuleEntrySize);  // entry size
  EXPECT_EQ(LoadU32(t.bytes.data() + 8), 3u);                                         // entry type
  EXPECT_EQ(LoadU32(t.bytes.data() + 4 + kLogModuleCountOffset), 1u);
  EXPECT_EQ(RemoveLogDirectoryEntries(t.bytes.data(), t.bytes.size(), u"one"), 2u);
  const auto list = ListLogDirectoryEntries(t.bytes.data(), t.bytes.size());
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].directory + u"|" + list[0].channel, u"C:\\B\\|two");

  for (const TLogDirectoryRegistration& tooBig :
       {TLogDirectoryRegistration{std::u16string(1024, u'a'), u"x", {}}, {u"a", std::u16string(1030, u'x'), {}},
        {u"a", u"x", std::vector<TLogModuleRegistration>(100, {1, u"m"})}})
    EXPECT_FALSE(AddLogDirectoryEntry(t.bytes.data(), t.bytes.size(), tooBig, false));
}

}  // namespace
