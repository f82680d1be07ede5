// SSE2 version of the colour key (the x86-64 baseline): 4 pixels per step, the same
// single-precision operations in the same order as RemoveKeyColor_C.
#include "preview/ColorKey.h"

#if PICTOR_X86

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "preview/ColorKeyInternal.h"

PICTOR_NO_FP_CONTRACT

namespace {

using colorkey::TKeyMode;

struct TVecSetup {
  __m128 hueLow, hueHigh, minSaturation, minValue, dominanceLimit;
  __m128i alphaBits;  // opacity in the alpha byte of every lane
};

PICTOR_TARGET_SSE2 PICTOR_FORCE_INLINE __m128 Select(__m128 mask, __m128 ifFalse, __m128 ifTrue) {
  return _mm_or_ps(_mm_and_ps(mask, ifTrue), _mm_andnot_ps(mask, ifFalse));
}

// byte / 255 rounded once to single precision without a division (see the AVX2 version).
PICTOR_TARGET_SSE2 PICTOR_FORCE_INLINE __m128 UnitFromBytes(__m128i v) {
  const __m128 x = _mm_cvtepi32_ps(v);
  return _mm_add_ps(_mm_mul_ps(x, _mm_set1_ps(colorkey::kInv255High)),
                    _mm_mul_ps(x, _mm_set1_ps(colorkey::kInv255Low)));
}

template <TKeyMode kMode>
PICTOR_TARGET_SSE2 PICTOR_FORCE_INLINE __m128i KeyBlock(__m128i px, const TVecSetup& s) {
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

template <TKeyMode kMode>
PICTOR_TARGET_SSE2 void KeyRows(unsigned char* pixels, unsigned int width, unsigned int height,
                                unsigned int stride, const TVecSetup& s) {
  for (unsigned int y = 0; y < height; ++y) {
    unsigned char* row = pixels + static_cast<std::size_t>(y) * stride;
    unsigned int x = 0;
    for (; width - x >= 4; x += 4) {
      __m128i* p = reinterpret_cast<__m128i*>(row + static_cast<std::size_t>(x) * 4);
      _mm_storeu_si128(p, KeyBlock<kMode>(_mm_loadu_si128(p), s));
    }
    if (x < width) {
      // Leftover pixels go through the same block, padded with zeros.
      const std::size_t bytes = static_cast<std::size_t>(width - x) * 4;
      alignas(16) uint32_t tail[4] = {};
      std::memcpy(tail, row + static_cast<std::size_t>(x) * 4, bytes);
      __m128i* t = reinterpret_cast<__m128i*>(tail);
      _mm_store_si128(t, KeyBlock<kMode>(_mm_load_si128(t), s));
      std::memcpy(row + static_cast<std::size_t>(x) * 4, tail, bytes);
    }
  }
}

}  // namespace

PICTOR_TARGET_SSE2 void RemoveKeyColor_SSE2(unsigned char* pixels, unsigned int width,
                                            unsigned int height, unsigned int stride,
                                            float sensitivity, float smoothing,
                                            unsigned char opacity,
                                            TRemoveBackgroundColorType colorType,
                                            unsigned int customColor) {
  if (pixels == nullptr || width == 0 || height == 0) return;
  const colorkey::TKeySetup setup = colorkey::PrepareKey(sensitivity, smoothing, colorType, customColor);
  TVecSetup s;
  s.hueLow = _mm_set1_ps(setup.hueLow);
  s.hueHigh = _mm_set1_ps(setup.hueHigh);
  s.minSaturation = _mm_set1_ps(setup.minSaturation);
  s.minValue = _mm_set1_ps(setup.minValue);
  s.dominanceLimit = _mm_set1_ps(setup.dominanceLimit);
  s.alphaBits = _mm_set1_epi32(static_cast<int>(static_cast<uint32_t>(opacity) << 24));
  switch (setup.mode) {
    case colorkey::kKeyGreen: KeyRows<colorkey::kKeyGreen>(pixels, width, height, stride, s); break;
    case colorkey::kKeyBlue: KeyRows<colorkey::kKeyBlue>(pixels, width, height, stride, s); break;
    case colorkey::kKeyCustom: KeyRows<colorkey::kKeyCustom>(pixels, width, height, stride, s); break;
    case colorkey::kKeyNone: KeyRows<colorkey::kKeyNone>(pixels, width, height, stride, s); break;
  }
}

#endif  // PICTOR_X86
