// TReadCallback: the asynchronous source reader's callback of one capture session, and the
// hand-over of each read's answer to the capture thread.
//
// The capture thread asks for one sample at a time (ReadSample in asynchronous mode) and
// waits here for the answer, for a stop request, or for a time limit. Waiting here rather
// than inside a synchronous ReadSample is what lets a stop end a read that a camera never
// answers: a blocked synchronous read wakes for nothing else (Wine's reader not even for the
// source's Shutdown, Stop or a Flush).
//
// The reader keeps a reference of its own and may answer from its work-queue threads at any
// time, also after the session has ended. The object therefore holds nothing of the
// session: once detached it drops whatever is handed in, and it is freed by whichever of the
// reader and the session lets it go last.
#pragma once

#include <windows.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <wrl/client.h>

#include <atomic>

class TReadCallback final : public IMFSourceReaderCallback {
 public:
  // One reference for the caller; null when the wake-up event cannot be made.
  static TReadCallback* Create();

  STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP OnReadSample(HRESULT status, DWORD streamIndex, DWORD streamFlags, LONGLONG timestamp,
                            IMFSample* sample) override;
  STDMETHODIMP OnFlush(DWORD streamIndex) override;
  STDMETHODIMP OnEvent(DWORD streamIndex, IMFMediaEvent* event) override;

  // What the reader answered to one read. A flush answers with S_OK, no flags and no sample.
  struct TAnswer {
    HRESULT Status = S_OK;
    DWORD Flags = 0;
    Microsoft::WRL::ComPtr<IMFSample> Sample;
  };
  enum TWaitResult { wrAnswered, wrStopRequested, wrTimedOut };

  // Capture thread: a read is about to be asked for, or the asking failed (no answer comes).
  void ReadAsked();
  void ReadNotAsked();
  bool ReadOutstanding();
  // Capture thread: waits for the outstanding read's answer. A stop request ends the wait
  // only when stopEnds is true. timeoutMs may be INFINITE.
  TWaitResult WaitForAnswer(DWORD timeoutMs, bool stopEnds, TAnswer* answer);

  // Host thread: wakes the capture thread's wait for good.
  void RequestStop();
  // Once the capture thread has ended: every later answer is dropped unread.
  void Detach();
  // After the reader's release: waits until the caller's reference is the only one left,
  // so that nothing calls into the library once the session has ended (it may be unloaded
  // then). False when the reader still holds on after the time.
  bool WaitUntilSoleReference(DWORD timeoutMs);

 private:
  explicit TReadCallback(HANDLE wake);
  ~TReadCallback();
  TReadCallback(const TReadCallback&) = delete;
  TReadCallback& operator=(const TReadCallback&) = delete;

  // Takes the answer of the outstanding read (none is kept once detached).
  void Answer(HRESULT status, DWORD flags, IMFSample* sample);

  std::atomic<ULONG> Refs{1};
  HANDLE hWake;  // auto-reset: set after every change of the state below
  SRWLOCK Lock = SRWLOCK_INIT;
  bool bOutstanding = false;
  bool bAnswered = false;
  bool bStopRequested = false;
  bool bDetached = false;
  TAnswer Pending;
};
