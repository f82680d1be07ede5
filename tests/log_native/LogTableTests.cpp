// Walking the registration table: prefix matching with ASCII-only folding, the first
// match winning, module numbers by whole path, and corrupt tables giving no match.
#include "log/LogRecord.h"
#include "log/LogTable.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class Table {
 public:
  explicit Table(size_t size = 64 * 1024) : bytes(size, 0) {}
  void Add(std::u16string directory, std::u16string channel, std::vector<TLogModuleRegistration> modules = {})
  {
    ASSERT_TRUE(AddLogDirectoryEntry(bytes.data(), bytes.size(),
                                     {std::move(directory), std::move(channel), std::move(modules)}, false));
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

TEST(LogTableMatch, EntryPathIsAPrefixComparedWithAsciiFolding)
{
  Table t;
  t.Add(u"C:\\Apps\\", u"apps");
  EXPECT_EQ(t.ChannelFor(u"c:\\apps\\tools\\"), u"apps");
  EXPECT_EQ(t.ChannelFor(u"C:\\APPS\\"), u"apps");
  EXPECT_EQ(t.ChannelFor(u"C:\\Apps"), u"");  // the entry is longer than the directory
  EXPECT_EQ(t.ChannelFor(u"D:\\Apps\\"), u"");

  Table noBackslash;
  noBackslash.Add(u"C:\\App", u"app");
  EXPECT_EQ(noBackslash.ChannelFor(u"c:\\apps\\tools\\"), u"app");
}

TEST(LogTableMatch, OnlyAsciiLettersAreFolded)
{
  Table t;
  t.Add(u"C:\\\u00C9t\u00E9\\", u"accents");
  EXPECT_EQ(t.ChannelFor(u"c:\\\u00C9t\u00E9\\x\\"), u"accents");
  EXPECT_EQ(t.ChannelFor(u"c:\\\u00E9t\u00E9\\x\\"), u"");   // É and é are different
  Table symbols;
  symbols.Add(u"C:\\[a]\\", u"symbols");  // '[' and '{' differ by 0x20 too, but are no letters
  EXPECT_EQ(symbols.ChannelFor(u"c:\\{a]\\"), u"");
  EXPECT_EQ(symbols.ChannelFor(u"c:\\[A]\\"), u"symbols");
}

TEST(LogTableMatch, EmptyPathMatchesEverythingAndTheFirstMatchWins)
{
  Table t;
  t.Add(u"C:\\Other\\", u"other");
  t.Add(u"C:\\Apps\\", u"first");
  t.Add(u"", u"everything");
  t.Add(u"C:\\Apps\\Tools\\", u"later");
  EXPECT_EQ(t.ChannelFor(u"C:\\Apps\\Tools\\"), u"first");
  EXPECT_EQ(t.ChannelFor(u"Z:\\elsewhere\\"), u"everything");

  // An entry added in front wins over the older ones.
  ASSERT_TRUE(AddLogDirectoryEntry(t.bytes.data(), t.bytes.size(), {u"c:\\apps\\tools\\", u"newest", {}}, true));
  EXPECT_EQ(t.ChannelFor(u"C:\\Apps\\Tools\\"), u"newest");
  EXPECT_EQ(t.ChannelFor(u"C:\\Other\\"), u"other");
}

TEST(LogTableMatch, OtherEntryTypesAreSkippedByTheirSize)
{
  Table t;
  // A type-7 entry of 24 bytes in front of a directory entry.
  StoreU32(t.bytes.data(), 1);
  StoreU32(t.bytes.data() + 4, 24);
  StoreU32(t.bytes.data() + 8, 7);
  t.Add(u"C:\\Apps\\", u"apps");
  ASSERT_EQ(LoadU32(t.bytes.data()), 2u);
  EXPECT_EQ(t.ChannelFor(u"C:\\Apps\\"), u"apps");
  EXPECT_EQ(*FindLogDirectoryEntry(t.bytes.data(), t.bytes.size(), u"C:\\Apps\\"), 4u + 24u);
}

TEST(LogTableModules, NumberIsTakenForTheWholePathFolded)
{
  Table t;
  t.Add(u"C:\\Apps\\", u"apps",
        {{5, u"C:\\Apps\\Pictor.dll"}, {6, u"C:\\Apps\\Tools\\Pictor.dll"}, {9, u"C:\\Apps\\Pictor.dll"}});
  EXPECT_EQ(t.ModuleNumberFor(u"C:\\Apps\\", u"c:\\apps\\pictor.DLL"), 5u);  // first of two equal paths
  EXPECT_EQ(t.ModuleNumberFor(u"C:\\Apps\\Tools\\", u"C:\\Apps\\Tools\\Pictor.dll"), 6u);
  EXPECT_EQ(t.ModuleNumberFor(u"C:\\Apps\\", u"C:\\Apps\\Pictor.dl"), 0u);  // no prefix matching here
  EXPECT_EQ(t.ModuleNumberFor(u"C:\\Apps\\", u"C:\\Apps\\Pictor.dll2"), 0u);
}

TEST(LogTableModules, CountIsBoundedByTheEntryAndNonPositiveMeansNone)
{
  Table t;
  t.Add(u"C:\\Apps\\", u"apps", {{5, u"C:\\Apps\\a.dll"}, {6, u"C:\\Apps\\b.dll"}});
  uint8_t* entry = t.bytes.data() + 4;
  StoreU32(entry + kLogModuleCountOffset, 1000000);  // more than the entry holds
  EXPECT_EQ(t.ModuleNumberFor(u"C:\\Apps\\", u"C:\\Apps\\b.dll"), 6u);
  StoreU32(entry + kLogModuleCountOffset, 1);
  EXPECT_EQ(t.ModuleNumberFor(u"C:\\Apps\\", u"C:\\Apps\\b.dll"), 0u);
  StoreU32(entry + kLogModuleCountOffset, uint32_t(-3));
  EXPECT_EQ(t.ModuleNumberFor(u"C:\\Apps\\", u"C:\\Apps\\a.dll"), 0u);
  // The entry claims only one module's room: the second element lies outside it.
  StoreU32(entry + kLogModuleCountOffset, 2);
  StoreU32(entry, uint32_t(kLogModuleListOffset + kLogModuleEntrySize));
  StoreU32(t.bytes.data(), 1);
  EXPECT_EQ(t.ModuleNumberFor(u"C:\\Apps\\", u"C:\\Apps\\b.dll"), 0u);
  EXPECT_EQ(t.ModuleNumberFor(u"C:\\Apps\\", u"C:\\Apps\\a.dll"), 5u);
}

TEST(LogTableCorrupt, BadSizesAndCountsGiveNoMatch)
{
  Table t;
  t.Add(u"", u"everything");
  Table zeroSize = t;
  StoreU32(zeroSize.bytes.data() + 4, 0);  // would walk in place forever
  StoreU32(zeroSize.bytes.data(), 0xFFFFFFFFu);
  EXPECT_EQ(zeroSize.ChannelFor(u"C:\\x\\"), u"");

  Table pastEnd = t;
  StoreU32(pastEnd.bytes.data() + 4, uint32_t(pastEnd.bytes.size()));  // runs 4 bytes past the table
  EXPECT_EQ(pastEnd.ChannelFor(u"C:\\x\\"), u"");

  Table tooShort = t;
  StoreU32(tooShort.bytes.data() + 4, uint32_t(kLogModuleListOffset - 2));  // type 3 but smaller than its fields
  EXPECT_EQ(tooShort.ChannelFor(u"C:\\x\\"), u"");

  Table countTooHigh = t;
  StoreU32(countTooHigh.bytes.data(), 2);  // the second entry is all zeros: size 0
  EXPECT_EQ(countTooHigh.ChannelFor(u"C:\\x\\"), u"everything");  // the first still matches
  EXPECT_FALSE(AddLogDirectoryEntry(countTooHigh.bytes.data(), countTooHigh.bytes.size(), {u"a", u"b", {}}, false));

  EXPECT_FALSE(FindLogDirectoryEntry(t.bytes.data(), 3, u"C:\\x\\"));
  EXPECT_EQ(LogDirectoryEntryChannel(t.bytes.data(), t.bytes.size(), 5), u"");  // not an entry's start
  EXPECT_EQ(LogDirectoryEntryChannel(t.bytes.data(), t.bytes.size(), t.bytes.size() - 2), u"");
}

TEST(LogTableCorrupt, StringsWithoutTerminatorInTheirField)
{
  Table t;
  t.Add(u"C:\\Apps\\", u"apps", {{5, u"C:\\Apps\\a.dll"}});
  uint8_t* entry = t.bytes.data() + 4;
  Table pathNoNul = t;
  for (size_t i = 0; i < kLogDirectoryPathUnits; ++i)
    pathNoNul.bytes[4 + kLogDirectoryPathOffset + 2 * i] = 'a';
  EXPECT_EQ(pathNoNul.ChannelFor(std::u16string(2000, u'a')), u"");

  Table channelNoNul = t;
  for (size_t i = 0; i < kLogChannelNameUnits; ++i)
    channelNoNul.bytes[4 + kLogChannelNameOffset + 2 * i] = 'c';
  EXPECT_EQ(channelNoNul.ChannelFor(u"C:\\Apps\\"), u"");

  for (size_t i = 0; i < kLogModulePathUnits; ++i)
    entry[kLogModuleListOffset + kLogModulePathOffset + 2 * i] = 'm';
  EXPECT_EQ(t.ModuleNumberFor(u"C:\\Apps\\", std::u16string(kLogModulePathUnits, u'm')), 0u);
}

TEST(LogTableServer, EntriesAreWrittenListedAndRemoved)
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
  EXPECT_EQ(list[0].directory, u"C:\\B\\");
  EXPECT_EQ(list[0].channel, u"two");
  EXPECT_EQ(t.ChannelFor(u"C:\\A\\"), u"");

  // Strings that do not fit their fields and tables without room are refused.
  EXPECT_FALSE(AddLogDirectoryEntry(t.bytes.data(), t.bytes.size(), {std::u16string(1024, u'a'), u"x", {}}, false));
  EXPECT_FALSE(AddLogDirectoryEntry(t.bytes.data(), t.bytes.size(), {u"a", std::u16string(1030, u'x'), {}}, false));
  EXPECT_FALSE(AddLogDirectoryEntry(t.bytes.data(), t.bytes.size(),
                                    {u"a", u"x", std::vector<TLogModuleRegistration>(100, {1, u"m"})}, false));
}

}  // namespace
