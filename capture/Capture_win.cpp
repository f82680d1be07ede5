// Starting and stopping a capture. StartCapture opens the camera in the object's slot, sets
// the native type equal to the requested format, builds the converter for it and starts a
// session (capture/Session.h), which takes the camera over and runs the capture thread.
// StopCapture takes everything down in a fixed order: capture thread, converter (and its
// thread), camera, session, callback.
#include "Pictor.h"

#include "capture/FrameInfo.h"
#include "capture/PictorFormats.h"
#include "capture/PictorState.h"
#include "capture/Session.h"
#include "convert/MFVideoConverter.h"
#include "log/Log.h"
#include "log/LogTrace.h"

#include <mfidl.h>
#include <mfreadwrite.h>
#include <wrl/client.h>

#include <new>
#include <utility>

using Microsoft::WRL::ComPtr;

namespace {

const char* const kStartName = "TPictor::StartCapture";

// A null link would reach the device lookup, and a capture without a callback would
// deliver to nobody: both are refused with a line of their own.
bool CheckStartArguments(const wchar_t* symbolicLink, TImageReadyCallback callback)
{
  if (!symbolicLink || !*symbolicLink) {
    LogError("%s no symbolic link", kStartName);
    return false;
  }
  if (!callback) {
    LogError("%s no image ready callback", kStartName);
    return false;
  }
  return true;
}

// The converter for the native type, which takes over a reference of its own, added only
// once its memory is there: a failing allocation throws before anything is held.
TMFVideoConverter* NewConverter(TFrameSink* sink, IMFMediaType* type, bool topDown, bool builtIn)
{
  void* memory = ::operator new(sizeof(TMFVideoConverter));
  type->AddRef();
  return new (memory) TMFVideoConverter(sink, type, topDown, builtIn);
}

}  // namespace

bool TPictor::StartCapture(const wchar_t* symbolicLink, TPictorFormat format, bool topDown,
                           TImageReadyCallback callback, void* context)
{
  LogInfo("%s %S", kStartName, symbolicLink ? symbolicLink : L"");
  if (StateMissing(pState, kStartName)) return false;
  // Every failure returns false here; the StopCapture below then takes down whatever was
  // set up (session, converter, camera, callback).
  HRESULT cameraRefusal = S_OK;  // the camera's reason when it could not be opened
  const TSessionHold session(pState);
  auto start = [&]() -> bool {
    StopCapture();
    if (hCaptureThread || pMFVideoConverter) return false;  // called from the frame callback: the running capture stays
    if (!CheckStartArguments(symbolicLink, callback)) return false;
    pPictorImageReady = callback;
    pImageReadyContext = context;
    const TImageReadyCallbackEx callbackEx = std::exchange(pState->PendingImageReadyEx, nullptr);
    pState->Session = TCaptureSession::Create({this, pMFRuntime, symbolicLink, format,
                                               callback == ExtendedCallbackMarker ? callbackEx : nullptr,
                                               &pState->Status, &pState->AutoReconnect, &bStopCapture});
    if (!pState->Session) return false;
    if (!ActivateDevice(symbolicLink)) {
      cameraRefusal = pState->ActivationError;
      LogError("%s unable to activate device", kStartName);
      return false;
    }
    HRESULT hr = S_OK;
    ComPtr<IMFMediaType> type = SelectNativeType(pSourceReader, format, kStartName, &hr);
    if (!type) return false;
    // Into the member at once, so that StopCapture deletes it even when it failed.
    pMFVideoConverter = NewConverter(pState->Session.get(), type.Get(), topDown, pState->Conversion == pcBuiltIn);
    if (!pMFVideoConverter->bInitialized) {
      LogError("%s unable to use video converter", kStartName);
      return false;
    }
    pState->ConvertThreadId = pMFVideoConverter->ConvertThreadId();  // before any frame
    bStopCapture = false;
    if (!pState->Session->Start(std::exchange(pMediaSource, nullptr), std::exchange(pSourceReader, nullptr),
                                pMFVideoConverter, CaptureThreadApi, this))
      return false;
    hCaptureThread = pState->Session->Thread();
    dwCaptureThreadId = pState->Session->ThreadId();
    return true;
  };

  bool started = false;
  try {
    started = start();
  } catch (...) {
    LogError("%s unexpected exception", kStartName);
  }
  if (!started) StopCapture();
  if (FAILED(cameraRefusal)) pState->Status.StartRefused(cameraRefusal);
  LogInfo("%s exit with %d", kStartName, started ? 1 : 0);
  return started;
}

bool TPictor::StartCapture(const wchar_t* symbolicLink, int formatIndex, bool topDown, TImageReadyCallback callback,
                           void* context)
{
  TLogScope scope(kStartName);
  const TSessionHold session(pState);
  bool started = false;
  try {
    // The format lookup opens and closes this object's camera slot: end the running capture
    // first, so that the lookup does not find the capture's camera.
    if (hCaptureThread || pMFVideoConverter) StopCapture();
    const TPictorFormat format = GetPictorFormatByIndex(symbolicLink, formatIndex);
    started = StartCapture(symbolicLink, format, topDown, callback, context);
  } catch (...) {
    LogError("%s unexpected exception", kStartName);
  }
  return scope.Returns(started);
}

void TPictor::StopCapture()
{
  static const char* const kName = "TPictor::StopCapture";
  const TLogScope scope(kName);
  // The host's frame callback runs on the converter's thread: a stop from there would wait
  // for its own thread. Refused; the host's StopCapture from its thread works.
  const DWORD caller = GetCurrentThreadId();
  if (pState && pState->ConvertThreadId == caller) {
    LogError("%s called from the frame callback, refused", kName);
    return;
  }
  // A stop from a camera list callback and one from the host's thread come one after the
  // other: the second finds nothing left to stop.
  const TSessionHold hold(pState);
  if (hCaptureThread && dwCaptureThreadId == caller) {
    LogError("%s called from the frame callback, refused", kName);
    return;
  }
  bStopCapture = true;
  TCaptureSession* session = pState ? pState->Session.get() : nullptr;
  if (session) session->Stop();
  hCaptureThread = nullptr;
  dwCaptureThreadId = 0;
  LogInfo("%s capture thread have been stopped.", kName);
  delete pMFVideoConverter;  // joins the convert thread
  pMFVideoConverter = nullptr;
  if (pState) pState->ConvertThreadId = 0;
  if (pState) pState->Status.Stopped();
  LogInfo("%s pMFVideoConverter has been deleted", kName);
  // The running camera goes back to the slot, which closes it.
  if (session) session->ReturnCamera(&pMediaSource, &pSourceReader);
  DeactivateDevice();
  if (session) session->WaitForReaders(pState->CameraStillClosing);
  if (pState) pState->Session.reset();
  LogInfo("%s device has been deactivated", kName);
  pPictorImageReady = nullptr;
  pImageReadyContext = nullptr;
}

bool TPictor::IsCaptureActive()
{
  return hCaptureThread != nullptr;
}

DWORD WINAPI TPictor::CaptureThreadApi(LPVOID parameter)
{
  const TLogScope scope("TPictor::CaptureThreadApi");
  auto* pictor = static_cast<TPictor*>(parameter);
  CaptureThread(pictor);
  pictor->pState->Session->ThreadEnded();
  return 0;
}

void TPictor::CaptureThread(TPictor* pictor)
{
  pictor->pState->Session->Run();
}

void TPictor::SetConversion(TPictorConversion conversion)
{
  static const char* const kName = "TPictor::SetConversion";
  if (StateMissing(pState, kName)) return;
  if (conversion != pcSystemConverter && conversion != pcBuiltIn) {
    LogError("%s unknown conversion %d, %d kept", kName, static_cast<int>(conversion),
             static_cast<int>(pState->Conversion));
    return;
  }
  pState->Conversion = conversion;
  LogInfo("%s %d", kName, static_cast<int>(conversion));
}

TPictorConversion TPictor::GetConversion() const
{
  return pState ? pState->Conversion : pcSystemConverter;
}

void TPictor::SetAutoReconnect(bool reconnect)
{
  static const char* const kName = "TPictor::SetAutoReconnect";
  if (StateMissing(pState, kName)) return;
  pState->AutoReconnect.On = reconnect;
  // Off takes effect at once: a capture waiting for its camera ends.
  pState->AutoReconnect.Changed.Set();
  LogInfo("%s %d", kName, reconnect ? 1 : 0);
}
