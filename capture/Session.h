// TCaptureSession: one running capture of a TPictor, made by StartCapture and destroyed by
// StopCapture, so that every capture starts from fresh state. It owns what the capture needs
// for itself: the capture thread and its loop, the read hand-over of its readers, the pool of
// the frames' copies, the frame stamping, the reconnection of a lost camera (with its hold on
// the multithreaded apartment) and the running camera.
//
// The running camera: StartCapture opens the camera in the object's slot and hands it to the
// session once its format is set; from then on only the capture thread replaces it (a lost
// camera closed, a reopened one taken), and parameter and format calls on the host thread
// reach its media source through TCaptureCamera's lock. At the stop, once the capture thread
// has ended, the camera goes back to the slot, which closes it. So the object's slot is only
// ever written by the host thread.
//
// It is also the converter's frame sink: the converter's output samples come from its pool,
// and the frames go on to the object's ProcessRGB32Sample.
#pragma once

#include "Pictor.h"
#include "capture/CameraAccess.h"
#include "capture/FrameInfo.h"
#include "capture/ReadCallback.h"
#include "common/Ownership_win.h"
#include "common/Thread_win.h"
#include "convert/FrameSink.h"
#include "media/SamplePool.h"

#include <windows.h>
#include <wrl/client.h>

#include <atomic>
#include <memory>

struct IMFMediaSource;
struct IMFSourceReader;
struct IMFSample;
class TCaptureStatus;
class TMFRuntime;
class TMFVideoConverter;
struct TAutoReconnect;

class TCaptureSession final : public TFrameSink {
 public:
  // What the session runs with, fixed at its start.
  struct TSettings {
    TPictor* Owner;  // whose ProcessRGB32Sample and CreateNewOutputSample the frames go through
    TMFRuntime* Runtime;
    const wchar_t* Link;
    TPictorFormat Format;                // looked for again on a reopened camera
    TImageReadyCallbackEx ImageReadyEx;  // frames go to it with their information; null: the plain callback
    TCaptureStatus* Status;
    const TAutoReconnect* AutoReconnect;
    const std::atomic<bool>* StopRequested;  // the object's bStopCapture
  };
  // Null (after an error line) when the read hand-over cannot be made.
  static std::unique_ptr<TCaptureSession> Create(const TSettings& settings);
  ~TCaptureSession();
  TCaptureSession(const TCaptureSession&) = delete;
  TCaptureSession& operator=(const TCaptureSession&) = delete;

  // Host thread, starting: the read hand-over the capture's reader is made with.
  TReadCallback* ReadHandOver() const { return Reads.Get(); }
  // Host thread: takes over the camera StartCapture opened (one reference of each) and the
  // converter (not owned), and starts the capture thread, which runs routine(parameter).
  // False (after an error line) when no thread could be made.
  bool Start(IMFMediaSource* source, IMFSourceReader* reader, TMFVideoConverter* converter,
             LPTHREAD_START_ROUTINE routine, void* parameter);
  HANDLE Thread() const { return CaptureThread.Handle(); }
  DWORD ThreadId() const { return CaptureThread.ThreadId(); }
  // Host thread, stopping (the stop request is set): wakes the capture thread's waits and
  // joins it; whatever the readers still answer is dropped from then on.
  void Stop();
  // Host thread, after the stop: the running camera (null while a lost one was waited for),
  // handed back to be closed.
  void ReturnCamera(IMFMediaSource** source, IMFSourceReader** reader);
  // Host thread, last: waits (1 s at most) until the released readers let go of the read
  // hand-over, so that nothing calls into the library once the capture has ended; not while
  // the camera is still closing on a thread of its own, which holds its reader.
  void WaitForReaders(bool cameraStillClosing);
  // Host thread: the captured camera, for parameter and format calls.
  TCaptureCamera& Camera() { return RunningCamera; }

  // The capture thread's loop, and its end.
  void Run();
  void ThreadEnded();

  // The converter's frame sink (convert thread; ReserveOutputs on the host thread).
  void ReserveOutputs(unsigned int width, unsigned int height, int count) override;
  IMFSample* CreateNewOutputSample(unsigned int width, unsigned int height) override;
  void ProcessRGB32Sample(IMFSample* sample, unsigned int width, unsigned int height, bool topDown) override;
  void FrameDropped() override;
  // Buffers of the converter's output samples.
  TSamplePool& OutputPool() { return Outputs; }

  // Converter thread, SampleLock held: the frame to the extended callback with its information.
  void DeliverWithInfo(IMFSample* sample, unsigned int width, unsigned int height, bool topDown, unsigned char* pixels,
                       void* context);
  bool DeliversWithInfo() const { return ImageReadyEx != nullptr; }

 private:
  TCaptureSession(const TSettings& settings, TReadCallback* reads);

  // The capture thread's steps (capture/Session_win.cpp).
  bool StopRequested() const { return pStopRequested->load(); }
  HRESULT ReadNext(TReadCallback::TAnswer* answer, bool* stopped);
  bool ContinueAfterLoss(HRESULT loss);
  void TakeFrame(IMFSample* sample, long long previousFrameAt);
  bool Admit(long long previousFrameAt);
  void HandOver(IMFSample* sample, const TPictorFrameInfo& info);
  void EndOutstandingRead();

  // Reconnection (capture/SessionReconnect_win.cpp): waits for the lost camera and reopens
  // it (true), or returns false when auto reconnect is off or the capture was stopped.
  bool ReconnectAfterLoss(HRESULT loss);
  void CloseLostCamera();
  bool ReopenCamera();
  bool HoldMultithreadedApartment();
  void ReleaseApartmentHold();

  TPictor& Owner;
  TMFRuntime* const pRuntime;
  const TPictorFormat Format;
  TCaptureStatus& Status;
  const TAutoReconnect& AutoReconnect;
  const std::atomic<bool>* const pStopRequested;
  const TImageReadyCallbackEx ImageReadyEx;

  const Microsoft::WRL::ComPtr<TReadCallback> Reads;
  TCaptureCamera RunningCamera;
  // The camera's reader; the capture thread's from the start to the stop.
  Microsoft::WRL::ComPtr<IMFSourceReader> Reader;
  TMFVideoConverter* pConverter = nullptr;  // the object's; outlives the capture thread
  TLibraryThread CaptureThread;             // its stop event wakes every wait of the loop

  // Capture thread (checked in debug builds), from the start to the stop.
  TThreadChecker OnCaptureThread;
  TSamplePool CopyPool;  // buffers of the frames' copies
  bool bCopiesReserved = false;
  DWORD HoldBackMs = 0;
  const DWORD ReadGrace;  // how long a stop waits for an outstanding read (EndOutstandingRead)
  // The stop's shutdown of a stalled camera has not finished: it goes on by itself, holding
  // the reader.
  bool bCameraClosing = false;
  TFrameStamper Stamper;
  // The camera was reopened and has not given a frame yet.
  bool bResumePending = false;
  // Reopened cameras lost again before their first frame, in a row (a camera in use by
  // another application opens but gives nothing); resets with a frame.
  int FailedReopens = 0;
  // The hold on the multithreaded apartment a reconnection took (CoIncrementMTAUsage's
  // cookie), given back once the camera objects made in it are released.
  void* ApartmentHold = nullptr;

  // Converter thread: the sequence number the next frame has when none was dropped.
  TThreadChecker OnConvertThread;
  unsigned long long NextDelivered = 0;
  TSamplePool Outputs;
};
