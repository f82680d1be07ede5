// The capture session's asynchronous reader callback (see ReadCallback.h).
#include "capture/ReadCallback.h"

#include "common/Ownership_win.h"

#include <new>
#include <utility>

TReadCallback* TReadCallback::Create()
{
  HANDLE wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!wake) return nullptr;
  auto* callback = new (std::nothrow) TReadCallback(wake);
  if (!callback) CloseHandle(wake);
  return callback;
}

TReadCallback::TReadCallback(HANDLE wake) : hWake(wake) {}

TReadCallback::~TReadCallback()
{
  CloseHandle(hWake);
}

STDMETHODIMP TReadCallback::QueryInterface(REFIID iid, void** object)
{
  if (!object) return E_POINTER;
  if (iid == __uuidof(IUnknown) || iid == __uuidof(IMFSourceReaderCallback)) {
    *object = static_cast<IMFSourceReaderCallback*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) TReadCallback::AddRef()
{
  return ++Refs;
}

STDMETHODIMP_(ULONG) TReadCallback::Release()
{
  const ULONG left = --Refs;
  if (left == 0) delete this;
  return left;
}

void TReadCallback::Answer(HRESULT status, DWORD flags, IMFSample* sample)
{
  {
    TExclusiveSRWHold hold(Lock);
    // One answer per read; a flush that crosses a read's answer gives a second one.
    if (bDetached || !bOutstanding) return;
    Pending.Status = status;
    Pending.Flags = flags;
    Pending.Sample = sample;
    bOutstanding = false;
    bAnswered = true;
  }
  SetEvent(hWake);
}

STDMETHODIMP TReadCallback::OnReadSample(HRESULT status, DWORD, DWORD streamFlags, LONGLONG, IMFSample* sample)
{
  Answer(status, streamFlags, sample);
  return S_OK;
}

// A flush cancels the outstanding read: no sample answers it any more.
STDMETHODIMP TReadCallback::OnFlush(DWORD)
{
  Answer(S_OK, 0, nullptr);
  return S_OK;
}

STDMETHODIMP TReadCallback::OnEvent(DWORD, IMFMediaEvent*)
{
  return S_OK;
}

void TReadCallback::ReadAsked()
{
  TExclusiveSRWHold hold(Lock);
  bOutstanding = true;
  bAnswered = false;
}

void TReadCallback::ReadNotAsked()
{
  TExclusiveSRWHold hold(Lock);
  bOutstanding = false;
}

bool TReadCallback::ReadOutstanding()
{
  TExclusiveSRWHold hold(Lock);
  return bOutstanding;
}

TReadCallback::TWaitResult TReadCallback::WaitForAnswer(DWORD timeoutMs, bool stopEnds, TAnswer* answer)
{
  const DWORD start = GetTickCount();
  for (;;) {
    {
      TExclusiveSRWHold hold(Lock);
      if (bAnswered) {
        bAnswered = false;
        *answer = std::move(Pending);
        Pending = TAnswer();
        return wrAnswered;
      }
      if (stopEnds && bStopRequested) return wrStopRequested;
    }
    DWORD wait = INFINITE;
    if (timeoutMs != INFINITE) {
      const DWORD elapsed = GetTickCount() - start;
      if (elapsed >= timeoutMs) return wrTimedOut;
      wait = timeoutMs - elapsed;
    }
    // The state is looked at before each wait and every change sets the event afterwards,
    // so no wake-up is lost between the look and the wait.
    WaitForSingleObject(hWake, wait);
  }
}

void TReadCallback::RequestStop()
{
  {
    TExclusiveSRWHold hold(Lock);
    bStopRequested = true;
  }
  SetEvent(hWake);
}

void TReadCallback::Detach()
{
  TAnswer dropped;  // released after the lock
  TExclusiveSRWHold hold(Lock);
  bDetached = true;
  bOutstanding = false;
  bAnswered = false;
  dropped = std::move(Pending);
  Pending = TAnswer();
}

bool TReadCallback::WaitUntilSoleReference(DWORD timeoutMs)
{
  const DWORD start = GetTickCount();
  while (Refs.load() > 1) {
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(1);
  }
  return true;
}
