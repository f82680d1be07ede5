// Frames the preview cannot compose, and a host callback that throws: the frame procedure
// must say what became of the frame and give back the preview's lock and the read-back
// surface, so that the controls and the next frames keep working.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>

#include "PreviewTestSupport.h"
#include "tests/support/HostTest.h"

namespace previewtest {
namespace {

constexpr unsigned int W = 32;
constexpr unsigned int H = 24;

bool Throwing(unsigned int, unsigned int, unsigned int, unsigned char*, void*)
{
  throw 42;
}

TEST(PreviewFaults, HostCallbackThatThrowsLosesOnlyItsFrame)
{
  pictortest::LogCapture::Get().SetLevel(2);
  auto preview = std::make_unique<TPictorD3D9Preview>();
  Access::SetCaptureFormat(*preview, W, H);
  ASSERT_TRUE(Access::InitD3D9(*preview));
  Frame frame = KeyScene(W, H, 1);
  Access::SetHost(*preview, Throwing, nullptr);
  pictortest::LogCapture::Get().Clear();
  EXPECT_NO_THROW(Access::Frame(*preview, W, H, frame.Pixels.data()));
  EXPECT_TRUE(pictortest::WaitForLine("TPictorD3D9Preview::PictorImageReadyProc host callback threw an exception"));

  // A setter on another thread gets the lock (bounded: a lock left owned blocks it for good).
  TPictorD3D9Preview* shared = preview.get();
  if (!pictortest::ReturnsWithin([shared] { shared->SetOpacity(200); })) {
    preview.release();  // the blocked thread still waits on its lock: never destroyed
    FAIL() << "SetOpacity on another thread still waits for the preview's lock";
  }
  EXPECT_EQ(Access::Params(*preview)->Opacity, 200);

  // The next frame is composed and delivered: the read-back surface was unlocked.
  FrameSink sink;
  sink.formatWidth = W;
  sink.formatHeight = H;
  Access::SetHost(*preview, FrameSink::Callback, &sink);
  frame = KeyScene(W, H, 2);
  EXPECT_TRUE(Access::Frame(*preview, W, H, frame.Pixels.data()));
  EXPECT_EQ(sink.Count(), 1u);
}

TEST(PreviewFaults, FramesThatCannotBeComposedReachNoHost)
{
  TPictorD3D9Preview preview;
  FrameSink sink;
  sink.formatWidth = W;
  sink.formatHeight = H;
  Access::SetHost(preview, FrameSink::Callback, &sink);
  Frame frame = KeyScene(W, H, 3);
  EXPECT_FALSE(Access::Frame(preview, W, H, frame.Pixels.data()));  // no device yet
  // Not the surfaces' size: the host would read past the surface, or a stale part of it.
  Access::SetCaptureFormat(preview, W, H);
  ASSERT_TRUE(Access::InitD3D9(preview));
  pictortest::LogCapture::Get().Clear();
  Frame wider = KeyScene(W + 2, H, 4), shorter = KeyScene(W, H - 2, 5);
  EXPECT_FALSE(Access::Frame(preview, W + 2, H, wider.Pixels.data()));
  EXPECT_FALSE(Access::Frame(preview, W, H - 2, shorter.Pixels.data()));
  EXPECT_EQ(sink.Count(), 0u);
  EXPECT_EQ(pictortest::CountOf(pictortest::LogCapture::Get().Lines(),
                                "TPictorD3D9Preview::PictorImageReadyProc frame of 34x24 does not match the 32x24 "
                                "surfaces, dropped"),
            1);
}

}  // namespace
}  // namespace previewtest
