// AVX2 row kernels of the key refinement: alpha bytes gathered and eroded 32 at a time,
// spill computed 8 pixels at a time mostly on bytes; the pixels after the last whole block
// go through the same blocks (kernels/RowAny.h).
#include "kernels/KeyRefineInternal.h"

#if PICTOR_X86

#  include <immintrin.h>

namespace keyrefine {
namespace {

constexpr unsigned int kBlock = 32;

PICTOR_TARGET_AVX2 void GatherAlpha(unsigned int width, uint8_t* alpha, const unsigned char* row)
{
  // The packs work within 128-bit halves: their bytes come out as 4-pixel groups of the
  // four loads in turn, which this permutation puts back in picture order.
  const __m256i groupOrder = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  for (unsigned int x = 0; x < width; x += kBlock) {
    const unsigned char* p = row + x * 4;
    const __m256i a0 = _mm256_srli_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), 24);
    const __m256i a1 = _mm256_srli_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32)), 24);
    const __m256i a2 = _mm256_srli_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 64)), 24);
    const __m256i a3 = _mm256_srli_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 96)), 24);
    const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(a0, a1), _mm256_packs_epi32(a2, a3));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(alpha + x), _mm256_permutevar8x32_epi32(bytes, groupOrder));
  }
}

PICTOR_TARGET_AVX2 void MinOverSpan(unsigned int width, uint8_t* eroded, const uint8_t* pad, unsigned int span)
{
  for (unsigned int x = 0; x < width; x += kBlock) {
    __m256i m = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pad + x));
    for (unsigned int k = 1; k < span; ++k)
      m = _mm256_min_epu8(m, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pad + x + k)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(eroded + x), m);
  }
}

// The spill on bytes: shuffles put the two other channels under the key channel's byte,
// their rounded mean is _mm256_avg_epu8's (o1 + o2 + 1) >> 1 and the excess a saturating
// subtraction; only the multiplication by the strength needs wider lanes. At full strength
// ((excess x 256 + 128) >> 8 = excess) the key byte simply becomes min(key, limit).
struct TVecSpill {
  __m256i other1, other2;  // shuffles: the other channels to the key's byte, the rest zero
  __m256i keyToLow;        // shuffle: the key's byte to bits 0-7, the rest zero
  __m128i keyShift;
  __m256i strength, half;
  __m256i colour;  // the colour bytes of a pixel (alpha cleared)
  __m256i notKey;  // 0xFF in every byte but the key's
  bool full;       // strength 256
};

PICTOR_TARGET_AVX2 TVecSpill PrepareVecSpill(const TSpill& spill)
{
  const int key = spill.keyShift / 8, o1 = spill.otherShift1 / 8, o2 = spill.otherShift2 / 8;
  alignas(32) int8_t other1[32], other2[32], keyToLow[32], notKey[32];
  for (int i = 0; i < 32; ++i) {
    const int pixel = i & ~3, byte = i & 3;
    other1[i] = byte == key ? int8_t((pixel & 15) + o1) : int8_t(-128);
    other2[i] = byte == key ? int8_t((pixel & 15) + o2) : int8_t(-128);
    keyToLow[i] = byte == 0 ? int8_t((pixel & 15) + key) : int8_t(-128);
    notKey[i] = byte == key ? int8_t(0) : int8_t(-1);
  }
  TVecSpill s;
  s.other1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(other1));
  s.other2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(other2));
  s.keyToLow = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(keyToLow));
  s.keyShift = _mm_cvtsi32_si128(spill.keyShift);
  s.strength = _mm256_set1_epi32(int(spill.strength256));
  s.half = _mm256_set1_epi32(128);
  s.colour = _mm256_set1_epi32(0x00FFFFFF);
  s.notKey = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(notKey));
  s.full = spill.strength256 == 256;
  return s;
}

PICTOR_TARGET_AVX2 PICTOR_FORCE_INLINE __m256i Spill8(__m256i v, const TVecSpill& s)
{
  const __m256i limit = _mm256_avg_epu8(_mm256_shuffle_epi8(v, s.other1), _mm256_shuffle_epi8(v, s.other2));
  const __m256i keyed = _mm256_cmpeq_epi32(_mm256_srli_epi32(v, 24), _mm256_setzero_si256());
  if (s.full) return _mm256_blendv_epi8(_mm256_min_epu8(v, _mm256_or_si256(limit, s.notKey)), v, keyed);
  __m256i excess = _mm256_shuffle_epi8(_mm256_subs_epu8(v, limit), s.keyToLow);
  excess = _mm256_andnot_si256(keyed, excess);
  // excess <= 255 and strength <= 256 in the low halves, 0 in the high ones: the 16-bit
  // product is the whole product.
  const __m256i reduce = _mm256_srli_epi32(_mm256_add_epi32(_mm256_mullo_epi16(excess, s.strength), s.half), 8);
  return _mm256_sub_epi32(v, _mm256_sll_epi32(reduce, s.keyShift));
}

// Eight pixels: the alpha (in bits 24-31 of each lane) put in when the choke is on, then
// the spill. The branches depend only on the row's set-up.
PICTOR_TARGET_AVX2 PICTOR_FORCE_INLINE void Finish8(unsigned char* at, __m256i alpha, bool choked, bool suppress,
                                                    const TVecSpill& s)
{
  __m256i* p = reinterpret_cast<__m256i*>(at);
  __m256i v = _mm256_loadu_si256(p);
  if (choked) v = _mm256_or_si256(_mm256_and_si256(v, s.colour), alpha);
  if (suppress) v = Spill8(v, s);
  _mm256_storeu_si256(p, v);
}

PICTOR_TARGET_AVX2 void Finish(unsigned int width, unsigned char* row, const uint8_t* const* eroded, unsigned int count,
                               const TSpill& spill)
{
  const TVecSpill s = PrepareVecSpill(spill);
  const bool choked = count != 0, suppress = spill.on;
  for (unsigned int x = 0; x < width; x += kBlock) {
    unsigned char* p = row + x * 4;
    if (count == 0) {
      const __m256i none = _mm256_setzero_si256();
      for (int j = 0; j < 4; ++j) Finish8(p + 32 * j, none, false, suppress, s);
      continue;
    }
    __m256i m = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(eroded[0] + x));
    for (unsigned int i = 1; i < count; ++i)
      m = _mm256_min_epu8(m, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(eroded[i] + x)));
    if (_mm256_testz_si256(m, m)) {
      // All 32 keyed away (most of a screen): alpha 0, and spill leaves such pixels alone.
      for (int j = 0; j < 4; ++j) Finish8(p + 32 * j, _mm256_setzero_si256(), true, false, s);
      continue;
    }
    // Eight alpha bytes at a time widened to 32-bit lanes and moved to bits 24-31.
    const __m128i lo = _mm256_castsi256_si128(m), hi = _mm256_extracti128_si256(m, 1);
    Finish8(p, _mm256_slli_epi32(_mm256_cvtepu8_epi32(lo), 24), choked, suppress, s);
    Finish8(p + 32, _mm256_slli_epi32(_mm256_cvtepu8_epi32(_mm_srli_si128(lo, 8)), 24), choked, suppress, s);
    Finish8(p + 64, _mm256_slli_epi32(_mm256_cvtepu8_epi32(hi), 24), choked, suppress, s);
    Finish8(p + 96, _mm256_slli_epi32(_mm256_cvtepu8_epi32(_mm_srli_si128(hi, 8)), 24), choked, suppress, s);
  }
}

}  // namespace

void ErodeRow_AVX2(uint8_t* eroded, const unsigned char* row, unsigned int width, unsigned int radius, uint8_t* pad)
{
  ErodeRowAny<kBlock, GatherAlpha, MinOverSpan>(eroded, row, width, radius, pad);
}

void FinishRow_AVX2(unsigned char* row, const uint8_t* const* eroded, unsigned int count, unsigned int width,
                    const TSpill& spill)
{
  FinishRowAny<kBlock, Finish>(row, eroded, count, width, spill);
}

}  // namespace keyrefine

#endif
