// The converter's mailbox and its RGB32 output type, driven directly (white-box).
#include "Pictor.h"
#include "convert/MFVideoConverter.h"

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
    return new TMFVideoConverter(&pictor, MakeVideoType(subtype, 1, 1, true, stride).Detach(), true);
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
