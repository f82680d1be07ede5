// Frames of the virtual camera read through the platform's own source reader.
#include <strmif.h>
#include <uuids.h>
#include <wmcodecdsp.h>

#include "tests/virtualcam/VirtualCamFixture.h"
#include "tools/virtualcam/FramePattern.h"

using namespace virtualcam;

namespace {

struct ReadResult {
  HRESULT hr = E_FAIL;
  DWORD flags = 0;
  LONGLONG time = -1;
  ComPtr<IMFSample> sample;
};

ReadResult ReadOne(IMFSourceReader* reader) {
  ReadResult r;
  DWORD stream = 0;
  r.hr = reader->ReadSample(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, &stream, &r.flags, &r.time, &r.sample);
  return r;
}

// Selects native type `index` of the first video stream as the current type.
void SelectNativeType(IMFSourceReader* reader, DWORD index) {
  ComPtr<IMFMediaType> type;
  ASSERT_EQ(reader->GetNativeMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, index, &type), S_OK);
  ASSERT_EQ(reader->SetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, nullptr, type.Get()), S_OK);
}

std::vector<uint8_t> Expected(PatternKind kind, Subtype subtype, uint32_t w, uint32_t h, uint64_t frame, bool bottomUp) {
  Pattern pattern;
  pattern.kind = kind;
  std::vector<uint8_t> rgb;
  RenderRgb(pattern, w, h, frame, &rgb);
  std::vector<uint8_t> out(FrameBytes(subtype, w, h));
  EncodeFrame(subtype, w, h, bottomUp, rgb.data(), out.data());
  return out;
}

}  // namespace

namespace {

const char kAllSubtypes[] =
    "camera name=All link=all pattern=marker paced=0\n"
    "format subtype=YUY2 size=64x32 rate=30/1\n"
    "format subtype=NV12 size=64x32 rate=25/1\n"
    "format subtype=I420 size=64x32 rate=15/1\n"
    "format subtype=RGB32 size=64x32 rate=30/1\n"
    "format subtype=ARGB32 size=64x32 rate=30/1\n"
    "format subtype=MJPG size=1280x720 rate=30/1\n";

struct SubtypeCase {
  DWORD index;
  GUID guid;
  Subtype subtype;
  uint32_t width, height;
  LONGLONG fps;
};

}  // namespace

TEST_F(VirtualCamTest, EverySubtypeDeliversItsPictureThroughTheReader) {
  Configure(kAllSubtypes);
  const SubtypeCase cases[] = {{0, MFVideoFormat_YUY2, Subtype::YUY2, 64, 32, 30},
                               {1, MFVideoFormat_NV12, Subtype::NV12, 64, 32, 25},
                               {2, MFVideoFormat_I420, Subtype::I420, 64, 32, 15},
                               {3, MFVideoFormat_RGB32, Subtype::RGB32, 64, 32, 30},
                               {4, MFVideoFormat_ARGB32, Subtype::ARGB32, 64, 32, 30},
                               {5, MFVideoFormat_MJPG, Subtype::MJPG, 1280, 720, 30}};
  for (const SubtypeCase& c : cases) {
    SCOPED_TRACE(SubtypeName(c.subtype));
    ComPtr<IMFSourceReader> reader = OpenReader(L"all");
    ASSERT_TRUE(reader);
    SelectNativeType(reader.Get(), c.index);
    ComPtr<IMFMediaType> current;
    ASSERT_EQ(reader->GetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, &current), S_OK);
    GUID subtype = GUID_NULL;
    current->GetGUID(MF_MT_SUBTYPE, &subtype);
    EXPECT_EQ(subtype, c.guid);

    const std::vector<uint8_t> expected =
        Expected(PatternKind::Marker, c.subtype, c.width, c.height, 0, c.subtype == Subtype::ARGB32);
    for (int i = 0; i < 3; ++i) {
      ReadResult r = ReadOne(reader.Get());
      ASSERT_EQ(r.hr, S_OK);
      ASSERT_TRUE(r.sample);
      // Stamps in 100 ns units from the start; each frame lasts up to the next stamp.
      const LONGLONG stamp = i * 10000000LL / c.fps, next = (i + 1) * 10000000LL / c.fps;
      EXPECT_EQ(r.time, stamp);
      LONGLONG duration = 0;
      EXPECT_EQ(r.sample->GetSampleDuration(&duration), S_OK);
      EXPECT_EQ(duration, next - stamp);
      EXPECT_EQ(SampleBytes(r.sample.Get()), expected);
    }
  }
}

TEST_F(VirtualCamTest, RgbRowOrderFollowsTheStrideSign) {
  // The marker is red on top, blue below; bytes are B, G, R, A.
  Configure(kAllSubtypes);
  for (DWORD index : {3u, 4u}) {
    ComPtr<IMFSourceReader> reader = OpenReader(L"all");
    ASSERT_TRUE(reader);
    SelectNativeType(reader.Get(), index);
    ComPtr<IMFMediaType> type;
    ASSERT_EQ(reader->GetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, &type), S_OK);
    UINT32 stride = 0;
    ASSERT_EQ(type->GetUINT32(MF_MT_DEFAULT_STRIDE, &stride), S_OK);
    ReadResult r = ReadOne(reader.Get());
    ASSERT_EQ(r.hr, S_OK);
    const std::vector<uint8_t> bytes = SampleBytes(r.sample.Get());
    ASSERT_EQ(bytes.size(), 64u * 32u * 4u);
    const uint8_t firstRowRed = bytes[2], firstRowBlue = bytes[0];
    if (index == 3) {
      EXPECT_EQ(static_cast<INT32>(stride), 256);
      EXPECT_EQ(firstRowRed, 255);
      EXPECT_EQ(firstRowBlue, 0);
    } else {
      EXPECT_EQ(static_cast<INT32>(stride), -256);
      EXPECT_EQ(firstRowRed, 0) << "ARGB32 frames are stored bottom row first";
      EXPECT_EQ(firstRowBlue, 255);
    }
  }
}

// Wine 8.0's Color Converter (GStreamer's videoconvert) returns strongly coloured bars
// up to 6 levels darker (yellow 251,251,0; green 0,249,0), Windows' within 3.
TEST_F(VirtualCamTest, ColorConverterGivesBackTheBarColours) {
  const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  const int tolerance = wine ? 6 : 3;
  Configure(
      "camera name=Bars link=bars paced=0\n"
      "format subtype=YUY2 size=128x16 rate=30/1\n"
      "format subtype=NV12 size=128x16 rate=30/1\n"
      "format subtype=I420 size=128x16 rate=30/1\n");
  for (DWORD index = 0; index < 3; ++index) {
    SCOPED_TRACE(index);
    ComPtr<IMFSourceReader> reader = OpenReader(L"bars");
    ASSERT_TRUE(reader);
    SelectNativeType(reader.Get(), index);
    ComPtr<IMFMediaType> input;
    ASSERT_EQ(reader->GetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, &input), S_OK);
    ReadResult r = ReadOne(reader.Get());
    ASSERT_EQ(r.hr, S_OK);

    ComPtr<IMFTransform> converter;
    ASSERT_EQ(CoCreateInstance(CLSID_CColorConvertDMO, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&converter)), S_OK);
    ASSERT_EQ(converter->SetInputType(0, input.Get(), 0), S_OK);
    ComPtr<IMFMediaType> output;
    ASSERT_EQ(MFCreateMediaType(&output), S_OK);
    output->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    output->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_RGB32);
    MFSetAttributeSize(output.Get(), MF_MT_FRAME_SIZE, 128, 16);
    output->SetUINT32(MF_MT_DEFAULT_STRIDE, 128 * 4);
    ASSERT_EQ(converter->SetOutputType(0, output.Get(), 0), S_OK);
    ASSERT_EQ(converter->ProcessInput(0, r.sample.Get(), 0), S_OK);

    ComPtr<IMFSample> out;
    ComPtr<IMFMediaBuffer> outBuffer;
    ASSERT_EQ(MFCreateSample(&out), S_OK);
    ASSERT_EQ(MFCreateMemoryBuffer(128 * 16 * 4, &outBuffer), S_OK);
    out->AddBuffer(outBuffer.Get());
    MFT_OUTPUT_DATA_BUFFER data = {};
    data.pSample = out.Get();
    DWORD status = 0;
    ASSERT_EQ(converter->ProcessOutput(0, 1, &data, &status), S_OK);
    if (data.pEvents) data.pEvents->Release();
    const std::vector<uint8_t> rgb = SampleBytes(out.Get());
    ASSERT_EQ(rgb.size(), 128u * 16u * 4u);
    for (int bar = 0; bar < 8; ++bar) {
      const size_t at = (8 * 128 + bar * 16 + 8) * 4;  // row 8, middle of the bar
      EXPECT_NEAR(rgb[at + 2], kBarColours[bar].r, tolerance) << "bar " << bar;
      EXPECT_NEAR(rgb[at + 1], kBarColours[bar].g, tolerance) << "bar " << bar;
      EXPECT_NEAR(rgb[at + 0], kBarColours[bar].b, tolerance) << "bar " << bar;
    }
  }
}

TEST_F(VirtualCamTest, NativeTypesComeInConfigurationOrderUpToTheFaultyIndex) {
  Configure(
      "camera name=T link=t type-error-at=2\n"
      "format subtype=NV12 size=1280x720 rate=30/1 bitrate=1234\n"
      "format subtype=YUY2 size=640x480 rate=15/1 omit=MF_MT_AM_FORMAT_TYPE,MF_MT_DEFAULT_STRIDE\n"
      "format subtype=I420 size=640x480 rate=30/1\n"
      "camera name=U link=u\n"
      "format subtype=RGB32 size=640x480 rate=30/1\n");
  ComPtr<IMFSourceReader> reader = OpenReader(L"t");
  ASSERT_TRUE(reader);
  ComPtr<IMFMediaType> type0, type1, type2;
  ASSERT_EQ(reader->GetNativeMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, &type0), S_OK);
  ASSERT_EQ(reader->GetNativeMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 1, &type1), S_OK);
  EXPECT_EQ(reader->GetNativeMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 2, &type2), E_FAIL);
  EXPECT_EQ(reader->GetNativeMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 3, &type2), E_FAIL);

  GUID guid = GUID_NULL;
  UINT32 value = 0;
  type0->GetGUID(MF_MT_SUBTYPE, &guid);
  EXPECT_EQ(guid, MFVideoFormat_NV12);
  EXPECT_EQ(type0->GetUINT32(MF_MT_AVG_BITRATE, &value), S_OK);
  EXPECT_EQ(value, 1234u);
  EXPECT_EQ(type0->GetUINT32(MF_MT_DEFAULT_STRIDE, &value), S_OK);
  EXPECT_EQ(value, 1280u);
  EXPECT_EQ(type0->GetGUID(MF_MT_AM_FORMAT_TYPE, &guid), S_OK);
  EXPECT_EQ(guid, FORMAT_VideoInfo);

  type1->GetGUID(MF_MT_SUBTYPE, &guid);
  EXPECT_EQ(guid, MFVideoFormat_YUY2);
  EXPECT_EQ(type1->GetGUID(MF_MT_AM_FORMAT_TYPE, &guid), MF_E_ATTRIBUTENOTFOUND);
  EXPECT_EQ(type1->GetUINT32(MF_MT_DEFAULT_STRIDE, &value), MF_E_ATTRIBUTENOTFOUND);
  UINT32 num = 0, den = 0;
  MFGetAttributeRatio(type1.Get(), MF_MT_FRAME_RATE, &num, &den);
  EXPECT_EQ(num, 15u);
  EXPECT_EQ(den, 1u);

  ComPtr<IMFSourceReader> other = OpenReader(L"u");
  ASSERT_TRUE(other);
  ComPtr<IMFMediaType> only;
  EXPECT_EQ(other->GetNativeMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, &only), S_OK);
  only.Reset();
  EXPECT_EQ(other->GetNativeMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 1, &only), MF_E_NO_MORE_TYPES);
}

// Wine 8.0's reader ignores MEError on a stream: both faults reach ReadSample only
// through the failing sample request, as a failed read with MF_SOURCE_READERF_ERROR.
TEST_F(VirtualCamTest, StreamFaultsEndTheReadsAfterNFrames) {
  Configure(
      "camera name=E link=e stream-error-after=2 paced=0\nformat subtype=YUY2 size=64x32 rate=30/1\n"
      "camera name=F link=f error-flag-after=1 paced=0\nformat subtype=YUY2 size=64x32 rate=30/1\n");
  const struct {
    const wchar_t* link;
    int frames;
    HRESULT status;
  } cases[] = {{L"e", 2, MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED}, {L"f", 1, MF_E_INVALIDREQUEST}};
  for (const auto& c : cases) {
    ComPtr<IMFSourceReader> reader = OpenReader(c.link);
    ASSERT_TRUE(reader);
    for (int i = 0; i < c.frames; ++i) {
      ReadResult r = ReadOne(reader.Get());
      EXPECT_EQ(r.hr, S_OK);
      EXPECT_TRUE(r.sample);
    }
    for (int again = 0; again < 2; ++again) {
      ReadResult r = ReadOne(reader.Get());
      EXPECT_EQ(r.hr, c.status);
      EXPECT_EQ(r.flags, static_cast<DWORD>(MF_SOURCE_READERF_ERROR));
      EXPECT_FALSE(r.sample);
    }
    EXPECT_EQ(getFrameCount_(c.link), c.frames);
  }
}

TEST_F(VirtualCamTest, HeldSamplesAreCountedUntilReleased) {
  Configure("camera name=H link=h paced=0\nformat subtype=NV12 size=64x32 rate=30/1\n");
  ComPtr<IMFSourceReader> reader = OpenReader(L"h");
  ASSERT_TRUE(reader);
  ReadResult first = ReadOne(reader.Get());
  ReadResult second = ReadOne(reader.Get());
  ASSERT_TRUE(first.sample && second.sample);
  VirtualCamCounts held = Counts();
  EXPECT_EQ(held.sources, 1);
  EXPECT_EQ(held.streams, 1);
  EXPECT_EQ(held.samples, 2);
  EXPECT_EQ(held.buffers, 2);
  first.sample.Reset();
  reader.Reset();  // shuts the source down; the sample outlives it
  VirtualCamCounts after = Counts();
  for (int i = 0; i < 100 && after.sources != 0; ++i) {  // the reader lets go on a work queue thread
    Sleep(20);
    after = Counts();
  }
  EXPECT_EQ(after.samples, 1);
  EXPECT_EQ(after.buffers, 1);
  EXPECT_EQ(after.sources, 0);
  EXPECT_EQ(SampleBytes(second.sample.Get()).size(), 64u * 32u * 3u / 2u);
}
