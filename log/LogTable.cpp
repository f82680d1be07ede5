#include "log/LogTable.h"

#include "log/LogRecord.h"

#include <cstring>

namespace {

char16_t FoldAscii(char16_t c)
{
  return (c >= u'A' && c <= u'Z') ? char16_t(c - u'A' + u'a') : c;
}

// A NUL-terminated UTF-16 field of at most `units` code units (the NUL included);
// nullopt when no NUL lies within it.
std::optional<std::u16string> ReadField(const uint8_t* field, size_t units)
{
  std::u16string text;
  for (size_t i = 0; i < units; ++i) {
    const char16_t c = char16_t(field[2 * i] | field[2 * i + 1] << 8);
    if (c == 0) return text;
    text.push_back(c);
  }
  return std::nullopt;
}

bool WriteField(uint8_t* field, size_t units, std::u16string_view text)
{
  if (text.size() >= units) return false;
  std::memset(field, 0, units * 2);
  for (size_t i = 0; i < text.size(); ++i) {
    field[2 * i] = uint8_t(text[i]);
    field[2 * i + 1] = uint8_t(text[i] >> 8);
  }
  return true;
}

struct Entry {
  size_t offset;
  uint32_t size;
  uint32_t type;
};

// Walks the entries, checking each against the table's bounds. `visit` returns true to
// stop. Returns the offset just behind the last entry walked, or nullopt when the table
// is corrupt before all `count` entries were seen.
template <typename Visit>
std::optional<size_t> WalkEntries(const uint8_t* table, size_t tableSize, Visit visit)
{
  if (tableSize < 4) return std::nullopt;
  const uint32_t count = LoadU32(table);
  size_t offset = 4;
  for (uint32_t i = 0; i < count; ++i) {
    if (tableSize - offset < kLogEntryHeaderSize) return std::nullopt;
    const uint32_t size = LoadU32(table + offset);
    // An entry smaller than its own header would walk in place or backwards.
    if (size < kLogEntryHeaderSize || size > tableSize - offset) return std::nullopt;
    const Entry entry{offset, size, LoadU32(table + offset + 4)};
    if (visit(entry)) return offset;
    offset += size;
  }
  return offset;
}

bool IsDirectoryEntry(const Entry& e)
{
  return e.type == kLogDirectoryEntryType && e.size >= kLogModuleListOffset;
}

// The directory entry at `entryOffset`, validated the same way the walk does.
std::optional<Entry> EntryAt(const uint8_t* table, size_t tableSize, size_t entryOffset)
{
  if (entryOffset < 4 || entryOffset > tableSize || tableSize - entryOffset < kLogEntryHeaderSize) return std::nullopt;
  const Entry e{entryOffset, LoadU32(table + entryOffset), LoadU32(table + entryOffset + 4)};
  if (e.size > tableSize - entryOffset || !IsDirectoryEntry(e)) return std::nullopt;
  return e;
}

}  // namespace

bool LogPathsEqualFolded(std::u16string_view a, std::u16string_view b)
{
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}

std::optional<size_t> FindLogDirectoryEntry(const uint8_t* table, size_t tableSize, std::u16string_view directory)
{
  std::optional<size_t> found;
  WalkEntries(table, tableSize, [&](const Entry& e) {
    if (!IsDirectoryEntry(e)) return false;
    const auto path = ReadField(table + e.offset + kLogDirectoryPathOffset, kLogDirectoryPathUnits);
    // An empty path would be a prefix of every directory: it names none.
    if (!path || path->empty() || path->size() > directory.size() ||
        !LogPathsEqualFolded(*path, directory.substr(0, path->size())))
      return false;
    found = e.offset;
    return true;
  });
  return found;
}

std::u16string LogDirectoryEntryChannel(const uint8_t* table, size_t tableSize, size_t entryOffset)
{
  const auto e = EntryAt(table, tableSize, entryOffset);
  if (!e) return {};
  return ReadField(table + e->offset + kLogChannelNameOffset, kLogChannelNameUnits).value_or(u"");
}

uint32_t LogDirectoryEntryModuleNumber(const uint8_t* table, size_t tableSize, size_t entryOffset,
                                       std::u16string_view modulePath)
{
  const auto e = EntryAt(table, tableSize, entryOffset);
  if (!e) return 0;
  const int32_t count = int32_t(LoadU32(table + e->offset + kLogModuleCountOffset));
  if (count <= 0) return 0;
  const size_t room = (e->size - kLogModuleListOffset) / kLogModuleEntrySize;
  const size_t usable = size_t(count) < room ? size_t(count) : room;
  for (size_t i = 0; i < usable; ++i) {
    const uint8_t* module = table + e->offset + kLogModuleListOffset + i * kLogModuleEntrySize;
    const auto path = ReadField(module + kLogModulePathOffset, kLogModulePathUnits);
    if (path && LogPathsEqualFolded(*path, modulePath)) return LoadU32(module);
  }
  return 0;
}

bool AddLogDirectoryEntry(uint8_t* table, size_t tableSize, const TLogDirectoryRegistration& entry, bool first)
{
  const std::optional<size_t> end = WalkEntries(table, tableSize, [](const Entry&) { return false; });
  if (!end) return false;
  const size_t size = kLogModuleListOffset + entry.modules.size() * kLogModuleEntrySize;
  if (size > UINT32_MAX || size > tableSize - *end) return false;
  std::vector<uint8_t> bytes(size, 0);
  StoreU32(bytes.data(), uint32_t(size));
  StoreU32(bytes.data() + 4, kLogDirectoryEntryType);
  if (!WriteField(bytes.data() + kLogDirectoryPathOffset, kLogDirectoryPathUnits, entry.directory) ||
      !WriteField(bytes.data() + kLogChannelNameOffset, kLogChannelNameUnits, entry.channel))
    return false;
  StoreU32(bytes.data() + kLogModuleCountOffset, uint32_t(entry.modules.size()));
  for (size_t i = 0; i < entry.modules.size(); ++i) {
    uint8_t* module = bytes.data() + kLogModuleListOffset + i * kLogModuleEntrySize;
    StoreU32(module, uint32_t(entry.modules[i].number));
    if (!WriteField(module + kLogModulePathOffset, kLogModulePathUnits, entry.modules[i].path)) return false;
  }
  if (first) {
    std::memmove(table + 4 + size, table + 4, *end - 4);
    std::memcpy(table + 4, bytes.data(), size);
  } else {
    std::memcpy(table + *end, bytes.data(), size);
  }
  StoreU32(table, LoadU32(table) + 1);
  return true;
}

size_t RemoveLogDirectoryEntries(uint8_t* table, size_t tableSize, std::u16string_view channel)
{
  std::vector<Entry> doomed;
  const std::optional<size_t> end = WalkEntries(table, tableSize, [&](const Entry& e) {
    if (IsDirectoryEntry(e)) {
      const auto name = ReadField(table + e.offset + kLogChannelNameOffset, kLogChannelNameUnits);
      if (name && *name == channel) doomed.push_back(e);
    }
    return false;
  });
  if (!end) return 0;
  size_t tail = *end;
  // From the last to the first, so earlier offsets stay valid.
  for (auto it = doomed.rbegin(); it != doomed.rend(); ++it) {
    const size_t behind = it->offset + it->size;
    std::memmove(table + it->offset, table + behind, tail - behind);
    tail -= it->size;
  }
  StoreU32(table, LoadU32(table) - uint32_t(doomed.size()));
  return doomed.size();
}

std::vector<TLogDirectoryRegistration> ListLogDirectoryEntries(const uint8_t* table, size_t tableSize)
{
  std::vector<TLogDirectoryRegistration> list;
  WalkEntries(table, tableSize, [&](const Entry& e) {
    if (!IsDirectoryEntry(e)) return false;
    TLogDirectoryRegistration r;
    r.directory = ReadField(table + e.offset + kLogDirectoryPathOffset, kLogDirectoryPathUnits).value_or(u"");
    r.channel = LogDirectoryEntryChannel(table, tableSize, e.offset);
    const int32_t count = int32_t(LoadU32(table + e.offset + kLogModuleCountOffset));
    const size_t room = (e.size - kLogModuleListOffset) / kLogModuleEntrySize;
    for (size_t i = 0; count > 0 && i < size_t(count) && i < room; ++i) {
      const uint8_t* module = table + e.offset + kLogModuleListOffset + i * kLogModuleEntrySize;
      r.modules.push_back(
          {int32_t(LoadU32(module)), ReadField(module + kLogModulePathOffset, kLogModulePathUnits).value_or(u"")});
    }
    list.push_back(std::move(r));
    return false;
  });
  return list;
}
