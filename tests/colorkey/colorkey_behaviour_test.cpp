// What the colour key does to particular colours: which are keyed for each colour type,
// and what it leaves alone.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "preview/ColorKey.h"

namespace {

struct Rgb {
  uint8_t r, g, b;
};

// Keys one pixel (alpha starts at 0x5A) with the library's own choice of kernel and
// returns the alpha it got.
uint8_t AlphaOf(Rgb c, TRemoveBackgroundColorType type, unsigned int custom = 0,
                float sensitivity = TPictorD3D9PreviewChromaKeyingParams::kDefaultSensitivity,
                float smoothing = TPictorD3D9PreviewChromaKeyingParams::kDefaultSmoothing,
                uint8_t opacity = 200) {
  uint8_t px[4] = {c.b, c.g, c.r, 0x5A};
  RemoveKeyColor(px, 1, 1, 4, sensitivity, smoothing, opacity, type, custom);
  EXPECT_EQ(px[0], c.b);
  EXPECT_EQ(px[1], c.g);
  EXPECT_EQ(px[2], c.r);
  return px[3];
}

TEST(ColorKeyDefaults, GreenAndBlueKeysRemoveTheirOwnColourOnly) {
  EXPECT_EQ(AlphaOf({0, 255, 0}, rbcGreen), 0);
  EXPECT_EQ(AlphaOf({0, 0, 255}, rbcBlue), 0);
  EXPECT_EQ(AlphaOf({0, 0, 255}, rbcGreen), 200);  // hue 240 degrees: outside the window
  EXPECT_EQ(AlphaOf({0, 255, 0}, rbcBlue), 200);
  EXPECT_EQ(AlphaOf({255, 0, 0}, rbcGreen), 200);
  // A dark or a washed-out green stays: value and saturation limits.
  EXPECT_EQ(AlphaOf({0, 30, 0}, rbcGreen), 200);     // value 0.118 < 0.1515
  EXPECT_EQ(AlphaOf({0, 45, 0}, rbcGreen), 0);       // value 0.176
  EXPECT_EQ(AlphaOf({210, 255, 210}, rbcGreen), 200);  // saturation 0.176 < 0.2020
}

TEST(ColorKeyDefaults, GreyIsNeverKeyedForGreenOrBlue) {
  for (int v = 0; v < 256; v += 15) {
    const Rgb grey{uint8_t(v), uint8_t(v), uint8_t(v)};
    EXPECT_EQ(AlphaOf(grey, rbcGreen), 200) << v;
    EXPECT_EQ(AlphaOf(grey, rbcBlue), 200) << v;
  }
}

TEST(ColorKeyDominance, GreenMustOutweighRedTimesBlue) {
  // Hue 120 degrees, saturation 0.25, value 0.78: passes the window; (200/150)^2 = 1.78
  // is below the default limit 1.8524, so the pixel stays.
  EXPECT_EQ(AlphaOf({150, 200, 150}, rbcGreen), 200);
  EXPECT_EQ(AlphaOf({128, 200, 128}, rbcGreen), 0);  // ratio 2.44
  // Smoothing scales the limit: 0 keys everything in the window, a large one nothing.
  EXPECT_EQ(AlphaOf({150, 200, 150}, rbcGreen, 0, 0.49512199f, 0.0f), 0);
  EXPECT_EQ(AlphaOf({0, 255, 0}, rbcGreen, 0, 0.49512199f, 1e30f), 200);
  // With red 0 the product is blue squared; with both 0 it is about 1/255^2.
  EXPECT_EQ(AlphaOf({0, 200, 150}, rbcGreen), 200);   // hue 165, ratio 1.78
  EXPECT_EQ(AlphaOf({0, 200, 140}, rbcGreen), 0);     // ratio 2.04
  // For a blue key blue is the dominant channel and green takes blue's place.
  EXPECT_EQ(AlphaOf({150, 150, 200}, rbcBlue), 200);
  EXPECT_EQ(AlphaOf({128, 128, 200}, rbcBlue), 0);
}

TEST(ColorKeyCustom, WindowIsSixtyDegreesEitherSideOfTheKeyHue) {
  // 0x0000FF is blue in this layout: hue 240, window 180..300.
  EXPECT_EQ(AlphaOf({0, 255, 234}, rbcCustom, 0x0000FF), 200);  // 175 degrees
  EXPECT_EQ(AlphaOf({0, 170, 255}, rbcCustom, 0x0000FF), 0);    // 200 degrees
  EXPECT_EQ(AlphaOf({0, 0, 255}, rbcCustom, 0x0000FF), 0);
  EXPECT_EQ(AlphaOf({200, 0, 255}, rbcCustom, 0x0000FF), 0);    // 287 degrees
  EXPECT_EQ(AlphaOf({255, 0, 200}, rbcCustom, 0x0000FF), 200);  // 313 degrees
  // Bits 24-31 of the colour are ignored.
  EXPECT_EQ(AlphaOf({0, 170, 255}, rbcCustom, 0xFF0000FF), 0);
  // No dominance test for a custom key: a pale but saturated-enough blue goes.
  EXPECT_EQ(AlphaOf({150, 150, 200}, rbcCustom, 0x0000FF), 0);
}

TEST(ColorKeyCustom, WindowDoesNotWrapRoundZero) {
  // A red key (hue 0) has the window -60..60 degrees: only 0..60 can match.
  EXPECT_EQ(AlphaOf({255, 0, 0}, rbcCustom, 0xFF0000), 0);
  EXPECT_EQ(AlphaOf({255, 128, 0}, rbcCustom, 0xFF0000), 0);    // 30 degrees
  EXPECT_EQ(AlphaOf({255, 0, 43}, rbcCustom, 0xFF0000), 200);   // 350 degrees
  EXPECT_EQ(AlphaOf({255, 0, 128}, rbcCustom, 0xFF0000), 200);  // 330 degrees
  // Grey has hue 0 and saturation 0: keyed only once sensitivity reaches 1.
  EXPECT_EQ(AlphaOf({128, 128, 128}, rbcCustom, 0xFF0000), 200);
  EXPECT_EQ(AlphaOf({128, 128, 128}, rbcCustom, 0xFF0000, 0.99f), 200);
  EXPECT_EQ(AlphaOf({128, 128, 128}, rbcCustom, 0xFF0000, 1.0f), 0);
  EXPECT_EQ(AlphaOf({0, 0, 0}, rbcCustom, 0xFF0000, 1.5f), 0);
}

TEST(ColorKeyFrame, OnlyAlphaBytesOfTheFrameChange) {
  const unsigned int width = 37, height = 5, stride = width * 4 + 12;
  std::vector<uint8_t> frame(stride * height);
  std::mt19937 rng(7);
  for (auto& b : frame) b = static_cast<uint8_t>(rng());
  // Some pure green so that keying happens.
  for (unsigned int x = 0; x < width; x += 3) {
    frame[x * 4 + 0] = 0;
    frame[x * 4 + 1] = 255;
    frame[x * 4 + 2] = 0;
  }
  const std::vector<uint8_t> before = frame;
  RemoveKeyColor(frame.data(), width, height, stride, 0.49512199f, 0.52926803f, 77, rbcGreen, 0);
  int keyed = 0;
  for (unsigned int y = 0; y < height; ++y) {
    for (unsigned int i = 0; i < stride; ++i) {
      const size_t at = size_t(y) * stride + i;
      if (i < width * 4 && i % 4 == 3) {
        ASSERT_TRUE(frame[at] == 77 || frame[at] == 0) << y << "," << i;
        keyed += frame[at] == 0;
      } else {
        ASSERT_EQ(frame[at], before[at]) << "byte " << i << " of row " << y;
      }
    }
  }
  EXPECT_GE(keyed, 13);
}

TEST(ColorKeyFrame, EmptyFramesAndNullPixelsWriteNothing) {
  std::vector<uint8_t> frame(64, 0xA5);
  RemoveKeyColor(frame.data(), 4, 0, 16, 0.5f, 0.5f, 255, rbcGreen, 0);
  RemoveKeyColor(frame.data(), 0, 4, 16, 0.5f, 0.5f, 255, rbcGreen, 0);
  EXPECT_EQ(frame, std::vector<uint8_t>(64, 0xA5));
  RemoveKeyColor(nullptr, 4, 4, 16, 0.5f, 0.5f, 255, rbcGreen, 0);
}

TEST(ColorKeyFrame, OpacityReachesEveryUnkeyedPixelAndUnknownTypesKeyNothing) {
  std::vector<uint8_t> frame(16 * 4);
  for (size_t i = 0; i < frame.size(); i += 4) {
    frame[i] = 0; frame[i + 1] = 0; frame[i + 2] = 255; frame[i + 3] = 0x11;  // pure red
  }
  RemoveKeyColor(frame.data(), 16, 1, 64, 0.5f, 0.5f, 0, rbcGreen, 0);
  for (size_t i = 3; i < frame.size(); i += 4) EXPECT_EQ(frame[i], 0);

  for (int type : {3, -1, 0x7FFFFFFF}) {
    for (size_t i = 0; i < frame.size(); i += 4) {
      frame[i] = 0; frame[i + 1] = 255; frame[i + 2] = 0; frame[i + 3] = 0x11;  // pure green
    }
    RemoveKeyColor(frame.data(), 16, 1, 64, 1.0f, 0.0f, 99,
                   static_cast<TRemoveBackgroundColorType>(type), 0x00FF00);
    for (size_t i = 3; i < frame.size(); i += 4) EXPECT_EQ(frame[i], 99) << type;
  }
}

TEST(ColorKeyDispatch, FeatureMaskChoosesTheVersion) {
  EXPECT_STREQ(RemoveKeyColorName(SelectRemoveKeyColor(0)), "C");
#if PICTOR_X86
  EXPECT_STREQ(RemoveKeyColorName(SelectRemoveKeyColor(kColorKeyCpuSSE2)), "SSE2");
  EXPECT_STREQ(RemoveKeyColorName(SelectRemoveKeyColor(kColorKeyCpuSSE2 | kColorKeyCpuAVX2)),
               "AVX2");
  // Every x86-64 processor has SSE2.
  if (sizeof(void*) == 8) {
    EXPECT_TRUE(ColorKeyCpuFeatures() & kColorKeyCpuSSE2);
  }
#endif
}

}  // namespace
