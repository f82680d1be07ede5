// The built-in conversion through the exported interface, on the virtual camera: what it
// lists, MJPG at 1080p, broken JPEG frames, and the YUV and RGB frames in the row order
// the host asks for.
#include "Pictor.h"
#include "PictorC.h"

#include "tests/support/HostTest.h"

#include <mfapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace pictortest;

static auto* const g_com = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

namespace {

const wchar_t kLink[] = L"\\\\?\\virtualcam#a";

class BuiltInConversionTest : public ::testing::Test {
 protected:
  void SetUp() override { LogCapture::Get().SetLevel(2), LogCapture::Get().Clear(); }
  void TearDown() override { EXPECT_NO_LIVE_CAMERA_OBJECTS(); }
};

// Blue, green, red of the picture's pixel (x, y), whatever the stored row order.
std::vector<int> At(const FrameSink::Frame& frame, unsigned x, unsigned y)
{
  const uint8_t* p = &frame.pixels[(size_t(frame.topDown ? y : frame.height - 1 - y) * frame.width + x) * 4];
  return {p[0], p[1], p[2]};
}

// Worst channel difference of the bars at the middle of each bar, over rows from top
// to bottom (the bars pattern's colours, blue-green-red).
int WorstBarError(const FrameSink::Frame& frame)
{
  static const int kBars[8][3] = {{255, 255, 255}, {0, 255, 255}, {255, 255, 0}, {0, 255, 0},
                                  {255, 0, 255},   {0, 0, 255},   {255, 0, 0},   {0, 0, 0}};
  int worst = 0;
  for (unsigned bar = 0; bar < 8; ++bar)
    for (unsigned y = 8; y < frame.height; y += frame.height / 8) {
      const std::vector<int> got = At(frame, (2 * bar + 1) * frame.width / 16, y);
      for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(got[c] - kBars[bar][c]));
    }
  return worst;
}

TEST_F(BuiltInConversionTest, ListsWhatItReadsInNativeOrderWhileTheDefaultListIsUnchanged)
{
  VirtualCamera::Get().Configure(
      "camera name=A link=\\\\?\\virtualcam#a\nformat subtype=YUY2 size=640x480\n"
      "format subtype=MJPG size=1280x720\nformat subtype=NV12 size=640x480\nformat subtype=MJPG size=1920x1080\n");
  TPictor pictor;
  TPictorFormat formats[8];
  ASSERT_EQ(pictor.EnumerateCaptureFormats(kLink, formats, 8), 2);
  EXPECT_TRUE(formats[0].SubType == MFVideoFormat_YUY2 && formats[1].SubType == MFVideoFormat_NV12);

  pictor.SetConversion(pcBuiltIn);
  pictor.SetConversion(static_cast<TPictorConversion>(7));  // refused: the choice stays
  EXPECT_TRUE(Contains(LogCapture::Get().Lines(), "TPictor::SetConversion unknown conversion 7, 1 kept"));
  ASSERT_EQ(pictor.EnumerateCaptureFormats(kLink, formats, 8), 4);
  const GUID order[] = {MFVideoFormat_YUY2, MFVideoFormat_MJPG, MFVideoFormat_NV12, MFVideoFormat_MJPG};
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(formats[i].SubType == order[i]) << i;
  EXPECT_EQ(formats[3].Width, 1920u);

  // The C interface's option: the same choice, unknown values refused.
  PictorCapture capture = nullptr;
  ASSERT_EQ(PictorCaptureCreate(&capture), PICTOR_OK);
  int count = 0;
  EXPECT_EQ(PictorCaptureSetConversion(capture, 2), PICTOR_E_INVALID_ARGUMENT);
  EXPECT_EQ(PictorCaptureSetConversion(capture, PICTOR_CONVERSION_BUILT_IN), PICTOR_OK);
  EXPECT_TRUE(PictorCaptureGetFormatCount(capture, kLink, &count) == PICTOR_OK && count == 4);
  EXPECT_EQ(PictorCaptureDestroy(capture), PICTOR_OK);
}

// The bars are vertical: the row order of decoded JPEG is checked by the kernel test
// (BuiltInConverterTest.cpp), the glue's by the YUV and RGB case below.
TEST_F(BuiltInConversionTest, MjpgAt1080pArrivesAtTheCameraRateWithItsColoursInBothRowOrders)
{
  VirtualCamera::Get().Configure(
      "camera name=A link=\\\\?\\virtualcam#a pattern=bars\nformat subtype=MJPG size=1920x1080 rate=30/1\n");
  for (bool topDown : {true, false}) {
    SCOPED_TRACE(topDown ? "top-down" : "bottom-up");
    TPictor pictor;
    pictor.SetConversion(pcBuiltIn);
    TPictorFormat format;
    ASSERT_EQ(pictor.EnumerateCaptureFormats(kLink, &format, 1), 1);
    EXPECT_TRUE(format.SubType == MFVideoFormat_MJPG && format.Width == 1920 && format.Height == 1080 &&
                format.FrameRate == 30 && format.FrameRateLow == 1);
    FrameSink frame;
    ASSERT_TRUE(pictor.StartCapture(kLink, 0, topDown, FrameSink::Callback, &frame));
    ASSERT_TRUE(frame.WaitFor(45));
    const TPictorCaptureStatus status = pictor.GetCaptureStatus();
    pictor.StopCapture();
    // The camera's 30/1, with room for a machine busy with other work.
    EXPECT_GE(status.FrameRate, 20.0);
    EXPECT_LE(status.FrameRate, 33.0);
    ASSERT_EQ(frame.last.width, 1920u);
    EXPECT_EQ(frame.last.topDown, topDown);
    EXPECT_LE(WorstBarError(frame.last), 12);  // a quality-90 JPEG's error on flat colour
  }
}

TEST_F(BuiltInConversionTest, FramesWithoutHuffmanTablesDecodeAndATruncatedOneIsDroppedWithALine)
{
  VirtualCamera::Get().Configure(
      "camera name=A link=\\\\?\\virtualcam#a pattern=bars truncate-frame=3\n"
      "format subtype=MJPG size=640x480 rate=30/1 huffman-tables=0\n");
  TPictor pictor;
  pictor.SetConversion(pcBuiltIn);
  FrameSink frame;
  ASSERT_TRUE(pictor.StartCapture(kLink, 0, true, FrameSink::Callback, &frame));
  ASSERT_TRUE(frame.WaitFor(8));
  const TPictorCaptureStatus status = pictor.GetCaptureStatus();
  pictor.StopCapture();
  EXPECT_LE(WorstBarError(frame.last), 12);
  EXPECT_GE(status.FramesDropped, 1u);
  const auto dropped = LinesStartingWith(LogCapture::Get().Lines(), "TMFVideoConverter::ConvertThread frame dropped: ");
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_EQ(dropped[0], "TMFVideoConverter::ConvertThread frame dropped: JPEG data: Premature end of JPEG file");
}

TEST_F(BuiltInConversionTest, PreviewOptionReachesThePreviewsCapture)
{
  // The only format is MJPG, which the system converter does not list: the preview starts
  // only when its capture uses the built-in conversion.
  VirtualCamera::Get().Configure(
      "camera name=A link=\\\\?\\virtualcam#a pattern=bars\nformat subtype=MJPG size=320x240 rate=30/1\n");
  PictorPreview preview = nullptr;
  ASSERT_EQ(PictorPreviewCreate(&preview), PICTOR_OK);
  static std::atomic<int> frames{0};
  const PictorPreviewCallback callback = [](unsigned, unsigned, unsigned, unsigned char*, void*) { return ++frames; };
  EXPECT_EQ(PictorPreviewStart(preview, kLink, 0, 1, nullptr, nullptr, callback, nullptr), PICTOR_E_FAILED);
  EXPECT_EQ(PictorPreviewSetConversion(preview, -1), PICTOR_E_INVALID_ARGUMENT);
  EXPECT_EQ(PictorPreviewSetConversion(preview, PICTOR_CONVERSION_BUILT_IN), PICTOR_OK);
  ASSERT_EQ(PictorPreviewStart(preview, kLink, 0, 1, nullptr, nullptr, callback, nullptr), PICTOR_OK);
  for (int waited = 0; frames < 3 && waited < 30000; waited += 20) Sleep(20);
  EXPECT_GE(frames.load(), 3);
  EXPECT_EQ(PictorPreviewDestroy(preview), PICTOR_OK);
}

struct SubtypeCase {
  const char* format;
  bool inputTopDown;  // RGB32: the camera's stored order
};

TEST_F(BuiltInConversionTest, YuvAndRgbFramesArriveInTheAskedRowOrder)
{
  const SubtypeCase cases[] = {{"subtype=YUY2", true},
                               {"subtype=NV12", true},
                               {"subtype=I420", true},
                               {"subtype=RGB32", true},
                               {"subtype=RGB32 stride=-1280", false}};
  for (const SubtypeCase& c : cases) {
    char config[200];
    std::snprintf(config, sizeof config,
                  "camera name=A link=\\\\?\\virtualcam#a pattern=marker\nformat %s size=320x240 rate=30/1\n",
                  c.format);
    VirtualCamera::Get().Configure(config);
    for (bool topDown : {true, false}) {
      SCOPED_TRACE(std::string(c.format) + (topDown ? " top-down" : " bottom-up"));
      TPictor pictor;
      pictor.SetConversion(pcBuiltIn);
      FrameSink frame;
      ASSERT_TRUE(pictor.StartCapture(kLink, 0, topDown, FrameSink::Callback, &frame));
      ASSERT_TRUE(frame.WaitFor(2));
      pictor.StopCapture();
      EXPECT_EQ(frame.last.topDown, topDown);
      // Marker: top half red, bottom half blue, BT.601 studio range in the YUV frames.
      for (unsigned y : {2u, 100u, 140u, 237u}) {
        const std::vector<int> got = At(frame.last, 160, y);
        const std::vector<int> want = y < 120 ? std::vector<int>{0, 0, 255} : std::vector<int>{255, 0, 0};
        for (int ch = 0; ch < 3; ++ch) EXPECT_LE(std::abs(got[ch] - want[ch]), 3) << "row " << y << " channel " << ch;
      }
    }
  }
}

}  // namespace
