// A plain contiguous media buffer. The double uses its own rather than
// MFCreateMemoryBuffer so that every buffer it hands out is counted while alive. Its
// memory may come from a FrameMemoryPool, to which it returns when the buffer goes.
#include <mferror.h>

#include <memory>

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

class CountedBuffer final : public TComObject<IMFMediaBuffer> {
 public:
  CountedBuffer(DWORD bytes, std::shared_ptr<FrameMemoryPool> pool)
      : pool_(std::move(pool)),
        data_(pool_ ? pool_->Take(bytes, &blockSize_)
                    : std::unique_ptr<BYTE[]>(new (std::nothrow) BYTE[bytes ? bytes : 1])),
        max_(bytes),
        length_(bytes)
  {
  }
  bool Valid() const { return data_ != nullptr; }

  STDMETHODIMP Lock(BYTE** buffer, DWORD* maxLength, DWORD* currentLength) override
  {
    if (!buffer) return E_POINTER;
    *buffer = data_.get();
    if (maxLength) *maxLength = max_;
    if (currentLength) *currentLength = length_;
    return S_OK;
  }
  STDMETHODIMP Unlock() override { return S_OK; }
  STDMETHODIMP GetCurrentLength(DWORD* length) override
  {
    if (!length) return E_POINTER;
    *length = length_;
    return S_OK;
  }
  STDMETHODIMP SetCurrentLength(DWORD length) override
  {
    if (length > max_) return E_INVALIDARG;
    length_ = length;
    return S_OK;
  }
  STDMETHODIMP GetMaxLength(DWORD* length) override
  {
    if (!length) return E_POINTER;
    *length = max_;
    return S_OK;
  }

 private:
  ~CountedBuffer()
  {
    if (pool_ && data_) pool_->Give(std::move(data_), blockSize_);
  }
  LiveCount count_{CountKind::Buffer};
  std::shared_ptr<FrameMemoryPool> pool_;
  DWORD blockSize_ = 0;  // of the pool's block, which may be larger than the frame
  std::unique_ptr<BYTE[]> data_;
  DWORD max_;
  DWORD length_;
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
