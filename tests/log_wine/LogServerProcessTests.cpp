// pictor-logserver.exe in a process of its own, the library in this one, one prefix.
#include "LogProbe.h"
#include "tools/logserver/LogServer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// The server with `arguments`, its console output going to NUL.
struct ServerProcess {
  explicit ServerProcess(const std::wstring& arguments)
  {
    std::wstring command = L"\"" + ProgramDirectory() + L"pictor-logserver.exe\" " + arguments;
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    nul.Reset(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                          OPEN_EXISTING, 0, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul.Get();
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
  // The exit code, or -1 when the process did not end within 30 s.
  long WaitExit()
  {
    DWORD code = 0;
    if (!process || WaitForSingleObject(process.Get(), 30000) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.Get(), &code))
      return -1;
    return long(code);
  }
  TUniqueHandle nul, process;
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
      if (FromU16(e.channel) == channel)
        return true;
    return false;
  };

  // No trailing backslash inside the quotes: \" would escape the quote.
  ServerProcess server(L"--dir \"" + dir.tools.substr(0, dir.tools.size() - 1) + L"\" --channel " + channel +
                       L" --level 2 --out \"" + outFile + L"\" --stop-event " + stopName);
  ASSERT_TRUE(server.process);
  for (int waited = 0; !registered() && waited < 30000; waited += 50)
    Sleep(50);
  ASSERT_TRUE(registered());
  {
    ProbeLibrary probe(dir.probe);
    ASSERT_TRUE(probe.Loaded());
    probe.Info("%s exit with %d", "TPictor::GetWebCamerasCount", 2);
    probe.Verbose("frame %d", 17);
    probe.Error("unable to %S", L"activate");
  }
  TUniqueHandle stop(OpenEventW(EVENT_MODIFY_STATE, FALSE, stopName.c_str()));  // exists once registered
  ASSERT_TRUE(stop);
  SetEvent(stop.Get());
  ASSERT_EQ(server.WaitExit(), 0);
  EXPECT_FALSE(registered());

  // "seconds.millis pid module thread kind text", the module numbered 1 as the only DLL there.
  std::vector<std::string> lines;
  FILE* f = _wfopen(outFile.c_str(), L"rb");
  ASSERT_NE(f, nullptr);
  char line[4096], kind[16];
  unsigned long long seconds, millis;
  unsigned long pid, module, thread;
  int used = 0;
  while (std::fgets(line, sizeof line, f)) {
    ASSERT_EQ(std::sscanf(line, "%llu.%llu %lu %lu %lu %15s %n", &seconds, &millis, &pid, &module, &thread, kind, &used),
              6) << line;
    EXPECT_EQ(pid, GetCurrentProcessId());
    EXPECT_EQ(thread, GetCurrentThreadId());
    lines.push_back(std::to_string(module) + " " + kind + " " + std::string(line + used));
  }
  std::fclose(f);
  DeleteFileW(outFile.c_str());
  EXPECT_EQ(lines, (std::vector<std::string>{"1 info TPictor::GetWebCamerasCount exit with 2\n", "1 info frame 17\n",
                                             "1 ERROR unable to activate\n"}));
}

TEST(LogServerProcess, RefusesBadArgumentsWithExitCode2)
{
  for (const wchar_t* arguments : {L"--level 4", L"--frobnicate", L"--dir"}) {
    ServerProcess server(arguments);
    ASSERT_TRUE(server.process);
    EXPECT_EQ(server.WaitExit(), 2) << arguments;
  }
}

}  // namespace
