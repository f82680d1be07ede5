// AVX2 row kernels of the software compositor: the SSE2 kernels' steps on 16 pixels at a
// time. The 16-bit packs work within 128-bit halves, so the alphas of 16 pixels come out
// in the order 0-3, 8-11, 4-7, 12-15; the window sums are put in that order once per step,
// and the unpacks back to pixels undo it.
#include "kernels/SoftComposeInternal.h"

#if PICTOR_X86

#  include <immintrin.h>

#  include <cstddef>

namespace {

constexpr unsigned int kBlock = 16;

// Exchanges the middle 64-bit quarters: pixel order to the packs' order and back.
constexpr int kPacksOrder = 0xD8;

// The alpha bytes of 16 pixels as 16-bit lanes, in the order of the packs.
PICTOR_TARGET_AVX2 PICTOR_FORCE_INLINE __m256i Alphas(const unsigned char* pixels)
{
  const __m256i lo = _mm256_srli_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels)), 24);
  const __m256i hi = _mm256_srli_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels + 32)), 24);
  return _mm256_packs_epi32(lo, hi);
}

// A byte shuffle that gives 16-bit lanes k and k + 1 of each 128-bit half four times each:
// the weights of the two pixels a byte-to-word unpack puts in that half.
PICTOR_TARGET_AVX2 PICTOR_FORCE_INLINE __m256i Spread(int k)
{
  const char a = char(2 * k), b = char(2 * k + 1), c = char(2 * k + 2), d = char(2 * k + 3);
  return _mm256_setr_epi8(a, b, a, b, a, b, a, b, c, d, c, d, c, d, c, d, a, b, a, b, a, b, a, b, c, d, c, d, c, d, c,
                          d);
}

// (a x b + 2^15) >> 16 for 16-bit lanes whose product fits 32 bits.
PICTOR_TARGET_AVX2 PICTOR_FORCE_INLINE __m256i MulRound16(__m256i a, __m256i b)
{
  return _mm256_add_epi16(_mm256_mulhi_epu16(a, b), _mm256_srli_epi16(_mm256_mullo_epi16(a, b), 15));
}

// (w x c + 128) >> 8, or with a background (w x c + (256 - w) x b + 128) >> 8, for two
// pixels per 128-bit half in 16-bit lanes. The second is b + ((w x (c - b) + 128) >> 8),
// and (x x 128 x w + 2^14) >> 15 is what the rounding high multiply gives for x x 128.
PICTOR_TARGET_AVX2 PICTOR_FORCE_INLINE __m256i Mix(__m256i c, __m256i b, __m256i w, bool withBackground)
{
  if (!withBackground) return _mm256_mulhrs_epi16(_mm256_slli_epi16(c, 7), w);
  return _mm256_add_epi16(b, _mm256_mulhrs_epi16(_mm256_slli_epi16(_mm256_sub_epi16(c, b), 7), w));
}

// Adds the alphas of 16 pixels of `in` to 16 column sums and takes those of `out` away.
PICTOR_TARGET_AVX2 PICTOR_FORCE_INLINE void AdvanceColumns16(uint16_t* sums, const unsigned char* in,
                                                             const unsigned char* out)
{
  __m256i* s = reinterpret_cast<__m256i*>(sums);
  const __m256i change = _mm256_permute4x64_epi64(_mm256_sub_epi16(Alphas(in), Alphas(out)), kPacksOrder);
  _mm256_storeu_si256(s, _mm256_add_epi16(_mm256_loadu_si256(s), change));
}

// 16 pixels (p0, p1) over 16 of the background (b0, b1), or over black, with their weights
// w in the packs' order. By reference: 32-bit MSVC passes no more than three vectors by
// value.
template <bool kBackground>
PICTOR_TARGET_AVX2 PICTOR_FORCE_INLINE void MixBlock(const __m256i& p0, const __m256i& p1, const __m256i& b0,
                                                     const __m256i& b1, const __m256i& w, __m256i* result0,
                                                     __m256i* result1)
{
  const __m256i zero = _mm256_setzero_si256();
  // Each pixel's weight in its four lanes.
  __m256i out0 = _mm256_packus_epi16(Mix(_mm256_unpacklo_epi8(p0, zero), _mm256_unpacklo_epi8(b0, zero),
                                         _mm256_shuffle_epi8(w, Spread(0)), kBackground),
                                     Mix(_mm256_unpackhi_epi8(p0, zero), _mm256_unpackhi_epi8(b0, zero),
                                         _mm256_shuffle_epi8(w, Spread(2)), kBackground));
  __m256i out1 = _mm256_packus_epi16(Mix(_mm256_unpacklo_epi8(p1, zero), _mm256_unpacklo_epi8(b1, zero),
                                         _mm256_shuffle_epi8(w, Spread(4)), kBackground),
                                     Mix(_mm256_unpackhi_epi8(p1, zero), _mm256_unpackhi_epi8(b1, zero),
                                         _mm256_shuffle_epi8(w, Spread(6)), kBackground));

  __m256i alpha0, alpha1;
  if (kBackground) {
    alpha0 = alpha1 = _mm256_set1_epi32(int(0xFF000000u));
  } else {
    const __m256i t = _mm256_mullo_epi16(w, _mm256_sub_epi16(_mm256_set1_epi16(256), w));
    const __m256i a = _mm256_sub_epi16(_mm256_set1_epi16(255), MulRound16(t, _mm256_set1_epi16(255)));
    alpha0 = _mm256_slli_epi32(_mm256_unpacklo_epi16(a, zero), 24);
    alpha1 = _mm256_slli_epi32(_mm256_unpackhi_epi16(a, zero), 24);
  }
  const __m256i colour = _mm256_set1_epi32(0x00FFFFFF);
  out0 = _mm256_or_si256(_mm256_and_si256(out0, colour), alpha0);
  out1 = _mm256_or_si256(_mm256_and_si256(out1, colour), alpha1);
  *result0 = out0;
  *result1 = out1;
}

// Composes `blocks` blocks of 16 pixels. With kAdvance the column sums of each block are
// advanced (rows `in` and `out`) once the next block is composed, whose window reaches
// three columns into it; the last block's sums are left to the caller.
template <bool kBackground, bool kAdvance>
PICTOR_TARGET_AVX2 void ComposeRows16(unsigned char* dst, const unsigned char* src, const unsigned char* background,
                                      const uint16_t* window, unsigned int blocks, uint16_t* sums = nullptr,
                                      const unsigned char* in = nullptr, const unsigned char* out = nullptr)
{
  const __m256i zero = _mm256_setzero_si256();
  for (unsigned int i = 0; i < blocks; ++i, src += 64, dst += 64, window += 16) {
    if (kBackground) _mm_prefetch(reinterpret_cast<const char*>(background + softcompose::kPrefetchAhead), _MM_HINT_T0);
    __m256i sum = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window));
    for (int k = 1; k < 7; ++k)
      sum = _mm256_add_epi16(sum, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window + k)));
    sum = _mm256_permute4x64_epi64(sum, kPacksOrder);
    const __m256i m = _mm256_min_epi16(_mm256_mullo_epi16(Alphas(src), _mm256_set1_epi16(49)), sum);
    const __m256i w = MulRound16(m, _mm256_set1_epi16(short(softcompose::kKeyToWeight)));

    const __m256i p0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
    const __m256i p1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 32));
    __m256i b0 = zero, b1 = zero;
    if (kBackground) {
      b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(background));
      b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(background + 32));
      background += 64;
    }
    // Most blocks of a keyed frame are wholly background (weight 0) or wholly camera
    // (weight 256): their mix is a copy with an opaque alpha, in either composition. A
    // weight of 256 needs an own alpha of 255, so camera pixels are copied as they are.
    __m256i out0, out1;
    if (_mm256_testz_si256(w, w)) {
      const __m256i opaque = _mm256_set1_epi32(int(0xFF000000u));
      out0 = kBackground ? _mm256_or_si256(b0, opaque) : opaque;
      out1 = kBackground ? _mm256_or_si256(b1, opaque) : opaque;
    } else if (_mm256_movemask_epi8(_mm256_cmpeq_epi16(w, _mm256_set1_epi16(256))) == -1) {
      out0 = p0;
      out1 = p1;
    } else {
      MixBlock<kBackground>(p0, p1, b0, b1, w, &out0, &out1);
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), out0);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 32), out1);
    if (kAdvance && i > 0) {
      const std::size_t done = std::size_t(i - 1) * 64;
      _mm_prefetch(reinterpret_cast<const char*>(in + done + softcompose::kPrefetchAhead), _MM_HINT_T0);
      AdvanceColumns16(sums + std::size_t(i - 1) * 16, in + done, out + done);
    }
  }
}

PICTOR_TARGET_AVX2 void Columns(unsigned int width, uint16_t* sums, const unsigned char* in, const unsigned char* out)
{
  for (unsigned int x = 0; x < width; x += kBlock)
    AdvanceColumns16(sums + x, in + std::size_t(x) * 4, out + std::size_t(x) * 4);
}

PICTOR_TARGET_AVX2 void Compose(unsigned int width, unsigned char* dst, const unsigned char* src,
                                const unsigned char* background, const uint16_t* window)
{
  if (background != nullptr)
    ComposeRows16<true, false>(dst, src, background, window, width / kBlock);
  else
    ComposeRows16<false, false>(dst, src, nullptr, window, width / kBlock);
}

PICTOR_TARGET_AVX2 void Advance(unsigned int width, unsigned char* dst, const unsigned char* src,
                                const unsigned char* background, uint16_t* window, const unsigned char* in,
                                const unsigned char* out)
{
  if (background != nullptr)
    ComposeRows16<true, true>(dst, src, background, window, width / kBlock, window + 3, in, out);
  else
    ComposeRows16<false, true>(dst, src, nullptr, window, width / kBlock, window + 3, in, out);
}

}  // namespace

namespace softcompose {

void ColumnRow_AVX2(uint16_t* sums, const unsigned char* in, const unsigned char* out, unsigned int width)
{
  ColumnRowAny<kBlock, Columns>(sums, in, out, width);
}

void ComposeRow_AVX2(unsigned char* dst, const unsigned char* src, const unsigned char* background,
                     const uint16_t* window, unsigned int width)
{
  ComposeRowAny<kBlock, Compose>(dst, src, background, window, width);
}

void ComposeAdvanceRow_AVX2(unsigned char* dst, const unsigned char* src, const unsigned char* background,
                            uint16_t* window, const unsigned char* in, const unsigned char* out, unsigned int width)
{
  ComposeAdvanceRowAny<kBlock, Advance, Compose, Columns>(dst, src, background, window, in, out, width);
}

}  // namespace softcompose

#endif
