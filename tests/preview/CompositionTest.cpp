// Frames composited by each renderer against the CPU model of the composition, each
// channel within 1: Direct3D (under Wine: wined3d on llvmpipe, whose read-back is exact)
// and the software renderer, over one table of keyings and backgrounds.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "PreviewTestSupport.h"
#include "tests/support/HostTest.h"

namespace previewtest {
namespace {

constexpr unsigned int W = 37;
constexpr unsigned int H = 29;

class Composition : public ::testing::TestWithParam<TPictorRenderer> {
 protected:
  void SetUp() override
  {
    pictortest::LogCapture::Get().SetLevel(2);
    sink.formatWidth = W;
    sink.formatHeight = H;
    ASSERT_NO_FATAL_FAILURE(NewPreview());
  }

  // The renderer's set-up, as StartPreview makes it.
  bool InitRenderer() { return GetParam() == prSoftware ? Access::InitSoftware(*preview) : Access::InitD3D9(*preview); }

  void NewPreview()
  {
    preview = std::make_unique<TPictorD3D9Preview>();
    Access::SetCaptureFormat(*preview, W, H);
    ASSERT_TRUE(InitRenderer());
    Access::SetHost(*preview, FrameSink::Callback, &sink);
    staging = TReferenceImage(W, H);
    keying = Keying::Default;
  }

  // Sends a frame and checks what the host receives against the model, which follows the
  // staging texture that every upload (frames and backgrounds) goes through.
  void Send(Frame frame, const TReferenceImage* background)
  {
    Frame keyed = frame;
    if (const TPictorD3D9PreviewChromaKeyingParams* p = Access::Params(*preview)) KeyAsThePreview(keyed, *p, keying);
    staging = Uploaded(keyed, staging);
    const size_t before = sink.Count();
    EXPECT_TRUE(Access::Frame(*preview, frame.Width, frame.Height, frame.Pixels.data()));
    ASSERT_EQ(sink.Count(), before + 1);
    EXPECT_EQ(sink.lastWidth, frame.Width);
    EXPECT_EQ(sink.lastHeight, frame.Height);
    EXPECT_GE(sink.lastPitch, W * 4);
    EXPECT_TRUE(ImagesNear(sink.Last(), ReferenceCompose(staging, background, frame.Width, frame.Height)));
  }

  std::unique_ptr<TPictorD3D9Preview> preview;
  FrameSink sink;
  TReferenceImage staging;
  Keying keying = Keying::Default;  // the options the model keys with
};

TEST_P(Composition, EveryKeyingOverEveryBackgroundMatchesTheModel)
{
  const Frame picture = GradientPicture(W, H), larger = GradientPicture(W + 8, H + 6);
  uint32_t seed = 0;
  for (Keying keyingCase : kKeyings) {
    ASSERT_NO_FATAL_FAILURE(NewPreview());
    keying = keyingCase;
    if (keying == Keying::Refined) {
      preview->SetSpillSuppression(kRefinedSpill);
      preview->SetEdgeChoke(kRefinedChoke);
      preview->SetChromaKeyingColor(rbcGreen, 0);
    } else if (keying == Keying::Default)
      preview->SetChromaKeyingColor(rbcGreen, 0);
    else if (keying == Keying::HalfOpacity)
      preview->SetOpacity(128);  // the key's defaults come with it
    else if (keying == Keying::CustomBlue)
      preview->SetChromaKeyingColor(rbcCustom, 0x000000FF);
    // Keying::None: the frame's own fourth byte (noise here) is the mask.
    const bool blue = keying == Keying::CustomBlue;
    // Without a host callback a frame is still composed (and the next host's are right).
    Access::SetHost(*preview, nullptr, nullptr);
    Frame unseen = KeyScene(W, H, ++seed, blue);
    EXPECT_TRUE(Access::Frame(*preview, W, H, unseen.Pixels.data()));  // its upload is overwritten below
    Access::SetHost(*preview, FrameSink::Callback, &sink);

    for (Background background : kBackgrounds) {
      SCOPED_TRACE(::testing::Message() << "keying " << int(keying) << ", background " << int(background));
      const Frame& image = background == Background::Larger ? larger : picture;
      std::vector<uint8_t> hostCopy = image.Pixels;
      TPictorD3D9PreviewImage host(image.Width, image.Height, image.Width * 4, hostCopy.data(),
                                   background == Background::TopDown);
      // The private copy of the background, bottom row first, is what is uploaded.
      Frame stored = image;
      for (unsigned int y = 0; y < image.Height && host.TopDown; ++y)
        for (unsigned int x = 0; x < image.Width; ++x) stored.SetArgb(x, y, image.Argb(x, image.Height - 1 - y));
      preview->SetBackground(nullptr);
      if (background != Background::None) {
        preview->SetBackground(&host);  // a top-down image is upright at once
        staging = Uploaded(stored, staging);
      }
      if (background == Background::Removed) {
        // Nothing may be read through these; each leaves the preview without a background.
        unsigned char pixel[4] = {};
        TPictorD3D9PreviewImage nullData(W, H, W * 4, nullptr, false), noWidth(0, H, 0, pixel, false),
            noHeight(W, 0, W * 4, pixel, true);
        TPictorD3D9PreviewImage* empties[] = {nullptr, &nullData, &noWidth, &noHeight};
        for (TPictorD3D9PreviewImage* empty : empties) {
          preview->SetBackground(&host);
          preview->SetBackground(empty);
        }
      }
      const bool shown = background != Background::None && background != Background::Removed;
      const TReferenceImage backgroundTexture = staging;
      Send(KeyScene(W, H, ++seed, blue), shown ? &backgroundTexture : nullptr);

      if (keying == Keying::Default) {
        // A new set-up (as StartPreview makes) uploads the private copy again.
        ASSERT_TRUE(InitRenderer());
        if (shown) staging = Uploaded(stored, staging);
        const TReferenceImage again = staging;
        Send(KeyScene(W, H, ++seed), shown ? &again : nullptr);
      }
    }
  }
}

TEST_P(Composition, AFrameStoredTopRowFirstComposesLikeItsBottomUpCopy)
{
  Frame bottomUp = GradientPicture(W, H), topDown = bottomUp;
  for (unsigned int y = 0; y < H; ++y)
    for (unsigned int x = 0; x < W; ++x) topDown.SetArgb(x, y, bottomUp.Argb(x, H - 1 - y));
  ASSERT_TRUE(Access::Frame(*preview, W, H, bottomUp.Pixels.data()));
  const TReferenceImage upright = sink.Last();
  ASSERT_TRUE(Access::Frame(*preview, W, H, topDown.Pixels.data(), true));
  EXPECT_TRUE(ImagesNear(sink.Last(), upright, 0));
}

// The device keeps the host's floating-point mode and serves every thread.
TEST_P(Composition, SettersDuringAFrameApplyToTheNextOneAndWaitOnOtherThreads)
{
  if (GetParam() == prDirect3D9) {
    D3DDEVICE_CREATION_PARAMETERS creation;
    ASSERT_EQ(Access::Device(*preview)->GetCreationParameters(&creation), D3D_OK);
    EXPECT_EQ(creation.BehaviorFlags & (D3DCREATE_FPU_PRESERVE | D3DCREATE_MULTITHREADED),
              DWORD(D3DCREATE_FPU_PRESERVE | D3DCREATE_MULTITHREADED));
  }
  preview->SetChromaKeyingColor(rbcGreen, 0);
  struct Probe {
    TPictorD3D9Preview* preview;
    HANDLE returned;
    bool returnedDuringFrame = false;
    std::thread setter{};
  } probe{preview.get(), CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  sink.context = &probe;
  sink.inside = [](FrameSink& s) {
    Probe& p = *static_cast<Probe*>(s.context);
    p.preview->SetOpacity(100);  // the host's own thread: must not wait for itself
    p.setter = std::thread([&p] {
      p.preview->SetSensitivity(0.25f);
      SetEvent(p.returned);
    });
    // A setter that does not wait for the frame returns well within this bound; one that
    // waits cannot return before the frame ends, so a correct preview never fails here.
    p.returnedDuringFrame = WaitForSingleObject(p.returned, 500) == WAIT_OBJECT_0;
  };
  Send(KeyScene(W, H, 16), nullptr);  // keyed with the earlier values
  sink.inside = nullptr;
  probe.setter.join();
  CloseHandle(probe.returned);
  EXPECT_FALSE(probe.returnedDuringFrame);
  ASSERT_NE(Access::Params(*preview), nullptr);
  EXPECT_EQ(Access::Params(*preview)->Opacity, 100);
  EXPECT_EQ(Access::Params(*preview)->Sensitivity, 0.25f);
  Send(KeyScene(W, H, 16), nullptr);  // with the new ones
}

INSTANTIATE_TEST_SUITE_P(Renderers, Composition, ::testing::Values(prDirect3D9, prSoftware),
                         [](const ::testing::TestParamInfo<TPictorRenderer>& info) {
                           return info.param == prSoftware ? "Software" : "Direct3D9";
                         });

}  // namespace
}  // namespace previewtest
