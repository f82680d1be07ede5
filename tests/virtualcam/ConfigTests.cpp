// The virtual camera's configuration grammar and the BT.601 values of its YUV pictures,
// which the capture tests' colour comparisons rely on (portable, native).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include "tools/virtualcam/FramePattern.h"
#include "tools/virtualcam/VirtualCamConfig.h"

using namespace virtualcam;

TEST(VirtualCamConfig, ValuesQuotingAndCommentsFollowTheGrammar)
{
  const ParseResult r = ParseConfig(
      "  # comment\r\n"
      "camera name=\"A \\\"quoted\\\" \\\\ name\" link=\\\\?\\usb#vid_1#x # trailing comment\r\n"
      "format subtype=ARGB32 size=320x240 rate=30000/1001 stride=-1280 aspect=4/3 "
      "omit=MF_MT_AVG_BITRATE,MF_MT_FRAME_RATE_RANGE\n"
      "format subtype=MJPG size=1920x1080 huffman-tables=0\n"
      "camera link=\"\\\\\\\\?\\\\b\" name-error=0x80004005 type-error-at=3 pattern=solid:10a0Ff noise=12 "
      "truncate-frame=5 stall-after=7 busy=1 access-denied=1 device-timestamps=1 shutdown-delay=1500\n"
      "control property=Zoom min=100 max=400 step=10 default=100 auto=0\n");
  ASSERT_EQ(r.errorLine, 0) << r.error;
  ASSERT_EQ(r.cameras.size(), 2u);
  const CameraSetup& a = r.cameras[0];
  EXPECT_EQ(a.name, "A \"quoted\" \\ name");
  EXPECT_EQ(a.link, "\\\\?\\usb#vid_1#x");
  ASSERT_EQ(a.formats.size(), 2u);
  EXPECT_TRUE(a.formats[0].rate.num == 30000u && a.formats[0].rate.den == 1001u && a.formats[0].aspect.num == 4u);
  EXPECT_TRUE(a.formats[0].hasStride && a.formats[0].stride == -1280);
  EXPECT_EQ(a.formats[0].omit, static_cast<uint32_t>(kOmitAvgBitrate | kOmitFrameRateRange));
  EXPECT_TRUE(a.formats[0].huffmanTables);
  EXPECT_FALSE(a.formats[1].huffmanTables);

  const CameraSetup& b = r.cameras[1];
  EXPECT_EQ(b.link, "\\\\?\\b");
  EXPECT_EQ(b.nameError, static_cast<int32_t>(0x80004005u));
  EXPECT_EQ(b.typeErrorAt, 3);
  EXPECT_TRUE(b.truncateFrame == 5 && b.stallAfter == 7 && b.busy && b.accessDenied && b.deviceTimestamps &&
              b.shutdownDelayMs == 1500);
  EXPECT_FALSE(a.busy || a.accessDenied || a.deviceTimestamps);
  EXPECT_TRUE(b.pattern.kind == PatternKind::Solid && b.pattern.r == 0x10 && b.pattern.g == 0xa0 &&
              b.pattern.b == 0xff && b.pattern.noise == 12);
  const ControlSetup& zoom = b.controls[kVideoProcAmpCount + 3];
  EXPECT_TRUE(zoom.configured && zoom.value == 100 && zoom.flags == 2 && !zoom.autoSupported);
}

TEST(VirtualCamConfig, ErrorsNameTheirLineAndLeaveNoCameras)
{
  const struct {
    const char* text;
    int line;
  } cases[] = {
      {"format subtype=YUY2 size=640x480\n", 1},
      {"camera name=x\n", 1},
      {"camera link=a\ncamera link=a\n", 2},
      {"camera link=a\n\nformat subtype=YUY3 size=640x480\n", 3},
      {"camera link=a\nformat subtype=NV12 size=641x480\n", 2},
      {"camera link=a\nformat subtype=YUY2 size=640x480 omit=MF_MT_NOTHING\n", 2},
      {"camera link=a\ncontrol property=Brightness min=5 max=1 default=2\n", 2},
      {"camera link=a\ncontrol property=Brightness min=0 max=9 default=2 flags=1 auto=0\n", 2},
      {"camera link=a stream-error-after=-1\n", 1},
      {"camera link=a\nformat subtype=YUY2 size=640x480 huffman-tables=0\n", 2},
      {"camera link=a pattern=solid:12345\n", 1},
      {"camera link=a pattern=picture:no-such-file.png\n", 1},
      {"camera link=a screen=00FF0G\n", 1},
      {"camera link=a spill=101\n", 1},
      {"camera name=\"open link=a\n", 1},
      {"cam link=a\n", 1},
  };
  for (const auto& c : cases) {
    const ParseResult r = ParseConfig(c.text);
    EXPECT_EQ(r.errorLine, c.line) << c.text;
    EXPECT_FALSE(r.error.empty()) << c.text;
    EXPECT_TRUE(r.cameras.empty()) << c.text;
  }
}

TEST(VirtualCamPicture, PictureFileIsScaledToFitCentredOnBlackWithGrain)
{
  // 4 x 2: red left half, blue right half; in a 16 x 16 frame it fills rows 4..11.
  const uint8_t png[4 * 2 * 3] = {255, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 255,
                                  255, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 255};
  const std::string path = ::testing::TempDir() + "virtualcam-picture.png";
  ASSERT_TRUE(stbi_write_png(path.c_str(), 4, 2, 3, png, 12));
  const ParseResult r = ParseConfig("camera link=a pattern=picture:" + path + "\n");
  ASSERT_EQ(r.errorLine, 0) << r.error;
  std::vector<uint8_t> rgb;
  RenderRgb(r.cameras[0].pattern, 16, 16, 0, &rgb);
  auto at = [&](int x, int y, int c) { return int(rgb[(y * 16 + x) * 3 + c]); };
  for (int x = 0; x < 16; ++x) EXPECT_TRUE(at(x, 3, 0) == 0 && at(x, 12, 2) == 0) << x;
  EXPECT_TRUE(at(0, 4, 0) == 255 && at(0, 4, 2) == 0 && at(15, 11, 2) == 255 && at(15, 11, 0) == 0);
  EXPECT_TRUE(at(7, 8, 0) > at(7, 8, 2) && at(8, 8, 2) > at(8, 8, 0));  // the halves meet in the middle

  Pattern grainy = r.cameras[0].pattern;
  grainy.noise = 8;
  std::vector<uint8_t> noisy;
  RenderRgb(grainy, 16, 16, 0, &noisy);
  int changed = 0;
  for (size_t i = 0; i < rgb.size(); ++i) {
    EXPECT_LE(std::abs(int(noisy[i]) - int(rgb[i])), 8);
    changed += noisy[i] != rgb[i];
  }
  EXPECT_GT(changed, int(rgb.size()) / 2);
  std::remove(path.c_str());
}

TEST(VirtualCamPicture, YuvSamplesAreBt601LimitedRangeOfTheBars)
{
  // BT.601 limited range worked out by hand (Y = 16 + (66R + 129G + 25B + 128) / 256,
  // rounded down; Cb, Cr likewise): white, yellow, cyan, green, magenta, red, blue,
  // black as Y, Cb, Cr.
  const uint8_t yuv[8][3] = {{235, 128, 128}, {210, 16, 146}, {169, 166, 16}, {144, 54, 34},
                             {107, 202, 222}, {82, 90, 240},  {41, 240, 110}, {16, 128, 128}};
  const uint32_t w = 128, h = 4;
  std::vector<uint8_t> rgb;
  RenderRgb(Pattern{}, w, h, 0, &rgb);
  std::vector<uint8_t> yuy2(FrameBytes(Subtype::YUY2, w, h)), nv12(FrameBytes(Subtype::NV12, w, h)),
      i420(FrameBytes(Subtype::I420, w, h));
  EncodeFrame(Subtype::YUY2, w, h, false, rgb.data(), yuy2.data());
  EncodeFrame(Subtype::NV12, w, h, false, rgb.data(), nv12.data());
  EncodeFrame(Subtype::I420, w, h, false, rgb.data(), i420.data());
  for (int bar = 0; bar < 8; ++bar) {
    SCOPED_TRACE(bar);
    const uint32_t x = bar * 16 + 8, row = 2;  // middle of the bar, an even column
    const uint8_t* p = &yuy2[(row * w + x) * 2];
    EXPECT_EQ(std::vector<uint8_t>(p, p + 4),
              std::vector<uint8_t>({yuv[bar][0], yuv[bar][1], yuv[bar][0], yuv[bar][2]}));
    EXPECT_EQ(nv12[row * w + x], yuv[bar][0]);
    const size_t c = (row / 2) * (w / 2) + x / 2;
    EXPECT_EQ(nv12[w * h + 2 * c], yuv[bar][1]);
    EXPECT_EQ(nv12[w * h + 2 * c + 1], yuv[bar][2]);
    EXPECT_EQ(i420[row * w + x], yuv[bar][0]);
    EXPECT_EQ(i420[w * h + c], yuv[bar][1]);
    EXPECT_EQ(i420[w * h + (w / 2) * (h / 2) + c], yuv[bar][2]);
  }
}

TEST(VirtualCamPicture, GreenScreenFlawsAreWhereAndAsStrongAsAsked)
{
  // 96x60: the disc has radius 10 round column 24, row 30 in frame 0.
  const struct {
    const char* options;
    uint32_t x, y;
    Rgb expected;
  } cases[] = {
      // clang-format off
      {"", 0, 0, {0, 255, 0}}, {"", 34, 30, {230, 90, 40}}, {"", 35, 30, {0, 255, 0}},
      {"screen=3CAA50", 0, 0, {0x3C, 0xAA, 0x50}},
      {"screen=3CAA50 uneven=20", 0, 0, {40, 150, 60}}, {"screen=3CAA50 uneven=20", 95, 59, {80, 190, 100}},
      {"spill=40", 34, 30, {138, 156, 24}}, {"spill=40", 28, 30, {230, 90, 40}},
      {"spill=40 spill-width=2", 31, 30, {230, 90, 40}}, {"spill=40 spill-width=2", 33, 30, {138, 156, 24}},
      {"soft-edge=1", 34, 30, {115, 173, 20}}, {"soft-edge=1", 33, 30, {230, 90, 40}},
      {"soft-edge=1", 35, 30, {0, 255, 0}},
      // clang-format on
  };
  for (const auto& c : cases) {
    const ParseResult r = ParseConfig(std::string("camera link=a pattern=greenscreen ") + c.options + "\n");
    ASSERT_EQ(r.errorLine, 0) << r.error;
    std::vector<uint8_t> rgb;
    RenderRgb(r.cameras[0].pattern, 96, 60, 0, &rgb);
    const uint8_t* p = &rgb[(c.y * 96 + c.x) * 3];
    EXPECT_EQ(std::vector<int>({p[0], p[1], p[2]}), std::vector<int>({c.expected.r, c.expected.g, c.expected.b}))
        << c.options << " at " << c.x << "," << c.y;
  }
}

// An unpaced camera's frames are the empty screen copied with the subject's boxes drawn
// over it: every frame must still equal the whole picture rendered and encoded, in every
// subtype, with every flaw, as the disc wraps round either edge.
TEST(VirtualCamPicture, FramesMadeFromBoxesEqualTheWholePicture)
{
  const ParseResult r =
      ParseConfig("camera link=a pattern=greenscreen uneven=9 spill=40 soft-edge=1 noise=5\ncamera link=b noise=5\n");
  ASSERT_EQ(r.errorLine, 0) << r.error;
  const uint32_t w = 96, h = 60;
  const struct {
    Subtype subtype;
    bool bottomUp;
  } formats[] = {{Subtype::YUY2, false},
                 {Subtype::NV12, false},
                 {Subtype::I420, false},
                 {Subtype::RGB32, false},
                 {Subtype::ARGB32, true}};
  for (const auto& camera : r.cameras) {
    for (const auto& f : formats) {
      FrameMaker maker;
      std::vector<uint8_t> rgb, expected(FrameBytes(f.subtype, w, h)), made(expected.size());
      for (uint64_t frame = 0; frame <= PictureCount(camera.pattern, w); ++frame) {
        RenderRgb(camera.pattern, w, h, frame, &rgb);
        EncodeFrame(f.subtype, w, h, f.bottomUp, rgb.data(), expected.data());
        std::fill(made.begin(), made.end(), 0xCD);
        maker.Fill(camera.pattern, f.subtype, w, h, f.bottomUp, frame, made.data());
        ASSERT_EQ(made, expected) << camera.link << " subtype " << static_cast<int>(f.subtype) << " frame " << frame;
      }
    }
  }
}

// Their colours are checked through the library's decoder, on the MJPG camera under Wine.
TEST(VirtualCamPicture, JpegFramesAreWholeBaselineAndCarryHuffmanTablesOnlyWhenAsked)
{
  const uint32_t w = 256, h = 32;
  std::vector<uint8_t> rgb, full, bare;
  RenderRgb(Pattern{}, w, h, 0, &rgb);
  ASSERT_TRUE(EncodeJpeg(w, h, rgb.data(), true, &full));
  ASSERT_TRUE(EncodeJpeg(w, h, rgb.data(), false, &bare));
  const auto count = [](const std::vector<uint8_t>& jpeg, uint8_t marker) {
    int n = 0;  // scan data escapes FF as FF 00, so FF xx there is always a marker
    for (size_t i = 0; i + 1 < jpeg.size(); ++i) n += jpeg[i] == 0xFF && jpeg[i + 1] == marker;
    return n;
  };
  for (const std::vector<uint8_t>* jpeg : {&full, &bare}) {
    ASSERT_GT(jpeg->size(), 4u);
    EXPECT_TRUE((*jpeg)[0] == 0xFF && (*jpeg)[1] == 0xD8);            // SOI
    EXPECT_TRUE(jpeg->end()[-2] == 0xFF && jpeg->end()[-1] == 0xD9);  // EOI
    EXPECT_EQ(count(*jpeg, 0xC0), 1);                                 // baseline frame header
  }
  EXPECT_EQ(count(full, 0xC4), 1);
  EXPECT_EQ(count(bare, 0xC4), 0);
  EXPECT_EQ(std::vector<uint8_t>(full.end() - 64, full.end()), std::vector<uint8_t>(bare.end() - 64, bare.end()));
}
