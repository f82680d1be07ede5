// The person matte's kernels: every vector version against the reference bit for bit
// (random rows and kept bits, every width from 0 to 67, guard bytes, coefficients at and
// beyond their ends), the shrink against the exact area means, and the guided matte's edges.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "kernels/PersonMatte.h"
#include "kernels/PersonMatteInternal.h"
#include "kernels/CpuFeatures.h"

using namespace personmatte;

namespace {

std::vector<TRowKernels> VectorKernels()
{
  std::vector<TRowKernels> kernels;
#if PICTOR_X86
  const unsigned int cpu = kernels::CpuFeatures();
  if (cpu & kernels::kCpuSSE2) kernels.push_back(SelectRowKernels(kernels::kCpuSSE2));
  if (cpu & kernels::kCpuAVX2) kernels.push_back(SelectRowKernels(kernels::kCpuSSE2 | kernels::kCpuAVX2));
#endif
  return kernels;
}

}  // namespace

TEST(PersonMatteKernels, VectorRowsMatchTheReferenceBitForBit)
{
  const std::vector<TRowKernels> kernels = VectorKernels();
  if (kernels.empty()) GTEST_SKIP() << "no vector kernels for this processor";
  std::mt19937 rng(31);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_real_distribution<float> coefficient(-3.0f, 3.0f);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  constexpr size_t kGuard = 64;
  for (const TRowKernels& k : kernels) {
    for (unsigned int width = 0; width <= 67; ++width) {
      std::vector<uint8_t> row(4 * width + 2 * kGuard);
      for (auto& b : row) b = static_cast<uint8_t>(byte(rng));
      std::vector<float> c[4];
      for (auto& plane : c) {
        plane.resize(width);
        for (auto& v : plane) v = coefficient(rng);
      }
      if (width > 5) c[0][5] = nan;  // a broken coefficient gives alpha 0 everywhere
      if (width > 6) c[3][6] = 1e30f;
      const TMatteRowParams params{0.25f, 0.45f, 0.55f, 200.0f};
      std::vector<uint8_t> kept(16);
      for (auto& b : kept) b = static_cast<uint8_t>(byte(rng));
      std::vector<uint8_t> expect = row, got = row, keptExpect = kept, keptGot = kept;
      MatteRow_C(expect.data() + kGuard, keptExpect.data(), c[0].data(), c[1].data(), c[2].data(), c[3].data(), width,
                 params);
      k.matte(got.data() + kGuard, keptGot.data(), c[0].data(), c[1].data(), c[2].data(), c[3].data(), width, params);
      ASSERT_EQ(expect, got) << k.name << " matte, width " << width;
      ASSERT_EQ(keptExpect, keptGot) << k.name << " kept bits, width " << width;

      std::vector<float> sumsExpect(4 * width + 16, 1.5f), sumsGot = sumsExpect;
      AccumulateRow_C(sumsExpect.data(), row.data() + kGuard, width, 0.3f);
      k.accumulate(sumsGot.data(), row.data() + kGuard, width, 0.3f);
      ASSERT_EQ(0, std::memcmp(sumsExpect.data(), sumsGot.data(), sumsGot.size() * sizeof(float)))
          << k.name << " accumulate, width " << width;
    }
  }
}

TEST(PersonMatteKernels, ShrinkGivesTheMeanOfTheAreaEachOutputPixelCovers)
{
  // 10 x 3 to 4 x 2: output pixels cover 2.5 x 1.5 frame pixels, so every edge is shared.
  const unsigned int w = 10, h = 3, ow = 4, oh = 2, stride = 4 * w + 8;
  std::vector<uint8_t> frame(stride * h);
  std::mt19937 rng(7);
  for (auto& b : frame) b = static_cast<uint8_t>(rng());
  for (bool bottomUp : {false, true}) {
    std::vector<float> planes(3 * ow * oh, -1.0f);
    TFrameShrinker shrinker;
    ASSERT_TRUE(shrinker.Shrink(frame.data(), w, h, stride, bottomUp, ow, oh, planes.data()));
    for (unsigned int oy = 0; oy < oh; ++oy) {
      for (unsigned int ox = 0; ox < ow; ++ox) {
        double sum[3] = {0, 0, 0};
        for (unsigned int y = 0; y < h; ++y) {
          const double cy = std::max(0.0, std::min((oy + 1) * 1.5, y + 1.0) - std::max(oy * 1.5, double(y)));
          for (unsigned int x = 0; x < w; ++x) {
            const double cx = std::max(0.0, std::min((ox + 1) * 2.5, x + 1.0) - std::max(ox * 2.5, double(x)));
            const uint8_t* p = &frame[(bottomUp ? h - 1 - y : y) * stride + 4 * x];
            for (int c = 0; c < 3; ++c) sum[c] += cx * cy * p[2 - c];
          }
        }
        for (int c = 0; c < 3; ++c)
          EXPECT_NEAR(planes[c * ow * oh + oy * ow + ox], sum[c] / (2.5 * 1.5 * 255), 1e-5)
              << "plane " << c << " at " << ox << "," << oy << (bottomUp ? " bottom-up" : "");
      }
    }
  }
  std::vector<float> planes(3);
  EXPECT_FALSE(TFrameShrinker().Shrink(frame.data(), w, h, 4 * w - 1, false, 1, 1, planes.data()));
}

TEST(PersonMatteKernels, MatteEdgeFollowsThePictureNotTheCoarseMask)
{
  // A dark person (left of column 103) before a bright wall, and coarse masks whose half
  // point lies 1.5 model pixels (7.5 frame pixels) right or left of the true edge, as a
  // low-resolution model gives it: the kept region must end at the picture's edge, with
  // no band of the wall kept beside it.
  const unsigned int w = 320, h = 40, lw = 64, lh = 8, edge = 103;
  std::vector<uint8_t> frame(4 * w * h);
  for (unsigned int i = 0; i < w * h; ++i) frame[4 * i] = frame[4 * i + 1] = frame[4 * i + 2] = i % w < edge ? 60 : 200;
  std::vector<float> planes(3 * lw * lh);
  ASSERT_TRUE(TFrameShrinker().Shrink(frame.data(), w, h, 4 * w, false, lw, lh, planes.data()));
  for (float halfPoint : {22.1f, 19.1f}) {
    std::vector<float> mask(lw * lh);
    for (unsigned int i = 0; i < lw * lh; ++i) mask[i] = 1.0f / (1.0f + std::exp((i % lw + 0.5f - halfPoint) * 1.5f));
    TLowResMatte low;
    ASSERT_TRUE(low.Update(planes.data(), mask.data(), lw, lh, TMatteSettings()));
    TMatteTable table;
    ASSERT_TRUE(table.Build(low.A(), low.B(), lw, lh, w, h));
    for (unsigned int features : {0u, ~0u}) {
      const kernels::TCpuFeatureMask level(features);
      std::vector<uint8_t> out = frame;
      ASSERT_TRUE(TMatteWriter().Apply(table, out.data(), w, h, 4 * w, false, 0.5f, 255));
      for (unsigned int i = 0; i < w * h; ++i) {
        const unsigned int x = i % w;
        const int alpha = out[4 * i + 3];
        EXPECT_TRUE(x + 2 >= edge || alpha >= 224) << "kept side " << x << ", mask half point " << halfPoint;
        EXPECT_TRUE(x < edge + 2 || alpha <= 16) << "wall side " << x << ", mask half point " << halfPoint;
      }
    }
  }
}
