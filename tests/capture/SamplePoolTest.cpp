// Frame buffers of a running capture come from pools: a capture allocates no more of them
// than it has frames in flight, and copies of 2-D camera buffers hold the contiguous frame.
#include <gtest/gtest.h>

#include <windows.h>

#include <mfapi.h>
#include <mfidl.h>
#include <wrl/client.h>

#include <cstring>
#include <vector>

#include "Pictor.h"
#include "capture/ComAdopt.h"
#include "capture/FrameDelivery.h"
#include "capture/SamplePool.h"
#include "tests/support/HostTest.h"

using Microsoft::WRL::ComPtr;
using pictortest::FrameSink;
using pictortest::VirtualCamera;

namespace {

// A converting format, so that both the copies and the converter's output are pooled.
TEST(SamplePool, ACaptureAllocatesOnlyTheBuffersItHasInFlight) {
  VirtualCamera::Get().Configure(
      "camera name=\"Pool\" link=\\\\?\\virtualcam#pool pattern=bars paced=0\n"
      "format subtype=YUY2 size=640x480 rate=30/1\n");
  const LONG before = TSamplePool::BuffersAllocated();
  FrameSink sink;
  {
    TPictor pictor;
    ASSERT_TRUE(pictor.StartCapture(L"\\\\?\\virtualcam#pool", 0, true, FrameSink::Callback, &sink));
    EXPECT_TRUE(sink.WaitFor(60));
    pictor.StopCapture();
  }
  // In flight at most: a copy being made, one in the mailbox, one being converted, and
  // one output. A buffer not coming back would cost one per frame.
  EXPECT_LE(TSamplePool::BuffersAllocated() - before, 5);
  EXPECT_GE(sink.Count(), 60);
}

class TwoDimensionalCopy : public ::testing::Test {
 protected:
  static constexpr DWORD kWidth = 100, kHeight = 6, kRow = kWidth * 4;

  void SetUp() override { ASSERT_EQ(MFStartup(MF_VERSION, MFSTARTUP_LITE), S_OK); }
  void TearDown() override { MFShutdown(); }

  // A platform 2-D RGB32 buffer (its rows padded to the platform's pitch) whose row y,
  // counted from the top of the picture, holds bytes y * 16 + x % 16.
  static ComPtr<IMFSample> Frame(bool bottomUp) {
    ComPtr<IMFMediaBuffer> buffer;
    ComPtr<IMF2DBuffer> buffer2D;
    ComPtr<IMFSample> sample;
    if (MFCreate2DMediaBuffer(kWidth, kHeight, 21 /* D3DFMT_A8R8G8B8 */, bottomUp, &buffer) != S_OK ||
        buffer.As(&buffer2D) != S_OK || MFCreateSample(&sample) != S_OK || sample->AddBuffer(buffer.Get()) != S_OK)
      return nullptr;
    BYTE* scanline0 = nullptr;
    LONG pitch = 0;
    if (buffer2D->Lock2D(&scanline0, &pitch) != S_OK)
      return nullptr;
    for (DWORD y = 0; y < kHeight; ++y)
      for (DWORD x = 0; x < kRow; ++x)
        scanline0[LONG(y) * pitch + LONG(x)] = BYTE(y * 16 + x % 16);
    buffer2D->Unlock2D();
    buffer->SetCurrentLength(kRow * kHeight);
    return sample;
  }

  // The copy's bytes in memory order, top row first or bottom row first.
  static std::vector<BYTE> Expected(bool bottomUp) {
    std::vector<BYTE> bytes(kRow * kHeight);
    for (DWORD row = 0; row < kHeight; ++row) {
      const DWORD y = bottomUp ? kHeight - 1 - row : row;
      for (DWORD x = 0; x < kRow; ++x) bytes[row * kRow + x] = BYTE(y * 16 + x % 16);
    }
    return bytes;
  }

  static std::vector<BYTE> Contents(IMFSample* sample) {
    ComPtr<IMFMediaBuffer> buffer;
    BYTE* data = nullptr;
    DWORD length = 0;
    if (sample->GetBufferByIndex(0, &buffer) != S_OK || buffer->Lock(&data, nullptr, &length) != S_OK) return {};
    std::vector<BYTE> bytes(data, data + length);
    buffer->Unlock();
    return bytes;
  }
};

TEST_F(TwoDimensionalCopy, TopDownRowsArriveInOrderWithoutPadding) {
  ComPtr<IMFSample> frame = Frame(false);
  ASSERT_TRUE(frame);
  TSamplePool pool;
  for (int round = 0; round < 3; ++round) {  // the second and third copy reuse the buffer
    const LONG before = TSamplePool::BuffersAllocated();
    ComPtr<IMFSample> copy = AdoptComPtr(PictorDuplicateSample(frame.Get(), &pool));
    ASSERT_TRUE(copy);
    EXPECT_EQ(Contents(copy.Get()), Expected(false));
    if (round > 0) EXPECT_EQ(TSamplePool::BuffersAllocated(), before);
  }
}

TEST_F(TwoDimensionalCopy, BottomUpRowsKeepTheirOrderOrTheCopyFailsCleanly) {
  ComPtr<IMFSample> frame = Frame(true);
  ASSERT_TRUE(frame);
  TSamplePool pool;
  ComPtr<IMFSample> copy;
  try {
    copy = AdoptComPtr(PictorDuplicateSample(frame.Get(), &pool));
  } catch (EPictor* error) {
    delete error;
    // Wine 8.0 has no ContiguousCopyTo, and its Lock of a bottom-up 2-D buffer crashes:
    // the copy must fail with its error instead. Windows copies it.
    EXPECT_TRUE(pictortest::RunningOnWine());
    return;
  }
  ASSERT_TRUE(copy);
  EXPECT_EQ(Contents(copy.Get()), Expected(true));
}

}  // namespace
