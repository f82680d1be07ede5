// The preview on the virtual camera (the test-double mf.dll beside this program):
// StartPreview, a second StartPreview, failure on a camera without a usable format, and
// create/start/destroy cycles that leave nothing behind.
#include <windows.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "PreviewTestSupport.h"
#include "tests/support/LogCapture.h"
#include "tools/virtualcam/VirtualCamControl.h"
#include "tests/support/ProcessHandles.h"

using Microsoft::WRL::ComPtr;

namespace previewtest {
namespace {

constexpr wchar_t kGreen[] = L"vcam-green";
constexpr wchar_t kJpegOnly[] = L"vcam-mjpg";

class Lifecycle : public ::testing::Test {
 protected:
  static void SetUpTestSuite()
  {
    // Media Foundation is used from this thread: the host initialises COM.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    mf = LoadLibraryW(L"mf.dll");
    ASSERT_NE(mf, nullptr);
    configure = reinterpret_cast<VirtualCam_Configure_t>(GetProcAddress(mf, "VirtualCam_Configure"));
    getCounts = reinterpret_cast<VirtualCam_GetCounts_t>(GetProcAddress(mf, "VirtualCam_GetCounts"));
    ASSERT_NE(configure, nullptr) << "the virtual camera's mf.dll must sit beside the test program";
    ASSERT_NE(getCounts, nullptr);
    char error[256] = {};
    ASSERT_EQ(configure("camera name=\"Green screen\" link=\"vcam-green\" pattern=greenscreen\n"
                        "format subtype=YUY2 size=64x48 rate=30/1\n"
                        "format subtype=RGB32 size=80x48 rate=30/1\n"
                        "camera name=\"JPEG only\" link=\"vcam-mjpg\"\n"
                        "format subtype=MJPG size=64x48 rate=30/1\n",
                        error, sizeof error),
              0)
        << error;
  }

  void SetUp() override
  {
    pictortest::LogCapture::Get().SetLevel(2);
    sink.formatWidth = 64;
    sink.formatHeight = 48;
  }

  // Waits until the sink holds `count` frames; false after `ms` milliseconds.
  bool WaitForFrames(size_t count, DWORD ms = 10000)
  {
    const DWORD start = GetTickCount();
    while (sink.Count() < count) {
      if (GetTickCount() - start > ms)
        return false;
      Sleep(10);
    }
    return true;
  }

  static VirtualCamCounts Counts()
  {
    VirtualCamCounts counts{};
    getCounts(&counts);
    return counts;
  }

  static inline HMODULE mf = nullptr;
  static inline VirtualCam_Configure_t configure = nullptr;
  static inline VirtualCam_GetCounts_t getCounts = nullptr;
  FrameSink sink;
};

TEST_F(Lifecycle, StartPreviewDeliversCompositedFramesOfTheCaptureFormat)
{
  auto& log = pictortest::LogCapture::Get();
  log.Clear();
  auto preview = std::make_unique<TPictorD3D9Preview>();
  TPictorD3D9PreviewChromaKeyingParams params;
  ASSERT_TRUE(preview->StartPreview(kGreen, 0, false, nullptr, &params, FrameSink::Callback, &sink));
  ASSERT_TRUE(WaitForFrames(3));
  EXPECT_EQ(sink.lastWidth, 64u);
  EXPECT_EQ(sink.lastHeight, 48u);
  EXPECT_GE(sink.lastPitch, 64u * 4);
  preview.reset();

  const std::vector<std::string> lines = log.Lines();
  const std::vector<std::string> expected = {"TPictorD3D9Preview::StartPreview",
                                             "TPictorD3D9Preview::StartPreview exit with 1"};
  EXPECT_EQ(LinesStartingWith(lines, "TPictorD3D9Preview::StartPreview"), expected);
  const std::vector<std::string> destruction = {"TPictorD3D9Preview::~TPictorD3D9Preview",
                                                "TPictorD3D9Preview::~TPictorD3D9Preview exit"};
  EXPECT_EQ(LinesStartingWith(lines, "TPictorD3D9Preview::~"), destruction);
  // The key area of the green-screen scene is composed over black.
  const TReferenceImage last = sink.Last();
  EXPECT_GT(std::count(reinterpret_cast<const uint32_t*>(last.Pixels.data()),
                       reinterpret_cast<const uint32_t*>(last.Pixels.data()) + 64 * 48, 0xFF000000u),
            0);
}

TEST_F(Lifecycle, NoFrameArrivesAfterTheDestructor)
{
  auto preview = std::make_unique<TPictorD3D9Preview>();
  ASSERT_TRUE(preview->StartPreview(kGreen, 0, false, nullptr, nullptr, FrameSink::Callback, &sink));
  ASSERT_TRUE(WaitForFrames(2));
  preview.reset();
  const size_t after = sink.Count();
  Sleep(300);
  EXPECT_EQ(sink.Count(), after);
}

TEST_F(Lifecycle, CameraWithoutAUsableFormatFailsInTheDeviceSetUp)
{
  auto& log = pictortest::LogCapture::Get();
  TPictorD3D9Preview preview;
  log.Clear();
  EXPECT_FALSE(preview.StartPreview(kJpegOnly, 0, false, nullptr, nullptr, FrameSink::Callback, &sink));
  const std::vector<std::string> expected = {"TPictorD3D9Preview::StartPreview",
                                             "TPictorD3D9Preview::StartPreview InitD3D9 failed",
                                             "TPictorD3D9Preview::StartPreview exit with 0"};
  EXPECT_EQ(LinesStartingWith(log.Lines(), "TPictorD3D9Preview::StartPreview"), expected);
  EXPECT_EQ(Access::CaptureFormat(preview).Width, 0u);
  ASSERT_NE(Access::Camera(preview), nullptr);
  EXPECT_FALSE(Access::Camera(preview)->IsCaptureActive());
  EXPECT_EQ(sink.Count(), 0u);
}

TEST_F(Lifecycle, OutOfRangeFormatIndexUsesFormatZero)
{
  TPictorD3D9Preview preview;
  ASSERT_TRUE(preview.StartPreview(kGreen, 99, false, nullptr, nullptr, FrameSink::Callback, &sink));
  ASSERT_TRUE(WaitForFrames(1));
  EXPECT_EQ(Access::CaptureFormat(preview).Width, 64u);
  EXPECT_EQ(sink.lastWidth, 64u);
}

TEST_F(Lifecycle, SecondStartPreviewStopsTheFirstCaptureBeforeTheNewCamera)
{
  auto& log = pictortest::LogCapture::Get();
  TPictorD3D9Preview preview;
  std::vector<uint8_t> pixels(64 * 48 * 4, 0x80);
  TPictorD3D9PreviewImage background(64, 48, 64 * 4, pixels.data(), false);
  ASSERT_TRUE(preview.StartPreview(kGreen, 0, false, &background, nullptr, FrameSink::Callback, &sink));
  ASSERT_TRUE(WaitForFrames(2));
  log.Clear();

  // Format 1 is 80 x 48; no background and no keying record given: the earlier
  // background stays, and there is still no keying.
  FrameSink second;
  second.formatWidth = 80;
  second.formatHeight = 48;
  ASSERT_TRUE(preview.StartPreview(kGreen, 1, false, nullptr, nullptr, FrameSink::Callback, &second));
  EXPECT_TRUE(Access::HasBackground(preview));
  EXPECT_EQ(Access::Params(preview), nullptr);

  // TPictor's constructor writes no line; the new object's first work is the format
  // lookup, which must come after the old capture has stopped.
  const std::vector<std::string> lines = log.Lines();
  auto at = [&](const std::string& text) {
    return std::find(lines.begin(), lines.end(), text) - lines.begin();
  };
  const auto stopped = at("TPictor::StopCapture exit");
  const auto lookup = at("TPictor::GetPictorFormatByIndex");
  ASSERT_LT(stopped, static_cast<long long>(lines.size()));
  ASSERT_LT(lookup, static_cast<long long>(lines.size()));
  EXPECT_LT(stopped, lookup);
  EXPECT_LT(at("TPictorD3D9Preview::StartPreview"), stopped);

  const size_t firstCount = sink.Count();
  const DWORD start = GetTickCount();
  while (second.Count() < 2 && GetTickCount() - start < 10000)
    Sleep(10);
  EXPECT_GE(second.Count(), 2u);
  EXPECT_EQ(second.lastWidth, 80u);
  EXPECT_EQ(sink.Count(), firstCount);
}

TEST_F(Lifecycle, HundredCyclesLeaveHandlesCameraObjectsAndDirect3DWhereTheyStarted)
{
  auto cycle = [this](bool checkDirect3D) {
    auto preview = std::make_unique<TPictorD3D9Preview>();
    TPictorD3D9PreviewChromaKeyingParams params;
    std::vector<uint8_t> pixels(64 * 48 * 4, 0x40);
    TPictorD3D9PreviewImage background(64, 48, 64 * 4, pixels.data(), false);
    sink.frames.clear();
    ASSERT_TRUE(preview->StartPreview(kGreen, 0, false, &background, &params, FrameSink::Callback, &sink));
    ASSERT_TRUE(WaitForFrames(1));
    // Every device, surface, texture and shader keeps the Direct3D object alive, so our
    // own reference must be the last one once the preview is gone.
    ComPtr<IDirect3D9Ex> d3d9 = Access::D3D9(*preview);
    preview.reset();
    if (checkDirect3D)
      EXPECT_EQ(d3d9.Detach()->Release(), 0u);
  };
  cycle(false);  // the first cycle loads what stays loaded (Direct3D, the converter)
  const std::vector<uintptr_t> handlesBefore = pictortest::OpenHandles();
  const DWORD userBefore = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
  const VirtualCamCounts before = Counts();

  for (int i = 0; i < 100 && !HasFatalFailure(); ++i)
    cycle(true);

  EXPECT_LE(pictortest::OpenHandles().size(), handlesBefore.size() + pictortest::kPlatformHandleSlack);
  EXPECT_EQ(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS), userBefore);
  const VirtualCamCounts after = Counts();
  EXPECT_EQ(after.total, before.total);
  EXPECT_EQ(after.sources, before.sources);
  EXPECT_EQ(after.samples, before.samples);
  EXPECT_EQ(after.buffers, before.buffers);
}

}  // namespace
}  // namespace previewtest
