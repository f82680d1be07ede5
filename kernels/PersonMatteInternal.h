// The person matte's row kernels. The *_C kernels are the definition; the vector ones give
// their output bit for bit (the same float operations in the same order, no fused
// multiply-add), and the fastest the processor offers is picked once.
#pragma once

#include <cstdint>

#include "PictorConfig.h"

namespace personmatte {

// sums[i] += weight x bytes[i] for the 4 x width bytes of a row of pixels.
using TAccumulateRow = void(float* sums, const uint8_t* bytes, unsigned int width, float weight);

struct TMatteRowParams {
  float fy;         // share of row 1 in the interpolation between the two coefficient rows
  float threshold;  // matte value at which alpha is half the opacity
  float opacity;    // 0..255
};

// For each of `width` pixels: a = a0 + fy x (a1 - a0), b likewise,
//   y = kLumaR x red + kLumaG x green + kLumaB x blue      (0..1)
//   v = (a x y + b - threshold) x kMatteGain + 1/2, clamped to 0..1 (NaN gives 0)
//   alpha = (int)(v x opacity + 1/2)
using TMatteRow = void(uint8_t* pixels, const float* a0, const float* a1, const float* b0, const float* b1,
                       unsigned int width, const TMatteRowParams& params);

// BT.601 brightness of byte channels, scaled to 0..1.
constexpr float kLumaR = 0.299f / 255.0f;
constexpr float kLumaG = 0.587f / 255.0f;
constexpr float kLumaB = 0.114f / 255.0f;

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

// The fastest kernels whose features (the colour key's feature bits) are all in `features`.
TRowKernels SelectRowKernels(unsigned int features);

}  // namespace personmatte
