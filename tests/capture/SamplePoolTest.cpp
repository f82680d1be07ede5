// Copies of camera samples and the pools their buffers come from, driven directly
// (white-box): a copy is deep and held once, a 2-D camera buffer is copied as the
// contiguous frame, and a capture allocates no more buffers than it has frames in flight
// (those of the parallel decoders reserved at the start).
// A failed copy: CaptureThreadTest.cpp.
#include "Pictor.h"
#include "capture/FrameDelivery.h"
#include "convert/MFVideoConverter.h"
#include "media/SamplePool.h"
#include "common/Ownership_win.h"

#include "CaptureTestSupport.h"

using namespace capturetest;

static auto* const g_com = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

namespace {

// The bytes of buffer `index` of a sample, and the buffer's capacity and references.
std::vector<uint8_t> BufferOf(IMFSample* sample, DWORD index, DWORD* maxLength = nullptr, ULONG* refs = nullptr)
{
  ComPtr<IMFMediaBuffer> buffer;
  BYTE* data = nullptr;
  DWORD current = 0;
  EXPECT_EQ(sample->GetBufferByIndex(index, &buffer), S_OK);
  EXPECT_EQ(buffer->Lock(&data, maxLength, &current), S_OK);
  std::vector<uint8_t> bytes(data, data + current);
  buffer->Unlock();
  if (refs) *refs = RefCount(buffer.Get()) - 1;  // without `buffer` itself
  return bytes;
}

TEST(SampleCopy, CopyIsDeepHeldOnceAndCarriesFlagsTimeAndDurationButNoAttributes)
{
  TPictor pictor;  // the copies make their samples through the binding it holds
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

// A platform 2-D RGB32 buffer (its rows padded to the platform's pitch) whose row y,
// counted from the top of the picture, holds bytes y * 16 + x % 16.
constexpr DWORD kWidth = 100, kHeight = 6, kRow = kWidth * 4;

ComPtr<IMFSample> TwoDimensionalFrame(bool bottomUp)
{
  ComPtr<IMFMediaBuffer> buffer;
  ComPtr<IMF2DBuffer> buffer2D;
  ComPtr<IMFSample> sample;
  BYTE* scanline0 = nullptr;
  LONG pitch = 0;
  if (MFCreate2DMediaBuffer(kWidth, kHeight, 21 /* D3DFMT_A8R8G8B8 */, bottomUp, &buffer) != S_OK ||
      buffer.As(&buffer2D) != S_OK || MFCreateSample(&sample) != S_OK || sample->AddBuffer(buffer.Get()) != S_OK ||
      buffer2D->Lock2D(&scanline0, &pitch) != S_OK)
    return nullptr;
  for (DWORD y = 0; y < kHeight; ++y)
    for (DWORD x = 0; x < kRow; ++x) scanline0[LONG(y) * pitch + LONG(x)] = BYTE(y * 16 + x % 16);
  buffer2D->Unlock2D();
  buffer->SetCurrentLength(kRow * kHeight);
  return sample;
}

TEST(SampleCopy, TwoDimensionalBufferIsCopiedRowByRowWithoutPaddingIntoAPooledBuffer)
{
  TPictor pictor;  // the copies make their samples through the binding it holds
  ASSERT_EQ(MFStartup(MF_VERSION, MFSTARTUP_LITE), S_OK);
  TSamplePool pool;
  for (bool bottomUp : {false, true}) {
    SCOPED_TRACE(bottomUp ? "bottom-up" : "top-down");
    ComPtr<IMFSample> frame = TwoDimensionalFrame(bottomUp);
    ASSERT_TRUE(frame);
    std::vector<uint8_t> expected(kRow * kHeight);  // memory order: the stored first row first
    for (DWORD row = 0; row < kHeight; ++row)
      for (DWORD x = 0; x < kRow; ++x)
        expected[row * kRow + x] = BYTE((bottomUp ? kHeight - 1 - row : row) * 16 + x % 16);
    for (int round = 0; round < 2; ++round) {  // the second copy reuses the first one's buffer
      const LONG before = TSamplePool::BuffersAllocated();
      ComPtr<IMFSample> copy;
      try {
        copy = AdoptComPtr(PictorDuplicateSample(frame.Get(), &pool));
      } catch (EPictor* error) {
        delete error;
        // Wine 8.0 has no ContiguousCopyTo, and its Lock of a bottom-up 2-D buffer crashes:
        // the copy must fail with its error instead. Windows copies it.
        EXPECT_TRUE(bottomUp && RunningOnWine());
        break;
      }
      ASSERT_TRUE(copy);
      EXPECT_EQ(BufferOf(copy.Get(), 0), expected);
      if (round > 0) {
        EXPECT_EQ(TSamplePool::BuffersAllocated(), before);
      }
    }
  }
  MFShutdown();
}

// A converting format, so that both the copies and the converter's output are pooled;
// JPEG with grain, so that no two copies in a row have the same length. The buffers are
// those of the most frames in flight, made at the start; one not coming back would cost
// one per frame.
TEST(SamplePool, ACaptureAllocatesOnlyTheBuffersItHasInFlight)
{
  VirtualCamera::Get().Configure(
      "camera name=\"Pool\" link=\\\\?\\virtualcam#pool pattern=bars noise=12 paced=0\n"
      "format subtype=MJPG size=640x480 rate=30/1\n");
  // One decoder: two copies (the convert thread's and the mailbox's), one output. Two
  // decoders (set here; by default there is one per processor): a copy each, and the
  // outputs reserved at the start, one per decoder and the parked frame's.
  for (const auto& [decoders, buffers] : {std::pair{1, 3}, std::pair{2, 5}}) {
    const LONG before = TSamplePool::BuffersAllocated();
    FrameSink sink;
    TMFVideoConverter::JpegDecoderLimit = decoders;
    {
      TPictor pictor;
      pictor.SetConversion(pcBuiltIn);
      ASSERT_TRUE(pictor.StartCapture(L"\\\\?\\virtualcam#pool", 0, true, FrameSink::Callback, &sink));
      EXPECT_TRUE(sink.WaitFor(60));
      pictor.StopCapture();
    }
    TMFVideoConverter::JpegDecoderLimit = 0;
    EXPECT_EQ(TSamplePool::BuffersAllocated() - before, buffers) << decoders << " decoders";
  }
}

// The parallel decoders reserve their outputs at the start: that many frames in flight,
// up to the reserved length, allocate nothing later.
TEST(SamplePool, ReservedBuffersServeThatManyFramesInFlight)
{
  TSamplePool pool;
  pool.Reserve(1 << 20, 3);
  const LONG before = TSamplePool::BuffersAllocated();
  ComPtr<IMFMediaBuffer> held[3];
  for (DWORD i = 0; i < 3; ++i) ASSERT_EQ(pool.GetBuffer((1 << 20) - i * 1000, &held[i]), S_OK);
  EXPECT_EQ(TSamplePool::BuffersAllocated(), before);
}

}  // namespace
