// Sample copies and frame delivery, driven directly (white-box: links the library's
// objects to reach the non-exported operations). A failed copy: CaptureThreadTest.cpp.
#include "Pictor.h"
#include "capture/ComAdopt.h"
#include "capture/FrameDelivery.h"

#include "CaptureTestSupport.h"
#include "MFTestObjects.h"
#include "TestAccess.h"

using namespace capturetest;

static auto* const g_com = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

namespace {

// The bytes of buffer `index` of a sample, and the buffer's capacity and references.
std::vector<uint8_t> BufferOf(IMFSample* sample, DWORD index, DWORD* maxLength, ULONG* refs)
{
  ComPtr<IMFMediaBuffer> buffer;
  BYTE* data = nullptr;
  DWORD current = 0;
  EXPECT_EQ(sample->GetBufferByIndex(index, &buffer), S_OK);
  EXPECT_EQ(buffer->Lock(&data, maxLength, &current), S_OK);
  std::vector<uint8_t> bytes(data, data + current);
  buffer->Unlock();
  *refs = RefCount(buffer.Get()) - 1;  // without `buffer` itself
  return bytes;
}

TEST(FrameDeliveryTest, CopyIsDeepHeldOnceAndCarriesFlagsTimeAndDurationButNoAttributes)
{
  ComPtr<IMFSample> source;
  ASSERT_EQ(MFCreateSample(&source), S_OK);
  const std::vector<uint8_t> first = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, second = {0xAA, 0xBB, 0xCC};
  source->AddBuffer(MakeBuffer(64, first).Get());
  source->AddBuffer(MakeBuffer(16, second).Get());
  source->SetSampleFlags(1);
  source->SetSampleTime(123'456'789);
  source->SetSampleDuration(333'333);
  source->SetUINT32(MFSampleExtension_CleanPoint, 1);

  EXPECT_EQ(PictorDuplicateSample(nullptr), nullptr);
  ComPtr<IMFSample> copy = AdoptComPtr(PictorDuplicateSample(source.Get()));
  ASSERT_TRUE(copy);
  DWORD flags = 0, count = 0, max0 = 0, max1 = 0;
  LONGLONG time = 0, duration = 0;
  UINT32 attributes = 99;
  ULONG refs0 = 0, refs1 = 0;
  EXPECT_TRUE(copy->GetSampleFlags(&flags) == S_OK && flags == 1);
  EXPECT_TRUE(copy->GetSampleTime(&time) == S_OK && time == 123'456'789);
  EXPECT_TRUE(copy->GetSampleDuration(&duration) == S_OK && duration == 333'333);
  EXPECT_TRUE(copy->GetCount(&attributes) == S_OK && attributes == 0);
  ASSERT_TRUE(copy->GetBufferCount(&count) == S_OK && count == 2);
  EXPECT_EQ(BufferOf(copy.Get(), 0, &max0, &refs0), first);
  EXPECT_EQ(BufferOf(copy.Get(), 1, &max1, &refs1), second);
  // A copy is as long as the data, not the source's capacity.
  EXPECT_TRUE(max0 == first.size() && max1 == second.size()) << max0 << " " << max1;
  // Each copied buffer is held by the copy only, the copy by `copy` only: no reference
  // is lost per frame.
  EXPECT_EQ(std::vector<ULONG>({refs0, refs1, RefCount(copy.Get())}), std::vector<ULONG>({1, 1, 1}));
}

TEST(FrameDeliveryTest, HostGetsThePixelsAndTheRowOrderAndOnlyErrorsAreLoggedBelowLevelTwo)
{
  TPictor pictor;
  FrameSink sink;
  TPictorTestAccess::SetCallback(pictor, FrameSink::Callback, &sink);
  ComPtr<IMFSample> sample, empty;  // empty: no buffer, so GetBufferByIndex fails
  ASSERT_EQ(MFCreateSample(&sample), S_OK);
  ASSERT_EQ(MFCreateSample(&empty), S_OK);
  std::vector<uint8_t> pixels(2 * 2 * 4);
  for (size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = static_cast<uint8_t>(i * 7);
  sample->AddBuffer(MakeBuffer(64, pixels).Get());

  TPictorTestAccess::ProcessRGB32Sample(pictor, sample.Get(), 2, 2, false);
  LogCapture::Get().SetLevel(1);
  LogCapture::Get().Clear();
  TPictorTestAccess::ProcessRGB32Sample(pictor, sample.Get(), 2, 2, true);
  TPictorTestAccess::ProcessRGB32Sample(pictor, empty.Get(), 2, 2, true);
  EXPECT_EQ(LogCapture::Get().Lines(),
            std::vector<std::string>{"TPictor::ProcessRGB32Sample GetBufferByIndex error 80070057"});
  LogCapture::Get().SetLevel(2);
  ASSERT_EQ(sink.Count(), 2);
  EXPECT_EQ(sink.first.pixels, pixels);
  EXPECT_EQ(sink.first.width, 2u);
  EXPECT_FALSE(sink.first.topDown);
  EXPECT_TRUE(sink.last.topDown);
}

}  // namespace
