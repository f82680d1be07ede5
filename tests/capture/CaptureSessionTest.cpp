// Capture sessions through the exported interface, on the virtual camera.
#include "Pictor.h"

#include "CaptureTestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <mferror.h>

using namespace capturetest;

static auto* const g_com = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

namespace {

class CaptureSessionTest : public ::testing::Test {
 protected:
  void SetUp() override { LogCapture::Get().SetLevel(2), LogCapture::Get().Clear(); }
  void TearDown() override { LogCapture::Get().SetLevel(2); }
};

TEST_F(CaptureSessionTest, SecondStartEndsTheFirstSessionBeforeOpeningTheNextCamera)
{
  VirtualCamera::Get().Configure(kTwoCameras);
  FrameSink first, second;  // outlive the object that delivers to them
  TPictor pictor;
  ASSERT_TRUE(pictor.StartCapture(kLinkA, 0, true, FrameSink::Callback, &first));
  ASSERT_TRUE(first.WaitFor(2));
  const TPictorFormat format = TPictor().GetPictorFormatByIndex(kLinkB, 0);  // the session is left alone
  LogCapture::Get().Clear();
  ASSERT_TRUE(pictor.StartCapture(kLinkB, format, false, FrameSink::Callback, &second));
  const int firstFrames = first.Count();
  ASSERT_TRUE(second.WaitFor(2));
  EXPECT_EQ(first.Count(), firstFrames);  // the first session delivers nothing more
  EXPECT_EQ(VirtualCamera::Get().Counts().sources, 1);
  // The first camera was closed before the second one was opened.
  const auto lines = LogCapture::Get().Lines();
  const auto closed = std::find(lines.begin(), lines.end(), "TPictor::StopCapture device has been deactivated");
  EXPECT_LT(closed, std::find(lines.begin(), lines.end(), "TPictor::StartCapture found format 0"));
  pictor.StopCapture();
  EXPECT_NO_LIVE_CAMERA_OBJECTS();
}

TEST_F(CaptureSessionTest, BadArgumentsFailWithALineAndLeaveNothingOpen)
{
  VirtualCamera::Get().Configure(kTwoCameras);
  TPictor pictor;
  pictor.StopCapture();  // nothing to stop yet
  FrameSink sink;
  const struct {
    const wchar_t* link;
    bool zeroFormat;
    TImageReadyCallback callback;
    const char* line;
  } cases[] = {
      {nullptr, false, FrameSink::Callback, "TPictor::StartCapture no symbolic link"},
      {L"", false, FrameSink::Callback, "TPictor::StartCapture no symbolic link"},
      {kLinkA, false, nullptr, "TPictor::StartCapture no image ready callback"},
      {kLinkA, true, FrameSink::Callback, "TPictor::StartCapture unable to find the required format."},
      {L"\\\\?\\virtualcam#nobody", false, FrameSink::Callback, "TPictor::StartCapture unable to activate device"},
  };
  const TPictorFormat usable = pictor.GetPictorFormatByIndex(kLinkA, 0);
  for (const auto& c : cases) {
    LogCapture::Get().Clear();
    EXPECT_FALSE(pictor.StartCapture(c.link, c.zeroFormat ? TPictorFormat() : usable, true, c.callback, &sink));
    EXPECT_EQ(CountOf(LogCapture::Get().Lines(), c.line), 1) << c.line;
    EXPECT_FALSE(pictor.IsCaptureActive()) << c.line;
    EXPECT_EQ(VirtualCamera::Get().Counts().sources, 0) << c.line;
  }
}

TEST_F(CaptureSessionTest, ReaderErrorsAndEndOfStreamEndTheThreadButNotTheSession)
{
  // A refused sample request (with an MEError: an unplugged camera, DeviceChangeTest):
  // Windows' reader answers the read with the failure; Wine 8.0's asynchronous reader drops
  // it, and the library's watch on the camera's source answers it instead. The error flag
  // on a successful read is covered over a scripted reader. The end of the stream ends the
  // thread too: without it the thread would spin on reads that are answered at once.
  for (const char* fault : {"error-flag-after=3", "end-of-stream-after=3 paced=0"}) {
    const bool endOfStream = std::string(fault).find("end-of-stream") == 0;
    VirtualCamera::Get().Configure(std::string("camera link=\\\\?\\virtualcam#a ") + fault +
                                   "\nformat subtype=YUY2 size=320x240 rate=30/1\n");
    FrameSink sink;
    TPictor pictor;
    LogCapture::Get().Clear();
    ASSERT_TRUE(pictor.StartCapture(kLinkA, 0, true, FrameSink::Callback, &sink)) << fault;
    ASSERT_TRUE(WaitForLine("TPictor::CaptureThreadApi exit")) << fault;
    EXPECT_TRUE(pictor.IsCaptureActive()) << fault;
    const TPictorCaptureStatus status = pictor.GetCaptureStatus();
    pictor.StopCapture();  // joins the converter: no frame can follow
    // Three frames came from the camera; the mailbox may have dropped some, not all.
    EXPECT_EQ(VirtualCamera::Get().FrameCount(kLinkA), 3) << fault;
    EXPECT_GE(sink.Count(), 1) << fault;
    EXPECT_LE(sink.Count(), 3) << fault;
    const std::string readError = "TPictor::CaptureThread ReadSample error ";
    const auto errors = LinesStartingWith(LogCapture::Get().Lines(), readError);
    EXPECT_EQ(Contains(LogCapture::Get().Lines(), "TPictor::CaptureThread end of stream"), endOfStream) << fault;
    ASSERT_EQ(errors.size(), endOfStream ? 0u : 1u) << fault;
    // The status tells the host the stream ended, with the camera's failure.
    EXPECT_EQ(status.State, PICTOR_CAPTURE_ENDED) << fault;
    const HRESULT cameraError = endOfStream ? S_OK : MF_E_INVALIDREQUEST;
    EXPECT_EQ(status.Error, cameraError) << fault;
    char line[64];
    std::snprintf(line, sizeof line, "%s%x", readError.c_str(), static_cast<unsigned>(cameraError));
    if (!endOfStream) {
      EXPECT_EQ(errors[0], line) << fault;
    }
  }
}

TEST_F(CaptureSessionTest, TwoHundredStartStopCyclesLeaveNoObjectOrHandle)
{
  VirtualCamera::Get().Configure(kTwoCameras);
  LogCapture::Get().SetLevel(1);
  FrameSink sink;
  TPictor pictor;
  sink.sleepMs = 30;
  // A warm-up cycle on each camera lets the platform create its lasting objects (thread
  // pools, per-camera state of the virtual camera).
  for (const wchar_t* link : {kLinkA, kLinkB}) {
    ASSERT_TRUE(pictor.StartCapture(link, 0, true, FrameSink::Callback, &sink));
    ASSERT_TRUE(sink.WaitFor(sink.Count() + 1));
    pictor.StopCapture();
  }
  const VirtualCamCounts before = VirtualCamera::Get().Counts();
  const SIZE_T memoryBefore = PrivateBytes();
  const size_t handlesBefore = OpenHandles().size();

  for (int cycle = 0; cycle < 200; ++cycle) {
    ASSERT_TRUE(pictor.StartCapture(cycle % 2 ? kLinkB : kLinkA, 0, cycle % 3 == 0, FrameSink::Callback, &sink));
    // Stops now mostly land inside the slow callback of the frame just counted.
    ASSERT_TRUE(sink.WaitFor(sink.Count() + 1)) << cycle;
    if (cycle % 10 == 0) LogCapture::Get().Clear();  // the log's own records are not the library's
    pictor.StopCapture();
    ASSERT_FALSE(pictor.IsCaptureActive());
  }
  const VirtualCamCounts after = VirtualCamera::Get().Counts();
  EXPECT_EQ(after.total, before.total);
  EXPECT_EQ(after.sources, 0);
  EXPECT_EQ(after.samples, 0);
  EXPECT_EQ(after.buffers, 0);
  EXPECT_LE(OpenHandles().size(), handlesBefore + kPlatformHandleSlack);
  // Frames and samples are platform objects the camera cannot count: one lost per
  // frame would grow the process by far more than this over 200 sessions.
  const SIZE_T memoryAfter = PrivateBytes();
  std::printf("private bytes %zu -> %zu, %d frames\n", size_t(memoryBefore), size_t(memoryAfter), sink.Count());
  EXPECT_LT(memoryAfter, memoryBefore + 8u * 1024 * 1024);
}

}  // namespace
