// The built-in converter's kernels against pictures made here: every YUV layout with
// each matrix and range, and JPEG frames written by an independent encoder (stb),
// complete, without Huffman tables, in bands behind restart markers, truncated and
// foreign. (32-bit RGB and the row order through the capture path:
// tests/convert/BuiltInConversionTest.cpp.)
#include "convert/BuiltInConverter.h"
#include "tools/virtualcam/FramePattern.h"

#include <gtest/gtest.h>

#include <stb/stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct TRgb {
  int R, G, B;
};

// Eight bars across the picture; the rows below `kSplit` show them in reverse order, so
// that a picture delivered upside down is told apart.
const TRgb kBars[8] = {{200, 40, 40},   {40, 200, 40}, {40, 40, 200},   {180, 180, 60},
                       {128, 128, 128}, {24, 24, 24},  {230, 230, 230}, {60, 160, 200}};
constexpr int kWidth = 64;
constexpr int kHeight = 34;  // not a whole number of the packed formats' 16-row strips
constexpr int kSplit = 16;

TRgb PictureAt(int x, int y, int width)
{
  const int bar = x * 8 / width;
  return kBars[y < kSplit ? bar : 7 - bar];
}

struct TMatrixCase {
  TYuvMatrix Matrix;
  double Kr, Kb;
  bool Full;
};

// Y'CbCr of an RGB colour, by the matrix's definition.
void ToYuv(const TRgb& c, const TMatrixCase& m, int* y, int* u, int* v)
{
  const double r = c.R / 255.0, g = c.G / 255.0, b = c.B / 255.0;
  const double luma = m.Kr * r + (1 - m.Kr - m.Kb) * g + m.Kb * b;
  const double pb = (b - luma) / (2 * (1 - m.Kb));
  const double pr = (r - luma) / (2 * (1 - m.Kr));
  auto clamp = [](double value) { return std::min(255, std::max(0, static_cast<int>(std::lround(value)))); };
  *y = clamp(m.Full ? 255 * luma : 16 + 219 * luma);
  *u = clamp(128 + (m.Full ? 255 : 224) * pb);
  *v = clamp(128 + (m.Full ? 255 : 224) * pr);
}

// One frame in the layout of `input`, rows `stride` bytes apart (first plane).
std::vector<uint8_t> MakeYuvFrame(TBuiltInInput input, const TMatrixCase& m, int stride)
{
  const int chromaRows = (kHeight + 1) / 2;
  const int chromaStride = (stride + 1) / 2;
  std::vector<uint8_t> frame(static_cast<size_t>(stride) * kHeight * 2 + 64, 0);
  uint8_t* chroma = frame.data() + static_cast<size_t>(stride) * kHeight;
  for (int yy = 0; yy < kHeight; ++yy) {
    for (int x = 0; x < kWidth; ++x) {
      int y, u, v;
      ToYuv(PictureAt(x, yy, kWidth), m, &y, &u, &v);
      switch (input) {
        case TBuiltInInput::YUY2:
        case TBuiltInInput::UYVY: {
          uint8_t* p = &frame[static_cast<size_t>(yy) * stride + (x / 2) * 4];
          const bool yuy2 = input == TBuiltInInput::YUY2;
          p[yuy2 ? (x % 2) * 2 : 1 + (x % 2) * 2] = static_cast<uint8_t>(y);
          p[yuy2 ? 1 : 0] = static_cast<uint8_t>(u);
          p[yuy2 ? 3 : 2] = static_cast<uint8_t>(v);
          break;
        }
        default:
          frame[static_cast<size_t>(yy) * stride + x] = static_cast<uint8_t>(y);
          if (input == TBuiltInInput::NV12) {
            chroma[(yy / 2) * stride + (x / 2) * 2] = static_cast<uint8_t>(u);
            chroma[(yy / 2) * stride + (x / 2) * 2 + 1] = static_cast<uint8_t>(v);
          } else {
            uint8_t* first = chroma;
            uint8_t* second = chroma + chromaStride * chromaRows;
            uint8_t* uPlane = input == TBuiltInInput::I420 ? first : second;
            uint8_t* vPlane = input == TBuiltInInput::I420 ? second : first;
            uPlane[(yy / 2) * chromaStride + x / 2] = static_cast<uint8_t>(u);
            vPlane[(yy / 2) * chromaStride + x / 2] = static_cast<uint8_t>(v);
          }
          break;
      }
    }
  }
  return frame;
}

// Largest difference of any channel from the picture, skipping pixels within `margin`
// of a colour edge (JPEG's ringing); the picture's row y is memory row y (top-down) or
// height - 1 - y. The last pixel's alpha goes to alphaSeen.
int WorstError(const std::vector<uint8_t>& out, int width, int height, bool topDown, int* alphaSeen = nullptr,
               int margin = 0)
{
  int worst = 0;
  const int barWidth = width / 8;
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = &out[static_cast<size_t>(topDown ? y : height - 1 - y) * width * 4];
    for (int x = 0; x < width; ++x) {
      if (margin && (std::abs(y - kSplit) < margin || x % barWidth < margin || x % barWidth >= barWidth - margin))
        continue;
      const TRgb want = PictureAt(x, y, width);
      worst = std::max(
          {worst, std::abs(row[x * 4] - want.B), std::abs(row[x * 4 + 1] - want.G), std::abs(row[x * 4 + 2] - want.R)});
      if (alphaSeen) *alphaSeen = row[x * 4 + 3];
    }
  }
  return worst;
}

TEST(BuiltInConverter, YuvFramesComeBackAsTheirColoursWithTheirMatrixInBothRowOrders)
{
  const TMatrixCase matrices[] = {{TYuvMatrix::BT601Limited, 0.299, 0.114, false},
                                  {TYuvMatrix::BT601Full, 0.299, 0.114, true},
                                  {TYuvMatrix::BT709Limited, 0.2126, 0.0722, false},
                                  {TYuvMatrix::BT709Full, 0.2126, 0.0722, true}};
  const TBuiltInInput inputs[] = {TBuiltInInput::YUY2, TBuiltInInput::UYVY, TBuiltInInput::NV12, TBuiltInInput::I420,
                                  TBuiltInInput::YV12};
  const char* const names[] = {"YUY2", "UYVY", "NV12", "I420", "YV12"};
  for (int i = 0; i < 5; ++i) {
    const TBuiltInInput input = inputs[i];
    const bool packed = input == TBuiltInInput::YUY2 || input == TBuiltInInput::UYVY;
    // The type's stride may leave padding after each row.
    for (int stride : {packed ? kWidth * 2 : kWidth, packed ? kWidth * 2 + 32 : kWidth + 32}) {
      for (const TMatrixCase& m : matrices) {
        const std::vector<uint8_t> frame = MakeYuvFrame(input, m, stride);
        TBuiltInConverter converter(input, kWidth, kHeight, stride == kWidth * (packed ? 2 : 1) ? 0 : stride, m.Matrix);
        ASSERT_TRUE(converter.Ready()) << converter.Error();
        for (bool topDown : {true, false}) {
          SCOPED_TRACE(std::string(names[i]) + " stride " + std::to_string(stride) + " " + YuvMatrixName(m.Matrix) +
                       (topDown ? " top-down" : " bottom-up"));
          std::vector<uint8_t> out(kWidth * kHeight * 4, 0x55);
          ASSERT_TRUE(converter.Convert(frame.data(), converter.InputBytes(), out.data(), topDown))
              << converter.Error();
          int alpha = 0;
          // libyuv caps the studio-range BT.709 blue gain at 2.0 of the true 2.11: saturated
          // blue comes out up to 9 levels low there.
          EXPECT_LE(WorstError(out, kWidth, kHeight, topDown, &alpha), m.Matrix == TYuvMatrix::BT709Limited ? 10 : 3);
          EXPECT_EQ(alpha, 255);
        }
      }
    }
  }
}

TEST(BuiltInConverter, MatrixFollowsTheTypeWithMediaFoundationDefaults)
{
  EXPECT_EQ(ChooseYuvMatrix(0, 0, 480), TYuvMatrix::BT601Limited);  // SD
  EXPECT_EQ(ChooseYuvMatrix(0, 0, 576), TYuvMatrix::BT601Limited);
  EXPECT_EQ(ChooseYuvMatrix(0, 0, 720), TYuvMatrix::BT709Limited);  // HD
  EXPECT_EQ(ChooseYuvMatrix(0, 1, 1080), TYuvMatrix::BT709Full);
  EXPECT_EQ(ChooseYuvMatrix(2, 0, 1080), TYuvMatrix::BT601Limited);  // named matrix wins
  EXPECT_EQ(ChooseYuvMatrix(1, 2, 480), TYuvMatrix::BT709Limited);
  EXPECT_EQ(ChooseYuvMatrix(2, 1, 480), TYuvMatrix::BT601Full);
  EXPECT_EQ(ChooseYuvMatrix(4, 0, 2160), TYuvMatrix::BT2020Limited);
}

TEST(BuiltInConverter, FramesThatDoNotFitTheFormatAreRefused)
{
  TBuiltInConverter yuy2(TBuiltInInput::YUY2, kWidth, kHeight, 0, TYuvMatrix::BT601Limited);
  ASSERT_EQ(yuy2.InputBytes(), static_cast<size_t>(kWidth * 2 * kHeight));
  std::vector<uint8_t> frame(yuy2.InputBytes()), out(kWidth * kHeight * 4);
  EXPECT_FALSE(yuy2.Convert(frame.data(), frame.size() - 1, out.data(), true));
  EXPECT_STREQ(yuy2.Error(), "frame of 4351 bytes is shorter than the 4352 of the format");

  // The host reads rows width x 4 bytes apart: padded RGB32 rows are repacked, never
  // handed on.
  EXPECT_TRUE(TBuiltInConverter(TBuiltInInput::RGB32, kWidth, kHeight, kWidth * 4, TYuvMatrix::BT601Limited)
                  .PassesThrough(true));
  EXPECT_FALSE(TBuiltInConverter(TBuiltInInput::RGB32, kWidth, kHeight, kWidth * 4 + 64, TYuvMatrix::BT601Limited)
                   .PassesThrough(true));

  // An odd width: the last chroma row is width + 1 bytes long, past stride x height x 3 / 2.
  TBuiltInConverter odd(TBuiltInInput::NV12, 63, 2, 0, TYuvMatrix::BT601Limited);
  EXPECT_EQ(odd.InputBytes(), 63u * 2 + 64);
  EXPECT_FALSE(odd.Convert(frame.data(), 63 * 3, out.data(), true));

  TBuiltInConverter narrow(TBuiltInInput::NV12, kWidth, kHeight, kWidth - 2, TYuvMatrix::BT601Limited);
  EXPECT_FALSE(narrow.Ready());
  EXPECT_FALSE(narrow.Convert(frame.data(), frame.size(), out.data(), true));
  EXPECT_FALSE(TBuiltInConverter(TBuiltInInput::YUY2, 0, kHeight, 0, TYuvMatrix::BT601Limited).Ready());
}

constexpr int kJpegWidth = 128;
constexpr int kJpegHeight = 64;

std::vector<uint8_t> BarsRgb(int width, int height)
{
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const TRgb c = PictureAt(x, y, width);
      uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
      p[0] = static_cast<uint8_t>(c.R), p[1] = static_cast<uint8_t>(c.G), p[2] = static_cast<uint8_t>(c.B);
    }
  }
  return rgb;
}

std::vector<uint8_t> EncodeBarsJpeg(int width, int height)
{
  const std::vector<uint8_t> rgb = BarsRgb(width, height);
  std::vector<uint8_t> jpeg;
  auto append = [](void* context, void* data, int size) {
    auto* out = static_cast<std::vector<uint8_t>*>(context);
    out->insert(out->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
  };
  stbi_write_jpg_to_func(append, &jpeg, width, height, 3, rgb.data(), 95);
  return jpeg;
}

// (Whole frames without Huffman tables come from the virtual camera: BuiltInConversionTest.cpp.)
TEST(BuiltInConverter, JpegFramesDecodeInBothRowOrdersAndBrokenOnesAreRefused)
{
  const std::vector<uint8_t> jpeg = EncodeBarsJpeg(kJpegWidth, kJpegHeight);
  std::vector<uint8_t> padded = jpeg;
  padded.resize(jpeg.size() + 100, 0);  // cameras pad frames after the end marker
  // The virtual camera's frames with grain: bands of two encodings behind restart markers.
  virtualcam::JpegBands bands[2];
  std::vector<uint8_t> banded;
  const std::vector<uint8_t> rgb = BarsRgb(kJpegWidth, kJpegHeight);
  for (virtualcam::JpegBands& b : bands)
    ASSERT_TRUE(virtualcam::EncodeJpegBands(kJpegWidth, kJpegHeight, rgb.data(), false, &b));
  virtualcam::JoinJpegBands(bands[0], bands[1], 0b0110, &banded);
  const std::vector<uint8_t>* frames[] = {&jpeg, &padded, &banded};

  TBuiltInConverter converter(TBuiltInInput::MJPG, kJpegWidth, kJpegHeight, 0, TYuvMatrix::BT601Limited);
  ASSERT_TRUE(converter.Ready()) << converter.Error();
  std::vector<uint8_t> out(kJpegWidth * kJpegHeight * 4);
  for (const std::vector<uint8_t>* frame : frames) {
    for (bool topDown : {true, false}) {
      ASSERT_TRUE(converter.Convert(frame->data(), frame->size(), out.data(), topDown)) << converter.Error();
      int alpha = 0;
      EXPECT_LE(WorstError(out, kJpegWidth, kJpegHeight, topDown, &alpha, 4), 8) << frame->size() << topDown;
      EXPECT_EQ(alpha, 255);
    }
  }

  // Cut in the middle of the entropy data, or inside the headers: refused, and the next
  // whole frame decodes.
  size_t scan = 2;
  while (!(jpeg[scan] == 0xFF && jpeg[scan + 1] == 0xDA)) scan += 2 + (jpeg[scan + 2] << 8 | jpeg[scan + 3]);
  EXPECT_FALSE(converter.Convert(jpeg.data(), (scan + jpeg.size()) / 2, out.data(), true));
  EXPECT_EQ(std::string(converter.Error()).rfind("JPEG data: ", 0), 0u) << converter.Error();
  EXPECT_FALSE(converter.Convert(jpeg.data(), scan / 2, out.data(), true));
  const std::vector<uint8_t> noise(4096, 0x5A);
  EXPECT_FALSE(converter.Convert(noise.data(), noise.size(), out.data(), true));
  ASSERT_TRUE(converter.Convert(jpeg.data(), jpeg.size(), out.data(), true)) << converter.Error();

  // A frame of another size would overrun the output: refused before decoding.
  const std::vector<uint8_t> larger = EncodeBarsJpeg(kJpegWidth * 2, kJpegHeight);
  EXPECT_FALSE(converter.Convert(larger.data(), larger.size(), out.data(), true));
  EXPECT_STREQ(converter.Error(), "JPEG frame of 256x64 in a 128x64 format");
}

}  // namespace
