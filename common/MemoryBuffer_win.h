// The methods of a plain contiguous IMFMediaBuffer over memory its subclass provides and
// owns: the pooled frame buffers of the library and the virtual camera's buffers.
// Header-only, like ComObject_win.h.
#pragma once

#include "common/ComObject_win.h"

#include <mfobjects.h>

class TMemoryBuffer : public TComObject<IMFMediaBuffer> {
 public:
  STDMETHODIMP Lock(BYTE** buffer, DWORD* maxLength, DWORD* currentLength) final
  {
    if (!buffer) return E_POINTER;
    *buffer = Data;
    if (maxLength) *maxLength = MaxLength;
    if (currentLength) *currentLength = CurrentLength;
    return S_OK;
  }
  STDMETHODIMP Unlock() final { return S_OK; }
  STDMETHODIMP GetCurrentLength(DWORD* length) final
  {
    if (!length) return E_POINTER;
    *length = CurrentLength;
    return S_OK;
  }
  STDMETHODIMP SetCurrentLength(DWORD length) final
  {
    if (length > MaxLength) return E_INVALIDARG;
    CurrentLength = length;
    return S_OK;
  }
  STDMETHODIMP GetMaxLength(DWORD* length) final
  {
    if (!length) return E_POINTER;
    *length = MaxLength;
    return S_OK;
  }

 protected:
  TMemoryBuffer(BYTE* data, DWORD maxLength, DWORD currentLength)
      : Data(data), MaxLength(maxLength), CurrentLength(currentLength)
  {
  }

  BYTE* Data;  // the subclass's memory
  DWORD MaxLength;
  DWORD CurrentLength;
};
