// The reference colour key: plain scalar single-precision arithmetic in exactly the order
// the keying rule states. The vector versions are checked against it byte for byte.
#include "preview/ColorKey.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

#include "preview/ColorKeyInternal.h"

PICTOR_NO_FP_CONTRACT

namespace colorkey {

THsv FastRgbToHsv(float r, float g, float b) {
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

void HueWindow(TRemoveBackgroundColorType colorType, unsigned int customColor, float* lo,
               float* hi) {
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

}  // namespace colorkey

void RemoveKeyColor_C(unsigned char* pixels, unsigned int width, unsigned int height,
                      unsigned int stride, float sensitivity, float smoothing,
                      unsigned char opacity, TRemoveBackgroundColorType colorType,
                      unsigned int customColor) {
  using namespace colorkey;
  if (pixels == nullptr) return;

  const float dominanceLimit = smoothing * 3.5f;
  const float k = 1.0f - sensitivity;
  float lo, hi;
  HueWindow(colorType, customColor, &lo, &hi);
  const bool known = colorType == rbcGreen || colorType == rbcBlue || colorType == rbcCustom;

  // Which byte feeds r, g and b: blue and green trade places for a blue key, so that
  // blue pixels fall into the green hue window.
  const int rIndex = 2;
  const int gIndex = colorType == rbcBlue ? 0 : 1;
  const int bIndex = colorType == rbcBlue ? 1 : 0;

  for (unsigned int y = 0; y < height; ++y) {
    unsigned char* p = pixels + static_cast<std::size_t>(y) * stride;
    for (unsigned int x = 0; x < width; ++x, p += 4) {
      unsigned char alpha = opacity;
      if (known) {
        const float r = static_cast<float>(p[rIndex]) / 255.0f;
        const float g = static_cast<float>(p[gIndex]) / 255.0f;
        const float b = static_cast<float>(p[bIndex]) / 255.0f;
        const THsv hsv = FastRgbToHsv(r, g, b);
        const bool isKey = lo <= hsv.hue && hsv.hue <= hi &&
                           static_cast<double>(hsv.saturation) >= static_cast<double>(k) * 0.4 &&
                           static_cast<double>(hsv.value) >= static_cast<double>(k) * 0.3;
        if (isKey) {
          if (colorType == rbcCustom) {
            alpha = 0;
          } else {
            float d = (r != 0.0f ? r : b) * (b != 0.0f ? b : r);
            if (r == 0.0f && b == 0.0f) d = kDominanceFloor;
            if (g * g / d > dominanceLimit) alpha = 0;
          }
        }
      }
      p[3] = alpha;
    }
  }
}
