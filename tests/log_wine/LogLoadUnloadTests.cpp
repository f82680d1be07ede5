// Library start-up and shutdown in a process where no log server has ever been: the
// client creates an empty registration table itself and stays silent, and loading and
// unloading leaves nothing open behind.
#include "ProbeLibrary.h"
#include "log/LogObjects.h"
#include "log/LogRecord.h"
#include "log/LogTable.h"
#include "tests/support/ProcessHandles.h"
#include "tools/logserver/LogServer.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

namespace {

using pictortest::OpenHandles;

bool TableExists()
{
  HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, PICTOR_LOG_SERVER_TABLE_NAME);
  if (!mapping)
    return false;
  CloseHandle(mapping);
  return true;
}

TEST(LibraryWithoutServer, CreatesAnEmptyTableAndWritesNothing)
{
  // Nothing else in this prefix may hold the table while this program runs.
  ASSERT_FALSE(TableExists()) << "another process holds the registration table";
  ProbeLibrary probe(ProbePathInProgramDirectory());
  ASSERT_TRUE(probe.Loaded());
  const TLogProbeState loaded = probe.State();
  EXPECT_TRUE(loaded.loggingEnabled);
  EXPECT_TRUE(loaded.tableMapped);
  EXPECT_EQ(loaded.processId, GetCurrentProcessId());
  EXPECT_EQ(loaded.moduleNumber, 0u);

  HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, PICTOR_LOG_SERVER_TABLE_NAME);
  ASSERT_NE(mapping, nullptr);
  const auto* table = static_cast<const uint8_t*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, kLogServerTableSize));
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(LoadU32(table), 0u);

  probe.Info("%s nobody listens", "Test");
  probe.Error("%s nobody listens", "Test");
  probe.Verbose("%s nobody listens", "Test");
  const TLogProbeState after = probe.State();
  EXPECT_FALSE(after.connectionAttempted);
  EXPECT_FALSE(after.channelMapped);
  EXPECT_EQ(after.formatBufferSize, 0u);  // nothing was even formatted
  EXPECT_EQ(after.recordBufferSize, 0u);
  EXPECT_EQ(probe.GetLogLevel(), 0);
  EXPECT_EQ(LoadU32(table), 0u);
  UnmapViewOfFile(table);
  CloseHandle(mapping);
}

TEST(LibraryLoadUnload, RepeatedLoadsLeaveNoHandleOpen)
{
  // Warm-up: the loader's own first-time work is not the library's.
  for (const std::wstring& path : {ProgramDirectory() + L"Pictor.dll", ProbePathInProgramDirectory()}) {
    HMODULE m = LoadLibraryW(path.c_str());
    ASSERT_NE(m, nullptr) << GetLastError();
    FreeLibrary(m);
  }
  const std::vector<uintptr_t> before = OpenHandles();
  ASSERT_FALSE(before.empty());
  for (int i = 0; i < 25; ++i) {
    HMODULE pictor = LoadLibraryW((ProgramDirectory() + L"Pictor.dll").c_str());
    ASSERT_NE(pictor, nullptr);
    // While loaded, the client holds the registration mutex and table mapping.
    if (i == 0)
      EXPECT_EQ(OpenHandles().size(), before.size() + 2);
    ASSERT_TRUE(FreeLibrary(pictor));
  }
  EXPECT_EQ(OpenHandles(), before);
  EXPECT_FALSE(TableExists());
}

TEST(LibraryLoadUnload, ConnectedClientReleasesItsChannelAtUnload)
{
  TLogServerTableHost table;
  TLogChannelHost channel;
  std::wstring error;
  const std::wstring name = L"loadunload-" + std::to_wstring(GetCurrentProcessId());
  ASSERT_TRUE(table.Open(&error));
  ASSERT_TRUE(channel.Create(name, 2, &error));
  ASSERT_TRUE(table.Register({ToU16(ProgramDirectory()), ToU16(name), {}}));
  const std::vector<uintptr_t> before = OpenHandles();
  for (int i = 0; i < 25; ++i) {
    ProbeLibrary probe(ProbePathInProgramDirectory());
    ASSERT_TRUE(probe.Loaded());
    probe.Info("load %d", i);
    probe.Verbose("verbose %d", i);
    // Registration mutex and table, channel event, write mutex and buffer.
    if (i == 0)
      EXPECT_EQ(OpenHandles().size(), before.size() + 5);
  }
  EXPECT_EQ(OpenHandles(), before);
  const std::vector<TLogServerRecord> records = channel.Drain();
  ASSERT_EQ(records.size(), 50u);
  EXPECT_EQ(records[48].text, "load 24");
  EXPECT_EQ(records[49].text, "verbose 24");
}

}  // namespace
