// The preview on the virtual camera: a second StartPreview, the destructor during a
// frame, stop, status and auto reconnect as a host has them, and create/start/destroy
// cycles that leave nothing behind.
#include <mferror.h>
#include <wrl/client.h>

#include <atomic>
#include <cstring>
#include <memory>

#include "PreviewTestSupport.h"
#include "tests/support/HostTest.h"

using Microsoft::WRL::ComPtr;
using pictortest::VirtualCamera;

static auto* const g_com = ::testing::AddGlobalTestEnvironment(new pictortest::ComEnvironment);

namespace previewtest {
namespace {

constexpr wchar_t kGreen[] = L"vcam-green";
constexpr wchar_t kLost[] = L"vcam-lost";
constexpr wchar_t kBlocked[] = L"vcam-blocked";

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

// The status, or a record with State -1 when the call refuses it.
TPictorCaptureStatusEx StatusOf(TPictorD3D9Preview& preview)
{
  TPictorCaptureStatusEx status = {};
  status.Size = sizeof status;
  if (!preview.GetCaptureStatusEx(&status)) status.State = -1;
  return status;
}

// Polls the status until its state is `state`; false after 3 s.
bool ReachesState(TPictorD3D9Preview& preview, int state)
{
  for (int waited = 0; waited < 3000; waited += 10, Sleep(10))
    if (StatusOf(preview).State == state) return true;
  return false;
}

// Through the public members only, as a host drives the preview it runs like a capture:
// the status before any start, then with a rate; stop and start refused from inside the
// callback; a lost camera waited for and the preview going on; a stop while frames come,
// after which none arrives; with auto reconnect off a loss ends the preview; a camera
// that refuses the start leaves its reason in the status.
TEST_F(Lifecycle, StopStatusAndAutoReconnectAsACaptureHostHasThem)
{
  ASSERT_NO_FATAL_FAILURE(VirtualCamera::Get().Configure(
      "camera name=Lost link=vcam-lost pattern=greenscreen\nformat subtype=YUY2 size=64x48 rate=30/1\n"
      "camera name=Blocked link=vcam-blocked access-denied=1\nformat subtype=YUY2 size=64x48 rate=30/1\n"));
  auto& log = pictortest::LogCapture::Get();
  TPictorD3D9Preview preview;
  unsigned char record[sizeof(TPictorCaptureStatusEx) + 8];
  std::memset(record, 0xAB, sizeof record);
  auto* grown = reinterpret_cast<TPictorCaptureStatusEx*>(record);
  grown->Size = sizeof record;  // a later version's record: its tail stays the host's
  ASSERT_TRUE(preview.GetCaptureStatusEx(grown));
  EXPECT_TRUE(grown->State == PICTOR_CAPTURE_IDLE && grown->FramesDelivered == 0 && grown->Size == sizeof record);
  EXPECT_EQ(record[sizeof record - 1], 0xAB);
  std::memset(record, 0xAB, sizeof record);
  grown->Size = PICTOR_CAPTURE_STATUS_EX_MIN_SIZE - 1;
  EXPECT_FALSE(preview.GetCaptureStatusEx(grown));
  EXPECT_EQ(record[8], 0xAB);

  struct Inside {
    TPictorD3D9Preview* preview;
    std::atomic<bool> tried{false}, startRefused{false};
  } inside{&preview};
  sink.context = &inside;
  sink.inside = [](FrameSink& s) {
    Inside& i = *static_cast<Inside*>(s.context);
    if (i.tried.exchange(true)) return;
    i.preview->StopPreview();
    i.startRefused = !i.preview->StartPreview(kLost, 0, false, nullptr, nullptr, nullptr, nullptr);
  };
  preview.SetAutoReconnect(true);
  ASSERT_TRUE(preview.StartPreview(kLost, 0, false, nullptr, nullptr, FrameSink::Callback, &sink));
  ASSERT_TRUE(sink.WaitFor(10));  // frames go on after the refused stop
  EXPECT_TRUE(inside.startRefused);
  EXPECT_TRUE(
      pictortest::Contains(log.Lines(), "TPictorD3D9Preview::StopPreview called from the preview callback, refused"));
  TPictorCaptureStatusEx status = StatusOf(preview);
  EXPECT_EQ(status.State, PICTOR_CAPTURE_RUNNING);
  EXPECT_GE(status.FramesDelivered, 9u);  // the frame in the callback counts when it returns
  EXPECT_GT(status.FrameRate, 5.0);

  VirtualCamera::Get().Unplug(kLost);
  ASSERT_TRUE(ReachesState(preview, PICTOR_CAPTURE_RECONNECTING));
  EXPECT_EQ(StatusOf(preview).Error, MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED);
  VirtualCamera::Get().Plug(kLost);
  ASSERT_TRUE(ReachesState(preview, PICTOR_CAPTURE_RUNNING));
  ASSERT_TRUE(sink.WaitFor(sink.Count() + 3));
  EXPECT_EQ(StatusOf(preview).Reconnects, 1u);

  preview.StopPreview();  // while frames come
  const size_t atStop = sink.Count();
  Sleep(300);
  EXPECT_EQ(sink.Count(), atStop);
  EXPECT_EQ(StatusOf(preview).State, PICTOR_CAPTURE_IDLE);
  preview.StopPreview();

  ASSERT_TRUE(preview.StartPreview(kLost, 0, false, nullptr, nullptr, FrameSink::Callback, &sink));
  ASSERT_TRUE(sink.WaitFor(atStop + 3));
  preview.SetAutoReconnect(false);  // at once, while it runs
  VirtualCamera::Get().Unplug(kLost);
  ASSERT_TRUE(ReachesState(preview, PICTOR_CAPTURE_ENDED));
  EXPECT_EQ(StatusOf(preview).Error, MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED);
  VirtualCamera::Get().Plug(kLost);

  EXPECT_FALSE(preview.StartPreview(kBlocked, 0, false, nullptr, nullptr, FrameSink::Callback, &sink));
  status = StatusOf(preview);
  EXPECT_TRUE(status.State == PICTOR_CAPTURE_ENDED && status.Error == E_ACCESSDENIED) << status.State;
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
