// IAMVideoProcAmp and IAMCameraControl of the virtual camera's media source.
#include <strmif.h>
#include <vfwmsgs.h>

#include "tests/virtualcam/VirtualCamFixture.h"

namespace {

const char kControls[] =
    "camera name=C link=c\n"
    "format subtype=YUY2 size=64x32 rate=30/1\n"
    "control property=Brightness min=-10 max=10 step=2 default=0 auto=0\n"
    "control property=Gain min=0 max=100 step=1 default=20 value=30 flags=1\n"
    "control property=Focus min=0 max=255 step=5 default=125\n"
    "camera name=N link=n camera-control=0\n"
    "format subtype=YUY2 size=64x32 rate=30/1\n"
    "control property=Contrast min=0 max=100 step=1 default=50\n";

}  // namespace

TEST_F(VirtualCamTest, ControlsReportTheirConfiguredRangesAndValues) {
  Configure(kControls);
  ComPtr<IMFMediaSource> source;
  ASSERT_EQ(CreateSource(L"c", &source), S_OK);
  ComPtr<IAMVideoProcAmp> procAmp;
  ComPtr<IAMCameraControl> cameraControl;
  ASSERT_EQ(source.As(&procAmp), S_OK);
  ASSERT_EQ(source.As(&cameraControl), S_OK);

  long min = 0, max = 0, step = 0, def = 0, caps = 0, value = 0, flags = 0;
  ASSERT_EQ(procAmp->GetRange(VideoProcAmp_Brightness, &min, &max, &step, &def, &caps), S_OK);
  EXPECT_EQ(min, -10);
  EXPECT_EQ(max, 10);
  EXPECT_EQ(step, 2);
  EXPECT_EQ(def, 0);
  EXPECT_EQ(caps, VideoProcAmp_Flags_Manual);
  ASSERT_EQ(procAmp->GetRange(VideoProcAmp_Gain, &min, &max, &step, &def, &caps), S_OK);
  EXPECT_EQ(caps, VideoProcAmp_Flags_Auto | VideoProcAmp_Flags_Manual);
  ASSERT_EQ(procAmp->Get(VideoProcAmp_Gain, &value, &flags), S_OK);
  EXPECT_EQ(value, 30);
  EXPECT_EQ(flags, VideoProcAmp_Flags_Auto);
  // Same property numbers, other interface: Focus (6) is a camera control, and the
  // procamp's property 6 (ColorEnable) is not configured.
  ASSERT_EQ(cameraControl->GetRange(CameraControl_Focus, &min, &max, &step, &def, &caps), S_OK);
  EXPECT_EQ(max, 255);
  EXPECT_EQ(procAmp->GetRange(VideoProcAmp_ColorEnable, &min, &max, &step, &def, &caps), E_PROP_ID_UNSUPPORTED);
  EXPECT_EQ(procAmp->Get(VideoProcAmp_Hue, &value, &flags), E_PROP_ID_UNSUPPORTED);
  EXPECT_EQ(procAmp->Set(VideoProcAmp_Hue, 0, VideoProcAmp_Flags_Manual), E_PROP_ID_UNSUPPORTED);
  EXPECT_EQ(procAmp->GetRange(10, &min, &max, &step, &def, &caps), E_PROP_ID_UNSUPPORTED);
  EXPECT_EQ(cameraControl->GetRange(7, &min, &max, &step, &def, &caps), E_PROP_ID_UNSUPPORTED);

  // COM identity: both interfaces lead back to the source.
  ComPtr<IUnknown> fromSource, fromControl;
  source.As(&fromSource);
  cameraControl.As(&fromControl);
  EXPECT_EQ(fromSource.Get(), fromControl.Get());
  source->Shutdown();
}

TEST_F(VirtualCamTest, SetRefusesWhatADriverRefuses) {
  Configure(kControls);
  ComPtr<IMFMediaSource> source;
  ASSERT_EQ(CreateSource(L"c", &source), S_OK);
  ComPtr<IAMVideoProcAmp> procAmp;
  ASSERT_EQ(source.As(&procAmp), S_OK);
  EXPECT_EQ(procAmp->Set(VideoProcAmp_Brightness, 12, VideoProcAmp_Flags_Manual), E_INVALIDARG);   // above max
  EXPECT_EQ(procAmp->Set(VideoProcAmp_Brightness, -12, VideoProcAmp_Flags_Manual), E_INVALIDARG);  // below min
  EXPECT_EQ(procAmp->Set(VideoProcAmp_Brightness, 3, VideoProcAmp_Flags_Manual), E_INVALIDARG);    // off the step grid
  EXPECT_EQ(procAmp->Set(VideoProcAmp_Brightness, 4, VideoProcAmp_Flags_Auto), E_INVALIDARG);      // no automatic mode
  EXPECT_EQ(procAmp->Set(VideoProcAmp_Brightness, 4, 0), E_INVALIDARG);
  EXPECT_EQ(procAmp->Set(VideoProcAmp_Brightness, 4, 3), E_INVALIDARG);
  long value = 1, flags = 0;
  ASSERT_EQ(procAmp->Get(VideoProcAmp_Brightness, &value, &flags), S_OK);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(flags, VideoProcAmp_Flags_Manual);
  EXPECT_EQ(procAmp->Set(VideoProcAmp_Brightness, -10, VideoProcAmp_Flags_Manual), S_OK);
  LONG stored = 0, storedFlags = 0, setCalls = 0;
  ASSERT_TRUE(getControl_(L"c", VideoProcAmp_Brightness, &stored, &storedFlags, &setCalls));
  EXPECT_EQ(stored, -10);
  EXPECT_EQ(setCalls, 7);
  source->Shutdown();
}

TEST_F(VirtualCamTest, ControlValuesPersistAcrossActivationsUntilReconfigured) {
  Configure(kControls);
  {
    ComPtr<IMFMediaSource> source;
    ASSERT_EQ(CreateSource(L"c", &source), S_OK);
    ComPtr<IAMCameraControl> cameraControl;
    ASSERT_EQ(source.As(&cameraControl), S_OK);
    ASSERT_EQ(cameraControl->Set(CameraControl_Focus, 200, CameraControl_Flags_Manual), S_OK);
    source->Shutdown();
  }
  {
    ComPtr<IMFMediaSource> source;
    ASSERT_EQ(CreateSource(L"c", &source), S_OK);
    ComPtr<IAMCameraControl> cameraControl;
    ASSERT_EQ(source.As(&cameraControl), S_OK);
    long value = 0, flags = 0;
    ASSERT_EQ(cameraControl->Get(CameraControl_Focus, &value, &flags), S_OK);
    EXPECT_EQ(value, 200);
    EXPECT_EQ(flags, CameraControl_Flags_Manual);
    source->Shutdown();
  }
  LONG value = 0, flags = 0, setCalls = 0;
  ASSERT_TRUE(getControl_(L"c", 10 + CameraControl_Focus, &value, &flags, &setCalls));
  EXPECT_EQ(value, 200);
  EXPECT_EQ(setCalls, 1);

  Configure(kControls);
  ASSERT_TRUE(getControl_(L"c", 10 + CameraControl_Focus, &value, &flags, &setCalls));
  EXPECT_EQ(value, 125);
  EXPECT_EQ(flags, CameraControl_Flags_Manual);
  EXPECT_EQ(setCalls, 0);
  EXPECT_FALSE(getControl_(L"nothing", 0, &value, &flags, &setCalls));
  EXPECT_FALSE(getControl_(L"c", 17, &value, &flags, &setCalls));
}

TEST_F(VirtualCamTest, CameraWithoutCameraControlHasOnlyTheProcAmp) {
  Configure(kControls);
  ComPtr<IMFMediaSource> source;
  ASSERT_EQ(CreateSource(L"n", &source), S_OK);
  ComPtr<IAMCameraControl> cameraControl;
  EXPECT_EQ(source.As(&cameraControl), E_NOINTERFACE);
  ComPtr<IAMVideoProcAmp> procAmp;
  ASSERT_EQ(source.As(&procAmp), S_OK);
  long min, max, step, def, caps;
  EXPECT_EQ(procAmp->GetRange(VideoProcAmp_Contrast, &min, &max, &step, &def, &caps), S_OK);
  source->Shutdown();
}
