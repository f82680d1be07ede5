// The colour key's inside: the image function runs one row kernel per row, with limits
// prepared once per image. KeyRow_C is the definition; the vector row kernels give its
// output byte for byte, and the fastest the processor offers is picked once.
#pragma once

#include <type_traits>

#include "PictorConfig.h"
#include "PictorPreviewRecords.h"
#include "kernels/RowAny.h"

namespace colorkey {

// -1/3 as the single-precision constant the hue arithmetic uses.
constexpr float kMinusOneThird = -0.33333334f;
// Guards the hue and saturation divisions against a zero denominator.
constexpr float kTiny = 1e-20f;
// Stands in for the red x blue product when both are 0 (bits 0x37810183, about 1/255^2).
constexpr float kDominanceFloor = 0x1.020306p-16f;

// 1/255 as a sum of two floats: kInv255High has 9 significant bits, so its product with a
// byte (8 bits) is exact; kInv255Low is the rest, rounded.
constexpr float kInv255High = 0x1.01p-8f;
constexpr float kInv255Low = 0x1.010102p-24f;

struct THsv {
  float hue;         // 0..1 for the full circle
  float saturation;  // 0..1
  float value;       // the largest channel
};

// Fast RGB-to-HSV in single precision for channels in 0..1.
THsv FastRgbToHsv(float r, float g, float b);

// Hue window lo <= hue <= hi of a colour type: 60..180 degrees for green, blue and
// unknown types; +-60 degrees round the custom colour's hue (not wrapped round).
void HueWindow(TRemoveBackgroundColorType colorType, unsigned int customColor, float* lo, float* hi);

enum TKeyMode { kKeyNone, kKeyGreen, kKeyBlue, kKeyCustom };

// Everything a row kernel needs, computed once per image. The definition compares
// saturation and value in double precision (saturationLimit, valueLimit); since they are
// floats, "(double)x >= t" is the same as "x >= the smallest float not below t", so the
// vector versions compare floats against these rounded limits.
//
// The vector versions first classify each block of pixels without a division, on the
// channel bytes themselves (hue, saturation and the dominance ratio do not change when all
// channels are scaled by 255):
// - saturation: chroma >= limit x value, and the ratio: g^2 > limit x (r x b), with the
//   limits widened by a relative margin of 2^-9 either way. The reference's rounding moves
//   either quantity by less than 2^-14 of itself, so a pixel outside the margins is
//   decided as the reference decides it.
// - hue for green and blue: inside the window exactly when g is strictly the largest
//   channel, outside when another channel is larger or all are equal (a test checks
//   this for all 2^24 colours); only g tied with one other channel for the largest is unsure.
// - hue for a custom colour: from the approximate reciprocal (error below 2^-11 of the
//   quotient, so below 8e-5 of hue), against the window widened by 3e-4 either way.
// - value: exact, as the smallest byte whose unit value passes.
// A block holding any pixel not surely decided is computed again the exact way.
struct TKeySetup {
  TKeyMode mode;
  unsigned char opacity;
  // Green or blue with a saturation or ratio limit no pixel reaches: nothing is keyed.
  bool keysNothing;
  float hueLow, hueHigh;
  double saturationLimit, valueLimit;
  float minSaturation;
  float minValue;
  float dominanceLimit;

  // Approximate classification. Value is exact: the smallest byte whose unit value passes.
  float minValueByte;                    // 0..256; 256 = no byte passes
  float hueInLow, hueInHigh;             // hue surely inside the window between these
  float hueOutLow, hueOutHigh;           // and surely outside below / above these
  float saturationPass, saturationFail;  // sure pass: chroma >= pass x value; fail: < fail x value
  float dominancePass, dominanceFail;    // sure pass: g^2 > pass x d; sure fail: g^2 <= fail x d

  // The same sure tests for green and blue in 16-bit fixed point, two blocks per step.
  // Saturation: chroma x 128 > (value x 128 x satPassQ) >> 16 surely passes,
  // chroma x 128 < (value x 128 x satFailQ) >> 16 surely fails. Dominance:
  // g^2 >> domShift > (d x domPassQ) >> 16 surely passes, g^2 >> domShift <
  // (d x domFailQ) >> 16 surely fails. The ...All flags override for limits the fixed
  // point cannot hold (at or below 0, above the largest ratio, NaN).
  bool packedUsable;  // false: limits out of the fixed-point range, use the float tests
  bool satPassAll, satFailAll, domPassAll, domFailAll;
  unsigned short satPassQ, satFailQ, domPassQ, domFailQ;
  int domShift;
};

// Relative margin round the saturation and ratio limits, absolute margin round the custom
// hue window.
constexpr float kRelativeMargin = 0x1p-9f;
constexpr float kHueMargin = 3e-4f;

TKeySetup PrepareKey(float sensitivity, float smoothing, unsigned char opacity, TRemoveBackgroundColorType colorType,
                     unsigned int customColor);

// Smallest float f with (double)f >= t; +inf when no finite float is, NaN for NaN.
float SmallestFloatNotBelow(double t);

// A row kernel: keys `width` pixels of one row in place. Each version is in its own file,
// compiled for its instruction set.
using TKeyRow = void(unsigned char* row, unsigned int width, const TKeySetup& key);
TKeyRow KeyRow_C;

// body(mode) with the mode as a compile-time constant (std::integral_constant), so that a
// vector kernel is compiled once per mode.
template <typename Body>
PICTOR_FORCE_INLINE void WithMode(TKeyMode mode, Body&& body)
{
  switch (mode) {
    case kKeyGreen:
      body(std::integral_constant<TKeyMode, kKeyGreen>());
      break;
    case kKeyBlue:
      body(std::integral_constant<TKeyMode, kKeyBlue>());
      break;
    case kKeyCustom:
      body(std::integral_constant<TKeyMode, kKeyCustom>());
      break;
    case kKeyNone:
      body(std::integral_constant<TKeyMode, kKeyNone>());
      break;
  }
}

// The row kernel of one instruction set from its body on whole blocks of kBlock pixels
// (kernels/RowAny.h takes the rest of the row).
template <unsigned int kBlock, void (*Blocks)(unsigned char*, unsigned int, const TKeySetup&)>
void KeyRowAny(unsigned char* row, unsigned int width, const TKeySetup& key)
{
  kernels::RowAny<kBlock>(
      width, [&key](unsigned int n, unsigned char* pixels) { Blocks(pixels, n, key); },
      kernels::InOut<unsigned char, 4>{row});
}
#if PICTOR_X86
TKeyRow KeyRow_SSE2, KeyRow_AVX2, KeyRow_AVX512;
#endif

// The fastest row kernel whose features (kernels/CpuFeatures.h) are all in `features`.
// RemoveKeyColor uses SelectKeyRow(kernels::CpuFeatures()).
TKeyRow* SelectKeyRow(unsigned int features);

// "C", "SSE2", "AVX2" or "AVX512" for a row kernel returned by SelectKeyRow.
const char* KeyRowName(TKeyRow* keyRow);

// RemoveKeyColor with the given row kernel in place of the processor's fastest.
void RemoveKeyColorUsing(TKeyRow* keyRow, unsigned char* pixels, unsigned int width, unsigned int height,
                         unsigned int stride, float sensitivity, float smoothing, unsigned char opacity,
                         TRemoveBackgroundColorType colorType, unsigned int customColor);

}  // namespace colorkey
