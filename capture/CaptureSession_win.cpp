// The capture session: StartCapture finds the camera's native type that equals the
// requested format, builds the converter for it and starts the capture thread, which
// asks the reader for one sample at a time (asynchronous mode), waits for the answer,
// copies each sample and drops it into the converter's mailbox. StopCapture takes
// everything down in a fixed order: capture thread, converter (and its thread), camera,
// callback. A camera that stops answering holds the stop up for a grace period only.
#include "Pictor.h"

#include "capture/CameraAccess.h"
#include "capture/CameraClose.h"
#include "capture/CameraListWatcher.h"
#include "capture/CaptureFeatures.h"
#include "media/FPSCalculator.h"
#include "capture/FrameDelivery.h"
#include "capture/PictorFormats.h"
#include "capture/ReadCallback.h"
#include "common/Ownership_win.h"
#include "convert/MFVideoConverter.h"
#include "log/Log.h"
#include "log/LogTrace.h"

#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <wrl/client.h>

#include <new>

using Microsoft::WRL::ComPtr;

// Walks the native types of the first video stream and returns the first one equal
// to the format, or nothing. A type whose attributes cannot be read is never used.
static ComPtr<IMFMediaType> FindNativeType(IMFSourceReader* reader, const TPictorFormat& format)
{
  static const char* const kName = "TPictor::StartCapture";
  for (DWORD index = 0;; ++index) {
    ComPtr<IMFMediaType> type;
    const HRESULT hr = reader->GetNativeMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, index, &type);
    if (hr == MF_E_NO_MORE_TYPES) {
      LogInfo("%s no more media types %d", kName, static_cast<int>(index));
      return nullptr;
    }
    if (type) TMFVideoConverter::LogMediaTypeBasicParams(type.Get(), nullptr, nullptr, nullptr, nullptr, nullptr);
    // A reader that reports success without a type is treated as a failed call.
    if (hr != S_OK || !type) {
      LogInfo("%s error getting media type for %d error %x", kName, static_cast<int>(index),
              static_cast<unsigned>(hr != S_OK ? hr : E_POINTER));
      return nullptr;
    }
    TPictorFormat native;
    if (!ReadPictorFormat(type.Get(), &native)) {
      LogError("%s unable to convert IMFMediaType to TMSMFWebCamFormat", kName);
      return nullptr;
    }
    if (SamePictorFormat(native, format)) {
      LogInfo("%s found format %d", kName, static_cast<int>(index));
      return type;
    }
    LogInfo("%s %d format properties:", kName, static_cast<int>(index));
    TPictor::LogPictorFormatProperties(native);
  }
}

bool TPictor::StartCapture(const wchar_t* symbolicLink, TPictorFormat format, bool topDown,
                           TImageReadyCallback callback, void* context)
{
  static const char* const kName = "TPictor::StartCapture";

  // Every failure returns false here; the StopCapture below then takes down whatever
  // was set up (converter, camera, callback).
  HRESULT cameraRefusal = S_OK;  // the camera's reason when it could not be opened
  auto start = [&]() -> bool {
    LogInfo("%s %S", kName, symbolicLink ? symbolicLink : L"");
    StopCapture();
    if (hCaptureThread || pMFVideoConverter) return false;  // called from the frame callback: the running session stays
    pPictorImageReady = callback;
    pImageReadyContext = context;

    // A null link would reach the device lookup, and a session without a callback
    // would deliver to nobody: both are refused with a line of their own.
    if (!symbolicLink || !*symbolicLink) {
      LogError("%s no symbolic link", kName);
      return false;
    }
    if (!callback) {
      LogError("%s no image ready callback", kName);
      return false;
    }

    // The reader is made in asynchronous mode; it answers through a callback that hands its
    // answers to this session's read hand-over.
    pReadCallback = TReadCallback::Create();
    if (!pReadCallback) {
      LogError("%s unable to create the read callback error %d", kName, static_cast<int>(GetLastError()));
      return false;
    }
    if (!ActivateDevice(symbolicLink)) {
      cameraRefusal = LastActivationError();
      LogError("%s unable to activate device", kName);
      return false;
    }
    HRESULT hr = pSourceReader->SetStreamSelection(MF_SOURCE_READER_ALL_STREAMS, FALSE);
    if (hr != S_OK) {
      LogError("%s unable to deselect all streams error %x", kName, static_cast<unsigned>(hr));
      return false;
    }
    hr = pSourceReader->SetStreamSelection(MF_SOURCE_READER_FIRST_VIDEO_STREAM, TRUE);
    if (hr != S_OK) {
      LogError("%s unable to deselect all streams error %x", kName, static_cast<unsigned>(hr));
      return false;
    }

    LogInfo("%s the required format properties:", kName);
    LogPictorFormatProperties(format);

    ComPtr<IMFMediaType> type = FindNativeType(pSourceReader, format);
    if (!type) {
      LogError("%s unable to find the required format.", kName);
      return false;
    }

    // The converter takes over a reference of its own, added only once its memory is
    // there (a failing allocation would otherwise leak it). It goes into the member at
    // once, so that StopCapture deletes it even when it failed.
    if (!pFrameSink) pFrameSink = new TPictorFrameSink(*this);  // may throw: nothing held yet
    void* memory = ::operator new(sizeof(TMFVideoConverter));   // may throw: nothing held yet
    type.Get()->AddRef();
    pMFVideoConverter = new (memory) TMFVideoConverter(pFrameSink, type.Get(), topDown, Conversion);
    if (!pMFVideoConverter->bInitialized) {
      LogError("%s unable to use video converter", kName);
      return false;
    }

    hr = pSourceReader->SetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, nullptr, type.Get());
    if (hr != S_OK) {
      LogError("%s unable to set RGB media type error %x", kName, static_cast<unsigned>(hr));
      return false;
    }

    // Parameter and format calls during the capture reach this camera through it.
    pCaptureCamera = new TCaptureCamera(symbolicLink, pSourceReader, pMediaSource);
    CaptureStatusStarted();
    bStopCapture = false;
    DWORD threadId = 0;
    hCaptureThread = CreateThread(nullptr, 0, CaptureThreadApi, this, 0, &threadId);
    if (!hCaptureThread) {
      LogError("%s unable to create capture thread error %d", kName, static_cast<int>(GetLastError()));
      return false;
    }
    dwCaptureThreadId = threadId;
    return true;
  };

  bool started = false;
  try {
    started = start();
  } catch (...) {
    LogError("%s unexpected exception", kName);
  }
  if (!started) StopCapture();
  if (!started && FAILED(cameraRefusal)) CaptureStatusStartRefused(cameraRefusal);
  LogInfo("%s exit with %d", kName, started ? 1 : 0);
  return started;
}

bool TPictor::StartCapture(const wchar_t* symbolicLink, int formatIndex, bool topDown, TImageReadyCallback callback,
                           void* context)
{
  static const char* const kName = "TPictor::StartCapture";
  TLogScope scope(kName);
  bool started = false;
  try {
    // The format lookup opens and closes this object's camera slot, which a running
    // capture thread reads: end the running session first.
    if (hCaptureThread || pMFVideoConverter) StopCapture();
    const TPictorFormat format = GetPictorFormatByIndex(symbolicLink, formatIndex);
    started = StartCapture(symbolicLink, format, topDown, callback, context);
  } catch (...) {
    LogError("%s unexpected exception", kName);
  }
  return scope.Returns(started);
}

// How long a stop waits for the reader, released, to let go of the session's callback.
constexpr DWORD kCallbackReleaseMs = 1000;

void TPictor::StopCapture()
{
  static const char* const kName = "TPictor::StopCapture";
  const TLogScope scope(kName);
  // The host's frame callback runs on the converter's thread: a stop from there would
  // wait for its own thread. Refused; the host's StopCapture from its thread works.
  const DWORD caller = GetCurrentThreadId();
  if ((pMFVideoConverter && pMFVideoConverter->dwConvertThreadId == caller) ||
      (hCaptureThread && dwCaptureThreadId == caller)) {
    LogError("%s called from the frame callback, refused", kName);
    return;
  }
  bStopCapture = true;
  // The thread waits for each read's answer on the callback: the request wakes it. Its
  // wait for a read still outstanding is bounded (EndOutstandingRead), so this join is.
  if (pReadCallback) pReadCallback->RequestStop();
  if (hCaptureThread) {
    WaitForSingleObject(hCaptureThread, INFINITE);
    CloseHandle(hCaptureThread);
    hCaptureThread = nullptr;
    dwCaptureThreadId = 0;
  }
  LogInfo("%s capture thread have been stopped.", kName);
  // The reader may still answer on its own threads; the answer is dropped from now on.
  if (pReadCallback) pReadCallback->Detach();
  if (pMFVideoConverter) {
    delete pMFVideoConverter;  // joins the convert thread
    pMFVideoConverter = nullptr;
  }
  delete pCaptureCamera;
  pCaptureCamera = nullptr;
  CaptureStatusStopped();
  LogInfo("%s pMFVideoConverter has been deleted", kName);
  DeactivateDevice();
  // The reader lets go of the callback on its own threads once its last work is done; the
  // session ends only then, so that nothing calls into the library after the stop. A camera
  // still closing on its own thread holds its reader: the callback, detached, drops what
  // comes, and that thread keeps the library loaded until it is done.
  const bool stillClosing = pFeatures && pFeatures->CameraStillClosing;
  if (pReadCallback && !stillClosing && !pReadCallback->WaitUntilSoleReference(kCallbackReleaseMs))
    LogError("%s the reader still holds its callback after %d ms", kName, static_cast<int>(kCallbackReleaseMs));
  ReleaseAndNull(pReadCallback);
  LogInfo("%s device has been deactivated", kName);
  pPictorImageReady = nullptr;
  pImageReadyContext = nullptr;
}

void TPictor::SetConversion(TPictorConversion conversion)
{
  static const char* const kName = "TPictor::SetConversion";
  if (conversion != pcSystemConverter && conversion != pcBuiltIn) {
    LogError("%s unknown conversion %d, %d kept", kName, static_cast<int>(conversion), static_cast<int>(Conversion));
    return;
  }
  Conversion = conversion;
  LogInfo("%s %d", kName, static_cast<int>(conversion));
}

bool TPictor::IsCaptureActive()
{
  return hCaptureThread != nullptr;
}

DWORD WINAPI TPictor::CaptureThreadApi(LPVOID parameter)
{
  const TLogScope scope("TPictor::CaptureThreadApi");
  CaptureThread(static_cast<TPictor*>(parameter));
  // A thread that left its loop by itself ended the stream; an error recorded where the
  // read failed stays, and a stop request is no end of the stream.
  static_cast<TPictor*>(parameter)->CaptureStatusEnded(S_OK);
  return 0;
}

// Copies one sample into the converter's mailbox; when asked, gives the copy's length. A
// failed copy loses this frame only (length 0); the copy has written its error line and
// released what it held before throwing.
static void HandOverSample(TMFVideoConverter* converter, IMFSample* sample, TSamplePool* pool,
                           const TPictorFrameInfo& info, DWORD* copyLength)
{
  static const char* const kName = "TPictor::CaptureThread";
  IMFSample* copy = nullptr;
  try {
    copy = PictorDuplicateSample(sample, pool);
  } catch (EPictor* error) {
    delete error;
    LogError("%s sample copy failed, frame dropped", kName);
    return;
  } catch (...) {
    LogError("%s sample copy failed, frame dropped", kName);
    return;
  }
  if (copyLength && FAILED(copy->GetTotalLength(copyLength))) *copyLength = 0;
  AttachFrameInfo(copy, info);
  converter->SetInputSample(copy);
}

// How long the next read is held back while every parallel decoder is busy: three
// quarters of the camera's frame period, at most 50 ms; 0 (not at all) when the type gives
// no frame rate.
static DWORD ReadHoldBackMs(IMFMediaType* type)
{
  UINT32 numerator = 0;
  UINT32 denominator = 0;
  if (!type || FAILED(MFGetAttributeRatio(type, MF_MT_FRAME_RATE, &numerator, &denominator)) || numerator == 0)
    return 0;
  const unsigned long long ms = 750ull * denominator / numerator;
  return ms < 50 ? static_cast<DWORD>(ms) : 50;
}

// A camera faster than the parallel decoders (an unpaced one answers every read at once)
// would have the thread read and drop frames without pause, on the processors the
// decoders need. While every decoder is busy, the next read waits until one is idle, or
// until the hold-back time since the last frame has passed: a paced camera's next frame
// is not due before then, so it is read at its time and, finding every decoder busy,
// dropped as before.
static void HoldBackRead(TMFVideoConverter* converter, TReadCallback* reads, long long lastFrameAt, DWORD holdBackMs)
{
  while (converter->HoldsBackReads()) {
    const long long elapsedMs = (PerformanceCounterIn100ns() - lastFrameAt) / 10000;
    if (elapsedMs < 0 || elapsedMs >= holdBackMs) return;
    if (!reads->WaitBetweenReads(converter->hDecoderIdleEvent, holdBackMs - static_cast<DWORD>(elapsedMs))) return;
  }
}

// How long a stop waits for the answer to a read already asked for (a camera answers
// within a frame period), and then, once the source has been shut down, for the reader to
// give the read up.
constexpr DWORD kReadGraceMs = 2000;
constexpr DWORD kShutdownGraceMs = 1000;

// A stop found a read outstanding. A camera that does not answer it within the grace
// period is shut down, and the reader flushed, which cancels its pending request (Wine's
// reader keeps an unanswered request pending after the source's Shutdown; its flush
// answers at once). If even that brings no answer the callback drops whatever comes later.
static void EndOutstandingRead(IMFMediaSource* source, IMFSourceReader* reader, TReadCallback* reads)
{
  static const char* const kName = "TPictor::CaptureThread";
  TReadCallback::TAnswer ignored;
  if (reads->WaitForAnswer(kReadGraceMs, false, &ignored) == TReadCallback::wrAnswered) return;
  LogError("%s the camera has not answered a read for %d ms, shutting it down", kName, static_cast<int>(kReadGraceMs));
  if (source) source->AddRef();  // the close takes a reference; the session keeps its own
  CloseCameraWithin(source, nullptr, kCameraCloseMs, kName);
  HRESULT hr = reader->Flush(MF_SOURCE_READER_FIRST_VIDEO_STREAM);
  if (FAILED(hr)) LogError("%s Flush error %x", kName, static_cast<unsigned>(hr));
  if (reads->WaitForAnswer(kShutdownGraceMs, false, &ignored) != TReadCallback::wrAnswered)
    LogError("%s the read is still outstanding after the shutdown, its answer will be dropped", kName);
}

void TPictor::CaptureThread(TPictor* object)
{
  static const char* const kName = "TPictor::CaptureThread";
  const TLogScope scope(kName);
  TFPSCalculator meter;
  DWORD lastRateLine = 0;
  // Buffers of the copies: a copy's buffer comes back when the converter releases it.
  TSamplePool copyPool;
  TReadCallback* reads = object->pReadCallback;
  const DWORD holdBackMs = ReadHoldBackMs(object->pMFVideoConverter->pInputType);
  long long lastFrameAt = 0;
  bool copiesReserved = false;

  while (!object->bStopCapture) {
    HoldBackRead(object->pMFVideoConverter, reads, lastFrameAt, holdBackMs);
    LogVerbose("%s before ReadSample", kName);
    // One read at a time: the answer comes on a reader thread; a stop request ends the
    // wait for it. A failure the camera reported since the last read answers it at once.
    HRESULT hr = reads->ReadAsked() ? object->pSourceReader->ReadSample(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, nullptr,
                                                                        nullptr, nullptr, nullptr)
                                    : S_OK;
    TReadCallback::TAnswer answer;
    if (hr != S_OK)
      reads->ReadNotAsked();
    else if (reads->WaitForAnswer(INFINITE, true, &answer) == TReadCallback::wrStopRequested)
      break;
    else
      hr = answer.Status;
    if (hr != S_OK) {
      LogError("%s ReadSample error %x", kName, static_cast<unsigned>(hr));
      if (object->ReconnectAfterLoss(hr)) continue;
      object->CaptureStatusEnded(hr);
      break;
    }
    LogVerbose("%s after ReadSample", kName);

    LogFrameRate(kName, &meter, lastRateLine);

    const DWORD streamFlags = answer.Flags;
    IMFSample* sample = answer.Sample.Get();
    lastFrameAt = PerformanceCounterIn100ns();
    // The error flag ends the session whatever other flags come with it; a sample that
    // comes with it is not used.
    if (streamFlags & MF_SOURCE_READERF_ERROR) {
      LogError("%s stream error, flags %x", kName, static_cast<unsigned>(streamFlags));
      if (object->ReconnectAfterLoss(E_FAIL)) continue;
      object->CaptureStatusEnded(E_FAIL);  // the reader gave no result of its own
      break;
    }
    // Every frame read is numbered, the dropped ones too.
    const TPictorFrameInfo info = sample ? object->StampFrame(sample) : TPictorFrameInfo();
    // While the converter works on a frame the mailbox would drop this one: drop it
    // before copying it, so that a fast camera does not take the converter's processor
    // time with copies nobody receives.
    if (sample && object->pMFVideoConverter->IsConverting())
      object->CaptureFrameDropped();
    else if (sample) {
      DWORD copied = 0;
      HandOverSample(object->pMFVideoConverter, sample, &copyPool, info, copiesReserved ? nullptr : &copied);
      // The buffers for as many copies as can be alive at once, beside the one just made:
      // otherwise the first time that many are (a race of the threads, now and then)
      // would allocate one in the middle of the run.
      if (copied != 0) {
        copyPool.Reserve(copied, object->pMFVideoConverter->InputSamplesAtMost() - 1);
        copiesReserved = true;
      }
    }
    // After the end of the stream the reader answers every read at once, without a
    // sample: reading on would only spin.
    if (streamFlags & MF_SOURCE_READERF_ENDOFSTREAM) {
      LogInfo("%s end of stream", kName);
      break;
    }
  }
  if (reads->ReadOutstanding()) EndOutstandingRead(object->pMediaSource, object->pSourceReader, reads);
}
