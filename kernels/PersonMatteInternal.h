// The person matte's row kernels. The *_C kernels are the definition; the vector ones give
// their output bit for bit (the same float operations in the same order, no fused
// multiply-add), and the fastest the processor offers is picked once.
#pragma once

#include <cstdint>

#include "PictorConfig.h"
#include "kernels/PersonMatte.h"

namespace personmatte {

// sums[i] += weight x bytes[i] for the 4 x width bytes of a row of pixels.
using TAccumulateRow = void(float* sums, const uint8_t* bytes, unsigned int width, float weight);

struct TMatteRowParams {
  float fy;       // share of row 1 in the interpolation between the two coefficient rows
  float keptAt;   // the threshold for a pixel that was kept in the previous frame
  float otherAt;  // and for one that was not
  float opacity;  // 0..255
};

// For each of `width` pixels: a = a0 + fy x (a1 - a0), b likewise,
//   y = kLumaR x red + kLumaG x green + kLumaB x blue      (0..1)
//   t = keptAt if bit x of `kept` is set, else otherAt
//   v = (a x y + b - t) x kMatteGain + 1/2, clamped to 0..1 (NaN gives 0)
//   alpha = (int)(v x opacity + 1/2); bit x of `kept` = (v >= 1/2)
// Bit x is bit x mod 8 of byte x / 8.
using TMatteRow = void(uint8_t* pixels, uint8_t* kept, const float* a0, const float* a1, const float* b0,
                       const float* b1, unsigned int width, const TMatteRowParams& params);

// BT.601 brightness of byte channels, scaled to 0..1.
constexpr float kLumaR = 0.299f / 255.0f;
constexpr float kLumaG = 0.587f / 255.0f;
constexpr float kLumaB = 0.114f / 255.0f;

// One pixel of MatteRow_C; the vector kernels' tails go through it too.
PICTOR_FORCE_INLINE void MattePixel(uint8_t* pixels, uint8_t* kept, const float* a0, const float* a1, const float* b0,
                                    const float* b1, unsigned int x, const TMatteRowParams& p)
{
  uint8_t* px = pixels + 4 * x;
  const uint8_t bit = static_cast<uint8_t>(1u << (x & 7));
  const float a = a0[x] + p.fy * (a1[x] - a0[x]);
  const float b = b0[x] + p.fy * (b1[x] - b0[x]);
  const float y =
      static_cast<float>(px[2]) * kLumaR + static_cast<float>(px[1]) * kLumaG + static_cast<float>(px[0]) * kLumaB;
  const float t = (kept[x >> 3] & bit) ? p.keptAt : p.otherAt;
  float v = (a * y + b - t) * kMatteGain + 0.5f;
  v = v > 0.0f ? v : 0.0f;  // the order of a vector max: NaN gives 0
  v = v < 1.0f ? v : 1.0f;
  px[3] = static_cast<uint8_t>(static_cast<int>(v * p.opacity + 0.5f));
  kept[x >> 3] = static_cast<uint8_t>(v >= 0.5f ? kept[x >> 3] | bit : kept[x >> 3] & ~bit);
}

TAccumulateRow AccumulateRow_C;
TMatteRow MatteRow_C;
#if PICTOR_X86
TAccumulateRow AccumulateRow_SSE2, AccumulateRow_AVX2;
TMatteRow MatteRow_SSE2, MatteRow_AVX2;
#endif

struct TRowKernels {
  TAccumulateRow* accumulate;
  TMatteRow* matte;
  const char* name;
};

// The fastest kernels whose features (kernels/CpuFeatures.h) are all in `features`.
TRowKernels SelectRowKernels(unsigned int features);

}  // namespace personmatte
