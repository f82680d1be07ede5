// What a TPictor keeps for the additions beyond its first interface: the frame
// information of StartCaptureEx, the reason a camera refused a start, the camera list
// notices and the reconnection of a lost camera. One per object, made by its constructor.
#pragma once

#include "Pictor.h"

#include <atomic>

class TCameraListWatcher;

// The capture thread's numbering and clocks of the frames it reads (capture/FrameInfo_win.cpp).
struct TFrameStamper {
  unsigned long long NextSequence = 0;
  bool HaveBase = false;
  long long BaseSampleTime = 0;  // the first frame's time stamp, or its read time without one
  long long FirstReadTime = 0;
  // After a reconnection the new stream's stamps start anew: its first frame takes the
  // time read since the first frame, so SampleTime goes on rising.
  bool Rebase = false;
};

struct TCaptureFeatures {
  // Host thread while no capture runs; read by the converter thread. Set: frames go to
  // it with their information instead of the plain callback.
  TImageReadyCallbackEx ImageReadyEx = nullptr;
  // Capture thread: reset when a capture starts.
  TFrameStamper Stamper;
  // Converter thread: the sequence number the next frame has when none was dropped.
  unsigned long long NextDelivered = 0;
  // Host thread: the result of the last camera activation.
  HRESULT ActivationError = S_OK;
  // The camera list notices (capture/CameraListWatcher_win.cpp); null while off.
  TCameraListWatcher* pListWatcher = nullptr;
  // Reconnection of a lost camera (capture/Reconnect_win.cpp).
  std::atomic<bool> AutoReconnect{false};
  std::atomic<unsigned long long> Reconnects{0};
  // Capture thread: the camera was reopened and has not given a frame yet.
  bool ResumePending = false;
  // Capture thread: reopened cameras lost again before their first frame, in a row (a
  // camera in use by another application opens but gives nothing); resets with a frame.
  int FailedReopens = 0;
  // The hold on the multithreaded apartment a reconnection took (CoIncrementMTAUsage's
  // cookie), given back once the camera objects made in it are released.
  void* ApartmentHold = nullptr;
  // Host thread: the last DeactivateDevice left its camera closing on a thread of its own
  // (capture/CameraClose_win.cpp), which still holds the reader.
  bool CameraStillClosing = false;
};

// Frame information travels with the capture thread's copy of a frame as a private
// sample attribute, through the converter (whose output samples take their input's
// attributes) to the delivery.
bool AttachFrameInfo(IMFSample* sample, const TPictorFrameInfo& info);
// False (and a zero record) for a sample without it.
bool ReadFrameInfo(IMFSample* sample, TPictorFrameInfo* info);

// The performance counter in 100 ns units.
long long PerformanceCounterIn100ns();
