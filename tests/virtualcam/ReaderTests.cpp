// Frames of the virtual camera read through the platform's own source reader.
#include "tests/virtualcam/VirtualCamFixture.h"
#include "tools/virtualcam/FramePattern.h"

using namespace virtualcam;

namespace {

const wchar_t kBarsLink[] = L"\\\\?\\virtualcam#pictor-bars";

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

TEST_F(VirtualCamTest, DefaultCameraDeliversYuy2FramesWithIncreasingTimeStamps) {
  ComPtr<IMFSourceReader> reader = OpenReader(kBarsLink);
  ASSERT_TRUE(reader);
  ComPtr<IMFMediaType> current;
  ASSERT_EQ(reader->GetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, &current), S_OK);
  GUID subtype = GUID_NULL;
  current->GetGUID(MF_MT_SUBTYPE, &subtype);
  EXPECT_EQ(subtype, MFVideoFormat_YUY2) << "native type 0 is the current type until another is set";

  const std::vector<uint8_t> expected = Expected(PatternKind::Bars, Subtype::YUY2, 640, 480, 0, false);
  for (int i = 0; i < 3; ++i) {
    ReadResult r = ReadOne(reader.Get());
    ASSERT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.flags, 0u);
    ASSERT_TRUE(r.sample);
    EXPECT_EQ(r.time, i * 333333LL);
    LONGLONG duration = 0;
    EXPECT_EQ(r.sample->GetSampleDuration(&duration), S_OK);
    // Each frame lasts to the next one's time stamp, so rounding never accumulates.
    EXPECT_EQ(duration, (i + 1) * 10000000LL / 30 - i * 10000000LL / 30);
    EXPECT_EQ(SampleBytes(r.sample.Get()), expected);
  }
  EXPECT_EQ(getFrameCount_(kBarsLink), 3);
}
