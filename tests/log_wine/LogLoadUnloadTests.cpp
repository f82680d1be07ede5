// Library start-up and shutdown in a process where no log server has ever been: the
// client creates an empty registration table itself and stays silent, and loading and
// unloading leaves nothing open behind.
#include "LogProbe.h"
#include "log/LogObjects.h"
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
  TUniqueView table(mapping ? MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, kLogServerTableSize) : nullptr);
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

// 25 loads of `path` (the probe's logging two lines each); `held` handles are open while
// it is loaded.
void ExpectRepeatedLoadsLeaveNoHandleOpen(const std::wstring& path, size_t held)
{
  FreeLibrary(LoadLibraryW(path.c_str()));  // the loader's own first-time work is not the library's
  const std::vector<uintptr_t> before = OpenHandles();
  ASSERT_FALSE(before.empty());
  for (int i = 0; i < 25; ++i) {
    ProbeLibrary probe(path);
    ASSERT_TRUE(probe.module) << GetLastError();
    if (probe.Loaded())
      probe.Info("load %d", i), probe.Verbose("verbose %d", i);
    if (i == 0)
      EXPECT_EQ(OpenHandles().size(), before.size() + held);
  }
  EXPECT_EQ(OpenHandles(), before);
}

TEST(LibraryLoadUnload, RepeatedLoadsLeaveNoHandleOpenConnectedOrNot)
{
  // Without a server: the registration mutex and the table mapping, and no table after.
  ExpectRepeatedLoadsLeaveNoHandleOpen(ProgramDirectory() + L"Pictor.dll", 2);
  EXPECT_FALSE(TUniqueHandle(OpenFileMappingW(FILE_MAP_READ, FALSE, PICTOR_LOG_SERVER_TABLE_NAME)));

  // Connected: also the channel's event, write mutex and buffer.
  TLogServerTableHost table;
  TLogChannelHost channel;
  std::wstring error;
  const std::wstring name = L"loadunload-" + std::to_wstring(GetCurrentProcessId());
  ASSERT_TRUE(table.Open(&error) && channel.Create(name, 2, &error));
  ASSERT_TRUE(table.Register({ToU16(ProgramDirectory()), ToU16(name), {}}));
  ExpectRepeatedLoadsLeaveNoHandleOpen(ProbePathInProgramDirectory(), 5);
  const std::vector<TLogServerRecord> records = channel.Drain();
  ASSERT_EQ(records.size(), 50u);
  EXPECT_EQ(records[49].text, "verbose 24");
}

}  // namespace
