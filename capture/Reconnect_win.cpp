// Reconnection of a lost camera (TPictor::SetAutoReconnect): when a read fails, the
// capture thread waits with the state RECONNECTING for a camera with the same symbolic
// link, opens it, chooses the same native type and carries on with the same converter,
// row order and callback. The lost camera's objects go at the loss: a parameter call on the
// host thread holds a reference of its own to the source it uses.
#include "Pictor.h"

#include "capture/CameraAccess.h"
#include "capture/CameraClose.h"
#include "capture/CameraListWatcher.h"
#include "capture/CaptureFeatures.h"
#include "capture/PictorFormats.h"
#include "capture/ReadCallback.h"
#include "common/Ownership_win.h"
#include "convert/MFVideoConverter.h"
#include "log/Log.h"
#include "log/LogTrace.h"

#include <mfidl.h>
#include <mfreadwrite.h>
#include <objbase.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kStopCheckMilliseconds = 20;  // how soon a StopCapture is seen during the wait
constexpr DWORD kRetryMilliseconds = 250;     // how often the camera is looked for
constexpr int kLongestRetryShift = 4;         // retries of a camera that keeps failing: up to every 4 s

// Opens the camera and sets the native type equal to `wanted`; false while it is not
// there (or has another format list).
bool OpenSameCamera(TMFRuntime* runtime, const wchar_t* link, IMFMediaType* wanted, TReadCallback* reads,
                    ComPtr<IMFMediaSource>* source, ComPtr<IMFSourceReader>* reader)
{
  static const char kName[] = "TPictor::Reconnect";
  TPictorFormat format;
  if (!ReadPictorFormat(wanted, &format)) return false;
  IMFMediaSource* rawSource = nullptr;
  IMFSourceReader* rawReader = nullptr;
  const bool opened = OpenCameraDevice(runtime, link, &rawSource, &rawReader, reads);
  *source = AdoptComPtr(rawSource);
  *reader = AdoptComPtr(rawReader);
  if (!opened) return false;
  HRESULT hr = (*reader)->SetStreamSelection(MF_SOURCE_READER_ALL_STREAMS, FALSE);
  if (hr == S_OK) hr = (*reader)->SetStreamSelection(MF_SOURCE_READER_FIRST_VIDEO_STREAM, TRUE);
  for (DWORD index = 0; hr == S_OK; ++index) {
    ComPtr<IMFMediaType> type;
    hr = (*reader)->GetNativeMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, index, &type);
    TPictorFormat native;
    if (hr != S_OK || !type || !ReadPictorFormat(type.Get(), &native)) break;
    if (!SamePictorFormat(native, format)) continue;
    hr = (*reader)->SetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, nullptr, type.Get());
    if (hr == S_OK) return true;
  }
  LogError("%s the camera came back without the capture's format, result %x", kName, static_cast<unsigned>(hr));
  return false;
}

}  // namespace

// Takes one hold on the multithreaded apartment for this capture (once); false where the
// platform has no such hold.
bool TPictor::HoldMultithreadedApartment()
{
  if (pFeatures->ApartmentHold) return true;
  typedef HRESULT(WINAPI * TIncrement)(void** cookie);
  HMODULE ole = GetModuleHandleW(L"ole32.dll");
  auto increment =
      ole ? reinterpret_cast<TIncrement>(reinterpret_cast<void*>(GetProcAddress(ole, "CoIncrementMTAUsage"))) : nullptr;
  void* cookie = nullptr;
  if (!increment || FAILED(increment(&cookie)) || !cookie) return false;
  pFeatures->ApartmentHold = cookie;
  return true;
}

void TPictor::ReleaseApartmentHold()
{
  if (!pFeatures || !pFeatures->ApartmentHold) return;
  typedef HRESULT(WINAPI * TDecrement)(void* cookie);
  HMODULE ole = GetModuleHandleW(L"ole32.dll");
  auto decrement =
      ole ? reinterpret_cast<TDecrement>(reinterpret_cast<void*>(GetProcAddress(ole, "CoDecrementMTAUsage"))) : nullptr;
  if (decrement) decrement(pFeatures->ApartmentHold);
  pFeatures->ApartmentHold = nullptr;
}

void TPictor::SetAutoReconnect(bool reconnect)
{
  if (!pFeatures) {
    LogError("%s no memory for the capture features", "TPictor::SetAutoReconnect");
    return;
  }
  pFeatures->AutoReconnect = reconnect;
  LogInfo("%s %d", "TPictor::SetAutoReconnect", reconnect ? 1 : 0);
}

bool TPictor::ReconnectAfterLoss(HRESULT loss)
{
  static const char kName[] = "TPictor::Reconnect";
  if (!pFeatures || !pFeatures->AutoReconnect || bStopCapture || !pCaptureCamera || !pMFVideoConverter) return false;
  const TLogScope scope(kName);
  // A camera reopened but lost again before its first frame is the same wait going on.
  const int state = CaptureCounters.State.load();
  if (state != PICTOR_CAPTURE_RUNNING && !(state == PICTOR_CAPTURE_RECONNECTING && pFeatures->ResumePending))
    return false;
  int expected = state;
  if (!CaptureCounters.State.compare_exchange_strong(expected, PICTOR_CAPTURE_RECONNECTING)) return false;
  CaptureCounters.Error = loss;
  // A camera that opens but fails again before its first frame (in use by another
  // application) is tried less and less often, and its run of failures logged once.
  const bool failedAgain = state == PICTOR_CAPTURE_RECONNECTING;
  if (failedAgain && pFeatures->FailedReopens < kLongestRetryShift) ++pFeatures->FailedReopens;
  const DWORD retry = kRetryMilliseconds << pFeatures->FailedReopens;
  (failedAgain ? LogVerbose : LogInfo)("%s camera lost, result %x; waiting for it", kName, static_cast<unsigned>(loss));
  // The lost camera goes now. Whatever its reader or source still reports (Windows' reader
  // may answer the failed read late, Wine 8.0's keeps it pending) is dropped from now on,
  // and parameter calls find no camera until one is back; a call under way keeps its own
  // reference to the lost source.
  pReadCallback->CloseReaderLine();
  pCaptureCamera->SetSource(nullptr);
  CloseCameraWithin(pMediaSource, pSourceReader, kCameraCloseMs, kName);
  pMediaSource = nullptr;
  pSourceReader = nullptr;
  // The camera is opened again on the capture thread, the library's own, in the
  // multithreaded apartment: kept alive for the objects made there until the camera is
  // closed (CoIncrementMTAUsage, Windows 8 and later), the thread is in it implicitly.
  // Without that function the thread joins the apartment for the wait.
  const HRESULT com = HoldMultithreadedApartment() ? S_FALSE : CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  bool reopened = false;
  for (DWORD waited = failedAgain ? 0 : retry; !bStopCapture; waited += kStopCheckMilliseconds) {
    if (waited >= retry) {
      waited = 0;
      ComPtr<IMFMediaSource> source;
      ComPtr<IMFSourceReader> reader;
      // Opened only once listed: a missing camera costs no error lines while it is away.
      if (CameraIsListed(pMFRuntime, pCaptureCamera->Link) &&
          OpenSameCamera(pMFRuntime, pCaptureCamera->Link.c_str(), pMFVideoConverter->pInputType, pReadCallback,
                         &source, &reader)) {
        pMediaSource = source.Detach();
        pSourceReader = reader.Detach();
        pCaptureCamera->SetSource(pMediaSource);
        reopened = true;
        break;
      }
    }
    Sleep(kStopCheckMilliseconds);
  }
  if (com == S_OK) CoUninitialize();
  if (!reopened) return false;  // stopped: StopCapture takes it from here
  // The capture counts as resumed with the first frame the camera gives again (StampFrame).
  pFeatures->Stamper.Rebase = true;
  pFeatures->ResumePending = true;
  (failedAgain ? LogVerbose : LogInfo)("%s camera back, reading again", kName);
  return true;
}

void TPictor::CaptureResumed()
{
  pFeatures->ResumePending = false;
  pFeatures->FailedReopens = 0;
  pFeatures->Reconnects.fetch_add(1);
  CaptureCounters.Error = 0;
  int waiting = PICTOR_CAPTURE_RECONNECTING;
  CaptureCounters.State.compare_exchange_strong(waiting, PICTOR_CAPTURE_RUNNING);
  LogInfo("%s capture resumed", "TPictor::Reconnect");
}
