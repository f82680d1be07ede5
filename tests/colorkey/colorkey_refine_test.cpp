// The key's refinements for real screens: spill suppression on kept pixels and the choke
// of the matte, with each row kernel version, and the versions against the reference.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "kernels/ColorKey.h"
#include "kernels/ColorKeyInternal.h"
#include "kernels/CpuFeatures.h"
#include "kernels/KeyRefine.h"
#include "kernels/KeySample.h"
#include "tools/virtualcam/FramePattern.h"

namespace {

// The reference, SSE2 and, where the processor has it, AVX2.
const unsigned int kLevels[] = {0, kernels::kCpuSSE2, kernels::kCpuSSE2 | kernels::kCpuAVX2};

TKeyRefiner RefinerAt(unsigned int level)
{
  const kernels::TCpuFeatureMask mask(level);
  return TKeyRefiner();
}

TEST(KeyRefine, SpillIsTakenOffKeptPixelsDownToTheMeanOfTheOtherChannels)
{
  const TRemoveBackgroundColorType G = rbcGreen, B = rbcBlue, C = rbcCustom;
  // clang-format off
  const struct { uint8_t r, g, b; TRemoveBackgroundColorType type; unsigned int custom; float strength; uint8_t r2, g2, b2; } cases[] = {
      {162, 122, 56, G, 0, 1.0f, 162, 109, 56}, {162, 122, 56, G, 0, 0.5f, 162, 115, 56},
      {162, 122, 56, G, 0, 7.0f, 162, 109, 56}, {162, 122, 56, G, 0, 0.0f, 162, 122, 56},
      {230, 90, 40, G, 0, 1.0f, 230, 90, 40},    // no excess: the subject stays as it is
      {0, 255, 0, G, 0, 1.0f, 0, 255, 0},        // keyed: left alone
      {180, 120, 170, B, 0, 1.0f, 180, 120, 150}, {162, 122, 56, C, 0x3CAA50, 1.0f, 162, 109, 56},
      {162, 122, 56, TRemoveBackgroundColorType(3), 0, 1.0f, 162, 122, 56}};
  // clang-format on
  const TPictorD3D9PreviewChromaKeyingParams defaults;
  for (unsigned int level : kLevels) {
    TKeyRefiner refiner = RefinerAt(level);
    for (const auto& c : cases) {
      std::vector<uint8_t> row(17 * 4), expected(17 * 4);  // a vector's worth and one more
      for (size_t x = 0; x < 17; ++x) {
        row[x * 4] = c.b, row[x * 4 + 1] = c.g, row[x * 4 + 2] = c.r;
        expected[x * 4] = c.b2, expected[x * 4 + 1] = c.g2, expected[x * 4 + 2] = c.r2;
      }
      TPictorD3D9PreviewChromaKeyingParams keying(defaults.Sensitivity, defaults.Smoothing, 200, c.type, c.custom);
      refiner.KeyAndRefine(row.data(), 17, 1, 17 * 4, keying, c.strength, 0);
      for (size_t x = 0; x < 17; ++x) expected[x * 4 + 3] = row[x * 4 + 3];
      EXPECT_EQ(row, expected) << refiner.KernelName() << " rgb " << int(c.r) << "," << int(c.g) << "," << int(c.b)
                               << " type " << c.type << " strength " << c.strength;
    }
  }
}

TEST(KeyRefine, ChokeShrinksTheMatteButNotAtTheFrameEdges)
{
  // A subject rectangle [x0, x1) x [y0, y1) on green in a 37 x 9 frame, choked by N,
  // leaves the kept rectangle given; edges of the frame do not eat into the matte.
  const struct {
    unsigned int x0, x1, y0, y1, choke, kx0, kx1, ky0, ky1;
  } cases[] = {{5, 30, 2, 8, 0, 5, 30, 2, 8}, {5, 30, 2, 8, 1, 6, 29, 3, 7}, {5, 30, 1, 8, 3, 8, 27, 4, 5},
               {5, 30, 2, 8, 3, 0, 0, 0, 0},  {0, 20, 0, 9, 2, 0, 18, 0, 9}, {20, 37, 0, 9, 9, 23, 37, 0, 9}};
  const unsigned int w = 37, h = 9;
  for (unsigned int level : kLevels) {
    TKeyRefiner refiner = RefinerAt(level);
    for (const auto& c : cases) {
      std::vector<uint8_t> frame(w * h * 4);
      for (unsigned int y = 0; y < h; ++y)
        for (unsigned int x = 0; x < w; ++x) {
          const bool subject = x >= c.x0 && x < c.x1 && y >= c.y0 && y < c.y1;
          uint8_t* p = &frame[(y * w + x) * 4];
          p[0] = subject ? 40 : 0, p[1] = subject ? 90 : 255, p[2] = subject ? 230 : 0;
        }
      refiner.KeyAndRefine(frame.data(), w, h, w * 4, TPictorD3D9PreviewChromaKeyingParams(), 0.0f, c.choke);
      for (unsigned int y = 0; y < h; ++y)
        for (unsigned int x = 0; x < w; ++x) {
          const bool kept = x >= c.kx0 && x < c.kx1 && y >= c.ky0 && y < c.ky1;
          ASSERT_EQ(frame[(y * w + x) * 4 + 3], kept ? 255 : 0)
              << refiner.KernelName() << " case " << (&c - cases) << " at " << x << "," << y;
        }
    }
  }
}

TEST(KeyRefine, VectorKernelsGiveTheReferencesBytes)
{
  std::mt19937 rng(11);
  TKeyRefiner reference = RefinerAt(0);
  for (unsigned int level : kLevels) {
    TKeyRefiner refiner = RefinerAt(level);
    for (unsigned int width : {1u, 2u, 3u, 15u, 16u, 17u, 31u, 32u, 33u, 63u, 67u}) {
      for (unsigned int trial = 0; trial < 8; ++trial) {
        const unsigned int height = 1 + rng() % 6, stride = width * 4 + 8 * (trial % 2);
        // Green, blue and a red custom colour in turn: the key channel in each byte.
        TPictorD3D9PreviewChromaKeyingParams keying;
        const unsigned int keyByte = trial % 3 == 0 ? 1 : trial % 3 == 1 ? 0 : 2;
        keying.ColorType = keyByte == 1 ? rbcGreen : keyByte == 0 ? rbcBlue : rbcCustom;
        keying.CustomColor = 0xD02828;
        std::vector<uint8_t> frame(stride * height);
        for (size_t i = 0; i < frame.size(); ++i)
          frame[i] = uint8_t(i % 4 == keyByte ? 150 + rng() % 106 : rng() % 200);
        std::vector<uint8_t> expected = frame;
        const float spill = float(rng() % 5) / 4.0f;
        const unsigned int choke = rng() % 4;
        reference.KeyAndRefine(expected.data(), width, height, stride, keying, spill, choke);
        if (spill == 0.0f && choke == 0) {  // off: exactly the colour key
          std::vector<uint8_t> keyed = frame;
          RemoveKeyColor(keyed.data(), width, height, stride, keying.Sensitivity, keying.Smoothing, 255,
                         keying.ColorType, keying.CustomColor);
          ASSERT_EQ(keyed, expected);
        }
        refiner.KeyAndRefine(frame.data(), width, height, stride, keying, spill, choke);
        ASSERT_EQ(frame, expected) << refiner.KernelName() << " width " << width << " height " << height << " spill "
                                   << spill << " choke " << choke << " key byte " << keyByte;
      }
    }
  }
}

}  // namespace

TEST(KeySample, ScreenColourIsTheBordersDominantColourWithinEightLevels)
{
  auto sample = [](const char* camera, unsigned int* rgb) {
    const virtualcam::ParseResult config = virtualcam::ParseConfig(std::string("camera link=a ") + camera);
    std::vector<uint8_t> picture, frame(1280 * 720 * 4);
    virtualcam::RenderRgb(config.cameras.at(0).pattern, 1280, 720, 0, &picture);
    virtualcam::EncodeFrame(virtualcam::Subtype::RGB32, 1280, 720, true, picture.data(), frame.data());
    TScreenSampler sampler;
    sampler.Take(frame.data(), 1280, 720, 1280 * 4);
    return sampler.Sample(rgb);
  };
  for (unsigned int screen : {0x3CAA50u, 0x2B60C8u, 0xD02828u}) {
    char camera[96];
    std::snprintf(camera, sizeof camera, "pattern=greenscreen screen=%06X uneven=20 spill=40 soft-edge=1", screen);
    unsigned int rgb = 0;
    ASSERT_TRUE(sample(camera, &rgb)) << camera;
    for (int shift : {0, 8, 16})
      EXPECT_NEAR(int(rgb >> shift & 0xFF), int(screen >> shift & 0xFF), 8) << camera << " gave " << std::hex << rgb;
  }
  unsigned int rgb = 0;
  EXPECT_FALSE(sample("pattern=bars", &rgb));  // no colour holds a third of the border
  EXPECT_FALSE(TScreenSampler().Sample(&rgb));
}
