// Names of Media Foundation GUIDs for diagnostics and for the name fields of
// TPictorFormat: a fixed table from GUID to the Windows SDK identifier.
//
// The table and the braced text form are portable code (tested natively); the
// StringFromCLSID-based PictorGUIDAsString is Windows-only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#if defined(_WIN32)
#  include <guiddef.h>
using TPictorGUID = GUID;
#else
struct TPictorGUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
#endif

struct TMFGUIDNameRow {
  TPictorGUID guid;
  const wchar_t* name;
};

// The whole table, for tests and tools.
const TMFGUIDNameRow* MFGUIDNameTable();
size_t MFGUIDNameTableSize();

// The SDK identifier of guid (exact 128-bit match), or the empty string.
std::wstring GetMFGUIDName(const TPictorGUID& guid);

// Braced registry form, 38 characters, upper-case hex:
// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
std::wstring FormatGUIDBraced(const TPictorGUID& guid);

#if defined(_WIN32)
// text = the table's name of guid, or when it has none the StringFromCLSID form
// (empty when that fails, with an error line).
void PictorGUIDAsString(const GUID& guid, std::wstring& text);
#endif
