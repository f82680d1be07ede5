// The reference row kernels of the key refinement, one pixel at a time.
#include <algorithm>
#include <cstring>

#include "kernels/KeyRefineInternal.h"

namespace keyrefine {

void ErodeRow_C(uint8_t* eroded, const unsigned char* row, unsigned int width, unsigned int radius, uint8_t* pad)
{
  PadAlphaFrom(0, pad, row, width, radius);
  ErodeFrom(0, eroded, pad, width, radius);
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
