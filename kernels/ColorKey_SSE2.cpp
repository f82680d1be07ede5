// SSE2 row kernel of the colour key (the x86-64 baseline). Blocks whose pixels are all
// clear of the limits are decided without divisions (8 pixels per step in 16-bit fixed
// point for green and blue, 4 per step in floats for a custom colour); any other block
// goes through the exact computation, the reference's single-precision operations in the
// reference's order. The pixels after the last whole block go through the same blocks
// (kernels/RowAny.h).
#include "kernels/ColorKeyInternal.h"

#if PICTOR_X86

#  include <emmintrin.h>

#  include <cstddef>
#  include <cstdint>

namespace {

using colorkey::TKeyMode;

struct TVecSetup {
  __m128 hueLow, hueHigh, minSaturation, minValue, dominanceLimit;
  __m128 minValueByte, hueInLow, hueInHigh, hueOutLow, hueOutHigh;
  __m128 saturationPass, saturationFail, dominancePass, dominanceFail;
  __m128i alphaBits;  // opacity in the alpha byte of every lane
  // 16-bit fixed-point forms (see TKeySetup).
  __m128i minValueByte16, satPassQ, satFailQ, satPassAll, satFailAll;
  __m128i domPassQ, domFailQ, domPassAll, domFailAll;
  __m128i domShift;
};

// The limits in every lane. Built where the mode is known, so that a mode's row leaves
// out what it does not use.
PICTOR_TARGET_SSE2 PICTOR_FORCE_INLINE TVecSetup Broadcast(const colorkey::TKeySetup& key)
{
  TVecSetup s;
  s.hueLow = _mm_set1_ps(key.hueLow);
  s.hueHigh = _mm_set1_ps(key.hueHigh);
  s.minSaturation = _mm_set1_ps(key.minSaturation);
  s.minValue = _mm_set1_ps(key.minValue);
  s.dominanceLimit = _mm_set1_ps(key.dominanceLimit);
  s.minValueByte = _mm_set1_ps(key.minValueByte);
  s.hueInLow = _mm_set1_ps(key.hueInLow);
  s.hueInHigh = _mm_set1_ps(key.hueInHigh);
  s.hueOutLow = _mm_set1_ps(key.hueOutLow);
  s.hueOutHigh = _mm_set1_ps(key.hueOutHigh);
  s.saturationPass = _mm_set1_ps(key.saturationPass);
  s.saturationFail = _mm_set1_ps(key.saturationFail);
  s.dominancePass = _mm_set1_ps(key.dominancePass);
  s.dominanceFail = _mm_set1_ps(key.dominanceFail);
  s.alphaBits = _mm_set1_epi32(static_cast<int>(static_cast<uint32_t>(key.opacity) << 24));
  s.minValueByte16 = _mm_set1_epi16(static_cast<short>(key.minValueByte));
  s.satPassQ = _mm_set1_epi16(static_cast<short>(key.satPassQ));
  s.satFailQ = _mm_set1_epi16(static_cast<short>(key.satFailQ));
  s.satPassAll = _mm_set1_epi16(key.satPassAll ? -1 : 0);
  s.satFailAll = _mm_set1_epi16(key.satFailAll ? -1 : 0);
  s.domPassQ = _mm_set1_epi16(static_cast<short>(key.domPassQ));
  s.domFailQ = _mm_set1_epi16(static_cast<short>(key.domFailQ));
  s.domPassAll = _mm_set1_epi16(key.domPassAll ? -1 : 0);
  s.domFailAll = _mm_set1_epi16(key.domFailAll ? -1 : 0);
  s.domShift = _mm_cvtsi32_si128(key.domShift);
  return s;
}

PICTOR_TARGET_SSE2 PICTOR_FORCE_INLINE __m128 Select(__m128 mask, __m128 ifFalse, __m128 ifTrue)
{
  return _mm_or_ps(_mm_and_ps(mask, ifTrue), _mm_andnot_ps(mask, ifFalse));
}

// byte / 255 rounded once to single precision without a division (see the AVX2 version).
PICTOR_TARGET_SSE2 PICTOR_FORCE_INLINE __m128 UnitFromBytes(__m128i v)
{
  const __m128 x = _mm_cvtepi32_ps(v);
  return _mm_add_ps(_mm_mul_ps(x, _mm_set1_ps(colorkey::kInv255High)),
                    _mm_mul_ps(x, _mm_set1_ps(colorkey::kInv255Low)));
}

// The exact computation, operation for operation the reference's.
template <TKeyMode kMode>
PICTOR_TARGET_SSE2 PICTOR_FORCE_INLINE __m128i KeyBlockExact(__m128i px, const TVecSetup& s)
{
  const __m128i byteMask = _mm_set1_epi32(0xFF);
  const __m128i kept = _mm_and_si128(px, _mm_set1_epi32(0x00FFFFFF));
  if (kMode == colorkey::kKeyNone) return _mm_or_si128(kept, s.alphaBits);

  const __m128i red = _mm_and_si128(_mm_srli_epi32(px, 16), byteMask);
  const __m128i green = _mm_and_si128(_mm_srli_epi32(px, 8), byteMask);
  const __m128i blue = _mm_and_si128(px, byteMask);
  const __m128 r = UnitFromBytes(red);
  const __m128 g = UnitFromBytes(kMode == colorkey::kKeyBlue ? blue : green);
  const __m128 b = UnitFromBytes(kMode == colorkey::kKeyBlue ? green : blue);

  // Hue, saturation and value; the conditional exchanges become max/min pairs.
  const __m128 swap1 = _mm_cmpgt_ps(b, g);
  const __m128 g1 = _mm_max_ps(g, b);
  const __m128 b1 = _mm_min_ps(g, b);
  const __m128 k1 = _mm_and_ps(swap1, _mm_set1_ps(-1.0f));
  const __m128 swap2 = _mm_cmpgt_ps(g1, r);
  const __m128 r2 = _mm_max_ps(r, g1);
  const __m128 g2 = _mm_min_ps(r, g1);
  const __m128 k = Select(swap2, k1, _mm_sub_ps(_mm_set1_ps(colorkey::kMinusOneThird), k1));
  const __m128 chroma = _mm_sub_ps(r2, _mm_min_ps(g2, b1));
  const __m128 tiny = _mm_set1_ps(colorkey::kTiny);
  const __m128 q = _mm_div_ps(_mm_sub_ps(g2, b1), _mm_add_ps(_mm_mul_ps(_mm_set1_ps(6.0f), chroma), tiny));
  const __m128 hue = _mm_andnot_ps(_mm_set1_ps(-0.0f), _mm_add_ps(k, q));
  const __m128 saturation = _mm_div_ps(chroma, _mm_add_ps(r2, tiny));

  __m128 key = _mm_and_ps(_mm_cmple_ps(s.hueLow, hue), _mm_cmple_ps(hue, s.hueHigh));
  key = _mm_and_ps(key, _mm_cmpge_ps(saturation, s.minSaturation));
  key = _mm_and_ps(key, _mm_cmpge_ps(r2, s.minValue));

  if (kMode != colorkey::kKeyCustom && _mm_movemask_ps(key) != 0) {
    // Dominance of g over the product of the other two channels.
    const __m128 zero = _mm_setzero_ps();
    const __m128 rZero = _mm_cmpeq_ps(r, zero);
    const __m128 bZero = _mm_cmpeq_ps(b, zero);
    __m128 d = _mm_mul_ps(Select(rZero, r, b), Select(bZero, b, r));
    d = Select(_mm_and_ps(rZero, bZero), d, _mm_set1_ps(colorkey::kDominanceFloor));
    const __m128 ratio = _mm_div_ps(_mm_mul_ps(g, g), d);
    key = _mm_and_ps(key, _mm_cmpgt_ps(ratio, s.dominanceLimit));
  }
  return _mm_or_si128(kept, _mm_andnot_si128(_mm_castps_si128(key), s.alphaBits));
}

// Decides a block without divisions where every pixel is clear of the limits (see
// TKeySetup); otherwise computes it the exact way. SSE2 has no 32-bit integer min, max or
// multiply, so the channel bytes are handled as floats, where these are exact too.
template <TKeyMode kMode>
PICTOR_TARGET_SSE2 PICTOR_FORCE_INLINE __m128i KeyBlock(__m128i px, const TVecSetup& s)
{
  const __m128i kept = _mm_and_si128(px, _mm_set1_epi32(0x00FFFFFF));
  if (kMode == colorkey::kKeyNone) return _mm_or_si128(kept, s.alphaBits);

  const __m128i byteMask = _mm_set1_epi32(0xFF);
  const __m128i red = _mm_and_si128(_mm_srli_epi32(px, 16), byteMask);
  const __m128i green = _mm_and_si128(_mm_srli_epi32(px, 8), byteMask);
  const __m128i blue = _mm_and_si128(px, byteMask);
  const __m128 r = _mm_cvtepi32_ps(red);
  const __m128 g = _mm_cvtepi32_ps(kMode == colorkey::kKeyBlue ? blue : green);
  const __m128 b = _mm_cvtepi32_ps(kMode == colorkey::kKeyBlue ? green : blue);
  const __m128 otherMax = _mm_max_ps(r, b);
  const __m128 value = _mm_max_ps(g, otherMax);
  const __m128 minimum = _mm_min_ps(g, _mm_min_ps(r, b));
  const __m128 chroma = _mm_sub_ps(value, minimum);

  __m128 pass, fail;
  if (kMode == colorkey::kKeyCustom) {
    const __m128 k1 = _mm_and_ps(_mm_cmpgt_ps(b, g), _mm_set1_ps(-1.0f));
    const __m128 g1 = _mm_max_ps(g, b);
    const __m128 b1 = _mm_min_ps(g, b);
    const __m128 swap2 = _mm_cmpgt_ps(g1, r);
    const __m128 g2 = _mm_min_ps(r, g1);
    const __m128 k = Select(swap2, k1, _mm_sub_ps(_mm_set1_ps(colorkey::kMinusOneThird), k1));
    const __m128 q =
        _mm_mul_ps(_mm_sub_ps(g2, b1),
                   _mm_rcp_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(6.0f), chroma), _mm_set1_ps(colorkey::kTiny))));
    const __m128 hue = _mm_andnot_ps(_mm_set1_ps(-0.0f), _mm_add_ps(k, q));
    pass = _mm_and_ps(_mm_cmpge_ps(hue, s.hueInLow), _mm_cmple_ps(hue, s.hueInHigh));
    fail = _mm_or_ps(_mm_cmplt_ps(hue, s.hueOutLow), _mm_cmpgt_ps(hue, s.hueOutHigh));
  } else {
    // g strictly largest: inside; g below another channel, or all equal: outside.
    pass = _mm_cmpgt_ps(g, otherMax);
    fail = _mm_or_ps(_mm_cmpgt_ps(otherMax, g), _mm_cmpeq_ps(value, minimum));
  }
  pass = _mm_and_ps(pass, _mm_cmpge_ps(chroma, _mm_mul_ps(s.saturationPass, value)));
  fail = _mm_or_ps(fail, _mm_cmplt_ps(chroma, _mm_mul_ps(s.saturationFail, value)));
  pass = _mm_and_ps(pass, _mm_cmpge_ps(value, s.minValueByte));
  fail = _mm_or_ps(fail, _mm_cmplt_ps(value, s.minValueByte));

  if (kMode != colorkey::kKeyCustom) {
    // g^2 against the limit times r x b (b x b or r x r when one is 0, 1 when both are).
    const __m128 zero = _mm_setzero_ps();
    const __m128 rn = Select(_mm_cmpeq_ps(r, zero), r, b);
    const __m128 bn = Select(_mm_cmpeq_ps(b, zero), b, r);
    const __m128 d = _mm_max_ps(_mm_mul_ps(rn, bn), _mm_set1_ps(1.0f));
    const __m128 g2 = _mm_mul_ps(g, g);
    pass = _mm_and_ps(pass, _mm_cmpgt_ps(g2, _mm_mul_ps(s.dominancePass, d)));
    fail = _mm_or_ps(fail, _mm_cmple_ps(g2, _mm_mul_ps(s.dominanceFail, d)));
  }
  if (_mm_movemask_ps(_mm_or_ps(pass, fail)) != 0xF) return KeyBlockExact<kMode>(px, s);
  return _mm_or_si128(kept, _mm_andnot_si128(_mm_castps_si128(pass), s.alphaBits));
}

PICTOR_TARGET_SSE2 PICTOR_FORCE_INLINE __m128i SelectI(__m128i mask, __m128i ifFalse, __m128i ifTrue)
{
  return _mm_or_si128(_mm_and_si128(mask, ifTrue), _mm_andnot_si128(mask, ifFalse));
}

// Green and blue keys, 8 pixels at a time: the channel bytes of two blocks packed into
// 16-bit lanes and the sure tests in fixed point (see TKeySetup). Falls back to the exact
// computation of both blocks when a pixel is unsure.
template <TKeyMode kMode>
PICTOR_TARGET_SSE2 PICTOR_FORCE_INLINE void KeyTwoBlocks(__m128i* p0, __m128i* p1, const TVecSetup& s)
{
  const __m128i px0 = _mm_loadu_si128(p0);
  const __m128i px1 = _mm_loadu_si128(p1);
  const __m128i ff = _mm_set1_epi32(0xFF);
  // Channel bytes are 0..255, so the signed pack loses nothing. Lanes: px0[0..3], px1[0..3].
  const __m128i r =
      _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(px0, 16), ff), _mm_and_si128(_mm_srli_epi32(px1, 16), ff));
  const __m128i green =
      _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(px0, 8), ff), _mm_and_si128(_mm_srli_epi32(px1, 8), ff));
  const __m128i blue = _mm_packs_epi32(_mm_and_si128(px0, ff), _mm_and_si128(px1, ff));
  const __m128i g = kMode == colorkey::kKeyBlue ? blue : green;
  const __m128i b = kMode == colorkey::kKeyBlue ? green : blue;

  const __m128i otherMax = _mm_max_epi16(r, b);
  const __m128i value = _mm_max_epi16(g, otherMax);
  const __m128i minimum = _mm_min_epi16(g, _mm_min_epi16(r, b));
  // Hue: g strictly largest is inside, g below another channel or all equal is outside.
  __m128i pass = _mm_cmpgt_epi16(g, otherMax);
  __m128i fail = _mm_or_si128(_mm_cmpgt_epi16(otherMax, g), _mm_cmpeq_epi16(value, minimum));
  // Value, exactly.
  pass = _mm_and_si128(pass, _mm_cmpgt_epi16(value, _mm_sub_epi16(s.minValueByte16, _mm_set1_epi16(1))));
  fail = _mm_or_si128(fail, _mm_cmpgt_epi16(s.minValueByte16, value));
  // Saturation: chroma against the limit times value, in 1/128 steps.
  const __m128i chroma128 = _mm_slli_epi16(_mm_sub_epi16(value, minimum), 7);
  const __m128i value128 = _mm_slli_epi16(value, 7);
  const __m128i satPass = _mm_cmpgt_epi16(chroma128, _mm_mulhi_epu16(value128, s.satPassQ));
  const __m128i satFail = _mm_cmpgt_epi16(_mm_mulhi_epu16(value128, s.satFailQ), chroma128);
  pass = _mm_and_si128(pass, _mm_andnot_si128(s.satFailAll, _mm_or_si128(satPass, s.satPassAll)));
  fail = _mm_or_si128(fail, _mm_or_si128(satFail, s.satFailAll));
  // Dominance: g^2 against the limit times r x b (b x b or r x r when one is 0, 1 when
  // both are: only then is the product 0). Byte products fit in 16 bits unsigned.
  const __m128i zero = _mm_setzero_si128();
  const __m128i rn = SelectI(_mm_cmpeq_epi16(r, zero), r, b);
  const __m128i bn = SelectI(_mm_cmpeq_epi16(b, zero), b, r);
  const __m128i product = _mm_mullo_epi16(rn, bn);
  const __m128i d = _mm_or_si128(product, _mm_and_si128(_mm_cmpeq_epi16(product, zero), _mm_set1_epi16(1)));
  const __m128i g2 = _mm_srl_epi16(_mm_mullo_epi16(g, g), s.domShift);
  const __m128i domPass = _mm_cmpgt_epi16(g2, _mm_mulhi_epu16(d, s.domPassQ));
  const __m128i domFail = _mm_cmpgt_epi16(_mm_mulhi_epu16(d, s.domFailQ), g2);
  pass = _mm_and_si128(pass, _mm_andnot_si128(s.domFailAll, _mm_or_si128(domPass, s.domPassAll)));
  fail = _mm_or_si128(fail, _mm_or_si128(domFail, s.domFailAll));

  if (_mm_movemask_epi8(_mm_or_si128(pass, fail)) != 0xFFFF) {
    _mm_storeu_si128(p0, KeyBlockExact<kMode>(px0, s));
    _mm_storeu_si128(p1, KeyBlockExact<kMode>(px1, s));
    return;
  }
  const __m128i colourBits = _mm_set1_epi32(0x00FFFFFF);
  const __m128i pass0 = _mm_unpacklo_epi16(pass, pass);
  const __m128i pass1 = _mm_unpackhi_epi16(pass, pass);
  _mm_storeu_si128(p0, _mm_or_si128(_mm_and_si128(px0, colourBits), _mm_andnot_si128(pass0, s.alphaBits)));
  _mm_storeu_si128(p1, _mm_or_si128(_mm_and_si128(px1, colourBits), _mm_andnot_si128(pass1, s.alphaBits)));
}

// Whole blocks of 4 pixels: width is a multiple of 4.
template <TKeyMode kMode>
PICTOR_TARGET_SSE2 void KeyBlocks(unsigned char* row, unsigned int width, const colorkey::TKeySetup& key)
{
  const TVecSetup s = Broadcast(key);
  unsigned int x = 0;
  if (kMode != colorkey::kKeyCustom && kMode != colorkey::kKeyNone && key.packedUsable) {
    for (; width - x >= 8; x += 8) {
      __m128i* p = reinterpret_cast<__m128i*>(row + static_cast<std::size_t>(x) * 4);
      KeyTwoBlocks<kMode>(p, p + 1, s);
    }
  }
  for (; x < width; x += 4) {
    __m128i* p = reinterpret_cast<__m128i*>(row + static_cast<std::size_t>(x) * 4);
    _mm_storeu_si128(p, KeyBlock<kMode>(_mm_loadu_si128(p), s));
  }
}

PICTOR_TARGET_SSE2 void KeyBlocksOfMode(unsigned char* row, unsigned int width, const colorkey::TKeySetup& key)
{
  colorkey::WithMode(key.mode, [&](auto mode) { KeyBlocks<decltype(mode)::value>(row, width, key); });
}

}  // namespace

void colorkey::KeyRow_SSE2(unsigned char* row, unsigned int width, const TKeySetup& key)
{
  KeyRowAny<4, KeyBlocksOfMode>(row, width, key);
}

#endif  // PICTOR_X86
