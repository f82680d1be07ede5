// AVX2 row kernels of the software compositor: the SSE2 kernels' steps on 16 pixels at a
// time. The 16-bit packs work within 128-bit halves, so the alphas of 16 pixels come out
// in the order 0-3, 8-11, 4-7, 12-15; the window sums are put in that order once per step,
// and the unpacks back to pixels undo it.
#include "preview/SoftComposeInternal.h"

#if PICTOR_X86

#  include <immintrin.h>

#  include <cstddef>

namespace {

// Exchanges the middle 64-bit quarters: pixel order to the packs' order and back.
constexpr int kPacksOrder = 0xD8;

// The alpha bytes of 16 pixels as 16-bit lanes, in the order of the packs.
PICTOR_TARGET_AVX2 PICTOR_FORCE_INLINE __m256i Alphas(const unsigned char* pixels)
{
  const __m256i lo = _mm256_srli_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels)), 24);
  const __m256i hi = _mm256_srli_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels + 32)), 24);
  return _mm256_packs_epi32(lo, hi);
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

template <bool kBackground>
PICTOR_TARGET_AVX2 void ComposeRows16(unsigned char* dst, const unsigned char* src, const unsigned char* background,
                                      const uint16_t* window, unsigned int blocks)
{
  const __m256i zero = _mm256_setzero_si256();
  for (unsigned int i = 0; i < blocks; ++i, src += 64, dst += 64, window += 16) {
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
    // Each pixel's weight in its four lanes.
    const __m256i wLo = _mm256_unpacklo_epi16(w, w), wHi = _mm256_unpackhi_epi16(w, w);
    __m256i out0 = _mm256_packus_epi16(Mix(_mm256_unpacklo_epi8(p0, zero), _mm256_unpacklo_epi8(b0, zero),
                                           _mm256_unpacklo_epi32(wLo, wLo), kBackground),
                                       Mix(_mm256_unpackhi_epi8(p0, zero), _mm256_unpackhi_epi8(b0, zero),
                                           _mm256_unpackhi_epi32(wLo, wLo), kBackground));
    __m256i out1 = _mm256_packus_epi16(Mix(_mm256_unpacklo_epi8(p1, zero), _mm256_unpacklo_epi8(b1, zero),
                                           _mm256_unpacklo_epi32(wHi, wHi), kBackground),
                                       Mix(_mm256_unpackhi_epi8(p1, zero), _mm256_unpackhi_epi8(b1, zero),
                                           _mm256_unpackhi_epi32(wHi, wHi), kBackground));

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
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), out0);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 32), out1);
  }
}

}  // namespace

namespace softcompose {

PICTOR_TARGET_AVX2 void ColumnRow_AVX2(uint16_t* sums, const unsigned char* in, const unsigned char* out,
                                       unsigned int width)
{
  const unsigned int vectorWidth = width & ~15u;
  for (unsigned int x = 0; x < vectorWidth; x += 16) {
    __m256i* s = reinterpret_cast<__m256i*>(sums + x);
    const __m256i change = _mm256_permute4x64_epi64(
        _mm256_sub_epi16(Alphas(in + std::size_t(x) * 4), Alphas(out + std::size_t(x) * 4)), kPacksOrder);
    _mm256_storeu_si256(s, _mm256_add_epi16(_mm256_loadu_si256(s), change));
  }
  ColumnRow_C(sums + vectorWidth, in + std::size_t(vectorWidth) * 4, out + std::size_t(vectorWidth) * 4,
              width - vectorWidth);
}

PICTOR_TARGET_AVX2 void ComposeRow_AVX2(unsigned char* dst, const unsigned char* src, const unsigned char* background,
                                        const uint16_t* window, unsigned int width)
{
  const unsigned int vectorWidth = width & ~15u;
  if (background != nullptr)
    ComposeRows16<true>(dst, src, background, window, vectorWidth / 16);
  else
    ComposeRows16<false>(dst, src, nullptr, window, vectorWidth / 16);
  const std::size_t done = std::size_t(vectorWidth) * 4;
  ComposeRow_C(dst + done, src + done, background ? background + done : nullptr, window + vectorWidth,
               width - vectorWidth);
}

}  // namespace softcompose

#endif
