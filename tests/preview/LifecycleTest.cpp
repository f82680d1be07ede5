// The preview on the virtual camera: a second StartPreview, the destructor during a
// frame, and create/start/destroy cycles that leave nothing behind.
#include <wrl/client.h>

#include <atomic>
#include <memory>

#include "PreviewTestSupport.h"
#include "tests/support/HostTest.h"

using Microsoft::WRL::ComPtr;
using pictortest::VirtualCamera;

static auto* const g_com = ::testing::AddGlobalTestEnvironment(new pictortest::ComEnvironment);

namespace previewtest {
namespace {

constexpr wchar_t kGreen[] = L"vcam-green";

class Lifecycle : public ::testing::Test {
 protected:
  void SetUp() override
  {
    ASSERT_NO_FATAL_FAILURE(
        VirtualCamera::Get().Configure("camera name=\"Green screen\" link=\"vcam-green\" pattern=greenscreen\n"
                                       "format subtype=YUY2 size=64x48 rate=30/1\n"
                                       "format subtype=RGB32 size=80x48 rate=30/1\n"));
    pictortest::LogCapture::Get().SetLevel(2);
    sink.formatWidth = 64;
    sink.formatHeight = 48;
  }

  FrameSink sink;
};

// Watches the preview's window: whether the device and the camera were gone when it was
// destroyed.
TPictorD3D9Preview* gWatched = nullptr;
WNDPROC gWindowProc = nullptr;
bool gGoneBeforeWindow = false;
LRESULT CALLBACK WatchDestroy(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
  if (message == WM_DESTROY) gGoneBeforeWindow = !Access::Device(*gWatched) && !Access::Camera(*gWatched);
  return CallWindowProcW(gWindowProc, window, message, wParam, lParam);
}

TEST_F(Lifecycle, DestructorWaitsForTheFrameInProgressAndReleasesTheDeviceAndCameraBeforeTheWindow)
{
  struct Probe {
    HANDLE entered;
    std::atomic<bool> armed{false}, left{false};
  } probe{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  sink.context = &probe;
  sink.inside = [](FrameSink& s) {
    Probe& p = *static_cast<Probe*>(s.context);
    if (!p.armed.exchange(false)) return;
    SetEvent(p.entered);
    Sleep(300);  // a slow host; the destructor is called meanwhile
    p.left = true;
  };
  auto preview = std::make_unique<TPictorD3D9Preview>();
  ASSERT_TRUE(preview->StartPreview(kGreen, 0, false, nullptr, nullptr, FrameSink::Callback, &sink));
  gWatched = preview.get();
  gWindowProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(Access::Window(*preview), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WatchDestroy)));
  probe.armed = true;
  ASSERT_EQ(WaitForSingleObject(probe.entered, 30000), WAIT_OBJECT_0);
  preview.reset();
  // A destructor that does not wait returns well within the callback's 300 ms; one that
  // waits cannot return before the callback has left, so a correct one never fails here.
  EXPECT_TRUE(probe.left);
  EXPECT_TRUE(gGoneBeforeWindow);
  CloseHandle(probe.entered);
}

TEST_F(Lifecycle, SecondStartPreviewStopsTheFirstCaptureAndReleasesTheFirstDevice)
{
  // A sink outlives the preview that delivers to it: the preview's last frames may arrive
  // until its destructor has stopped the capture.
  FrameSink second;
  TPictorD3D9Preview preview;
  std::vector<uint8_t> pixels(64 * 48 * 4, 0x80);
  TPictorD3D9PreviewImage background(64, 48, 64 * 4, pixels.data(), false);
  ASSERT_TRUE(preview.StartPreview(kGreen, 0, false, &background, nullptr, FrameSink::Callback, &sink));
  ASSERT_TRUE(sink.WaitFor(2));
  ComPtr<IDirect3D9Ex> first = Access::D3D9(preview);  // see the cycles below

  // Format 1 is 80 x 48; null background and keying record: the earlier ones stay.
  second.formatWidth = 80;
  second.formatHeight = 48;
  ASSERT_TRUE(preview.StartPreview(kGreen, 1, false, nullptr, nullptr, FrameSink::Callback, &second));
  EXPECT_EQ(first.Detach()->Release(), 0u);
  EXPECT_TRUE(Access::HasBackground(preview));
  EXPECT_EQ(Access::Params(preview), nullptr);

  const size_t firstCount = sink.Count();
  ASSERT_TRUE(second.WaitFor(2));
  EXPECT_EQ(second.firstWidth, 80u);  // no frame of the first capture reached the second callback
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
    ASSERT_TRUE(sink.WaitFor(1));
    // Every device, surface, texture and shader keeps the Direct3D object alive, so our
    // own reference must be the last one once the preview is gone.
    ComPtr<IDirect3D9Ex> d3d9 = Access::D3D9(*preview);
    preview.reset();
    if (checkDirect3D) {
      EXPECT_EQ(d3d9.Detach()->Release(), 0u);
    }
  };
  // Each preview frees its d3d9.dll when it goes; the test releases Direct3D objects after
  // that, so it keeps the module loaded itself.
  const HMODULE direct3D = LoadLibraryW(L"d3d9.dll");
  cycle(false);  // the first cycle loads what stays loaded (the converter)
  const std::vector<uintptr_t> handlesBefore = pictortest::OpenHandles();
  const DWORD userBefore = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
  const VirtualCamCounts before = VirtualCamera::Get().Counts();

  for (int i = 0; i < 100 && !HasFatalFailure(); ++i) cycle(true);

  EXPECT_LE(pictortest::OpenHandles().size(), handlesBefore.size() + pictortest::kPlatformHandleSlack);
  EXPECT_EQ(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS), userBefore);
  const VirtualCamCounts after = VirtualCamera::Get().Counts();
  EXPECT_EQ(after.total, before.total) << "sources " << after.sources << " samples " << after.samples;
  FreeLibrary(direct3D);
}

}  // namespace
}  // namespace previewtest
