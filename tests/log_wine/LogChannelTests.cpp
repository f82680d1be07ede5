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

// One channel the test serves; it reads the ring itself, so the bytes stay where the
// client put them.
struct ServedChannel {
  explicit ServedChannel(std::wstring channelName = {}) : name(std::move(channelName))
  {
    static int counter = 0;
    if (name.empty())
      name = L"logtest-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
    std::wstring error;
    created = channel.Create(name, 0, &error);
  }
  TLogRingState State() const { return LoadLogRingState(channel.Buffer()); }
  std::vector<std::string> Texts()
  {
    std::vector<std::string> texts;
    for (const TLogServerRecord& r : channel.Drain())
      texts.push_back(r.text + (r.fields.moduleNumber ? " module " + std::to_string(r.fields.moduleNumber) : ""));
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
  void Register(const std::wstring& entryPath, const std::wstring& channel, std::vector<TLogModuleRegistration> modules = {})
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

TEST_F(LogChannel, EntryPathIsAPrefixOfTheLibraryDirectoryWithAsciiCaseFoldedAndNamesTheModule)
{
  const std::wstring noBackslash = dir.base.substr(0, dir.base.size() - 1);
  for (const std::wstring& entry : {Cased(dir.base, std::towlower), Cased(noBackslash, std::towupper), std::wstring()}) {
    ServedChannel served;
    ASSERT_TRUE(served.created);
    Register(entry, served.name, {{3, ToU16(dir.probe + L"x")}, {7, ToU16(Cased(dir.probe, std::towupper))}});
    LogFromFreshCopy("found");
    EXPECT_EQ(served.Texts(), std::vector<std::string>{"found module 7"}) << std::string(entry.begin(), entry.end());
    table.Unregister(ToU16(served.name));
  }
  // Registered after the load: the next call connects, and the module number stays 0.
  ServedChannel served;
  ProbeLibrary probe(dir.probe);
  ASSERT_TRUE(probe.Loaded());
  probe.Info("before the server knows the directory");
  EXPECT_FALSE(probe.State().connectionAttempted);
  Register(dir.tools, served.name, {{7, ToU16(dir.probe)}});
  probe.Error("after");
  EXPECT_EQ(served.Texts(), std::vector<std::string>{"after"});
}

TEST_F(LogChannel, ClientCreatesAMissingChannelAndFillsItToOneByteBelowItsCapacity)
{
  const std::wstring name = L"logtest-missing-" + std::to_wstring(GetCurrentProcessId());
  Register(dir.tools, name);  // the server lists a channel name but has not created it
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
  const uint8_t* ring = served.channel.Buffer() + kLogChannelHeaderSize;
  probe.Info("%s", std::string(kLogChannelDefaultCapacity - 1 - 35, 'f').c_str());
  EXPECT_EQ(served.State().writeOffset, 34u);
  EXPECT_EQ(LoadU32(ring + 35), kLogChannelDefaultCapacity - 1);
  ASSERT_EQ(served.Texts().size(), 1u);
  const uint32_t where = LoadU32(ring + 34);
  probe.Info("%s", std::string(kLogChannelDefaultCapacity - 35, 't').c_str());
  EXPECT_EQ(served.State().writeOffset, 34u);
  EXPECT_EQ(LoadU32(ring + 34), where);
}

TEST_F(LogChannel, ConnectingClearsASuspensionLeftInTheChannelAndAFailedConnectionIsNotRetried)
{
  ServedChannel suspended;
  suspended.channel.SetSuspended(true);
  Register(dir.tools, suspended.name);
  LogFromFreshCopy("written");
  EXPECT_EQ(suspended.channel.Buffer()[kLogChannelSuspendedOffset], 0);
  const std::vector<TLogServerRecord> records = suspended.channel.Drain();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].fields.suspensionSeen, 0);
  table.Unregister(ToU16(suspended.name));

  // An event holding the write mutex's name: the mutex can neither be opened nor created.
  const std::wstring name = L"logtest-squatted-" + std::to_wstring(GetCurrentProcessId());
  TUniqueHandle squatter(CreateEventW(nullptr, TRUE, FALSE, (PICTOR_LOG_WRITE_MUTEX_PREFIX + name).c_str()));
  ASSERT_TRUE(squatter);
  Register(dir.tools, name);
  ProbeLibrary probe(dir.probe);
  ASSERT_TRUE(probe.Loaded());
  probe.Info("lost");
  EXPECT_TRUE(probe.State().connectionAttempted);
  squatter.Reset();
  ServedChannel served(name);
  ASSERT_TRUE(served.created);
  served.channel.SetLevel(2);
  probe.Error("also lost");
  EXPECT_FALSE(probe.State().channelMapped);
  EXPECT_EQ(probe.GetLogLevel(), 0);
  EXPECT_EQ(served.State().writeOffset, 0u);
}

}  // namespace
