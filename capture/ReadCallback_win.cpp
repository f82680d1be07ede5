// The capture session's read hand-over and its readers' callbacks (see ReadCallback.h).
#include "capture/ReadCallback.h"

#include "common/ComObject_win.h"
#include "common/Ownership_win.h"
#include "log/Log.h"

#include <new>
#include <utility>

using Microsoft::WRL::ComPtr;

namespace {

const char kName[] = "TPictor::ReadCallback";

// The callback of one reader: hands its answers to the session on the reader's line.
class TReaderLine final : public TComObject<IMFSourceReaderCallback> {
 public:
  TReaderLine(TReadCallback* reads, unsigned line) : Reads(reads), Line(line) {}

  STDMETHODIMP OnReadSample(HRESULT status, DWORD, DWORD streamFlags, LONGLONG, IMFSample* sample) override
  {
    Reads->Answer(Line, status, streamFlags, sample);
    return S_OK;
  }
  // A flush cancels the outstanding read: no sample answers it any more.
  STDMETHODIMP OnFlush(DWORD) override
  {
    Reads->Answer(Line, S_OK, 0, nullptr);
    return S_OK;
  }
  STDMETHODIMP OnEvent(DWORD, IMFMediaEvent*) override { return S_OK; }

 private:
  ~TReaderLine() = default;

  const ComPtr<TReadCallback> Reads;
  const unsigned Line;
};

void LogDropped(const char* what, unsigned line, unsigned current)
{
  LogVerbose("%s %s of reader %u dropped, reader %u reads now", kName, what, line, current);
}

}  // namespace

TReadCallback* TReadCallback::Create()
{
  auto* callback = new (std::nothrow) TReadCallback();
  if (callback && !callback->Wake) {
    delete callback;
    return nullptr;
  }
  return callback;
}

ULONG TReadCallback::AddRef()
{
  return ++Refs;
}

ULONG TReadCallback::Release()
{
  const ULONG left = --Refs;
  if (left == 0) delete this;
  return left;
}

IMFSourceReaderCallback* TReadCallback::OpenReaderLine(unsigned* line)
{
  {
    TExclusiveSRWHold hold(Lock);
    NextReadFault = S_OK;
    *line = ++Line;
  }
  return new (std::nothrow) TReaderLine(this, *line);
}

void TReadCallback::CloseReaderLine()
{
  TExclusiveSRWHold hold(Lock);
  NextReadFault = S_OK;
  ++Line;  // no reader answers on it
}

void TReadCallback::Answer(unsigned line, HRESULT status, DWORD flags, IMFSample* sample)
{
  unsigned current = 0;
  {
    TExclusiveSRWHold hold(Lock);
    if (bDetached) return;
    current = Line;
    if (line == current) {
      // One answer per read; a flush that crosses a read's answer gives a second one.
      if (!bOutstanding) return;
      Pending.Status = status;
      Pending.Flags = flags;
      Pending.Sample = sample;
      bOutstanding = false;
      bAnswered = true;
    }
  }
  if (line != current) return LogDropped("an answer", line, current);
  Wake.Set();
}

void TReadCallback::Fault(unsigned line, HRESULT status)
{
  unsigned current = 0;
  {
    TExclusiveSRWHold hold(Lock);
    if (bDetached) return;
    current = Line;
    if (line == current && bOutstanding) {
      Pending = TAnswer();
      Pending.Status = status;
      bOutstanding = false;
      bAnswered = true;
    } else if (line == current) {
      // Between reads, or after an answer not yet taken: the next read fails, unless the
      // answer waiting is this failure already (a second report of it).
      if (!(bAnswered && FAILED(Pending.Status)) && SUCCEEDED(NextReadFault)) NextReadFault = status;
      return;
    }
  }
  if (line != current) return LogDropped("a failure", line, current);
  Wake.Set();
}

bool TReadCallback::ReadAsked()
{
  TExclusiveSRWHold hold(Lock);
  bAnswered = false;
  if (SUCCEEDED(NextReadFault)) {
    bOutstanding = true;
    return true;
  }
  Pending = TAnswer();
  Pending.Status = NextReadFault;
  NextReadFault = S_OK;
  bOutstanding = false;
  bAnswered = true;
  return false;
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

TReadCallback::TWaitResult TReadCallback::WaitForAnswer(DWORD timeoutMs, HANDLE stop, TAnswer* answer)
{
  const DWORD start = GetTickCount();
  const HANDLE events[] = {Wake.Get(), stop};
  for (;;) {
    {
      TExclusiveSRWHold hold(Lock);
      if (bAnswered) {
        bAnswered = false;
        *answer = std::move(Pending);
        Pending = TAnswer();
        return wrAnswered;
      }
    }
    DWORD wait = INFINITE;
    if (timeoutMs != INFINITE) {
      const DWORD elapsed = GetTickCount() - start;
      if (elapsed >= timeoutMs) return wrTimedOut;
      wait = timeoutMs - elapsed;
    }
    // The state is looked at before each wait and every change sets the event afterwards,
    // so no wake-up is lost between the look and the wait.
    if (WaitForMultipleObjects(stop ? 2 : 1, events, FALSE, wait) == WAIT_OBJECT_0 + 1) return wrStopRequested;
  }
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
