// Faults inside the library that only a scripted platform object reaches (white-box):
// a transform left holding its input, and a reader that reports success without a type.
#include "Pictor.h"
#include "capture/MFRuntime.h"
#include "convert/MFVideoConverter.h"
#include "tests/support/HostTest.h"

#include "MFTestObjects.h"
#include "TestAccess.h"

using capturetest::MakeVideoType;
using Microsoft::WRL::ComPtr;
using namespace pictortest;

namespace {

static auto* const g_com = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

HRESULT WINAPI FailCreateSample(IMFSample**) { return E_OUTOFMEMORY; }

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
  EXPECT_TRUE(LinesStartingWith(LogCapture::Get().Lines(), "TMFVideoConverter::ConvertThread ProcessInput error").empty());
  delete converter;
}

// Answers stream selection and reports native type 0 as S_OK without a type.
class TypelessReader : public capturetest::StubReader {
 public:
  STDMETHODIMP SetStreamSelection(DWORD, BOOL) override { return S_OK; }
  STDMETHODIMP GetNativeMediaType(DWORD, DWORD, IMFMediaType** type) override { return *type = nullptr, S_OK; }
} g_typelessReader;

HRESULT WINAPI CreateTypelessReader(IMFMediaSource*, IMFAttributes*, IMFSourceReader** reader)
{
  g_typelessReader.AddRef();
  *reader = &g_typelessReader;
  return S_OK;
}

TEST(ConverterFaultTest, NativeTypeReportedWithoutATypeFailsTheStart)
{
  VirtualCamera::Get().Configure("camera link=\\\\?\\virtualcam#a\nformat subtype=RGB32 size=64x48\n");
  LogCapture::Get().Clear();
  TPictor pictor;
  TPictorTestAccess::Runtime(pictor)->pMFCreateSourceReaderFromMediaSource = CreateTypelessReader;
  FrameSink sink;
  EXPECT_FALSE(pictor.StartCapture(L"\\\\?\\virtualcam#a", TPictorFormat(), true, FrameSink::Callback, &sink));
  EXPECT_TRUE(Contains(LogCapture::Get().Lines(), "TPictor::StartCapture error getting media type for 0 error 80004003"));
  EXPECT_EQ(g_typelessReader.Refs, 0u);
}

}  // namespace
