// Reconnection of a lost camera (TPictor::SetAutoReconnect): when a read fails, the capture
// thread waits with the state RECONNECTING for a camera with the same symbolic link, opens
// it, chooses the same native type and carries on with the same converter, row order and
// callback. The lost camera's objects go at the loss: a parameter call on the host thread
// holds a reference of its own to the source it uses.
#include "capture/Session.h"

#include "capture/CameraClose.h"
#include "capture/CameraListWatcher.h"
#include "capture/CaptureStatus.h"
#include "capture/PictorFormats.h"
#include "capture/PictorState.h"
#include "log/Log.h"
#include "log/LogTrace.h"

#include <mfidl.h>
#include <mfreadwrite.h>
#include <objbase.h>

using Microsoft::WRL::ComPtr;

namespace {

const char kName[] = "TPictor::Reconnect";
constexpr DWORD kRetryMilliseconds = 250;  // how often the camera is looked for
constexpr int kLongestRetryShift = 4;      // retries of a camera that keeps failing: up to every 4 s

}  // namespace

// Takes one hold on the multithreaded apartment for this capture (once); false where the
// platform has no such hold.
bool TCaptureSession::HoldMultithreadedApartment()
{
  if (ApartmentHold) return true;
  typedef HRESULT(WINAPI * TIncrement)(void** cookie);
  HMODULE ole = GetModuleHandleW(L"ole32.dll");
  auto increment =
      ole ? reinterpret_cast<TIncrement>(reinterpret_cast<void*>(GetProcAddress(ole, "CoIncrementMTAUsage"))) : nullptr;
  void* cookie = nullptr;
  if (!increment || FAILED(increment(&cookie)) || !cookie) return false;
  ApartmentHold = cookie;
  return true;
}

void TCaptureSession::ReleaseApartmentHold()
{
  if (!ApartmentHold) return;
  typedef HRESULT(WINAPI * TDecrement)(void* cookie);
  HMODULE ole = GetModuleHandleW(L"ole32.dll");
  auto decrement =
      ole ? reinterpret_cast<TDecrement>(reinterpret_cast<void*>(GetProcAddress(ole, "CoDecrementMTAUsage"))) : nullptr;
  if (decrement) decrement(ApartmentHold);
  ApartmentHold = nullptr;
}

bool TCaptureSession::ReconnectAfterLoss(HRESULT loss)
{
  PICTOR_DCHECK_THREAD(OnCaptureThread);
  if (!AutoReconnect.On || StopRequested()) return false;
  const TLogScope scope(kName);
  bool failedAgain = false;
  if (!Status.Reconnecting(loss, bResumePending, &failedAgain)) return false;
  // A camera that opens but fails again before its first frame (in use by another
  // application) is tried less and less often, and its run of failures logged once.
  if (failedAgain && FailedReopens < kLongestRetryShift) ++FailedReopens;
  const DWORD retry = kRetryMilliseconds << FailedReopens;
  (failedAgain ? LogVerbose : LogInfo)("%s camera lost, result %x; waiting for it", kName, static_cast<unsigned>(loss));
  CloseLostCamera();
  // The camera is opened again on the capture thread, the library's own, in the
  // multithreaded apartment: kept alive for the objects made there until the camera is
  // closed (CoIncrementMTAUsage, Windows 8 and later), the thread is in it implicitly.
  // Without that function the thread joins the apartment for the wait.
  const HRESULT com = HoldMultithreadedApartment() ? S_FALSE : CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  bool reopened = false;
  // A stop, or reconnection turned off, ends the wait at once; the first look comes at once
  // only for a camera that failed again.
  const HANDLE wakes[] = {CaptureThread.StopHandle(), AutoReconnect.Changed.Get()};
  for (DWORD wait = failedAgain ? 0 : retry; !reopened; wait = retry) {
    if (StopRequested() || !AutoReconnect.On) break;
    const DWORD woken = WaitForMultipleObjects(2, wakes, FALSE, wait);
    if (woken == WAIT_OBJECT_0 + 1) continue;  // the setting changed: looked at above
    if (woken != WAIT_TIMEOUT) break;
    reopened = ReopenCamera();
  }
  if (com == S_OK) CoUninitialize();
  if (!reopened) return false;  // stopped (StopCapture takes it from here), or turned off
  Stamper.Rebase();
  bResumePending = true;
  (failedAgain ? LogVerbose : LogInfo)("%s camera back, reading again", kName);
  return true;
}

// The lost camera goes now. Whatever its reader or source still reports (Windows' reader
// may answer the failed read late, Wine 8.0's keeps it pending) is dropped from now on, and
// parameter calls find no camera until one is back; a call under way keeps its own
// reference to the lost source.
void TCaptureSession::CloseLostCamera()
{
  Reads->CloseReaderLine();
  if (!CloseCameraWithin(RunningCamera.Replace(nullptr).Detach(), Reader.Detach(), kCameraCloseMs, kName))
    bCameraClosing = true;
}

// Opens the camera once it is listed (a missing camera costs no error lines while it is
// away) and sets the capture's native type; false while it is not there (or has another
// format list).
bool TCaptureSession::ReopenCamera()
{
  if (!CameraIsListed(pRuntime, RunningCamera.Link)) return false;
  IMFMediaSource* rawSource = nullptr;
  IMFSourceReader* rawReader = nullptr;
  const bool opened = OpenCameraDevice(pRuntime, RunningCamera.Link.c_str(), &rawSource, &rawReader, Reads.Get());
  ComPtr<IMFMediaSource> source = AdoptComPtr(rawSource);
  ComPtr<IMFSourceReader> reader = AdoptComPtr(rawReader);
  if (!opened) return false;
  HRESULT hr = S_OK;
  if (!SelectNativeType(reader.Get(), Format, nullptr, &hr)) {
    LogError("%s the camera came back without the capture's format, result %x", kName, static_cast<unsigned>(hr));
    return false;
  }
  Reader = reader;
  RunningCamera.Replace(source);
  return true;
}
