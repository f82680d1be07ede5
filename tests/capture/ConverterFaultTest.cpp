// A fault inside the library that only a scripted platform object reaches (white-box): a
// transform left holding its input.
#include "Pictor.h"
#include "capture/MFRuntime.h"
#include "convert/MFVideoConverter.h"

#include "CaptureTestSupport.h"
#include "TestAccess.h"

using namespace capturetest;

namespace {

HRESULT WINAPI FailCreateSample(IMFSample**)
{
  return E_OUTOFMEMORY;
}

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
  TPictor pictor;
  FrameSink sink;
  TPictorTestAccess::SetCallback(pictor, FrameSink::Callback, &sink);
  ComPtr<IMFMediaType> type = MakeVideoType(MFVideoFormat_YUY2, 16, 16, true, 32);
  type.Get()->AddRef();
  auto* converter = new TMFVideoConverter(&pictor, type.Get(), true);
  ASSERT_TRUE(converter->bInitialized);

  // No output sample for the first frame: the transform has taken the input already.
  TMFRuntime* runtime = TPictorTestAccess::Runtime(pictor);
  const auto createSample = runtime->pMFCreateSample;
  runtime->pMFCreateSample = FailCreateSample;
  converter->SetInputSample(Yuy2Sample(16, 16).Detach());
  EXPECT_TRUE(WaitForLine("TMFVideoConverter::ConvertThread output sample is NULL", 10000));
  runtime->pMFCreateSample = createSample;

  // A frame given while the thread still holds the lock is dropped: offer until one is taken.
  for (int i = 0; i < 50 && sink.Count() == 0; ++i) {
    converter->SetInputSample(Yuy2Sample(16, 16).Detach());
    sink.WaitFor(1, 100);
  }
  EXPECT_EQ(sink.Count() > 0, true) << "the transform stays jammed";
  EXPECT_TRUE(
      LinesStartingWith(LogCapture::Get().Lines(), "TMFVideoConverter::ConvertThread ProcessInput error").empty());
  delete converter;
}

}  // namespace
