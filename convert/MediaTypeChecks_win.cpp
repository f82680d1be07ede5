// The converter's static services: can a native type be delivered as RGB32, and a
// one-line description of a media type.
#include <windows.h>
#include <mfapi.h>
#include <mfidl.h>
#include <mftransform.h>
#include <wmcodecdsp.h>
#include <wrl/client.h>

#include <string>

#include "media/GUIDNames.h"
#include "common/Ownership_win.h"
#include "convert/MFVideoConverter.h"
#include "log/Log.h"
#include "log/LogTrace.h"

using Microsoft::WRL::ComPtr;

bool TMFVideoConverter::CanUseAsInputType(IMFMediaType* type)
{
  static const char kName[] = "TMFVideoConverter::CanUseAsInputType";
  // Declared first, so that the exit line comes after the references are released.
  TLogScope scope(kName);
  // The caller handed over one reference; it is released on every path.
  const ComPtr<IMFMediaType> owned = AdoptComPtr(type);

  bool answer = false;
  GUID major = GUID_NULL;
  GUID subtype = GUID_NULL;
  if (type) LogMediaTypeBasicParams(type, nullptr, nullptr, nullptr, &major, &subtype);

  ComPtr<IMFTransform> transform;
  if (!type) {
    LogError("%s SetInputType error: %x", kName, static_cast<unsigned>(E_POINTER));
  } else if (major == MFMediaType_Video && (subtype == MFVideoFormat_ARGB32 || subtype == MFVideoFormat_RGB32)) {
    LogInfo("%s We can use this format - RGB32 or ARGB32", kName);
    answer = true;
  } else {
    // The Color Converter DSP decides: a type it takes as input can be converted.
    HRESULT hr = CoCreateInstance(CLSID_CColorConvertDMO, nullptr, CLSCTX_ALL, IID_PPV_ARGS(transform.GetAddressOf()));
    if (hr != S_OK) {
      LogError("%s CoCreateInstance error: %x", kName, static_cast<unsigned>(hr));
    } else {
      hr = transform->SetInputType(0, type, 0);
      if (hr == S_OK) {
        answer = true;
      } else {
        LogInfo("%s SetInputType error: %x", kName, static_cast<unsigned>(hr));
      }
    }
  }
  return scope.Returns(answer);
}

bool TMFVideoConverter::CanConvertBuiltIn(IMFMediaType* type)
{
  TLogScope scope("TMFVideoConverter::CanConvertBuiltIn");
  GUID major = GUID_NULL;
  GUID subtype = GUID_NULL;
  UINT32 width = 0;
  UINT32 height = 0;
  if (type) LogMediaTypeBasicParams(type, &width, &height, nullptr, &major, &subtype);
  const GUID* const readable[] = {&MFVideoFormat_MJPG, &MFVideoFormat_YUY2,  &MFVideoFormat_UYVY,
                                  &MFVideoFormat_NV12, &MFVideoFormat_I420,  &MFVideoFormat_IYUV,
                                  &MFVideoFormat_YV12, &MFVideoFormat_RGB32, &MFVideoFormat_ARGB32};
  bool answer = false;
  if (type && major == MFMediaType_Video && width > 0 && height > 0) {
    for (const GUID* known : readable) answer = answer || subtype == *known;
  }
  return scope.Returns(answer);
}

void TMFVideoConverter::LogMediaTypeBasicParams(IMFMediaType* type, UINT32* width, UINT32* height, INT32* stride,
                                                GUID* majorType, GUID* subType)
{
  static const char kName[] = "TMFVideoConverter::LogMediaTypeBasicParams";
  UINT32 w = 0;
  UINT32 h = 0;
  INT32 s = 0;
  GUID major = GUID_NULL;
  GUID sub = GUID_NULL;

  // Each step needs the one before; the description line is written whatever was read.
  [&] {
    if (!type) {
      LogError("%s GetMajorType error: %x", kName, static_cast<unsigned>(E_POINTER));
      return;
    }
    HRESULT hr = type->GetMajorType(&major);
    if (hr != S_OK) {
      major = GUID_NULL;
      LogError("%s GetMajorType error: %x", kName, static_cast<unsigned>(hr));
      return;
    }
    if (majorType) *majorType = major;
    hr = type->GetGUID(MF_MT_SUBTYPE, &sub);
    if (hr != S_OK) {
      sub = GUID_NULL;
      LogError("%s GetGUID MF_MT_SUBTYPE error: %x", kName, static_cast<unsigned>(hr));
      return;
    }
    if (subType) *subType = sub;
    UINT64 size = 0;
    hr = type->GetUINT64(MF_MT_FRAME_SIZE, &size);
    if (hr != S_OK) {
      LogError("%s GetUINT64 MF_MT_FRAME_SIZE error: %x", kName, static_cast<unsigned>(hr));
      return;
    }
    w = static_cast<UINT32>(size >> 32);
    h = static_cast<UINT32>(size);
    UINT32 rawStride = 0;
    hr = type->GetUINT32(MF_MT_DEFAULT_STRIDE, &rawStride);
    if (hr != S_OK) {
      LogInfo("%s GetUINT32 MF_MT_DEFAULT_STRIDE error: %x", kName, static_cast<unsigned>(hr));
      return;
    }
    s = static_cast<INT32>(rawStride);
  }();

  const std::wstring majorName = GetMFGUIDName(major);
  const std::wstring subName = GetMFGUIDName(sub);
  LogInfo("%s type %S - subtype %S - %d x %d, stride %d", kName, majorName.c_str(), subName.c_str(),
          static_cast<int>(w), static_cast<int>(h), static_cast<int>(s));
  if (width) *width = w;
  if (height) *height = h;
  if (stride) *stride = s;
}
