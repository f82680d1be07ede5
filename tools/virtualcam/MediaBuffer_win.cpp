// A plain contiguous media buffer. The double uses its own rather than
// MFCreateMemoryBuffer so that every buffer it hands out is counted while alive. Its
// memory may come from a FrameMemoryPool, to which it returns when the buffer goes.
#include <mferror.h>

#include <memory>

#include "common/MemoryBuffer_win.h"
#include "tools/virtualcam/MediaSource_win.h"

namespace virtualcam {

std::unique_ptr<BYTE[]> FrameMemoryPool::Take(DWORD bytes, DWORD* size)
{
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (bytes > bytes_ || bytes < bytes_ / 2) {
      free_.clear();  // a new frame size: blocks of the old one are of no more use
      bytes_ = bytes < 0xE0000000u ? bytes + bytes / 8 : bytes;
    }
    *size = bytes_;
    if (!free_.empty()) {
      std::unique_ptr<BYTE[]> block = std::move(free_.back());
      free_.pop_back();
      return block;
    }
  }
  return std::unique_ptr<BYTE[]>(new (std::nothrow) BYTE[*size ? *size : 1]);
}

void FrameMemoryPool::Give(std::unique_ptr<BYTE[]> block, DWORD size)
{
  std::lock_guard<std::mutex> lock(mutex_);
  if (size != bytes_ || free_.size() >= kKeep) return;
  try {
    free_.push_back(std::move(block));
  } catch (...) {
  }
}

namespace {

class CountedBuffer final : public TMemoryBuffer {
 public:
  CountedBuffer(DWORD bytes, std::shared_ptr<FrameMemoryPool> pool)
      : TMemoryBuffer(nullptr, bytes, bytes),
        pool_(std::move(pool)),
        data_(pool_ ? pool_->Take(bytes, &blockSize_)
                    : std::unique_ptr<BYTE[]>(new (std::nothrow) BYTE[bytes ? bytes : 1]))
  {
    Data = data_.get();
  }
  bool Valid() const { return data_ != nullptr; }

 private:
  ~CountedBuffer()
  {
    if (pool_ && data_) pool_->Give(std::move(data_), blockSize_);
  }
  LiveCount count_{CountKind::Buffer};
  std::shared_ptr<FrameMemoryPool> pool_;
  DWORD blockSize_ = 0;  // of the pool's block, which may be larger than the frame
  std::unique_ptr<BYTE[]> data_;
};

}  // namespace

HRESULT CreateCountedBuffer(DWORD bytes, IMFMediaBuffer** out, std::shared_ptr<FrameMemoryPool> pool)
{
  if (!out) return E_POINTER;
  *out = nullptr;
  auto* buffer = new (std::nothrow) CountedBuffer(bytes, std::move(pool));
  if (!buffer) return E_OUTOFMEMORY;
  if (!buffer->Valid()) {
    buffer->Release();
    return E_OUTOFMEMORY;
  }
  *out = buffer;
  return S_OK;
}

}  // namespace virtualcam
