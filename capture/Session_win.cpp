// The capture session's thread (see Session.h): it asks the reader, made in asynchronous mode,
// for one sample at a time, waits for the answer on the read hand-over, copies each sample
// and drops the copy into the converter's mailbox. A stop wakes the wait at once; a read still
// unanswered then is given a grace period, so that a camera that stops answering cannot hold
// StopCapture up.
#include "capture/Session.h"

#include "capture/CameraClose.h"
#include "capture/CaptureStatus.h"
#include "media/FPSCalculator.h"
#include "capture/FrameDelivery.h"
#include "capture/ReadCallback.h"
#include "convert/MFVideoConverter.h"
#include "log/Log.h"
#include "log/LogTrace.h"

#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <new>
#include <utility>

using Microsoft::WRL::ComPtr;

namespace {

const char* const kName = "TPictor::CaptureThread";

// How long a stop waits for the answer to a read already asked for: a camera answers within
// a frame period, so four of them, at least 100 ms and at most 1 s (1 s when the format gives
// no rate). A camera slower than that counts as stalled: its read is cancelled, which loses
// nothing at a stop.
DWORD ReadGraceMs(const TPictorFormat& format)
{
  if (format.FrameRate == 0) return 1000;
  const unsigned long long ms = 4000ull * format.FrameRateLow / format.FrameRate;
  return ms < 100 ? 100 : ms > 1000 ? 1000 : static_cast<DWORD>(ms);
}
// How long a stop waits for the reader to answer its flush (at once on Windows and Wine 8.0
// alike), before it shuts the camera down.
constexpr DWORD kFlushGraceMs = 500;

// How long a stop waits for the reader, released, to let go of the session's hand-over.
constexpr DWORD kReadersReleaseMs = 1000;

// How long a frame is held back while every parallel decoder is busy: three quarters of the
// camera's frame period since the previous frame, at most 50 ms; 0 (not at all) when the
// format gives no frame rate.
DWORD ReadHoldBackMs(const TPictorFormat& format)
{
  if (format.FrameRate == 0) return 0;
  const unsigned long long ms = 750ull * format.FrameRateLow / format.FrameRate;
  return ms < 50 ? static_cast<DWORD>(ms) : 50;
}

}  // namespace

std::unique_ptr<TCaptureSession> TCaptureSession::Create(const TSettings& settings)
{
  ComPtr<TReadCallback> reads = AdoptComPtr(TReadCallback::Create());
  std::unique_ptr<TCaptureSession> session;
  if (reads) session.reset(new TCaptureSession(settings, reads.Get()));
  if (!session || !session->CaptureThread.StopHandle()) {
    LogError("%s unable to create the read callback error %d", "TPictor::StartCapture",
             static_cast<int>(GetLastError()));
    return nullptr;
  }
  return session;
}

TCaptureSession::TCaptureSession(const TSettings& settings, TReadCallback* reads)
    : Owner(*settings.Owner),
      pRuntime(settings.Runtime),
      Format(settings.Format),
      Status(*settings.Status),
      AutoReconnect(*settings.AutoReconnect),
      pStopRequested(settings.StopRequested),
      ImageReadyEx(settings.ImageReadyEx),
      Reads(reads),
      RunningCamera(settings.Link),
      HoldBackMs(ReadHoldBackMs(settings.Format)),
      ReadGrace(ReadGraceMs(settings.Format))
{
}

TCaptureSession::~TCaptureSession()
{
  ReleaseApartmentHold();
}

bool TCaptureSession::Start(IMFMediaSource* source, IMFSourceReader* reader, TMFVideoConverter* converter,
                            LPTHREAD_START_ROUTINE routine, void* parameter)
{
  Reader = AdoptComPtr(reader);
  RunningCamera.ReadNativeTypes(reader);
  RunningCamera.Replace(AdoptComPtr(source));
  pConverter = converter;
  Status.Started();
  if (!CaptureThread.Start(L"Pictor capture", routine, parameter)) {
    LogError("%s unable to create capture thread error %d", "TPictor::StartCapture", static_cast<int>(GetLastError()));
    return false;
  }
  return true;
}

void TCaptureSession::Stop()
{
  // Every wait of the thread ends on the stop event. Its wait for a read still outstanding
  // is bounded (EndOutstandingRead), so this join is.
  CaptureThread.RequestStop();
  CaptureThread.Join(INFINITE);
  // The reader may still answer on its own threads; the answer is dropped from now on.
  Reads->Detach();
}

void TCaptureSession::ReturnCamera(IMFMediaSource** source, IMFSourceReader** reader)
{
  // The slot is empty while the session has a camera: it gave the camera at the start.
  ComPtr<IMFMediaSource> running = RunningCamera.Replace(nullptr);
  if (running) *source = running.Detach();
  if (Reader) *reader = Reader.Detach();
}

void TCaptureSession::WaitForReaders(bool cameraStillClosing)
{
  // The reader lets go of the hand-over on its own threads once its last work is done; the
  // capture ends only then, so that nothing calls into the library after the stop. A camera
  // still closing on its own thread holds its reader: the hand-over, detached, drops what
  // comes, and that thread keeps the library loaded until it is done.
  if (!cameraStillClosing && !bCameraClosing && !Reads->WaitUntilSoleReference(kReadersReleaseMs))
    LogError("%s the reader still holds its callback after %d ms", "TPictor::StopCapture",
             static_cast<int>(kReadersReleaseMs));
}

void TCaptureSession::ThreadEnded()
{
  // A thread that left its loop by itself ended the stream; an error recorded where the read
  // failed stays, and a stop request is no end of the stream.
  if (!StopRequested()) Status.Ended(S_OK);
}

void TCaptureSession::Run()
{
  PICTOR_DCHECK_THREAD(OnCaptureThread);
  const TLogScope scope(kName);
  TFPSCalculator meter;
  DWORD lastRateLine = 0;
  long long lastFrameAt = 0;
  while (!StopRequested()) {
    TReadCallback::TAnswer answer;
    bool stopped = false;
    const HRESULT hr = ReadNext(&answer, &stopped);
    if (stopped) break;
    if (hr != S_OK) {
      LogError("%s ReadSample error %x", kName, static_cast<unsigned>(hr));
      if (ContinueAfterLoss(hr)) continue;
      break;
    }
    LogVerbose("%s after ReadSample", kName);
    LogFrameRate(kName, &meter, lastRateLine);
    const long long previousFrameAt = std::exchange(lastFrameAt, PerformanceCounterIn100ns());
    // The error flag ends the capture whatever other flags come with it; a sample that comes
    // with it is not used. The reader gives no result of its own then.
    if (answer.Flags & MF_SOURCE_READERF_ERROR) {
      LogError("%s stream error, flags %x", kName, static_cast<unsigned>(answer.Flags));
      if (ContinueAfterLoss(E_FAIL)) continue;
      break;
    }
    if (answer.Sample) TakeFrame(answer.Sample.Get(), previousFrameAt);
    // After the end of the stream the reader answers every read at once, without a sample:
    // reading on would only spin.
    if (answer.Flags & MF_SOURCE_READERF_ENDOFSTREAM) {
      LogInfo("%s end of stream", kName);
      break;
    }
  }
  if (Reads->ReadOutstanding()) EndOutstandingRead();
}

// One read at a time: the answer comes on a reader thread; a stop request ends the wait for
// it. A failure the camera reported since the last read answers it at once.
HRESULT TCaptureSession::ReadNext(TReadCallback::TAnswer* answer, bool* stopped)
{
  LogVerbose("%s before ReadSample", kName);
  if (Reads->ReadAsked()) {
    const HRESULT hr = Reader->ReadSample(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, nullptr, nullptr, nullptr, nullptr);
    if (hr != S_OK) {
      Reads->ReadNotAsked();
      return hr;
    }
  }
  *stopped = Reads->WaitForAnswer(INFINITE, CaptureThread.StopHandle(), answer) == TReadCallback::wrStopRequested;
  return *stopped ? S_OK : answer->Status;
}

bool TCaptureSession::ContinueAfterLoss(HRESULT loss)
{
  if (ReconnectAfterLoss(loss)) return true;
  if (!StopRequested()) Status.Ended(loss);
  return false;
}

void TCaptureSession::TakeFrame(IMFSample* sample, long long previousFrameAt)
{
  PICTOR_DCHECK_THREAD(OnCaptureThread);
  if (bResumePending) {
    // The capture counts as resumed with the first frame the reopened camera gives.
    bResumePending = false;
    FailedReopens = 0;
    Status.Resumed();
    LogInfo("%s capture resumed", "TPictor::Reconnect");
  }
  // Every frame read is numbered, the dropped ones too.
  const TPictorFrameInfo info = Stamper.Stamp(sample);
  if (Admit(previousFrameAt))
    HandOver(sample, info);
  else
    Status.FrameDropped();
}

// Whether the converter takes the frame: it is dropped before its copy is paid for while the
// converter could not take it. While every parallel decoder is busy it waits for one to go
// idle, until the hold-back time since the previous frame has passed: a paced camera's frame
// is then late already and dropped at once, as it would be without parallel decoders, while
// an unpaced camera, which would otherwise be read without pause only to have its frames
// dropped, is read as fast as the decoders go.
bool TCaptureSession::Admit(long long previousFrameAt)
{
  for (;;) {
    const TFrameAdmission admission = pConverter->Admission();
    if (admission != TFrameAdmission::HoldBack) return admission == TFrameAdmission::Take;
    const long long elapsedMs = (PerformanceCounterIn100ns() - previousFrameAt) / 10000;
    if (elapsedMs < 0 || elapsedMs >= HoldBackMs) return false;
    if (!pConverter->WaitForRoom(CaptureThread.StopHandle(), HoldBackMs - static_cast<DWORD>(elapsedMs))) return false;
  }
}

// Copies one sample into the converter's mailbox. A failed copy loses this frame only; the
// copy has written its error line and released what it held before throwing.
void TCaptureSession::HandOver(IMFSample* sample, const TPictorFrameInfo& info)
{
  IMFSample* copy = nullptr;
  try {
    copy = PictorDuplicateSample(sample, &CopyPool);
  } catch (EPictor* error) {
    delete error;
  } catch (...) {
  }
  if (!copy) {
    LogError("%s sample copy failed, frame dropped", kName);
    return;
  }
  // The buffers for as many copies as can be alive at once, beside the one just made:
  // otherwise the first time that many are (a race of the threads, now and then) would
  // allocate one in the middle of the run.
  DWORD length = 0;
  if (!bCopiesReserved && SUCCEEDED(copy->GetTotalLength(&length)) && length != 0) {
    CopyPool.Reserve(length, pConverter->InputsInFlight() - 1);
    bCopiesReserved = true;
  }
  AttachFrameInfo(copy, info);
  pConverter->SetInputSample(copy);
}

// A stop found a read outstanding. A camera that does not answer it within the grace period
// has its reader flushed, which cancels the request and answers it. Should even that bring
// no answer, the camera is shut down and closed here, reader and all, within the close's
// limit, so that the stop does not wait for it a second time; the hand-over drops whatever
// comes later.
void TCaptureSession::EndOutstandingRead()
{
  TReadCallback::TAnswer ignored;
  if (Reads->WaitForAnswer(ReadGrace, nullptr, &ignored) == TReadCallback::wrAnswered) return;
  LogError("%s the camera has not answered a read for %d ms, flushing it", kName, static_cast<int>(ReadGrace));
  const HRESULT hr = Reader->Flush(MF_SOURCE_READER_FIRST_VIDEO_STREAM);
  if (FAILED(hr)) LogError("%s Flush error %x", kName, static_cast<unsigned>(hr));
  if (SUCCEEDED(hr) && Reads->WaitForAnswer(kFlushGraceMs, nullptr, &ignored) == TReadCallback::wrAnswered) return;
  LogError("%s the read is still outstanding after the flush, shutting the camera down", kName);
  bCameraClosing = !CloseCameraWithin(RunningCamera.Replace(nullptr).Detach(), Reader.Detach(), kCameraCloseMs, kName);
}

void TCaptureSession::ReserveOutputs(unsigned int width, unsigned int height, int count)
{
  Outputs.Reserve(width * height * 4u, count);
}

IMFSample* TCaptureSession::CreateNewOutputSample(unsigned int width, unsigned int height)
{
  return Owner.CreateNewOutputSample(width, height);
}

void TCaptureSession::ProcessRGB32Sample(IMFSample* sample, unsigned int width, unsigned int height, bool topDown)
{
  PICTOR_DCHECK_THREAD(OnConvertThread);
  Owner.ProcessRGB32Sample(sample, width, height, topDown);
}

void TCaptureSession::FrameDropped()
{
  Status.FrameDropped();
}
