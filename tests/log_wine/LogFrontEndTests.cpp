// The front end as a test program sees it through LogCapture: records arrive whole and
// exact, the level byte decides what is sent, the suspension latch, concurrent writers.
#include "LogProbe.h"
#include "log/LogRecord.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

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
    ASSERT_TRUE(probe.Loaded());
    capture.SetLevel(2);
    capture.SetWritingSuspended(false);
    capture.Clear();
  }
  LogCapture& capture = LogCapture::Get();
  ProbeLibrary probe{ProbePathInProgramDirectory()};  // not connected before its first line
};

TEST_F(FrontEnd, RecordCarriesKindProcessModuleThreadTimeAndTheRuntimesFormatting)
{
  LARGE_INTEGER frequency, before, after;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&before);
  probe.Info("%s exit with %d", "TPictor::GetWebCamerasCount", 3);
  probe.Error("%s hr %x index %d", "TPictor::Start", 0xC00D36B4u, -5);
  QueryPerformanceCounter(&after);
  const std::vector<CapturedRecord> records = capture.Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].kind, kLogRecordKindInfo);
  EXPECT_EQ(records[1].kind, kLogRecordKindError);
  EXPECT_EQ(records[0].text, "TPictor::GetWebCamerasCount exit with 3");
  EXPECT_EQ(records[1].text, "TPictor::Start hr c00d36b4 index -5");
  for (const CapturedRecord& r : records) {
    EXPECT_EQ(r.processId, GetCurrentProcessId());
    EXPECT_EQ(r.moduleNumber, capture.ModuleNumber(L"pictor-log-probe.dll"));
    EXPECT_NE(r.moduleNumber, 0u);
    EXPECT_EQ(r.threadId, GetCurrentThreadId());
    EXPECT_GE(r.time, uint64_t(CounterToMilliseconds(before.QuadPart, frequency.QuadPart)));
    EXPECT_LE(r.time, uint64_t(CounterToMilliseconds(after.QuadPart, frequency.QuadPart)));
  }

  capture.Clear();
  probe.Info("%%");
  probe.Info("");
  probe.Info("camera %S", L"\\\\?\\usb#vid_046d");
  probe.Info("sample length %I64d", -1234567890123LL);
  // The runtime's "C" locale has no 8-bit form for U+4E2D: the formatter reports an
  // error and the record still goes out, with an empty text.
  probe.Info("%s %S", "name", L"\x4e2d");
  // 102,399 characters and their NUL fill a 102,400-byte buffer step exactly.
  const std::string longest(102399, 'b');
  probe.Info("%s", longest.c_str());
  EXPECT_EQ(capture.Lines(), (std::vector<std::string>{"%", "", "camera \\\\?\\usb#vid_046d",
                                                       "sample length -1234567890123", "", longest}));
}

TEST_F(FrontEnd, VerboseWaitsForTheFirstConnectionThenTheLevelByteDecides)
{
  probe.Verbose("too early");
  EXPECT_EQ(probe.GetLogLevel(), 0);  // does not connect either
  EXPECT_FALSE(probe.State().channelMapped);
  probe.Info("first");
  EXPECT_EQ(capture.Lines(), std::vector<std::string>{"first"});
  for (int level = 0; level <= 3; ++level) {
    capture.SetLevel(uint8_t(level));
    capture.Clear();
    probe.Info("info");
    probe.Verbose("verbose");
    probe.Error("error");
    const std::vector<std::string> expected =
        level >= 2 ? std::vector<std::string>{"info", "verbose", "error"} : std::vector<std::string>{"info", "error"};
    EXPECT_EQ(capture.Lines(), expected) << "level " << level;
    EXPECT_EQ(probe.GetLogLevel(), level);
  }
  capture.SetLevel(200);
  EXPECT_EQ(probe.GetLogLevel(), 200);
}

TEST_F(FrontEnd, SuspensionDropsRecordsAndLatchesForGood)
{
  probe.Info("before");
  capture.SetWritingSuspended(true);
  probe.Info("while suspended");
  capture.SetWritingSuspended(false);
  probe.Info("after");
  probe.Error("later");
  std::string seen;
  for (const CapturedRecord& r : capture.Records())
    seen += r.text + " " + std::to_string(r.suspensionSeen) + ", ";
  EXPECT_EQ(seen, "before 0, after 1, later 1, ");
}

TEST_F(FrontEnd, ThreadsWriteWholeRecordsOneAfterAnother)
{
  constexpr int kThreads = 8, kMessages = 300;
  auto text = [](int t, int m) {
    return "thread " + std::to_string(t) + " message " + std::to_string(m) + " " + std::string(size_t(t * 37 + m % 50), 'x');
  };
  std::vector<std::thread> threads;
  std::vector<DWORD> threadIds(kThreads);
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      threadIds[t] = GetCurrentThreadId();
      for (int m = 0; m < kMessages; ++m)
        probe.Info("%s", text(t, m).c_str());
    });
  for (std::thread& th : threads)
    th.join();

  const std::vector<CapturedRecord> records = capture.Records();
  ASSERT_EQ(records.size(), size_t(kThreads * kMessages));
  std::vector<int> next(kThreads, 0);
  for (const CapturedRecord& r : records) {
    int t = -1;
    ASSERT_EQ(std::sscanf(r.text.c_str(), "thread %d", &t), 1) << r.text;
    ASSERT_TRUE(t >= 0 && t < kThreads) << r.text;
    EXPECT_EQ(r.text, text(t, next[t]++));  // each thread's messages whole and in order
    EXPECT_EQ(r.threadId, threadIds[t]);
  }
}

}  // namespace
