// A fault inside the library that only a scripted platform object reaches (white-box): a
// transform left holding its input. The converter runs without a TPictor: the test is
// its frame sink.
#include "convert/FrameSink.h"
#include "convert/MFVideoConverter.h"

#include "CaptureTestSupport.h"

using namespace capturetest;

namespace {

// Gives no output sample for the first frame, plain ones afterwards; counts deliveries.
struct ScriptedSink final : TFrameSink {
  std::atomic<bool> refuseNext{true};
  std::atomic<int> delivered{0};
  IMFSample* CreateNewOutputSample(unsigned int width, unsigned int height) override
  {
    ComPtr<IMFSample> sample;
    ComPtr<IMFMediaBuffer> buffer;
    if (refuseNext.exchange(false) || MFCreateSample(&sample) != S_OK ||
        MFCreateMemoryBuffer(width * height * 4, &buffer) != S_OK || sample->AddBuffer(buffer.Get()) != S_OK)
      return nullptr;
    return sample.Detach();
  }
  void ProcessRGB32Sample(IMFSample*, unsigned int, unsigned int, bool) override { ++delivered; }
  void FrameDropped() override {}
};

ComPtr<IMFSample> Yuy2Sample(UINT32 width, UINT32 height)
{
  ComPtr<IMFSample> sample;
  EXPECT_EQ(MFCreateSample(&sample), S_OK);
  sample->AddBuffer(capturetest::MakeBuffer(width * height * 2, std::vector<uint8_t>(width * height * 2)).Get());
  sample->SetSampleTime(0);
  sample->SetSampleDuration(333333);
  return sample;
}

TEST(ConverterFaultTest, TransformLeftHoldingItsInputIsFlushedAndTheNextFrameComesThrough)
{
  LogCapture::Get().SetLevel(2);
  LogCapture::Get().Clear();
  ScriptedSink sink;
  ComPtr<IMFMediaType> type = MakeVideoType(MFVideoFormat_YUY2, 16, 16, true, 32);
  type.Get()->AddRef();
  auto* converter = new TMFVideoConverter(&sink, type.Get(), true);
  ASSERT_TRUE(converter->bInitialized);

  // No output sample for the first frame: the transform has taken the input already.
  converter->SetInputSample(Yuy2Sample(16, 16).Detach());
  EXPECT_TRUE(WaitForLine("TMFVideoConverter::ConvertThread output sample is NULL", 10000));

  // A frame given while the thread still holds the lock is dropped: offer until one is taken.
  for (int i = 0; i < 50 && sink.delivered == 0; ++i) {
    converter->SetInputSample(Yuy2Sample(16, 16).Detach());
    Sleep(100);
  }
  EXPECT_GT(sink.delivered, 0) << "the transform stays jammed";
  EXPECT_TRUE(
      LinesStartingWith(LogCapture::Get().Lines(), "TMFVideoConverter::ConvertThread ProcessInput error").empty());
  delete converter;
}

}  // namespace
