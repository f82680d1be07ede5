// TReadCallback: the hand-over of each read's answer from the asynchronous source reader of
// one capture session to its capture thread.
//
// The capture thread asks for one sample at a time (ReadSample in asynchronous mode) and
// waits here for the answer, for a stop request, or for a time limit. Waiting here rather
// than inside a synchronous ReadSample is what lets a stop end a read that a camera never
// answers: a blocked synchronous read wakes for nothing else (Wine's reader not even for the
// source's Shutdown, Stop or a Flush).
//
// A session may read through several readers one after the other (a lost camera reopened).
// Each reader answers through a callback of its own, made for a numbered line
// (OpenReaderLine), and its source reports its failures on the same line; only the current
// line's reports count. A lost reader may still answer, flush or report a failure on its
// work-queue threads long after the next reader reads: that is dropped, so it can neither
// complete nor fail the new reader's read.
//
// A reader keeps its callback, and the callback a reference to this object, as long as it
// likes, also after the session has ended. The object therefore holds nothing of the
// session: once detached it drops whatever is handed in, and it is freed by whichever of the
// readers and the session lets it go last.
#pragma once

#include "common/Thread_win.h"

#include <windows.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <wrl/client.h>

#include <atomic>

class TReadCallback final {
 public:
  // One reference for the caller; null when the wake-up event cannot be made.
  static TReadCallback* Create();

  ULONG AddRef();
  ULONG Release();

  // What the reader answered to one read. A flush answers with S_OK, no flags and no sample.
  struct TAnswer {
    HRESULT Status = S_OK;
    DWORD Flags = 0;
    Microsoft::WRL::ComPtr<IMFSample> Sample;
  };
  enum TWaitResult { wrAnswered, wrStopRequested, wrTimedOut };

  // A reader is being opened for this session: the callback it is to answer through, for a
  // new line whose number goes to *line (its source reports on it). Whatever an earlier
  // line reports from now on is dropped with a verbose line, and so is a failure kept for
  // the next read. One reference for the caller; null without memory (the line is open).
  IMFSourceReaderCallback* OpenReaderLine(unsigned* line);
  // Capture thread: the current reader is lost; whatever it reports is dropped from now on.
  void CloseReaderLine();

  // Capture thread: a read is about to be asked for, or the asking failed (no answer comes).
  // False when a fault reported since the last read answers it already: nothing to ask.
  bool ReadAsked();
  void ReadNotAsked();
  bool ReadOutstanding();
  // Capture thread: waits for the outstanding read's answer, or until `stop` (an event,
  // may be null) is set. timeoutMs may be INFINITE.
  TWaitResult WaitForAnswer(DWORD timeoutMs, HANDLE stop, TAnswer* answer);

  // A reader thread, through line `line`'s callback: the reader answered the outstanding read
  // (a flush: S_OK, no flags, no sample).
  void Answer(unsigned line, HRESULT status, DWORD flags, IMFSample* sample);
  // A reader thread: the camera behind line `line` failed (a sample request refused, an
  // MEError). Answers the outstanding read with the status, or else the next one, as
  // Windows' reader does; Wine 8.0's reader drops both without an answer.
  void Fault(unsigned line, HRESULT status);

  // Once the capture thread has ended: every later answer is dropped unread.
  void Detach();
  // After the readers' release: waits until the caller's reference is the only one left,
  // so that nothing calls into the library once the session has ended (it may be unloaded
  // then). False when a reader still holds on after the time.
  bool WaitUntilSoleReference(DWORD timeoutMs);

 private:
  TReadCallback() = default;
  ~TReadCallback() = default;
  TReadCallback(const TReadCallback&) = delete;
  TReadCallback& operator=(const TReadCallback&) = delete;

  std::atomic<ULONG> Refs{1};
  TEvent Wake{TEvent::AutoReset};  // set after every change of the state below
  SRWLOCK Lock = SRWLOCK_INIT;
  bool bOutstanding = false;
  bool bAnswered = false;
  bool bDetached = false;
  TAnswer Pending;
  unsigned Line = 0;             // the current reader's line; 0 before the first
  HRESULT NextReadFault = S_OK;  // a failure between reads, for the next one
};
