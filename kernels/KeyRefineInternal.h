// The key refinement's inside: the image function keys a row, erodes its alpha along the
// row into a ring of 2N + 1 rows, and finishes the row N above once the rows below it are
// in: its alpha becomes the minimum of the ring's rows round it, then spill is suppressed.
// The *_C kernels are the definition; the vector ones give their output byte for byte.
#pragma once

#include <cstdint>

#include "PictorConfig.h"
#include "PictorPreviewRecords.h"
#include "kernels/RowAny.h"

namespace keyrefine {

// Spill suppression prepared once per frame. The key channel is limited to the mean of the
// other two, as FFmpeg's despill does by default. On the keying benchmark's screen (3CAA50,
// uneven lighting, 40% spill on the outline) with a choke of 1, this takes the green fringe
// (mean of max(0, G - (R + B) / 2) inside the outline) from 4.98 to 0; limiting to the larger
// of the two leaves 2.26, since a warm subject's red hides the spill; taking the spill out
// of all three channels alike also reaches 0 but greys and brightens the outline. On a kept pixel (alpha above 0), with
// k the key channel and o1, o2 the other two:
//   limit = (o1 + o2 + 1) >> 1, excess = max(0, k - limit),
//   k -= (excess x strength256 + 128) >> 8.
struct TSpill {
  bool on = false;
  unsigned int strength256 = 0;                         // 1..256
  int keyShift = 8, otherShift1 = 0, otherShift2 = 16;  // bit positions in the B, G, R, A word
};

// Off for a strength at or below 0 or not a number, or a colour type that keys nothing.
// The key channel: green for rbcGreen, blue for rbcBlue, the custom colour's largest
// channel for rbcCustom (green before blue before red on a tie).
TSpill PrepareSpill(float strength, TRemoveBackgroundColorType colorType, unsigned int customColor);

// The largest choke, in pixels.
constexpr unsigned int kMaxRadius = 3;

// The row's alpha bytes, the ends repeated `radius` times, into pad (width + 2 x radius
// bytes); then eroded[x] = min(pad[x .. x + 2 x radius]).
using TErodeRow = void(uint8_t* eroded, const unsigned char* row, unsigned int width, unsigned int radius,
                       uint8_t* pad);
// With count > 0, alpha = the minimum of eroded[0..count)[x]; then spill, when on.
using TFinishRow = void(unsigned char* row, const uint8_t* const* eroded, unsigned int count, unsigned int width,
                        const TSpill& spill);

// pad[radius .. radius + width) holds a row's alpha bytes: its ends are repeated `radius`
// times either side.
inline void RepeatEnds(uint8_t* pad, unsigned int width, unsigned int radius)
{
  for (unsigned int k = 0; k < radius; ++k) {
    pad[k] = pad[radius];
    pad[radius + width + k] = pad[radius + width - 1];
  }
}

// One pixel as the reference finishes it.
PICTOR_FORCE_INLINE uint32_t SpillPixel(uint32_t v, const TSpill& spill)
{
  if ((v >> 24) == 0) return v;
  const int k = int(v >> spill.keyShift) & 0xFF;
  const int limit = ((int(v >> spill.otherShift1) & 0xFF) + (int(v >> spill.otherShift2) & 0xFF) + 1) >> 1;
  if (k <= limit) return v;
  const uint32_t reduce = (uint32_t(k - limit) * spill.strength256 + 128) >> 8;
  return v - (reduce << spill.keyShift);
}

// The eroding row kernel of one instruction set, from its two bodies on whole blocks of
// kBlock pixels (kernels/RowAny.h takes the rest): Gather(pixels, alpha, row) copies the
// alpha bytes of a row, Min(pixels, eroded, pad, span) takes each pixel's minimum over
// pad[x .. x + span).
template <unsigned int kBlock, void (*Gather)(unsigned int, uint8_t*, const unsigned char*),
          void (*Min)(unsigned int, uint8_t*, const uint8_t*, unsigned int)>
void ErodeRowAny(uint8_t* eroded, const unsigned char* row, unsigned int width, unsigned int radius, uint8_t* pad)
{
  kernels::RowAny<kBlock>(width, Gather, kernels::Out<uint8_t>{pad + radius}, kernels::In<unsigned char, 4>{row});
  RepeatEnds(pad, width, radius);
  const unsigned int span = 2 * radius + 1;
  kernels::RowAny<kBlock>(
      width, [span](unsigned int n, uint8_t* out, const uint8_t* in) { Min(n, out, in, span); },
      kernels::Out<uint8_t>{eroded}, kernels::In<uint8_t, 1, 2 * kMaxRadius>{pad, 2 * radius});
}

// The finishing row kernel of one instruction set, from its body on whole blocks of kBlock
// pixels: Finish(pixels, row, eroded, count, spill).
template <unsigned int kBlock,
          void (*Finish)(unsigned int, unsigned char*, const uint8_t* const*, unsigned int, const TSpill&)>
void FinishRowAny(unsigned char* row, const uint8_t* const* eroded, unsigned int count, unsigned int width,
                  const TSpill& spill)
{
  kernels::RowAny<kBlock>(
      width,
      [count, &spill](unsigned int n, unsigned char* pixels, const uint8_t* const* rows) {
        Finish(n, pixels, rows, count, spill);
      },
      kernels::InOut<unsigned char, 4>{row}, kernels::InRows<uint8_t, 2 * kMaxRadius + 1>{eroded, count});
}

TErodeRow ErodeRow_C;
TFinishRow FinishRow_C;
#if PICTOR_X86
TErodeRow ErodeRow_SSE2, ErodeRow_AVX2;
TFinishRow FinishRow_SSE2, FinishRow_AVX2;
#endif

struct TRowKernels {
  TErodeRow* erode;
  TFinishRow* finish;
  const char* name;
};

// The fastest kernels whose features (kernels/CpuFeatures.h) are all in `features`.
TRowKernels SelectRowKernels(unsigned int features);

}  // namespace keyrefine
