// The reference row kernels of the software compositor: the integer rules of
// SoftComposeInternal.h one pixel at a time.
#include <algorithm>
#include <cstddef>

#include "kernels/SoftComposeInternal.h"

namespace softcompose {

void ColumnRow_C(uint16_t* sums, const unsigned char* in, const unsigned char* out, unsigned int width)
{
  for (unsigned int x = 0; x < width; ++x) sums[x] = uint16_t(sums[x] + in[x * 4 + 3] - out[x * 4 + 3]);
}

void ComposeRow_C(unsigned char* dst, const unsigned char* src, const unsigned char* background, const uint16_t* window,
                  unsigned int width)
{
  for (unsigned int x = 0; x < width; ++x, src += 4, dst += 4) {
    unsigned int sum = 0;
    for (int k = 0; k < 7; ++k) sum += window[x + k];
    const unsigned int m = std::min(49u * src[3], sum);
    const unsigned int w = (m * kKeyToWeight + 32768) >> 16;
    if (background != nullptr) {
      const unsigned char* b = background + std::size_t(x) * 4;
      for (int c = 0; c < 3; ++c) dst[c] = uint8_t((w * src[c] + (256 - w) * b[c] + 128) >> 8);
      dst[3] = 255;
    } else {
      for (int c = 0; c < 3; ++c) dst[c] = uint8_t((w * src[c] + 128) >> 8);
      dst[3] = uint8_t(255 - ((w * (256 - w) * 255 + 32768) >> 16));
    }
  }
}

}  // namespace softcompose
