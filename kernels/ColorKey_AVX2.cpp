// AVX2 row kernel of the colour key. Blocks whose pixels are all clear of the limits are
// decided without divisions (16 pixels per step in 16-bit fixed point for green and blue,
// 8 per step in floats for a custom colour); any other block goes through the exact
// computation, the reference's single-precision operations in the reference's order, so
// the output is the reference's byte for byte. The pixels after the last whole block go
// through the same blocks (kernels/RowAny.h).
#include "kernels/ColorKeyInternal.h"

#if PICTOR_X86

#  include <immintrin.h>

#  include <cstddef>
#  include <cstdint>

namespace {

using colorkey::TKeyMode;

struct TVecSetup {
  __m256 hueLow, hueHigh, minSaturation, minValue, dominanceLimit;
  __m256 minValueByte, hueInLow, hueInHigh, hueOutLow, hueOutHigh;
  __m256 saturationPass, saturationFail, dominancePass, dominanceFail;
  __m256i alphaBits;  // opacity in the alpha byte of every lane
  // 16-bit fixed-point forms (see TKeySetup).
  __m256i minValueByte16, minValueByte16Less1, satPassQ, satFailQ, domPassQ, domFailQ;
  __m128i domShift;
};

// The limits in every lane. Built where the mode is known, so that a mode's row leaves
// out what it does not use.
PICTOR_TARGET_AVX2 PICTOR_FORCE_INLINE TVecSetup Broadcast(const colorkey::TKeySetup& key)
{
  TVecSetup s;
  s.hueLow = _mm256_set1_ps(key.hueLow);
  s.hueHigh = _mm256_set1_ps(key.hueHigh);
  s.minSaturation = _mm256_set1_ps(key.minSaturation);
  s.minValue = _mm256_set1_ps(key.minValue);
  s.dominanceLimit = _mm256_set1_ps(key.dominanceLimit);
  s.minValueByte = _mm256_set1_ps(key.minValueByte);
  s.hueInLow = _mm256_set1_ps(key.hueInLow);
  s.hueInHigh = _mm256_set1_ps(key.hueInHigh);
  s.hueOutLow = _mm256_set1_ps(key.hueOutLow);
  s.hueOutHigh = _mm256_set1_ps(key.hueOutHigh);
  s.saturationPass = _mm256_set1_ps(key.saturationPass);
  s.saturationFail = _mm256_set1_ps(key.saturationFail);
  s.dominancePass = _mm256_set1_ps(key.dominancePass);
  s.dominanceFail = _mm256_set1_ps(key.dominanceFail);
  s.alphaBits = _mm256_set1_epi32(static_cast<int>(static_cast<uint32_t>(key.opacity) << 24));
  s.minValueByte16 = _mm256_set1_epi16(static_cast<short>(key.minValueByte));
  s.minValueByte16Less1 = _mm256_set1_epi16(static_cast<short>(key.minValueByte - 1));
  // A limit that passes every pixel becomes the threshold 0: chroma and g^2 are above 0
  // wherever g is the strictly largest channel, and the rest is unsure or fails elsewhere.
  // Limits that fail every pixel never get here (keysNothing).
  s.satPassQ = _mm256_set1_epi16(static_cast<short>(key.satPassAll ? 0 : key.satPassQ));
  s.satFailQ = _mm256_set1_epi16(static_cast<short>(key.satPassAll ? 0 : key.satFailQ));
  s.domPassQ = _mm256_set1_epi16(static_cast<short>(key.domPassAll ? 0 : key.domPassQ));
  s.domFailQ = _mm256_set1_epi16(static_cast<short>(key.domPassAll ? 0 : key.domFailQ));
  s.domShift = _mm_cvtsi32_si128(key.domShift);
  return s;
}

// byte / 255 rounded once to single precision, without a division: 1/255 is split into
// c1 = 0x1.01p-8, whose product with a byte is exact, and a small remainder c2. The sum
// then carries one rounding of a value within 2^-39 of the exact quotient, while no
// quotient x / 255 lies closer than about 2^-33 to a point halfway between two floats:
// the result is the correctly rounded quotient, as in the reference.
PICTOR_TARGET_AVX2 PICTOR_FORCE_INLINE __m256 UnitFromBytes(__m256i v)
{
  const __m256 x = _mm256_cvtepi32_ps(v);
  return _mm256_add_ps(_mm256_mul_ps(x, _mm256_set1_ps(colorkey::kInv255High)),
                       _mm256_mul_ps(x, _mm256_set1_ps(colorkey::kInv255Low)));
}

// The exact computation, operation for operation the reference's.
template <TKeyMode kMode>
PICTOR_TARGET_AVX2 PICTOR_FORCE_INLINE __m256i KeyBlockExact(__m256i px, const TVecSetup& s)
{
  const __m256i byteMask = _mm256_set1_epi32(0xFF);
  const __m256i colourBits = _mm256_set1_epi32(0x00FFFFFF);
  const __m256i kept = _mm256_and_si256(px, colourBits);
  if (kMode == colorkey::kKeyNone) return _mm256_or_si256(kept, s.alphaBits);

  const __m256i red = _mm256_and_si256(_mm256_srli_epi32(px, 16), byteMask);
  const __m256i green = _mm256_and_si256(_mm256_srli_epi32(px, 8), byteMask);
  const __m256i blue = _mm256_and_si256(px, byteMask);
  const __m256 r = UnitFromBytes(red);
  const __m256 g = UnitFromBytes(kMode == colorkey::kKeyBlue ? blue : green);
  const __m256 b = UnitFromBytes(kMode == colorkey::kKeyBlue ? green : blue);

  // Hue, saturation and value; the conditional exchanges become max/min pairs.
  const __m256 swap1 = _mm256_cmp_ps(b, g, _CMP_GT_OQ);
  const __m256 g1 = _mm256_max_ps(g, b);
  const __m256 b1 = _mm256_min_ps(g, b);
  const __m256 k1 = _mm256_and_ps(swap1, _mm256_set1_ps(-1.0f));
  const __m256 swap2 = _mm256_cmp_ps(g1, r, _CMP_GT_OQ);
  const __m256 r2 = _mm256_max_ps(r, g1);
  const __m256 g2 = _mm256_min_ps(r, g1);
  const __m256 k = _mm256_blendv_ps(k1, _mm256_sub_ps(_mm256_set1_ps(colorkey::kMinusOneThird), k1), swap2);
  const __m256 chroma = _mm256_sub_ps(r2, _mm256_min_ps(g2, b1));
  const __m256 tiny = _mm256_set1_ps(colorkey::kTiny);
  const __m256 q =
      _mm256_div_ps(_mm256_sub_ps(g2, b1), _mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(6.0f), chroma), tiny));
  const __m256 hue = _mm256_andnot_ps(_mm256_set1_ps(-0.0f), _mm256_add_ps(k, q));
  const __m256 saturation = _mm256_div_ps(chroma, _mm256_add_ps(r2, tiny));

  __m256 key = _mm256_and_ps(_mm256_cmp_ps(s.hueLow, hue, _CMP_LE_OQ), _mm256_cmp_ps(hue, s.hueHigh, _CMP_LE_OQ));
  key = _mm256_and_ps(key, _mm256_cmp_ps(saturation, s.minSaturation, _CMP_GE_OQ));
  key = _mm256_and_ps(key, _mm256_cmp_ps(r2, s.minValue, _CMP_GE_OQ));

  if (kMode != colorkey::kKeyCustom && _mm256_movemask_ps(key) != 0) {
    // Dominance of g over the product of the other two channels.
    const __m256 zero = _mm256_setzero_ps();
    const __m256 rZero = _mm256_cmp_ps(r, zero, _CMP_EQ_OQ);
    const __m256 bZero = _mm256_cmp_ps(b, zero, _CMP_EQ_OQ);
    __m256 d = _mm256_mul_ps(_mm256_blendv_ps(r, b, rZero), _mm256_blendv_ps(b, r, bZero));
    d = _mm256_blendv_ps(d, _mm256_set1_ps(colorkey::kDominanceFloor), _mm256_and_ps(rZero, bZero));
    const __m256 ratio = _mm256_div_ps(_mm256_mul_ps(g, g), d);
    key = _mm256_and_ps(key, _mm256_cmp_ps(ratio, s.dominanceLimit, _CMP_GT_OQ));
  }
  return _mm256_or_si256(kept, _mm256_andnot_si256(_mm256_castps_si256(key), s.alphaBits));
}

// Decides a block without divisions where every pixel is clear of the limits (see
// TKeySetup); otherwise computes it the exact way.
template <TKeyMode kMode>
PICTOR_TARGET_AVX2 PICTOR_FORCE_INLINE __m256i KeyBlock(__m256i px, const TVecSetup& s)
{
  const __m256i kept = _mm256_and_si256(px, _mm256_set1_epi32(0x00FFFFFF));
  if (kMode == colorkey::kKeyNone) return _mm256_or_si256(kept, s.alphaBits);

  const __m256i byteMask = _mm256_set1_epi32(0xFF);
  const __m256i red = _mm256_and_si256(_mm256_srli_epi32(px, 16), byteMask);
  const __m256i green = _mm256_and_si256(_mm256_srli_epi32(px, 8), byteMask);
  const __m256i blue = _mm256_and_si256(px, byteMask);
  const __m256i rI = red;
  const __m256i gI = kMode == colorkey::kKeyBlue ? blue : green;
  const __m256i bI = kMode == colorkey::kKeyBlue ? green : blue;
  const __m256i maxI = _mm256_max_epi32(gI, _mm256_max_epi32(rI, bI));
  const __m256i minI = _mm256_min_epi32(gI, _mm256_min_epi32(rI, bI));
  const __m256 value = _mm256_cvtepi32_ps(maxI);
  const __m256 chroma = _mm256_cvtepi32_ps(_mm256_sub_epi32(maxI, minI));

  __m256 pass, fail;
  if (kMode == colorkey::kKeyCustom) {
    const __m256 r = _mm256_cvtepi32_ps(rI);
    const __m256 g = _mm256_cvtepi32_ps(gI);
    const __m256 b = _mm256_cvtepi32_ps(bI);
    const __m256 k1 = _mm256_and_ps(_mm256_cmp_ps(b, g, _CMP_GT_OQ), _mm256_set1_ps(-1.0f));
    const __m256 g1 = _mm256_max_ps(g, b);
    const __m256 b1 = _mm256_min_ps(g, b);
    const __m256 swap2 = _mm256_cmp_ps(g1, r, _CMP_GT_OQ);
    const __m256 g2 = _mm256_min_ps(r, g1);
    const __m256 k = _mm256_blendv_ps(k1, _mm256_sub_ps(_mm256_set1_ps(colorkey::kMinusOneThird), k1), swap2);
    const __m256 q = _mm256_mul_ps(
        _mm256_sub_ps(g2, b1),
        _mm256_rcp_ps(_mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(6.0f), chroma), _mm256_set1_ps(colorkey::kTiny))));
    const __m256 hue = _mm256_andnot_ps(_mm256_set1_ps(-0.0f), _mm256_add_ps(k, q));
    pass = _mm256_and_ps(_mm256_cmp_ps(hue, s.hueInLow, _CMP_GE_OQ), _mm256_cmp_ps(hue, s.hueInHigh, _CMP_LE_OQ));
    fail = _mm256_or_ps(_mm256_cmp_ps(hue, s.hueOutLow, _CMP_LT_OQ), _mm256_cmp_ps(hue, s.hueOutHigh, _CMP_GT_OQ));
  } else {
    // g strictly largest: inside; g below another channel, or all equal: outside.
    const __m256i otherMax = _mm256_max_epi32(rI, bI);
    pass = _mm256_castsi256_ps(_mm256_cmpgt_epi32(gI, otherMax));
    fail = _mm256_castsi256_ps(_mm256_or_si256(_mm256_cmpgt_epi32(otherMax, gI), _mm256_cmpeq_epi32(maxI, minI)));
  }
  pass = _mm256_and_ps(pass, _mm256_cmp_ps(chroma, _mm256_mul_ps(s.saturationPass, value), _CMP_GE_OQ));
  fail = _mm256_or_ps(fail, _mm256_cmp_ps(chroma, _mm256_mul_ps(s.saturationFail, value), _CMP_LT_OQ));
  const __m256 valuePass = _mm256_cmp_ps(value, s.minValueByte, _CMP_GE_OQ);
  pass = _mm256_and_ps(pass, valuePass);
  fail = _mm256_or_ps(fail, _mm256_cmp_ps(value, s.minValueByte, _CMP_LT_OQ));

  if (kMode != colorkey::kKeyCustom) {
    // g^2 against the limit times r x b (b x b or r x r when one is 0, 1 when both are).
    const __m256i zeroI = _mm256_setzero_si256();
    const __m256i rZero = _mm256_cmpeq_epi32(rI, zeroI);
    const __m256i bZero = _mm256_cmpeq_epi32(bI, zeroI);
    const __m256i rn = _mm256_blendv_epi8(rI, bI, rZero);
    const __m256i bn = _mm256_blendv_epi8(bI, rI, bZero);
    // Bytes times bytes fit in 16 bits, and the upper halves of the lanes are 0: the
    // 16-bit multiply gives the whole 32-bit product, and is cheaper than the 32-bit one.
    const __m256i dI = _mm256_max_epi32(_mm256_mullo_epi16(rn, bn), _mm256_set1_epi32(1));
    const __m256 d = _mm256_cvtepi32_ps(dI);
    const __m256 g2 = _mm256_cvtepi32_ps(_mm256_mullo_epi16(gI, gI));
    pass = _mm256_and_ps(pass, _mm256_cmp_ps(g2, _mm256_mul_ps(s.dominancePass, d), _CMP_GT_OQ));
    fail = _mm256_or_ps(fail, _mm256_cmp_ps(g2, _mm256_mul_ps(s.dominanceFail, d), _CMP_LE_OQ));
  }
  if (_mm256_movemask_ps(_mm256_or_ps(pass, fail)) != 0xFF) return KeyBlockExact<kMode>(px, s);
  return _mm256_or_si256(kept, _mm256_andnot_si256(_mm256_castps_si256(pass), s.alphaBits));
}

// Green and blue keys, 16 pixels at a time: the channel bytes of two blocks packed into
// 16-bit lanes and the sure tests in fixed point (see TKeySetup). A block holding an
// unsure pixel is computed the exact way. Only the alpha bytes change.
template <TKeyMode kMode>
PICTOR_TARGET_AVX2 PICTOR_FORCE_INLINE void KeyTwoBlocks(__m256i* p0, __m256i* p1, const TVecSetup& s)
{
  const __m256i px0 = _mm256_loadu_si256(p0);
  const __m256i px1 = _mm256_loadu_si256(p1);
  // A pixel is two 16-bit words, blue-green and red-alpha. packus works within 128-bit
  // halves: lanes hold px0[0..3], px1[0..3] | px0[4..7], px1[4..7]; the 16-to-32-bit
  // unpacks at the end undo exactly this order.
  const __m256i lowWord = _mm256_set1_epi32(0xFFFF);
  const __m256i blueGreen = _mm256_packus_epi32(_mm256_and_si256(px0, lowWord), _mm256_and_si256(px1, lowWord));
  const __m256i redAlpha = _mm256_packus_epi32(_mm256_srli_epi32(px0, 16), _mm256_srli_epi32(px1, 16));
  const __m256i ff = _mm256_set1_epi16(0xFF);
  const __m256i r = _mm256_and_si256(redAlpha, ff);
  const __m256i green = _mm256_srli_epi16(blueGreen, 8);
  const __m256i blue = _mm256_and_si256(blueGreen, ff);
  const __m256i g = kMode == colorkey::kKeyBlue ? blue : green;
  const __m256i b = kMode == colorkey::kKeyBlue ? green : blue;

  const __m256i otherMax = _mm256_max_epi16(r, b);
  const __m256i otherMin = _mm256_min_epi16(r, b);
  // Hue: g strictly largest is inside, g below another channel or all equal is outside.
  // Wherever a pixel is not already outside, g is the value and g - otherMin the chroma.
  __m256i pass = _mm256_cmpgt_epi16(g, otherMax);
  __m256i fail = _mm256_or_si256(_mm256_cmpgt_epi16(otherMax, g), _mm256_cmpeq_epi16(g, otherMin));
  // Value, exactly.
  pass = _mm256_and_si256(pass, _mm256_cmpgt_epi16(g, s.minValueByte16Less1));
  fail = _mm256_or_si256(fail, _mm256_cmpgt_epi16(s.minValueByte16, g));
  // Saturation: chroma against the limit times value, in 1/128 steps.
  const __m256i chroma128 = _mm256_slli_epi16(_mm256_sub_epi16(g, otherMin), 7);
  const __m256i value128 = _mm256_slli_epi16(g, 7);
  pass = _mm256_and_si256(pass, _mm256_cmpgt_epi16(chroma128, _mm256_mulhi_epu16(value128, s.satPassQ)));
  fail = _mm256_or_si256(fail, _mm256_cmpgt_epi16(_mm256_mulhi_epu16(value128, s.satFailQ), chroma128));
  // Dominance: g^2 against the limit times r x b (the larger one squared when the other
  // is 0; 0 for both 0, which scales to the same threshold 0 as the reference's 1).
  // Byte products fit in 16 bits unsigned.
  const __m256i partner = _mm256_blendv_epi8(otherMin, otherMax, _mm256_cmpeq_epi16(otherMin, _mm256_setzero_si256()));
  const __m256i d = _mm256_mullo_epi16(partner, otherMax);
  const __m256i g2 = _mm256_srl_epi16(_mm256_mullo_epi16(g, g), s.domShift);
  pass = _mm256_and_si256(pass, _mm256_cmpgt_epi16(g2, _mm256_mulhi_epu16(d, s.domPassQ)));
  fail = _mm256_or_si256(fail, _mm256_cmpgt_epi16(_mm256_mulhi_epu16(d, s.domFailQ), g2));

  // Write the alpha bytes from the sure result, then redo a block with an unsure pixel.
  const __m256i alphaByte = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
  const __m256i pass0 = _mm256_unpacklo_epi16(pass, pass);
  const __m256i pass1 = _mm256_unpackhi_epi16(pass, pass);
  __m256i out0 = _mm256_blendv_epi8(px0, _mm256_andnot_si256(pass0, s.alphaBits), alphaByte);
  __m256i out1 = _mm256_blendv_epi8(px1, _mm256_andnot_si256(pass1, s.alphaBits), alphaByte);
  const unsigned int unsure = ~static_cast<unsigned int>(_mm256_movemask_epi8(_mm256_or_si256(pass, fail)));
  if (unsure != 0) {
    if (unsure & 0x00FF00FFu) out0 = KeyBlockExact<kMode>(px0, s);
    if (unsure & 0xFF00FF00u) out1 = KeyBlockExact<kMode>(px1, s);
  }
  _mm256_storeu_si256(p0, out0);
  _mm256_storeu_si256(p1, out1);
}

// Whole blocks of 8 pixels: width is a multiple of 8.
template <TKeyMode kMode>
PICTOR_TARGET_AVX2 void KeyBlocks(unsigned char* row, unsigned int width, const colorkey::TKeySetup& key)
{
  const TVecSetup s = Broadcast(key);
  unsigned int x = 0;
  if (kMode != colorkey::kKeyCustom && kMode != colorkey::kKeyNone && key.packedUsable) {
    for (; width - x >= 16; x += 16) {
      __m256i* p = reinterpret_cast<__m256i*>(row + static_cast<std::size_t>(x) * 4);
      KeyTwoBlocks<kMode>(p, p + 1, s);
    }
  }
  for (; x < width; x += 8) {
    __m256i* p = reinterpret_cast<__m256i*>(row + static_cast<std::size_t>(x) * 4);
    _mm256_storeu_si256(p, KeyBlock<kMode>(_mm256_loadu_si256(p), s));
  }
}

PICTOR_TARGET_AVX2 void KeyBlocksOfMode(unsigned char* row, unsigned int width, const colorkey::TKeySetup& key)
{
  colorkey::WithMode(key.keysNothing ? colorkey::kKeyNone : key.mode,
                     [&](auto mode) { KeyBlocks<decltype(mode)::value>(row, width, key); });
}

}  // namespace

void colorkey::KeyRow_AVX2(unsigned char* row, unsigned int width, const TKeySetup& key)
{
  KeyRowAny<8, KeyBlocksOfMode>(row, width, key);
}

#endif  // PICTOR_X86
