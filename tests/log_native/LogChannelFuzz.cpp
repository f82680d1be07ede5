// Feeds arbitrary bytes to the parts of the log channel that read memory another process
// writes: the registration table walk and lookups, and the ring with an arbitrary header.
// Any read or write outside the buffers given is a finding (ASan).
#include "log/LogRecord.h"
#include "log/LogRing.h"
#include "log/LogTable.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  // The table: exactly the input bytes, so that any overrun leaves the allocation.
  std::vector<uint8_t> table(data, data + size);
  static const std::u16string directories[] = {u"C:\\Apps\\Tools\\", u"", std::u16string(1100, u'a')};
  for (const std::u16string& directory : directories) {
    const auto entry = FindLogDirectoryEntry(table.data(), table.size(), directory);
    if (entry) {
      LogDirectoryEntryChannel(table.data(), table.size(), *entry);
      LogDirectoryEntryModuleNumber(table.data(), table.size(), *entry, u"C:\\Apps\\Tools\\Pictor.dll");
    }
  }
  ListLogDirectoryEntries(table.data(), table.size());
  RemoveLogDirectoryEntries(table.data(), table.size(), u"x");
  AddLogDirectoryEntry(table.data(), table.size(), {u"C:\\A\\", u"c", {{1, u"C:\\A\\m.dll"}}}, size % 2 == 0);

  // The ring: the first 12 bytes are the header numbers, the rest the ring contents of a
  // mapping just large enough for them.
  if (size < 12) return 0;
  const TLogRingState state{LoadU32(data), LoadU32(data + 4), LoadU32(data + 8)};
  std::vector<uint8_t> channel(kLogChannelHeaderSize + (size - 12), 0);
  std::memcpy(channel.data() + kLogChannelHeaderSize, data + 12, size - 12);
  uint8_t* ring = channel.data() + kLogChannelHeaderSize;
  std::vector<uint8_t> record;
  TLogRingState s = state;
  for (int i = 0; i < 64; ++i) {
    uint32_t next = 0;
    if (LogRingRead(ring, s, channel.size(), &record, &next) != TLogRingReadResult::Record) break;
    TLogRecordFields fields;
    std::string text;
    ParseLogRecord(record.data(), record.size(), &fields, &text);
    s.readOffset = next;
  }
  std::vector<uint8_t> toWrite(size % 300 + 1, 0x5A);
  uint32_t next = 0;
  LogRingWrite(ring, state, channel.size(), toWrite.data(), uint32_t(toWrite.size()), &next);
  return 0;
}
