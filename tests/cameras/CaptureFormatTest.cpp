// Capture formats through Pictor.dll on the virtual camera: which native types are
// reported, how many records are written, and what a record holds.
#include <string>
#include <vector>

#include "Pictor.h"
#include "tests/cameras/CameraTestSupport.h"

using namespace camtest;
using pictortest::LogCapture;

namespace {

const std::string kEnum = "TPictor::EnumerateCaptureFormats";
const wchar_t kLink[] = L"vc#mixed";

// Six native types; MJPG is the one no converter accepts.
const char kMixedCamera[] =
    "camera name=\"Mixed\" link=\"vc#mixed\"\n"
    "format subtype=YUY2 size=640x480 rate=30/1\n"
    "format subtype=MJPG size=640x480 rate=30/1\n"
    "format subtype=NV12 size=1280x720 rate=15/1 omit=MF_MT_AM_FORMAT_TYPE\n"
    "format subtype=RGB32 size=640x480 rate=30/1\n"
    "format subtype=ARGB32 size=640x480 rate=25/1 stride=-2560\n"
    "format subtype=I420 size=1920x1080 rate=30/1\n";

class CaptureFormats : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_VIRTUAL_CAMERA(camera);
    camera.Configure(kMixedCamera);
    LogCapture::Get().SetLevel(2);
    LogCapture::Get().Clear();
  }

  ComThread com;
  VirtualCamera camera;
  TPictor pictor;
};

TEST_F(CaptureFormats, CountingWithoutAnArrayWritesNothingAndSkipsRefusedTypes) {
  EXPECT_EQ(pictor.GetCaptureFormatsCount(kLink), 5);
  const std::vector<std::string> lines = LogCapture::Get().Lines();
  // All six native types were walked; the MJPG one was refused by the converter with an
  // ordinary line (MF_E_INVALIDMEDIATYPE from the Color Converter DSP, as on Windows).
  EXPECT_TRUE(HasLine(lines, kEnum + " no more media types 6"));
  EXPECT_TRUE(HasLine(lines, "TMFVideoConverter::CanUseAsInputType SetInputType error: c00d36b4"));
  EXPECT_EQ(lines.back(), kEnum + " exit with 5");
  EXPECT_NO_LIVE_CAMERA_OBJECTS(camera);

  TPictorFormat formats[2];
  FillWithMarker(formats, 2);
  EXPECT_EQ(pictor.EnumerateCaptureFormats(kLink, nullptr, 2), 5);
  EXPECT_EQ(pictor.EnumerateCaptureFormats(kLink, formats, 0), 5);
  EXPECT_EQ(pictor.EnumerateCaptureFormats(kLink, formats, -3), 5);
  EXPECT_TRUE(HoldsMarker(formats[0]));
  EXPECT_TRUE(HoldsMarker(formats[1]));
  EXPECT_NO_LIVE_CAMERA_OBJECTS(camera);
}

TEST_F(CaptureFormats, ASmallArrayStopsTheWalkWhenFull) {
  TPictorFormat formats[3];
  FillWithMarker(formats, 3);
  EXPECT_EQ(pictor.EnumerateCaptureFormats(kLink, formats, 2), 2);
  EXPECT_EQ(formats[0].SubType, MFVideoFormat_YUY2);
  EXPECT_EQ(formats[1].SubType, MFVideoFormat_NV12);  // MJPG in between is not counted
  EXPECT_TRUE(HoldsMarker(formats[2]));
  const std::vector<std::string> lines = LogCapture::Get().Lines();
  EXPECT_TRUE(LinesFrom(lines, kEnum + " no more media types").empty());
  EXPECT_EQ(lines.back(), kEnum + " exit with 2");
  EXPECT_NO_LIVE_CAMERA_OBJECTS(camera);
}

TEST_F(CaptureFormats, RecordsCarryTheTypesFiguresAndNames) {
  TPictorFormat f[6];
  FillWithMarker(f, 6);
  ASSERT_EQ(pictor.EnumerateCaptureFormats(kLink, f, 6), 5);
  EXPECT_TRUE(HoldsMarker(f[5]));

  EXPECT_EQ(f[0].Width, 640u);
  EXPECT_EQ(f[0].Height, 480u);
  EXPECT_EQ(f[0].FrameSize, 307200u);
  EXPECT_EQ(f[0].FrameRate, 30u);
  EXPECT_EQ(f[0].FrameRateLow, 1u);
  EXPECT_EQ(f[0].DefaultStride, 1280u);
  EXPECT_EQ(f[0].MajorType, MFMediaType_Video);
  EXPECT_STREQ(f[0].MajorTypeName, L"MFMediaType_Video");
  EXPECT_STREQ(f[0].SubTypeName, L"MFVideoFormat_YUY2");
  // FORMAT_VideoInfo has no row in the name table: it is named in braced form.
  EXPECT_EQ(f[0].AMFormatType, FORMAT_VideoInfo);
  EXPECT_STREQ(f[0].AMFormatTypeName, L"{05589F80-C356-11CE-BF01-00AA0055595A}");

  // A type without MF_MT_AM_FORMAT_TYPE leaves the GUID and its name empty.
  EXPECT_EQ(f[1].AMFormatType, GUID_NULL);
  EXPECT_STREQ(f[1].AMFormatTypeName, L"");
  EXPECT_EQ(f[1].FrameSize, 1280u * 720u);
  EXPECT_EQ(f[1].FrameRate, 15u);

  EXPECT_STREQ(f[2].SubTypeName, L"MFVideoFormat_RGB32");
  // A bottom-up type keeps its negative stride as the 32-bit pattern.
  EXPECT_STREQ(f[3].SubTypeName, L"MFVideoFormat_ARGB32");
  EXPECT_EQ(static_cast<int>(f[3].DefaultStride), -2560);
  EXPECT_EQ(f[3].FrameRate, 25u);
  EXPECT_STREQ(f[4].SubTypeName, L"MFVideoFormat_I420");
  EXPECT_EQ(f[4].FrameSize, 1920u * 1080u);
  EXPECT_NO_LIVE_CAMERA_OBJECTS(camera);
}

TEST_F(CaptureFormats, FormatByIndexFallsBackToTheFirstAndIsAllZeroForAnUnopenableCamera) {
  TPictorFormat all[5];
  ASSERT_EQ(pictor.EnumerateCaptureFormats(kLink, all, 5), 5);
  for (int index : {-1, 5, 1000}) {
    const TPictorFormat f = pictor.GetPictorFormatByIndex(kLink, index);
    EXPECT_EQ(memcmp(&f, &all[0], sizeof(f)), 0) << "index " << index;
  }
  const TPictorFormat third = pictor.GetPictorFormatByIndex(kLink, 2);
  EXPECT_EQ(memcmp(&third, &all[2], sizeof(third)), 0);
  EXPECT_NO_LIVE_CAMERA_OBJECTS(camera);

  LogCapture::Get().Clear();
  const TPictorFormat none = pictor.GetPictorFormatByIndex(L"vc#nowhere", 0);
  const TPictorFormat zero{};
  EXPECT_EQ(memcmp(&none, &zero, sizeof(none)), 0);
  const std::string act = "TPictor::ActivateDevice";
  const std::string inner = "TPictor::ActivateDeviceInternal";
  const std::string off = "TPictor::DeactivateDevice";
  const std::vector<std::string> expected = {
      "TPictor::GetPictorFormatByIndex",
      kEnum,
      off,
      off + " exit",
      act,
      inner + " 'vc#nowhere'",
      off,
      off + " exit",
      // The double answers an unknown link with HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND).
      inner + " MFCreateDeviceSource error -2147024894",
      inner + " exit with 0",
      act + " exit with 0",
      kEnum + " exit unable to activate",
      "TPictor::GetPictorFormatByIndex EnumerateCaptureFormats returned 0",
      "TPictor::GetPictorFormatByIndex exit",
  };
  EXPECT_EQ(LogCapture::Get().Lines(), expected);
  EXPECT_NO_LIVE_CAMERA_OBJECTS(camera);
}

TEST_F(CaptureFormats, NativeTypeErrorEndsTheWalkKeepingWhatWasCounted) {
  camera.Configure(
      "camera name=\"Flaky\" link=\"vc#flaky\" type-error-at=2\n"
      "format subtype=YUY2 size=640x480 rate=30/1\n"
      "format subtype=NV12 size=640x480 rate=30/1\n"
      "format subtype=RGB32 size=640x480 rate=30/1\n");
  LogCapture::Get().Clear();
  EXPECT_EQ(pictor.GetCaptureFormatsCount(L"vc#flaky"), 2);
  const std::vector<std::string> errors =
      LinesFrom(LogCapture::Get().Lines(), kEnum + " error getting media type for ");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind(kEnum + " error getting media type for 2 error ", 0), 0u);
  EXPECT_NO_LIVE_CAMERA_OBJECTS(camera);
}

TEST_F(CaptureFormats, FormatPropertiesAreLoggedInRecordOrder) {
  const TPictorFormat f = pictor.GetPictorFormatByIndex(kLink, 3);  // ARGB32, bottom-up
  LogCapture::Get().Clear();
  TPictor::LogPictorFormatProperties(f);
  const std::string n = "TPictor::LogPictorFormatProperties";
  const std::vector<std::string> expected = {
      n + " MF_MT_FRAME_SIZE : 307200",
      n + " height : 480",
      n + " width : 640",
      n + Format(" MF_MT_YUV_MATRIX : %d", static_cast<int>(f.YUVMatrix)),
      n + Format(" MF_MT_VIDEO_LIGHTING : %d", static_cast<int>(f.VideoLighting)),
      n + " MF_MT_DEFAULT_STRIDE : -2560",
      n + Format(" MF_MT_VIDEO_CHROMA_SITING : %d", static_cast<int>(f.VideoChromaSiting)),
      n + " MF_MT_AM_FORMAT_TYPE : {05589F80-C356-11CE-BF01-00AA0055595A}",
      n + Format(" MF_MT_FIXED_SIZE_SAMPLES : %d", static_cast<int>(f.FixedSizeSamples)),
      n + Format(" MF_MT_VIDEO_NOMINAL_RANGE : %d", static_cast<int>(f.VideoNominalRange)),
      n + " MF_MT_FRAME_RATE : 25",
      n + " MF_MT_FRAME_RATE_low : 1",
      n + Format(" MF_MT_PIXEL_ASPECT_RATIO : %d", static_cast<int>(f.PixelAspectRatio)),
      n + Format(" MF_MT_PIXEL_ASPECT_RATIO_low : %d", static_cast<int>(f.PixelAspectRatioLow)),
      n + Format(" MF_MT_ALL_SAMPLES_INDEPENDENT : %d", static_cast<int>(f.AllSamplesIndependent)),
      n + Format(" MF_MT_FRAME_RATE_RANGE_MIN : %d", static_cast<int>(f.FrameRateRangeMin)),
      n + Format(" MF_MT_FRAME_RATE_RANGE_MIN_low : %d", static_cast<int>(f.FrameRateRangeMinLow)),
      n + Format(" MF_MT_SAMPLE_SIZE : %d", static_cast<int>(f.SampleSize)),
      n + Format(" MF_MT_VIDEO_PRIMARIES : %d", static_cast<int>(f.VideoPrimaries)),
      n + Format(" MF_MT_INTERLACE_MODE : %d", static_cast<int>(f.InterlaceMode)),
      n + Format(" MF_MT_FRAME_RATE_RANGE_MAX : %d", static_cast<int>(f.FrameRateRangeMax)),
      n + Format(" MF_MT_FRAME_RATE_RANGE_MAX_low : %d", static_cast<int>(f.FrameRateRangeMaxLow)),
      n + " MF_MT_MAJOR_TYPE : MFMediaType_Video",
      n + " MF_MT_SUBTYPE : MFVideoFormat_ARGB32",
  };
  EXPECT_EQ(LogCapture::Get().Lines(), expected);
  // Values the double sets for an uncompressed progressive type.
  EXPECT_EQ(f.SampleSize, 640u * 480u * 4u);
  EXPECT_EQ(f.InterlaceMode, 2u);  // MFVideoInterlace_Progressive
}

}  // namespace
