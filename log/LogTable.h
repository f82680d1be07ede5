// The log server's registration table, published in a 5 MiB shared mapping:
//   0 entry count (u32), then the entries back to back, each starting with
//   its size (u32) and its type (u32). Type 3 is a directory entry:
//      8 directory path   (1024 UTF-16 units, NUL-terminated)
//   2056 channel name     (1030 UTF-16 units, NUL-terminated within the field)
//   4116 module count     (i32, 0 or less: none)
//   4120 modules, 2052 bytes each: module number (i32), full path (1024 units)
// The server writes it; clients only read it. Every reader here checks sizes, counts
// and string terminators against the bytes it was given, so a corrupt table gives "no
// match" and never a read outside the table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

constexpr uint32_t kLogServerTableSize = 5242880;
constexpr uint32_t kLogDirectoryEntryType = 3;
constexpr size_t kLogEntryHeaderSize = 8;
constexpr size_t kLogDirectoryPathOffset = 8;
constexpr size_t kLogDirectoryPathUnits = 1024;
constexpr size_t kLogChannelNameOffset = 2056;
constexpr size_t kLogChannelNameUnits = 1030;
constexpr size_t kLogModuleCountOffset = 4116;
constexpr size_t kLogModuleListOffset = 4120;
constexpr size_t kLogModuleEntrySize = 2052;
constexpr size_t kLogModulePathOffset = 4;
constexpr size_t kLogModulePathUnits = 1024;

// Equality of UTF-16 strings with only the ASCII letters A-Z folded to a-z.
bool LogPathsEqualFolded(std::u16string_view a, std::u16string_view b);

// Offset of the first type-3 entry whose directory path is a prefix of `directory`
// (ASCII case folding; an empty entry path matches no directory).
std::optional<size_t> FindLogDirectoryEntry(const uint8_t* table, size_t tableSize, std::u16string_view directory);

// The channel name of the directory entry at `entryOffset`; empty when it is not
// NUL-terminated within its field.
std::u16string LogDirectoryEntryChannel(const uint8_t* table, size_t tableSize, size_t entryOffset);

// The module number listed for `modulePath` (whole path, ASCII case folding) in the
// entry at `entryOffset`, or 0. Only module elements wholly inside the entry count.
uint32_t LogDirectoryEntryModuleNumber(const uint8_t* table, size_t tableSize, size_t entryOffset,
                                       std::u16string_view modulePath);

// Server side.
struct TLogModuleRegistration {
  int32_t number = 0;
  std::u16string path;
};

struct TLogDirectoryRegistration {
  std::u16string directory;
  std::u16string channel;
  std::vector<TLogModuleRegistration> modules;
};

// Adds a directory entry, first in the table (so it wins over older entries) or last.
// False when the table is corrupt, a string is too long, or there is no room.
bool AddLogDirectoryEntry(uint8_t* table, size_t tableSize, const TLogDirectoryRegistration& entry, bool first);

// Removes every directory entry for `channel`; returns how many. A corrupt table is
// left alone.
size_t RemoveLogDirectoryEntries(uint8_t* table, size_t tableSize, std::u16string_view channel);

// Reads every directory entry back (for listings and tests); stops at the first
// corrupt entry.
std::vector<TLogDirectoryRegistration> ListLogDirectoryEntries(const uint8_t* table, size_t tableSize);
