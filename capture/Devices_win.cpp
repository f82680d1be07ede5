// Listing the video capture devices, and opening / closing the camera slot of a TPictor
// (pMediaSource with a source reader over it).
#include <windows.h>
#include <mfapi.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <wrl/client.h>

#include <algorithm>

#include "Pictor.h"
#include "capture/CameraAccess.h"
#include "capture/CameraClose.h"
#include "capture/PictorState.h"
#include "capture/ReadCallback.h"
#include "capture/Session.h"
#include "capture/WatchedSource.h"
#include "capture/WideField.h"
#include "media/MFRuntime.h"
#include "common/Ownership_win.h"
#include "log/Log.h"
#include "log/LogTrace.h"

using Microsoft::WRL::ComPtr;

namespace {

int EnumerateDevices(TMFRuntime* runtime, TPictorDescr* descrs, int capacity)
{
  static const char kName[] = "TPictor::EnumerateWebCameras";
  if (!runtime || !runtime->bCanUse) {
    LogInfo("%s unable to use MS MF API", kName);
    return 0;
  }

  ComPtr<IMFAttributes> attributes;
  if (runtime->pMFCreateAttributes(attributes.GetAddressOf(), 1) != S_OK) {
    LogInfo("%s unable to create attribute", kName);
    return 0;
  }
  if (attributes->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID) != S_OK) {
    LogInfo("%s unable to set attribute", kName);
    return 0;
  }
  TComArray<IMFActivate> devices;
  if (runtime->pMFEnumDeviceSources(attributes.Get(), devices.PutItems(), devices.PutCount()) != S_OK) {
    LogInfo("%s unable to enum devices", kName);
    return 0;
  }
  const int count = static_cast<int>(devices.ReportedCount());
  LogInfo("%s count %d", kName, count);

  // A negative capacity, or no array, writes nothing; otherwise only the descriptors
  // the host provided are touched.
  const UINT32 writable = (descrs && capacity > 0) ? static_cast<UINT32>(capacity) : 0;
  const UINT32 limit = std::min(writable, devices.Count());
  for (UINT32 i = 0; i < limit; ++i) {
    LogInfo("%s video capture device %d", kName, static_cast<int>(i));
    IMFActivate* device = devices[i];
    if (!device) {
      LogError("%s unable to read friendly name %d", kName, static_cast<int>(E_POINTER));
      continue;
    }
    TCoTaskMemPtr<wchar_t> name;
    UINT32 length = 0;
    HRESULT hr = device->GetAllocatedString(MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME, name.Put(), &length);
    if (hr != S_OK || !name.Get()) {
      LogError("%s unable to read friendly name %d", kName, static_cast<int>(hr != S_OK ? hr : E_POINTER));
      continue;
    }
    CopyToWideField(descrs[i].FriendlyName, kPictorDescrTextCapacity, name.Get());
    LogInfo("%s friendly name %S", kName, name.Get());

    TCoTaskMemPtr<wchar_t> link;
    hr = device->GetAllocatedString(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK, link.Put(), &length);
    if (hr != S_OK || !link.Get()) {
      LogError("%s unable to read symbolic link %d", kName, static_cast<int>(hr != S_OK ? hr : E_POINTER));
      continue;
    }
    CopyToWideField(descrs[i].SymbolicLink, kPictorDescrTextCapacity, link.Get());
    LogInfo("%s symbolic link %S", kName, link.Get());
  }
  return count;
}

}  // namespace

int TPictor::GetWebCamerasCount()
{
  return EnumerateWebCameras(nullptr, 0);
}

int TPictor::EnumerateWebCameras(TPictorDescr* descrs, int capacity)
{
  static const char kName[] = "TPictor::EnumerateWebCameras";
  const TLogScope scope(kName);
  try {
    return EnumerateDevices(pMFRuntime, descrs, capacity);
  } catch (...) {
    LogError("%s unexpected exception", kName);
    return 0;
  }
}

bool TPictor::ActivateDevice(const wchar_t* symbolicLink)
{
  TLogScope scope("TPictor::ActivateDevice");
  return scope.Returns(ActivateDeviceInternal(symbolicLink));
}

bool TPictor::ActivateDeviceInternal(const wchar_t* symbolicLink)
{
  static const char kName[] = "TPictor::ActivateDeviceInternal";
  const wchar_t* link = symbolicLink ? symbolicLink : L"";
  LogInfo("%s '%S'", kName, link);
  DeactivateDevice();
  // A capture being started reads through its session's hand-over; every other use reads
  // nothing.
  TReadCallback* reads = pState->Session ? pState->Session->ReadHandOver() : nullptr;
  HRESULT failure = S_OK;
  const bool result = OpenCameraDevice(pMFRuntime, link, &pMediaSource, &pSourceReader, reads, &failure);
  pState->ActivationError = result ? S_OK : failure;
  LogInfo("%s exit with %d", kName, result ? 1 : 0);
  return result;
}

namespace {

const char kOpenName[] = "TPictor::ActivateDeviceInternal";

// The device source for a symbolic link. Each step's error line names the call; a function
// the binding lacks is reported as that call failing with kFunctionMissing, never called.
HRESULT CreateDeviceSource(TMFRuntime* runtime, const wchar_t* link, IMFMediaSource** source)
{
  ComPtr<IMFAttributes> attributes;
  HRESULT hr = (runtime && runtime->pMFCreateAttributes) ? runtime->pMFCreateAttributes(attributes.GetAddressOf(), 2)
                                                         : TMFRuntime::kFunctionMissing;
  if (FAILED(hr) || !attributes) {
    hr = FAILED(hr) ? hr : E_POINTER;
    LogError("%s MFCreateAttributes error %d", kOpenName, static_cast<int>(hr));
    return hr;
  }
  hr = attributes->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID);
  if (hr != S_OK) {
    LogError("%s SetGUID error %d", kOpenName, static_cast<int>(hr));
    if (FAILED(hr)) return hr;
  }
  hr = attributes->SetString(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK, link);
  if (hr != S_OK) {
    LogError("%s SetString error %d", kOpenName, static_cast<int>(hr));
    if (FAILED(hr)) return hr;
  }
  hr = runtime->pMFCreateDeviceSource ? runtime->pMFCreateDeviceSource(attributes.Get(), source)
                                      : TMFRuntime::kFunctionMissing;
  if (hr != S_OK) {
    LogError("%s MFCreateDeviceSource error %d", kOpenName, static_cast<int>(hr));
    if (FAILED(hr)) return hr;
  }
  if (!*source) {
    // A success code without a source: nothing to build a reader on.
    LogError("%s MFCreateDeviceSource error %d", kOpenName, static_cast<int>(E_POINTER));
    return E_POINTER;
  }
  return S_OK;
}

// A capture's reader answers through a callback of its own, on a line of the session's that
// no earlier reader of the session answers on (see ReadCallback.h), and reads through the
// source that reports the camera's failures on the same line (see WatchedSource.h).
HRESULT CreateCaptureReader(TMFRuntime* runtime, IMFMediaSource* camera, TReadCallback* callback,
                            IMFSourceReader** reader)
{
  unsigned line = 0;
  ComPtr<IMFSourceReaderCallback> answers = AdoptComPtr(callback->OpenReaderLine(&line));
  ComPtr<IMFAttributes> attributes;
  HRESULT hr = answers ? runtime->pMFCreateAttributes(attributes.GetAddressOf(), 1) : E_OUTOFMEMORY;
  if (SUCCEEDED(hr) && attributes) hr = attributes->SetUnknown(MF_SOURCE_READER_ASYNC_CALLBACK, answers.Get());
  if (FAILED(hr) || !attributes) {
    hr = FAILED(hr) ? hr : E_POINTER;
    LogError("%s reader callback attribute error %d", kOpenName, static_cast<int>(hr));
    return hr;
  }
  ComPtr<IMFMediaSource> watched = camera;
  if (runtime->pMFCreateMediaEvent) {
    watched = AdoptComPtr(CreateWatchedSource(camera, callback, line, runtime->pMFCreateMediaEvent));
    if (!watched) {
      LogError("%s unable to create the watched source", kOpenName);
      return E_OUTOFMEMORY;
    }
  }
  return runtime->pMFCreateSourceReaderFromMediaSource(watched.Get(), attributes.Get(), reader);
}

}  // namespace

bool OpenCameraDevice(TMFRuntime* runtime, const wchar_t* link, IMFMediaSource** source, IMFSourceReader** reader,
                      TReadCallback* callback, HRESULT* failure)
{
  HRESULT ignored = S_OK;
  if (!failure) failure = &ignored;
  *failure = CreateDeviceSource(runtime, link, source);
  if (FAILED(*failure)) return false;
  // *source stays the camera's own for everything but the capture's reads.
  HRESULT hr = TMFRuntime::kFunctionMissing;
  if (runtime->pMFCreateSourceReaderFromMediaSource)
    hr = callback ? CreateCaptureReader(runtime, *source, callback, reader)
                  : runtime->pMFCreateSourceReaderFromMediaSource(*source, nullptr, reader);
  if (hr != S_OK || !*reader) {
    *failure = FAILED(hr) ? hr : E_POINTER;
    LogError("%s MFCreateSourceReaderFromMediaSource error %d", kOpenName,
             static_cast<int>(hr != S_OK ? hr : E_POINTER));
    return false;
  }
  *failure = S_OK;
  return true;
}

void TPictor::DeactivateDevice()
{
  const TLogScope scope("TPictor::DeactivateDevice");
  // The source is shut down before anything lets go of it: the device closes here even
  // while a platform thread still holds a reference (the reader's release shuts it down
  // too, but only by default). The reader holds the source; it goes first. A camera that
  // does not close in time is left to close by itself.
  const bool closed = CloseCameraWithin(pMediaSource, pSourceReader, kCameraCloseMs, "TPictor::DeactivateDevice");
  if (pState) pState->CameraStillClosing = !closed;
  pMediaSource = nullptr;
  pSourceReader = nullptr;
}
