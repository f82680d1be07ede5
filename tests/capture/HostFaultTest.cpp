// Faults a host or a camera can cause, tried as a host would on the virtual camera: no
// hang, no crash, no leak. A call that could hang runs on a thread of its own with a
// bounded wait, so that a regression fails instead of stopping the suite.
#include "Pictor.h"
#include "common/Ownership_win.h"
#include "tests/support/HostTest.h"

#include <atomic>
#include <string>

using namespace pictortest;

namespace {

static auto* const g_com = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

const char kTwoCamerasWithControls[] =
    "camera name=A link=\\\\?\\virtualcam#a\n"
    "format subtype=YUY2 size=320x240 rate=30/1\n"
    "format subtype=RGB32 size=320x240 rate=30/1\n"
    "control property=Brightness min=-64 max=64 step=1 default=0\n"
    "camera name=B link=\\\\?\\virtualcam#b pattern=marker\n"
    "format subtype=NV12 size=320x240 rate=30/1\n"
    "control property=Brightness min=-64 max=64 step=1 default=0\n";

class HostFaultTest : public ::testing::Test {
 protected:
  void SetUp() override
  {
    LogCapture::Get().SetLevel(2);
    LogCapture::Get().Clear();
  }
  void TearDown() override { VirtualCamera::Get().Configure(""); }

  TPictor* Start(const std::string& config, const wchar_t* link, FrameSink& sink)
  {
    VirtualCamera::Get().Configure(config);
    auto* pictor = new TPictor;
    EXPECT_TRUE(pictor->StartCapture(link, 0, true, FrameSink::Callback, &sink));
    return pictor;
  }
};

TEST_F(HostFaultTest, ParametersAndFormatsDuringACaptureLeaveItRunning)
{
  FrameSink sink;
  TPictor* pictor = Start(kTwoCamerasWithControls, kLinkA, sink);
  ASSERT_TRUE(sink.WaitFor(3));

  // The captured camera: its running source and the native types read at the start.
  TPictorParameters parameters = pictor->GetParameters(kLinkA);
  EXPECT_EQ(parameters.VideoProcAmp[0].Max, 64);
  parameters.VideoProcAmp[0].Apply = true, parameters.VideoProcAmp[0].Value = 10, parameters.VideoProcAmp[0].Flags = 2;
  pictor->SetParameters(kLinkA, parameters);
  EXPECT_EQ(pictor->GetParameters(kLinkA).VideoProcAmp[0].Value, 10);
  pictor->SetDefaultParameters(kLinkA);
  EXPECT_EQ(pictor->GetParameters(kLinkA).VideoProcAmp[0].Value, 0);
  TPictorFormat formats[4];
  EXPECT_EQ(pictor->EnumerateCaptureFormats(kLinkA, formats, 4), 2);
  EXPECT_EQ(std::wstring(pictor->GetPictorFormatByIndex(kLinkA, 1).SubTypeName), L"MFVideoFormat_RGB32");
  // Another camera: a temporary activation of the call's own.
  EXPECT_EQ(pictor->GetCaptureFormatsCount(kLinkB), 1);
  EXPECT_EQ(pictor->GetParameters(kLinkB).VideoProcAmp[0].Max, 64);

  const int before = sink.Count();
  EXPECT_TRUE(sink.WaitFor(before + 3, 10000)) << "frames stopped";
  ASSERT_TRUE(ReturnsWithin([&] { pictor->StopCapture(); })) << "StopCapture hangs";
  delete pictor;
  EXPECT_NO_LIVE_CAMERA_OBJECTS();
}

TEST_F(HostFaultTest, DestroyingACapturingObjectStopsItFirst)
{
  FrameSink warmUp;  // the first session opens the platform's worker handles
  delete Start(kTwoCamerasWithControls, kLinkA, warmUp);
  const size_t handlesBefore = OpenHandles().size();
  for (int cycle = 0; cycle < 5; ++cycle) {
    FrameSink sink;
    TPictor* pictor = Start(kTwoCamerasWithControls, kLinkA, sink);
    ASSERT_TRUE(sink.WaitFor(1));
    ASSERT_TRUE(ReturnsWithin([&] { delete pictor; })) << "the destructor hangs";
    const int delivered = sink.Count();
    Sleep(100);
    EXPECT_EQ(sink.Count(), delivered) << "a frame callback after delete";
  }
  EXPECT_NO_LIVE_CAMERA_OBJECTS();
  // Two threads and their handles per object leaked show far above the slack.
  EXPECT_LE(OpenHandles().size(), handlesBefore + kPlatformHandleSlack);
}

struct StoppingSink : FrameSink {
  TPictor* pictor = nullptr;
  std::atomic<bool> stopReturned{false};
  static bool Callback(unsigned w, unsigned h, bool topDown, unsigned char* pixels, void* context)
  {
    auto* sink = static_cast<StoppingSink*>(context);
    if (!sink->stopReturned) {
      sink->pictor->StopCapture();
      sink->stopReturned = true;
    }
    return FrameSink::Callback(w, h, topDown, pixels, context);
  }
};

TEST_F(HostFaultTest, StopCaptureFromTheFrameCallbackIsRefusedAndTheHostsStopWorks)
{
  VirtualCamera::Get().Configure(kTwoCamerasWithControls);
  StoppingSink sink;
  auto* pictor = new TPictor;
  sink.pictor = pictor;
  ASSERT_TRUE(pictor->StartCapture(kLinkA, 0, true, StoppingSink::Callback, &sink));
  for (int i = 0; i < 1500 && !sink.stopReturned; ++i) Sleep(20);
  ASSERT_TRUE(sink.stopReturned) << "StopCapture in the callback hangs";
  const CapturedRecord* refused =
      FindRecord(LogCapture::Get().Records(), "TPictor::StopCapture called from the frame callback, refused");
  ASSERT_NE(refused, nullptr);
  EXPECT_EQ(refused->kind, 2u);  // an error line
  EXPECT_TRUE(sink.WaitFor(3)) << "the capture goes on";
  ASSERT_TRUE(ReturnsWithin([&] { pictor->StopCapture(); })) << "the host's StopCapture hangs";
  delete pictor;
  EXPECT_NO_LIVE_CAMERA_OBJECTS();
}

// A driver that takes a request and never answers it: the capture still counts as running,
// but its rate falls as time passes without frames; the stop gives the read four frame
// periods, then flushes the reader, and nothing of the session stays behind.
TEST_F(HostFaultTest, AStalledCamerasRateFallsAndItsStopEndsWithinTheGracePeriod)
{
  FrameSink sink;
  TPictor* pictor =
      Start("camera link=\\\\?\\virtualcam#a stall-after=45\nformat subtype=YUY2 size=64x48\n", kLinkA, sink);
  for (int i = 0; i < 500 && VirtualCamera::Get().FrameCount(kLinkA) < 45; ++i) Sleep(10);
  const double running = pictor->GetCaptureStatus().FrameRate;
  Sleep(1500);  // the next request is taken and will stay unanswered
  const double stalled = pictor->GetCaptureStatus().FrameRate;
  Sleep(1000);
  const TPictorCaptureStatus later = pictor->GetCaptureStatus();
  EXPECT_GT(running, 25.0);
  EXPECT_LT(stalled, 15.0);
  EXPECT_LT(later.FrameRate, 10.0);
  EXPECT_LE(later.FrameRate, stalled);
  EXPECT_EQ(later.State, PICTOR_CAPTURE_RUNNING);
  ASSERT_TRUE(ReturnsWithin([&] { pictor->StopCapture(); }, 1500)) << "StopCapture waits long on a stalled camera";
  delete pictor;
  EXPECT_EQ(VirtualCamera::Get().FrameCount(kLinkA), 45);
  EXPECT_NO_LIVE_CAMERA_OBJECTS();
}

// A camera whose Shutdown takes longer than a stop may wait (a wedged device, or one that
// waits on the platform's camera service): StopCapture returns after the limit with an
// error line, and the camera finishes closing on a thread of its own.
TEST_F(HostFaultTest, StopOnACameraSlowToCloseReturnsAndTheCloseFinishesByItself)
{
  FrameSink sink;
  TPictor* pictor =
      Start("camera link=\\\\?\\virtualcam#a shutdown-delay=7000\nformat subtype=YUY2 size=64x48\n", kLinkA, sink);
  ASSERT_TRUE(sink.WaitFor(1));
  ASSERT_TRUE(ReturnsWithin([&] { pictor->StopCapture(); }, 5500)) << "StopCapture waits for the camera's close";
  EXPECT_GE(VirtualCamera::Get().Counts().sources, 1) << "the camera's close is not under way";
  EXPECT_NE(FindRecord(LogCapture::Get().Records(),
                       "TPictor::DeactivateDevice the camera has not closed within 3000 "
                       "ms; it goes on closing on its own thread"),
            nullptr);
  delete pictor;
  for (int i = 0; i < 500 && VirtualCamera::Get().Counts().total != 0; ++i) Sleep(20);
  EXPECT_NO_LIVE_CAMERA_OBJECTS();
}

// A host whose plugin DLL keeps a capturing object in a global and destroys it in its
// DllMain as the process exits: the process's other threads, the camera's among them, are
// gone by then, and their locks with them. The object stops and goes without touching the
// camera (the process's end closes it), and the process ends.
TEST_F(HostFaultTest, APluginThatDestroysACapturingObjectAtProcessExitLetsTheProcessEnd)
{
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  ASSERT_TRUE(CreatePipe(&read, &write, &inherit, 0));
  TUniqueHandle reader(read), writer(write);
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  wchar_t path[MAX_PATH];
  std::wstring command(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
  command = L"\"" + command.substr(0, command.rfind(L'\\') + 1) + L"pictor-exit-host.exe\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = startup.hStdError = write;
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info));
  TUniqueHandle process(info.hProcess), thread(info.hThread);
  writer.Reset();
  const bool ended = WaitForSingleObject(process.Get(), 30000) == WAIT_OBJECT_0;
  if (!ended) TerminateProcess(process.Get(), 1);
  EXPECT_TRUE(ended) << "the process hangs at its exit";
  std::string output;
  char chunk[256];
  DWORD got = 0;
  while (ReadFile(read, chunk, sizeof chunk, &got, nullptr) && got > 0) output.append(chunk, got);
  EXPECT_EQ(output, "capturing\ndeleted\n");
}

// A camera faster than the host, whose MJPG frames are decoded in parallel: an unpaced
// camera answers every read at once. While every decoder is busy (a decoded frame waits
// for the 100 ms callback) the next read waits for one, or for most of a frame period
// (25 ms at 30/1), so the callback costs the camera a few reads, not one per answer.
TEST_F(HostFaultTest, AnUnpacedCameraIsReadAtTheDecodersPaceWhileTheHostIsSlow)
{
  SYSTEM_INFO system = {};
  GetSystemInfo(&system);
  if (system.dwNumberOfProcessors < 2) GTEST_SKIP() << "parallel decoding needs two processors";
  VirtualCamera::Get().Configure("camera link=\\\\?\\virtualcam#a paced=0\nformat subtype=MJPG size=64x48 rate=30/1\n");
  FrameSink sink;
  sink.sleepMs = 100;
  auto* pictor = new TPictor;
  pictor->SetConversion(pcBuiltIn);
  ASSERT_TRUE(pictor->StartCapture(kLinkA, 0, true, FrameSink::Callback, &sink));
  ASSERT_TRUE(sink.WaitFor(5));
  delete pictor;
  EXPECT_LE(VirtualCamera::Get().FrameCount(kLinkA), 10 * sink.Count());
}

// Frames a driver may deliver: truncated ones are dropped with an error line (64 x 48 x 4
// = 12288 bytes, one row of 256 left out); those without time or duration are delivered.
TEST_F(HostFaultTest, TruncatedFramesAreDroppedUntimedOnesDelivered)
{
  const std::string dropped = "TPictor::ProcessRGB32Sample frame of 12032 bytes is shorter than 64x48 pixels, dropped";
  for (const char* camera : {"short-frames=1\nformat subtype=RGB32", "timing=none\nformat subtype=YUY2",
                             "timing=no-duration\nformat subtype=RGB32"}) {
    SCOPED_TRACE(camera);
    const bool truncated = std::string(camera).find("short") == 0;
    LogCapture::Get().Clear();
    FrameSink sink;
    TPictor* pictor = Start(std::string("camera link=\\\\?\\virtualcam#a ") + camera + " size=64x48\n", kLinkA, sink);
    if (truncated) {
      ASSERT_TRUE(WaitForLine(dropped));
      EXPECT_EQ(FindRecord(LogCapture::Get().Records(), dropped)->kind, 2u);
    } else {
      EXPECT_TRUE(sink.WaitFor(3, 10000));
    }
    delete pictor;
    EXPECT_EQ(sink.Count() == 0, truncated);
  }
  EXPECT_NO_LIVE_CAMERA_OBJECTS();
}

}  // namespace
