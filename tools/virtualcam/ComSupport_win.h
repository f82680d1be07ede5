// Small COM helpers of the virtual camera: live-object counting and an IMFAttributes
// implementation that forwards to a store made by MFCreateAttributes, with optional
// read faults per key.
#pragma once

#include <windows.h>
#include <mfapi.h>
#include <mfidl.h>

#include <wrl/client.h>

#include "common/ComObject_win.h"
#include "common/Ownership_win.h"
#include "tools/virtualcam/VirtualCamControl.h"

namespace virtualcam {

using Microsoft::WRL::ComPtr;

enum class CountKind { Activate, Source, Stream, Sample, Buffer, Control, Other };

void CountObject(CountKind kind, LONG delta);
void ReadCounts(VirtualCamCounts* counts);

// A member of every COM object of the double: counts the object from construction to
// destruction.
class LiveCount {
 public:
  explicit LiveCount(CountKind kind) : kind_(kind) { CountObject(kind_, +1); }
  ~LiveCount() { CountObject(kind_, -1); }
  LiveCount(const LiveCount&) = delete;
  LiveCount& operator=(const LiveCount&) = delete;

 private:
  CountKind kind_;
};

// Forwards every IMFAttributes method of `Base` (IMFActivate, IMFStreamDescriptor) to
// `attributes_`. ReadFault(key) lets a derived class make reads of one key fail, as a
// driver whose property cannot be read would.
template <class Base>
class AttributesForwarder : public Base {
 public:
  STDMETHODIMP GetItem(REFGUID key, PROPVARIANT* value) override
  {
    if (HRESULT hr = ReadFault(key)) return hr;
    return attributes_->GetItem(key, value);
  }
  STDMETHODIMP GetItemType(REFGUID key, MF_ATTRIBUTE_TYPE* type) override
  {
    if (HRESULT hr = ReadFault(key)) return hr;
    return attributes_->GetItemType(key, type);
  }
  STDMETHODIMP CompareItem(REFGUID key, REFPROPVARIANT value, BOOL* result) override
  {
    return attributes_->CompareItem(key, value, result);
  }
  STDMETHODIMP Compare(IMFAttributes* theirs, MF_ATTRIBUTES_MATCH_TYPE type, BOOL* result) override
  {
    return attributes_->Compare(theirs, type, result);
  }
  STDMETHODIMP GetUINT32(REFGUID key, UINT32* value) override
  {
    if (HRESULT hr = ReadFault(key)) return hr;
    return attributes_->GetUINT32(key, value);
  }
  STDMETHODIMP GetUINT64(REFGUID key, UINT64* value) override
  {
    if (HRESULT hr = ReadFault(key)) return hr;
    return attributes_->GetUINT64(key, value);
  }
  STDMETHODIMP GetDouble(REFGUID key, double* value) override
  {
    if (HRESULT hr = ReadFault(key)) return hr;
    return attributes_->GetDouble(key, value);
  }
  STDMETHODIMP GetGUID(REFGUID key, GUID* value) override
  {
    if (HRESULT hr = ReadFault(key)) return hr;
    return attributes_->GetGUID(key, value);
  }
  STDMETHODIMP GetStringLength(REFGUID key, UINT32* length) override
  {
    if (HRESULT hr = ReadFault(key)) return hr;
    return attributes_->GetStringLength(key, length);
  }
  STDMETHODIMP GetString(REFGUID key, LPWSTR value, UINT32 size, UINT32* length) override
  {
    if (HRESULT hr = ReadFault(key)) return hr;
    return attributes_->GetString(key, value, size, length);
  }
  STDMETHODIMP GetAllocatedString(REFGUID key, LPWSTR* value, UINT32* length) override
  {
    if (HRESULT hr = ReadFault(key)) return hr;
    return attributes_->GetAllocatedString(key, value, length);
  }
  STDMETHODIMP GetBlobSize(REFGUID key, UINT32* size) override
  {
    if (HRESULT hr = ReadFault(key)) return hr;
    return attributes_->GetBlobSize(key, size);
  }
  STDMETHODIMP GetBlob(REFGUID key, UINT8* buf, UINT32 size, UINT32* written) override
  {
    if (HRESULT hr = ReadFault(key)) return hr;
    return attributes_->GetBlob(key, buf, size, written);
  }
  STDMETHODIMP GetAllocatedBlob(REFGUID key, UINT8** buf, UINT32* size) override
  {
    if (HRESULT hr = ReadFault(key)) return hr;
    return attributes_->GetAllocatedBlob(key, buf, size);
  }
  STDMETHODIMP GetUnknown(REFGUID key, REFIID riid, void** out) override
  {
    if (HRESULT hr = ReadFault(key)) return hr;
    return attributes_->GetUnknown(key, riid, out);
  }
  STDMETHODIMP SetItem(REFGUID key, REFPROPVARIANT value) override { return attributes_->SetItem(key, value); }
  STDMETHODIMP DeleteItem(REFGUID key) override { return attributes_->DeleteItem(key); }
  STDMETHODIMP DeleteAllItems() override { return attributes_->DeleteAllItems(); }
  STDMETHODIMP SetUINT32(REFGUID key, UINT32 value) override { return attributes_->SetUINT32(key, value); }
  STDMETHODIMP SetUINT64(REFGUID key, UINT64 value) override { return attributes_->SetUINT64(key, value); }
  STDMETHODIMP SetDouble(REFGUID key, double value) override { return attributes_->SetDouble(key, value); }
  STDMETHODIMP SetGUID(REFGUID key, REFGUID value) override { return attributes_->SetGUID(key, value); }
  STDMETHODIMP SetString(REFGUID key, LPCWSTR value) override { return attributes_->SetString(key, value); }
  STDMETHODIMP SetBlob(REFGUID key, const UINT8* buf, UINT32 size) override
  {
    return attributes_->SetBlob(key, buf, size);
  }
  STDMETHODIMP SetUnknown(REFGUID key, IUnknown* value) override { return attributes_->SetUnknown(key, value); }
  STDMETHODIMP LockStore() override { return attributes_->LockStore(); }
  STDMETHODIMP UnlockStore() override { return attributes_->UnlockStore(); }
  STDMETHODIMP GetCount(UINT32* count) override { return attributes_->GetCount(count); }
  STDMETHODIMP GetItemByIndex(UINT32 index, GUID* key, PROPVARIANT* value) override
  {
    return attributes_->GetItemByIndex(index, key, value);
  }
  STDMETHODIMP CopyAllItems(IMFAttributes* dest) override { return attributes_->CopyAllItems(dest); }

 protected:
  virtual HRESULT ReadFault(REFGUID key)
  {
    (void)key;
    return S_OK;
  }
  ComPtr<IMFAttributes> attributes_;
};

}  // namespace virtualcam
