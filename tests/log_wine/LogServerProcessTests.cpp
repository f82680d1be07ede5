// pictor-logserver.exe in a process of its own, the library in this one, one prefix.
#include "PrivateDirectory.h"
#include "ProbeLibrary.h"
#include "tools/logserver/LogServer.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct ServerProcess {
  // Starts the server with `arguments`; its console output goes to NUL.
  explicit ServerProcess(const std::wstring& arguments)
  {
    std::wstring command = L"\"" + ProgramDirectory() + L"pictor-logserver.exe\" " + arguments;
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    nul.Reset(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                          OPEN_EXISTING, 0, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul.Get();
    startup.hStdOutput = nul.Get();
    startup.hStdError = nul.Get();
    PROCESS_INFORMATION info{};
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
      process.Reset(info.hProcess);
      CloseHandle(info.hThread);
    }
  }
  ~ServerProcess()
  {
    if (process && WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT)
      TerminateProcess(process.Get(), 1);
  }
  // Exit code, or -1 when it did not end within `ms`.
  long WaitExit(DWORD ms)
  {
    if (!process || WaitForSingleObject(process.Get(), ms) != WAIT_OBJECT_0)
      return -1;
    DWORD code = 0;
    GetExitCodeProcess(process.Get(), &code);
    return long(code);
  }
  TUniqueHandle nul;
  TUniqueHandle process;
};

bool WaitForChannel(TLogServerTableHost& table, const std::wstring& channel)
{
  for (int i = 0; i < 200; ++i) {
    for (const TLogDirectoryRegistration& e : table.List())
      if (FromU16(e.channel) == channel)
        return true;
    Sleep(50);
  }
  return false;
}

std::vector<std::string> ReadLines(const std::wstring& path)
{
  std::vector<std::string> lines;
  FILE* f = _wfopen(path.c_str(), L"rb");
  if (!f)
    return lines;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, f)) {
    std::string line(buffer);
    if (!line.empty() && line.back() == '\n')
      line.pop_back();
    lines.push_back(line);
  }
  std::fclose(f);
  return lines;
}

// "seconds.millis pid module thread kind text" as the server prints it.
struct PrintedLine {
  unsigned long pid = 0, module = 0, thread = 0;
  std::string kind, text;
};

PrintedLine Parse(const std::string& line)
{
  PrintedLine p;
  unsigned long long seconds = 0, millis = 0;
  char kind[16] = {};
  int used = 0;
  if (std::sscanf(line.c_str(), "%llu.%llu %lu %lu %lu %15s %n", &seconds, &millis, &p.pid, &p.module, &p.thread,
                  kind, &used) == 6) {
    p.kind = kind;
    p.text = line.substr(size_t(used));
  }
  return p;
}

TEST(LogServerProcess, PrintsTheRecordsOfALibraryInAnotherProcess)
{
  PrivateDirectory dir;
  ASSERT_TRUE(dir.copied);
  const std::wstring channel = L"servertest-" + std::to_wstring(GetCurrentProcessId());
  const std::wstring stopName = channel + L"-stop";
  const std::wstring outFile = dir.base + L"server-output.txt";
  TLogServerTableHost table;
  std::wstring error;
  ASSERT_TRUE(table.Open(&error));

  // No trailing backslash inside the quotes: \" would escape the quote.
  const std::wstring toolsArgument = dir.tools.substr(0, dir.tools.size() - 1);
  ServerProcess server(L"--dir \"" + toolsArgument + L"\" --channel " + channel + L" --level 2 --out \"" + outFile +
                       L"\" --stop-event " + stopName);
  ASSERT_TRUE(server.process);
  ASSERT_TRUE(WaitForChannel(table, channel));
  {
    ProbeLibrary probe(dir.probe);
    ASSERT_TRUE(probe.Loaded());
    probe.Info("%s exit with %d", "TPictor::GetWebCamerasCount", 2);
    probe.Verbose("%s frame %d", "TPictor::ProcessRGB32Sample", 17);
    probe.Error("%s unable to %S", "TPictor::Open", L"activate");
  }
  // The event exists once the server has registered.
  TUniqueHandle stop(OpenEventW(EVENT_MODIFY_STATE, FALSE, stopName.c_str()));
  ASSERT_TRUE(stop);
  SetEvent(stop.Get());
  ASSERT_EQ(server.WaitExit(10000), 0);

  const std::vector<std::string> lines = ReadLines(outFile);
  DeleteFileW(outFile.c_str());
  ASSERT_EQ(lines.size(), 3u);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"info", "TPictor::GetWebCamerasCount exit with 2"},
      {"info", "TPictor::ProcessRGB32Sample frame 17"},
      {"ERROR", "TPictor::Open unable to activate"}};
  for (size_t i = 0; i < lines.size(); ++i) {
    const PrintedLine p = Parse(lines[i]);
    EXPECT_EQ(p.pid, GetCurrentProcessId()) << lines[i];
    EXPECT_EQ(p.module, 1u) << lines[i];  // the only DLL in the directory
    EXPECT_EQ(p.thread, GetCurrentThreadId()) << lines[i];
    EXPECT_EQ(p.kind, expected[i].first) << lines[i];
    EXPECT_EQ(p.text, expected[i].second) << lines[i];
  }
  // A stopped server takes its entry out of the table.
  for (const TLogDirectoryRegistration& e : table.List())
    EXPECT_NE(FromU16(e.channel), channel);
}

TEST(LogServerProcess, RefusesBadArgumentsWithExitCode2)
{
  for (const wchar_t* arguments : {L"--level 4", L"--frobnicate", L"--dir"}) {
    ServerProcess server(arguments);
    ASSERT_TRUE(server.process);
    EXPECT_EQ(server.WaitExit(10000), 2) << arguments;
  }
}

}  // namespace
