// Pieces shared by the versions of the colour key: the hue/saturation/value form, the hue
// window, and the per-call limits in the form the vector versions compare against.
#pragma once

#include "PictorPreviewRecords.h"

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
void HueWindow(TRemoveBackgroundColorType colorType, unsigned int customColor, float* lo,
               float* hi);

enum TKeyMode { kKeyNone, kKeyGreen, kKeyBlue, kKeyCustom };

// Everything a vector version needs, computed once per call. The saturation and value
// limits are compared in double precision by the definition; since saturation and value
// are floats, "(double)x >= t" is the same as "x >= the smallest float not below t", so
// the vector versions compare floats against these rounded limits.
struct TKeySetup {
  TKeyMode mode;
  float hueLow, hueHigh;
  float minSaturation;
  float minValue;
  float dominanceLimit;
};

TKeySetup PrepareKey(float sensitivity, float smoothing, TRemoveBackgroundColorType colorType,
                     unsigned int customColor);

// Smallest float f with (double)f >= t; +inf when no finite float is, NaN for NaN.
float SmallestFloatNotBelow(double t);

}  // namespace colorkey
