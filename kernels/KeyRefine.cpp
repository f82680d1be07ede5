// The key refinement's image function: checks, scratch, the rows in the order the choke
// needs them, and the choice of row kernels from the processor's features.
#include "kernels/KeyRefine.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <new>

#include "kernels/ColorKeyInternal.h"
#include "kernels/CpuFeatures.h"
#include "kernels/KeyRefineInternal.h"

namespace keyrefine {

TSpill PrepareSpill(float strength, TRemoveBackgroundColorType colorType, unsigned int customColor)
{
  TSpill spill;
  if (!(strength > 0.0f)) return spill;
  // Channel byte positions in the B, G, R, A word.
  int key = 1;
  if (colorType == rbcBlue) {
    key = 0;
  } else if (colorType == rbcCustom) {
    const unsigned int r = (customColor >> 16) & 0xFF, g = (customColor >> 8) & 0xFF, b = customColor & 0xFF;
    key = g >= b && g >= r ? 1 : (b >= r ? 0 : 2);
  } else if (colorType != rbcGreen) {
    return spill;
  }
  spill.on = true;
  spill.strength256 = strength >= 1.0f ? 256u : std::max(1u, unsigned(std::lround(strength * 256.0f)));
  spill.keyShift = key * 8;
  spill.otherShift1 = ((key + 1) % 3) * 8;
  spill.otherShift2 = ((key + 2) % 3) * 8;
  return spill;
}

TRowKernels SelectRowKernels(unsigned int features)
{
#if PICTOR_X86
  if (features & kernels::kCpuAVX2) return {ErodeRow_AVX2, FinishRow_AVX2, "AVX2"};
  if (features & kernels::kCpuSSE2) return {ErodeRow_SSE2, FinishRow_SSE2, "SSE2"};
#else
  (void)features;
#endif
  return {ErodeRow_C, FinishRow_C, "C"};
}

}  // namespace keyrefine

TKeyRefiner::TKeyRefiner() : features_(kernels::CpuFeatures()) {}

const char* TKeyRefiner::KernelName() const
{
  return keyrefine::SelectRowKernels(features_).name;
}

namespace {

// keyRow(row) writes each row's matte (or leaves the one already there); the spill and the
// choke follow, on the rows in the order the choke needs them. scratch: the choke's rows,
// kept across frames.
template <typename TKeyRowFn>
bool RefineRows(unsigned char* pixels, unsigned int width, unsigned int height, unsigned int stride,
                const TKeyRowFn& keyRow, const keyrefine::TSpill& suppress, unsigned int choke,
                const keyrefine::TRowKernels& rowKernels, std::vector<uint8_t>& scratch)
{
  auto rowAt = [&](unsigned int y) { return pixels + std::size_t(y) * stride; };
  choke = std::min(choke, 3u);
  bool scratchMade = true;
  const unsigned int window = 2 * choke + 1;
  if (choke != 0) {
    try {
      const std::size_t bytes = std::size_t(window) * width + width + 2 * choke;
      if (scratch.size() < bytes) scratch.resize(bytes);
    } catch (const std::bad_alloc&) {
      scratchMade = false;
      choke = 0;
    }
  }
  if (!suppress.on && choke == 0) {
    for (unsigned int y = 0; y < height; ++y) keyRow(rowAt(y));
    return scratchMade;
  }

  // Row y's eroded alpha sits in ring slot y mod window; row y is finished once row
  // y + choke is in, and the window is cut at the frame's top and bottom (repeating an
  // edge row cannot lower a minimum).
  uint8_t* const pad = scratch.data() + std::size_t(window) * width;
  auto eroded = [&](unsigned int y) { return scratch.data() + std::size_t(y % window) * width; };
  for (unsigned int y = 0; y < height + choke; ++y) {
    if (y < height) {
      keyRow(rowAt(y));
      if (choke != 0) rowKernels.erode(eroded(y), rowAt(y), width, choke, pad);
    }
    if (y < choke) continue;
    const unsigned int out = y - choke;
    const uint8_t* rows[7];
    unsigned int count = 0;
    if (choke != 0) {
      const unsigned int first = out > choke ? out - choke : 0, last = std::min(height - 1, out + choke);
      for (unsigned int r = first; r <= last; ++r) rows[count++] = eroded(r);
    }
    rowKernels.finish(rowAt(out), rows, count, width, suppress);
  }
  return scratchMade;
}

}  // namespace

bool TKeyRefiner::KeyAndRefine(unsigned char* pixels, unsigned int width, unsigned int height, unsigned int stride,
                               const TPictorD3D9PreviewChromaKeyingParams& keying, float spill, unsigned int choke)
{
  if (pixels == nullptr || width == 0 || height == 0) return true;
  const colorkey::TKeySetup key =
      colorkey::PrepareKey(keying.Sensitivity, keying.Smoothing, keying.Opacity, keying.ColorType, keying.CustomColor);
  colorkey::TKeyRow* const keyRow = colorkey::SelectKeyRow(features_);
  return RefineRows(
      pixels, width, height, stride, [&](unsigned char* row) { keyRow(row, width, key); },
      keyrefine::PrepareSpill(spill, keying.ColorType, keying.CustomColor), choke,
      keyrefine::SelectRowKernels(features_), scratch_);
}

bool TKeyRefiner::ChokeMatte(unsigned char* pixels, unsigned int width, unsigned int height, unsigned int stride,
                             unsigned int choke)
{
  if (pixels == nullptr || width == 0 || height == 0 || choke == 0) return true;
  return RefineRows(
      pixels, width, height, stride, [](unsigned char*) {}, keyrefine::TSpill(), choke,
      keyrefine::SelectRowKernels(features_), scratch_);
}
