// The converter's mailbox and its RGB32 output type, driven directly (white-box).
#include "Pictor.h"
#include "convert/MFVideoConverter.h"

#include "CaptureTestSupport.h"
#include "MFTestObjects.h"
#include "TestAccess.h"

#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;
using capturetest::Contains;
using capturetest::MakeVideoType;
using capturetest::RefCount;
using capturetest::TaggedSample;
using pictortest::LogCapture;


namespace {

// A host callback that records tags and can be held inside the call.
struct BlockingSink {
  HANDLE entered = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE release = CreateEventW(nullptr, TRUE, TRUE, nullptr);  // open unless a test closes it
  std::vector<uint8_t> tags;  // written on the convert thread, read after it is quiet

  ~BlockingSink()
  {
    CloseHandle(entered);
    CloseHandle(release);
  }
  static bool Callback(unsigned, unsigned, bool, unsigned char* pixels, void* context)
  {
    auto* sink = static_cast<BlockingSink*>(context);
    sink->tags.push_back(pixels[0]);
    SetEvent(sink->entered);
    WaitForSingleObject(sink->release, 10000);
    return true;
  }
};

class ConverterTest : public ::testing::Test {
 protected:
  void SetUp() override
  {
    LogCapture::Get().SetLevel(2);
    TPictorTestAccess::SetCallback(pictor, BlockingSink::Callback, &sink);
  }

  // The converter takes over one reference to the type.
  TMFVideoConverter* MakeConverter(IMFMediaType* type, bool topDown)
  {
    type->AddRef();
    return new TMFVideoConverter(&pictor, type, topDown);
  }

  TPictor pictor;
  BlockingSink sink;
};

TEST_F(ConverterTest, NewestPendingSampleWinsAndTheOlderIsReleased)
{
  ComPtr<IMFMediaType> type = MakeVideoType(MFVideoFormat_RGB32, 1, 1, true, 4);
  TMFVideoConverter* converter = MakeConverter(type.Get(), true);
  ASSERT_TRUE(converter->bInitialized);
  EXPECT_EQ(converter->pTransform, nullptr);  // native RGB32 needs no transform

  // Hold the convert thread between passes so that two samples meet in the mailbox.
  // It must not be suspended inside a log call (it would keep the log lock): at level 1
  // the idle loop writes nothing, and its one start line comes before the loop.
  LogCapture::Get().SetLevel(1);
  ASSERT_TRUE(capturetest::WaitForLine("TMFVideoConverter::ConvertThread"));
  Sleep(50);
  ASSERT_NE(SuspendThread(converter->hConvertThread), static_cast<DWORD>(-1));
  ASSERT_TRUE(TryEnterCriticalSection(&converter->SampleLock)) << "thread suspended inside a frame";
  LeaveCriticalSection(&converter->SampleLock);

  ComPtr<IMFSample> older = TaggedSample(1);
  ComPtr<IMFSample> newer = TaggedSample(2);
  older.Get()->AddRef();  // the reference handed to the mailbox
  converter->SetInputSample(older.Get());
  newer.Get()->AddRef();
  converter->SetInputSample(newer.Get());
  EXPECT_EQ(RefCount(older.Get()), 1u);  // replaced and released
  EXPECT_EQ(RefCount(newer.Get()), 2u);  // pending

  ResumeThread(converter->hConvertThread);
  ASSERT_EQ(WaitForSingleObject(sink.entered, 5000), WAIT_OBJECT_0);
  delete converter;  // joins the thread: nothing more can arrive
  EXPECT_EQ(sink.tags, std::vector<uint8_t>{2});
  EXPECT_EQ(RefCount(newer.Get()), 1u);
}

TEST_F(ConverterTest, SampleArrivingWhileTheCallbackRunsIsDroppedAtOnce)
{
  ComPtr<IMFMediaType> type = MakeVideoType(MFVideoFormat_ARGB32, 1, 1, true, -4);
  TMFVideoConverter* converter = MakeConverter(type.Get(), true);
  ASSERT_TRUE(converter->bInitialized);

  ResetEvent(sink.release);
  ComPtr<IMFSample> first = TaggedSample(1);
  first.Get()->AddRef();
  converter->SetInputSample(first.Get());
  ASSERT_EQ(WaitForSingleObject(sink.entered, 5000), WAIT_OBJECT_0);

  ComPtr<IMFSample> during = TaggedSample(2);
  during.Get()->AddRef();
  LogCapture::Get().Clear();
  converter->SetInputSample(during.Get());
  EXPECT_EQ(RefCount(during.Get()), 1u);  // released before SetInputSample returned
  // A dropped frame leaves no trace but the call's own entry and exit lines.
  EXPECT_EQ(LogCapture::Get().Lines(), (std::vector<std::string>{"TMFVideoConverter::SetInputSample",
                                                                 "TMFVideoConverter::SetInputSample exit"}));

  SetEvent(sink.release);
  Sleep(300);  // three idle passes of the convert thread
  delete converter;
  EXPECT_EQ(sink.tags, std::vector<uint8_t>{1});
}

// Wine 8.0's Color Converter offers RGB32 without frame size or stride (Windows gives
// both); the converter completes the type so the sign of the stride can be chosen.
TEST_F(ConverterTest, ConvertedOutputStrideFollowsTheRequestedRowOrder)
{
  ComPtr<IMFMediaType> type = MakeVideoType(MFVideoFormat_NV12, 64, 32, false, 0);
  const std::string name = "TMFVideoConverter::TMFVideoConverter";
  for (bool topDown : {true, false}) {
    LogCapture::Get().Clear();
    TMFVideoConverter* converter = MakeConverter(type.Get(), topDown);
    EXPECT_TRUE(converter->bInitialized);
    EXPECT_NE(converter->pTransform, nullptr);
    EXPECT_EQ(converter->FrameWidth, 64u);
    EXPECT_EQ(converter->FrameHeight, 32u);
    EXPECT_EQ(converter->FrameStride, topDown ? 256 : -256);
    const auto lines = LogCapture::Get().Lines();
    EXPECT_TRUE(Contains(lines, name + " stride of output format is 256"));
    EXPECT_EQ(Contains(lines, name + " change the sign of the stride of output RGB32 image"), !topDown);
    EXPECT_TRUE(Contains(lines, "TMFVideoConverter::LogMediaTypeBasicParams type MFMediaType_Video - subtype "
                                "MFVideoFormat_RGB32 - 64 x 32, stride " +
                                std::to_string(topDown ? 256 : -256)));
    EXPECT_TRUE(Contains(lines, name + " exit with 1"));
    if (capturetest::RunningOnWine())
      EXPECT_TRUE(Contains(lines, name + " output type lacks frame size or stride, completed from the input type"));
    delete converter;
  }
}

TEST_F(ConverterTest, OutputTypeCompletionTakesWhatIsMissingFromTheInput)
{
  ComPtr<IMFMediaType> input = MakeVideoType(MFVideoFormat_YUY2, 320, 240, true, 640);
  input->DeleteItem(MF_MT_PIXEL_ASPECT_RATIO);

  // What Wine's converter offers: major type and subtype only.
  ComPtr<IMFMediaType> bare;
  MFCreateMediaType(&bare);
  bare->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
  bare->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_RGB32);
  ASSERT_EQ(TMFVideoConverter::CompleteRGB32OutputType(bare.Get(), input.Get(), 320), S_OK);
  UINT32 w = 0, h = 0, num = 0, den = 0, stride = 0, count = 0;
  EXPECT_EQ(MFGetAttributeSize(bare.Get(), MF_MT_FRAME_SIZE, &w, &h), S_OK);
  EXPECT_EQ(MFGetAttributeRatio(bare.Get(), MF_MT_FRAME_RATE, &num, &den), S_OK);
  EXPECT_EQ(bare->GetUINT32(MF_MT_DEFAULT_STRIDE, &stride), S_OK);
  EXPECT_EQ(w, 320u);
  EXPECT_EQ(h, 240u);
  EXPECT_EQ(num, 30u);
  EXPECT_EQ(den, 1u);
  EXPECT_EQ(stride, 1280u);  // positive width x 4, whatever the input's stride
  EXPECT_EQ(bare->GetItem(MF_MT_PIXEL_ASPECT_RATIO, nullptr), MF_E_ATTRIBUTENOTFOUND);  // not invented
  bare->GetCount(&count);
  EXPECT_EQ(count, 5u);

  // What Windows offers is complete and stays exactly as it is, stride sign included.
  ComPtr<IMFMediaType> complete = MakeVideoType(MFVideoFormat_RGB32, 320, 240, true, -1280);
  MFSetAttributeRatio(complete.Get(), MF_MT_FRAME_RATE, 15, 1);
  ASSERT_EQ(TMFVideoConverter::CompleteRGB32OutputType(complete.Get(), input.Get(), 320), S_OK);
  ComPtr<IMFMediaType> expected = MakeVideoType(MFVideoFormat_RGB32, 320, 240, true, -1280);
  MFSetAttributeRatio(expected.Get(), MF_MT_FRAME_RATE, 15, 1);
  BOOL same = FALSE;
  EXPECT_EQ(complete->Compare(expected.Get(), MF_ATTRIBUTES_MATCH_ALL_ITEMS, &same), S_OK);
  EXPECT_TRUE(same);
}

}  // namespace
