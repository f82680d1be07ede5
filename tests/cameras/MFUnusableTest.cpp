// Media Foundation without mfreadwrite.dll (MFUnusable: WINEDLLOVERRIDES=mfreadwrite=d, Wine's
// way of making a system library unloadable), and without Media Foundation at all
// (NoMediaFoundation: mfplat, mf and mfreadwrite, as on Windows N editions without the Media
// Feature Pack): the same program, run once for each.
#include <cstring>

#include "Pictor.h"
#include "PictorD3D9Preview.h"
#include "tests/support/HostTest.h"

using namespace pictortest;

namespace {

TEST(MFUnusable, CanUseMFAPIAnswersFalseSilentlyAndUnloadsWhatItLoaded)
{
  LogCapture::Get().Clear();
  ASSERT_EQ(LoadLibraryW(L"mfreadwrite.dll"), nullptr) << "mfreadwrite.dll must be unloadable";
  ASSERT_EQ(GetModuleHandleW(L"mf.dll"), nullptr);  // this test runs before any other loads it
  EXPECT_FALSE(TPictor::CanUseMFAPI());
  EXPECT_EQ(GetModuleHandleW(L"mf.dll"), nullptr);  // loaded by the check and freed again
  EXPECT_TRUE(LogCapture::Get().Lines().empty());
}

// Opening a camera gets as far as the media source; the missing reader function is
// reported as its call failing, and nothing is called through a null pointer.
TEST(MFUnusable, OperationsFailWithALineInsteadOfCrashing)
{
  ComThread com;
  VirtualCamera::Get().Configure("camera name=Cam link=vc#cam\nformat subtype=YUY2 size=640x480 rate=30/1\n");
  {
    TPictor pictor;
    LogCapture::Get().Clear();
    EXPECT_EQ(pictor.GetWebCamerasCount(), 0);
    const TPictorFormat f = pictor.GetPictorFormatByIndex(L"vc#cam", 0), zero{};
    EXPECT_EQ(memcmp(&f, &zero, sizeof(f)), 0);
    EXPECT_TRUE(Contains(LogCapture::Get().Lines(),
                         "TPictor::ActivateDeviceInternal MFCreateSourceReaderFromMediaSource error -2147024769"));
  }
  EXPECT_NO_LIVE_CAMERA_OBJECTS();
}

// The program starts at all only because Pictor.dll imports nothing of Media Foundation.
TEST(NoMediaFoundation, HostIsToldFindsNoCameraAndEveryOperationRefusesWithALine)
{
  ASSERT_EQ(LoadLibraryW(L"mfplat.dll"), nullptr) << "mfplat.dll must be unloadable";
  EXPECT_FALSE(TPictor::CanUseMFAPI());
  EXPECT_EQ(PictorCanUseMediaFoundation(), 0);
  ComThread com;
  LogCapture::Get().Clear();
  {
    TPictor pictor;
    EXPECT_EQ(pictor.GetCaptureFormatsCount(L"vc#cam"), 0);
    EXPECT_FALSE(pictor.StartCapture(
        L"vc#cam", 0, true, [](unsigned, unsigned, bool, unsigned char*, void*) { return true; }, nullptr));
    TPictorD3D9Preview preview;
    preview.SetRenderer(prSoftware);
    EXPECT_FALSE(preview.StartPreview(
        L"vc#cam", 0, true, nullptr, nullptr, [](unsigned, unsigned, unsigned, unsigned char*, void*) { return true; },
        nullptr));
  }
  PictorCapture capture = nullptr;
  int count = -1;
  ASSERT_EQ(PictorCaptureCreate(&capture), PICTOR_OK);
  EXPECT_EQ(PictorCaptureGetCameraCount(capture, &count), PICTOR_OK);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(PictorCaptureStart(
                capture, L"vc#cam", 0, 1, [](unsigned, unsigned, int, unsigned char*, void*) { return 1; }, nullptr),
            PICTOR_E_FAILED);
  EXPECT_EQ(PictorCaptureDestroy(capture), PICTOR_OK);
  const std::vector<std::string> lines = LogCapture::Get().Lines();
  for (const char* line :
       {"TPictor::TPictor MFStartup error 8007007f", "TPictor::EnumerateWebCameras unable to use MS MF API",
        "TPictor::ActivateDeviceInternal MFCreateAttributes error -2147024769",
        "TPictorD3D9Preview::StartPreview StartCapture failed",
        "PictorCaptureStart the capture did not start, result -4"})
    EXPECT_TRUE(Contains(lines, line)) << line;
}

}  // namespace
