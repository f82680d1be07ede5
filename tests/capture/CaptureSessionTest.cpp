// Capture sessions through the exported interface, on the virtual camera.
#include "Pictor.h"

#include "CaptureTestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <regex>

using capturetest::Contains;
using capturetest::CountOf;
using capturetest::FrameSink;
using capturetest::IndexOf;
using capturetest::LinesStartingWith;
using capturetest::VirtualCam;
using capturetest::WaitForLine;
using pictortest::LogCapture;

static auto* const g_com = ::testing::AddGlobalTestEnvironment(new capturetest::ComEnvironment);

namespace {

const wchar_t kLinkA[] = L"\\\\?\\virtualcam#a";
const wchar_t kLinkB[] = L"\\\\?\\virtualcam#b";

class CaptureSessionTest : public ::testing::Test {
 protected:
  void SetUp() override
  {
    ASSERT_TRUE(VirtualCam::Get().Configure) << "the virtual camera mf.dll is not beside the test program";
    LogCapture::Get().SetLevel(2);
    LogCapture::Get().Clear();
  }
  void TearDown() override
  {
    LogCapture::Get().SetLevel(2);
    VirtualCam::Get().Configure(nullptr, nullptr, 0);
  }
};

// ---------------------------------------------------------------------------------
// Colours and row order of every subtype

// Native types of the camera, in order; index = capture format index (all usable).
struct SubtypeCase {
  const char* name;
  int formatIndex;
  bool converted;          // goes through the Color Converter
  bool inputTopDown;       // pass-through: the sign of the camera's stride
};

const char kColourCamera[] =
    "camera name=\"Marker\" link=\"\\\\\\\\?\\\\virtualcam#a\" pattern=marker\n"
    "format subtype=RGB32 size=320x240 rate=30/1\n"
    "format subtype=YUY2 size=320x240 rate=30/1\n"
    "format subtype=NV12 size=320x240 rate=30/1\n"
    "format subtype=I420 size=320x240 rate=30/1\n"
    "format subtype=RGB32 size=320x240 rate=30/1 stride=-1280\n"
    "format subtype=ARGB32 size=320x240 rate=30/1\n"
    "format subtype=ARGB32 size=320x240 rate=30/1 stride=1280\n";

const SubtypeCase kSubtypes[] = {
    {"RGB32", 0, false, true},          {"YUY2", 1, true, true},
    {"NV12", 2, true, true},            {"I420", 3, true, true},
    {"RGB32_bottom_up", 4, false, false}, {"ARGB32", 5, false, false},
    {"ARGB32_top_down", 6, false, true},
};

// Rows in picture order (top first), whatever order memory had them in.
std::vector<uint8_t> PictureOrder(const std::vector<uint8_t>& pixels, unsigned width, unsigned height, bool flip)
{
  if (!flip)
    return pixels;
  std::vector<uint8_t> out(pixels.size());
  const size_t row = size_t(width) * 4;
  for (unsigned y = 0; y < height; ++y)
    std::copy_n(pixels.begin() + (height - 1 - y) * row, row, out.begin() + y * row);
  return out;
}

// Largest difference of blue, green and red (alpha is not compared), skipping pixels
// next to a colour edge of the reference, where chroma subsampling blends neighbours.
int MaxColourDifference(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want, unsigned width,
                        unsigned height)
{
  auto at = [&](const std::vector<uint8_t>& p, unsigned x, unsigned y, int c) { return int(p[(y * width + x) * 4 + c]); };
  int worst = 0;
  for (unsigned y = 2; y + 2 < height; ++y)
    for (unsigned x = 2; x + 2 < width; ++x) {
      bool flat = true;
      for (int dy = -2; dy <= 2 && flat; ++dy)
        for (int dx = -2; dx <= 2 && flat; ++dx)
          for (int c = 0; c < 3; ++c)
            if (at(want, x + dx, y + dy, c) != at(want, x, y, c))
              flat = false;
      if (!flat)
        continue;
      for (int c = 0; c < 3; ++c)
        worst = std::max(worst, std::abs(at(got, x, y, c) - at(want, x, y, c)));
    }
  return worst;
}

FrameSink::Frame CaptureOneFrame(int formatIndex, bool topDown)
{
  TPictor pictor;
  FrameSink sink;
  EXPECT_TRUE(pictor.StartCapture(kLinkA, formatIndex, topDown, FrameSink::Callback, &sink));
  EXPECT_TRUE(sink.WaitFor(2));  // the second frame: the first has no history to hide
  pictor.StopCapture();
  std::lock_guard<std::mutex> lock(sink.mutex);
  return sink.last;
}

class SubtypeColourTest : public CaptureSessionTest,
                          public ::testing::WithParamInterface<std::tuple<SubtypeCase, bool>> {};

TEST_P(SubtypeColourTest, FrameArrivesAsRGB32InTheRowOrderItsFlagSays)
{
  const SubtypeCase subtype = std::get<0>(GetParam());
  const bool requestTopDown = std::get<1>(GetParam());
  VirtualCam::Get().Use(kColourCamera);

  // The reference: the camera's own top-down RGB32 picture, handed on unchanged.
  const FrameSink::Frame reference = CaptureOneFrame(0, true);
  ASSERT_EQ(reference.width, 320u);
  ASSERT_TRUE(reference.topDown);
  // Marker: top half red, bottom half blue (B, G, R, A in memory).
  const std::vector<uint8_t> red = {0, 0, 255, 255}, blue = {255, 0, 0, 255};
  ASSERT_TRUE(std::equal(red.begin(), red.end(), reference.pixels.begin()));
  ASSERT_TRUE(std::equal(blue.begin(), blue.end(), reference.pixels.end() - 4));

  const FrameSink::Frame frame = CaptureOneFrame(subtype.formatIndex, requestTopDown);
  ASSERT_EQ(frame.width, 320u);
  ASSERT_EQ(frame.height, 240u);
  // The flag follows the stride of what is delivered: the camera's on the pass-through
  // path, the converter's (chosen by the request) on the converted path.
  const bool expectedFlag = subtype.converted ? requestTopDown : subtype.inputTopDown;
  EXPECT_EQ(frame.topDown, expectedFlag);

  bool memoryTopDown = frame.topDown;
  // Wine 8.0's Color Converter ignores a negative stride and writes top-down rows anyway.
  if (subtype.converted && capturetest::RunningOnWine())
    memoryTopDown = true;
  const auto picture = PictureOrder(frame.pixels, 320, 240, !memoryTopDown);
  EXPECT_LE(MaxColourDifference(picture, reference.pixels, 320, 240), 3);
}

INSTANTIATE_TEST_SUITE_P(Subtypes, SubtypeColourTest,
                         ::testing::Combine(::testing::ValuesIn(kSubtypes), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_asked_top_down" : "_asked_bottom_up");
                         });

// ---------------------------------------------------------------------------------
// Starting and stopping

const char kTwoCameras[] =
    "camera name=\"A\" link=\"\\\\\\\\?\\\\virtualcam#a\" pattern=bars\n"
    "format subtype=YUY2 size=320x240 rate=30/1\n"
    "camera name=\"B\" link=\"\\\\\\\\?\\\\virtualcam#b\" pattern=bars\n"
    "format subtype=NV12 size=320x240 rate=30/1\n";

TEST_F(CaptureSessionTest, StopCaptureOnANewObjectOnlyWritesItsLines)
{
  TPictor pictor;
  LogCapture::Get().Clear();
  pictor.StopCapture();
  EXPECT_EQ(LogCapture::Get().Lines(),
            (std::vector<std::string>{"TPictor::StopCapture", "TPictor::StopCapture capture thread have been stopped.",
                                      "TPictor::StopCapture pMFVideoConverter has been deleted",
                                      "TPictor::DeactivateDevice", "TPictor::DeactivateDevice exit",
                                      "TPictor::StopCapture device has been deactivated",
                                      "TPictor::StopCapture exit"}));
  EXPECT_FALSE(pictor.IsCaptureActive());
}

TEST_F(CaptureSessionTest, SecondStartEndsTheFirstSessionBeforeOpeningTheNextCamera)
{
  VirtualCam::Get().Use(kTwoCameras);
  TPictor pictor;
  FrameSink first, second;
  ASSERT_TRUE(pictor.StartCapture(kLinkA, 0, true, FrameSink::Callback, &first));
  ASSERT_TRUE(first.WaitFor(2));
  EXPECT_EQ(VirtualCam::Get().Counts().sources, 1);

  LogCapture::Get().Clear();
  const TPictorFormat format = [&] {
    TPictor lister;  // a second object lists B's formats without touching the session
    return lister.GetPictorFormatByIndex(kLinkB, 0);
  }();
  LogCapture::Get().Clear();
  ASSERT_TRUE(pictor.StartCapture(kLinkB, format, false, FrameSink::Callback, &second));
  const int firstFrames = first.Count();
  ASSERT_TRUE(second.WaitFor(2));
  EXPECT_EQ(first.Count(), firstFrames);  // the first session delivers nothing more
  EXPECT_EQ(VirtualCam::Get().Counts().sources, 1);

  const auto lines = LogCapture::Get().Lines();
  const int start = IndexOf(lines, "TPictor::StartCapture \\\\?\\virtualcam#b");
  const int threadExit = IndexOf(lines, "TPictor::CaptureThread exit");
  const int stopped = IndexOf(lines, "TPictor::StopCapture capture thread have been stopped.");
  const int converterGone = IndexOf(lines, "TPictor::StopCapture pMFVideoConverter has been deleted");
  const int closed = IndexOf(lines, "TPictor::StopCapture device has been deactivated");
  const int found = IndexOf(lines, "TPictor::StartCapture found format 0");
  ASSERT_GE(start, 0);
  EXPECT_LT(start, threadExit);
  EXPECT_LT(threadExit, stopped);
  EXPECT_LT(stopped, converterGone);
  EXPECT_LT(converterGone, closed);
  EXPECT_LT(closed, found);
  pictor.StopCapture();
  EXPECT_EQ(VirtualCam::Get().Counts().total, 0);
}

TEST_F(CaptureSessionTest, EqualNativeTypesResolveToTheLowerIndex)
{
  VirtualCam::Get().Use(
      "camera name=\"A\" link=\"\\\\\\\\?\\\\virtualcam#a\"\n"
      "format subtype=RGB32 size=320x240 rate=30/1\n"
      "format subtype=YUY2 size=320x240 rate=30/1\n"
      "format subtype=YUY2 size=320x240 rate=30/1\n");
  TPictor pictor;
  TPictorFormat format = pictor.GetPictorFormatByIndex(kLinkA, 2);
  ASSERT_EQ(format.Width, 320u);
  wcscpy(format.SubTypeName, L"renamed");  // names take no part in the match
  FrameSink sink;
  LogCapture::Get().Clear();
  ASSERT_TRUE(pictor.StartCapture(kLinkA, format, true, FrameSink::Callback, &sink));
  const auto lines = LogCapture::Get().Lines();
  EXPECT_TRUE(Contains(lines, "TPictor::StartCapture 0 format properties:"));
  EXPECT_TRUE(Contains(lines, "TPictor::StartCapture found format 1"));
  EXPECT_FALSE(Contains(lines, "TPictor::StartCapture found format 2"));
  EXPECT_TRUE(sink.WaitFor(1));
  pictor.StopCapture();
}

TEST_F(CaptureSessionTest, BadArgumentsFailWithALineAndLeaveNothingOpen)
{
  VirtualCam::Get().Use(kTwoCameras);
  TPictor pictor;
  FrameSink sink;
  struct Case {
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
  for (const Case& c : cases) {
    LogCapture::Get().Clear();
    const TPictorFormat format = c.zeroFormat ? TPictorFormat() : usable;
    EXPECT_FALSE(pictor.StartCapture(c.link, format, true, c.callback, &sink)) << c.line;
    const auto lines = LogCapture::Get().Lines();
    EXPECT_EQ(CountOf(lines, c.line), 1) << c.line;
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "TPictor::StartCapture exit with 0");
    EXPECT_FALSE(pictor.IsCaptureActive());
    EXPECT_EQ(VirtualCam::Get().Counts().sources, 0) << c.line;
  }
  EXPECT_EQ(sink.Count(), 0);
}

// ---------------------------------------------------------------------------------
// How a session ends on its own

TEST_F(CaptureSessionTest, ReaderErrorsEndTheThreadButNotTheSession)
{
  // Wine 8.0's reader turns both faults into a failed ReadSample carrying the error flag;
  // the error flag on a successful read is covered over a scripted reader.
  for (const char* fault : {"stream-error-after=3", "error-flag-after=3"}) {
    VirtualCam::Get().Use(std::string("camera name=\"A\" link=\"\\\\\\\\?\\\\virtualcam#a\" ") + fault +
                          "\nformat subtype=YUY2 size=320x240 rate=30/1\n");
    TPictor pictor;
    FrameSink sink;
    LogCapture::Get().Clear();
    ASSERT_TRUE(pictor.StartCapture(kLinkA, 0, true, FrameSink::Callback, &sink)) << fault;
    ASSERT_TRUE(WaitForLine("TPictor::CaptureThread exit")) << fault;
    EXPECT_TRUE(pictor.IsCaptureActive()) << fault;
    Sleep(200);
    EXPECT_LE(sink.Count(), 3) << fault;
    const auto errors = LinesStartingWith(LogCapture::Get().Lines(), "TPictor::CaptureThread ReadSample error ");
    ASSERT_EQ(errors.size(), 1u) << fault;
    EXPECT_TRUE(std::regex_match(errors[0], std::regex("TPictor::CaptureThread ReadSample error c00d[0-9a-f]{4}")))
        << errors[0];
    pictor.StopCapture();
    EXPECT_FALSE(pictor.IsCaptureActive()) << fault;
  }
}

// ---------------------------------------------------------------------------------
// Frame-rate trace

TEST_F(CaptureSessionTest, FrameRateLineOnlyAtLevelTwo)
{
  VirtualCam::Get().Use(kTwoCameras);
  const std::regex rateLine("TPictor::CaptureThread WebCam FPS is [0-9]+\\.[0-9]{6}");
  for (uint8_t level : {3, 2}) {
    LogCapture::Get().SetLevel(level);
    TPictor pictor;
    FrameSink sink;
    LogCapture::Get().Clear();
    ASSERT_TRUE(pictor.StartCapture(kLinkA, 0, true, FrameSink::Callback, &sink));
    Sleep(5700);  // one line is due 5 s after the thread starts
    pictor.StopCapture();
    const auto lines = LogCapture::Get().Lines();
    const auto rates = LinesStartingWith(lines, "TPictor::CaptureThread WebCam FPS is");
    EXPECT_TRUE(Contains(lines, "TPictor::CaptureThread before ReadSample")) << "level " << int(level);
    if (level == 3) {
      EXPECT_TRUE(rates.empty()) << rates.front();
    } else {
      ASSERT_EQ(rates.size(), 1u);
      EXPECT_TRUE(std::regex_match(rates[0], rateLine)) << rates[0];
    }
  }
}

// ---------------------------------------------------------------------------------
// Nothing left behind

TEST_F(CaptureSessionTest, TwoHundredStartStopCyclesLeaveNoObjectOrHandle)
{
  VirtualCam::Get().Use(kTwoCameras);
  LogCapture::Get().SetLevel(1);
  TPictor pictor;
  FrameSink sink;
  sink.sleepMs = 30;
  // A warm-up cycle on each camera lets the platform create its lasting objects (thread
  // pools, per-camera state of the virtual camera).
  for (const wchar_t* link : {kLinkA, kLinkB}) {
    ASSERT_TRUE(pictor.StartCapture(link, 0, true, FrameSink::Callback, &sink));
    ASSERT_TRUE(sink.WaitFor(sink.Count() + 1));
    pictor.StopCapture();
  }
  const VirtualCamCounts before = VirtualCam::Get().Counts();
  const SIZE_T memoryBefore = capturetest::PrivateBytes();
  const size_t handlesBefore = capturetest::OpenHandleCount();
  {
    // The count must see a handle come and go, or the check below would prove nothing.
    HANDLE probe = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(capturetest::OpenHandleCount(), handlesBefore + 1);
    CloseHandle(probe);
    ASSERT_EQ(capturetest::OpenHandleCount(), handlesBefore);
  }

  for (int cycle = 0; cycle < 200; ++cycle) {
    const wchar_t* link = cycle % 2 ? kLinkB : kLinkA;
    ASSERT_TRUE(pictor.StartCapture(link, 0, cycle % 3 == 0, FrameSink::Callback, &sink)) << cycle;
    // Stops now mostly land inside the slow callback of the frame just counted.
    ASSERT_TRUE(sink.WaitFor(sink.Count() + 1)) << cycle;
    if (cycle % 10 == 0)
      LogCapture::Get().Clear();  // the log's own records are not the library's
    pictor.StopCapture();
    ASSERT_FALSE(pictor.IsCaptureActive());
  }

  const VirtualCamCounts after = VirtualCam::Get().Counts();
  EXPECT_EQ(after.total, before.total);
  EXPECT_EQ(after.sources, 0);
  EXPECT_EQ(after.samples, 0);
  EXPECT_EQ(after.buffers, 0);
  EXPECT_LE(capturetest::OpenHandleCount(), handlesBefore + pictortest::kPlatformHandleSlack);
  // Frames and samples are platform objects the camera cannot count: one lost per
  // frame would grow the process by far more than this over 200 sessions.
  const SIZE_T memoryAfter = capturetest::PrivateBytes();
  std::printf("private bytes %zu -> %zu, %d frames\n", size_t(memoryBefore), size_t(memoryAfter), sink.Count());
  EXPECT_LT(memoryAfter, memoryBefore + 8u * 1024 * 1024);
}

}  // namespace
