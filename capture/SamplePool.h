// A small pool of reusable frame buffers for the per-frame copies of the capture path.
// Fresh frame memory costs a page fault per page on first touch; a buffer taken from the
// pool has been touched before. A buffer goes back to its pool when its last reference
// goes (the sample holding it was released by whoever had it last), so holders keep the
// usual COM ownership rules and never hand a buffer back themselves.
#pragma once

#include <windows.h>

#include <atomic>

struct IMFMediaBuffer;
struct TSamplePoolState;

class TSamplePool {
 public:
  TSamplePool();  // never throws
  // Frees the kept buffers; buffers still held elsewhere free themselves when released.
  ~TSamplePool();
  TSamplePool(const TSamplePool&) = delete;
  TSamplePool& operator=(const TSamplePool&) = delete;

  // A 1-D memory buffer of `length` bytes (maximum length; current length 0), owned by
  // the caller. A kept one when there is one of this size; asking for another size drops
  // the kept buffers (a new format). E_OUTOFMEMORY when memory is short.
  HRESULT GetBuffer(DWORD length, IMFMediaBuffer** out);

  // Frame buffers every pool of the process has allocated so far (benchmarks, tests).
  static LONG BuffersAllocated();

  // True the first time only: a camera fault that every frame of a capture repeats is
  // logged once per capture (whose copies share this pool), not once per frame.
  bool FirstLengthFault() { return !bLengthFaultSeen.exchange(true); }

 private:
  TSamplePoolState* State;  // shared with the buffers out of the pool
  std::atomic<bool> bLengthFaultSeen{false};
};
