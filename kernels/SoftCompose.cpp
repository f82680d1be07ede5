// The software compositor's image function: checks, scratch, the rows of a band, and the
// choice of row kernels from the processor's features.
#include "kernels/SoftCompose.h"

#include <algorithm>
#include <new>

#include "kernels/CpuFeatures.h"
#include "kernels/SoftComposeInternal.h"

namespace softcompose {

TRowKernels SelectRowKernels(unsigned int features)
{
#if PICTOR_X86
  if (features & kernels::kCpuAVX2) return {ColumnRow_AVX2, ComposeRow_AVX2, ComposeAdvanceRow_AVX2, "AVX2"};
  if (features & kernels::kCpuSSE2) return {ColumnRow_SSE2, ComposeRow_SSE2, ComposeAdvanceRow_SSE2, "SSE2"};
#else
  (void)features;
#endif
  return {ColumnRow_C, ComposeRow_C, nullptr, "C"};
}

}  // namespace softcompose

namespace {

bool Usable(const TSoftPlane& plane)
{
  return plane.pixels != nullptr && plane.width != 0 && plane.height != 0 &&
         plane.stride >= std::size_t(plane.width) * 4;
}

// Picture row y (top row 0) of a plane stored either way up.
const unsigned char* PictureRow(const TSoftPlane& plane, unsigned int y)
{
  const unsigned int stored = plane.bottomUp ? plane.height - 1 - y : y;
  return plane.pixels + std::size_t(stored) * plane.stride;
}

}  // namespace

TSoftCompositor::TSoftCompositor() : features_(kernels::CpuFeatures()) {}

const char* TSoftCompositor::KernelName() const
{
  return softcompose::SelectRowKernels(features_).name;
}

bool TSoftCompositor::Prepare(unsigned int width, unsigned int bands)
{
  if (width <= width_ && bands <= bands_.size()) return true;
  try {
    const unsigned int newWidth = std::max(width, width_);
    bands_.resize(std::max<std::size_t>(bands, bands_.size()));
    for (TBandScratch& band : bands_) {
      band.window.resize(std::size_t(newWidth) + 6);
      band.zeroRow.resize(std::size_t(newWidth) * 4);
    }
    width_ = newWidth;
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool TSoftCompositor::Compose(const TSoftComposeFrame& frame)
{
  return Prepare(frame.camera.width, 1) && ComposeRows(frame, 0, frame.camera.height, 0);
}

bool TSoftCompositor::ComposeRows(const TSoftComposeFrame& frame, unsigned int y0, unsigned int y1, unsigned int band)
{
  const TSoftPlane& camera = frame.camera;
  const TSoftPlane* background = frame.background;
  const TSoftTarget& target = frame.target;
  if (!Usable(camera) || (background != nullptr && !Usable(*background)) || target.pixels == nullptr ||
      target.stride < std::size_t(camera.width) * 4 || band >= bands_.size() || camera.width > width_)
    return false;
  y1 = std::min(y1, camera.height);
  if (y0 >= y1) return true;

  const softcompose::TRowKernels rowKernels = softcompose::SelectRowKernels(features_);
  const unsigned int width = camera.width;
  const int last = int(camera.height) - 1;
  auto cameraRow = [&](int y) { return PictureRow(camera, unsigned(std::clamp(y, 0, last))); };
  TBandScratch& scratch = bands_[band];
  uint16_t* window = scratch.window.data();
  uint16_t* sums = window + 3;
  const unsigned char* zeroRow = scratch.zeroRow.data();

  // The band's first window: rows y0 - 3 .. y0 + 3, the edge rows repeated.
  std::fill(sums, sums + width, uint16_t(0));
  for (int dy = -3; dy <= 3; ++dy) rowKernels.columns(sums, cameraRow(int(y0) + dy), zeroRow, width);

  const unsigned int backgroundWidth = background ? std::min(background->width, width) : 0;
  for (unsigned int y = y0; y < y1; ++y) {
    std::fill(window, sums, sums[0]);
    std::fill(sums + width, sums + width + 3, sums[width - 1]);
    const unsigned char* src = cameraRow(int(y));
    unsigned char* dst = target.pixels + std::size_t(target.bottomUp ? camera.height - 1 - y : y) * target.stride;
    const bool advance = y + 1 < y1;
    const unsigned char* in = cameraRow(int(y) + 4);
    const unsigned char* out = cameraRow(int(y) - 3);
    // Cut, not stretched: what the background does not cover is black.
    const unsigned int split = background == nullptr || y >= background->height ? 0 : backgroundWidth;
    if (background == nullptr || split == width) {
      const unsigned char* backgroundRow = background ? PictureRow(*background, y) : nullptr;
      if (advance && rowKernels.composeAdvance) {
        rowKernels.composeAdvance(dst, src, backgroundRow, window, in, out, width);
        continue;
      }
      rowKernels.compose(dst, src, backgroundRow, window, width);
    } else {
      if (split != 0) rowKernels.compose(dst, src, PictureRow(*background, y), window, split);
      rowKernels.compose(dst + std::size_t(split) * 4, src + std::size_t(split) * 4, zeroRow, window + split,
                         width - split);
    }
    if (advance) rowKernels.columns(sums, in, out, width);
  }
  return true;
}
