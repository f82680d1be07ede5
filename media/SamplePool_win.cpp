// Pool of reusable frame buffers (see SamplePool.h). The pool's state is shared by the
// pool and every buffer that came out of it, and lives until the last of them goes: a
// buffer released after its pool was destroyed frees itself.
#include "media/SamplePool.h"

#include "common/MemoryBuffer_win.h"
#include "common/Ownership_win.h"

#include <mfapi.h>
#include <mfidl.h>

#include <atomic>
#include <new>
#include <vector>

namespace {

std::atomic<LONG> gBuffersAllocated{0};

// Kept buffers beyond the frames a capture has in flight (a copy being made, one in the
// mailbox, one per decoder and its output) are freed.
constexpr size_t kKeptBuffers = 8;

// Frames under a quarter of the buffers' size this many times in a row are of a smaller
// format: the pool starts over at their size and gives the large buffers back.
constexpr DWORD kSmallFramesBeforeShrink = 30;

// The size buffers are made with for a frame of `length` bytes: an eighth to spare, in
// whole pages, so that frames whose length varies (JPEG) fit the buffers of earlier ones.
// Pages a frame never reaches are never touched, so the spare room costs no page fault.
DWORD BufferSizeFor(DWORD length)
{
  constexpr unsigned long long kPage = 4096;
  const unsigned long long size = (length + length / 8ull + kPage - 1) / kPage * kPage;
  return size > 0xFFFFFFFFull ? length : static_cast<DWORD>(size);
}

class TPooledBuffer;

}  // namespace

struct TSamplePoolState {
  // An SRW lock: it allocates nothing and cannot fail, so a buffer's Release (which
  // takes it) never meets an error it could not report.
  SRWLOCK Lock = SRWLOCK_INIT;
  std::vector<TPooledBuffer*> Kept;  // released buffers of the current size
  DWORD Length = 0;                  // current buffer size: every frame up to it reuses a kept buffer
  DWORD SmallFrames = 0;             // frames in a row under a quarter of Length
  bool Closed = false;               // the pool is gone: released buffers free themselves
  std::atomic<LONG> Refs{1};         // the pool and every live buffer

  void AddRef() { ++Refs; }
  void Release()
  {
    if (--Refs == 0) delete this;
  }
  // Takes a buffer whose last reference went; false when it is not wanted.
  bool Keep(TPooledBuffer* buffer, DWORD length);
};

namespace {

class TPooledBuffer final : public TMemoryBuffer {
 public:
  TPooledBuffer(TSamplePoolState* state, BYTE* data, DWORD maxLength) : TMemoryBuffer(data, maxLength, 0), State(state)
  {
    State->AddRef();
  }

  // Out of the pool again: one reference for the caller, nothing in it yet.
  void Reuse()
  {
    Revive();
    CurrentLength = 0;
  }

  ~TPooledBuffer()
  {
    delete[] Data;
    State->Release();
  }

 private:
  // The last reference went: back to the pool, unless the pool is gone, makes another size
  // now or keeps enough.
  void OnFinalRelease() override
  {
    if (!State->Keep(this, MaxLength)) delete this;
  }

  TSamplePoolState* State;
};

}  // namespace

bool TSamplePoolState::Keep(TPooledBuffer* buffer, DWORD length)
{
  const TExclusiveSRWHold hold(Lock);
  if (Closed || length != Length || Kept.size() >= kKeptBuffers) return false;
  try {
    Kept.push_back(buffer);
  } catch (...) {
    return false;
  }
  return true;
}

// Never throws (its owners' constructors rely on that): without memory for the state,
// GetBuffer fails instead.
TSamplePool::TSamplePool() : State(new (std::nothrow) TSamplePoolState()) {}

TSamplePool::~TSamplePool()
{
  if (!State) return;
  std::vector<TPooledBuffer*> kept;
  {
    const TExclusiveSRWHold hold(State->Lock);
    State->Closed = true;
    kept.swap(State->Kept);
  }
  for (TPooledBuffer* buffer : kept) delete buffer;
  State->Release();
}

HRESULT TSamplePool::GetBuffer(DWORD length, IMFMediaBuffer** out)
{
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!State) return E_OUTOFMEMORY;
  std::vector<TPooledBuffer*> stale;
  TPooledBuffer* buffer = nullptr;
  DWORD size = 0;
  {
    const TExclusiveSRWHold hold(State->Lock);
    State->SmallFrames = length < State->Length / 4 ? State->SmallFrames + 1 : 0;
    if (length > State->Length || State->SmallFrames >= kSmallFramesBeforeShrink) {
      stale.swap(State->Kept);  // too small for this frame, or far too large: of no more use
      State->Length = BufferSizeFor(length);
      State->SmallFrames = 0;
    } else if (!State->Kept.empty()) {
      buffer = State->Kept.back();
      State->Kept.pop_back();
    }
    size = State->Length;
  }
  for (TPooledBuffer* old : stale) delete old;
  if (buffer) {
    buffer->Reuse();
    *out = buffer;
    return S_OK;
  }

  BYTE* data = new (std::nothrow) BYTE[size ? size : 1];
  if (!data) return E_OUTOFMEMORY;
  buffer = new (std::nothrow) TPooledBuffer(State, data, size);
  if (!buffer) {
    delete[] data;
    return E_OUTOFMEMORY;
  }
  ++gBuffersAllocated;
  *out = buffer;
  return S_OK;
}

void TSamplePool::Reserve(DWORD length, int count)
{
  // Taken out together, so that each is a new one, and given back: the pool keeps them.
  IMFMediaBuffer* taken[kKeptBuffers] = {};
  int made = 0;
  while (made < count && made < static_cast<int>(kKeptBuffers) && SUCCEEDED(GetBuffer(length, &taken[made]))) ++made;
  for (int i = 0; i < made; ++i) taken[i]->Release();
}

LONG TSamplePool::BuffersAllocated()
{
  return gBuffersAllocated.load();
}
