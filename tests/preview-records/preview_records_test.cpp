// The exported preview records: defaults by bit pattern and the constructors.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "PictorPreviewRecords.h"

namespace {

uint32_t Bits(float f) {
  uint32_t u;
  std::memcpy(&u, &f, 4);
  return u;
}

TEST(PreviewRecords, KeyingDefaultsAreExactBitPatterns) {
  const TPictorD3D9PreviewChromaKeyingParams p;
  EXPECT_EQ(Bits(p.Sensitivity), 0x3EFD80A1u);
  EXPECT_EQ(Bits(p.Smoothing), 0x3F077E1Cu);
  EXPECT_EQ(p.Opacity, 255);
  EXPECT_EQ(p.ColorType, rbcGreen);
  EXPECT_EQ(p.CustomColor, 0u);
}

TEST(PreviewRecords, CopyingConstructorTakesEveryFieldOfItsSource) {
  TPictorD3D9PreviewChromaKeyingParams source(-0.25f, 7.5f, 17, static_cast<TRemoveBackgroundColorType>(9),
                                              0xDEADBEEF);
  const TPictorD3D9PreviewChromaKeyingParams copy(&source);
  EXPECT_EQ(Bits(copy.Sensitivity), Bits(-0.25f));
  EXPECT_EQ(Bits(copy.Smoothing), Bits(7.5f));
  EXPECT_EQ(copy.Opacity, 17);
  EXPECT_EQ(static_cast<int>(copy.ColorType), 9);
  EXPECT_EQ(copy.CustomColor, 0xDEADBEEFu);
}

TEST(PreviewRecords, DefaultImageIsEmpty) {
  const TPictorD3D9PreviewImage empty;
  EXPECT_EQ(empty.Width, 0u);
  EXPECT_EQ(empty.Height, 0u);
  EXPECT_EQ(empty.Stride, 0u);
  EXPECT_EQ(empty.Data, nullptr);
  EXPECT_FALSE(empty.TopDown);
}

}  // namespace
