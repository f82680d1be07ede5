// Faults around the log channel that end in a hang or a crash: a copy of the library
// loaded while another copy logs, and the log server stopping while commands arrive.
// A process of its own: the probe's directory must not be registered with any server.
#include "tools/logserver/LogServer.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::wstring ProgramDirectory()
{
  wchar_t path[MAX_PATH];
  const std::wstring exe(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
  return exe.substr(0, exe.find_last_of(L'\\') + 1);
}

// A directory of its own under the temporary directory, removed with what it holds.
struct TempDirectory {
  explicit TempDirectory(const wchar_t* name)
  {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    path = temp + (name + std::to_wstring(GetCurrentProcessId()) + L"\\");
    CreateDirectoryW(path.c_str(), nullptr);
  }
  ~TempDirectory()
  {
    for (const std::wstring& file : files)
      DeleteFileW(file.c_str());
    RemoveDirectoryW(path.c_str());
  }
  std::wstring File(const wchar_t* name)
  {
    files.push_back(path + name);
    return files.back();
  }
  std::wstring path;
  std::vector<std::wstring> files;
};

using TProbeLog = void (*)(const char* format, ...);

struct LoggingCopy {
  TProbeLog info;
  std::atomic<bool> stop{false};
};

DWORD WINAPI LogUntilStopped(LPVOID context)
{
  auto* copy = static_cast<LoggingCopy*>(context);
  while (!copy->stop.load())
    copy->info("%s", "LogFaults: nobody listens");
  return 0;
}

// Without a server for its directory, every record makes the client look for one: the
// registration mutex is taken over and over while another copy is loaded and unloaded,
// whose start-up waits for that mutex with the loader lock held.
TEST(LogFaults, CopiesLoadAndUnloadWhileAnotherCopyLogs)
{
  HMODULE logging = LoadLibraryW((ProgramDirectory() + L"pictor-log-probe.dll").c_str());
  ASSERT_NE(logging, nullptr);
  TempDirectory directory(L"PictorLogFaults-");
  const std::wstring copyPath = directory.File(L"pictor-log-probe.dll");
  ASSERT_TRUE(CopyFileW((ProgramDirectory() + L"pictor-log-probe.dll").c_str(), copyPath.c_str(), FALSE));

  LoggingCopy copy;
  copy.info = reinterpret_cast<TProbeLog>(reinterpret_cast<void*>(GetProcAddress(logging, "ProbeLogInfo")));
  ASSERT_NE(copy.info, nullptr);
  HANDLE logger = CreateThread(nullptr, 0, LogUntilStopped, &copy, 0, nullptr);
  ASSERT_NE(logger, nullptr);
  struct Cycles {
    std::wstring path;
    int loaded = 0;
  } cycles{copyPath};
  HANDLE loader = CreateThread(
      nullptr, 0,
      [](LPVOID context) -> DWORD {
        auto* c = static_cast<Cycles*>(context);
        for (int i = 0; i < 200; ++i) {
          HMODULE module = LoadLibraryW(c->path.c_str());
          if (module == nullptr)
            return 1;
          FreeLibrary(module);
          ++c->loaded;
        }
        return 0;
      },
      &cycles, 0, nullptr);
  ASSERT_NE(loader, nullptr);
  const bool loaderDone = WaitForSingleObject(loader, 30000) == WAIT_OBJECT_0;
  copy.stop.store(true);
  const bool loggerDone = WaitForSingleObject(logger, 30000) == WAIT_OBJECT_0;
  CloseHandle(loader);
  CloseHandle(logger);
  if (!loaderDone || !loggerDone) {
    // Deadlocked threads hold the loader lock, so the process could not even exit.
    ADD_FAILURE() << "deadlock after " << cycles.loaded << " load cycles";
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 1);
  }
  EXPECT_EQ(cycles.loaded, 200);
  FreeLibrary(logging);
}

// The server reads commands on a thread of its own. Stopping while commands keep
// arriving must not leave that thread using what the server has already torn down
// (it crashed on the unmapped channel).
TEST(LogFaults, ServerStopsCleanlyWhileCommandsArrive)
{
  TempDirectory directory(L"PictorLogServerFaults-");
  const std::wstring commands = directory.File(L"commands.txt");
  const std::wstring errors = directory.File(L"stderr.txt");
  {
    FILE* f = _wfopen(commands.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    const std::string line = "level 1\n";
    for (int i = 0; i < 2000000; ++i)
      std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
  }
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  TUniqueHandle input(CreateFileW(commands.c_str(), GENERIC_READ, FILE_SHARE_READ, &inherit, OPEN_EXISTING, 0, nullptr));
  TUniqueHandle output(CreateFileW(errors.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(input && output);
  std::wstring command = L"\"" + ProgramDirectory() + L"pictor-logserver.exe\" --run-for 1 --dir \"" +
                         directory.path.substr(0, directory.path.size() - 1) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.Get();
  startup.hStdOutput = output.Get();
  startup.hStdError = output.Get();
  // Started under this test as its debugger, so that any access violation in the server
  // is seen, also one that the process's own exit would hide.
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, DEBUG_ONLY_THIS_PROCESS, nullptr,
                             nullptr, &startup, &info))
      << GetLastError();
  TUniqueHandle process(info.hProcess), thread(info.hThread);
  bool exited = false, accessViolation = false;
  DWORD code = 1;
  const ULONGLONG deadline = GetTickCount64() + 30000;
  while (!exited && GetTickCount64() < deadline) {
    DEBUG_EVENT event{};
    if (!WaitForDebugEvent(&event, 1000))
      continue;
    DWORD status = DBG_CONTINUE;
    if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT) {
      const DWORD exception = event.u.Exception.ExceptionRecord.ExceptionCode;
      accessViolation = accessViolation || exception == EXCEPTION_ACCESS_VIOLATION;
      if (exception != EXCEPTION_BREAKPOINT)
        status = DBG_EXCEPTION_NOT_HANDLED;
    } else if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
      CloseHandle(event.u.CreateProcessInfo.hFile);
    } else if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
      CloseHandle(event.u.LoadDll.hFile);
    } else if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
      exited = true;
      code = event.u.ExitProcess.dwExitCode;
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
  }
  if (!exited)
    TerminateProcess(process.Get(), 1);
  EXPECT_TRUE(exited) << "the server did not stop";
  EXPECT_FALSE(accessViolation) << "access violation in the server";
  EXPECT_EQ(code, 0u) << std::hex << code;
}

}  // namespace
