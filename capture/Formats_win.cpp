// Capture formats: the native media types of a camera's first video stream that the
// library can deliver as RGB32, described as TPictorFormat records.
#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <propvarutil.h>
#include <wrl/client.h>

#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "Pictor.h"
#include "capture/CameraAccess.h"
#include "capture/PictorFormats.h"
#include "capture/PictorState.h"
#include "capture/WideField.h"
#include "convert/MFVideoConverter.h"
#include "media/GUIDNames.h"
#include "log/Log.h"
#include "log/LogTrace.h"

using Microsoft::WRL::ComPtr;

namespace {

// GetPictorFormatByIndex looks at no more formats than this.
constexpr int kMaxFormatsByIndex = 200;

// The UINT32 attributes that have a field of their own.
struct TUInt32Field {
  const GUID* key;
  unsigned int TPictorFormat::*field;
};
const TUInt32Field kUInt32Fields[] = {
    {&MF_MT_YUV_MATRIX, &TPictorFormat::YUVMatrix},
    {&MF_MT_VIDEO_LIGHTING, &TPictorFormat::VideoLighting},
    {&MF_MT_DEFAULT_STRIDE, &TPictorFormat::DefaultStride},
    {&MF_MT_VIDEO_CHROMA_SITING, &TPictorFormat::VideoChromaSiting},
    {&MF_MT_VIDEO_NOMINAL_RANGE, &TPictorFormat::VideoNominalRange},
    {&MF_MT_ALL_SAMPLES_INDEPENDENT, &TPictorFormat::AllSamplesIndependent},
    {&MF_MT_FIXED_SIZE_SAMPLES, &TPictorFormat::FixedSizeSamples},
    {&MF_MT_SAMPLE_SIZE, &TPictorFormat::SampleSize},
    {&MF_MT_VIDEO_PRIMARIES, &TPictorFormat::VideoPrimaries},
    {&MF_MT_INTERLACE_MODE, &TPictorFormat::InterlaceMode},
};

// The packed 64-bit attributes: high half into the first field, low half into the second.
struct TPackedFields {
  const GUID* key;
  unsigned int TPictorFormat::*high;
  unsigned int TPictorFormat::*low;
};
const TPackedFields kPackedFields[] = {
    {&MF_MT_FRAME_SIZE, &TPictorFormat::Width, &TPictorFormat::Height},
    {&MF_MT_FRAME_RATE, &TPictorFormat::FrameRate, &TPictorFormat::FrameRateLow},
    {&MF_MT_FRAME_RATE_RANGE_MAX, &TPictorFormat::FrameRateRangeMax, &TPictorFormat::FrameRateRangeMaxLow},
    {&MF_MT_FRAME_RATE_RANGE_MIN, &TPictorFormat::FrameRateRangeMin, &TPictorFormat::FrameRateRangeMinLow},
    {&MF_MT_PIXEL_ASPECT_RATIO, &TPictorFormat::PixelAspectRatio, &TPictorFormat::PixelAspectRatioLow},
};

// The GUID attributes that carry a name field.
struct TNamedGUIDField {
  const GUID* key;
  GUID TPictorFormat::*guid;
  wchar_t (TPictorFormat::*name)[kPictorFormatNameCapacity];
};
const TNamedGUIDField kNamedGUIDFields[] = {
    {&MF_MT_AM_FORMAT_TYPE, &TPictorFormat::AMFormatType, &TPictorFormat::AMFormatTypeName},
    {&MF_MT_MAJOR_TYPE, &TPictorFormat::MajorType, &TPictorFormat::MajorTypeName},
    {&MF_MT_SUBTYPE, &TPictorFormat::SubType, &TPictorFormat::SubTypeName},
};

// Clears the PROPVARIANT on every path.
class TPropVariant {
 public:
  TPropVariant() { PropVariantInit(&value_); }
  ~TPropVariant() { PropVariantClear(&value_); }
  TPropVariant(const TPropVariant&) = delete;
  TPropVariant& operator=(const TPropVariant&) = delete;
  PROPVARIANT* operator&() { return &value_; }
  const PROPVARIANT& operator*() const { return value_; }

 private:
  PROPVARIANT value_;
};

}  // namespace

int ReadPictorFormatAttribute(IMFMediaType* type, UINT32 index, TPictorFormat* format)
{
  GUID key = GUID_NULL;
  TPropVariant value;
  HRESULT hr = type->GetItemByIndex(index, &key, &value);
  if (FAILED(hr)) return hr;

  const PROPVARIANT& v = *value;
  for (const TPackedFields& packed : kPackedFields) {
    if (key != *packed.key) continue;
    // Media Foundation stores these with SetUINT64; another value type carries no pair.
    if (v.vt == VT_UI8) {
      format->*packed.high = static_cast<unsigned int>(v.uhVal.QuadPart >> 32);
      format->*packed.low = static_cast<unsigned int>(v.uhVal.QuadPart);
      if (packed.key == &MF_MT_FRAME_SIZE) format->FrameSize = format->Width * format->Height;
    }
    return 0;
  }

  if (v.vt == VT_UI4) {
    for (const TUInt32Field& entry : kUInt32Fields) {
      if (key == *entry.key) format->*entry.field = v.ulVal;
    }
  } else if (v.vt == VT_CLSID && v.puuid) {
    for (const TNamedGUIDField& entry : kNamedGUIDFields) {
      if (key != *entry.key) continue;
      std::wstring text;
      PictorGUIDAsString(*v.puuid, text);
      type->GetGUID(key, &(format->*entry.guid));
      CopyToWideField(format->*entry.name, kPictorFormatNameCapacity, text.c_str());
    }
  }
  return 1;
}

bool ReadPictorFormat(IMFMediaType* type, TPictorFormat* format)
{
  *format = TPictorFormat();
  HRESULT hr = type->LockStore();
  if (SUCCEEDED(hr)) {
    UINT32 count = 0;
    hr = type->GetCount(&count);
    if (FAILED(hr)) {
      type->UnlockStore();
    } else {
      for (UINT32 index = 0; index < count; ++index) {
        if (ReadPictorFormatAttribute(type, index, format) < 0) break;
      }
      hr = type->UnlockStore();
      if (SUCCEEDED(hr)) return true;
    }
  }
  LogError("%s exit error %d", "ReadPictorFormat", static_cast<int>(hr));
  return false;
}

bool SamePictorFormat(const TPictorFormat& a, const TPictorFormat& b)
{
  return a.FrameSize == b.FrameSize && a.Height == b.Height && a.Width == b.Width && a.YUVMatrix == b.YUVMatrix &&
         a.VideoLighting == b.VideoLighting && a.DefaultStride == b.DefaultStride &&
         a.VideoChromaSiting == b.VideoChromaSiting && a.AMFormatType == b.AMFormatType &&
         a.FixedSizeSamples == b.FixedSizeSamples && a.VideoNominalRange == b.VideoNominalRange &&
         a.FrameRate == b.FrameRate && a.FrameRateLow == b.FrameRateLow && a.PixelAspectRatio == b.PixelAspectRatio &&
         a.PixelAspectRatioLow == b.PixelAspectRatioLow && a.AllSamplesIndependent == b.AllSamplesIndependent &&
         a.FrameRateRangeMin == b.FrameRateRangeMin && a.FrameRateRangeMinLow == b.FrameRateRangeMinLow &&
         a.SampleSize == b.SampleSize && a.VideoPrimaries == b.VideoPrimaries && a.InterlaceMode == b.InterlaceMode &&
         a.FrameRateRangeMax == b.FrameRateRangeMax && a.FrameRateRangeMaxLow == b.FrameRateRangeMaxLow &&
         a.MajorType == b.MajorType && a.SubType == b.SubType;
}

namespace {

// The first native type of the first video stream equal to the format, or null (*result: the
// failing call's, S_OK when none is equal). A type whose attributes cannot be read ends the
// search: it is never used.
ComPtr<IMFMediaType> FindNativeType(IMFSourceReader* reader, const TPictorFormat& format, const char* name,
                                    HRESULT* result)
{
  for (DWORD index = 0;; ++index) {
    ComPtr<IMFMediaType> type;
    const HRESULT hr = reader->GetNativeMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, index, &type);
    if (hr == MF_E_NO_MORE_TYPES) {
      if (name) LogInfo("%s no more media types %d", name, static_cast<int>(index));
      return nullptr;
    }
    if (name && type)
      TMFVideoConverter::LogMediaTypeBasicParams(type.Get(), nullptr, nullptr, nullptr, nullptr, nullptr);
    // A reader that reports success without a type is treated as a failed call.
    if (hr != S_OK || !type) {
      *result = hr != S_OK ? hr : E_POINTER;
      if (name)
        LogInfo("%s error getting media type for %d error %x", name, static_cast<int>(index),
                static_cast<unsigned>(*result));
      return nullptr;
    }
    TPictorFormat native;
    if (!ReadPictorFormat(type.Get(), &native)) {
      if (name) LogError("%s unable to convert IMFMediaType to TMSMFWebCamFormat", name);
      return nullptr;
    }
    if (SamePictorFormat(native, format)) {
      if (name) LogInfo("%s found format %d", name, static_cast<int>(index));
      return type;
    }
    if (name) {
      LogInfo("%s %d format properties:", name, static_cast<int>(index));
      TPictor::LogPictorFormatProperties(native);
    }
  }
}

}  // namespace

ComPtr<IMFMediaType> SelectNativeType(IMFSourceReader* reader, const TPictorFormat& format, const char* name,
                                      HRESULT* result)
{
  *result = reader->SetStreamSelection(MF_SOURCE_READER_ALL_STREAMS, FALSE);
  if (*result == S_OK) *result = reader->SetStreamSelection(MF_SOURCE_READER_FIRST_VIDEO_STREAM, TRUE);
  if (*result != S_OK) {
    if (name) LogError("%s unable to deselect all streams error %x", name, static_cast<unsigned>(*result));
    return nullptr;
  }
  if (name) {
    LogInfo("%s the required format properties:", name);
    TPictor::LogPictorFormatProperties(format);
  }
  ComPtr<IMFMediaType> type = FindNativeType(reader, format, name, result);
  if (!type) {
    if (name) LogError("%s unable to find the required format.", name);
    return nullptr;
  }
  *result = reader->SetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, nullptr, type.Get());
  if (*result != S_OK) {
    if (name) LogError("%s unable to set RGB media type error %x", name, static_cast<unsigned>(*result));
    return nullptr;
  }
  return type;
}

namespace {

int EnumerateFormats(TCameraAccess& camera, TPictorFormat* formats, int capacity, TPictorConversion conversion)
{
  static const char kName[] = "TPictor::EnumerateCaptureFormats";
  HRESULT hr = camera.SelectFirstVideoStream();
  if (hr != S_OK) {
    LogError("%s unable to deselect all streams error %x", kName, static_cast<unsigned>(hr));
    return 0;
  }

  // A negative capacity is treated like none: count, but write nothing.
  const bool writing = formats != nullptr && capacity > 0;
  int count = 0;
  for (DWORD index = 0;; ++index) {
    ComPtr<IMFMediaType> type;
    hr = camera.NativeType(index, type.GetAddressOf());
    if (hr == MF_E_NO_MORE_TYPES) {
      LogInfo("%s no more media types %d", kName, static_cast<int>(index));
      break;
    }
    if (hr != S_OK || !type) {
      LogInfo("%s error getting media type for %d error %x", kName, static_cast<int>(index),
              static_cast<unsigned>(hr != S_OK ? hr : E_POINTER));
      break;
    }
    // The built-in conversion lists what its kernels read, the default what the Color
    // Converter DSP accepts.
    if (conversion == pcBuiltIn) {
      if (!TMFVideoConverter::CanConvertBuiltIn(type.Get())) continue;
    } else {
      type->AddRef();  // CanUseAsInputType takes a reference of its own
      if (!TMFVideoConverter::CanUseAsInputType(type.Get())) continue;
    }
    if (writing) ReadPictorFormat(type.Get(), &formats[count]);
    ++count;
    if (writing && count >= capacity) break;
  }
  return count;
}

}  // namespace

int TPictor::GetCaptureFormatsCount(const wchar_t* symbolicLink)
{
  return EnumerateCaptureFormats(symbolicLink, nullptr, 0);
}

int TPictor::EnumerateCaptureFormats(const wchar_t* symbolicLink, TPictorFormat* formats, int capacity)
{
  static const char kName[] = "TPictor::EnumerateCaptureFormats";
  LogInfo("%s", kName);
  if (StateMissing(pState, kName)) return 0;
  int count = 0;
  try {
    TCameraAccess camera(*this, symbolicLink);
    if (!camera.Opened()) {
      LogInfo("%s exit unable to activate", kName);
      return 0;
    }
    count = EnumerateFormats(camera, formats, capacity, pState->Conversion);
  } catch (...) {
    LogError("%s unexpected exception", kName);
    count = 0;
  }
  LogInfo("%s exit with %d", kName, count);
  return count;
}

TPictorFormat TPictor::GetPictorFormatByIndex(const wchar_t* symbolicLink, int index)
{
  static const char kName[] = "TPictor::GetPictorFormatByIndex";
  const TLogScope scope(kName);
  TPictorFormat result;
  try {
    std::vector<TPictorFormat> formats(kMaxFormatsByIndex);
    const int count = EnumerateCaptureFormats(symbolicLink, formats.data(), kMaxFormatsByIndex);
    if (count >= 1) {
      // An index out of range picks the first format rather than failing.
      result = formats[(index >= 0 && index < count) ? index : 0];
    } else {
      LogError("%s EnumerateCaptureFormats returned 0", kName);
    }
  } catch (...) {
    LogError("%s unexpected exception", kName);
    result = TPictorFormat();
  }
  return result;
}

void TPictor::LogPictorFormatProperties(TPictorFormat format)
{
  static const char kName[] = "TPictor::LogPictorFormatProperties";
  auto d = [](unsigned int field) { return static_cast<int>(field); };
  // The record may come from the host with a name that lacks its NUL: no name is read
  // past its field.
  auto n = [](const wchar_t* field) { return static_cast<int>(wcsnlen(field, kPictorFormatNameCapacity)); };
  LogInfo("%s MF_MT_FRAME_SIZE : %d", kName, d(format.FrameSize));
  LogInfo("%s height : %d", kName, d(format.Height));
  LogInfo("%s width : %d", kName, d(format.Width));
  LogInfo("%s MF_MT_YUV_MATRIX : %d", kName, d(format.YUVMatrix));
  LogInfo("%s MF_MT_VIDEO_LIGHTING : %d", kName, d(format.VideoLighting));
  LogInfo("%s MF_MT_DEFAULT_STRIDE : %d", kName, d(format.DefaultStride));
  LogInfo("%s MF_MT_VIDEO_CHROMA_SITING : %d", kName, d(format.VideoChromaSiting));
  LogInfo("%s MF_MT_AM_FORMAT_TYPE : %.*S", kName, n(format.AMFormatTypeName), format.AMFormatTypeName);
  LogInfo("%s MF_MT_FIXED_SIZE_SAMPLES : %d", kName, d(format.FixedSizeSamples));
  LogInfo("%s MF_MT_VIDEO_NOMINAL_RANGE : %d", kName, d(format.VideoNominalRange));
  LogInfo("%s MF_MT_FRAME_RATE : %d", kName, d(format.FrameRate));
  LogInfo("%s MF_MT_FRAME_RATE_low : %d", kName, d(format.FrameRateLow));
  LogInfo("%s MF_MT_PIXEL_ASPECT_RATIO : %d", kName, d(format.PixelAspectRatio));
  LogInfo("%s MF_MT_PIXEL_ASPECT_RATIO_low : %d", kName, d(format.PixelAspectRatioLow));
  LogInfo("%s MF_MT_ALL_SAMPLES_INDEPENDENT : %d", kName, d(format.AllSamplesIndependent));
  LogInfo("%s MF_MT_FRAME_RATE_RANGE_MIN : %d", kName, d(format.FrameRateRangeMin));
  LogInfo("%s MF_MT_FRAME_RATE_RANGE_MIN_low : %d", kName, d(format.FrameRateRangeMinLow));
  LogInfo("%s MF_MT_SAMPLE_SIZE : %d", kName, d(format.SampleSize));
  LogInfo("%s MF_MT_VIDEO_PRIMARIES : %d", kName, d(format.VideoPrimaries));
  LogInfo("%s MF_MT_INTERLACE_MODE : %d", kName, d(format.InterlaceMode));
  LogInfo("%s MF_MT_FRAME_RATE_RANGE_MAX : %d", kName, d(format.FrameRateRangeMax));
  LogInfo("%s MF_MT_FRAME_RATE_RANGE_MAX_low : %d", kName, d(format.FrameRateRangeMaxLow));
  LogInfo("%s MF_MT_MAJOR_TYPE : %.*S", kName, n(format.MajorTypeName), format.MajorTypeName);
  LogInfo("%s MF_MT_SUBTYPE : %.*S", kName, n(format.SubTypeName), format.SubTypeName);
}
