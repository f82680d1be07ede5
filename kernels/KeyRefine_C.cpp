// The reference row kernels of the key refinement, one pixel at a time.
#include <algorithm>
#include <cstring>

#include "kernels/KeyRefineInternal.h"

namespace keyrefine {

void ErodeRow_C(uint8_t* eroded, const unsigned char* row, unsigned int width, unsigned int radius, uint8_t* pad)
{
  for (unsigned int x = 0; x < width; ++x) pad[radius + x] = row[x * 4 + 3];
  RepeatEnds(pad, width, radius);
  for (unsigned int x = 0; x < width; ++x) {
    uint8_t m = pad[x];
    for (unsigned int k = 1; k <= 2 * radius; ++k) m = std::min(m, pad[x + k]);
    eroded[x] = m;
  }
}

void FinishRow_C(unsigned char* row, const uint8_t* const* eroded, unsigned int count, unsigned int width,
                 const TSpill& spill)
{
  for (unsigned int x = 0; x < width; ++x) {
    uint32_t v;
    std::memcpy(&v, row + x * 4, 4);
    if (count != 0) {
      uint8_t a = eroded[0][x];
      for (unsigned int i = 1; i < count; ++i) a = std::min(a, eroded[i][x]);
      v = (v & 0x00FFFFFFu) | (uint32_t(a) << 24);
    }
    if (spill.on) v = SpillPixel(v, spill);
    std::memcpy(row + x * 4, &v, 4);
  }
}

}  // namespace keyrefine
