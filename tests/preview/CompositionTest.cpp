// Frames composited by Direct3D (under Wine: wined3d on llvmpipe, whose read-back is
// exact) against the CPU model of the composition, each channel within 1.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "PreviewTestSupport.h"
#include "preview/ColorKey.h"
#include "tests/support/LogCapture.h"

namespace previewtest {
namespace {

// Odd texture sizes: a smaller, even-sized frame stretched over them never samples
// exactly on a texel boundary, so point sampling has one right answer.
constexpr unsigned int W = 37;
constexpr unsigned int H = 29;

class Composition : public ::testing::Test {
 protected:
  void SetUp() override
  {
    pictortest::LogCapture::Get().SetLevel(2);
    preview = std::make_unique<TPictorD3D9Preview>();
    Access::SetCaptureFormat(*preview, W, H);
    ASSERT_TRUE(Access::InitD3D9(*preview));
    sink.formatWidth = W;
    sink.formatHeight = H;
    Access::SetHost(*preview, FrameSink::Callback, &sink);
  }

  // The keying the preview applies to a frame, on a copy.
  static Frame Keyed(Frame frame, const TPictorD3D9PreviewChromaKeyingParams* params)
  {
    if (params)
      RemoveKeyColor(frame.data(), frame.width, frame.height, frame.width * 4, params->Sensitivity,
                     params->Smoothing, params->Opacity, params->ColorType, params->CustomColor);
    return frame;
  }

  // Sends a frame and returns what the host received; `expected` gets the model's
  // answer. The model follows the shared staging texture from upload to upload.
  TReferenceImage Send(Frame frame, TReferenceImage* expected, const TReferenceImage* background = nullptr)
  {
    Frame keyed = Keyed(frame, Access::Params(*preview));
    staging = Uploaded(keyed, staging);
    if (expected)
      *expected = ReferenceCompose(staging, background, frame.width, frame.height);
    const size_t before = sink.Count();
    EXPECT_TRUE(Access::Frame(*preview, frame.width, frame.height, frame.data()));
    EXPECT_EQ(sink.Count(), before + 1);
    EXPECT_EQ(frame.bytes, keyed.bytes) << "the frame is keyed in place";
    return sink.Last();
  }

  // SetBackground during a run: the texture gets the host's image as stored.
  TReferenceImage SetBackground(const Frame& picture, bool topDown)
  {
    std::vector<uint8_t> copy = picture.bytes;
    TPictorD3D9PreviewImage image(picture.width, picture.height, picture.width * 4, copy.data(), topDown);
    preview->SetBackground(&image);
    staging = Uploaded(picture, staging);
    return staging;
  }

  std::unique_ptr<TPictorD3D9Preview> preview;
  FrameSink sink;
  TReferenceImage staging{W, H};
};

TEST_F(Composition, WithoutKeyingRecordTheFramesOwnAlphaIsTheMask)
{
  Frame frame = GreenScreenScene(W, H, 1);  // random fourth bytes, 0 and 255 among them
  frame.Set(3, 3, 0x00FFFFFF);
  frame.Set(20, 10, 0xFF102030);
  TReferenceImage expected;
  TReferenceImage got = Send(frame, &expected);
  EXPECT_TRUE(ImagesNear(got, expected));
  EXPECT_EQ(sink.lastWidth, W);
  EXPECT_EQ(sink.lastHeight, H);
  EXPECT_GE(sink.lastPitch, W * 4);
}

TEST_F(Composition, DefaultKeyingOverBlack)
{
  Access::SetParams(*preview, TPictorD3D9PreviewChromaKeyingParams());
  TReferenceImage expected;
  TReferenceImage got = Send(GreenScreenScene(W, H, 2), &expected);
  EXPECT_TRUE(ImagesNear(got, expected));
  // The key area is black and opaque: a corner pixel far from the subject.
  EXPECT_EQ(got.Argb(0, 0), 0xFF000000u);
}

TEST_F(Composition, KeyingOverABackgroundShowsItWhereTheKeyWas)
{
  Access::SetParams(*preview, TPictorD3D9PreviewChromaKeyingParams());
  const Frame picture = GradientPicture(W, H);  // stored bottom row first
  const TReferenceImage background = SetBackground(picture, false);
  TReferenceImage expected;
  TReferenceImage got = Send(GreenScreenScene(W, H, 3), &expected, &background);
  EXPECT_TRUE(ImagesNear(got, expected));
  // Top-left of the output is the picture's top-left: its last stored row, first pixel.
  EXPECT_EQ(got.Argb(0, 0), picture.Get(0, H - 1));
}

TEST_F(Composition, OpacityOf128KeysGreenWithDefaultsAndHalvesTheRest)
{
  preview->SetOpacity(128);
  const TPictorD3D9PreviewChromaKeyingParams defaults;
  const TPictorD3D9PreviewChromaKeyingParams* params = Access::Params(*preview);
  ASSERT_NE(params, nullptr);
  EXPECT_EQ(params->Sensitivity, defaults.Sensitivity);
  EXPECT_EQ(params->Smoothing, defaults.Smoothing);
  EXPECT_EQ(params->ColorType, rbcGreen);
  EXPECT_EQ(params->Opacity, 128);
  TReferenceImage expected;
  TReferenceImage got = Send(GreenScreenScene(W, H, 4), &expected);
  EXPECT_TRUE(ImagesNear(got, expected));
}

TEST_F(Composition, CustomKeyColourRemovesBlue)
{
  preview->SetChromaKeyingColor(rbcCustom, 0x000000FF);
  TReferenceImage expected;
  TReferenceImage got = Send(BlueScreenScene(W, H, 5), &expected);
  EXPECT_TRUE(ImagesNear(got, expected));
  EXPECT_EQ(got.Argb(0, 0), 0xFF000000u);
}

TEST_F(Composition, FrameSmallerThanTheFormatIsStretchedAndTheRestStaysBlack)
{
  Access::SetParams(*preview, TPictorD3D9PreviewChromaKeyingParams());
  Send(GreenScreenScene(W, H, 6), nullptr);  // fills the staging texture completely
  TReferenceImage expected;
  TReferenceImage got = Send(GreenScreenScene(24, 16, 7), &expected);
  EXPECT_TRUE(ImagesNear(got, expected));
  EXPECT_EQ(sink.lastWidth, 24u);
  EXPECT_EQ(sink.lastHeight, 16u);
  EXPECT_EQ(got.Argb(30, 20), 0xFF000000u);
}

TEST_F(Composition, SingleKeyedPixelFadesItsFortyEightNeighboursTo48Of49)
{
  Frame frame(W, H, 0xFF808080u);
  frame.Set(10, 9, 0x00808080u);  // stored row 9 is output row H - 1 - 9
  TReferenceImage expected;
  TReferenceImage got = Send(frame, &expected);
  EXPECT_TRUE(ImagesNear(got, expected));
  const unsigned int cy = H - 1 - 9;
  for (unsigned int y = cy - 4; y <= cy + 4; ++y)
    for (unsigned int x = 6; x <= 14; ++x) {
      const bool centre = x == 10 && y == cy;
      const bool inWindow = x >= 7 && x <= 13 && y >= cy - 3 && y <= cy + 3;
      // 128 * 48/49 = 125.4 with alpha (48/49)^2 + 1/49 = 0.98; the keyed pixel is black.
      const uint32_t want = centre ? 0xFF000000u : inWindow ? 0xFA7D7D7Du : 0xFF808080u;
      const uint32_t have = got.Argb(x, y);
      for (int shift = 0; shift < 32; shift += 8)
        EXPECT_NEAR(int((have >> shift) & 0xFF), int((want >> shift) & 0xFF), 1) << x << "," << y;
    }
}

TEST_F(Composition, BackgroundLargerThanTheFormatKeepsItsTopLeftPart)
{
  preview->SetChromaKeyingColor(rbcGreen, 0);
  const TReferenceImage background = SetBackground(GradientPicture(W + 8, H + 6), false);
  TReferenceImage expected;
  TReferenceImage got = Send(GreenScreenScene(W, H, 8), &expected, &background);
  EXPECT_TRUE(ImagesNear(got, expected));
}

TEST_F(Composition, FrameRateIsMeasuredOnlyAtTraceLevel)
{
  Access::NewFPSCalculator(*preview);
  auto& log = pictortest::LogCapture::Get();
  log.SetLevel(1);
  for (int i = 0; i < 3; ++i)
    Send(GreenScreenScene(W, H, 10), nullptr);
  EXPECT_EQ(Access::LastFPSLogTick(*preview), 0u);
  EXPECT_EQ(Access::FPSCalculator(*preview)->LastCounter, 0);

  log.SetLevel(2);
  for (int i = 0; i < 3; ++i)
    Send(GreenScreenScene(W, H, 10), nullptr);
  EXPECT_NE(Access::LastFPSLogTick(*preview), 0u);
  EXPECT_TRUE(Access::FPSCalculator(*preview)->HasValue);
}

TEST_F(Composition, NullHostCallbackStillRendersAndReadsBack)
{
  Access::SetHost(*preview, nullptr, nullptr);
  auto& log = pictortest::LogCapture::Get();
  log.Clear();
  Frame frame = GreenScreenScene(W, H, 11);
  EXPECT_TRUE(Access::Thunk(*preview, W, H, true, frame.data()));
  EXPECT_EQ(sink.Count(), 0u);
  // Rendered, uploaded, read back; no error line.
  const std::vector<std::string> expected = {
      "TPictorD3D9Preview::PictorImageReadyProc",
      "TPictorD3D9Preview::LoadTexture",
      "TPictorD3D9Preview::LoadTexture exit",
      "TPictorD3D9Preview::PictorImageReadyProc exit",
  };
  EXPECT_EQ(LinesStartingWith(log.Lines(), "TPictorD3D9Preview::"), expected);
}

// ---- The keying controls, on a composing preview ------------------------------------

TEST_F(Composition, RemovingTheBackgroundTurnsKeyedAreasBlackAgain)
{
  Access::SetParams(*preview, TPictorD3D9PreviewChromaKeyingParams());
  const TReferenceImage background = SetBackground(GradientPicture(W, H), false);
  TReferenceImage expected;
  EXPECT_TRUE(ImagesNear(Send(GreenScreenScene(W, H, 13), &expected, &background), expected));
  preview->SetBackground(nullptr);
  EXPECT_FALSE(Access::HasBackground(*preview));
  TReferenceImage got = Send(GreenScreenScene(W, H, 13), &expected);
  EXPECT_TRUE(ImagesNear(got, expected));
  EXPECT_EQ(got.Argb(0, 0), 0xFF000000u);
}

TEST_F(Composition, ImageWithoutPixelsCountsAsNoBackground)
{
  Access::SetParams(*preview, TPictorD3D9PreviewChromaKeyingParams());
  SetBackground(GradientPicture(W, H), false);
  // Nothing may be read through these: null data, or sizes of zero with a null pointer.
  TPictorD3D9PreviewImage nullData(W, H, W * 4, nullptr, false);
  preview->SetBackground(&nullData);
  EXPECT_FALSE(Access::HasBackground(*preview));
  std::vector<uint8_t> one(4, 0xFF);
  TPictorD3D9PreviewImage zeroWidth(0, H, 0, one.data(), false);
  preview->SetBackground(&zeroWidth);
  TPictorD3D9PreviewImage zeroHeight(W, 0, W * 4, one.data(), true);
  preview->SetBackground(&zeroHeight);
  EXPECT_FALSE(Access::HasBackground(*preview));
  TReferenceImage expected;
  EXPECT_TRUE(ImagesNear(Send(GreenScreenScene(W, H, 14), &expected), expected));
}

TEST_F(Composition, TopDownBackgroundIsUpsideDownUntilTheNextDeviceSetUp)
{
  Access::SetParams(*preview, TPictorD3D9PreviewChromaKeyingParams());
  const Frame picture = GradientPicture(W, H);  // here: first stored row is the top
  const TReferenceImage flipped = SetBackground(picture, true);
  EXPECT_EQ(flipped.Argb(0, 0), picture.Get(0, H - 1));  // the bottom row shows at the top
  TReferenceImage expected;
  EXPECT_TRUE(ImagesNear(Send(GreenScreenScene(W, H, 15), &expected, &flipped), expected));

  // StartPreview builds the device again and uploads the private copy, which follows TopDown.
  ASSERT_TRUE(Access::InitD3D9(*preview));
  TReferenceImage upright(W, H);
  for (unsigned int y = 0; y < H; ++y)
    for (unsigned int x = 0; x < W; ++x)
      upright.SetArgb(x, y, picture.Get(x, y));
  staging = upright;
  TReferenceImage got = Send(GreenScreenScene(W, H, 15), &expected, &upright);
  EXPECT_TRUE(ImagesNear(got, expected));
  EXPECT_EQ(got.Argb(0, 0), picture.Get(0, 0));
}

TEST_F(Composition, SetterInsideTheCallbackAppliesToTheNextFrame)
{
  preview->SetChromaKeyingColor(rbcGreen, 0);
  sink.context = preview.get();
  sink.inside = [](FrameSink& s) { static_cast<TPictorD3D9Preview*>(s.context)->SetOpacity(100); };
  TReferenceImage expected;
  EXPECT_TRUE(ImagesNear(Send(GreenScreenScene(W, H, 16), &expected), expected));  // still 255
  sink.inside = nullptr;
  EXPECT_EQ(Access::Params(*preview)->Opacity, 100);
  EXPECT_TRUE(ImagesNear(Send(GreenScreenScene(W, H, 16), &expected), expected));  // 100 now
}

TEST_F(Composition, SetterFromAnotherThreadWaitsForTheFrameInProgress)
{
  preview->SetChromaKeyingColor(rbcGreen, 0);
  struct Probe {
    TPictorD3D9Preview* preview;
    std::atomic<bool> setterReturned{false};
    std::atomic<bool> returnedDuringFrame{false};
    std::thread setter;
  } probe{preview.get()};
  sink.context = &probe;
  sink.inside = [](FrameSink& s) {
    Probe& p = *static_cast<Probe*>(s.context);
    p.setter = std::thread([&p] {
      p.preview->SetSensitivity(0.25f);
      p.preview->SetSmoothing(0.75f);
      p.setterReturned = true;
    });
    Sleep(300);  // the setter must still be blocked by the frame
    p.returnedDuringFrame = p.setterReturned.load();
  };
  Send(GreenScreenScene(W, H, 17), nullptr);
  sink.inside = nullptr;
  probe.setter.join();
  EXPECT_FALSE(probe.returnedDuringFrame);
  EXPECT_TRUE(probe.setterReturned);
  EXPECT_EQ(Access::Params(*preview)->Sensitivity, 0.25f);
  EXPECT_EQ(Access::Params(*preview)->Smoothing, 0.75f);
}

}  // namespace
}  // namespace previewtest
