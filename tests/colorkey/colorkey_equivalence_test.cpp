// Every vector version of the colour key against the reference, byte for byte: random
// frames with a fixed seed, every width from 0 to 67, padded strides, guard bytes round
// the frame, every colour type (and values that are none), parameters at and beyond their
// ends, all 2^24 colours, and parameters tuned so that a colour sits exactly on a limit.
// The same for the software compositor's vector kernels, which the image function also
// runs on bands of a frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "kernels/ColorKey.h"
#include "kernels/ColorKeyInternal.h"
#include "kernels/CpuFeatures.h"
#include "kernels/SoftCompose.h"

namespace {

struct TParams {
  float sensitivity;
  float smoothing;
  uint8_t opacity;
  int colorType;
  unsigned int customColor;
};

std::string Describe(const TParams& p)
{
  char text[160];
  std::snprintf(text, sizeof text, "sensitivity %.9g (%a) smoothing %.9g opacity %u type %d custom %08x", p.sensitivity,
                p.sensitivity, p.smoothing, p.opacity, p.colorType, p.customColor);
  return text;
}

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();
const float kSens = TPictorD3D9PreviewChromaKeyingParams::kDefaultSensitivity;
const float kSmooth = TPictorD3D9PreviewChromaKeyingParams::kDefaultSmoothing;

// Colour types with defaults, and sensitivity and smoothing at and beyond their ends.
std::vector<TParams> EdgeParameters()
{
  std::vector<TParams> list;
  const int types[] = {rbcGreen, rbcBlue, rbcCustom, 3, -1};
  const unsigned int customs[] = {0x00FF00, 0x0000FF, 0xFF0000, 0x808080, 0xFF12C0E0, 0x000000, 0xFF00FF};
  for (int type : types) list.push_back({kSens, kSmooth, 255, type, 0x00FF00});
  for (unsigned int c : customs) list.push_back({kSens, kSmooth, 200, rbcCustom, c});
  const float ends[] = {0.0f, 1.0f, 1.5f, -0.5f, -1e-7f, 0.99999994f, 1e30f, -kInf, kInf, kNaN};
  for (float e : ends) {
    for (int type : {int(rbcGreen), int(rbcBlue), int(rbcCustom)}) {
      list.push_back({e, kSmooth, 128, type, 0xFF0000});
      list.push_back({kSens, e, 1, type, 0x00FFFF});
      list.push_back({e, e, 0, type, 0x0000FF});
    }
  }
  return list;
}

struct TKernel {
  const char* name;
  colorkey::TKeyRow* row;
  bool available;
};

std::vector<TKernel> VectorKernels()
{
  using namespace colorkey;
  using namespace kernels;
  const unsigned int cpu = CpuFeatures();
  std::vector<TKernel> kernels;
#if PICTOR_X86
  kernels.push_back({"SSE2", SelectKeyRow(cpu & kCpuSSE2), (cpu & kCpuSSE2) != 0});
  kernels.push_back({"AVX2", SelectKeyRow(cpu & (kCpuSSE2 | kCpuAVX2)), (cpu & kCpuAVX2) != 0});
  kernels.push_back({"AVX512", SelectKeyRow(cpu), (cpu & kCpuAVX512BW) != 0});
#endif
  (void)cpu;
  return kernels;
}

class ColorKeyEquivalence : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override
  {
    const std::vector<TKernel> kernels = VectorKernels();
    if (static_cast<size_t>(GetParam()) >= kernels.size())
      GTEST_SKIP() << "no vector kernels for this processor family";
    kernel_ = kernels[GetParam()];
    if (!kernel_.available) GTEST_SKIP() << "processor lacks " << kernel_.name;
    ASSERT_STREQ(colorkey::KeyRowName(kernel_.row), kernel_.name) << "feature mask did not force the level";
  }

  // Runs reference and kernel on copies of `frame` (which holds `guard` bytes before and
  // after the rows) and compares every byte, guards and row padding included.
  ::testing::AssertionResult Same(const std::vector<uint8_t>& frame, size_t guard, unsigned int width,
                                  unsigned int height, unsigned int stride, const TParams& p)
  {
    std::vector<uint8_t> expect = frame, got = frame;
    const auto type = static_cast<TRemoveBackgroundColorType>(p.colorType);
    colorkey::RemoveKeyColorUsing(colorkey::KeyRow_C, expect.data() + guard, width, height, stride, p.sensitivity,
                                  p.smoothing, p.opacity, type, p.customColor);
    colorkey::RemoveKeyColorUsing(kernel_.row, got.data() + guard, width, height, stride, p.sensitivity, p.smoothing,
                                  p.opacity, type, p.customColor);
    for (size_t i = 0; i < frame.size(); ++i) {
      if (expect[i] != got[i]) {
        const size_t at = i - guard;
        return ::testing::AssertionFailure()
               << kernel_.name << " differs at byte " << i << " (row " << at / stride << ", byte " << at % stride
               << "): reference " << int(expect[i]) << ", kernel " << int(got[i]) << ", input " << int(frame[i])
               << "; width " << width << " height " << height << " stride " << stride << "; " << Describe(p);
      }
    }
    return ::testing::AssertionSuccess();
  }

  TKernel kernel_{};
};

TEST_P(ColorKeyEquivalence, EveryWidthStrideAndEdgeParameter)
{
  std::mt19937 rng(20261205);
  const size_t guard = 64;
  const std::vector<TParams> params = EdgeParameters();
  for (unsigned int width = 0; width <= 67; ++width) {
    for (unsigned int extra : {0u, 4u, 5u, 64u}) {
      const unsigned int stride = width * 4 + extra;
      for (unsigned int height : {0u, 1u, 3u}) {
        std::vector<uint8_t> frame(guard * 2 + size_t(stride) * height + 3);
        for (auto& b : frame) b = static_cast<uint8_t>(rng());
        // Bias a third of the pixels towards green and blue so that every path is taken.
        for (size_t i = guard; i + 4 <= guard + size_t(stride) * height; i += 12) {
          frame[i + (rng() & 1)] |= 0xC0;
        }
        for (const TParams& p : params) {
          ASSERT_TRUE(Same(frame, guard, width, height, stride, p));
        }
      }
    }
  }
}

// All 2^24 colours in one 4096 x 4096 frame, with random alpha bytes.
std::vector<uint8_t> AllColours()
{
  std::vector<uint8_t> frame(size_t(1) << 26);
  std::mt19937 rng(5);
  for (uint32_t c = 0; c < (1u << 24); ++c) {
    const uint32_t px = c | (static_cast<uint32_t>(rng()) << 24);
    std::memcpy(&frame[size_t(c) * 4], &px, 4);
  }
  return frame;
}

// The reference runs once per parameter set here (it dominates the time under the
// sanitizers), and every vector version the processor has is compared with it.
TEST(ColorKeyEquivalenceAllColours, EveryColourForEachColourType)
{
  const std::vector<uint8_t> frame = AllColours();
  const TParams params[] = {
      {kSens, kSmooth, 255, rbcGreen, 0},     {kSens, kSmooth, 255, rbcBlue, 0},
      {kSens, kSmooth, 255, rbcCustom, 0xFF}, {kSens, kSmooth, 255, rbcCustom, 0xFF8000},
      {1.0f, 0.0f, 255, rbcCustom, 0xFF0000}, {0.8f, 0.3f, 9, rbcGreen, 0},
      {1.5f, -1.0f, 255, rbcBlue, 0},         {kNaN, kSmooth, 255, rbcGreen, 0},
      {1.5f, -1.0f, 255, rbcGreen, 0},  // every limit below 0: the hue window alone decides
  };
  // Under the sanitizers the point is memory safety, not more colours: two sets suffice
  // there, and the unoptimised reference would otherwise take minutes.
#if defined(__SANITIZE_ADDRESS__)
  const size_t sets = 2;
#else
  const size_t sets = sizeof params / sizeof params[0];
#endif
  int compared = 0;
  std::vector<uint8_t> expect(frame.size()), got(frame.size());
  for (size_t i = 0; i < sets; ++i) {
    const TParams& p = params[i];
    const auto type = static_cast<TRemoveBackgroundColorType>(p.colorType);
    expect = frame;
    colorkey::RemoveKeyColorUsing(colorkey::KeyRow_C, expect.data(), 4096, 4096, 4096 * 4, p.sensitivity, p.smoothing,
                                  p.opacity, type, p.customColor);
    for (const TKernel& k : VectorKernels()) {
      if (!k.available) continue;
      got = frame;
      colorkey::RemoveKeyColorUsing(k.row, got.data(), 4096, 4096, 4096 * 4, p.sensitivity, p.smoothing, p.opacity,
                                    type, p.customColor);
      const auto diff = std::mismatch(expect.begin(), expect.end(), got.begin());
      ASSERT_TRUE(diff.first == expect.end())
          << k.name << " differs for colour 0x" << std::hex << (diff.first - expect.begin()) / 4 << std::dec
          << ": reference alpha " << int(*diff.first) << ", kernel " << int(*diff.second) << "; " << Describe(p);
      ++compared;
    }
  }
  if (compared == 0) GTEST_SKIP() << "no vector version runs on this processor";
}

// Parameters tuned so that a colour of the frame lies exactly on, or one float step either
// side of, the saturation, value or dominance limit. These are the pixels where a float
// comparison in place of the double one, or a different rounding, would show.
TEST_P(ColorKeyEquivalence, PixelsNearestEachLimit)
{
  std::mt19937 rng(11);
  const unsigned int width = 64, height = 64;
  std::vector<uint8_t> frame(width * height * 4);
  for (auto& b : frame) b = static_cast<uint8_t>(rng());
  std::vector<TParams> tuned;
  for (int i = 0; i < 60; ++i) {
    const uint8_t* px = &frame[(rng() % (width * height)) * 4];
    for (int type : {int(rbcGreen), int(rbcBlue)}) {
      const float r = px[2] / 255.0f;
      const float g = (type == rbcBlue ? px[0] : px[1]) / 255.0f;
      const float b = (type == rbcBlue ? px[1] : px[0]) / 255.0f;
      const colorkey::THsv hsv = colorkey::FastRgbToHsv(r, g, b);
      float d = (r != 0 ? r : b) * (b != 0 ? b : r);
      if (r == 0 && b == 0) d = colorkey::kDominanceFloor;
      const float ratio = g * g / d;
      const float onSaturation = static_cast<float>(1.0 - hsv.saturation / 0.4);
      const float onValue = static_cast<float>(1.0 - hsv.value / 0.3);
      const float onDominance = ratio / 3.5f;
      for (int step = -2; step <= 2; ++step) {
        float s1 = onSaturation, s2 = onValue, sm = onDominance;
        for (int n = 0; n < std::abs(step); ++n) {
          const float dir = step < 0 ? -kInf : kInf;
          s1 = std::nextafter(s1, dir);
          s2 = std::nextafter(s2, dir);
          sm = std::nextafter(sm, dir);
        }
        tuned.push_back({s1, 0.0f, 255, type, 0});
        tuned.push_back({s2, 0.0f, 255, type, 0});
        tuned.push_back({1.0f, sm, 255, type, 0});
      }
    }
  }
  // Custom keys whose window edges fall on the hue of a frame colour.
  for (int i = 0; i < 40; ++i) tuned.push_back({1.0f, 0.0f, 255, rbcCustom, static_cast<unsigned int>(rng())});
  for (const TParams& p : tuned) ASSERT_TRUE(Same(frame, 0, width, height, width * 4, p));
}

// Random frames of odd sizes, alphas mostly 0 or 255 and in places wholly so, either row
// order, with a background of another size or none; the vector version composes in two
// bands of random extent.
TEST_P(ColorKeyEquivalence, SoftComposeInBandsGivesTheReferenceBytes)
{
  using namespace kernels;
  const unsigned int levels[] = {kCpuSSE2, kCpuSSE2 | kCpuAVX2, ~0u};
  const auto compositorAt = [](unsigned int level) {
    const TCpuFeatureMask mask(level);
    return TSoftCompositor();
  };
  TSoftCompositor reference = compositorAt(0), vector = compositorAt(levels[GetParam()]);
  if (std::strcmp(vector.KernelName(), kernel_.name) != 0) GTEST_SKIP() << "no " << kernel_.name << " compositor";
  std::mt19937 rng(29);
  auto randomPixels = [&](std::vector<uint8_t>& bytes) {
    for (size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = i % 4 != 3 || rng() % 3 == 0 ? uint8_t(rng()) : 255 * (rng() & 1);
  };
  for (unsigned int width : {1u, 2u, 3u, 7u, 15u, 16u, 17u, 31u, 33u, 47u, 67u}) {
    for (unsigned int height : {1u, 2u, 5u, 11u}) {
      std::vector<uint8_t> camera(size_t(width * 4 + 4) * height), background(size_t(width * 4 + 16) * (height + 3));
      randomPixels(camera);
      randomPixels(background);
      // Camera alphas in cells of 24 x 6 pixels, each wholly 0, wholly 255 or as drawn, so
      // that blocks wholly of background or of camera occur beside mixed ones.
      const unsigned int cellsX = width / 24 + 1;
      std::vector<unsigned int> cells(size_t(cellsX) * (height / 6 + 1));
      for (unsigned int& kind : cells) kind = rng() % 3;
      for (unsigned int y = 0; y < height; ++y)
        for (unsigned int x = 0; x < width; ++x)
          if (const unsigned int kind = cells[y / 6 * cellsX + x / 24]; kind < 2)
            camera[size_t(y) * (width * 4 + 4) + x * 4 + 3] = kind ? 255 : 0;
      // Half the backgrounds cover whole rows (those rows compose in one walk with the window's advance).
      const unsigned int backgroundWidth = rng() & 1 ? width + rng() % 4 : 1 + rng() % width;
      const TSoftPlane backgroundPlane{background.data(), backgroundWidth, 1 + unsigned(rng() % (height + 3)),
                                       width * 4 + 16, (rng() & 1) != 0};
      const unsigned int stride = width * 4 + 8;
      std::vector<uint8_t> expect(size_t(stride) * height, 0xA5), got = expect;
      TSoftComposeFrame frame{{camera.data(), width, height, width * 4 + 4, (rng() & 1) != 0},
                              rng() % 3 ? &backgroundPlane : nullptr,
                              {expect.data(), stride, (rng() & 1) != 0}};
      ASSERT_TRUE(reference.Compose(frame));
      frame.target.pixels = got.data();
      const unsigned int split = rng() % (height + 1);
      ASSERT_TRUE(vector.Prepare(width, 2));
      ASSERT_TRUE(vector.ComposeRows(frame, split, height, 1));
      ASSERT_TRUE(vector.ComposeRows(frame, 0, split, 0));
      ASSERT_TRUE(expect == got) << width << "x" << height << ", bands split at " << split;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Kernels, ColorKeyEquivalence, ::testing::Values(0, 1, 2),
                         [](const ::testing::TestParamInfo<int>& kernel) {
                           return std::string(kernel.param == 0 ? "SSE2" : kernel.param == 1 ? "AVX2" : "AVX512");
                         });

}  // namespace
