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

TEST(PreviewRecords, KeyingConstructorsStoreAndCopyEveryField) {
  const TPictorD3D9PreviewChromaKeyingParams given(-0.25f, 7.5f, 3,
                                                   static_cast<TRemoveBackgroundColorType>(9),
                                                   0xDEADBEEF);
  EXPECT_EQ(given.Sensitivity, -0.25f);  // no range checks anywhere
  EXPECT_EQ(given.Smoothing, 7.5f);
  EXPECT_EQ(given.Opacity, 3);
  EXPECT_EQ(static_cast<int>(given.ColorType), 9);
  EXPECT_EQ(given.CustomColor, 0xDEADBEEFu);

  TPictorD3D9PreviewChromaKeyingParams source(0.125f, 0.75f, 17, rbcCustom, 0x123456);
  const TPictorD3D9PreviewChromaKeyingParams copy(&source);
  EXPECT_EQ(Bits(copy.Sensitivity), Bits(0.125f));
  EXPECT_EQ(Bits(copy.Smoothing), Bits(0.75f));
  EXPECT_EQ(copy.Opacity, 17);
  EXPECT_EQ(copy.ColorType, rbcCustom);
  EXPECT_EQ(copy.CustomColor, 0x123456u);
}

TEST(PreviewRecords, ImageConstructors) {
  const TPictorD3D9PreviewImage empty;
  EXPECT_EQ(empty.Width, 0u);
  EXPECT_EQ(empty.Height, 0u);
  EXPECT_EQ(empty.Stride, 0u);
  EXPECT_EQ(empty.Data, nullptr);
  EXPECT_FALSE(empty.TopDown);

  unsigned char pixels[8];
  const TPictorD3D9PreviewImage image(2, 1, 8, pixels, true);
  EXPECT_EQ(image.Width, 2u);
  EXPECT_EQ(image.Height, 1u);
  EXPECT_EQ(image.Stride, 8u);
  EXPECT_EQ(image.Data, pixels);
  EXPECT_TRUE(image.TopDown);
}

TEST(PreviewRecords, ColourTypeValues) {
  EXPECT_EQ(static_cast<int>(rbcGreen), 0);
  EXPECT_EQ(static_cast<int>(rbcBlue), 1);
  EXPECT_EQ(static_cast<int>(rbcCustom), 2);
}

}  // namespace
