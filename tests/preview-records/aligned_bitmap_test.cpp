// The aligned bitmap: stride rounding, 64-byte alignment, row order after CopyImage, and
// what a bitmap whose allocation failed does.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "preview/AlignedBitmap.h"

// Huge requests must come back as null, not abort the sanitizer run.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

TEST(AlignedBitmap, StrideIsRowBytesRoundedUpToSixtyFour) {
  const struct { unsigned int width, stride; } cases[] = {
      {101, 448}, {16, 64}, {1, 64}, {17, 128}, {0, 0}, {1920, 7680}};
  for (const auto& c : cases) {
    TQDAlignedBitmap32 bitmap(c.width, 3);
    EXPECT_EQ(bitmap.Stride, c.stride) << c.width;
    EXPECT_EQ(bitmap.Alignment, 64u);
    EXPECT_EQ(bitmap.Width, c.width);
    EXPECT_EQ(bitmap.Height, 3u);
    if (c.width != 0) {
      ASSERT_NE(bitmap.Pixels, nullptr);
      EXPECT_TRUE(bitmap.OwnsPixels);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(bitmap.Pixels) % 64, 0u);
      std::memset(bitmap.Pixels, 0x3C, size_t(bitmap.Stride) * bitmap.Height);  // whole buffer is ours
    }
  }
}

// Rows of a 3-row source, each filled with its own letter.
std::vector<uint8_t> ThreeRows(unsigned int stride) {
  std::vector<uint8_t> src(stride * 3);
  for (unsigned int y = 0; y < 3; ++y) std::memset(&src[y * stride], 'A' + y, stride);
  return src;
}

TEST(AlignedBitmap, CopyImageStoresBottomRowFirst) {
  const unsigned int width = 5, stride = 20;
  const std::vector<uint8_t> src = ThreeRows(stride);
  for (bool topDown : {true, false}) {
    TQDAlignedBitmap32 bitmap(width, 3);
    std::memset(bitmap.Pixels, 0, size_t(bitmap.Stride) * 3);
    bitmap.CopyImage(width, 3, stride, src.data(), topDown);
    // Top-down A,B,C (A the top) ends C,B,A; bottom-up A,B,C (A the bottom) stays A,B,C.
    const char expect[3] = {topDown ? 'C' : 'A', 'B', topDown ? 'A' : 'C'};
    for (unsigned int y = 0; y < 3; ++y) {
      const uint8_t* row = bitmap.Pixels + y * bitmap.Stride;
      for (unsigned int i = 0; i < width * 4; ++i) ASSERT_EQ(row[i], expect[y]) << topDown << y;
      for (unsigned int i = width * 4; i < bitmap.Stride; ++i) ASSERT_EQ(row[i], 0) << "padding";
    }
  }
}

TEST(AlignedBitmap, CopyImageCopiesTheShortestRowAndFewestRows) {
  // 101 pixels: 404 bytes of a 448-byte row copied, the rest left alone.
  {
    const unsigned int stride = 101 * 4 + 12;
    const std::vector<uint8_t> src = ThreeRows(stride);
    TQDAlignedBitmap32 bitmap(101, 3);
    ASSERT_EQ(bitmap.Stride, 448u);
    std::memset(bitmap.Pixels, 0, 448 * 3);
    bitmap.CopyImage(101, 3, stride, src.data(), false);
    EXPECT_EQ(bitmap.Pixels[403], 'A');
    EXPECT_EQ(bitmap.Pixels[404], 0);
  }
  // A source stride smaller than width x 4 limits each row to stride bytes.
  {
    const unsigned int stride = 12;
    const std::vector<uint8_t> src = ThreeRows(stride);
    TQDAlignedBitmap32 bitmap(5, 3);
    std::memset(bitmap.Pixels, 0, size_t(bitmap.Stride) * 3);
    bitmap.CopyImage(5, 3, stride, src.data(), true);
    EXPECT_EQ(bitmap.Pixels[11], 'C');
    EXPECT_EQ(bitmap.Pixels[12], 0);
    EXPECT_EQ(bitmap.Pixels[2 * bitmap.Stride], 'A');
  }
  // A source taller than the bitmap fills it from the top of the picture down, and one
  // shorter fills only the bitmap's last rows (the top of its picture).
  {
    const std::vector<uint8_t> src = ThreeRows(8);
    TQDAlignedBitmap32 small(2, 2);
    std::memset(small.Pixels, 0, size_t(small.Stride) * 2);
    small.CopyImage(2, 3, 8, src.data(), true);
    EXPECT_EQ(small.Pixels[small.Stride], 'A');
    EXPECT_EQ(small.Pixels[0], 'B');
    TQDAlignedBitmap32 tall(2, 4);
    std::memset(tall.Pixels, 0, size_t(tall.Stride) * 4);
    tall.CopyImage(2, 3, 8, src.data(), false);
    EXPECT_EQ(tall.Pixels[3 * tall.Stride], 'C');
    EXPECT_EQ(tall.Pixels[1 * tall.Stride], 'A');
    EXPECT_EQ(tall.Pixels[0], 0);
  }
}

TEST(AlignedBitmap, FailedAllocationLeavesABitmapThatIsNeverCopiedInto) {
  // 65536 x 65536 x 4 bytes overflows 32 bits: the request becomes the largest size there
  // is, which fails, however much memory the machine would promise.
  TQDAlignedBitmap32 huge(65536, 65536);
  EXPECT_EQ(huge.Pixels, nullptr);
  EXPECT_FALSE(huge.OwnsPixels);
  EXPECT_EQ(huge.Stride, 262144u);
  const uint8_t src[16] = {};
  huge.CopyImage(4, 1, 16, src, true);  // must not write through a null buffer
  TQDAlignedBitmap32 wide(0x40000000u, 1);  // row bytes beyond 32 bits
  EXPECT_EQ(wide.Pixels, nullptr);
  EXPECT_FALSE(wide.OwnsPixels);
}

TEST(AlignedBitmap, NullSourceOrEmptyImageCopiesNothing) {
  TQDAlignedBitmap32 bitmap(4, 2);
  std::memset(bitmap.Pixels, 0x77, size_t(bitmap.Stride) * 2);
  bitmap.CopyImage(4, 2, 16, nullptr, true);
  const std::vector<uint8_t> src(32, 1);
  bitmap.CopyImage(4, 0, 16, src.data(), false);
  bitmap.CopyImage(0, 2, 16, src.data(), false);
  for (unsigned int i = 0; i < bitmap.Stride * 2; ++i) ASSERT_EQ(bitmap.Pixels[i], 0x77);
}

}  // namespace
