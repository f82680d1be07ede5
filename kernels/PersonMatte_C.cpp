// The reference row kernels of the person matte.
#include "kernels/PersonMatte.h"
#include "kernels/PersonMatteInternal.h"

namespace personmatte {

void AccumulateRow_C(float* sums, const uint8_t* bytes, unsigned int width, float weight)
{
  for (unsigned int i = 0; i < 4 * width; ++i) sums[i] += weight * static_cast<float>(bytes[i]);
}

void MatteRow_C(uint8_t* pixels, uint8_t* kept, const float* a0, const float* a1, const float* b0, const float* b1,
                unsigned int width, const TMatteRowParams& p)
{
  for (unsigned int x = 0; x < width; ++x) MattePixel(pixels, kept, a0, a1, b0, b1, x, p);
}

}  // namespace personmatte
