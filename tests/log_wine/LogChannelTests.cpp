// The channel client against a server the test plays itself: which registration entry a
// library finds, when it connects, and what it leaves in the ring.
#include "LogProbe.h"
#include "log/LogObjects.h"
#include "log/LogRecord.h"
#include "log/LogRing.h"
#include "tools/logserver/LogServer.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <string>
#include <vector>

namespace {

std::wstring Cased(std::wstring s, wint_t (*change)(wint_t))
{
  for (wchar_t& c : s)
    c = wchar_t(change(c));
  return s;
}

std::wstring UniqueChannelName()
{
  static int counter = 0;
  return L"logtest-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
}

// One channel the test serves; it reads the ring itself, so the bytes stay where the
// client put them.
struct ServedChannel {
  explicit ServedChannel(const std::wstring& channelName = UniqueChannelName()) : name(channelName)
  {
    std::wstring error;
    created = channel.Create(name, 0, &error);
  }
  uint8_t* Ring() const { return channel.Buffer() + kLogChannelHeaderSize; }
  TLogRingState State() const { return LoadLogRingState(channel.Buffer()); }
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
  // Loads a fresh copy of the probe from the private directory and logs one line.
  void LogFromFreshCopy(const char* text)
  {
    ProbeLibrary probe(dir.probe);
    ASSERT_TRUE(probe.Loaded());
    probe.Info("%s", text);
  }

  PrivateDirectory dir;
  TLogServerTableHost table;
  std::vector<std::wstring> registered;
};

TEST_F(LogChannel, EntryPathIsAPrefixOfTheLibraryDirectoryWithAsciiCaseFolded)
{
  const std::wstring noBackslash = dir.base.substr(0, dir.base.size() - 1);
  for (const std::wstring& entry :
       {Cased(dir.base, std::towlower), Cased(noBackslash, std::towupper), Cased(dir.tools, std::towupper), std::wstring()}) {
    ServedChannel served;
    ASSERT_TRUE(served.created);
    Register(entry, served.name);
    LogFromFreshCopy("found");
    EXPECT_EQ(served.Texts(), std::vector<std::string>{"found"}) << std::string(entry.begin(), entry.end());
    table.Unregister(ToU16(served.name));
  }
}

TEST_F(LogChannel, ModuleNumberIsTakenAtLoadOnly)
{
  ServedChannel served;
  Register(dir.tools, served.name, {{3, ToU16(dir.probe + L"x")}, {7, ToU16(Cased(dir.probe, std::towupper))}});
  LogFromFreshCopy("listed");
  table.Unregister(ToU16(served.name));
  {
    // Registered after the load: the next call connects, with module number 0.
    ProbeLibrary probe(dir.probe);
    ASSERT_TRUE(probe.Loaded());
    probe.Info("before the server knows the directory");
    EXPECT_FALSE(probe.State().connectionAttempted);
    Register(dir.tools, served.name, {{7, ToU16(dir.probe)}});
    probe.Error("after");
  }
  const std::vector<TLogServerRecord> records = served.channel.Drain();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].text + " " + std::to_string(records[0].fields.moduleNumber), "listed 7");
  EXPECT_EQ(records[1].text + " " + std::to_string(records[1].fields.moduleNumber), "after 0");
}

TEST_F(LogChannel, ClientCreatesAMissingChannelAndFillsItToOneByteBelowItsCapacity)
{
  // The server lists a channel name but has not created the channel's objects.
  const std::wstring name = UniqueChannelName();
  Register(dir.tools, name);
  ProbeLibrary probe(dir.probe);
  ASSERT_TRUE(probe.Loaded());
  probe.Info("");
  probe.Verbose("level 0: not sent");
  ServedChannel served(name);  // opens what the client created
  ASSERT_TRUE(served.created);
  EXPECT_EQ(served.State().capacity, kLogChannelDefaultCapacity);
  EXPECT_EQ(served.State().writeOffset, 35u);
  EXPECT_EQ(served.Texts(), std::vector<std::string>{""});

  // An empty ring takes a record one byte smaller than its capacity (text of n
  // characters: n + 35 bytes), and refuses one byte more.
  probe.Info("%s", std::string(kLogChannelDefaultCapacity - 1 - 35, 'f').c_str());
  EXPECT_EQ(served.State().writeOffset, 34u);
  EXPECT_EQ(LoadU32(served.Ring() + 35), kLogChannelDefaultCapacity - 1);
  ASSERT_EQ(served.Texts().size(), 1u);
  const uint32_t where = LoadU32(served.Ring() + 34);
  probe.Info("%s", std::string(kLogChannelDefaultCapacity - 35, 't').c_str());
  EXPECT_EQ(served.State().writeOffset, 34u);
  EXPECT_EQ(LoadU32(served.Ring() + 34), where);
}

TEST_F(LogChannel, ConnectingClientClearsASuspensionLeftInTheChannel)
{
  ServedChannel served;
  served.channel.SetSuspended(true);
  Register(dir.tools, served.name);
  LogFromFreshCopy("written");
  EXPECT_EQ(served.channel.Buffer()[kLogChannelSuspendedOffset], 0);
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
  ServedChannel served(name);
  ASSERT_TRUE(served.created);
  served.channel.SetLevel(2);
  probe.Info("still lost");
  probe.Error("also lost");
  EXPECT_FALSE(probe.State().channelMapped);
  EXPECT_EQ(probe.GetLogLevel(), 0);
  EXPECT_EQ(served.State().writeOffset, 0u);
}

}  // namespace
