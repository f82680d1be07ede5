// SSE2 row kernels of the software compositor: 8 pixels per step in 16-bit lanes, the
// reference's integer rules operation for operation; the pixels after the last whole block
// go through the same blocks (kernels/RowAny.h).
#include "kernels/SoftComposeInternal.h"

#if PICTOR_X86

#  include <emmintrin.h>

#  include <cstddef>

namespace {

constexpr unsigned int kBlock = 8;

// The alpha bytes of 8 pixels as 16-bit lanes, in pixel order.
PICTOR_TARGET_SSE2 PICTOR_FORCE_INLINE __m128i Alphas(const unsigned char* pixels)
{
  const __m128i lo = _mm_srli_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels)), 24);
  const __m128i hi = _mm_srli_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 16)), 24);
  return _mm_packs_epi32(lo, hi);
}

// (a x b + 2^15) >> 16 for 16-bit lanes whose product fits 32 bits.
PICTOR_TARGET_SSE2 PICTOR_FORCE_INLINE __m128i MulRound16(__m128i a, __m128i b)
{
  return _mm_add_epi16(_mm_mulhi_epu16(a, b), _mm_srli_epi16(_mm_mullo_epi16(a, b), 15));
}

// (w x c + 128) >> 8, or with a background (w x c + (256 - w) x b + 128) >> 8, for two
// pixels in 16-bit lanes.
PICTOR_TARGET_SSE2 PICTOR_FORCE_INLINE __m128i Mix(__m128i c, __m128i b, __m128i w, bool withBackground)
{
  __m128i sum = _mm_add_epi16(_mm_mullo_epi16(c, w), _mm_set1_epi16(128));
  if (withBackground) sum = _mm_add_epi16(sum, _mm_mullo_epi16(b, _mm_sub_epi16(_mm_set1_epi16(256), w)));
  return _mm_srli_epi16(sum, 8);
}

// Adds the alphas of 8 pixels of `in` to 8 column sums and takes those of `out` away.
PICTOR_TARGET_SSE2 PICTOR_FORCE_INLINE void AdvanceColumns8(uint16_t* sums, const unsigned char* in,
                                                            const unsigned char* out)
{
  __m128i* s = reinterpret_cast<__m128i*>(sums);
  _mm_storeu_si128(s, _mm_add_epi16(_mm_loadu_si128(s), _mm_sub_epi16(Alphas(in), Alphas(out))));
}

// 8 pixels (p0, p1) over 8 of the background (b0, b1), or over black, with their weights w.
// By reference: 32-bit MSVC passes no more than three vectors by value.
template <bool kBackground>
PICTOR_TARGET_SSE2 PICTOR_FORCE_INLINE void MixBlock(const __m128i& p0, const __m128i& p1, const __m128i& b0,
                                                     const __m128i& b1, const __m128i& w, __m128i* result0,
                                                     __m128i* result1)
{
  const __m128i zero = _mm_setzero_si128();
  // Each pixel's weight in its four lanes.
  const __m128i wLo = _mm_unpacklo_epi16(w, w), wHi = _mm_unpackhi_epi16(w, w);
  __m128i out0 = _mm_packus_epi16(
      Mix(_mm_unpacklo_epi8(p0, zero), _mm_unpacklo_epi8(b0, zero), _mm_unpacklo_epi32(wLo, wLo), kBackground),
      Mix(_mm_unpackhi_epi8(p0, zero), _mm_unpackhi_epi8(b0, zero), _mm_unpackhi_epi32(wLo, wLo), kBackground));
  __m128i out1 = _mm_packus_epi16(
      Mix(_mm_unpacklo_epi8(p1, zero), _mm_unpacklo_epi8(b1, zero), _mm_unpacklo_epi32(wHi, wHi), kBackground),
      Mix(_mm_unpackhi_epi8(p1, zero), _mm_unpackhi_epi8(b1, zero), _mm_unpackhi_epi32(wHi, wHi), kBackground));

  __m128i alpha0, alpha1;
  if (kBackground) {
    alpha0 = alpha1 = _mm_set1_epi32(int(0xFF000000u));
  } else {
    const __m128i t = _mm_mullo_epi16(w, _mm_sub_epi16(_mm_set1_epi16(256), w));
    const __m128i a = _mm_sub_epi16(_mm_set1_epi16(255), MulRound16(t, _mm_set1_epi16(255)));
    alpha0 = _mm_slli_epi32(_mm_unpacklo_epi16(a, zero), 24);
    alpha1 = _mm_slli_epi32(_mm_unpackhi_epi16(a, zero), 24);
  }
  const __m128i colour = _mm_set1_epi32(0x00FFFFFF);
  *result0 = _mm_or_si128(_mm_and_si128(out0, colour), alpha0);
  *result1 = _mm_or_si128(_mm_and_si128(out1, colour), alpha1);
}

// Composes `blocks` blocks of 8 pixels. With kAdvance the column sums of each block are
// advanced (rows `in` and `out`) once the next block is composed, whose window reaches
// three columns into it; the last block's sums are left to the caller.
template <bool kBackground, bool kAdvance>
PICTOR_TARGET_SSE2 void ComposeRows8(unsigned char* dst, const unsigned char* src, const unsigned char* background,
                                     const uint16_t* window, unsigned int blocks, uint16_t* sums = nullptr,
                                     const unsigned char* in = nullptr, const unsigned char* out = nullptr)
{
  const __m128i zero = _mm_setzero_si128();
  for (unsigned int i = 0; i < blocks; ++i, src += 32, dst += 32, window += 8) {
    if (kBackground) _mm_prefetch(reinterpret_cast<const char*>(background + softcompose::kPrefetchAhead), _MM_HINT_T0);
    __m128i sum = _mm_loadu_si128(reinterpret_cast<const __m128i*>(window));
    for (int k = 1; k < 7; ++k) sum = _mm_add_epi16(sum, _mm_loadu_si128(reinterpret_cast<const __m128i*>(window + k)));
    const __m128i m = _mm_min_epi16(_mm_mullo_epi16(Alphas(src), _mm_set1_epi16(49)), sum);
    const __m128i w = MulRound16(m, _mm_set1_epi16(short(softcompose::kKeyToWeight)));

    const __m128i p0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    const __m128i p1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16));
    __m128i b0 = zero, b1 = zero;
    if (kBackground) {
      b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(background));
      b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(background + 16));
      background += 32;
    }
    // Blocks wholly background (weight 0) or wholly camera (weight 256, own alpha 255) are
    // copies with an opaque alpha, as in the AVX2 kernel.
    __m128i out0, out1;
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(w, zero)) == 0xFFFF) {
      const __m128i opaque = _mm_set1_epi32(int(0xFF000000u));
      out0 = kBackground ? _mm_or_si128(b0, opaque) : opaque;
      out1 = kBackground ? _mm_or_si128(b1, opaque) : opaque;
    } else if (_mm_movemask_epi8(_mm_cmpeq_epi16(w, _mm_set1_epi16(256))) == 0xFFFF) {
      out0 = p0;
      out1 = p1;
    } else {
      MixBlock<kBackground>(p0, p1, b0, b1, w, &out0, &out1);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), out0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16), out1);
    if (kAdvance && i > 0) {
      const std::size_t done = std::size_t(i - 1) * 32;
      _mm_prefetch(reinterpret_cast<const char*>(in + done + softcompose::kPrefetchAhead), _MM_HINT_T0);
      AdvanceColumns8(sums + std::size_t(i - 1) * 8, in + done, out + done);
    }
  }
}

PICTOR_TARGET_SSE2 void Columns(unsigned int width, uint16_t* sums, const unsigned char* in, const unsigned char* out)
{
  for (unsigned int x = 0; x < width; x += kBlock)
    AdvanceColumns8(sums + x, in + std::size_t(x) * 4, out + std::size_t(x) * 4);
}

PICTOR_TARGET_SSE2 void Compose(unsigned int width, unsigned char* dst, const unsigned char* src,
                                const unsigned char* background, const uint16_t* window)
{
  if (background != nullptr)
    ComposeRows8<true, false>(dst, src, background, window, width / kBlock);
  else
    ComposeRows8<false, false>(dst, src, nullptr, window, width / kBlock);
}

PICTOR_TARGET_SSE2 void Advance(unsigned int width, unsigned char* dst, const unsigned char* src,
                                const unsigned char* background, uint16_t* window, const unsigned char* in,
                                const unsigned char* out)
{
  if (background != nullptr)
    ComposeRows8<true, true>(dst, src, background, window, width / kBlock, window + 3, in, out);
  else
    ComposeRows8<false, true>(dst, src, nullptr, window, width / kBlock, window + 3, in, out);
}

}  // namespace

namespace softcompose {

void ColumnRow_SSE2(uint16_t* sums, const unsigned char* in, const unsigned char* out, unsigned int width)
{
  ColumnRowAny<kBlock, Columns>(sums, in, out, width);
}

void ComposeRow_SSE2(unsigned char* dst, const unsigned char* src, const unsigned char* background,
                     const uint16_t* window, unsigned int width)
{
  ComposeRowAny<kBlock, Compose>(dst, src, background, window, width);
}

void ComposeAdvanceRow_SSE2(unsigned char* dst, const unsigned char* src, const unsigned char* background,
                            uint16_t* window, const unsigned char* in, const unsigned char* out, unsigned int width)
{
  ComposeAdvanceRowAny<kBlock, Advance, Compose, Columns>(dst, src, background, window, in, out, width);
}

}  // namespace softcompose

#endif
