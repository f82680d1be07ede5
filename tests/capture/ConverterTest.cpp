// The converter's mailbox and its RGB32 output type, driven directly (white-box).
#include "Pictor.h"
#include "convert/MFVideoConverter.h"
#include "tools/virtualcam/FramePattern.h"

#include "CaptureTestSupport.h"
#include "TestAccess.h"

using namespace capturetest;

namespace {

// A host callback that records tags and can be held inside the call.
struct BlockingSink {
  HANDLE entered = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE release = CreateEventW(nullptr, TRUE, TRUE, nullptr);  // open unless a test closes it
  std::vector<uint8_t> tags;  // written on the convert thread, read after it has been joined

  ~BlockingSink() { CloseHandle(entered), CloseHandle(release); }
  static bool Callback(unsigned, unsigned, bool, unsigned char* pixels, void* context)
  {
    auto* sink = static_cast<BlockingSink*>(context);
    sink->tags.push_back(pixels[0]);
    SetEvent(sink->entered);
    WaitForSingleObject(sink->release, 30000);
    return true;
  }
};

class ConverterTest : public ::testing::Test {
 protected:
  void SetUp() override { TPictorTestAccess::SetCallback(pictor, BlockingSink::Callback, &sink); }
  // A 1x1 converter of a native RGB type; it takes over the type's reference.
  TMFVideoConverter* MakeConverter(const GUID& subtype, INT32 stride)
  {
    return new TMFVideoConverter(TPictorTestAccess::Sink(pictor), MakeVideoType(subtype, 1, 1, true, stride).Detach(),
                                 true);
  }
  // Hands the mailbox a sample of its own reference.
  static void Post(TMFVideoConverter* converter, const ComPtr<IMFSample>& sample)
  {
    sample.Get()->AddRef();
    converter->SetInputSample(sample.Get());
  }

  TPictor pictor;
  BlockingSink sink;
};

TEST_F(ConverterTest, NewestPendingSampleWinsAndTheOlderIsReleased)
{
  TMFVideoConverter* converter = MakeConverter(MFVideoFormat_RGB32, 4);
  ASSERT_TRUE(converter->bInitialized);
  EXPECT_EQ(converter->pTransform, nullptr);  // native RGB32 needs no transform

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
  EXPECT_EQ(RefCount(newer.Get()), 1u);
}

TEST_F(ConverterTest, SampleArrivingWhileTheCallbackRunsIsDroppedAtOnce)
{
  TMFVideoConverter* converter = MakeConverter(MFVideoFormat_ARGB32, -4);
  ASSERT_TRUE(converter->bInitialized);
  ResetEvent(sink.release);
  ComPtr<IMFSample> first = TaggedSample(1), during = TaggedSample(2);
  Post(converter, first);
  ASSERT_EQ(WaitForSingleObject(sink.entered, 30000), WAIT_OBJECT_0);
  Post(converter, during);
  EXPECT_EQ(RefCount(during.Get()), 1u);  // released before SetInputSample returned
  SetEvent(sink.release);
  delete converter;
  EXPECT_EQ(sink.tags, std::vector<uint8_t>{1});
}

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

class ParallelJpegTest : public ConverterTest {
 protected:
  void SetUp() override
  {
    ConverterTest::SetUp();
    TMFVideoConverter::JpegDecoderLimit = 2;
    converter = new TMFVideoConverter(TPictorTestAccess::Sink(pictor),
                                      MakeVideoType(MFVideoFormat_MJPG, kJpegWidth, kJpegHeight, false, 0).Detach(),
                                      true, pcBuiltIn);
  }
  void TearDown() override
  {
    SetEvent(sink.release);
    delete converter;
    TMFVideoConverter::JpegDecoderLimit = 0;
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
  TMFVideoConverter* converter = nullptr;
};

TEST_F(ParallelJpegTest, FramesReachTheHostInCameraOrderWhicheverDecoderFinishesFirst)
{
  ASSERT_TRUE(converter->bInitialized && converter->pDecoders);
  std::vector<uint8_t> sent;
  for (int frame = 0; frame < 6; ++frame) {
    // A slow frame, then a quick one that its decoder finishes first.
    for (int wait = 0; wait < 3000 && converter->IsConverting(); ++wait) Sleep(1);
    sent.push_back(uint8_t(40 + frame * 40 % 200));
    Post(converter, JpegSample(sent.back(), frame % 2 == 0));
  }
  for (int wait = 0; wait < 3000 && pictor.GetCaptureStatus().FramesDelivered < sent.size(); ++wait) Sleep(1);
  EXPECT_EQ(Tags(), sent);
}

TEST_F(ParallelJpegTest, AFrameThatFindsEveryDecoderBusyIsDroppedAndCounted)
{
  ASSERT_TRUE(converter->bInitialized && converter->pDecoders);
  ResetEvent(sink.release);  // the host holds the first frame
  Post(converter, JpegSample(40, false));
  ASSERT_EQ(WaitForSingleObject(sink.entered, 30000), WAIT_OBJECT_0);
  // The first is parked while the host has it; the next two, decoded, wait on their
  // decoders.
  for (uint8_t tag : {80, 120}) {
    for (int wait = 0; wait < 3000 && converter->IsConverting(); ++wait) Sleep(1);
    Post(converter, JpegSample(tag, false));
  }
  for (int wait = 0; wait < 3000 && !converter->IsConverting(); ++wait) Sleep(1);
  EXPECT_TRUE(converter->IsConverting());
  ComPtr<IMFSample> late = JpegSample(160, false);
  Post(converter, late);
  EXPECT_EQ(RefCount(late.Get()), 1u);  // released before SetInputSample returned
  EXPECT_EQ(pictor.GetCaptureStatus().FramesDropped, 1u);
  SetEvent(sink.release);
  for (int wait = 0; wait < 3000 && pictor.GetCaptureStatus().FramesDelivered < 3; ++wait) Sleep(1);
  EXPECT_EQ(Tags(), std::vector<uint8_t>({40, 80, 120}));
}

// Wine 8.0's Color Converter offers RGB32 without frame size or stride, and the converter
// completes it from the input (every converted colour test depends on that). The type
// Windows offers is complete and must stay exactly as it is, stride sign included.
TEST_F(ConverterTest, CompleteOutputTypeIsLeftAsItIs)
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

}  // namespace
