// The CPU model of the composition on small hand-worked cases: these figures are the
// ones the Direct3D read-back is later held to.
#include "tests/support/CompositionReference.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

uint8_t Byte(double v)
{
  return uint8_t(std::lround(v * 255.0));
}

// Colour c (one channel) with filtered alpha a, blended over opaque black.
uint32_t OverBlack(uint32_t rgb, double a)
{
  uint32_t out = uint32_t(Byte(a * a + (1.0 - a))) << 24;
  for (int shift = 0; shift < 24; shift += 8) out |= uint32_t(Byte(a * ((rgb >> shift) & 0xFF) / 255.0)) << shift;
  return out;
}

TEST(CompositionReferenceUpload, CutsToTheTextureAndKeepsWhatTheSourceDoesNotReach)
{
  // Four stored rows of two pixels into a 3 x 2 texture: the last two stored rows,
  // only 8 of its 12 bytes per row; the third column keeps its old value.
  uint32_t source[4][2];
  for (uint32_t r = 0; r < 4; ++r) source[r][0] = source[r][1] = 0xFF000000u | r;
  TReferenceImage texture(3, 2, 0x12345678);
  ReferenceLoadTexture(texture, reinterpret_cast<const uint8_t*>(source), 4, 8);
  EXPECT_EQ(texture.Argb(0, 0), 0xFF000003u);
  EXPECT_EQ(texture.Argb(1, 1), 0xFF000002u);
  EXPECT_EQ(texture.Argb(2, 0), 0x12345678u);

  // One stored row fills only the top row; a stride wider than the row copies the row only.
  uint32_t wide[4] = {0xFF0000A0, 0xFF0000A1, 0xFF0000A2, 0xFF0000A3};
  ReferenceLoadTexture(texture, reinterpret_cast<const uint8_t*>(wide), 1, 16);
  EXPECT_EQ(texture.Argb(2, 0), 0xFF0000A2u);
  EXPECT_EQ(texture.Argb(0, 1), 0xFF000002u);
}

TEST(CompositionReferenceShader, EdgeTexelsRepeatBeyondTheBorder)
{
  // Keyed left column of an 8 x 8 field: at x = 1 the window reaches x = -2..4, three
  // of whose columns clamp onto the keyed column, 21 of 49 samples.
  TReferenceImage camera(8, 8, 0xFF204060u);
  for (unsigned y = 0; y < 8; ++y) camera.SetArgb(0, y, 0x00204060u);
  TReferenceImage out = ReferenceCompose(camera, nullptr, 8, 8);
  EXPECT_EQ(out.Argb(1, 4), OverBlack(0x204060, 28.0 / 49.0));
  EXPECT_EQ(out.Argb(3, 0), OverBlack(0x204060, 42.0 / 49.0));  // one keyed column of 7 in reach
  EXPECT_EQ(out.Argb(4, 7), 0xFF204060u);
}

}  // namespace
