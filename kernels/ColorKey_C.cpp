// The reference row kernel: plain scalar single-precision arithmetic in exactly the order
// the keying rule states. The vector row kernels are checked against it byte for byte.
#include <algorithm>
#include <cmath>
#include <utility>

#include "kernels/ColorKeyInternal.h"

namespace colorkey {

THsv FastRgbToHsv(float r, float g, float b)
{
  float k = 0.0f;
  if (b > g) {
    std::swap(g, b);
    k = -1.0f;
  }
  if (g > r) {
    std::swap(r, g);
    k = kMinusOneThird - k;
  }
  const float chroma = r - std::min(g, b);
  THsv hsv;
  hsv.hue = std::fabs(k + (g - b) / (6.0f * chroma + kTiny));
  hsv.saturation = chroma / (r + kTiny);
  hsv.value = r;
  return hsv;
}

void HueWindow(TRemoveBackgroundColorType colorType, unsigned int customColor, float* lo, float* hi)
{
  if (colorType != rbcCustom) {
    *lo = 0.16666667f;
    *hi = 0.5f;
    return;
  }
  const float red = static_cast<float>((customColor >> 16) & 0xFF) / 255.0f;
  const float green = static_cast<float>((customColor >> 8) & 0xFF) / 255.0f;
  const float blue = static_cast<float>(customColor & 0xFF) / 255.0f;
  const int degrees = static_cast<int>(FastRgbToHsv(red, green, blue).hue * 360.0f);
  *lo = static_cast<float>(degrees - 60) / 360.0f;
  *hi = static_cast<float>(degrees + 60) / 360.0f;
}

void KeyRow_C(unsigned char* row, unsigned int width, const TKeySetup& key)
{
  // Which byte feeds r, g and b: blue and green trade places for a blue key, so that
  // blue pixels fall into the green hue window.
  const int rIndex = 2;
  const int gIndex = key.mode == kKeyBlue ? 0 : 1;
  const int bIndex = key.mode == kKeyBlue ? 1 : 0;

  unsigned char* p = row;
  for (unsigned int x = 0; x < width; ++x, p += 4) {
    unsigned char alpha = key.opacity;
    if (key.mode != kKeyNone) {
      const float r = static_cast<float>(p[rIndex]) / 255.0f;
      const float g = static_cast<float>(p[gIndex]) / 255.0f;
      const float b = static_cast<float>(p[bIndex]) / 255.0f;
      const THsv hsv = FastRgbToHsv(r, g, b);
      const bool isKey = key.hueLow <= hsv.hue && hsv.hue <= key.hueHigh &&
                         static_cast<double>(hsv.saturation) >= key.saturationLimit &&
                         static_cast<double>(hsv.value) >= key.valueLimit;
      if (isKey) {
        if (key.mode == kKeyCustom) {
          alpha = 0;
        } else {
          float d = (r != 0.0f ? r : b) * (b != 0.0f ? b : r);
          if (r == 0.0f && b == 0.0f) d = kDominanceFloor;
          if (g * g / d > key.dominanceLimit) alpha = 0;
        }
      }
    }
    p[3] = alpha;
  }
}

}  // namespace colorkey
