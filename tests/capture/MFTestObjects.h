// Small Media Foundation objects for the white-box tests: video types and tagged
// one-pixel samples.
#pragma once

#include <windows.h>

#include <mfapi.h>
#include <mfidl.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <cstdint>

namespace capturetest {

using Microsoft::WRL::ComPtr;

inline ComPtr<IMFMediaType> MakeVideoType(const GUID& subtype, UINT32 width, UINT32 height, bool withStride, INT32 stride)
{
  ComPtr<IMFMediaType> type;
  EXPECT_EQ(MFCreateMediaType(&type), S_OK);
  type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
  type->SetGUID(MF_MT_SUBTYPE, subtype);
  MFSetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, width, height);
  MFSetAttributeRatio(type.Get(), MF_MT_FRAME_RATE, 30, 1);
  MFSetAttributeRatio(type.Get(), MF_MT_PIXEL_ASPECT_RATIO, 1, 1);
  if (withStride)
    type->SetUINT32(MF_MT_DEFAULT_STRIDE, static_cast<UINT32>(stride));
  return type;
}

// A 1x1 RGB32 sample whose one pixel carries a tag.
inline ComPtr<IMFSample> TaggedSample(uint8_t tag, bool timed = true)
{
  ComPtr<IMFSample> sample;
  ComPtr<IMFMediaBuffer> buffer;
  EXPECT_EQ(MFCreateSample(&sample), S_OK);
  EXPECT_EQ(MFCreateMemoryBuffer(4, &buffer), S_OK);
  BYTE* data = nullptr;
  buffer->Lock(&data, nullptr, nullptr);
  data[0] = tag;
  data[1] = data[2] = data[3] = 0;
  buffer->Unlock();
  buffer->SetCurrentLength(4);
  sample->AddBuffer(buffer.Get());
  if (timed) {
    sample->SetSampleTime(tag * 333'333LL);
    sample->SetSampleDuration(333'333);
  }
  return sample;
}

inline ULONG RefCount(IUnknown* object)
{
  object->AddRef();
  return object->Release();
}

}  // namespace capturetest
