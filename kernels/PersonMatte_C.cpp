// The reference row kernels of the person matte.
#include "kernels/PersonMatte.h"
#include "kernels/PersonMatteInternal.h"

namespace personmatte {

void AccumulateRow_C(float* sums, const uint8_t* bytes, unsigned int width, float weight)
{
  for (unsigned int i = 0; i < 4 * width; ++i) sums[i] += weight * static_cast<float>(bytes[i]);
}

void MatteRow_C(uint8_t* pixels, const float* a0, const float* a1, const float* b0, const float* b1, unsigned int width,
                const TMatteRowParams& p)
{
  for (unsigned int x = 0; x < width; ++x) {
    uint8_t* px = pixels + 4 * x;
    const float a = a0[x] + p.fy * (a1[x] - a0[x]);
    const float b = b0[x] + p.fy * (b1[x] - b0[x]);
    const float y =
        static_cast<float>(px[2]) * kLumaR + static_cast<float>(px[1]) * kLumaG + static_cast<float>(px[0]) * kLumaB;
    float v = (a * y + b - p.threshold) * kMatteGain + 0.5f;
    v = v > 0.0f ? v : 0.0f;  // the order of a vector max: NaN gives 0
    v = v < 1.0f ? v : 1.0f;
    px[3] = static_cast<uint8_t>(static_cast<int>(v * p.opacity + 0.5f));
  }
}

}  // namespace personmatte
