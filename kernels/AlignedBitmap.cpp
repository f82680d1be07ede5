#include "kernels/AlignedBitmap.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

namespace {

constexpr unsigned int kAlignment = 64;

// Aligned allocation through the C++17 aligned operator new, which every compiler the
// library is built with provides (MSVC and mingw-w64 map it onto _aligned_malloc, glibc
// onto aligned_alloc); the matching aligned delete frees it. Sizes no allocator can grant
// are refused here: some runtimes round the size up to the alignment first, and a size
// near the largest value then wraps round to a tiny block.
unsigned char* AllocateAligned(std::size_t bytes)
{
  if (bytes > static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max()) - kAlignment) return nullptr;
  return static_cast<unsigned char*>(::operator new(bytes, std::align_val_t(kAlignment), std::nothrow));
}

void FreeAligned(unsigned char* p)
{
  ::operator delete(p, std::align_val_t(kAlignment));
}

}  // namespace

TQDAlignedBitmap32::TQDAlignedBitmap32(unsigned int width, unsigned int height)
    : OwnsPixels(false), Alignment(kAlignment), Width(width), Height(height), Stride(0), Pixels(nullptr)
{
  const uint64_t rowBytes = static_cast<uint64_t>(width) * 4;
  const uint64_t stride = (rowBytes + kAlignment - 1) / kAlignment * kAlignment;
  const uint64_t total = stride * height;
  // Sizes beyond 32 bits ask for the largest size there is, which no allocator grants.
  const std::size_t request =
      (stride > std::numeric_limits<uint32_t>::max() || total > std::numeric_limits<uint32_t>::max())
          ? std::numeric_limits<std::size_t>::max()
          : static_cast<std::size_t>(total);
  Stride = stride > std::numeric_limits<uint32_t>::max() ? 0 : static_cast<unsigned int>(stride);
  Pixels = AllocateAligned(request);
  OwnsPixels = Pixels != nullptr;
}

TQDAlignedBitmap32::~TQDAlignedBitmap32()
{
  if (OwnsPixels) FreeAligned(Pixels);
}

void TQDAlignedBitmap32::CopyImage(unsigned int width, unsigned int height, unsigned int stride,
                                   const unsigned char* data, bool topDown)
{
  if (Pixels == nullptr || data == nullptr) return;
  const std::size_t bytesPerRow =
      static_cast<std::size_t>(std::min<uint64_t>({static_cast<uint64_t>(width) * 4, stride, Stride}));
  const unsigned int rows = std::min(height, Height);
  if (rows == 0 || bytesPerRow == 0) return;

  // The destination fills from its last row upwards; the source walks from the top of the
  // picture downwards, which is its first stored row for a top-down image and its last
  // for a bottom-up one.
  unsigned char* dst = Pixels + static_cast<std::size_t>(Height - 1) * Stride;
  const unsigned char* src = topDown ? data : data + static_cast<std::size_t>(height - 1) * stride;
  const std::ptrdiff_t srcStep = topDown ? static_cast<std::ptrdiff_t>(stride) : -static_cast<std::ptrdiff_t>(stride);
  for (unsigned int y = 0; y < rows; ++y) {
    std::memcpy(dst, src, bytesPerRow);
    if (y + 1 < rows) {
      dst -= Stride;
      src += srcStep;
    }
  }
}
