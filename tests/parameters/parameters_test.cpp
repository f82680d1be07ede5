// Reading, writing and resetting camera parameters against the virtual camera, which
// answers IAMVideoProcAmp / IAMCameraControl with configured ranges, refuses what a
// driver would refuse, keeps written values per camera and counts the Set calls it gets.
#include "Pictor.h"
#include "tests/support/LogCapture.h"
#include "tools/virtualcam/VirtualCamControl.h"

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

// Index into all 17 entries: the image controls 0-9, then the lens controls.
enum Property { Brightness = 0, Contrast, Hue, Saturation, Sharpness, Gamma, ColorEnable, WhiteBalance,
                BacklightCompensation, Gain, Pan, Tilt, Roll, Zoom, Exposure, Iris, Focus, kCount };

// "Studio" has both groups with some properties of each left unsupported; "Plain" has no
// IAMCameraControl, so its Zoom line must never show up. auto=0: no automatic mode.
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

TPictorParameter& At(TPictorParameters& r, int p)
{
  return p < 10 ? r.VideoProcAmp[p] : r.CameraControl[p - 10];
}
const TPictorParameter& At(const TPictorParameters& r, int p)
{
  return p < 10 ? r.VideoProcAmp[p] : r.CameraControl[p - 10];
}

TPictorParameter Entry(int value, int min, int max, int step, int def, int flags, bool apply = false)
{
  TPictorParameter e;
  e.Value = value;
  e.Min = min;
  e.Max = max;
  e.Step = step;
  e.Default = def;
  e.Flags = flags;
  e.Apply = apply;
  return e;
}

// A request entry: only Value, Flags and Apply matter to SetParameters.
TPictorParameter Write(int value, int flags)
{
  return Entry(value, 0, 0, 0, 0, flags, true);
}

bool Same(const TPictorParameter& a, const TPictorParameter& b)
{
  return a.Value == b.Value && a.Min == b.Min && a.Max == b.Max && a.Step == b.Step &&
         a.Default == b.Default && a.Flags == b.Flags && a.Apply == b.Apply;
}

void ExpectRecord(const TPictorParameters& got, const TPictorParameters& expected)
{
  for (int p = 0; p < kCount; ++p)
    EXPECT_PRED2(Same, At(got, p), At(expected, p)) << "property " << p;
}

// What "Studio" reports before anything was written.
TPictorParameters StudioInitial()
{
  TPictorParameters r;
  At(r, Brightness) = Entry(12, -64, 64, 1, 0, kManual);
  At(r, Contrast) = Entry(40, 0, 100, 5, 50, kManual);
  At(r, Saturation) = Entry(100, 0, 200, 1, 100, kAuto);
  At(r, WhiteBalance) = Entry(5000, 2800, 6500, 10, 4600, kAuto);
  At(r, Gain) = Entry(64, 0, 255, 1, 32, kManual);
  At(r, Pan) = Entry(-30, -180, 180, 1, 0, kManual);
  At(r, Zoom) = Entry(200, 100, 400, 10, 100, kManual);
  At(r, Exposure) = Entry(-8, -13, -1, 1, -6, kManual);
  At(r, Focus) = Entry(120, 0, 250, 5, 30, kAuto);
  return r;
}

// The lines one operation wrote under its own name, in order.
std::vector<std::string> LinesOf(const std::vector<std::string>& lines, const std::string& name)
{
  std::vector<std::string> own;
  for (const std::string& l : lines)
    if (l.compare(0, name.size(), name) == 0 && (l.size() == name.size() || l[name.size()] == ' '))
      own.push_back(l);
  return own;
}

size_t IndexOf(const std::vector<std::string>& lines, const std::string& text)
{
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i] == text)
      return i;
  return lines.size();
}

class ParametersTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite()
  {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);  // the library leaves COM to its host
    vcam_ = LoadLibraryW(L"mf.dll");                // the same module the library loads
  }
  static void TearDownTestSuite()
  {
    if (vcam_)
      FreeLibrary(vcam_);
    CoUninitialize();
  }

  void SetUp() override
  {
    ASSERT_NE(vcam_, nullptr) << "the virtual camera mf.dll is not beside the test program";
    auto configure = reinterpret_cast<VirtualCam_Configure_t>(GetProcAddress(vcam_, "VirtualCam_Configure"));
    getCounts_ = reinterpret_cast<VirtualCam_GetCounts_t>(GetProcAddress(vcam_, "VirtualCam_GetCounts"));
    getControl_ = reinterpret_cast<VirtualCam_GetControl_t>(GetProcAddress(vcam_, "VirtualCam_GetControl"));
    ASSERT_TRUE(configure && getCounts_ && getControl_);
    char error[256] = {};
    ASSERT_EQ(configure(kConfig, error, sizeof error), 0) << error;

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
    if (getCounts_)
      ExpectNothingOpen();
  }

  VirtualCamCounts Counts()
  {
    VirtualCamCounts c{};
    getCounts_(&c);
    return c;
  }

  void ExpectNothingOpen()
  {
    const VirtualCamCounts now = Counts();
    EXPECT_EQ(now.sources, 0);
    EXPECT_EQ(now.controls, 0);
    EXPECT_EQ(now.total, baseline_.total);
  }

  // Set calls each property has received so far, refused ones included: this tells "not
  // written" from "written with the value it already had".
  std::vector<LONG> SetCalls(const std::wstring& link)
  {
    std::vector<LONG> calls(kCount, -1);
    for (int p = 0; p < kCount; ++p)
      EXPECT_TRUE(getControl_(link.c_str(), p, nullptr, nullptr, &calls[p])) << "property " << p;
    return calls;
  }

  // Set calls made by `run`, per property.
  std::vector<LONG> SetCallsDuring(const std::wstring& link, const std::function<void()>& run)
  {
    std::vector<LONG> calls = SetCalls(link);
    run();
    const std::vector<LONG> after = SetCalls(link);
    for (int p = 0; p < kCount; ++p)
      calls[p] = after[p] - calls[p];
    return calls;
  }

  static std::vector<LONG> CallsOn(std::initializer_list<int> properties)
  {
    std::vector<LONG> calls(kCount, 0);
    for (int p : properties)
      calls[p] = 1;
    return calls;
  }

  static HMODULE vcam_;
  VirtualCam_GetCounts_t getCounts_ = nullptr;
  VirtualCam_GetControl_t getControl_ = nullptr;
  VirtualCamCounts baseline_{};
  pictortest::LogCapture& log_ = pictortest::LogCapture::Get();
  std::unique_ptr<TPictor> pictor_;
  std::wstring studio_, plain_;
};

HMODULE ParametersTest::vcam_ = nullptr;

TEST_F(ParametersTest, ReadsRangeValueAndFlagsOfSupportedPropertiesAndZeroForTheRest)
{
  ExpectRecord(pictor_->GetParameters(studio_.c_str()), StudioInitial());
}

TEST_F(ParametersTest, RecordWithoutApplyWritesNothing)
{
  TPictorParameters record = pictor_->GetParameters(studio_.c_str());
  EXPECT_EQ(SetCallsDuring(studio_, [&] { pictor_->SetParameters(studio_.c_str(), record); }),
            CallsOn({}));

  // Valid new values everywhere, but still no entry marked.
  for (int p = 0; p < kCount; ++p)
    At(record, p).Value = At(record, p).Max;
  EXPECT_EQ(SetCallsDuring(studio_, [&] { pictor_->SetParameters(studio_.c_str(), record); }),
            CallsOn({}));
  ExpectRecord(pictor_->GetParameters(studio_.c_str()), StudioInitial());
}

TEST_F(ParametersTest, ApplyWritesOnlyTheMarkedEntriesWithTheirValueAndFlags)
{
  TPictorParameters request = pictor_->GetParameters(studio_.c_str());
  At(request, Brightness) = Write(-20, kManual);
  At(request, Focus) = Write(200, kManual);  // automatic to manual
  At(request, Exposure) = Write(-8, kAuto);  // manual to automatic
  At(request, Gain).Value = 10;              // not marked: ignored
  At(request, Zoom).Value = 300;
  EXPECT_EQ(SetCallsDuring(studio_, [&] { pictor_->SetParameters(studio_.c_str(), request); }),
            CallsOn({Brightness, Focus, Exposure}));

  TPictorParameters expected = StudioInitial();
  At(expected, Brightness).Value = -20;
  At(expected, Focus).Value = 200;
  At(expected, Focus).Flags = kManual;
  At(expected, Exposure).Flags = kAuto;
  ExpectRecord(pictor_->GetParameters(studio_.c_str()), expected);
}

TEST_F(ParametersTest, RefusedValueDoesNotStopTheOtherEntries)
{
  TPictorParameters request;
  At(request, Brightness) = Write(65, kManual);  // above its maximum
  At(request, Hue) = Write(5, kManual);          // not supported by this camera
  At(request, Gain) = Write(100, kManual);
  At(request, Contrast) = Write(50, kAuto);      // no automatic mode
  At(request, Pan) = Write(45, kManual);
  EXPECT_EQ(SetCallsDuring(studio_, [&] { pictor_->SetParameters(studio_.c_str(), request); }),
            CallsOn({Brightness, Hue, Gain, Contrast, Pan}));

  TPictorParameters expected = StudioInitial();
  At(expected, Gain).Value = 100;
  At(expected, Pan).Value = 45;
  ExpectRecord(pictor_->GetParameters(studio_.c_str()), expected);
}

TEST_F(ParametersTest, DefaultsWriteAllPropertiesWithTheirDefaultInAutomaticMode)
{
  TPictorParameters request = pictor_->GetParameters(studio_.c_str());
  for (int p = 0; p < kCount; ++p)
    At(request, p) = Write(At(request, p).Max, kManual);
  pictor_->SetParameters(studio_.c_str(), request);

  // Unsupported properties are written too (with 0), and refused by the camera.
  EXPECT_EQ(SetCallsDuring(studio_, [&] { pictor_->SetDefaultParameters(studio_.c_str()); }),
            std::vector<LONG>(kCount, 1));

  // Properties without an automatic mode refuse the write and keep the last value.
  TPictorParameters expected = StudioInitial();
  for (int p = 0; p < kCount; ++p) {
    TPictorParameter& e = At(expected, p);
    const bool hasAuto = p != Contrast && p != Pan && p != Zoom;
    if (e.Max != 0) {
      e.Value = hasAuto ? e.Default : e.Max;
      e.Flags = hasAuto ? kAuto : kManual;
    }
  }
  ExpectRecord(pictor_->GetParameters(studio_.c_str()), expected);
}

TEST_F(ParametersTest, CameraWithoutLensControlsHasAZeroGroupAndTakesOnlyImageSettings)
{
  TPictorParameters expected;
  At(expected, Brightness) = Entry(100, 0, 255, 1, 128, kManual);
  At(expected, Hue) = Entry(15, -180, 180, 1, 0, kManual);
  ExpectRecord(pictor_->GetParameters(plain_.c_str()), expected);

  TPictorParameters request;
  At(request, Brightness) = Write(200, kManual);
  At(request, Zoom) = Write(300, kManual);
  EXPECT_EQ(SetCallsDuring(plain_, [&] { pictor_->SetParameters(plain_.c_str(), request); }),
            CallsOn({Brightness}));
  EXPECT_EQ(SetCallsDuring(plain_, [&] { pictor_->SetDefaultParameters(plain_.c_str()); }),
            CallsOn({Brightness, Contrast, Hue, Saturation, Sharpness, Gamma, ColorEnable, WhiteBalance,
                     BacklightCompensation, Gain}));

  At(expected, Brightness).Value = 200;  // no automatic mode: the defaults were refused
  ExpectRecord(pictor_->GetParameters(plain_.c_str()), expected);
}

TEST_F(ParametersTest, EachOperationOpensTheCameraAndClosesItBeforeItsExitLine)
{
  const std::pair<std::string, std::function<void()>> ops[] = {
      {"TPictor::GetParameters", [&] { pictor_->GetParameters(studio_.c_str()); }},
      {"TPictor::SetParameters", [&] { pictor_->SetParameters(studio_.c_str(), TPictorParameters()); }},
      {"TPictor::SetDefaultParameters", [&] { pictor_->SetDefaultParameters(studio_.c_str()); }},
  };
  for (const auto& [name, run] : ops) {
    SCOPED_TRACE(name);
    log_.Clear();
    run();
    ExpectNothingOpen();

    const std::vector<std::string> lines = log_.Lines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(LinesOf(lines, name), (std::vector<std::string>{name, name + " exit"}));
    EXPECT_EQ(lines.front(), name);
    EXPECT_LT(IndexOf(lines, "TPictor::ActivateDevice exit with 1"), lines.size());
    EXPECT_EQ(lines[lines.size() - 2], "TPictor::DeactivateDevice exit");
    EXPECT_EQ(lines.back(), name + " exit");
  }
}

TEST_F(ParametersTest, UnknownCameraGivesZerosChangesNothingAndSaysItCouldNotActivate)
{
  const std::wstring unknown = L"\\\\?\\virtualcam#nobody";
  ExpectRecord(pictor_->GetParameters(unknown.c_str()), TPictorParameters());
  const std::string get = "TPictor::GetParameters";
  std::vector<std::string> lines = log_.Lines();
  EXPECT_EQ(LinesOf(lines, get), (std::vector<std::string>{get, get + " exit unable to activate", get + " exit"}));
  // The failed activation comes right before the failure line; the slot is closed once
  // more before the exit line.
  const size_t failed = IndexOf(lines, get + " exit unable to activate");
  ASSERT_LT(failed, lines.size());
  ASSERT_GE(failed, 1u);
  EXPECT_EQ(lines[failed - 1], "TPictor::ActivateDevice exit with 0");
  EXPECT_EQ(std::vector<std::string>(lines.begin() + failed, lines.end()),
            (std::vector<std::string>{get + " exit unable to activate", "TPictor::DeactivateDevice",
                                      "TPictor::DeactivateDevice exit", get + " exit"}));

  TPictorParameters request;
  At(request, Brightness) = Write(1, kManual);
  for (const std::string name : {"TPictor::SetParameters", "TPictor::SetDefaultParameters"}) {
    SCOPED_TRACE(name);
    log_.Clear();
    if (name == "TPictor::SetParameters")
      pictor_->SetParameters(unknown.c_str(), request);
    else
      pictor_->SetDefaultParameters(unknown.c_str());
    lines = log_.Lines();
    EXPECT_EQ(LinesOf(lines, name), (std::vector<std::string>{name, name + " exit unable to activate", name + " exit"}));
    const size_t own = IndexOf(lines, name + " exit unable to activate");
    ASSERT_LT(own, lines.size());
    ASSERT_GE(own, 1u);
    EXPECT_EQ(lines[own - 1], "TPictor::ActivateDevice exit with 0");
    EXPECT_EQ(lines.back(), name + " exit");
  }
  // SetDefaultParameters reads first, failing the same way, before its own attempt.
  EXPECT_LT(IndexOf(lines, get + " exit"), IndexOf(lines, "TPictor::SetDefaultParameters exit unable to activate"));
  ExpectRecord(pictor_->GetParameters(studio_.c_str()), StudioInitial());
}

}  // namespace
