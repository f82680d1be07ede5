// A fault around the log channel that ended in a deadlock: a copy of the library loaded
// while another copy logs. A process of its own: the probe's directory must not be
// registered with any server.
#include "LogProbe.h"

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
  const LPTHREAD_START_ROUTINE logs = [](LPVOID context) -> DWORD {
    for (auto* s = static_cast<Shared*>(context); !s->stop.load();) s->info("%s", "LogFaults: nobody listens");
    return 0;
  };
  const LPTHREAD_START_ROUTINE loads = [](LPVOID context) -> DWORD {
    auto* s = static_cast<Shared*>(context);
    for (HMODULE module; s->loaded < 100 && (module = LoadLibraryW(s->path.c_str())) != nullptr; ++s->loaded)
      FreeLibrary(module);
    return 0;
  };
  HANDLE logger = CreateThread(nullptr, 0, logs, &shared, 0, nullptr);
  HANDLE loader = CreateThread(nullptr, 0, loads, &shared, 0, nullptr);
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

}  // namespace
