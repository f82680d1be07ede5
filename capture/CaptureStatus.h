// What the current capture of a TPictor is doing, or what its last one did: told to the host
// beyond IsCaptureActive (TPictor::GetCaptureStatus). The capture thread marks the end of the
// stream (with the failing result) the moment its read fails, and the loss and return of a
// camera; the converter thread counts delivered frames and measures the rate; the mailbox and
// the converter count the frames they drop. Every field a host reads is atomic, so it may ask
// from any thread while the capture runs. One per object: it outlives each capture, whose
// figures stay readable after the stop.
#pragma once

#include "Pictor.h"

#include <atomic>

class TCaptureStatus {
 public:
  // Host thread, before the capture thread exists: counters from zero, RUNNING.
  void Started();
  // Host thread: a start the camera refused (in use, blocked, gone); the host reads the
  // camera's reason as the end of the capture it asked for.
  void StartRefused(HRESULT error);
  // Capture thread, leaving its loop without a stop request: from RUNNING, or from a
  // reconnection's wait that was turned off. Only the first end counts: the error recorded
  // where the read failed is not overwritten by the thread's exit.
  void Ended(HRESULT error);
  // Host thread, after StopCapture has joined the threads: IDLE; counters and rate stay.
  void Stopped();

  // Capture thread: the camera is lost and waited for. False (nothing changed) unless the
  // capture was running, or was waiting already with `waitingAgain` (a camera reopened but
  // lost again before its first frame); *again says which.
  bool Reconnecting(HRESULT loss, bool waitingAgain, bool* again);
  // Capture thread: the first frame after a reconnection.
  void Resumed();

  // Converter thread, once per frame handed to the host.
  void FrameDelivered();
  // Any library thread: a frame read from the camera that never reaches the host.
  void FrameDropped() { Dropped.fetch_add(1); }

  TPictorCaptureStatus Read() const;
  unsigned long long ReconnectCount() const { return Reconnects.load(); }

 private:
  std::atomic<int> State{PICTOR_CAPTURE_IDLE};
  std::atomic<long> Error{0};  // HRESULT that ended the stream
  std::atomic<unsigned long long> Delivered{0};
  std::atomic<unsigned long long> Dropped{0};
  std::atomic<double> FrameRate{0.0};
  std::atomic<unsigned long long> Reconnects{0};
  // Rate window (performance-counter units), written only by the converter thread; read by
  // Read, which lets the rate fall while no frame comes.
  std::atomic<long long> WindowStart{0};
  std::atomic<unsigned long long> WindowFrames{0};

  double RateSoFar() const;
};
