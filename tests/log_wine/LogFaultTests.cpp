// Another process that keeps a mutex of the log channel or created its memory first, as a
// host meets it. A process of its own: no process holds the registration table at first.
#include "LogProbe.h"
#include "PictorC.h"
#include "log/LogObjects.h"
#include "tools/logserver/LogServer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// log-mutex-holder.exe, keeping the named mutex until destroyed.
struct MutexHolder {
  explicit MutexHolder(const std::wstring& mutex)
  {
    std::string command =
        "log-mutex-holder.exe \"" + std::string(mutex.begin(), mutex.end()) + "\" " + held + " " + release;
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
      process.Reset(info.hProcess), thread.Reset(info.hThread);
  }
  ~MutexHolder()
  {
    SetEvent(releaseEvent.Get());
    if (process) WaitForSingleObject(process.Get(), 30000);
  }
  std::string held = "log-test-held-" + std::to_string(GetCurrentProcessId()), release = held + "-release";
  TUniqueHandle heldEvent{CreateEventA(nullptr, TRUE, FALSE, held.c_str())},
      releaseEvent{CreateEventA(nullptr, TRUE, FALSE, release.c_str())}, process, thread;
};

// While another process keeps the registration mutex, Pictor.dll loads and a call that
// logs returns; while it keeps the channel's write mutex, the call returns again. The
// records that could not wait are counted: the first record once the mutex is free says
// how many, and the same call then writes that many.
TEST(LogFaults, AMutexAnotherProcessKeepsDelaysNeitherLoadNorCallsAndItsDropsAreCounted)
{
  struct Served {
    TLogServerTableHost table;
    TLogChannelHost channel;
    std::wstring name = L"faults-" + std::to_wstring(GetCurrentProcessId()), error;
    ~Served() { table.Unregister(ToU16(name)); }
  } served;
  ASSERT_TRUE(served.table.Open(&served.error) && served.channel.Create(served.name, 0, &served.error) &&
              served.table.Register({ToU16(ProgramDirectory()), ToU16(served.name), {}}));
  static HMODULE pictor = nullptr;
  static int(PICTOR_CDECL * logFormat)(const PictorFormat*) = nullptr;
  static const PictorFormat format{};
  const LPTHREAD_START_ROUTINE loadAndLog = [](LPVOID) -> DWORD {
    if (!pictor) pictor = LoadLibraryW(L"Pictor.dll");
    logFormat =
        reinterpret_cast<decltype(logFormat)>(reinterpret_cast<void*>(GetProcAddress(pictor, "PictorLogFormat")));
    if (logFormat) logFormat(&format);
    return 0;
  };
  for (const std::wstring& mutex :
       {std::wstring(PICTOR_LOG_SERVER_MUTEX_NAME), PICTOR_LOG_WRITE_MUTEX_PREFIX + served.name}) {
    {
      MutexHolder holder(mutex);
      ASSERT_TRUE(holder.process && WaitForSingleObject(holder.heldEvent.Get(), 30000) == WAIT_OBJECT_0);
      TUniqueHandle thread(CreateThread(nullptr, 0, loadAndLog, nullptr, 0, nullptr));
      if (WaitForSingleObject(thread.Get(), 10000) != WAIT_OBJECT_0) {
        // A thread hung in LoadLibrary holds the loader lock, which the process needs to exit.
        ADD_FAILURE() << "loading Pictor.dll and PictorLogFormat did not return within 10 s";
        std::fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 1);
      }
      ASSERT_TRUE(logFormat);
    }
    logFormat(&format);
    const std::vector<TLogServerRecord> records = served.channel.Drain();
    ASSERT_GT(records.size(), 1u);
    EXPECT_EQ(records[0].text,
              std::to_string(records.size() - 1) + " log records were dropped because the log channel was busy");
  }
  FreeLibrary(pictor);
}

// A registration table that another process created first is refused before the library
// reads a byte of it (the channel's buffer goes through the same check). Reserve-only pages
// fault on the first read on Windows; Wine 8.0 reads them as zeros but reports them
// reserved, so the refusal shows on both.
TEST(LogFaults, ChannelMemoryAnotherProcessCreatedFirstIsRefusedBeforeItIsRead)
{
  PrivateDirectory dir;
  ASSERT_TRUE(dir.copied);
  const struct {
    const char* what;
    DWORD protection, size;
    bool fileBacked;
  } cases[] = {{"reserve-only", PAGE_READWRITE | SEC_RESERVE, kLogServerTableSize, false},
               {"too small", PAGE_READWRITE | SEC_COMMIT, 4096, false},
               {"file-backed", PAGE_READWRITE, kLogServerTableSize, true}};
  for (const auto& c : cases) {
    TUniqueHandle file(c.fileBacked ? CreateFileW((dir.base + L"table.bin").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                                  nullptr, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr)
                                    : nullptr);
    TUniqueHandle hostile(CreateFileMappingW(file ? file.Get() : INVALID_HANDLE_VALUE, nullptr, c.protection, 0, c.size,
                                             PICTOR_LOG_SERVER_TABLE_NAME));
    ASSERT_TRUE(hostile && GetLastError() != ERROR_ALREADY_EXISTS) << c.what;
    ProbeLibrary probe(dir.probe);
    ASSERT_TRUE(probe.Loaded()) << c.what;
    probe.Info("first read");
    EXPECT_FALSE(probe.State().tableMapped) << c.what;
  }
}

}  // namespace
