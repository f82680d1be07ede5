// AVX-512BW row kernel of the colour key. Green and blue keys decide 32 pixels per step in
// 16-bit fixed point (the sure tests of TKeySetup), with the comparisons chained through
// mask registers; a custom colour decides 16 per step in floats. A block holding a pixel
// not surely decided goes through the exact computation, the reference's single-precision
// operations in the reference's order, so the output is the reference's byte for byte.
// Only alpha bytes are written. The pixels after the last whole block go through the same
// blocks (kernels/RowAny.h).
#include "kernels/ColorKeyInternal.h"

#if PICTOR_X86

#  include <immintrin.h>

#  include <cstddef>
#  include <cstdint>

namespace {

using colorkey::TKeyMode;

// The alpha byte of each of 16 pixels.
constexpr unsigned long long kAlphaBytes = 0x8888888888888888ull;

// Word indexes that gather the blue-green word (even) or the red-alpha word (odd) of 32
// pixels held in two registers, in pixel order.
alignas(64) const uint16_t kEvenWords[32] = {0,  2,  4,  6,  8,  10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30,
                                             32, 34, 36, 38, 40, 42, 44, 46, 48, 50, 52, 54, 56, 58, 60, 62};
alignas(64) const uint16_t kOddWords[32] = {1,  3,  5,  7,  9,  11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31,
                                            33, 35, 37, 39, 41, 43, 45, 47, 49, 51, 53, 55, 57, 59, 61, 63};

struct TVecSetup {
  __m512 hueLow, hueHigh, minSaturation, minValue, dominanceLimit;
  __m512 minValueByte, hueInLow, hueInHigh, hueOutLow, hueOutHigh;
  __m512 saturationPass, saturationFail;
  __m512i alphaBits;  // opacity in the alpha byte of every lane
  // 16-bit fixed-point forms (see TKeySetup).
  __m512i evenWords, oddWords;
  __m512i minValueByte16, satPassQ, satFailQ, domPassQ, domFailQ;
  __m128i domShift;
};

// The limits in every lane. Built where the mode is known, so that a mode's row leaves
// out what it does not use.
PICTOR_TARGET_AVX512BW PICTOR_FORCE_INLINE TVecSetup Broadcast(const colorkey::TKeySetup& key)
{
  TVecSetup s;
  s.hueLow = _mm512_set1_ps(key.hueLow);
  s.hueHigh = _mm512_set1_ps(key.hueHigh);
  s.minSaturation = _mm512_set1_ps(key.minSaturation);
  s.minValue = _mm512_set1_ps(key.minValue);
  s.dominanceLimit = _mm512_set1_ps(key.dominanceLimit);
  s.minValueByte = _mm512_set1_ps(key.minValueByte);
  s.hueInLow = _mm512_set1_ps(key.hueInLow);
  s.hueInHigh = _mm512_set1_ps(key.hueInHigh);
  s.hueOutLow = _mm512_set1_ps(key.hueOutLow);
  s.hueOutHigh = _mm512_set1_ps(key.hueOutHigh);
  s.saturationPass = _mm512_set1_ps(key.saturationPass);
  s.saturationFail = _mm512_set1_ps(key.saturationFail);
  s.alphaBits = _mm512_set1_epi32(static_cast<int>(static_cast<uint32_t>(key.opacity) << 24));
  s.evenWords = _mm512_loadu_si512(kEvenWords);
  s.oddWords = _mm512_loadu_si512(kOddWords);
  s.minValueByte16 = _mm512_set1_epi16(static_cast<short>(key.minValueByte));
  // A limit that passes every pixel becomes the threshold 0: chroma and g^2 are above 0
  // wherever g is above the smallest channel, and the rest is unsure or fails elsewhere.
  // Limits that fail every pixel never get here (keysNothing).
  s.satPassQ = _mm512_set1_epi16(static_cast<short>(key.satPassAll ? 0 : key.satPassQ));
  s.satFailQ = _mm512_set1_epi16(static_cast<short>(key.satPassAll ? 0 : key.satFailQ));
  s.domPassQ = _mm512_set1_epi16(static_cast<short>(key.domPassAll ? 0 : key.domPassQ));
  s.domFailQ = _mm512_set1_epi16(static_cast<short>(key.domPassAll ? 0 : key.domFailQ));
  s.domShift = _mm_cvtsi32_si128(key.domShift);
  return s;
}

// byte / 255 correctly rounded without a division (see the AVX2 version).
PICTOR_TARGET_AVX512BW PICTOR_FORCE_INLINE __m512 UnitFromBytes(__m512i v)
{
  const __m512 x = _mm512_cvtepi32_ps(v);
  return _mm512_add_ps(_mm512_mul_ps(x, _mm512_set1_ps(colorkey::kInv255High)),
                       _mm512_mul_ps(x, _mm512_set1_ps(colorkey::kInv255Low)));
}

// The exact computation of 16 pixels, operation for operation the reference's. Returns
// the keyed pixels.
template <TKeyMode kMode>
PICTOR_TARGET_AVX512BW PICTOR_FORCE_INLINE __mmask16 KeyedExact(__m512i px, const TVecSetup& s)
{
  const __m512i byteMask = _mm512_set1_epi32(0xFF);
  const __m512i red = _mm512_and_si512(_mm512_srli_epi32(px, 16), byteMask);
  const __m512i green = _mm512_and_si512(_mm512_srli_epi32(px, 8), byteMask);
  const __m512i blue = _mm512_and_si512(px, byteMask);
  const __m512 r = UnitFromBytes(red);
  const __m512 g = UnitFromBytes(kMode == colorkey::kKeyBlue ? blue : green);
  const __m512 b = UnitFromBytes(kMode == colorkey::kKeyBlue ? green : blue);

  // Hue, saturation and value; the conditional exchanges become max/min pairs.
  const __mmask16 swap1 = _mm512_cmp_ps_mask(b, g, _CMP_GT_OQ);
  const __m512 g1 = _mm512_max_ps(g, b);
  const __m512 b1 = _mm512_min_ps(g, b);
  const __m512 k1 = _mm512_maskz_mov_ps(swap1, _mm512_set1_ps(-1.0f));
  const __mmask16 swap2 = _mm512_cmp_ps_mask(g1, r, _CMP_GT_OQ);
  const __m512 r2 = _mm512_max_ps(r, g1);
  const __m512 g2 = _mm512_min_ps(r, g1);
  const __m512 k = _mm512_mask_sub_ps(k1, swap2, _mm512_set1_ps(colorkey::kMinusOneThird), k1);
  const __m512 chroma = _mm512_sub_ps(r2, _mm512_min_ps(g2, b1));
  const __m512 tiny = _mm512_set1_ps(colorkey::kTiny);
  const __m512 q =
      _mm512_div_ps(_mm512_sub_ps(g2, b1), _mm512_add_ps(_mm512_mul_ps(_mm512_set1_ps(6.0f), chroma), tiny));
  const __m512 hue = _mm512_abs_ps(_mm512_add_ps(k, q));
  const __m512 saturation = _mm512_div_ps(chroma, _mm512_add_ps(r2, tiny));

  __mmask16 key = _mm512_cmp_ps_mask(s.hueLow, hue, _CMP_LE_OQ);
  key = _mm512_mask_cmp_ps_mask(key, hue, s.hueHigh, _CMP_LE_OQ);
  key = _mm512_mask_cmp_ps_mask(key, saturation, s.minSaturation, _CMP_GE_OQ);
  key = _mm512_mask_cmp_ps_mask(key, r2, s.minValue, _CMP_GE_OQ);

  if (kMode != colorkey::kKeyCustom && key != 0) {
    // Dominance of g over the product of the other two channels.
    const __m512 zero = _mm512_setzero_ps();
    const __mmask16 rZero = _mm512_cmp_ps_mask(r, zero, _CMP_EQ_OQ);
    const __mmask16 bZero = _mm512_cmp_ps_mask(b, zero, _CMP_EQ_OQ);
    __m512 d = _mm512_mul_ps(_mm512_mask_mov_ps(r, rZero, b), _mm512_mask_mov_ps(b, bZero, r));
    d = _mm512_mask_mov_ps(d, static_cast<__mmask16>(rZero & bZero), _mm512_set1_ps(colorkey::kDominanceFloor));
    const __m512 ratio = _mm512_div_ps(_mm512_mul_ps(g, g), d);
    key = _mm512_mask_cmp_ps_mask(key, ratio, s.dominanceLimit, _CMP_GT_OQ);
  }
  return key;
}

// Custom colours: the sure tests in floats, 16 pixels; the exact computation when a pixel
// is unsure.
PICTOR_TARGET_AVX512BW PICTOR_FORCE_INLINE __mmask16 KeyedCustom(__m512i px, const TVecSetup& s)
{
  const __m512i byteMask = _mm512_set1_epi32(0xFF);
  const __m512i rI = _mm512_and_si512(_mm512_srli_epi32(px, 16), byteMask);
  const __m512i gI = _mm512_and_si512(_mm512_srli_epi32(px, 8), byteMask);
  const __m512i bI = _mm512_and_si512(px, byteMask);
  const __m512i maxI = _mm512_max_epi32(gI, _mm512_max_epi32(rI, bI));
  const __m512i minI = _mm512_min_epi32(gI, _mm512_min_epi32(rI, bI));
  const __m512 value = _mm512_cvtepi32_ps(maxI);
  const __m512 chroma = _mm512_cvtepi32_ps(_mm512_sub_epi32(maxI, minI));

  const __m512 r = _mm512_cvtepi32_ps(rI);
  const __m512 g = _mm512_cvtepi32_ps(gI);
  const __m512 b = _mm512_cvtepi32_ps(bI);
  const __m512 k1 = _mm512_maskz_mov_ps(_mm512_cmp_ps_mask(b, g, _CMP_GT_OQ), _mm512_set1_ps(-1.0f));
  const __m512 g1 = _mm512_max_ps(g, b);
  const __m512 b1 = _mm512_min_ps(g, b);
  const __mmask16 swap2 = _mm512_cmp_ps_mask(g1, r, _CMP_GT_OQ);
  const __m512 g2 = _mm512_min_ps(r, g1);
  const __m512 k = _mm512_mask_sub_ps(k1, swap2, _mm512_set1_ps(colorkey::kMinusOneThird), k1);
  // rcp14 errs by less than 2^-14, within the hue margin (see TKeySetup).
  const __m512 q = _mm512_mul_ps(
      _mm512_sub_ps(g2, b1),
      _mm512_rcp14_ps(_mm512_add_ps(_mm512_mul_ps(_mm512_set1_ps(6.0f), chroma), _mm512_set1_ps(colorkey::kTiny))));
  const __m512 hue = _mm512_abs_ps(_mm512_add_ps(k, q));
  __mmask16 pass = _mm512_cmp_ps_mask(hue, s.hueInLow, _CMP_GE_OQ);
  pass = _mm512_mask_cmp_ps_mask(pass, hue, s.hueInHigh, _CMP_LE_OQ);
  __mmask16 fail = _mm512_cmp_ps_mask(hue, s.hueOutLow, _CMP_LT_OQ) | _mm512_cmp_ps_mask(hue, s.hueOutHigh, _CMP_GT_OQ);
  pass = _mm512_mask_cmp_ps_mask(pass, chroma, _mm512_mul_ps(s.saturationPass, value), _CMP_GE_OQ);
  fail |= _mm512_cmp_ps_mask(chroma, _mm512_mul_ps(s.saturationFail, value), _CMP_LT_OQ);
  pass = _mm512_mask_cmp_ps_mask(pass, value, s.minValueByte, _CMP_GE_OQ);
  fail |= _mm512_cmp_ps_mask(value, s.minValueByte, _CMP_LT_OQ);
  if (static_cast<__mmask16>(pass | fail) != 0xFFFF) return KeyedExact<colorkey::kKeyCustom>(px, s);
  return pass;
}

// Green and blue keys, 32 pixels in 16-bit lanes: the sure tests of TKeySetup, each
// comparison masked by the ones before it. `pass` collects the pixels that surely pass
// every test, `notFail` those that surely fail none; a pixel in notFail but not in pass is
// unsure, and its block of 16 is computed the exact way.
template <TKeyMode kMode>
PICTOR_TARGET_AVX512BW PICTOR_FORCE_INLINE __mmask32 KeyedPacked(__m512i px0, __m512i px1, const TVecSetup& s)
{
  const __m512i blueGreen = _mm512_permutex2var_epi16(px0, s.evenWords, px1);
  const __m512i redAlpha = _mm512_permutex2var_epi16(px0, s.oddWords, px1);
  const __m512i ff = _mm512_set1_epi16(0xFF);
  const __m512i r = _mm512_and_si512(redAlpha, ff);
  const __m512i green = _mm512_srli_epi16(blueGreen, 8);
  const __m512i blue = _mm512_and_si512(blueGreen, ff);
  const __m512i g = kMode == colorkey::kKeyBlue ? blue : green;
  const __m512i b = kMode == colorkey::kKeyBlue ? green : blue;

  const __m512i otherMax = _mm512_max_epu16(r, b);
  const __m512i otherMin = _mm512_min_epu16(r, b);
  // Value exactly, and g above the smallest channel (not all equal). Where g is at least
  // the other two, value is g and chroma is g - otherMin.
  __mmask32 base = _mm512_cmp_epu16_mask(g, s.minValueByte16, _MM_CMPINT_NLT);
  base = _mm512_mask_cmp_epu16_mask(base, g, otherMin, _MM_CMPINT_NLE);
  // Hue: g strictly largest is inside, g below another channel is outside.
  __mmask32 pass = _mm512_mask_cmp_epu16_mask(base, g, otherMax, _MM_CMPINT_NLE);
  __mmask32 notFail = _mm512_mask_cmp_epu16_mask(base, g, otherMax, _MM_CMPINT_NLT);
  // Saturation: chroma against the limit times value, in 1/128 steps.
  const __m512i chroma128 = _mm512_slli_epi16(_mm512_sub_epi16(g, otherMin), 7);
  const __m512i value128 = _mm512_slli_epi16(g, 7);
  pass = _mm512_mask_cmp_epu16_mask(pass, chroma128, _mm512_mulhi_epu16(value128, s.satPassQ), _MM_CMPINT_NLE);
  notFail = _mm512_mask_cmp_epu16_mask(notFail, chroma128, _mm512_mulhi_epu16(value128, s.satFailQ), _MM_CMPINT_NLT);
  // Dominance: g^2 against the limit times r x b (the larger one squared when the other
  // is 0; 0 for both 0, which scales to the same threshold 0 as the reference's 1).
  const __m512i partner = _mm512_mask_mov_epi16(otherMin, _mm512_testn_epi16_mask(otherMin, otherMin), otherMax);
  const __m512i d = _mm512_mullo_epi16(partner, otherMax);
  const __m512i g2 = _mm512_srl_epi16(_mm512_mullo_epi16(g, g), s.domShift);
  pass = _mm512_mask_cmp_epu16_mask(pass, g2, _mm512_mulhi_epu16(d, s.domPassQ), _MM_CMPINT_NLE);
  notFail = _mm512_mask_cmp_epu16_mask(notFail, g2, _mm512_mulhi_epu16(d, s.domFailQ), _MM_CMPINT_NLT);

  const __mmask32 unsure = notFail & ~pass;
  if (unsure == 0) return pass;
  __mmask32 keyed = pass;
  if (unsure & 0xFFFFu) keyed = (keyed & 0xFFFF0000u) | KeyedExact<kMode>(px0, s);
  if (unsure >> 16) keyed = (keyed & 0xFFFFu) | (static_cast<__mmask32>(KeyedExact<kMode>(px1, s)) << 16);
  return keyed;
}

// Writes the alpha bytes of 16 pixels: opacity, or 0 where keyed.
PICTOR_TARGET_AVX512BW PICTOR_FORCE_INLINE void StoreAlpha(unsigned char* p, __mmask16 keyed, const TVecSetup& s)
{
  const __m512i alpha = _mm512_mask_mov_epi32(s.alphaBits, keyed, _mm512_setzero_si512());
  _mm512_mask_storeu_epi8(p, static_cast<__mmask64>(kAlphaBytes), alpha);
}

// Whole blocks of 16 pixels: width is a multiple of 16.
template <TKeyMode kMode>
PICTOR_TARGET_AVX512BW void KeyBlocks(unsigned char* row, unsigned int width, const colorkey::TKeySetup& key)
{
  const TVecSetup s = Broadcast(key);
  unsigned int x = 0;
  if (kMode == colorkey::kKeyNone) {
    for (; x < width; x += 16) StoreAlpha(row + std::size_t(x) * 4, 0, s);
  } else if (kMode != colorkey::kKeyCustom && key.packedUsable) {
    for (; width - x >= 32; x += 32) {
      unsigned char* p = row + static_cast<std::size_t>(x) * 4;
      const __mmask32 keyed = KeyedPacked<kMode>(_mm512_loadu_si512(p), _mm512_loadu_si512(p + 64), s);
      StoreAlpha(p, static_cast<__mmask16>(keyed), s);
      StoreAlpha(p + 64, static_cast<__mmask16>(keyed >> 16), s);
    }
    if (x < width) {
      // One block left: its partner is zeros, which surely fail.
      unsigned char* p = row + static_cast<std::size_t>(x) * 4;
      const __mmask32 keyed = KeyedPacked<kMode>(_mm512_loadu_si512(p), _mm512_setzero_si512(), s);
      StoreAlpha(p, static_cast<__mmask16>(keyed), s);
    }
  } else {
    for (; x < width; x += 16) {
      unsigned char* p = row + static_cast<std::size_t>(x) * 4;
      const __m512i px = _mm512_loadu_si512(p);
      // Green and blue limits the fixed point cannot hold go the exact way.
      const __mmask16 keyed = kMode == colorkey::kKeyCustom ? KeyedCustom(px, s) : KeyedExact<kMode>(px, s);
      StoreAlpha(p, keyed, s);
    }
  }
}

PICTOR_TARGET_AVX512BW void KeyBlocksOfMode(unsigned char* row, unsigned int width, const colorkey::TKeySetup& key)
{
  colorkey::WithMode(key.keysNothing ? colorkey::kKeyNone : key.mode,
                     [&](auto mode) { KeyBlocks<decltype(mode)::value>(row, width, key); });
}

}  // namespace

void colorkey::KeyRow_AVX512(unsigned char* row, unsigned int width, const TKeySetup& key)
{
  KeyRowAny<16, KeyBlocksOfMode>(row, width, key);
}

#endif  // PICTOR_X86
