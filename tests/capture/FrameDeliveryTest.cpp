// Sample copies and frame delivery, driven directly (white-box: links the library's
// objects to reach the non-exported operations).
#include "Pictor.h"
#include "capture/FrameDelivery.h"

#include "CaptureTestSupport.h"
#include "TestAccess.h"
#include "capture/ComAdopt.h"

#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <wrl/client.h>

#include <cstring>

using Microsoft::WRL::ComPtr;
using capturetest::FrameSink;
using pictortest::LogCapture;

static auto* const g_com = ::testing::AddGlobalTestEnvironment(new capturetest::ComEnvironment);


namespace {

ComPtr<IMFMediaBuffer> MakeBuffer(DWORD maxLength, const std::vector<uint8_t>& bytes)
{
  ComPtr<IMFMediaBuffer> buffer;
  EXPECT_EQ(MFCreateMemoryBuffer(maxLength, &buffer), S_OK);
  BYTE* data = nullptr;
  EXPECT_EQ(buffer->Lock(&data, nullptr, nullptr), S_OK);
  std::memcpy(data, bytes.data(), bytes.size());
  buffer->Unlock();
  buffer->SetCurrentLength(static_cast<DWORD>(bytes.size()));
  return buffer;
}

std::vector<uint8_t> BufferBytes(IMFMediaBuffer* buffer, DWORD* maxLength = nullptr)
{
  BYTE* data = nullptr;
  DWORD max = 0, current = 0;
  EXPECT_EQ(buffer->Lock(&data, &max, &current), S_OK);
  std::vector<uint8_t> bytes(data, data + current);
  buffer->Unlock();
  if (maxLength)
    *maxLength = max;
  return bytes;
}

class FrameDeliveryTest : public ::testing::Test {
 protected:
  void SetUp() override
  {
    LogCapture::Get().SetLevel(2);
    LogCapture::Get().Clear();
  }
  void TearDown() override { LogCapture::Get().SetLevel(2); }
};

TEST_F(FrameDeliveryTest, CopyIsDeepAndCarriesFlagsTimeAndDurationButNoAttributes)
{
  ComPtr<IMFSample> source;
  ASSERT_EQ(MFCreateSample(&source), S_OK);
  const std::vector<uint8_t> first = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  const std::vector<uint8_t> second = {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x11};
  ComPtr<IMFMediaBuffer> b0 = MakeBuffer(64, first);
  ComPtr<IMFMediaBuffer> b1 = MakeBuffer(16, second);
  source->AddBuffer(b0.Get());
  source->AddBuffer(b1.Get());
  source->SetSampleFlags(1);
  source->SetSampleTime(123'456'789);
  source->SetSampleDuration(333'333);
  source->SetUINT32(MFSampleExtension_CleanPoint, 1);

  ComPtr<IMFSample> copy = AdoptComPtr(PictorDuplicateSample(source.Get()));
  ASSERT_TRUE(copy);
  ASSERT_NE(copy.Get(), source.Get());

  DWORD flags = 0, count = 0;
  LONGLONG time = 0, duration = 0;
  UINT32 attributes = 99;
  EXPECT_EQ(copy->GetSampleFlags(&flags), S_OK);
  EXPECT_EQ(copy->GetSampleTime(&time), S_OK);
  EXPECT_EQ(copy->GetSampleDuration(&duration), S_OK);
  EXPECT_EQ(copy->GetCount(&attributes), S_OK);
  EXPECT_EQ(flags, 1u);
  EXPECT_EQ(time, 123'456'789);
  EXPECT_EQ(duration, 333'333);
  EXPECT_EQ(attributes, 0u);

  ASSERT_EQ(copy->GetBufferCount(&count), S_OK);
  ASSERT_EQ(count, 2u);
  ComPtr<IMFMediaBuffer> c0, c1;
  copy->GetBufferByIndex(0, &c0);
  copy->GetBufferByIndex(1, &c1);
  EXPECT_NE(c0.Get(), b0.Get());
  DWORD max0 = 0, max1 = 0;
  EXPECT_EQ(BufferBytes(c0.Get(), &max0), first);
  EXPECT_EQ(BufferBytes(c1.Get(), &max1), second);
  // Each copied buffer is held by the copy and by c0/c1 only: no reference leaks per frame.
  EXPECT_EQ(c0.Get()->AddRef(), 3u);
  EXPECT_EQ(c0.Get()->Release(), 2u);
  EXPECT_EQ(copy.Get()->AddRef(), 2u);
  EXPECT_EQ(copy.Get()->Release(), 1u);
  EXPECT_EQ(max0, first.size());  // a copy is as long as the data, not the source's capacity
  EXPECT_EQ(max1, second.size());

  const auto lines = LogCapture::Get().Lines();
  EXPECT_EQ(lines, (std::vector<std::string>{"PictorDuplicateSample", "PictorDuplicateBuffer",
                                             "PictorDuplicateBuffer exit", "PictorDuplicateBuffer",
                                             "PictorDuplicateBuffer exit", "PictorDuplicateSample exit"}));
}

TEST_F(FrameDeliveryTest, NullCopiesToNullAndAFailedCopyThrowsAfterItsErrorLine)
{
  EXPECT_EQ(PictorDuplicateSample(nullptr), nullptr);
  EXPECT_EQ(LogCapture::Get().Lines(),
            (std::vector<std::string>{"PictorDuplicateSample", "PictorDuplicateSample sample is null"}));

  // A sample without a time stamp cannot be copied: reading its time fails.
  ComPtr<IMFSample> source;
  ASSERT_EQ(MFCreateSample(&source), S_OK);
  ComPtr<IMFMediaBuffer> buffer = MakeBuffer(8, {1, 2, 3});
  source->AddBuffer(buffer.Get());

  EPictor* thrown = nullptr;
  try {
    PictorDuplicateSample(source.Get());
  } catch (EPictor* e) {
    thrown = e;
  }
  ASSERT_NE(thrown, nullptr);
  EXPECT_STREQ(thrown->what(), "Error in TPictor");
  delete thrown;

  const auto records = LogCapture::Get().Records();
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[3].text, "PictorDuplicateSample error c00d36c8");  // MF_E_NO_SAMPLE_TIMESTAMP
  EXPECT_EQ(records[3].kind, 2u);                                      // an error record

  // Nothing stays locked: the source buffer can be locked again at once.
  BYTE* data = nullptr;
  EXPECT_EQ(buffer->Lock(&data, nullptr, nullptr), S_OK);
  buffer->Unlock();
}

TEST_F(FrameDeliveryTest, DeliveryTraceLinesOnlyAtLevelTwoErrorLinesAtEveryLevel)
{
  TPictor pictor;
  FrameSink sink;
  TPictorTestAccess::SetCallback(pictor, FrameSink::Callback, &sink);
  ComPtr<IMFSample> sample;
  ASSERT_EQ(MFCreateSample(&sample), S_OK);
  std::vector<uint8_t> pixels(2 * 2 * 4);
  for (size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = static_cast<uint8_t>(i * 7);
  ComPtr<IMFMediaBuffer> buffer = MakeBuffer(64, pixels);
  sample->AddBuffer(buffer.Get());
  ComPtr<IMFSample> empty;  // no buffer: GetBufferByIndex fails
  ASSERT_EQ(MFCreateSample(&empty), S_OK);

  const char* const name = "TPictor::ProcessRGB32Sample";
  LogCapture::Get().Clear();
  TPictorTestAccess::ProcessRGB32Sample(pictor, sample.Get(), 2, 2, false);
  EXPECT_EQ(LogCapture::Get().Lines(),
            (std::vector<std::string>{name, std::string(name) + " sample length 16",
                                      std::string(name) + " buffer has been locked",
                                      std::string(name) + " before pPictorImageReady",
                                      std::string(name) + " after pPictorImageReady",
                                      std::string(name) + " exit"}));
  ASSERT_EQ(sink.count, 1);
  EXPECT_EQ(sink.first.pixels, pixels);
  EXPECT_EQ(sink.first.width, 2u);
  EXPECT_FALSE(sink.first.topDown);

  for (uint8_t level : {1, 3}) {
    LogCapture::Get().SetLevel(level);
    LogCapture::Get().Clear();
    TPictorTestAccess::ProcessRGB32Sample(pictor, sample.Get(), 2, 2, true);
    TPictorTestAccess::ProcessRGB32Sample(pictor, empty.Get(), 2, 2, true);
    EXPECT_EQ(LogCapture::Get().Lines(),
              (std::vector<std::string>{std::string(name) + " GetBufferByIndex error 80070057"}))
        << "level " << int(level);
  }
  EXPECT_EQ(sink.count, 3);
  EXPECT_TRUE(sink.last.topDown);
}

}  // namespace
