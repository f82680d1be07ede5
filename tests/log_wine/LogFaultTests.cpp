// Faults around the log channel that end in a hang or a crash: a copy of the library
// loaded while another copy logs, and the log server stopping while commands arrive.
// A process of its own: the probe's directory must not be registered with any server.
#include "LogProbe.h"
#include "tools/logserver/LogServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>

namespace {

// Without a server for its directory, every record makes the client look for one: the
// registration mutex is taken over and over while another copy is loaded and unloaded,
// whose start-up waits for that mutex with the loader lock held.
TEST(LogFaults, CopiesLoadAndUnloadWhileAnotherCopyLogs)
{
  ProbeLibrary logging(ProbePathInProgramDirectory());
  ASSERT_TRUE(logging.Loaded());
  PrivateDirectory directory;
  ASSERT_TRUE(directory.copied);
  struct Shared {
    TProbeLog info;
    std::wstring path;
    std::atomic<bool> stop{false};
    int loaded = 0;
  } shared{logging.Info, directory.probe};
  HANDLE logger = CreateThread(
      nullptr, 0,
      [](LPVOID context) -> DWORD {
        for (auto* s = static_cast<Shared*>(context); !s->stop.load();)
          s->info("%s", "LogFaults: nobody listens");
        return 0;
      },
      &shared, 0, nullptr);
  HANDLE loader = CreateThread(
      nullptr, 0,
      [](LPVOID context) -> DWORD {
        auto* s = static_cast<Shared*>(context);
        for (int i = 0; i < 100; ++i, ++s->loaded) {
          HMODULE module = LoadLibraryW(s->path.c_str());
          if (module == nullptr)
            return 1;
          FreeLibrary(module);
        }
        return 0;
      },
      &shared, 0, nullptr);
  ASSERT_TRUE(logger && loader);
  const bool loaderDone = WaitForSingleObject(loader, 30000) == WAIT_OBJECT_0;
  shared.stop.store(true);
  const bool loggerDone = WaitForSingleObject(logger, 30000) == WAIT_OBJECT_0;
  CloseHandle(loader);
  CloseHandle(logger);
  if (!loaderDone || !loggerDone) {
    // Deadlocked threads hold the loader lock, so the process could not even exit.
    ADD_FAILURE() << "deadlock after " << shared.loaded << " load cycles";
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 1);
  }
  EXPECT_EQ(shared.loaded, 100);
}

// The server reads commands on a thread of its own. Stopping while commands keep
// arriving must not leave that thread using what the server has already torn down
// (it crashed on the unmapped channel).
TEST(LogFaults, ServerStopsCleanlyWhileCommandsArrive)
{
  PrivateDirectory directory;
  const std::wstring commands = directory.base + L"commands.txt", errors = directory.base + L"stderr.txt";
  {
    FILE* f = _wfopen(commands.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    for (int i = 0; i < 2000000; ++i)
      std::fputs("level 1\n", f);
    std::fclose(f);
  }
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  TUniqueHandle input(CreateFileW(commands.c_str(), GENERIC_READ, FILE_SHARE_READ, &inherit, OPEN_EXISTING, 0, nullptr));
  TUniqueHandle output(CreateFileW(errors.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(input && output);
  std::wstring command = L"\"" + ProgramDirectory() + L"pictor-logserver.exe\" --run-for 1 --dir \"" +
                         directory.tools.substr(0, directory.tools.size() - 1) + L"\"";
  STARTUPINFOW startup{sizeof(startup)};
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
  input.Reset();
  output.Reset();
  DeleteFileW(commands.c_str());
  DeleteFileW(errors.c_str());
}

}  // namespace
