// The log channel under Wine, in three parts. The front end as a test program sees it
// through LogCapture: records arrive whole and exact, the level byte decides what is sent,
// the suspension latch, concurrent writers. The client against a server the test plays
// itself: which registration entry a library finds, when it connects, what it leaves in
// the ring and in the process when unloaded. pictor-logserver.exe in a process of its own,
// the library in this one.
#include "LogProbe.h"
#include "log/LogObjects.h"
#include "log/LogRing.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ProcessHandles.h"
#include "tools/logserver/LogServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <regex>
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
  probe.Error("%s hr %x index %d %%", "Start", 0xC00D36B4u, -5);
  probe.Info("");
  probe.Info("camera %S length %I64d", L"\\\\?\\usb#vid_046d", -1234567890123LL);
  // The runtime's "C" locale has no 8-bit form for U+4E2D: the formatter reports an
  // error and the record still goes out, with an empty text.
  probe.Info("%s %S", "name", L"\x4e2d");
  // 102,399 characters and their NUL fill a 102,400-byte buffer step exactly.
  const std::string longest(102399, 'b');
  probe.Info("%s", longest.c_str());
  QueryPerformanceCounter(&after);
  const std::vector<CapturedRecord> records = capture.Records();
  EXPECT_EQ(capture.Lines(),
            (std::vector<std::string>{"Start hr c00d36b4 index -5 %", "",
                                      "camera \\\\?\\usb#vid_046d length -1234567890123", "", longest}));
  for (const CapturedRecord& r : records) {
    EXPECT_EQ(r.kind, &r == &records[0] ? kLogRecordKindError : kLogRecordKindInfo);
    EXPECT_EQ(r.processId, GetCurrentProcessId());
    EXPECT_NE(r.moduleNumber, 0u);  // registered with the directory (its value: LogChannel tests)
    EXPECT_EQ(r.threadId, GetCurrentThreadId());
    EXPECT_GE(r.time, uint64_t(CounterToMilliseconds(before.QuadPart, frequency.QuadPart)));
    EXPECT_LE(r.time, uint64_t(CounterToMilliseconds(after.QuadPart, frequency.QuadPart)));
  }
}

TEST_F(FrontEnd, VerboseWaitsForTheFirstConnectionThenTheLevelByteDecidesAndSuspensionLatches)
{
  probe.Verbose("too early");
  EXPECT_EQ(probe.GetLogLevel(), 0);  // does not connect either
  EXPECT_FALSE(probe.State().channelMapped);
  probe.Info("first");
  EXPECT_EQ(capture.Lines(), std::vector<std::string>{"first"});
  for (int level : {0, 1, 2, 3, 200}) {
    capture.SetLevel(uint8_t(level));
    capture.Clear();
    probe.Info("info");
    probe.Verbose("verbose");
    probe.Error("error");
    EXPECT_EQ(capture.Lines(), (level >= 2 ? std::vector<std::string>{"info", "verbose", "error"}
                                           : std::vector<std::string>{"info", "error"}))
        << "level " << level;
    EXPECT_EQ(probe.GetLogLevel(), level);
  }
  capture.Clear();
  probe.Info("before");
  capture.SetWritingSuspended(true);
  probe.Info("while suspended");
  capture.SetWritingSuspended(false);
  probe.Info("after");
  probe.Error("later");
  std::string seen;
  for (const CapturedRecord& r : capture.Records()) seen += r.text + " " + std::to_string(r.suspensionSeen) + ", ";
  EXPECT_EQ(seen, "before 0, after 1, later 1, ");
}

// A writer that finds the channel busy for its whole bounded wait drops the record and
// the next record that gets through says how many went: on a loaded machine the capture's
// reader can be preempted while it holds the mutex. Every message is therefore either
// delivered whole, in its thread's order, or counted in a notice.
TEST_F(FrontEnd, ThreadsWriteWholeRecordsOneAfterAnotherAndAccountForEveryDrop)
{
  constexpr int kThreads = 8, kMessages = 300;
  auto text = [](int t, int m) {
    return "thread " + std::to_string(t) + " " + std::string(size_t(t * 37 + m % 50), 'x');
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int m = 0; m < kMessages; ++m) probe.Info("%s %d", text(t, m).c_str(), m);
    });
  for (std::thread& th : threads) th.join();
  // A last record carries the notice of drops at the very end; it may itself be dropped.
  int attempts = 0, delivered = 0, dropped = 0, ends = 0;
  std::vector<int> next(kThreads, 0);
  size_t seen = 0;  // the capture keeps every record since the test began
  while (ends == 0 && attempts < 100) {
    if (attempts++ > 0) Sleep(10);
    probe.Info("end");
    const std::vector<CapturedRecord> records = capture.Records();
    for (; seen < records.size(); ++seen) {
      const CapturedRecord& r = records[seen];
      int t = -1, count = 0, m = -1;
      if (r.text == "end") {
        ++ends;
      } else if (std::sscanf(r.text.c_str(), "%d log records were dropped because", &count) == 1) {
        EXPECT_EQ(r.text, std::to_string(count) + " log records were dropped because the log channel was busy");
        dropped += count;
      } else if (std::sscanf(r.text.c_str(), "thread %d", &t) == 1 && t >= 0 && t < kThreads) {
        const size_t space = r.text.rfind(' ');
        m = std::atoi(r.text.c_str() + space + 1);
        EXPECT_GE(m, next[t]) << r.text;                          // in order
        EXPECT_EQ(r.text, text(t, m) + " " + std::to_string(m));  // whole
        next[t] = m + 1;
        ++delivered;
      } else {
        ADD_FAILURE() << r.text;
      }
    }
  }
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(delivered + ends + dropped, kThreads * kMessages + attempts);
}

std::wstring Cased(std::wstring s, wint_t (*change)(wint_t))
{
  std::transform(s.begin(), s.end(), s.begin(), change);
  return s;
}

// One channel the test serves; it reads the ring itself, so the bytes stay where the
// client put them.
struct ServedChannel {
  explicit ServedChannel(std::wstring channelName = {}) : name(std::move(channelName))
  {
    static int counter = 0;
    if (name.empty()) name = L"logtest-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
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
  std::wstring name, error;
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
    for (const std::wstring& name : registered) table.Unregister(ToU16(name));
  }
  void Register(const std::wstring& entryPath, const std::wstring& channel,
                std::vector<TLogModuleRegistration> modules = {})
  {
    ASSERT_TRUE(table.Register({ToU16(entryPath), ToU16(channel), std::move(modules)}));
    registered.push_back(channel);
  }
  PrivateDirectory dir;
  TLogServerTableHost table;
  std::vector<std::wstring> registered;
};

TEST_F(LogChannel, EntryPathIsAPrefixOfTheLibraryDirectoryWithAsciiCaseFoldedAndNamesTheModule)
{
  ServedChannel found;  // the table walk itself is checked natively
  ASSERT_TRUE(found.created);
  Register(Cased(dir.base, std::towlower), found.name,
           {{3, ToU16(dir.probe + L"x")}, {7, ToU16(Cased(dir.probe, std::towupper))}});
  {
    ProbeLibrary fresh(dir.probe);
    ASSERT_TRUE(fresh.Loaded());
    fresh.Info("found");
  }
  EXPECT_EQ(found.Texts(), std::vector<std::string>{"found module 7"});
  table.Unregister(ToU16(found.name));
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

TEST_F(LogChannel, ClientCreatesAChannelTheServerListsButHasNotCreated)
{
  const std::wstring missing = L"logtest-missing-" + std::to_wstring(GetCurrentProcessId());
  Register(dir.tools, missing);
  ProbeLibrary creator(dir.probe);
  ASSERT_TRUE(creator.Loaded());
  creator.Info("");
  ServedChannel created(missing);  // opens what the client created
  ASSERT_TRUE(created.created);
  EXPECT_EQ(created.State().capacity, kLogChannelDefaultCapacity);
  EXPECT_EQ(created.State().writeOffset, 35u);
  EXPECT_EQ(created.Texts(), std::vector<std::string>{""});
}

// Unloading a connected copy closes all it opened: the registration mutex and table,
// and the channel's event, write mutex and buffer. Unconnected copies: window_unload_handles.
TEST_F(LogChannel, RepeatedLoadsOfAConnectedCopyLeaveNoHandleOpen)
{
  ServedChannel served;
  Register(dir.tools, served.name);
  FreeLibrary(LoadLibraryW(dir.probe.c_str()));  // the loader's own first-time work is not the library's
  const std::vector<uintptr_t> before = pictortest::OpenHandles();
  for (int i = 0; i < 25; ++i) {
    ProbeLibrary probe(dir.probe);
    ASSERT_TRUE(probe.Loaded());
    probe.Info("load %d", i);
    if (i == 0) {
      EXPECT_EQ(pictortest::OpenHandles().size(), before.size() + 5);
    }
  }
  EXPECT_EQ(pictortest::OpenHandles(), before);
  EXPECT_EQ(served.Texts().size(), 25u);
}

// The server with `arguments`, its console output going to NUL; ended when destroyed.
struct ServerProcess {
  explicit ServerProcess(const std::wstring& arguments)
  {
    std::wstring command = L"\"" + ProgramDirectory() + L"pictor-logserver.exe\" " + arguments;
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    nul.Reset(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, 3, &inherit, OPEN_EXISTING, 0, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul.Get();
    PROCESS_INFORMATION info{};
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
      process.Reset(info.hProcess), thread.Reset(info.hThread);
    else
      createError = GetLastError();
  }
  ~ServerProcess()
  {
    if (process && TerminateProcess(process.Get(), 1))
      WaitForSingleObject(process.Get(), 30000);  // gone before the next one starts
  }
  // The exit code, or -1 when the process did not end within 30 s.
  long WaitExit()
  {
    DWORD code = 0;
    const bool ended = process && WaitForSingleObject(process.Get(), 30000) == WAIT_OBJECT_0;
    return ended && GetExitCodeProcess(process.Get(), &code) ? long(code) : -1;
  }
  TUniqueHandle nul, process, thread;
  DWORD createError = 0;
};

TEST(LogServerProcess, PrintsTheRecordsOfALibraryInAnotherProcessAndUnregistersAtStop)
{
  PrivateDirectory dir;
  ASSERT_TRUE(dir.copied);
  const std::wstring channel = L"servertest-" + std::to_wstring(GetCurrentProcessId());
  const std::wstring stopName = channel + L"-stop";
  const std::wstring outFile = dir.base + L"server-output.txt";
  TLogServerTableHost table;
  std::wstring error;
  ASSERT_TRUE(table.Open(&error));
  auto registered = [&] {
    for (const TLogDirectoryRegistration& e : table.List())
      if (FromU16(e.channel) == channel) return true;
    return false;
  };

  // No trailing backslash inside the quotes: \" would escape the quote.
  ServerProcess server(L"--dir \"" + dir.tools.substr(0, dir.tools.size() - 1) + L"\" --channel " + channel +
                       L" --level 2 --out \"" + outFile + L"\" --stop-event " + stopName);
  ASSERT_TRUE(server.process) << "CreateProcess error " << server.createError;
  for (int waited = 0; !registered() && waited < 30000; waited += 50) Sleep(50);
  ASSERT_TRUE(registered());
  {
    ProbeLibrary probe(dir.probe);
    ASSERT_TRUE(probe.Loaded());
    probe.Info("%s exit with %d", "TPictor::GetWebCamerasCount", 2);
    probe.Verbose("frame %d", 17);
    probe.Error("unable to %S\n\x1b[2J\x7f", L"activate");  // control characters are escaped
  }
  TUniqueHandle stop(OpenEventW(EVENT_MODIFY_STATE, FALSE, stopName.c_str()));  // exists once registered
  ASSERT_TRUE(stop);
  SetEvent(stop.Get());
  ASSERT_EQ(server.WaitExit(), 0);
  EXPECT_FALSE(registered());

  // Fixed-width "seconds.millis pid module thread kind text", module 1 as the only DLL there;
  // control characters in the text as \xNN.
  std::string text;
  FILE* f = _wfopen(outFile.c_str(), L"rb");
  ASSERT_NE(f, nullptr);
  for (int c; (c = std::fgetc(f)) != EOF;) text += char(c);
  std::fclose(f);
  DeleteFileW(outFile.c_str());
  char ids[40];
  std::snprintf(ids, sizeof ids, " %6lu   1 %6lu ", GetCurrentProcessId(), GetCurrentThreadId());
  const std::string head = "[ 0-9]{10}\\.[0-9]{3}" + std::string(ids);
  EXPECT_TRUE(std::regex_match(
      text, std::regex(head + "info  TPictor::GetWebCamerasCount exit with 2\n" + head + "info  frame 17\n" + head +
                       R"(ERROR unable to activate\\x0a\\x1b\[2J\\x7f)"
                       "\n")))
      << text;
}

}  // namespace
