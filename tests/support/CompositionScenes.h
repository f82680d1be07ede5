// What both renderers' composition tests share: the test pictures, the table of keyings
// and backgrounds they are composed with, and the comparison against the CPU model.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "PictorPreviewRecords.h"
#include "kernels/KeyRefine.h"
#include "tests/support/CompositionReference.h"

namespace previewtest {

// Frames and host images are held in TReferenceImage too, rows in stored order: for a
// camera frame the first stored row is the bottom of the picture.
using Frame = TReferenceImage;

// A key-coloured field (green, or blue) with a warm subject and a soft edge, and noise in
// every byte, the fourth included; reproducible.
inline Frame KeyScene(unsigned int width, unsigned int height, uint32_t seed, bool keyIsBlue = false)
{
  // Red, green, blue: base and spread for the key, the subject and its edge (half key,
  // half subject: some of these are keyed, some are not).
  static const uint32_t kBase[3][3] = {{20, 170, 30}, {180, 110, 80}, {110, 150, 60}};
  static const uint32_t kSpread[3][3] = {{30, 70, 40}, {50, 40, 40}, {40, 40, 30}};
  Frame frame(width, height);
  uint32_t state = seed;
  for (unsigned int y = 0; y < height; ++y)
    for (unsigned int x = 0; x < width; ++x) {
      state = state * 1664525u + 1013904223u;
      const uint32_t noise = state >> 8;
      const bool subject = x > width / 4 && x < width * 3 / 4 && y > height / 5 && y < height * 4 / 5;
      const int kind = !subject ? 0 : (x == width / 4 + 1 || y == height / 5 + 1) ? 2 : 1;
      uint32_t c[3];
      for (int i = 0; i < 3; ++i) c[i] = kBase[kind][i] + (noise >> (8 * i)) % kSpread[kind][i];
      if (keyIsBlue) std::swap(c[1], c[2]);
      state = state * 1664525u + 1013904223u;  // the fourth byte: the top of the next step
      frame.SetArgb(x, y, (state >> 24) << 24 | c[0] << 16 | c[1] << 8 | c[2]);
    }
  return frame;
}

inline Frame GradientPicture(unsigned int width, unsigned int height)
{
  Frame frame(width, height);
  for (unsigned int y = 0; y < height; ++y)
    for (unsigned int x = 0; x < width; ++x)
      frame.SetArgb(x, y, 0xFF000000u | x * 255 / (width - 1) << 16 | y * 255 / (height - 1) << 8 | (x + y) % 256);
  return frame;
}

// Refined: the default key with the real-screen options on (spill suppression, edge choke).
enum class Keying { None, Default, HalfOpacity, CustomBlue, Refined };
enum class Background { None, Same, Larger, TopDown, Removed };
constexpr Keying kKeyings[] = {Keying::None, Keying::Default, Keying::HalfOpacity, Keying::CustomBlue, Keying::Refined};
constexpr float kRefinedSpill = 0.75f;
constexpr unsigned int kRefinedChoke = 1;
constexpr Background kBackgrounds[] = {Background::None, Background::Same, Background::Larger, Background::TopDown,
                                       Background::Removed};

// The keying record each keying leaves the preview with; false for Keying::None, where the
// frame's own fourth byte is the mask.
inline bool KeyingRecord(Keying keying, TPictorD3D9PreviewChromaKeyingParams* record)
{
  *record = TPictorD3D9PreviewChromaKeyingParams();
  if (keying == Keying::HalfOpacity) record->Opacity = 128;
  if (keying == Keying::CustomBlue) {
    record->ColorType = rbcCustom;
    record->CustomColor = 0x000000FF;
  }
  return keying != Keying::None;
}

// Keys a frame as the preview does with `record` and the options of `keying` (exactly
// RemoveKeyColor's frame when they are off).
inline void KeyAsThePreview(Frame& frame, const TPictorD3D9PreviewChromaKeyingParams& record, Keying keying)
{
  const bool refined = keying == Keying::Refined;
  TKeyRefiner().KeyAndRefine(frame.Pixels.data(), frame.Width, frame.Height, frame.Width * 4, record,
                             refined ? kRefinedSpill : 0.0f, refined ? kRefinedChoke : 0);
}

// Every channel within `tolerance`; reports the first difference.
inline ::testing::AssertionResult ImagesNear(const TReferenceImage& actual, const TReferenceImage& expected,
                                             int tolerance = 1)
{
  if (actual.Width != expected.Width || actual.Height != expected.Height)
    return ::testing::AssertionFailure() << "size " << actual.Width << "x" << actual.Height;
  int bad = 0;
  char first[80] = "";
  for (unsigned int y = 0; y < actual.Height; ++y)
    for (unsigned int x = 0; x < actual.Width; ++x)
      for (int c = 0; c < 4; ++c)
        if (std::abs(int(actual.Pixel(x, y)[c]) - int(expected.Pixel(x, y)[c])) > tolerance) {
          if (++bad == 1)
            std::snprintf(first, sizeof first, ", first at (%u,%u): got %08X, expected %08X", x, y,
                          unsigned(actual.Argb(x, y)), unsigned(expected.Argb(x, y)));
          break;
        }
  if (!bad) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << bad << " pixels differ by more than " << tolerance << first;
}

}  // namespace previewtest
