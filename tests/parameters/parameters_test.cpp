// Reading, writing and resetting camera parameters against the virtual camera, which
// answers IAMVideoProcAmp / IAMCameraControl with configured ranges and keeps written
// values per camera across activations.
#include "Pictor.h"
#include "tests/support/LogCapture.h"
#include "tools/virtualcam/VirtualCamControl.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <objbase.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

void PrintTo(const TPictorParameter& e, std::ostream* os)
{
  *os << "{value " << e.Value << ", min " << e.Min << ", max " << e.Max << ", step " << e.Step
      << ", default " << e.Default << ", flags " << e.Flags << ", apply " << e.Apply << "}";
}

namespace {

constexpr int kAuto = 1;
constexpr int kManual = 2;

// Entry indices are the DirectShow property numbers.
enum Amp { Brightness = 0, Contrast, Hue, Saturation, Sharpness, Gamma, ColorEnable, WhiteBalance,
           BacklightCompensation, Gain };
enum Lens { Pan = 0, Tilt, Roll, Zoom, Exposure, Iris, Focus };

// Camera 0 has both groups, with some properties of each left unsupported; camera 1 has
// no IAMCameraControl at all (its Zoom line must therefore never show up).
const char kConfig[] = R"(
camera name="Studio" link="\\\\?\\virtualcam#studio"
format subtype=YUY2 size=640x480 rate=30/1
control property=Brightness min=-64 max=64 step=1 default=0 value=12 flags=2 auto=1
control property=Contrast min=0 max=100 step=5 default=50 value=40 flags=2 auto=0
control property=Saturation min=0 max=200 step=1 default=100 value=100 flags=1 auto=1
control property=WhiteBalance min=2800 max=6500 step=10 default=4600 value=5000 flags=1 auto=1
control property=Gain min=0 max=255 step=1 default=32 value=64 flags=2 auto=1
control property=Pan min=-180 max=180 step=1 default=0 value=-30 flags=2 auto=0
control property=Zoom min=100 max=400 step=10 default=100 value=200 flags=2 auto=0
control property=Exposure min=-13 max=-1 step=1 default=-6 value=-8 flags=2 auto=1
control property=Focus min=0 max=250 step=5 default=30 value=120 flags=1 auto=1
camera name="Plain" link="\\\\?\\virtualcam#plain" camera-control=0
format subtype=NV12 size=640x480 rate=30/1
control property=Brightness min=0 max=255 step=1 default=128 value=100 flags=2 auto=0
control property=Hue min=-180 max=180 step=1 default=0 value=15 flags=2 auto=0
control property=Zoom min=100 max=400 step=10 default=100 value=200 flags=2 auto=0
)";

TPictorParameter Entry(int value, int min, int max, int step, int def, int flags)
{
  TPictorParameter e{};
  e.Value = value;
  e.Min = min;
  e.Max = max;
  e.Step = step;
  e.Default = def;
  e.Flags = flags;
  e.Apply = false;
  return e;
}

bool Same(const TPictorParameter& a, const TPictorParameter& b)
{
  return a.Value == b.Value && a.Min == b.Min && a.Max == b.Max && a.Step == b.Step &&
         a.Default == b.Default && a.Flags == b.Flags && a.Apply == b.Apply;
}

MATCHER_P(IsEntry, expected, "")
{
  return Same(arg, expected);
}

const TPictorParameter kZero = Entry(0, 0, 0, 0, 0, 0);

// What camera 0 reports before anything was written.
struct StudioInitial {
  TPictorParameter amp[10] = {};
  TPictorParameter lens[7] = {};
  StudioInitial()
  {
    amp[Brightness] = Entry(12, -64, 64, 1, 0, kManual);
    amp[Contrast] = Entry(40, 0, 100, 5, 50, kManual);
    amp[Saturation] = Entry(100, 0, 200, 1, 100, kAuto);
    amp[WhiteBalance] = Entry(5000, 2800, 6500, 10, 4600, kAuto);
    amp[Gain] = Entry(64, 0, 255, 1, 32, kManual);
    lens[Pan] = Entry(-30, -180, 180, 1, 0, kManual);
    lens[Zoom] = Entry(200, 100, 400, 10, 100, kManual);
    lens[Exposure] = Entry(-8, -13, -1, 1, -6, kManual);
    lens[Focus] = Entry(120, 0, 250, 5, 30, kAuto);
  }
};

void ExpectGroups(const TPictorParameters& got, const TPictorParameter (&amp)[10],
                  const TPictorParameter (&lens)[7])
{
  for (int p = 0; p < 10; ++p)
    EXPECT_PRED2(Same, got.VideoProcAmp[p], amp[p]) << "VideoProcAmp property " << p;
  for (int p = 0; p < 7; ++p)
    EXPECT_PRED2(Same, got.CameraControl[p], lens[p]) << "CameraControl property " << p;
}

bool StartsWithName(const std::string& line, const std::string& name)
{
  return line.compare(0, name.size(), name) == 0 &&
         (line.size() == name.size() || line[name.size()] == ' ');
}

// The lines one operation wrote under its own name, in order.
std::vector<std::string> LinesOf(const std::vector<std::string>& lines, const std::string& name)
{
  std::vector<std::string> own;
  for (const std::string& l : lines)
    if (StartsWithName(l, name))
      own.push_back(l);
  return own;
}

size_t IndexOf(const std::vector<std::string>& lines, const std::string& text, size_t from = 0)
{
  for (size_t i = from; i < lines.size(); ++i)
    if (lines[i] == text)
      return i;
  return lines.size();
}

class ParametersTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite()
  {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // The library loads the same module by name; this keeps it loaded between tests.
    vcam_ = LoadLibraryW(L"mf.dll");
  }
  static void TearDownTestSuite()
  {
    if (vcam_)
      FreeLibrary(vcam_);
    vcam_ = nullptr;
    CoUninitialize();
  }

  void SetUp() override
  {
    ASSERT_NE(vcam_, nullptr) << "the virtual camera mf.dll is not beside the test program";
    configure_ = reinterpret_cast<VirtualCam_Configure_t>(GetProcAddress(vcam_, "VirtualCam_Configure"));
    getCounts_ = reinterpret_cast<VirtualCam_GetCounts_t>(GetProcAddress(vcam_, "VirtualCam_GetCounts"));
    ASSERT_NE(configure_, nullptr);
    ASSERT_NE(getCounts_, nullptr);
    char error[256] = {};
    ASSERT_EQ(configure_(kConfig, error, sizeof error), 0) << error;

    pictor_ = std::make_unique<TPictor>();
    TPictorDescr descrs[2] = {};
    ASSERT_EQ(pictor_->EnumerateWebCameras(descrs, 2), 2);
    studio_ = descrs[0].SymbolicLink;
    plain_ = descrs[1].SymbolicLink;
    baseline_ = Counts();
    log_.Clear();
  }

  void TearDown() override
  {
    pictor_.reset();
    if (getCounts_) {
      VirtualCamCounts now = Counts();
      EXPECT_EQ(now.sources, 0);
      EXPECT_EQ(now.controls, 0);
      EXPECT_EQ(now.total, baseline_.total);
    }
  }

  VirtualCamCounts Counts()
  {
    VirtualCamCounts c{};
    getCounts_(&c);
    return c;
  }

  static HMODULE vcam_;
  VirtualCam_Configure_t configure_ = nullptr;
  VirtualCam_GetCounts_t getCounts_ = nullptr;
  VirtualCamCounts baseline_{};
  pictortest::LogCapture& log_ = pictortest::LogCapture::Get();
  std::unique_ptr<TPictor> pictor_;
  std::wstring studio_, plain_;
};

HMODULE ParametersTest::vcam_ = nullptr;

TEST_F(ParametersTest, ReadsRangeValueAndFlagsOfSupportedPropertiesAndZeroForTheRest)
{
  const TPictorParameters got = pictor_->GetParameters(studio_.c_str());
  StudioInitial initial;
  ExpectGroups(got, initial.amp, initial.lens);
}

TEST_F(ParametersTest, CameraWithoutLensControlsGivesAnAllZeroCameraControlGroup)
{
  const TPictorParameters got = pictor_->GetParameters(plain_.c_str());
  TPictorParameter amp[10] = {};
  amp[Brightness] = Entry(100, 0, 255, 1, 128, kManual);
  amp[Hue] = Entry(15, -180, 180, 1, 0, kManual);
  TPictorParameter lens[7] = {};
  ExpectGroups(got, amp, lens);
}

TEST_F(ParametersTest, RecordWithoutApplyWritesNothing)
{
  TPictorParameters changed = pictor_->GetParameters(studio_.c_str());
  // Valid new values everywhere, but no entry marked: none of them may reach the camera.
  for (TPictorParameter& e : changed.VideoProcAmp) {
    e.Value = e.Max;
    e.Flags = kManual;
  }
  for (TPictorParameter& e : changed.CameraControl) {
    e.Value = e.Min;
    e.Flags = kManual;
  }
  pictor_->SetParameters(studio_.c_str(), changed);

  StudioInitial initial;
  ExpectGroups(pictor_->GetParameters(studio_.c_str()), initial.amp, initial.lens);
}

TEST_F(ParametersTest, ApplyWritesOnlyTheMarkedEntriesWithTheirValueAndFlags)
{
  TPictorParameters request = pictor_->GetParameters(studio_.c_str());
  request.VideoProcAmp[Brightness].Value = -20;
  request.VideoProcAmp[Brightness].Flags = kManual;
  request.VideoProcAmp[Brightness].Apply = true;
  request.CameraControl[Focus].Value = 200;  // from automatic to manual
  request.CameraControl[Focus].Flags = kManual;
  request.CameraControl[Focus].Apply = true;
  request.CameraControl[Exposure].Value = -8;  // from manual to automatic
  request.CameraControl[Exposure].Flags = kAuto;
  request.CameraControl[Exposure].Apply = true;
  // Unmarked entries carry other values that must be ignored.
  request.VideoProcAmp[Gain].Value = 10;
  request.CameraControl[Zoom].Value = 300;
  pictor_->SetParameters(studio_.c_str(), request);

  StudioInitial expected;
  expected.amp[Brightness].Value = -20;
  expected.lens[Focus].Value = 200;
  expected.lens[Focus].Flags = kManual;
  expected.lens[Exposure].Flags = kAuto;
  ExpectGroups(pictor_->GetParameters(studio_.c_str()), expected.amp, expected.lens);
}

TEST_F(ParametersTest, RefusedValueDoesNotStopTheOtherEntries)
{
  TPictorParameters request;
  request.VideoProcAmp[Brightness] = Entry(65, 0, 0, 0, 0, kManual);  // above its maximum 64
  request.VideoProcAmp[Brightness].Apply = true;
  request.VideoProcAmp[Gain] = Entry(100, 0, 0, 0, 0, kManual);
  request.VideoProcAmp[Gain].Apply = true;
  request.VideoProcAmp[Hue] = Entry(5, 0, 0, 0, 0, kManual);  // not supported by this camera
  request.VideoProcAmp[Hue].Apply = true;
  request.CameraControl[Pan] = Entry(45, 0, 0, 0, 0, kManual);
  request.CameraControl[Pan].Apply = true;
  pictor_->SetParameters(studio_.c_str(), request);

  StudioInitial expected;
  expected.amp[Gain].Value = 100;
  expected.lens[Pan].Value = 45;
  ExpectGroups(pictor_->GetParameters(studio_.c_str()), expected.amp, expected.lens);
}

TEST_F(ParametersTest, WrittenValuesOutliveTheObjectThatWroteThem)
{
  TPictorParameters request;
  request.VideoProcAmp[Contrast] = Entry(75, 0, 0, 0, 0, kManual);
  request.VideoProcAmp[Contrast].Apply = true;
  pictor_->SetParameters(studio_.c_str(), request);
  pictor_.reset();

  TPictor other;
  EXPECT_THAT(other.GetParameters(studio_.c_str()).VideoProcAmp[Contrast],
              IsEntry(Entry(75, 0, 100, 5, 50, kManual)));
}

TEST_F(ParametersTest, DefaultsPutEveryPropertyBackToItsDefaultInAutomaticMode)
{
  TPictorParameters request = pictor_->GetParameters(studio_.c_str());
  for (TPictorParameter& e : request.VideoProcAmp) {
    e.Value = e.Max;
    e.Flags = kManual;
    e.Apply = true;
  }
  for (TPictorParameter& e : request.CameraControl) {
    e.Value = e.Max;
    e.Flags = kManual;
    e.Apply = true;
  }
  pictor_->SetParameters(studio_.c_str(), request);

  pictor_->SetDefaultParameters(studio_.c_str());

  // Properties that have an automatic mode go back to their default, automatic; the
  // camera refuses automatic mode for the others (Contrast, Pan, Zoom), which keep what
  // was written last.
  StudioInitial expected;
  for (TPictorParameter& e : expected.amp) {
    if (e.Max != 0 || e.Min != 0) {
      e.Value = e.Default;
      e.Flags = kAuto;
    }
  }
  for (TPictorParameter& e : expected.lens) {
    if (e.Max != 0 || e.Min != 0) {
      e.Value = e.Default;
      e.Flags = kAuto;
    }
  }
  for (TPictorParameter* e : {&expected.amp[Contrast], &expected.lens[Pan], &expected.lens[Zoom]}) {
    e->Value = e->Max;
    e->Flags = kManual;
  }
  ExpectGroups(pictor_->GetParameters(studio_.c_str()), expected.amp, expected.lens);
}

TEST_F(ParametersTest, CameraWithoutLensControlsStillTakesImageSettings)
{
  TPictorParameters request;
  request.VideoProcAmp[Brightness] = Entry(200, 0, 0, 0, 0, kManual);
  request.VideoProcAmp[Brightness].Apply = true;
  request.CameraControl[Zoom] = Entry(300, 0, 0, 0, 0, kManual);
  request.CameraControl[Zoom].Apply = true;
  pictor_->SetParameters(plain_.c_str(), request);

  const TPictorParameters got = pictor_->GetParameters(plain_.c_str());
  EXPECT_THAT(got.VideoProcAmp[Brightness], IsEntry(Entry(200, 0, 255, 1, 128, kManual)));
  for (int p = 0; p < 7; ++p)
    EXPECT_THAT(got.CameraControl[p], IsEntry(kZero)) << "CameraControl property " << p;
}

TEST_F(ParametersTest, EachOperationOpensTheCameraAndClosesItBeforeItsExitLine)
{
  struct Op {
    const char* name;
    std::function<void()> run;
  };
  const Op ops[] = {
      {"TPictor::GetParameters", [&] { pictor_->GetParameters(studio_.c_str()); }},
      {"TPictor::SetParameters", [&] { pictor_->SetParameters(studio_.c_str(), TPictorParameters()); }},
      {"TPictor::SetDefaultParameters", [&] { pictor_->SetDefaultParameters(studio_.c_str()); }},
  };
  for (const Op& op : ops) {
    SCOPED_TRACE(op.name);
    log_.Clear();
    op.run();
    const VirtualCamCounts after = Counts();
    EXPECT_EQ(after.sources, 0);
    EXPECT_EQ(after.controls, 0);
    EXPECT_EQ(after.total, baseline_.total);

    const std::vector<std::string> lines = log_.Lines();
    ASSERT_GE(lines.size(), 4u);
    const std::string name = op.name;
    EXPECT_EQ(LinesOf(lines, name), (std::vector<std::string>{name, name + " exit"}));
    EXPECT_EQ(lines.front(), name);
    EXPECT_EQ(lines[lines.size() - 2], "TPictor::DeactivateDevice exit");
    EXPECT_EQ(lines.back(), name + " exit");
    EXPECT_NE(IndexOf(lines, "TPictor::ActivateDevice exit with 1"), lines.size());
  }
}

TEST_F(ParametersTest, UnknownCameraGivesZerosAndTheUnableToActivateLines)
{
  const wchar_t* unknown = L"\\\\?\\virtualcam#nobody";
  const TPictorParameters got = pictor_->GetParameters(unknown);
  for (int p = 0; p < 10; ++p)
    EXPECT_THAT(got.VideoProcAmp[p], IsEntry(kZero)) << "VideoProcAmp property " << p;
  for (int p = 0; p < 7; ++p)
    EXPECT_THAT(got.CameraControl[p], IsEntry(kZero)) << "CameraControl property " << p;

  const std::vector<std::string> lines = log_.Lines();
  const std::string name = "TPictor::GetParameters";
  EXPECT_EQ(LinesOf(lines, name),
            (std::vector<std::string>{name, name + " exit unable to activate", name + " exit"}));
  // The failed activation comes right before the failure line, and the slot is closed
  // once more before the exit line.
  const size_t failed = IndexOf(lines, name + " exit unable to activate");
  ASSERT_LT(failed, lines.size());
  ASSERT_GE(failed, 1u);
  EXPECT_EQ(lines[failed - 1], "TPictor::ActivateDevice exit with 0");
  EXPECT_EQ(std::vector<std::string>(lines.begin() + failed, lines.end()),
            (std::vector<std::string>{name + " exit unable to activate", "TPictor::DeactivateDevice",
                                      "TPictor::DeactivateDevice exit", name + " exit"}));
}

TEST_F(ParametersTest, UnknownCameraChangesNothingForTheSetters)
{
  const wchar_t* unknown = L"\\\\?\\virtualcam#nobody";
  TPictorParameters request;
  request.VideoProcAmp[Brightness] = Entry(1, 0, 0, 0, 0, kManual);
  request.VideoProcAmp[Brightness].Apply = true;
  pictor_->SetParameters(unknown, request);
  {
    const std::vector<std::string> lines = log_.Lines();
    const std::string name = "TPictor::SetParameters";
    EXPECT_EQ(LinesOf(lines, name),
              (std::vector<std::string>{name, name + " exit unable to activate", name + " exit"}));
  }

  log_.Clear();
  pictor_->SetDefaultParameters(unknown);
  {
    const std::vector<std::string> lines = log_.Lines();
    const std::string name = "TPictor::SetDefaultParameters";
    EXPECT_EQ(LinesOf(lines, name),
              (std::vector<std::string>{name, name + " exit unable to activate", name + " exit"}));
    // It reads the parameters first (failing the same way), then tries on its own.
    const size_t readDone = IndexOf(lines, "TPictor::GetParameters exit");
    const size_t failed = IndexOf(lines, name + " exit unable to activate");
    EXPECT_LT(IndexOf(lines, "TPictor::GetParameters exit unable to activate"), readDone);
    EXPECT_LT(readDone, failed);
    ASSERT_LT(failed, lines.size());
    EXPECT_EQ(lines[failed - 1], "TPictor::ActivateDevice exit with 0");
    EXPECT_EQ(lines.back(), name + " exit");
  }

  StudioInitial initial;
  ExpectGroups(pictor_->GetParameters(studio_.c_str()), initial.amp, initial.lens);
}

}  // namespace
