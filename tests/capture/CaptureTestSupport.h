// What the capture tests share beyond tests/support/HostTest.h: small Media Foundation
// objects for the white-box tests (video types, tagged one-pixel samples, a buffer that
// a driver may hand over, a source reader to script) and the process's private memory.
#pragma once

#include "tests/support/HostTest.h"

#include <mfapi.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <psapi.h>
#include <wrl/client.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <vector>

namespace capturetest {

using namespace pictortest;
using Microsoft::WRL::ComPtr;

inline ComPtr<IMFMediaType> MakeVideoType(const GUID& subtype, UINT32 width, UINT32 height, bool withStride,
                                          INT32 stride)
{
  ComPtr<IMFMediaType> type;
  EXPECT_EQ(MFCreateMediaType(&type), S_OK);
  type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
  type->SetGUID(MF_MT_SUBTYPE, subtype);
  MFSetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, width, height);
  MFSetAttributeRatio(type.Get(), MF_MT_FRAME_RATE, 30, 1);
  MFSetAttributeRatio(type.Get(), MF_MT_PIXEL_ASPECT_RATIO, 1, 1);
  if (withStride) type->SetUINT32(MF_MT_DEFAULT_STRIDE, static_cast<UINT32>(stride));
  return type;
}

inline ComPtr<IMFMediaBuffer> MakeBuffer(DWORD maxLength, const std::vector<uint8_t>& bytes)
{
  ComPtr<IMFMediaBuffer> buffer;
  BYTE* data = nullptr;
  EXPECT_EQ(MFCreateMemoryBuffer(maxLength, &buffer), S_OK);
  EXPECT_EQ(buffer->Lock(&data, nullptr, nullptr), S_OK);
  std::memcpy(data, bytes.data(), bytes.size());
  buffer->Unlock();
  buffer->SetCurrentLength(static_cast<DWORD>(bytes.size()));
  return buffer;
}

// A 1x1 RGB32 sample whose one pixel carries a tag; `extra` is added as a second buffer.
inline ComPtr<IMFSample> TaggedSample(uint8_t tag, IMFMediaBuffer* extra = nullptr)
{
  ComPtr<IMFSample> sample;
  EXPECT_EQ(MFCreateSample(&sample), S_OK);
  sample->AddBuffer(MakeBuffer(4, {tag, 0, 0, 0}).Get());
  if (extra) sample->AddBuffer(extra);
  sample->SetSampleTime(tag * 333'333LL);
  sample->SetSampleDuration(333'333);
  return sample;
}

// A driver's buffer: Lock fails without data, else reports the lengths it is given (a
// current length over the maximum included). On the test's stack; counts its references.
class FakeBuffer : public IMFMediaBuffer {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override
  {
    *out = iid == __uuidof(IUnknown) || iid == __uuidof(IMFMediaBuffer) ? this : nullptr;
    return *out ? (AddRef(), S_OK) : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++Refs; }
  STDMETHODIMP_(ULONG) Release() override { return --Refs; }
  STDMETHODIMP Lock(BYTE** data, DWORD* max, DWORD* current) override  // the library asks for all three
  {
    return Data ? (*data = Data, *max = MaxLength, *current = CurrentLength, S_OK) : E_FAIL;
  }
  STDMETHODIMP Unlock() override { return Data ? S_OK : E_FAIL; }
  STDMETHODIMP GetCurrentLength(DWORD* length) override { return *length = CurrentLength, S_OK; }
  STDMETHODIMP SetCurrentLength(DWORD) override { return S_OK; }
  STDMETHODIMP GetMaxLength(DWORD* length) override { return *length = MaxLength, S_OK; }
  std::atomic<ULONG> Refs{1};
  BYTE* Data = nullptr;
  DWORD MaxLength = 4, CurrentLength = 4;
};

// A source reader that answers every call with E_NOTIMPL until a test overrides it. It is
// not heap-allocated and counts the references it gave out.
class StubReader : public IMFSourceReader {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override
  {
    *out = iid == __uuidof(IUnknown) || iid == __uuidof(IMFSourceReader) ? this : nullptr;
    return *out ? (AddRef(), S_OK) : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++Refs; }
  STDMETHODIMP_(ULONG) Release() override { return --Refs; }
  STDMETHODIMP ReadSample(DWORD, DWORD, DWORD*, DWORD*, LONGLONG*, IMFSample**) override { return E_NOTIMPL; }
  STDMETHODIMP GetStreamSelection(DWORD, BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP SetStreamSelection(DWORD, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP GetNativeMediaType(DWORD, DWORD, IMFMediaType**) override { return E_NOTIMPL; }
  STDMETHODIMP GetCurrentMediaType(DWORD, IMFMediaType**) override { return E_NOTIMPL; }
  STDMETHODIMP SetCurrentMediaType(DWORD, DWORD*, IMFMediaType*) override { return E_NOTIMPL; }
  STDMETHODIMP SetCurrentPosition(REFGUID, REFPROPVARIANT) override { return E_NOTIMPL; }
  STDMETHODIMP Flush(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetServiceForStream(DWORD, REFGUID, REFIID, void**) override { return E_NOTIMPL; }
  STDMETHODIMP GetPresentationAttribute(DWORD, REFGUID, PROPVARIANT*) override { return E_NOTIMPL; }
  std::atomic<ULONG> Refs{0};
};

inline ULONG RefCount(IUnknown* object)
{
  object->AddRef();
  return object->Release();
}

inline SIZE_T PrivateBytes()
{
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
  // Wine 8.0 reports no private usage; its page-file usage counts the same memory.
  return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

}  // namespace capturetest
