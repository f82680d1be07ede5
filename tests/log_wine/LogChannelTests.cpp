// The channel client against a server the test plays itself: which registration entry a
// library finds, when it connects, and the exact bytes it puts into the ring.
#include "PrivateDirectory.h"
#include "ProbeLibrary.h"
#include "log/LogObjects.h"
#include "log/LogRecord.h"
#include "log/LogRing.h"
#include "tools/logserver/LogServer.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

namespace {

std::wstring Lower(std::wstring s)
{
  std::transform(s.begin(), s.end(), s.begin(), [](wchar_t c) { return wchar_t(std::towlower(c)); });
  return s;
}

std::wstring Upper(std::wstring s)
{
  std::transform(s.begin(), s.end(), s.begin(), [](wchar_t c) { return wchar_t(std::towupper(c)); });
  return s;
}

std::string Narrow(const std::wstring& s)
{
  return std::string(s.begin(), s.end());
}

std::wstring UniqueChannelName()
{
  static int counter = 0;
  return L"logtest-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
}

// One channel the test serves: it reads the ring itself, so the bytes stay where the
// client put them.
class ServedChannel {
 public:
  explicit ServedChannel(uint8_t level = 0) : name(UniqueChannelName())
  {
    std::wstring error;
    created = channel.Create(name, level, &error);
  }
  uint8_t* Buffer() const { return channel.Buffer(); }
  uint8_t* Ring() const { return channel.Buffer() + kLogChannelHeaderSize; }
  TLogRingState State() const { return LoadLogRingState(channel.Buffer()); }
  void SetOffsets(uint32_t read, uint32_t write)
  {
    TMutexHold hold(channel.WriteMutex());
    StoreU32(Buffer() + kLogChannelReadOffset, read);
    StoreU32(Buffer() + kLogChannelWriteOffset, write);
  }
  std::vector<std::string> Texts()
  {
    std::vector<std::string> texts;
    for (const TLogServerRecord& r : channel.Drain())
      texts.push_back(r.text);
    return texts;
  }
  std::wstring name;
  TLogChannelHost channel;
  bool created = false;
};

class LogChannel : public ::testing::Test {
 protected:
  void SetUp() override
  {
    std::wstring error;
    ASSERT_TRUE(table.Open(&error)) << error.c_str();
    ASSERT_TRUE(dir.copied);
  }
  void TearDown() override
  {
    for (const std::wstring& name : registered)
      table.Unregister(ToU16(name));
  }
  void Register(const std::wstring& entryPath, const std::wstring& channel,
                std::vector<TLogModuleRegistration> modules = {})
  {
    ASSERT_TRUE(table.Register({ToU16(entryPath), ToU16(channel), std::move(modules)}));
    registered.push_back(channel);
  }
  std::vector<TLogModuleRegistration> ProbeModule(int32_t number) { return {{number, ToU16(dir.probe)}}; }

  PrivateDirectory dir;
  TLogServerTableHost table;
  std::vector<std::wstring> registered;
};

TEST_F(LogChannel, EntryPathIsAPrefixOfTheLibraryDirectoryWithAsciiCaseFolded)
{
  const std::wstring withoutBackslash = dir.base.substr(0, dir.base.size() - 1);
  for (const std::wstring& entry : {Lower(dir.base), Upper(withoutBackslash), Upper(dir.tools), std::wstring()}) {
    ServedChannel served;
    ASSERT_TRUE(served.created);
    Register(entry, served.name);
    {
      ProbeLibrary probe(dir.probe);
      ASSERT_TRUE(probe.Loaded());
      probe.Info("%s", "found");
    }
    EXPECT_EQ(served.Texts(), (std::vector<std::string>{"found"})) << "entry path \"" << Narrow(entry) << "\"";
    table.Unregister(ToU16(served.name));
  }
}

TEST_F(LogChannel, FirstMatchingEntryInTheTableWins)
{
  ServedChannel later, first, unrelated;
  Register(dir.base, later.name);
  Register(dir.tools, first.name);                       // now ahead of `later`
  Register(dir.tools + L"Deeper\\", unrelated.name);     // ahead of both, does not match
  {
    ProbeLibrary probe(dir.probe);
    ASSERT_TRUE(probe.Loaded());
    probe.Info("to the first");
  }
  EXPECT_EQ(first.Texts(), (std::vector<std::string>{"to the first"}));
  EXPECT_TRUE(later.Texts().empty());
  EXPECT_TRUE(unrelated.Texts().empty());
}

TEST_F(LogChannel, ModuleNumberIsTakenAtLoadOnly)
{
  ServedChannel served;
  {
    // Registered before the load: the listed number (the path compared case-folded).
    Register(dir.tools, served.name, {{3, ToU16(Lower(dir.probe) + L"x")}, {7, ToU16(Upper(dir.probe))}});
    ProbeLibrary probe(dir.probe);
    ASSERT_TRUE(probe.Loaded());
    probe.Info("listed");
    EXPECT_EQ(probe.State().moduleNumber, 7u);
    table.Unregister(ToU16(served.name));
  }
  {
    // Registered after the load: the next call connects, with module number 0.
    ProbeLibrary probe(dir.probe);
    ASSERT_TRUE(probe.Loaded());
    probe.Info("before the server knows the directory");
    EXPECT_FALSE(probe.State().connectionAttempted);
    Register(dir.tools, served.name, ProbeModule(7));
    probe.Error("after");
    EXPECT_TRUE(probe.State().channelMapped);
  }
  const std::vector<TLogServerRecord> records = served.channel.Drain();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].text, "listed");
  EXPECT_EQ(records[0].fields.moduleNumber, 7u);
  EXPECT_EQ(records[1].text, "after");
  EXPECT_EQ(records[1].fields.kind, 2u);
  EXPECT_EQ(records[1].fields.moduleNumber, 0u);
}

TEST_F(LogChannel, ClientCreatesAFreshChannelAndWritesExactRecordBytes)
{
  // The server lists a channel name but has not created the channel's objects.
  const std::wstring name = UniqueChannelName();
  Register(dir.tools, name, ProbeModule(4));
  ProbeLibrary probe(dir.probe);
  ASSERT_TRUE(probe.Loaded());
  LARGE_INTEGER frequency, before, after;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&before);
  probe.Info("");
  QueryPerformanceCounter(&after);
  probe.Verbose("level 0: not sent");

  TUniqueHandle mapping(OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, (PICTOR_LOG_CHANNEL_MAPPING_PREFIX + name).c_str()));
  ASSERT_TRUE(mapping);
  TUniqueView view(MapViewOfFile(mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, kLogChannelMappingSize));
  const uint8_t* buffer = view.Get();
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(LoadU32(buffer + 0), 20959498u);
  EXPECT_EQ(LoadU32(buffer + 4), 0u);
  EXPECT_EQ(LoadU32(buffer + 8), 35u);
  EXPECT_EQ(buffer[12], 0);
  EXPECT_EQ(buffer[13], 0);
  EXPECT_EQ(std::count(buffer + 14, buffer + kLogChannelHeaderSize, 0), long(kLogChannelHeaderSize - 14));

  const uint8_t* record = buffer + kLogChannelHeaderSize;
  EXPECT_EQ(LoadU32(record + 0), 35u);
  EXPECT_EQ(LoadU32(record + 4), 0u);
  EXPECT_EQ(LoadU32(record + 8), GetCurrentProcessId());
  EXPECT_EQ(LoadU32(record + 12), 4u);
  EXPECT_EQ(LoadU32(record + 16), GetCurrentThreadId());
  const uint64_t time = uint64_t(LoadU32(record + 20)) | uint64_t(LoadU32(record + 24)) << 32;
  EXPECT_GE(time, uint64_t(CounterToMilliseconds(before.QuadPart, frequency.QuadPart)));
  EXPECT_LE(time, uint64_t(CounterToMilliseconds(after.QuadPart, frequency.QuadPart)));
  EXPECT_EQ(record[28], 0);
  EXPECT_EQ(LoadU32(record + 29), 1u);
  EXPECT_EQ(record[33], 0);
}

TEST_F(LogChannel, EmptyRingTakesARecordOneByteSmallerThanItsCapacity)
{
  ServedChannel served;
  Register(dir.tools, served.name);
  ProbeLibrary probe(dir.probe);
  ASSERT_TRUE(probe.Loaded());
  // Text of n characters: a record of n + 35 bytes.
  const std::string fits(20959497 - 35, 'f');
  probe.Info("%s", fits.c_str());
  EXPECT_EQ(served.State().writeOffset, 20959497u);
  EXPECT_EQ(LoadU32(served.Ring()), 20959497u);
  EXPECT_EQ(served.Ring()[20959497 - 2], 0);  // the text's NUL; the pad byte follows

  served.SetOffsets(0, 0);
  const std::string tooLong(20959498 - 35, 't');
  probe.Info("%s", tooLong.c_str());
  EXPECT_EQ(served.State().writeOffset, 0u);
  EXPECT_EQ(LoadU32(served.Ring()), 20959497u);  // the earlier record's bytes, untouched
}

TEST_F(LogChannel, RecordWrapsAtTheEndOfTheRing)
{
  ServedChannel served;
  Register(dir.tools, served.name);
  ProbeLibrary probe(dir.probe);
  ASSERT_TRUE(probe.Loaded());
  probe.Info("connect");
  const uint32_t capacity = served.State().capacity;
  served.SetOffsets(capacity - 100, capacity - 100);
  const std::string text(150 - 35, 'w');
  probe.Info("%s", text.c_str());
  EXPECT_EQ(served.State().writeOffset, 50u);
  EXPECT_EQ(LoadU32(served.Ring() + capacity - 100), 150u);
  EXPECT_EQ(served.Ring()[capacity - 100 + 33], 'w');
  EXPECT_EQ(served.Ring()[capacity - 1], 'w');
  EXPECT_EQ(served.Ring()[0], 'w');
  EXPECT_EQ(served.Ring()[48], 0);  // NUL at 33 + 115 = 148 - 100
  EXPECT_EQ(served.Texts(), (std::vector<std::string>{text}));

  served.SetOffsets(capacity - 100, capacity - 100);
  probe.Info("%s", std::string(100 - 35, 'e').c_str());
  EXPECT_EQ(served.State().writeOffset, 0u);
}

TEST_F(LogChannel, ConnectingClientClearsASuspensionLeftInTheChannel)
{
  ServedChannel served;
  served.channel.SetSuspended(true);
  Register(dir.tools, served.name);
  ProbeLibrary probe(dir.probe);
  ASSERT_TRUE(probe.Loaded());
  probe.Info("written");
  EXPECT_EQ(served.Buffer()[kLogChannelSuspendedOffset], 0);
  const std::vector<TLogServerRecord> records = served.channel.Drain();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].fields.suspensionSeen, 0);
}

TEST_F(LogChannel, FailedConnectionIsNotRetried)
{
  const std::wstring name = UniqueChannelName();
  // An event holding the write mutex's name: the mutex can neither be opened nor created.
  TUniqueHandle squatter(CreateEventW(nullptr, TRUE, FALSE, (PICTOR_LOG_WRITE_MUTEX_PREFIX + name).c_str()));
  ASSERT_TRUE(squatter);
  Register(dir.tools, name);
  ProbeLibrary probe(dir.probe);
  ASSERT_TRUE(probe.Loaded());
  probe.Info("lost");
  EXPECT_TRUE(probe.State().connectionAttempted);
  EXPECT_FALSE(probe.State().channelMapped);

  squatter.Reset();
  ServedChannel served;
  served.name = name;
  std::wstring error;
  ASSERT_TRUE(served.channel.Create(name, 2, &error));
  probe.Info("still lost");
  probe.Error("also lost");
  EXPECT_FALSE(probe.State().channelMapped);
  EXPECT_EQ(probe.GetLogLevel(), 0);
  EXPECT_EQ(served.State().writeOffset, 0u);
}

TEST_F(LogChannel, CorruptRingHeaderIsNeverWrittenThrough)
{
  ServedChannel served;
  Register(dir.tools, served.name);
  ProbeLibrary probe(dir.probe);
  ASSERT_TRUE(probe.Loaded());
  probe.Info("connect");
  const uint32_t afterFirst = served.State().writeOffset;
  {
    TMutexHold hold(served.channel.WriteMutex());
    StoreU32(served.Buffer(), 0xFFFFFFF0u);  // a capacity far beyond the mapping
    StoreU32(served.Buffer() + kLogChannelWriteOffset, 0xFFFFFF00u);
  }
  probe.Info("must not be written");  // would land 4 GiB past the ring
  EXPECT_EQ(LoadU32(served.Buffer() + kLogChannelWriteOffset), 0xFFFFFF00u);
  {
    TMutexHold hold(served.channel.WriteMutex());
    StoreU32(served.Buffer(), kLogChannelDefaultCapacity);
    StoreU32(served.Buffer() + kLogChannelWriteOffset, afterFirst);
  }
  probe.Info("fine again");
  EXPECT_EQ(served.Texts(), (std::vector<std::string>{"connect", "fine again"}));
}

}  // namespace
