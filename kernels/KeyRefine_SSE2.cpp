// SSE2 row kernels of the key refinement (the x86-64 baseline): alpha bytes gathered and
// eroded 16 at a time, spill computed in 32-bit lanes 4 pixels at a time; the pixels after
// the last whole block go through the same blocks (kernels/RowAny.h).
#include "kernels/KeyRefineInternal.h"

#if PICTOR_X86

#  include <emmintrin.h>

namespace keyrefine {
namespace {

constexpr unsigned int kBlock = 16;

PICTOR_TARGET_SSE2 void GatherAlpha(unsigned int width, uint8_t* alpha, const unsigned char* row)
{
  for (unsigned int x = 0; x < width; x += kBlock) {
    const unsigned char* p = row + x * 4;
    const __m128i a0 = _mm_srli_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), 24);
    const __m128i a1 = _mm_srli_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), 24);
    const __m128i a2 = _mm_srli_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)), 24);
    const __m128i a3 = _mm_srli_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)), 24);
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(a0, a1), _mm_packs_epi32(a2, a3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(alpha + x), bytes);
  }
}

PICTOR_TARGET_SSE2 void MinOverSpan(unsigned int width, uint8_t* eroded, const uint8_t* pad, unsigned int span)
{
  for (unsigned int x = 0; x < width; x += kBlock) {
    __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pad + x));
    for (unsigned int k = 1; k < span; ++k)
      m = _mm_min_epu8(m, _mm_loadu_si128(reinterpret_cast<const __m128i*>(pad + x + k)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(eroded + x), m);
  }
}

struct TVecSpill {
  __m128i keyShift, otherShift1, otherShift2, strength, byteMask, half;
};

PICTOR_TARGET_SSE2 PICTOR_FORCE_INLINE __m128i Spill4(__m128i v, const TVecSpill& s)
{
  const __m128i zero = _mm_setzero_si128();
  const __m128i k = _mm_and_si128(_mm_srl_epi32(v, s.keyShift), s.byteMask);
  const __m128i o1 = _mm_and_si128(_mm_srl_epi32(v, s.otherShift1), s.byteMask);
  const __m128i o2 = _mm_and_si128(_mm_srl_epi32(v, s.otherShift2), s.byteMask);
  const __m128i limit = _mm_srli_epi32(_mm_add_epi32(_mm_add_epi32(o1, o2), _mm_set1_epi32(1)), 1);
  __m128i excess = _mm_sub_epi32(k, limit);
  const __m128i kept = _mm_cmpgt_epi32(_mm_srli_epi32(v, 24), zero);
  excess = _mm_and_si128(excess, _mm_and_si128(kept, _mm_cmpgt_epi32(excess, zero)));
  // excess <= 255 and strength <= 256 in the low halves, 0 in the high ones: the 16-bit
  // product is the whole product.
  const __m128i reduce = _mm_srli_epi32(_mm_add_epi32(_mm_mullo_epi16(excess, s.strength), s.half), 8);
  return _mm_sub_epi32(v, _mm_sll_epi32(reduce, s.keyShift));
}

PICTOR_TARGET_SSE2 void Finish(unsigned int width, unsigned char* row, const uint8_t* const* eroded, unsigned int count,
                               const TSpill& spill)
{
  TVecSpill s;
  s.keyShift = _mm_cvtsi32_si128(spill.keyShift);
  s.otherShift1 = _mm_cvtsi32_si128(spill.otherShift1);
  s.otherShift2 = _mm_cvtsi32_si128(spill.otherShift2);
  s.strength = _mm_set1_epi32(int(spill.strength256));
  s.byteMask = _mm_set1_epi32(0xFF);
  s.half = _mm_set1_epi32(128);
  const __m128i colour = _mm_set1_epi32(0x00FFFFFF);
  const __m128i zero = _mm_setzero_si128();
  for (unsigned int x = 0; x < width; x += kBlock) {
    __m128i alpha[4] = {};
    bool suppress = spill.on;
    if (count != 0) {
      __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(eroded[0] + x));
      for (unsigned int i = 1; i < count; ++i)
        m = _mm_min_epu8(m, _mm_loadu_si128(reinterpret_cast<const __m128i*>(eroded[i] + x)));
      // All 16 keyed away (most of a screen): alpha 0, and spill leaves such pixels alone.
      if (_mm_movemask_epi8(_mm_cmpeq_epi8(m, zero)) == 0xFFFF) suppress = false;
      const __m128i lo = _mm_unpacklo_epi8(zero, m), hi = _mm_unpackhi_epi8(zero, m);  // alpha in bits 8-15
      alpha[0] = _mm_unpacklo_epi16(zero, lo);                                         // then in bits 24-31
      alpha[1] = _mm_unpackhi_epi16(zero, lo);
      alpha[2] = _mm_unpacklo_epi16(zero, hi);
      alpha[3] = _mm_unpackhi_epi16(zero, hi);
    }
    for (int j = 0; j < 4; ++j) {
      __m128i* p = reinterpret_cast<__m128i*>(row + (x + 4 * j) * 4);
      __m128i v = _mm_loadu_si128(p);
      if (count != 0) v = _mm_or_si128(_mm_and_si128(v, colour), alpha[j]);
      if (suppress) v = Spill4(v, s);
      _mm_storeu_si128(p, v);
    }
  }
}

}  // namespace

void ErodeRow_SSE2(uint8_t* eroded, const unsigned char* row, unsigned int width, unsigned int radius, uint8_t* pad)
{
  ErodeRowAny<kBlock, GatherAlpha, MinOverSpan>(eroded, row, width, radius, pad);
}

void FinishRow_SSE2(unsigned char* row, const uint8_t* const* eroded, unsigned int count, unsigned int width,
                    const TSpill& spill)
{
  FinishRowAny<kBlock, Finish>(row, eroded, count, width, spill);
}

}  // namespace keyrefine

#endif
