// SetDefaultParameters on a property that has no automatic mode: the camera refuses the
// automatic flag, and the property still returns to its default, in manual mode.
#include "Pictor.h"
#include "tests/support/HostTest.h"

using namespace pictortest;

namespace {

static auto* const g_com = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

TEST(DefaultsInManualModeTest, PropertyWithoutAutomaticModeGetsItsDefaultInManualMode)
{
  VirtualCamera::Get().Configure(
      "camera link=\\\\?\\virtualcam#a\n"
      "format subtype=YUY2 size=64x48\n"
      "control property=Contrast min=0 max=100 default=50 value=80 auto=0\n"
      "control property=Gain min=0 max=255 default=32 value=64\n"
      "control property=Zoom min=100 max=400 step=10 default=100 value=200 auto=0\n");
  const wchar_t link[] = L"\\\\?\\virtualcam#a";
  TPictor pictor;
  pictor.SetDefaultParameters(link);
  const TPictorParameters after = pictor.GetParameters(link);
  EXPECT_EQ(after.VideoProcAmp[1].Value, 50);  // Contrast: no automatic mode
  EXPECT_EQ(after.VideoProcAmp[1].Flags, 2);
  EXPECT_EQ(after.VideoProcAmp[9].Value, 32);  // Gain: automatic mode as before
  EXPECT_EQ(after.VideoProcAmp[9].Flags, 1);
  EXPECT_EQ(after.CameraControl[3].Value, 100);  // Zoom
  EXPECT_EQ(after.CameraControl[3].Flags, 2);
}

}  // namespace
