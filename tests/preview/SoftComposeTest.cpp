// The software compositor against the CPU model of what the Direct3D path hands the host,
// over the table of keyings and backgrounds both renderers share, both row orders of the
// frame and of the target, frames smaller and larger than the background.
#include "kernels/SoftCompose.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "tests/support/CompositionScenes.h"

namespace previewtest {
namespace {

// The picture's rows stored `stride` bytes apart, either way up; padding bytes are 0xCD.
std::vector<uint8_t> Stored(const TReferenceImage& picture, unsigned int stride, bool bottomUp)
{
  std::vector<uint8_t> stored(size_t(stride) * picture.Height, 0xCD);
  for (unsigned int y = 0; y < picture.Height; ++y)
    std::memcpy(&stored[size_t(bottomUp ? picture.Height - 1 - y : y) * stride], picture.Pixel(0, y),
                size_t(picture.Width) * 4);
  return stored;
}

TEST(SoftCompose, EveryKeyingOverEveryBackgroundMatchesTheModelInBothRowOrders)
{
  constexpr unsigned int W = 37, H = 29;
  const TReferenceImage picture = GradientPicture(W, H), larger = GradientPicture(W + 8, H + 6);
  TSoftCompositor compositor;
  uint32_t seed = 0;
  for (Keying keying : kKeyings) {
    for (Background background : kBackgrounds) {
      if (background == Background::Removed) continue;  // leaves no background, as None does
      const TReferenceImage& image = background == Background::Larger ? larger : picture;
      const bool backgroundBottomUp = background != Background::TopDown;
      const std::vector<uint8_t> storedBackground = Stored(image, image.Width * 4 + 4, backgroundBottomUp);
      const TSoftPlane backgroundPlane{storedBackground.data(), image.Width, image.Height, image.Width * 4 + 4,
                                       backgroundBottomUp};
      const unsigned int sizes[][2] = {{W, H}, {24, 16}, {W + 9, H + 3}, {1, 1}};
      for (const auto& size : sizes) {
        const unsigned int w = size[0], h = size[1];
        SCOPED_TRACE(::testing::Message() << "keying " << int(keying) << ", background " << int(background) << ", " << w
                                          << "x" << h << ", seed " << seed + 1);
        TReferenceImage scene = KeyScene(w, h, ++seed, keying == Keying::CustomBlue);
        TPictorD3D9PreviewChromaKeyingParams p;
        if (KeyingRecord(keying, &p)) KeyAsThePreview(scene, p, keying);
        // The background as the Direct3D path samples it: cut to the frame; black beyond.
        TReferenceImage texture(w, h);
        for (unsigned int y = 0; y < std::min(h, image.Height); ++y)
          for (unsigned int x = 0; x < std::min(w, image.Width); ++x) texture.SetArgb(x, y, image.Argb(x, y));

        const bool cameraBottomUp = seed & 1, targetBottomUp = seed & 2;
        const std::vector<uint8_t> camera = Stored(scene, w * 4 + 8, cameraBottomUp);
        std::vector<uint8_t> target(size_t(w * 4 + 4) * h, 0xCD);
        TSoftComposeFrame frame;
        frame.camera = {camera.data(), w, h, w * 4 + 8, cameraBottomUp};
        frame.background = background == Background::None ? nullptr : &backgroundPlane;
        frame.target = {target.data(), w * 4 + 4, targetBottomUp};
        ASSERT_TRUE(compositor.Compose(frame));

        TReferenceImage got(w, h);
        for (unsigned int y = 0; y < h; ++y) {
          const uint8_t* row = &target[size_t(targetBottomUp ? h - 1 - y : y) * (w * 4 + 4)];
          std::memcpy(got.Pixel(0, y), row, size_t(w) * 4);
          EXPECT_TRUE(std::all_of(row + w * 4, row + w * 4 + 4, [](uint8_t b) { return b == 0xCD; })) << "row " << y;
        }
        EXPECT_TRUE(ImagesNear(got, ReferenceCompose(scene, frame.background ? &texture : nullptr, w, h)));
      }
    }
  }
}

TEST(SoftCompose, RefusesMissingOrShortPlanesAndBandsWithoutScratchWritingNothing)
{
  uint8_t pixels[4 * 4 * 4] = {}, target[sizeof pixels];
  std::memset(target, 0xCD, sizeof target);
  TSoftCompositor compositor;
  ASSERT_TRUE(compositor.Prepare(4, 1));
  const TSoftComposeFrame good{{pixels, 4, 4, 16, false}, nullptr, {target, 16, false}};
  const TSoftPlane noPixels{nullptr, 4, 4, 16, false};
  std::vector<TSoftComposeFrame> bad(8, good);
  bad[0].camera.pixels = nullptr;
  bad[1].camera.width = 0;
  bad[2].camera.height = 0;
  bad[3].camera.stride = 12;
  bad[4].target.pixels = nullptr;
  bad[5].target.stride = 12;
  bad[6].background = &noPixels;
  bad[7].camera = {pixels, 5, 3, 20, false};  // wider than the prepared scratch
  for (const TSoftComposeFrame& frame : bad) EXPECT_FALSE(compositor.ComposeRows(frame, 0, 4, 0));
  EXPECT_FALSE(compositor.ComposeRows(good, 0, 4, 1));  // band 1 was never prepared
  EXPECT_TRUE(compositor.ComposeRows(good, 3, 3, 0));   // no rows
  EXPECT_TRUE(std::all_of(target, target + sizeof target, [](uint8_t b) { return b == 0xCD; }));
}

}  // namespace
}  // namespace previewtest
