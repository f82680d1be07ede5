// Fixed-size wide-text fields of the exported records.
#pragma once

#include <cstddef>

// Copies a NUL-terminated wide string into a field of `capacity` characters (the NUL
// included). A longer text is cut at capacity - 1 characters, never in the middle of
// a surrogate pair; the field always ends with a NUL and nothing beyond it is touched.
inline void CopyToWideField(wchar_t* field, size_t capacity, const wchar_t* text)
{
  if (capacity == 0) return;
  size_t length = 0;
  if (text) {
    while (length < capacity - 1 && text[length] != L'\0') ++length;
    const bool truncated = text[length] != L'\0';
    if (truncated && length > 0) {
      const wchar_t last = text[length - 1];
      if (last >= 0xD800 && last <= 0xDBFF) --length;  // keep the pair whole
    }
  }
  for (size_t i = 0; i < length; ++i) field[i] = text[i];
  field[length] = L'\0';
}
