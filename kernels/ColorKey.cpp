// The colour key's image function: argument checks, the limits prepared once per image,
// the rows, and the dispatcher that picks the fastest row kernel from the processor's
// features.
#include "kernels/ColorKey.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#include "kernels/ColorKeyInternal.h"
#include "kernels/CpuFeatures.h"

namespace colorkey {

float SmallestFloatNotBelow(double t)
{
  if (std::isnan(t)) return std::numeric_limits<float>::quiet_NaN();
  if (t > static_cast<double>(std::numeric_limits<float>::max())) return std::numeric_limits<float>::infinity();
  if (t < -static_cast<double>(std::numeric_limits<float>::max()))
    return std::isinf(t) ? -std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::max();
  float f = static_cast<float>(t);
  if (static_cast<double>(f) < t) f = std::nextafter(f, std::numeric_limits<float>::infinity());
  return f;
}

namespace {

// Fixed-point forms of the sure tests; see TKeySetup. Every threshold is rounded away
// from the side it proves (up for a pass, down for a fail), so the fixed point can only
// leave more pixels unsure, never decide one differently.
void PreparePacked(TKeySetup* setup)
{
  setup->packedUsable = true;
  setup->satPassAll = setup->satFailAll = setup->domPassAll = setup->domFailAll = false;
  setup->satPassQ = 65535;
  setup->satFailQ = 0;
  setup->domPassQ = 32767;
  setup->domFailQ = 0;
  setup->domShift = 1;

  // Saturation lies in 0..1 and is exactly 1 when the smallest channel is 0.
  const float t = setup->minSaturation;
  if (std::isnan(t) || t > 1.0f) {
    setup->satFailAll = true;
  } else if (t <= 0.0f) {
    setup->satPassAll = true;
  } else {
    // A pass threshold at or beyond 1 clamps to 65535, which passes exactly the pixels
    // whose smallest channel is 0: saturation 1, which passes any limit up to 1.
    const double pass = std::ceil(static_cast<double>(setup->saturationPass) * 65536.0);
    setup->satPassQ = static_cast<unsigned short>(std::min(pass, 65535.0));
    setup->satFailQ = static_cast<unsigned short>(std::floor(static_cast<double>(setup->saturationFail) * 65536.0));
  }

  // The ratio g^2 / d never exceeds 255^2 (d is at least 1 in byte units).
  const float l = setup->dominanceLimit;
  if (std::isnan(l) || setup->dominanceFail > 65100.0f) {
    setup->domFailAll = true;
  } else if (l < 0.0f) {
    setup->domPassAll = true;
  } else if (setup->dominancePass > 4096.0f) {
    setup->packedUsable = false;
  } else {
    // g^2 (up to 65025) is shifted right by at least 1 to stay a positive 16-bit value,
    // and the limit scaled by 2^-shift stays below 0.5 so that products stay below 2^15.
    int shift = 1;
    while (static_cast<double>(setup->dominancePass) >= std::ldexp(0.5, shift)) ++shift;
    setup->domShift = shift;
    setup->domPassQ =
        static_cast<unsigned short>(std::ceil(std::ldexp(static_cast<double>(setup->dominancePass), 16 - shift)));
    setup->domFailQ =
        static_cast<unsigned short>(std::floor(std::ldexp(static_cast<double>(setup->dominanceFail), 16 - shift)));
  }
}

}  // namespace

TKeySetup PrepareKey(float sensitivity, float smoothing, unsigned char opacity, TRemoveBackgroundColorType colorType,
                     unsigned int customColor)
{
  TKeySetup setup;
  switch (colorType) {
    case rbcGreen:
      setup.mode = kKeyGreen;
      break;
    case rbcBlue:
      setup.mode = kKeyBlue;
      break;
    case rbcCustom:
      setup.mode = kKeyCustom;
      break;
    default:
      setup.mode = kKeyNone;
      break;
  }
  setup.opacity = opacity;
  HueWindow(colorType, customColor, &setup.hueLow, &setup.hueHigh);
  const float k = 1.0f - sensitivity;
  setup.saturationLimit = static_cast<double>(k) * 0.4;
  setup.valueLimit = static_cast<double>(k) * 0.3;
  setup.minSaturation = SmallestFloatNotBelow(setup.saturationLimit);
  setup.minValue = SmallestFloatNotBelow(setup.valueLimit);
  setup.dominanceLimit = smoothing * 3.5f;

  int byte = 0;
  while (byte < 256 && !(static_cast<float>(byte) / 255.0f >= setup.minValue)) ++byte;
  setup.minValueByte = static_cast<float>(byte);
  setup.hueInLow = setup.hueLow + kHueMargin;
  setup.hueInHigh = setup.hueHigh - kHueMargin;
  setup.hueOutLow = setup.hueLow - kHueMargin;
  setup.hueOutHigh = setup.hueHigh + kHueMargin;

  // The sure tests compare products: chroma against limit x value, and g^2 against
  // limit x (r x b); see ColorKeyInternal.h. Saturation and ratio are never negative, so
  // a limit at or below 0 is decided by sign alone (-1 keeps 0 x limit from being NaN);
  // a NaN limit fails every pixel.
  const float inf = std::numeric_limits<float>::infinity();
  const float t = setup.minSaturation;
  if (std::isnan(t)) {
    setup.saturationPass = setup.saturationFail = inf;
  } else if (t <= 0.0f) {
    setup.saturationPass = setup.saturationFail = -1.0f;
  } else {
    setup.saturationPass = t * (1.0f + kRelativeMargin);
    setup.saturationFail = t * (1.0f - kRelativeMargin);
  }
  const float l = setup.dominanceLimit;
  if (std::isnan(l)) {
    setup.dominancePass = setup.dominanceFail = inf;
  } else if (l < 0.0f) {
    setup.dominancePass = setup.dominanceFail = -1.0f;
  } else {  // 0 stays 0: g^2 > 0 x (r x b) exactly when g is not 0
    setup.dominancePass = l * (1.0f + kRelativeMargin);
    setup.dominanceFail = l * (1.0f - kRelativeMargin);
  }
  PreparePacked(&setup);
  setup.keysNothing = (setup.mode == kKeyGreen || setup.mode == kKeyBlue) && (setup.satFailAll || setup.domFailAll);
  return setup;
}

TKeyRow* SelectKeyRow(unsigned int features)
{
#if PICTOR_X86
  if (features & kernels::kCpuAVX512BW) return KeyRow_AVX512;
  if (features & kernels::kCpuAVX2) return KeyRow_AVX2;
  if (features & kernels::kCpuSSE2) return KeyRow_SSE2;
#else
  (void)features;
#endif
  return KeyRow_C;
}

const char* KeyRowName(TKeyRow* keyRow)
{
#if PICTOR_X86
  if (keyRow == KeyRow_AVX512) return "AVX512";
  if (keyRow == KeyRow_AVX2) return "AVX2";
  if (keyRow == KeyRow_SSE2) return "SSE2";
#endif
  if (keyRow == KeyRow_C) return "C";
  return "unknown";
}

void RemoveKeyColorUsing(TKeyRow* keyRow, unsigned char* pixels, unsigned int width, unsigned int height,
                         unsigned int stride, float sensitivity, float smoothing, unsigned char opacity,
                         TRemoveBackgroundColorType colorType, unsigned int customColor)
{
  if (pixels == nullptr || width == 0 || height == 0) return;
  const TKeySetup key = PrepareKey(sensitivity, smoothing, opacity, colorType, customColor);
  for (unsigned int y = 0; y < height; ++y) keyRow(pixels + static_cast<std::size_t>(y) * stride, width, key);
}

}  // namespace colorkey

void RemoveKeyColor(unsigned char* pixels, unsigned int width, unsigned int height, unsigned int stride,
                    float sensitivity, float smoothing, unsigned char opacity, TRemoveBackgroundColorType colorType,
                    unsigned int customColor)
{
  colorkey::RemoveKeyColorUsing(colorkey::SelectKeyRow(kernels::CpuFeatures()), pixels, width, height, stride,
                                sensitivity, smoothing, opacity, colorType, customColor);
}
