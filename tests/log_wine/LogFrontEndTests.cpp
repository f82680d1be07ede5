// The front end as a test program sees it through LogCapture: records arrive whole and
// exact, the level byte decides what is sent, the latch and the formatter's conventions.
#include "ProbeLibrary.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

using pictortest::CapturedRecord;
using pictortest::LogCapture;

namespace {

class FrontEnd : public ::testing::Test {
 protected:
  void SetUp() override
  {
    capture.SetLevel(2);
    capture.SetWritingSuspended(false);
    capture.Clear();
  }
  LogCapture& capture = LogCapture::Get();
};

TEST_F(FrontEnd, RecordCarriesKindProcessModuleThreadAndText)
{
  ProbeLibrary probe(ProbePathInProgramDirectory());
  ASSERT_TRUE(probe.Loaded());
  probe.Info("%s exit with %d", "TPictor::GetWebCamerasCount", 3);
  probe.Error("%s unable to enum devices", "TPictor::EnumerateWebCameras");

  const std::vector<CapturedRecord> records = capture.Records();
  ASSERT_EQ(records.size(), 2u);
  const uint32_t moduleNumber = capture.ModuleNumber(L"pictor-log-probe.dll");
  EXPECT_NE(moduleNumber, 0u);
  EXPECT_EQ(records[0].kind, 0u);
  EXPECT_EQ(records[1].kind, 2u);
  for (const CapturedRecord& r : records) {
    EXPECT_EQ(r.processId, GetCurrentProcessId());
    EXPECT_EQ(r.moduleNumber, moduleNumber);
    EXPECT_EQ(r.threadId, GetCurrentThreadId());
    EXPECT_EQ(r.suspensionSeen, 0);
  }
  EXPECT_EQ(records[0].text, "TPictor::GetWebCamerasCount exit with 3");
  EXPECT_EQ(records[1].text, "TPictor::EnumerateWebCameras unable to enum devices");
  EXPECT_LE(records[0].time, records[1].time);
}

TEST_F(FrontEnd, FormatsWithTheWindowsRuntimeConventions)
{
  ProbeLibrary probe(ProbePathInProgramDirectory());
  ASSERT_TRUE(probe.Loaded());
  probe.Info("%%");
  probe.Info("");
  probe.Info("%s camera %S", "TPictor::Open", L"\\\\?\\usb#vid_046d");
  probe.Info("%s sample length %I64d", "TPictor::Copy", -1234567890123LL);
  probe.Info("%s hr %x index %d", "TPictor::Start", 0xC00D36B4u, -5);
  // The runtime's "C" locale has no 8-bit form for U+4E2D: the formatter reports an
  // error and the record still goes out, with an empty text.
  probe.Info("%s %S", "name", L"\x4e2d");
  EXPECT_EQ(capture.Lines(), (std::vector<std::string>{"%", "", "TPictor::Open camera \\\\?\\usb#vid_046d",
                                                       "TPictor::Copy sample length -1234567890123",
                                                       "TPictor::Start hr c00d36b4 index -5", ""}));
}

TEST_F(FrontEnd, LevelByteDecidesWhatIsSentAndWhatGetLogLevelSays)
{
  ProbeLibrary probe(ProbePathInProgramDirectory());
  ASSERT_TRUE(probe.Loaded());
  probe.Info("connect");
  for (int level = 0; level <= 3; ++level) {
    capture.SetLevel(uint8_t(level));
    capture.Clear();
    probe.Info("info %d", level);
    probe.Verbose("verbose %d", level);
    probe.Error("error %d", level);
    const std::string n = std::to_string(level);
    std::vector<std::string> expected{"info " + n, "error " + n};
    if (level >= 2)
      expected.insert(expected.begin() + 1, "verbose " + n);
    EXPECT_EQ(capture.Lines(), expected) << "level " << level;
    EXPECT_EQ(probe.GetLogLevel(), level);
  }
  capture.SetLevel(200);
  EXPECT_EQ(probe.GetLogLevel(), 200);
}

TEST_F(FrontEnd, VerboseBeforeTheFirstConnectingCallIsDropped)
{
  ProbeLibrary probe(ProbePathInProgramDirectory());
  ASSERT_TRUE(probe.Loaded());
  probe.Verbose("too early");
  EXPECT_EQ(probe.GetLogLevel(), 0);  // does not connect either
  EXPECT_FALSE(probe.State().channelMapped);
  probe.Info("first");
  EXPECT_EQ(probe.GetLogLevel(), 2);
  probe.Verbose("now");
  EXPECT_EQ(capture.Lines(), (std::vector<std::string>{"first", "now"}));
}

TEST_F(FrontEnd, SuspensionDropsRecordsAndLatchesForGood)
{
  ProbeLibrary probe(ProbePathInProgramDirectory());
  ASSERT_TRUE(probe.Loaded());
  probe.Info("before");
  capture.SetWritingSuspended(true);
  probe.Info("while suspended");
  capture.SetWritingSuspended(false);
  probe.Info("after");
  probe.Error("later");
  const std::vector<CapturedRecord> records = capture.Records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].text, "before");
  EXPECT_EQ(records[0].suspensionSeen, 0);
  EXPECT_EQ(records[1].text, "after");
  EXPECT_EQ(records[1].suspensionSeen, 1);
  EXPECT_EQ(records[2].text, "later");
  EXPECT_EQ(records[2].suspensionSeen, 1);
}

TEST_F(FrontEnd, BuffersGrowInSteps)
{
  {
    ProbeLibrary probe(ProbePathInProgramDirectory());
    ASSERT_TRUE(probe.Loaded());
    probe.Info("");
    EXPECT_EQ(probe.State().formatBufferSize, 102400u);
    EXPECT_EQ(probe.State().recordBufferSize, 102400u);
    // 102,398 characters: 102,399 format bytes fit one step, the 102,433-byte record not.
    const std::string text98(102398, 'a');
    probe.Info("%s", text98.c_str());
    EXPECT_EQ(probe.State().formatBufferSize, 102400u);
    EXPECT_EQ(probe.State().recordBufferSize, 204800u);
    // 102,399 characters need exactly 102,400 format bytes: the next step.
    const std::string text99(102399, 'b');
    probe.Info("%s", text99.c_str());
    EXPECT_EQ(probe.State().formatBufferSize, 204800u);
    EXPECT_EQ(probe.State().recordBufferSize, 204800u);
    // Shorter messages reuse the grown buffers.
    probe.Info("short");
    EXPECT_EQ(probe.State().formatBufferSize, 204800u);
    EXPECT_EQ(capture.Lines(), (std::vector<std::string>{"", text98, text99, "short"}));
  }
}

TEST_F(FrontEnd, ThreadsWriteWholeRecordsOneAfterAnother)
{
  ProbeLibrary probe(ProbePathInProgramDirectory());
  ASSERT_TRUE(probe.Loaded());
  constexpr int kThreads = 8;
  constexpr int kMessages = 300;
  std::vector<std::thread> threads;
  std::vector<DWORD> threadIds(kThreads);
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&probe, &threadIds, t] {
      threadIds[t] = GetCurrentThreadId();
      for (int m = 0; m < kMessages; ++m)
        probe.Info("thread %d message %d %s", t, m, std::string(size_t(t * 37 + m % 50), 'x').c_str());
    });
  for (std::thread& th : threads)
    th.join();

  const std::vector<CapturedRecord> records = capture.Records();
  ASSERT_EQ(records.size(), size_t(kThreads * kMessages));
  std::vector<int> next(kThreads, 0);
  for (const CapturedRecord& r : records) {
    int t = -1, m = -1;
    ASSERT_EQ(std::sscanf(r.text.c_str(), "thread %d message %d", &t, &m), 2) << r.text;
    ASSERT_TRUE(t >= 0 && t < kThreads);
    // Each thread's messages arrive in order, each one whole.
    EXPECT_EQ(m, next[t]++);
    EXPECT_EQ(r.text, "thread " + std::to_string(t) + " message " + std::to_string(m) + " " +
                          std::string(size_t(t * 37 + m % 50), 'x'));
    EXPECT_EQ(r.threadId, threadIds[t]);
  }
}

}  // namespace
