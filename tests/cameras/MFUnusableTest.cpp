// Media Foundation without mfreadwrite.dll (this program runs with
// WINEDLLOVERRIDES=mfreadwrite=d, Wine's way of making a system library unloadable).
#include <cstring>

#include "Pictor.h"
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

}  // namespace
