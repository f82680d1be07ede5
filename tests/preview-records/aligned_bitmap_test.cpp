// The aligned bitmap: stride rounding, 64-byte alignment, row order and row length after
// CopyImage, and what a bitmap whose allocation failed does.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kernels/AlignedBitmap.h"

// Huge requests must come back as null, not abort the sanitizer run.
extern "C" const char* __asan_default_options()
{
  return "allocator_may_return_null=1";
}

namespace {

TEST(AlignedBitmap, CopyImageStoresTheBottomRowFirstAndCopiesTheShortestRowAndFewestRows)
{
  // Source rows are filled with 'A', 'B', 'C' in stored order. `rows` gives each bitmap
  // row in memory order ('.' untouched) and `bytes` how much of it is copied.
  const struct {
    unsigned int bitmapWidth, bitmapHeight, width, height, stride;
    bool topDown;
    const char* rows;
    unsigned int bytes;
  } cases[] = {{5, 3, 5, 3, 20, true, "CBA", 20},         // A is the top of the picture
               {5, 3, 5, 3, 20, false, "ABC", 20},        // A is the bottom
               {101, 3, 101, 3, 416, false, "ABC", 404},  // 404 bytes of a 448-byte row
               {5, 3, 5, 3, 12, true, "CBA", 12},         // a stride below width x 4 limits the row
               {2, 2, 2, 3, 8, true, "BA", 8},            // a taller source fills from the top of the picture down
               {2, 4, 2, 3, 8, false, ".ABC", 8},         // a shorter one only the last rows
               {4, 2, 4, 0, 16, false, "..", 0},         {4, 2, 0, 2, 16, false, "..", 0}};
  for (const auto& c : cases) {
    std::vector<uint8_t> src(c.stride * 3);
    for (unsigned int y = 0; y < 3; ++y) std::memset(&src[y * c.stride], 'A' + y, c.stride);
    TQDAlignedBitmap32 bitmap(c.bitmapWidth, c.bitmapHeight);
    std::memset(bitmap.Pixels, '.', size_t(bitmap.Stride) * bitmap.Height);
    bitmap.CopyImage(c.width, c.height, c.stride, src.data(), c.topDown);
    std::string expected;
    for (const char* row = c.rows; *row; ++row) {
      const unsigned int copied = *row == '.' ? 0 : c.bytes;
      expected += std::string(copied, *row) + std::string(bitmap.Stride - copied, '.');
    }
    EXPECT_EQ(std::string(bitmap.Pixels, bitmap.Pixels + bitmap.Stride * bitmap.Height), expected)
        << c.width << "x" << c.height << " stride " << c.stride << " top-down " << c.topDown;
  }
  TQDAlignedBitmap32 bitmap(4, 2);
  std::memset(bitmap.Pixels, '.', size_t(bitmap.Stride) * 2);
  bitmap.CopyImage(4, 2, 16, nullptr, true);
  EXPECT_EQ(std::string(bitmap.Pixels, bitmap.Pixels + bitmap.Stride * 2), std::string(bitmap.Stride * 2, '.'));
}

TEST(AlignedBitmap, StrideIsRowBytesRoundedUpToSixtyFourAndAFailedAllocationIsNeverCopiedInto)
{
  const unsigned int cases[][2] = {{101, 448}, {16, 64}, {1, 64}, {17, 128}, {0, 0}, {1920, 7680}};
  for (const auto& c : cases) {
    TQDAlignedBitmap32 bitmap(c[0], 3);
    EXPECT_EQ(bitmap.Stride, c[1]) << c[0];
    EXPECT_TRUE(c[0] == 0 || (bitmap.OwnsPixels && reinterpret_cast<uintptr_t>(bitmap.Pixels) % 64 == 0)) << c[0];
    if (bitmap.Pixels)
      std::memset(bitmap.Pixels, 0x3C, size_t(bitmap.Stride) * bitmap.Height);  // the whole buffer is ours
  }
  // 65536 x 65536 x 4 bytes overflows 32 bits: the request becomes the largest size there
  // is, which fails, however much memory the machine would promise.
  TQDAlignedBitmap32 huge(65536, 65536);
  EXPECT_TRUE(huge.Pixels == nullptr && !huge.OwnsPixels);
  EXPECT_EQ(huge.Stride, 262144u);
  const uint8_t src[16] = {};
  huge.CopyImage(4, 1, 16, src, true);      // must not write through a null buffer
  TQDAlignedBitmap32 wide(0x40000000u, 1);  // row bytes beyond 32 bits
  EXPECT_TRUE(wide.Pixels == nullptr && !wide.OwnsPixels);
}

}  // namespace
