// The converter on its own, driven directly (white-box) with a frame sink of the test's: its
// mailbox, the RGB32 frames of every subtype in the asked row order, parallel MJPG decoding,
// the outputs it asks the sink for, and a transform left holding its input.
#include "convert/FrameSink.h"
#include "convert/MFVideoConverter.h"
#include "tools/virtualcam/FramePattern.h"

#include "tests/capture/CaptureTestSupport.h"

using namespace capturetest;

namespace {

// MFStartup for the platform's objects the converter makes (and COM for its transform).
class MFEnvironment : public ComEnvironment {
 public:
  void SetUp() override { ComEnvironment::SetUp(), MFStartup(MF_VERSION, MFSTARTUP_LITE); }
  void TearDown() override { MFShutdown(), ComEnvironment::TearDown(); }
};
auto* const g_mf = ::testing::AddGlobalTestEnvironment(new MFEnvironment);

// The converter's sink: output samples of its own (none for the next one when told), the
// frames delivered (the first pixel's blue as a tag, the last frame whole), the frames
// dropped and the outputs reserved. A test can hold the delivery inside the call.
struct TestSink final : TFrameSink {
  HANDLE entered = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE release = CreateEventW(nullptr, TRUE, TRUE, nullptr);  // open unless a test closes it
  std::atomic<bool> refuseNextOutput{false};
  std::atomic<int> delivered{0}, dropped{0};
  // Written on the convert thread, read once it has been joined.
  std::vector<uint8_t> tags, last;
  bool lastTopDown = false;
  std::vector<int> reserved;

  ~TestSink() { CloseHandle(entered), CloseHandle(release); }
  void ReserveOutputs(unsigned int, unsigned int, int count) override { reserved.push_back(count); }
  IMFSample* CreateNewOutputSample(unsigned int width, unsigned int height) override
  {
    ComPtr<IMFSample> sample;
    ComPtr<IMFMediaBuffer> buffer;
    if (refuseNextOutput.exchange(false) || MFCreateSample(&sample) != S_OK ||
        MFCreateMemoryBuffer(width * height * 4, &buffer) != S_OK || sample->AddBuffer(buffer.Get()) != S_OK)
      return nullptr;
    return sample.Detach();
  }
  void ProcessRGB32Sample(IMFSample* sample, unsigned int width, unsigned int height, bool topDown) override
  {
    ComPtr<IMFMediaBuffer> buffer;
    BYTE* data = nullptr;
    if (sample->GetBufferByIndex(0, &buffer) != S_OK || buffer->Lock(&data, nullptr, nullptr) != S_OK) return;
    tags.push_back(data[0]);
    last.assign(data, data + size_t(width) * height * 4);
    lastTopDown = topDown;
    buffer->Unlock();
    ++delivered;
    SetEvent(entered);
    WaitForSingleObject(release, 30000);
  }
  void FrameDropped() override { ++dropped; }
  bool WaitFor(int frames)
  {
    for (int wait = 0; wait < 3000 && delivered < frames; ++wait) Sleep(1);
    return delivered >= frames;
  }
};

// Hands the mailbox a sample of its own reference.
void Post(TMFVideoConverter* converter, const ComPtr<IMFSample>& sample)
{
  sample.Get()->AddRef();
  converter->SetInputSample(sample.Get());
}

TEST(Converter, NewestPendingSampleWinsAndTheOlderIsReleased)
{
  TestSink sink;
  auto* converter = new TMFVideoConverter(&sink, MakeVideoType(MFVideoFormat_RGB32, 1, 1, true, 4).Detach(), true);
  ASSERT_TRUE(converter->bInitialized);
  EXPECT_EQ(converter->pTransform, nullptr);  // native RGB32 needs no transform
  EXPECT_TRUE(sink.reserved.empty());         // nor any output

  // Holding the mailbox lock keeps the convert thread from taking a sample while both
  // arrive (the lock is re-entrant for this thread, so SetInputSample still gets in).
  EnterCriticalSection(&converter->SampleLock);
  ComPtr<IMFSample> older = TaggedSample(1), newer = TaggedSample(2);
  Post(converter, older);
  Post(converter, newer);
  EXPECT_EQ(RefCount(older.Get()), 1u);  // replaced and released
  EXPECT_EQ(RefCount(newer.Get()), 2u);  // pending
  LeaveCriticalSection(&converter->SampleLock);

  ASSERT_EQ(WaitForSingleObject(sink.entered, 30000), WAIT_OBJECT_0);
  delete converter;  // joins the thread: nothing more can arrive
  EXPECT_EQ(sink.tags, std::vector<uint8_t>{2});
  EXPECT_EQ(sink.dropped, 1);
  EXPECT_EQ(RefCount(newer.Get()), 1u);
}

TEST(Converter, SampleArrivingWhileTheCallbackRunsIsDroppedAtOnce)
{
  TestSink sink;
  auto* converter = new TMFVideoConverter(&sink, MakeVideoType(MFVideoFormat_ARGB32, 1, 1, true, -4).Detach(), true);
  ASSERT_TRUE(converter->bInitialized);
  ResetEvent(sink.release);
  ComPtr<IMFSample> first = TaggedSample(1), during = TaggedSample(2);
  Post(converter, first);
  ASSERT_EQ(WaitForSingleObject(sink.entered, 30000), WAIT_OBJECT_0);
  EXPECT_EQ(converter->Admission(), TFrameAdmission::Drop);  // the capture would not even copy it
  Post(converter, during);
  EXPECT_EQ(RefCount(during.Get()), 1u);  // released before SetInputSample returned
  SetEvent(sink.release);
  delete converter;
  EXPECT_EQ(sink.tags, std::vector<uint8_t>{1});
  EXPECT_EQ(sink.dropped, 1);
}

// Every subtype the converter takes reaches the sink as RGB32 in the asked row order,
// whatever the camera's: the virtual camera's marker picture (top half red, bottom half
// blue) encoded in each.
struct SubtypeCase {
  const char* name;
  virtualcam::Subtype subtype;
  GUID guid;
  INT32 stride;  // negative: RGB rows stored bottom row first
};
const SubtypeCase kSubtypes[] = {
    {"RGB32", virtualcam::Subtype::RGB32, MFVideoFormat_RGB32, 1280},
    {"YUY2", virtualcam::Subtype::YUY2, MFVideoFormat_YUY2, 640},
    {"NV12", virtualcam::Subtype::NV12, MFVideoFormat_NV12, 320},
    {"I420", virtualcam::Subtype::I420, MFVideoFormat_I420, 320},
    {"RGB32_bottom_up", virtualcam::Subtype::RGB32, MFVideoFormat_RGB32, -1280},
    {"ARGB32", virtualcam::Subtype::ARGB32, MFVideoFormat_ARGB32, -1280},
    {"ARGB32_top_down", virtualcam::Subtype::ARGB32, MFVideoFormat_ARGB32, 1280},
};

class SubtypeTest : public ::testing::TestWithParam<std::tuple<SubtypeCase, bool>> {};

TEST_P(SubtypeTest, FrameArrivesAsRGB32InTheAskedRowOrder)
{
  const SubtypeCase c = std::get<0>(GetParam());
  const bool topDown = std::get<1>(GetParam());
  constexpr UINT32 w = 320, h = 240;
  virtualcam::Pattern marker;
  marker.kind = virtualcam::PatternKind::Marker;
  std::vector<uint8_t> rgb, frame(virtualcam::FrameBytes(c.subtype, w, h));
  virtualcam::RenderRgb(marker, w, h, 0, &rgb);
  virtualcam::EncodeFrame(c.subtype, w, h, c.stride < 0, rgb.data(), frame.data());
  TestSink sink;
  {
    TMFVideoConverter converter(&sink, MakeVideoType(c.guid, w, h, true, c.stride).Detach(), topDown);
    ASSERT_TRUE(converter.bInitialized);
    ComPtr<IMFSample> sample;
    ASSERT_EQ(MFCreateSample(&sample), S_OK);
    sample->AddBuffer(MakeBuffer(DWORD(frame.size()), frame).Get());
    Post(&converter, sample);
    ASSERT_TRUE(sink.WaitFor(1));
  }
  ASSERT_EQ(sink.last.size(), size_t(w) * h * 4);
  EXPECT_EQ(sink.lastTopDown, topDown);
  // Blue, green, red of a pixel of the picture's top and bottom halves, within the Color
  // Converter's error.
  for (const auto& [y, b, r] : {std::tuple<UINT32, int, int>{10, 0, 255}, {h - 10, 255, 0}}) {
    const uint8_t* p = &sink.last[(size_t(topDown ? y : h - 1 - y) * w + w / 2) * 4];
    EXPECT_LE(std::abs(p[0] - b) + std::abs(p[1] - 0) + std::abs(p[2] - r), 3) << "row " << y;
  }
}

INSTANTIATE_TEST_SUITE_P(Subtypes, SubtypeTest, ::testing::Combine(::testing::ValuesIn(kSubtypes), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_asked_top_down" : "_asked_bottom_up");
                         });

// Parallel MJPG decoding with two decoders. A frame's tag is the blue of its top-left
// block; the rest is flat, or grain that makes it several times slower to decode.
constexpr UINT32 kJpegWidth = 1024, kJpegHeight = 512;

ComPtr<IMFSample> JpegSample(uint8_t tag, bool grain)
{
  std::vector<uint8_t> rgb(size_t(kJpegWidth) * kJpegHeight * 3, 128), jpeg;
  uint32_t state = tag;
  for (size_t i = 0; grain && i < rgb.size(); ++i) rgb[i] = uint8_t((state = state * 1664525u + 1013904223u) >> 24);
  for (UINT32 y = 0; y < 16; ++y)
    for (UINT32 x = 0; x < 16; ++x) {
      uint8_t* p = &rgb[(size_t(y) * kJpegWidth + x) * 3];
      p[0] = p[1] = 0, p[2] = tag;
    }
  EXPECT_TRUE(virtualcam::EncodeJpeg(kJpegWidth, kJpegHeight, rgb.data(), true, &jpeg));
  ComPtr<IMFSample> sample;
  EXPECT_EQ(MFCreateSample(&sample), S_OK);
  sample->AddBuffer(MakeBuffer(DWORD(jpeg.size()), jpeg).Get());
  return sample;
}

class ParallelJpegTest : public ::testing::Test {
 protected:
  void SetUp() override
  {
    TMFVideoConverter::JpegDecoderLimit = 2;
    converter = new TMFVideoConverter(
        &sink, MakeVideoType(MFVideoFormat_MJPG, kJpegWidth, kJpegHeight, false, 0).Detach(), true, true);
  }
  void TearDown() override
  {
    SetEvent(sink.release);
    delete converter;
    TMFVideoConverter::JpegDecoderLimit = 0;
  }
  void WaitForAdmission(bool take)
  {
    for (int wait = 0; wait < 3000 && (converter->Admission() == TFrameAdmission::Take) != take; ++wait) Sleep(1);
  }
  // Delivered tags, each rounded to the nearest multiple of 40 (JPEG moves colours a
  // little), once the converter's threads are joined.
  std::vector<uint8_t> Tags()
  {
    delete converter;
    converter = nullptr;
    std::vector<uint8_t> tags;
    for (uint8_t t : sink.tags) tags.push_back(uint8_t((t + 20) / 40 * 40));
    return tags;
  }
  TestSink sink;
  TMFVideoConverter* converter = nullptr;
};

TEST_F(ParallelJpegTest, FramesReachTheSinkInCameraOrderWhicheverDecoderFinishesFirst)
{
  ASSERT_TRUE(converter->bInitialized && converter->pDecoders);
  std::vector<uint8_t> sent;
  for (int frame = 0; frame < 6; ++frame) {
    // A slow frame, then a quick one that its decoder finishes first.
    WaitForAdmission(true);
    sent.push_back(uint8_t(40 + frame * 40 % 200));
    Post(converter, JpegSample(sent.back(), frame % 2 == 0));
  }
  sink.WaitFor(int(sent.size()));
  EXPECT_EQ(Tags(), sent);
}

TEST_F(ParallelJpegTest, AFrameThatFindsEveryDecoderBusyIsHeldBackThenDroppedAndCounted)
{
  ASSERT_TRUE(converter->bInitialized && converter->pDecoders);
  // The sink keeps an output per decoder and the parked frame's ready, asked once.
  EXPECT_EQ(sink.reserved, std::vector<int>{3});
  ResetEvent(sink.release);  // the host holds the first frame
  Post(converter, JpegSample(40, false));
  ASSERT_EQ(WaitForSingleObject(sink.entered, 30000), WAIT_OBJECT_0);
  // The first is parked while the host has it; the next two, decoded, wait on their
  // decoders.
  for (uint8_t tag : {80, 120}) {
    WaitForAdmission(true);
    Post(converter, JpegSample(tag, false));
  }
  WaitForAdmission(false);
  ASSERT_EQ(converter->Admission(), TFrameAdmission::HoldBack);
  HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_TRUE(converter->WaitForRoom(stop, 50));  // no decoder goes idle meanwhile
  SetEvent(stop);
  EXPECT_FALSE(converter->WaitForRoom(stop, 5000));  // a stop ends the wait
  CloseHandle(stop);
  ComPtr<IMFSample> late = JpegSample(160, false);
  Post(converter, late);
  EXPECT_EQ(RefCount(late.Get()), 1u);  // released before SetInputSample returned
  EXPECT_EQ(sink.dropped, 1);
  SetEvent(sink.release);
  sink.WaitFor(3);
  EXPECT_EQ(Tags(), std::vector<uint8_t>({40, 80, 120}));
}

// Wine 8.0's Color Converter offers RGB32 without frame size or stride, and the converter
// completes it from the input (every converted subtype depends on that). The type Windows
// offers is complete and must stay exactly as it is, stride sign included.
TEST(Converter, CompleteOutputTypeIsLeftAsItIs)
{
  ComPtr<IMFMediaType> input = MakeVideoType(MFVideoFormat_YUY2, 320, 240, true, 640);
  ComPtr<IMFMediaType> complete = MakeVideoType(MFVideoFormat_RGB32, 320, 240, true, -1280);
  complete->DeleteItem(MF_MT_PIXEL_ASPECT_RATIO);
  ASSERT_EQ(TMFVideoConverter::CompleteRGB32OutputType(complete.Get(), input.Get(), 320), S_OK);
  ComPtr<IMFMediaType> expected = MakeVideoType(MFVideoFormat_RGB32, 320, 240, true, -1280);
  expected->DeleteItem(MF_MT_PIXEL_ASPECT_RATIO);
  BOOL same = FALSE;
  EXPECT_EQ(complete->Compare(expected.Get(), MF_ATTRIBUTES_MATCH_ALL_ITEMS, &same), S_OK);
  EXPECT_TRUE(same);
}

// No output sample for a frame the transform has taken already: it is flushed, so that the
// next frame comes through.
TEST(Converter, TransformLeftHoldingItsInputIsFlushedAndTheNextFrameComesThrough)
{
  LogCapture::Get().SetLevel(2);
  LogCapture::Get().Clear();
  TestSink sink;
  sink.refuseNextOutput = true;
  auto* converter = new TMFVideoConverter(&sink, MakeVideoType(MFVideoFormat_YUY2, 16, 16, true, 32).Detach(), true);
  ASSERT_TRUE(converter->bInitialized);
  EXPECT_EQ(sink.reserved, std::vector<int>{1});
  const std::vector<uint8_t> yuy2(16 * 16 * 2);
  for (int i = 0; i < 50 && sink.delivered == 0; ++i) {
    // A frame given while the thread still holds the lock is dropped: offer until one is taken.
    ComPtr<IMFSample> sample;
    ASSERT_EQ(MFCreateSample(&sample), S_OK);
    sample->AddBuffer(MakeBuffer(DWORD(yuy2.size()), yuy2).Get());
    Post(converter, sample);
    Sleep(100);
  }
  EXPECT_GT(sink.delivered, 0) << "the transform stays jammed";
  EXPECT_TRUE(WaitForLine("TMFVideoConverter::ConvertThread output sample is NULL"));
  EXPECT_TRUE(
      LinesStartingWith(LogCapture::Get().Lines(), "TMFVideoConverter::ConvertThread ProcessInput error").empty());
  delete converter;
}

}  // namespace
