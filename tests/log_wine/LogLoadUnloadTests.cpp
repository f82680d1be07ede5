// Library start-up and shutdown in a process where no log server has ever been: the
// client creates an empty registration table itself and stays silent, and loading and
// unloading leaves nothing open behind.
#include "LogProbe.h"
#include "log/LogObjects.h"
#include "log/LogRecord.h"
#include "log/LogTable.h"
#include "tests/support/ProcessHandles.h"
#include "tools/logserver/LogServer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using pictortest::OpenHandles;

TEST(LibraryWithoutServer, CreatesAnEmptyTableAndWritesNothing)
{
  TUniqueHandle before(OpenFileMappingW(FILE_MAP_READ, FALSE, PICTOR_LOG_SERVER_TABLE_NAME));
  ASSERT_FALSE(before) << "another process holds the registration table";
  ProbeLibrary probe(ProbePathInProgramDirectory());
  ASSERT_TRUE(probe.Loaded());
  const TLogProbeState loaded = probe.State();
  EXPECT_TRUE(loaded.loggingEnabled && loaded.tableMapped);
  EXPECT_EQ(loaded.processId, GetCurrentProcessId());
  EXPECT_EQ(loaded.moduleNumber, 0u);
  TUniqueHandle mapping(OpenFileMappingW(FILE_MAP_READ, FALSE, PICTOR_LOG_SERVER_TABLE_NAME));
  ASSERT_TRUE(mapping);
  TUniqueView table(MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, kLogServerTableSize));
  ASSERT_NE(table.Get(), nullptr);
  EXPECT_EQ(LoadU32(table.Get()), 0u);

  probe.Info("%s nobody listens", "Test");
  probe.Error("%s nobody listens", "Test");
  probe.Verbose("%s nobody listens", "Test");
  const TLogProbeState after = probe.State();
  EXPECT_FALSE(after.connectionAttempted || after.channelMapped);
  EXPECT_EQ(after.formatBufferSize + after.recordBufferSize, 0u);  // nothing was even formatted
  EXPECT_EQ(probe.GetLogLevel(), 0);
  EXPECT_EQ(LoadU32(table.Get()), 0u);
}

TEST(LibraryLoadUnload, RepeatedLoadsLeaveNoHandleOpen)
{
  const std::wstring pictor = ProgramDirectory() + L"Pictor.dll";
  FreeLibrary(LoadLibraryW(pictor.c_str()));  // the loader's own first-time work is not the library's
  const std::vector<uintptr_t> before = OpenHandles();
  ASSERT_FALSE(before.empty());
  for (int i = 0; i < 25; ++i) {
    HMODULE module = LoadLibraryW(pictor.c_str());
    ASSERT_NE(module, nullptr) << GetLastError();
    if (i == 0)  // the client holds the registration mutex and the table mapping
      EXPECT_EQ(OpenHandles().size(), before.size() + 2);
    ASSERT_TRUE(FreeLibrary(module));
  }
  EXPECT_EQ(OpenHandles(), before);
  EXPECT_FALSE(TUniqueHandle(OpenFileMappingW(FILE_MAP_READ, FALSE, PICTOR_LOG_SERVER_TABLE_NAME)));
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
    if (i == 0)  // registration mutex and table, channel event, write mutex and buffer
      EXPECT_EQ(OpenHandles().size(), before.size() + 5);
  }
  EXPECT_EQ(OpenHandles(), before);
  const std::vector<TLogServerRecord> records = channel.Drain();
  ASSERT_EQ(records.size(), 50u);
  EXPECT_EQ(records[49].text, "verbose 24");
}

}  // namespace
