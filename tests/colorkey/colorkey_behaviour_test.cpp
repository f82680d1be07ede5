// What the colour key does to particular colours: which are keyed for each colour type,
// pixels exactly on each limit, and what it leaves alone.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "kernels/ColorKey.h"
#include "kernels/ColorKeyInternal.h"
#include "kernels/CpuFeatures.h"

namespace {

TEST(ColorKey, ColoursAreKeyedByHueWindowSaturationValueAndDominance)
{
  const float s = 0.49512199f, m = 0.52926803f;  // the defaults a host gets
  const TRemoveBackgroundColorType G = rbcGreen, B = rbcBlue, C = rbcCustom;
  // Colour, key, custom colour, sensitivity, smoothing, and 0 when keyed (200 otherwise).
  // clang-format off
  const struct { uint8_t r, g, b; TRemoveBackgroundColorType type; unsigned int custom; float s, m; int alpha; } cases[] = {
      {0, 255, 0, G, 0, s, m, 0}, {0, 0, 255, B, 0, s, m, 0},
      {0, 0, 255, G, 0, s, m, 200}, {0, 255, 0, B, 0, s, m, 200}, {255, 0, 0, G, 0, s, m, 200},
      {128, 128, 128, G, 0, s, m, 200}, {255, 255, 255, B, 0, s, m, 200},  // grey: never for green or blue
      {0, 30, 0, G, 0, s, m, 200},       // value 0.118 < 0.1515
      {0, 45, 0, G, 0, s, m, 0},         // value 0.176
      {210, 255, 210, G, 0, s, m, 200},  // saturation 0.176 < 0.2020
      // Green must outweigh red x blue (blue squared when red is 0) by 3.5 x smoothing.
      {150, 200, 150, G, 0, s, m, 200},  // (200/150)^2 = 1.78 < 1.8524
      {128, 200, 128, G, 0, s, m, 0},    // 2.44
      {0, 200, 150, G, 0, s, m, 200}, {0, 200, 140, G, 0, s, m, 0},
      {150, 150, 200, B, 0, s, m, 200}, {128, 128, 200, B, 0, s, m, 0},  // blue takes green's place
      {150, 200, 150, G, 0, s, 0.0f, 0}, {0, 255, 0, G, 0, s, 1e30f, 200},
      // Exactly on a limit: the hue window and the saturation and value limits include it,
      // the dominance limit does not.
      {255, 255, 0, G, 0, s, 0.0f, 0},              // hue 60 degrees
      {0, 255, 255, G, 0, s, 0.0f, 0},              // hue 180 degrees
      {0, 192, 0, G, 0, -1.5f, 0.0f, 0},            // saturation limit 2.5 x 0.4 = 1
      {100, 200, 100, G, 0, s, 0x1.24924ap+0f, 200},  // limit 4 = (200/100)^2
      {128, 128, 128, C, 0xFF0000, 0.99f, m, 200}, {128, 128, 128, C, 0xFF0000, 1.0f, m, 0},  // saturation 0
      {0, 0, 0, C, 0xFF0000, 1.0f, m, 0},           // value 0
      // A custom key's window is 60 degrees either side of its hue, not wrapped round 0,
      // with no dominance test; bits 24-31 of the colour are ignored.
      {0, 255, 234, C, 0x0000FF, s, m, 200},  // 175 degrees against blue's 240
      {0, 170, 255, C, 0x0000FF, s, m, 0},    // 200 degrees
      {200, 0, 255, C, 0x0000FF, s, m, 0},    // 287 degrees
      {255, 0, 200, C, 0x0000FF, s, m, 200},  // 313 degrees
      {0, 170, 255, C, 0xFF0000FF, s, m, 0}, {150, 150, 200, C, 0x0000FF, s, m, 0},
      {255, 128, 0, C, 0xFF0000, s, m, 0},    // 30 degrees against red's 0
      {255, 0, 43, C, 0xFF0000, s, m, 200},   // 350 degrees
      {0, 255, 0, TRemoveBackgroundColorType(3), 0x00FF00, 1.0f, 0.0f, 200}};  // unknown: nothing
  // clang-format on
  for (colorkey::TKeyRow* row : {colorkey::KeyRow_C, colorkey::SelectKeyRow(kernels::CpuFeatures())}) {
    for (const auto& c : cases) {
      uint8_t px[4] = {c.b, c.g, c.r, 0x5A};
      colorkey::RemoveKeyColorUsing(row, px, 1, 1, 4, c.s, c.m, 200, c.type, c.custom);
      EXPECT_EQ(px[3], c.alpha) << colorkey::KeyRowName(row) << " rgb " << int(c.r) << "," << int(c.g) << ","
                                << int(c.b) << " type " << c.type << " sensitivity " << c.s << " smoothing " << c.m;
    }
  }
}

TEST(ColorKey, OnlyAlphaBytesOfTheFrameChange)
{
  const unsigned int width = 37, height = 5, stride = width * 4 + 12;
  std::vector<uint8_t> frame(stride * height);
  std::mt19937 rng(7);
  for (auto& b : frame) b = static_cast<uint8_t>(rng());
  for (unsigned int x = 0; x < width; x += 3) frame[x * 4] = frame[x * 4 + 2] = 0, frame[x * 4 + 1] = 255;  // keyed
  const std::vector<uint8_t> before = frame;
  RemoveKeyColor(frame.data(), width, height, stride, 0.49512199f, 0.52926803f, 77, rbcGreen, 0);
  int keyed = 0;
  for (size_t at = 0; at < frame.size(); ++at) {
    if (at % stride < width * 4 && at % 4 == 3) {
      ASSERT_TRUE(frame[at] == 77 || frame[at] == 0) << at;
      keyed += frame[at] == 0;
    } else {
      ASSERT_EQ(frame[at], before[at]) << at;
    }
  }
  EXPECT_GE(keyed, 13);
  std::vector<uint8_t> untouched(64, 0xA5);  // empty frames and null pixels write nothing
  RemoveKeyColor(untouched.data(), 4, 0, 16, 0.5f, 0.5f, 255, rbcGreen, 0);
  RemoveKeyColor(untouched.data(), 0, 4, 16, 0.5f, 0.5f, 255, rbcGreen, 0);
  EXPECT_EQ(untouched, std::vector<uint8_t>(64, 0xA5));
  RemoveKeyColor(nullptr, 4, 4, 16, 0.5f, 0.5f, 255, rbcGreen, 0);
}

}  // namespace
