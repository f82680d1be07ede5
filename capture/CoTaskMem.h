// Owners for memory that COM hands out with CoTaskMemAlloc: strings from
// GetAllocatedString / StringFromCLSID and the activation array of MFEnumDeviceSources.
#pragma once

#include <objbase.h>

#include <cstddef>

// One CoTaskMem block, freed when the owner goes.
template <typename T>
class TCoTaskMemPtr {
 public:
  TCoTaskMemPtr() = default;
  ~TCoTaskMemPtr() { Reset(); }
  TCoTaskMemPtr(const TCoTaskMemPtr&) = delete;
  TCoTaskMemPtr& operator=(const TCoTaskMemPtr&) = delete;

  T* Get() const { return p_; }
  // For an out-parameter: frees what is held and hands out the slot.
  T** Put() {
    Reset();
    return &p_;
  }
  void Reset() {
    if (p_) CoTaskMemFree(p_);
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

// Copies a NUL-terminated wide string into a field of `capacity` characters (the NUL
// included). A longer text is cut at capacity - 1 characters, never in the middle of
// a surrogate pair; the field always ends with a NUL and nothing beyond it is touched.
inline void CopyToWideField(wchar_t* field, size_t capacity, const wchar_t* text) {
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
