// The software compositor's inside: the image function walks the rows of a band keeping
// each column's 7-row alpha sum up to date, and hands every output row to a row kernel.
// The *_C kernels are the definition; the vector ones give their output byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>

#include "PictorConfig.h"
#include "kernels/RowAny.h"

namespace softcompose {

// Adds the alpha bytes of row `in` to the column sums and takes those of row `out` away
// (modulo 2^16; the sums themselves never exceed 7 x 255).
using TColumnRow = void(uint16_t* sums, const unsigned char* in, const unsigned char* out, unsigned int width);

// One output row of `width` pixels. window[x .. x + 6] are the column sums round pixel x
// (window[x + 3] its own column). background null: no background.
//   m = min(49 x own alpha, 7 x 7 sum)          0 .. 12495, the softened key x 12495
//   w = (m x 1343 + 2^15) >> 16                 0 .. 256, the key in 1/256
//   background: c = (w x camera + (256 - w) x background + 128) >> 8, alpha 255
//   none:       c = (w x camera + 128) >> 8,
//               alpha = 255 - ((w x (256 - w) x 255 + 2^15) >> 16)
using TComposeRow = void(unsigned char* dst, const unsigned char* src, const unsigned char* background,
                         const uint16_t* window, unsigned int width);

// ComposeRow, then ColumnRow on the sums window + 3: the same bytes and sums, in one walk
// over the row, so the camera row entering the window is read from memory while this row
// is composed. Optional: without it (the reference) the two kernels run one after the other.
using TComposeAdvanceRow = void(unsigned char* dst, const unsigned char* src, const unsigned char* background,
                                uint16_t* window, const unsigned char* in, const unsigned char* out,
                                unsigned int width);

constexpr unsigned int kKeyToWeight = 1343;  // 2^16 x 256 / (49 x 255), rounded

// How far ahead of the pixels in work the vector kernels prefetch the rows that come from
// memory (the background's, the camera row entering the window), in bytes: 512 pixels, a
// few microseconds of work, about a memory access's latency with a few lines in flight
// per stream.
constexpr unsigned int kPrefetchAhead = 2048;

// The row kernels of one instruction set from its bodies on whole blocks of kBlock pixels,
// each taking the pixel count first (kernels/RowAny.h takes the rest of a row):
//   Columns(pixels, sums, in, out)                 ColumnRow
//   Compose(pixels, dst, src, background, window)  ComposeRow
//   Advance(pixels, dst, src, background, window, in, out): ComposeRow, with the column
//     sums of every block but the last advanced, whose sums the next pixels' window reads.
template <unsigned int kBlock, void (*Columns)(unsigned int, uint16_t*, const unsigned char*, const unsigned char*)>
void ColumnRowAny(uint16_t* sums, const unsigned char* in, const unsigned char* out, unsigned int width)
{
  kernels::RowAny<kBlock>(width, Columns, kernels::InOut<uint16_t>{sums}, kernels::In<unsigned char, 4>{in},
                          kernels::In<unsigned char, 4>{out});
}

template <unsigned int kBlock,
          void (*Compose)(unsigned int, unsigned char*, const unsigned char*, const unsigned char*, const uint16_t*)>
void ComposeRowAny(unsigned char* dst, const unsigned char* src, const unsigned char* background,
                   const uint16_t* window, unsigned int width)
{
  kernels::RowAny<kBlock>(width, Compose, kernels::Out<unsigned char, 4>{dst}, kernels::In<unsigned char, 4>{src},
                          kernels::In<unsigned char, 4>{background}, kernels::In<uint16_t, 1, 6>{window});
}

template <unsigned int kBlock,
          void (*Advance)(unsigned int, unsigned char*, const unsigned char*, const unsigned char*, uint16_t*,
                          const unsigned char*, const unsigned char*),
          void (*Compose)(unsigned int, unsigned char*, const unsigned char*, const unsigned char*, const uint16_t*),
          void (*Columns)(unsigned int, uint16_t*, const unsigned char*, const unsigned char*)>
void ComposeAdvanceRowAny(unsigned char* dst, const unsigned char* src, const unsigned char* background,
                          uint16_t* window, const unsigned char* in, const unsigned char* out, unsigned int width)
{
  const unsigned int whole = width - width % kBlock;
  if (whole == 0) {
    ComposeRowAny<kBlock, Compose>(dst, src, background, window, width);
    ColumnRowAny<kBlock, Columns>(window + 3, in, out, width);
    return;
  }
  Advance(whole, dst, src, background, window, in, out);
  const std::size_t done = std::size_t(whole) * 4, last = done - std::size_t(kBlock) * 4;
  ComposeRowAny<kBlock, Compose>(dst + done, src + done, background ? background + done : nullptr, window + whole,
                                 width - whole);
  ColumnRowAny<kBlock, Columns>(window + 3 + whole - kBlock, in + last, out + last, width - whole + kBlock);
}

TColumnRow ColumnRow_C;
TComposeRow ComposeRow_C;
#if PICTOR_X86
TColumnRow ColumnRow_SSE2, ColumnRow_AVX2;
TComposeRow ComposeRow_SSE2, ComposeRow_AVX2;
TComposeAdvanceRow ComposeAdvanceRow_SSE2, ComposeAdvanceRow_AVX2;
#endif

struct TRowKernels {
  TColumnRow* columns;
  TComposeRow* compose;
  TComposeAdvanceRow* composeAdvance;  // may be null
  const char* name;
};

// The fastest kernels whose features (kernels/CpuFeatures.h) are all in `features`.
TRowKernels SelectRowKernels(unsigned int features);

}  // namespace softcompose
