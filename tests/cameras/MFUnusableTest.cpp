// Media Foundation without mfreadwrite.dll (this program runs with
// WINEDLLOVERRIDES=mfreadwrite=d, Wine's way of making a system library unloadable).
#include <string>
#include <vector>

#include "Pictor.h"
#include "tests/cameras/CameraTestSupport.h"

using namespace camtest;
using pictortest::LogCapture;

namespace {

TEST(MFUnusable, CanUseMFAPIAnswersFalseSilentlyAndUnloadsWhatItLoaded) {
  LogCapture::Get().Clear();
  ASSERT_EQ(LoadLibraryW(L"mfreadwrite.dll"), nullptr) << "mfreadwrite.dll must be unloadable";
  ASSERT_EQ(GetModuleHandleW(L"mf.dll"), nullptr);
  EXPECT_FALSE(TPictor::CanUseMFAPI());
  // mf.dll was loaded by the check and freed again before it returned.
  EXPECT_EQ(GetModuleHandleW(L"mf.dll"), nullptr);
  EXPECT_TRUE(LogCapture::Get().Lines().empty());
}

TEST(MFUnusable, OperationsFailWithTheirLinesInsteadOfCrashing) {
  ComThread com;
  VirtualCamera camera;
  REQUIRE_VIRTUAL_CAMERA(camera);
  camera.Configure("camera name=\"Cam\" link=\"vc#cam\"\nformat subtype=YUY2 size=640x480 rate=30/1\n");
  {
    TPictor pictor;
    LogCapture::Get().Clear();
    EXPECT_EQ(pictor.GetWebCamerasCount(), 0);
    const std::string e = "TPictor::EnumerateWebCameras";
    const std::vector<std::string> expected = {e, e + " unable to use MS MF API", e + " exit"};
    EXPECT_EQ(LogCapture::Get().Lines(), expected);

    // Opening a camera gets as far as the media source; the missing reader function is
    // reported as its call failing, and nothing is called through a null pointer.
    LogCapture::Get().Clear();
    EXPECT_EQ(pictor.GetCaptureFormatsCount(L"vc#cam"), 0);
    const std::vector<std::string> lines = LogCapture::Get().Lines();
    EXPECT_TRUE(HasLine(lines, "TPictor::ActivateDeviceInternal "
                               "MFCreateSourceReaderFromMediaSource error -2147024769"));
    EXPECT_EQ(lines.back(), "TPictor::EnumerateCaptureFormats exit unable to activate");
    const TPictorFormat f = pictor.GetPictorFormatByIndex(L"vc#cam", 0);
    const TPictorFormat zero{};
    EXPECT_EQ(memcmp(&f, &zero, sizeof(f)), 0);
  }
  EXPECT_NO_LIVE_CAMERA_OBJECTS(camera);
}

}  // namespace
