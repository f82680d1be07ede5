// The virtual camera as a Media Foundation media source with one video stream.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "tools/virtualcam/CameraRegistry_win.h"

namespace virtualcam {

// Creates a source for the camera; the caller owns the returned reference.
HRESULT CreateVirtualSource(const std::shared_ptr<CameraState>& camera, IMFMediaSource** out);

// Frame memory of one size, kept for reuse as a camera driver's allocator keeps its
// buffers, so that a stream allocates nothing per frame once it runs. Thread-safe.
class FrameMemoryPool {
 public:
  // A kept block that holds `bytes`, or a new one (null when memory is short); `size`
  // receives the block's size. Blocks are made an eighth larger than the frame that set
  // their size, so that frames whose length varies (JPEG) reuse them; a longer frame, or
  // one under half of it (another format), drops the kept blocks.
  std::unique_ptr<BYTE[]> Take(DWORD bytes, DWORD* size);
  // Keeps a block of the current size, up to kKeep of them; frees any other.
  void Give(std::unique_ptr<BYTE[]> block, DWORD size);

 private:
  static constexpr size_t kKeep = 4;
  std::mutex mutex_;
  DWORD bytes_ = 0;
  std::vector<std::unique_ptr<BYTE[]>> free_;
};

// A 1-D memory buffer that counts itself; `bytes` is its capacity and length. With a
// pool, its memory comes from the pool and goes back when the buffer is released.
HRESULT CreateCountedBuffer(DWORD bytes, IMFMediaBuffer** out, std::shared_ptr<FrameMemoryPool> pool = nullptr);

}  // namespace virtualcam
