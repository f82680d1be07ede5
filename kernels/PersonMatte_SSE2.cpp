// SSE2 row kernels of the person matte: the reference's steps on 4 pixels (16 floats or
// 4 alphas) at a time, the rest of a row through the reference.
#include "kernels/PersonMatte.h"
#include "kernels/PersonMatteInternal.h"

#if PICTOR_X86

#  include <emmintrin.h>

namespace personmatte {

PICTOR_TARGET_SSE2 void AccumulateRow_SSE2(float* sums, const uint8_t* bytes, unsigned int width, float weight)
{
  const __m128 w = _mm_set1_ps(weight);
  const __m128i zero = _mm_setzero_si128();
  unsigned int x = 0;
  for (; x + 4 <= width; x += 4) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 4 * x));
    const __m128i lo = _mm_unpacklo_epi8(b, zero), hi = _mm_unpackhi_epi8(b, zero);
    const __m128i q[4] = {_mm_unpacklo_epi16(lo, zero), _mm_unpackhi_epi16(lo, zero), _mm_unpacklo_epi16(hi, zero),
                          _mm_unpackhi_epi16(hi, zero)};
    for (int k = 0; k < 4; ++k) {
      float* s = sums + 4 * x + 4 * k;
      _mm_storeu_ps(s, _mm_add_ps(_mm_loadu_ps(s), _mm_mul_ps(w, _mm_cvtepi32_ps(q[k]))));
    }
  }
  if (x < width) AccumulateRow_C(sums + 4 * x, bytes + 4 * x, width - x, weight);
}

PICTOR_TARGET_SSE2 void MatteRow_SSE2(uint8_t* pixels, uint8_t* kept, const float* a0, const float* a1, const float* b0,
                                      const float* b1, unsigned int width, const TMatteRowParams& p)
{
  const __m128i byteMask = _mm_set1_epi32(0xFF), lanes = _mm_setr_epi32(1, 2, 4, 8);
  const __m128 kr = _mm_set1_ps(kLumaR), kg = _mm_set1_ps(kLumaG), kb = _mm_set1_ps(kLumaB);
  const __m128 fy = _mm_set1_ps(p.fy), keptAt = _mm_set1_ps(p.keptAt), otherAt = _mm_set1_ps(p.otherAt);
  const __m128 gain = _mm_set1_ps(kMatteGain), half = _mm_set1_ps(0.5f), zero = _mm_setzero_ps();
  const __m128 one = _mm_set1_ps(1.0f), opacity = _mm_set1_ps(p.opacity);
  unsigned int x = 0;
  for (; x + 4 <= width; x += 4) {
    __m128i* at = reinterpret_cast<__m128i*>(pixels + 4 * x);
    const __m128i px = _mm_loadu_si128(at);
    const __m128 blue = _mm_cvtepi32_ps(_mm_and_si128(px, byteMask));
    const __m128 green = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(px, 8), byteMask));
    const __m128 red = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(px, 16), byteMask));
    const __m128 A0 = _mm_loadu_ps(a0 + x), B0 = _mm_loadu_ps(b0 + x);
    const __m128 a = _mm_add_ps(A0, _mm_mul_ps(fy, _mm_sub_ps(_mm_loadu_ps(a1 + x), A0)));
    const __m128 b = _mm_add_ps(B0, _mm_mul_ps(fy, _mm_sub_ps(_mm_loadu_ps(b1 + x), B0)));
    const __m128 y = _mm_add_ps(_mm_add_ps(_mm_mul_ps(red, kr), _mm_mul_ps(green, kg)), _mm_mul_ps(blue, kb));
    // Four bits of the kept mask (x is a multiple of 4), one to a lane.
    const int shift = static_cast<int>(x & 7);
    const __m128i bits = _mm_and_si128(_mm_set1_epi32(kept[x >> 3] >> shift), lanes);
    const __m128 wasKept = _mm_castsi128_ps(_mm_cmpeq_epi32(bits, lanes));
    const __m128 t = _mm_or_ps(_mm_and_ps(wasKept, keptAt), _mm_andnot_ps(wasKept, otherAt));
    __m128 v = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(_mm_add_ps(_mm_mul_ps(a, y), b), t), gain), half);
    v = _mm_min_ps(_mm_max_ps(v, zero), one);
    const __m128i alpha = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(v, opacity), half));
    _mm_storeu_si128(at, _mm_or_si128(_mm_and_si128(px, _mm_set1_epi32(0x00FFFFFF)), _mm_slli_epi32(alpha, 24)));
    const int now = _mm_movemask_ps(_mm_cmpge_ps(v, half));
    kept[x >> 3] = static_cast<uint8_t>((kept[x >> 3] & ~(0xF << shift)) | (now << shift));
  }
  for (; x < width; ++x) MattePixel(pixels, kept, a0, a1, b0, b1, x, p);
}

}  // namespace personmatte

#endif
