// AVX2 row kernels of the person matte: the SSE2 kernels' steps on 8 pixels at a time.
#include "kernels/PersonMatte.h"
#include "kernels/PersonMatteInternal.h"

#if PICTOR_X86

#  include <immintrin.h>

namespace personmatte {

PICTOR_TARGET_AVX2 void AccumulateRow_AVX2(float* sums, const uint8_t* bytes, unsigned int width, float weight)
{
  const __m256 w = _mm256_set1_ps(weight);
  const unsigned int n = 4 * width;
  unsigned int i = 0;
  for (; i + 32 <= n; i += 32) {
    for (unsigned int k = 0; k < 32; k += 8) {
      const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes + i + k));
      const __m256 v = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(b));
      _mm256_storeu_ps(sums + i + k, _mm256_add_ps(_mm256_loadu_ps(sums + i + k), _mm256_mul_ps(w, v)));
    }
  }
  if (i < n) AccumulateRow_C(sums + i, bytes + i, (n - i) / 4, weight);
}

PICTOR_TARGET_AVX2 void MatteRow_AVX2(uint8_t* pixels, uint8_t* kept, const float* a0, const float* a1, const float* b0,
                                      const float* b1, unsigned int width, const TMatteRowParams& p)
{
  const __m256i byteMask = _mm256_set1_epi32(0xFF), lanes = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
  const __m256 kr = _mm256_set1_ps(kLumaR), kg = _mm256_set1_ps(kLumaG), kb = _mm256_set1_ps(kLumaB);
  const __m256 fy = _mm256_set1_ps(p.fy), keptAt = _mm256_set1_ps(p.keptAt), otherAt = _mm256_set1_ps(p.otherAt);
  const __m256 gain = _mm256_set1_ps(kMatteGain), half = _mm256_set1_ps(0.5f), zero = _mm256_setzero_ps();
  const __m256 one = _mm256_set1_ps(1.0f), opacity = _mm256_set1_ps(p.opacity);
  unsigned int x = 0;
  for (; x + 8 <= width; x += 8) {
    __m256i* at = reinterpret_cast<__m256i*>(pixels + 4 * x);
    const __m256i px = _mm256_loadu_si256(at);
    const __m256 blue = _mm256_cvtepi32_ps(_mm256_and_si256(px, byteMask));
    const __m256 green = _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(px, 8), byteMask));
    const __m256 red = _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(px, 16), byteMask));
    const __m256 A0 = _mm256_loadu_ps(a0 + x), B0 = _mm256_loadu_ps(b0 + x);
    const __m256 a = _mm256_add_ps(A0, _mm256_mul_ps(fy, _mm256_sub_ps(_mm256_loadu_ps(a1 + x), A0)));
    const __m256 b = _mm256_add_ps(B0, _mm256_mul_ps(fy, _mm256_sub_ps(_mm256_loadu_ps(b1 + x), B0)));
    const __m256 y =
        _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(red, kr), _mm256_mul_ps(green, kg)), _mm256_mul_ps(blue, kb));
    // The kept mask's byte of these eight pixels, one bit to a lane.
    const __m256i bits = _mm256_and_si256(_mm256_set1_epi32(kept[x >> 3]), lanes);
    const __m256 wasKept = _mm256_castsi256_ps(_mm256_cmpeq_epi32(bits, lanes));
    const __m256 t = _mm256_blendv_ps(otherAt, keptAt, wasKept);
    __m256 v = _mm256_add_ps(_mm256_mul_ps(_mm256_sub_ps(_mm256_add_ps(_mm256_mul_ps(a, y), b), t), gain), half);
    v = _mm256_min_ps(_mm256_max_ps(v, zero), one);
    const __m256i alpha = _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(v, opacity), half));
    _mm256_storeu_si256(
        at, _mm256_or_si256(_mm256_and_si256(px, _mm256_set1_epi32(0x00FFFFFF)), _mm256_slli_epi32(alpha, 24)));
    kept[x >> 3] = static_cast<uint8_t>(_mm256_movemask_ps(_mm256_cmp_ps(v, half, _CMP_GE_OQ)));
  }
  for (; x < width; ++x) MattePixel(pixels, kept, a0, a1, b0, b1, x, p);
}

}  // namespace personmatte

#endif
