// White-box checks (linked from pictor_internal): the camera slot, format records and the
// GUID name table against the SDK's own definitions.
#include <mfapi.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <wrl/client.h>

#include <cstring>

#include "Pictor.h"
#include "media/GUIDNames.h"
#include "capture/PictorFormats.h"
#include "tests/capture/CaptureTestSupport.h"
#include "tests/capture/TestAccess.h"

using capturetest::MakeVideoType;
using Microsoft::WRL::ComPtr;
using namespace pictortest;

namespace {

TEST(CameraSlot, ActivatingTwiceReleasesTheFirstReaderAndSource)
{
  ComThread com;
  VirtualCamera::Get().Configure("camera name=A link=vc#a\nformat subtype=YUY2 size=640x480 rate=30/1\n");
  TPictor pictor;
  ASSERT_TRUE(TPictorTestAccess::Activate(pictor, L"vc#a"));
  ASSERT_TRUE(TPictorTestAccess::Activate(pictor, L"vc#a"));
  IMFSourceReader* reader = TPictorTestAccess::Reader(pictor);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(VirtualCamera::Get().Counts().sources, 1) << "the first source is still alive";
  // Every leak check trusts the camera's counts: a sample held is counted until released.
  ComPtr<IMFSample> sample;
  DWORD stream = 0, flags = 0;
  LONGLONG time = 0;
  ASSERT_EQ(reader->ReadSample(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, &stream, &flags, &time, &sample), S_OK);
  const VirtualCamCounts held = VirtualCamera::Get().Counts();
  EXPECT_TRUE(sample && held.samples == 1 && held.buffers == 1) << held.samples << " " << held.buffers;
  sample.Reset();
  // The reader reads through the library's watch on the camera: like any media source it
  // answers for the event generator its interface derives from, and for nothing else.
  ComPtr<IMFMediaSource> watched;
  ComPtr<IMFMediaEventGenerator> generator;
  ASSERT_EQ(reader->GetServiceForStream(MF_SOURCE_READER_MEDIASOURCE, GUID_NULL, IID_PPV_ARGS(&watched)), S_OK);
  EXPECT_EQ(watched.As(&generator), S_OK);
  EXPECT_EQ(generator.Get(), static_cast<IMFMediaEventGenerator*>(watched.Get()));
  void* other = &other;
  EXPECT_TRUE(watched->QueryInterface(__uuidof(IMFMediaStream), &other) == E_NOINTERFACE && !other);
  watched.Reset();
  generator.Reset();
  TPictorTestAccess::Deactivate(pictor);
  EXPECT_EQ(TPictorTestAccess::Reader(pictor), nullptr);
  EXPECT_NO_LIVE_CAMERA_OBJECTS();
}

// A vendor subtype that no table names.
const GUID kVendorSubtype = {0x0123ABCD, 0x4567, 0x89EF, {1, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};

class MediaTypes : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(MFStartup(MF_VERSION, MFSTARTUP_FULL), S_OK); }
  void TearDown() override { MFShutdown(); }
  ComThread com;
};

TEST_F(MediaTypes, RecordSplitsPairsNamesUnknownGUIDsInBracedFormAndZeroesTheRest)
{
  ComPtr<IMFMediaType> type = MakeVideoType(kVendorSubtype, 640, 480, true, -2560);
  MFSetAttributeRatio(type.Get(), MF_MT_FRAME_RATE_RANGE_MAX, 60, 1001);
  type->SetUINT32(MF_MT_AVG_BITRATE, 147456000);  // no field of its own: changes nothing
  TPictorFormat f;
  std::memset(static_cast<void*>(&f), 0x5A, sizeof f);
  ASSERT_TRUE(ReadPictorFormat(type.Get(), &f));
  EXPECT_TRUE(f.Width == 640 && f.Height == 480 && f.FrameSize == 307200u);
  EXPECT_TRUE(f.FrameRate == 30 && f.FrameRateLow == 1 && f.FrameRateRangeMax == 60 && f.FrameRateRangeMaxLow == 1001);
  EXPECT_EQ(static_cast<int>(f.DefaultStride), -2560);
  EXPECT_EQ(f.SubType, kVendorSubtype);
  EXPECT_STREQ(f.SubTypeName, L"{0123ABCD-4567-89EF-0123-456789ABCDEF}");
  EXPECT_STREQ(f.MajorTypeName, L"MFMediaType_Video");
  // What the type does not carry is zero, not left over.
  EXPECT_EQ(f.AMFormatType, GUID_NULL);
  EXPECT_STREQ(f.AMFormatTypeName, L"");
  EXPECT_TRUE(f.FrameRateRangeMin == 0 && f.YUVMatrix == 0);

  ComPtr<IMFMediaType> huge = MakeVideoType(MFVideoFormat_NV12, 65536, 65537, false, 0);
  ASSERT_TRUE(ReadPictorFormat(huge.Get(), &f));
  EXPECT_EQ(f.FrameSize, 65536u);  // 65536 * 65537 mod 2^32
}

TEST(GUIDNamesOnWindows, TableAgreesWithTheSDKHeaders)
{
// clang-format off
#define NAMED(id) {id, L## #id}
  const struct {
    GUID guid;
    const wchar_t* name;
  } sdk[] = {
      NAMED(MF_MT_MAJOR_TYPE), NAMED(MF_MT_SUBTYPE), NAMED(MF_MT_ALL_SAMPLES_INDEPENDENT),
      NAMED(MF_MT_FIXED_SIZE_SAMPLES), NAMED(MF_MT_COMPRESSED), NAMED(MF_MT_SAMPLE_SIZE), NAMED(MF_MT_WRAPPED_TYPE),
      NAMED(MF_MT_AUDIO_NUM_CHANNELS), NAMED(MF_MT_AUDIO_SAMPLES_PER_SECOND),
      NAMED(MF_MT_AUDIO_FLOAT_SAMPLES_PER_SECOND), NAMED(MF_MT_AUDIO_AVG_BYTES_PER_SECOND),
      NAMED(MF_MT_AUDIO_BLOCK_ALIGNMENT), NAMED(MF_MT_AUDIO_BITS_PER_SAMPLE),
      NAMED(MF_MT_AUDIO_VALID_BITS_PER_SAMPLE), NAMED(MF_MT_AUDIO_SAMPLES_PER_BLOCK), NAMED(MF_MT_AUDIO_CHANNEL_MASK),
      NAMED(MF_MT_AUDIO_FOLDDOWN_MATRIX), NAMED(MF_MT_AUDIO_WMADRC_PEAKREF), NAMED(MF_MT_AUDIO_WMADRC_PEAKTARGET),
      NAMED(MF_MT_AUDIO_WMADRC_AVGREF), NAMED(MF_MT_AUDIO_WMADRC_AVGTARGET), NAMED(MF_MT_AUDIO_PREFER_WAVEFORMATEX),
      NAMED(MF_MT_AAC_PAYLOAD_TYPE), NAMED(MF_MT_AAC_AUDIO_PROFILE_LEVEL_INDICATION), NAMED(MF_MT_FRAME_SIZE),
      NAMED(MF_MT_FRAME_RATE), NAMED(MF_MT_FRAME_RATE_RANGE_MAX), NAMED(MF_MT_FRAME_RATE_RANGE_MIN),
      NAMED(MF_MT_PIXEL_ASPECT_RATIO), NAMED(MF_MT_DRM_FLAGS), NAMED(MF_MT_PAD_CONTROL_FLAGS),
      NAMED(MF_MT_SOURCE_CONTENT_HINT), NAMED(MF_MT_VIDEO_CHROMA_SITING), NAMED(MF_MT_INTERLACE_MODE),
      NAMED(MF_MT_TRANSFER_FUNCTION), NAMED(MF_MT_VIDEO_PRIMARIES), NAMED(MF_MT_CUSTOM_VIDEO_PRIMARIES),
      NAMED(MF_MT_YUV_MATRIX), NAMED(MF_MT_VIDEO_LIGHTING), NAMED(MF_MT_VIDEO_NOMINAL_RANGE),
      NAMED(MF_MT_GEOMETRIC_APERTURE), NAMED(MF_MT_MINIMUM_DISPLAY_APERTURE), NAMED(MF_MT_PAN_SCAN_APERTURE),
      NAMED(MF_MT_PAN_SCAN_ENABLED), NAMED(MF_MT_AVG_BITRATE), NAMED(MF_MT_AVG_BIT_ERROR_RATE),
      NAMED(MF_MT_MAX_KEYFRAME_SPACING), NAMED(MF_MT_DEFAULT_STRIDE), NAMED(MF_MT_PALETTE), NAMED(MF_MT_USER_DATA),
      NAMED(MF_MT_AM_FORMAT_TYPE), NAMED(MF_MT_MPEG_START_TIME_CODE), NAMED(MF_MT_MPEG2_PROFILE),
      NAMED(MF_MT_MPEG2_LEVEL), NAMED(MF_MT_MPEG2_FLAGS), NAMED(MF_MT_MPEG_SEQUENCE_HEADER),
      NAMED(MF_MT_DV_AAUX_SRC_PACK_0), NAMED(MF_MT_DV_AAUX_CTRL_PACK_0), NAMED(MF_MT_DV_AAUX_SRC_PACK_1),
      NAMED(MF_MT_DV_AAUX_CTRL_PACK_1), NAMED(MF_MT_DV_VAUX_SRC_PACK), NAMED(MF_MT_DV_VAUX_CTRL_PACK),
      NAMED(MF_MT_ARBITRARY_HEADER), NAMED(MF_MT_ARBITRARY_FORMAT), NAMED(MF_MT_IMAGE_LOSS_TOLERANT),
      NAMED(MF_MT_MPEG4_SAMPLE_DESCRIPTION), NAMED(MF_MT_MPEG4_CURRENT_SAMPLE_ENTRY), NAMED(MF_MT_ORIGINAL_4CC),
      NAMED(MF_MT_ORIGINAL_WAVE_FORMAT_TAG), NAMED(MFMediaType_Audio), NAMED(MFMediaType_Video),
      NAMED(MFMediaType_Protected), NAMED(MFMediaType_SAMI), NAMED(MFMediaType_Script), NAMED(MFMediaType_Image),
      NAMED(MFMediaType_HTML), NAMED(MFMediaType_Binary), NAMED(MFMediaType_FileTransfer), NAMED(MFVideoFormat_AI44),
      NAMED(MFVideoFormat_ARGB32), NAMED(MFVideoFormat_AYUV), NAMED(MFVideoFormat_DV25), NAMED(MFVideoFormat_DV50),
      NAMED(MFVideoFormat_DVH1), NAMED(MFVideoFormat_DVSD), NAMED(MFVideoFormat_DVSL), NAMED(MFVideoFormat_H264),
      NAMED(MFVideoFormat_I420), NAMED(MFVideoFormat_IYUV), NAMED(MFVideoFormat_M4S2), NAMED(MFVideoFormat_MJPG),
      NAMED(MFVideoFormat_MP43), NAMED(MFVideoFormat_MP4S), NAMED(MFVideoFormat_MP4V), NAMED(MFVideoFormat_MPG1),
      NAMED(MFVideoFormat_MSS1), NAMED(MFVideoFormat_MSS2), NAMED(MFVideoFormat_NV11), NAMED(MFVideoFormat_NV12),
      NAMED(MFVideoFormat_P010), NAMED(MFVideoFormat_P016), NAMED(MFVideoFormat_P210), NAMED(MFVideoFormat_P216),
      NAMED(MFVideoFormat_RGB24), NAMED(MFVideoFormat_RGB32), NAMED(MFVideoFormat_RGB555),
      NAMED(MFVideoFormat_RGB565), NAMED(MFVideoFormat_RGB8), NAMED(MFVideoFormat_UYVY), NAMED(MFVideoFormat_v210),
      NAMED(MFVideoFormat_v410), NAMED(MFVideoFormat_WMV1), NAMED(MFVideoFormat_WMV2), NAMED(MFVideoFormat_WMV3),
      NAMED(MFVideoFormat_WVC1), NAMED(MFVideoFormat_Y210), NAMED(MFVideoFormat_Y216), NAMED(MFVideoFormat_Y410),
      NAMED(MFVideoFormat_Y416), NAMED(MFVideoFormat_Y41P), NAMED(MFVideoFormat_Y41T), NAMED(MFVideoFormat_YUY2),
      NAMED(MFVideoFormat_YV12), NAMED(MFVideoFormat_YVYU), NAMED(MFAudioFormat_PCM), NAMED(MFAudioFormat_Float),
      NAMED(MFAudioFormat_DTS), NAMED(MFAudioFormat_Dolby_AC3_SPDIF), NAMED(MFAudioFormat_DRM),
      NAMED(MFAudioFormat_WMAudioV8), NAMED(MFAudioFormat_WMAudioV9), NAMED(MFAudioFormat_WMAudio_Lossless),
      NAMED(MFAudioFormat_WMASPDIF), NAMED(MFAudioFormat_MSP1), NAMED(MFAudioFormat_MP3), NAMED(MFAudioFormat_MPEG),
      NAMED(MFAudioFormat_AAC), NAMED(MFAudioFormat_ADTS),
  };
#undef NAMED
  // clang-format on
  ASSERT_EQ(sizeof(sdk) / sizeof(sdk[0]) + 1, MFGUIDNameTableSize());  // + the KS handler
  for (const auto& row : sdk) EXPECT_EQ(GetMFGUIDName(row.guid), row.name);
}

}  // namespace
