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

  // A 1-D memory buffer of at least `length` bytes (current length 0), owned by the
  // caller: a kept one when the frame fits the pool's buffers, which are made an eighth
  // larger than the frame that set their size. A longer frame, or a run of frames under a
  // quarter of that size (a new format), drops the kept buffers and sets a new size; no
  // more than 8 are kept. E_OUTOFMEMORY when memory is short.
  HRESULT GetBuffer(DWORD length, IMFMediaBuffer** out);
  // Makes `count` (up to the 8 kept) buffers for frames of `length` bytes at once, for a
  // capture whose frames in flight reach that number only now and then: otherwise the
  // first time they do would allocate one in the middle of the run. Fewer when memory is
  // short; those come when needed.
  void Reserve(DWORD length, int count);

  // Frame buffers every pool of the process has allocated so far (benchmarks, tests).
  static LONG BuffersAllocated();

  // True the first time only: a camera fault that every frame of a capture repeats is
  // logged once per capture (whose copies share this pool), not once per frame.
  bool FirstLengthFault() { return !bLengthFaultSeen.exchange(true); }

 private:
  TSamplePoolState* State;  // shared with the buffers out of the pool
  std::atomic<bool> bLengthFaultSeen{false};
};
