// Reading, writing and resetting camera parameters against the virtual camera, which
// answers IAMVideoProcAmp / IAMCameraControl with configured ranges, refuses what a
// driver would refuse, keeps written values per camera and counts the Set calls it gets.
#include "Pictor.h"
#include "tests/support/HostTest.h"

#include <vector>

using namespace pictortest;

namespace {

static auto* const g_com = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

constexpr int kAuto = 1, kManual = 2;
// Index into all 17 entries: the image controls 0-9, then the lens controls.
// clang-format off
enum Property { Brightness = 0, Contrast, Hue, Saturation, Sharpness, Gamma, ColorEnable, WhiteBalance,
                BacklightCompensation, Gain, Pan, Tilt, Roll, Zoom, Exposure, Iris, Focus, kCount };
// clang-format on
const wchar_t kStudio[] = L"\\\\?\\virtualcam#studio", kPlain[] = L"\\\\?\\virtualcam#plain";

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

TPictorParameter Entry(int value, int min, int max, int step, int def, int flags)
{
  TPictorParameter e;
  e.Value = value, e.Min = min, e.Max = max, e.Step = step, e.Default = def, e.Flags = flags, e.Apply = false;
  return e;
}

// What each camera reports before anything was written.
TPictorParameters Initial(bool studio)
{
  TPictorParameters r;
  if (!studio) {
    At(r, Brightness) = Entry(100, 0, 255, 1, 128, kManual);
    At(r, Hue) = Entry(15, -180, 180, 1, 0, kManual);
    return r;
  }
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

void ExpectRecord(TPictorParameters got, TPictorParameters expected)
{
  for (int p = 0; p < kCount; ++p) {
    const TPictorParameter &a = At(got, p), &b = At(expected, p);
    EXPECT_EQ(std::vector<int>({a.Value, a.Min, a.Max, a.Step, a.Default, a.Flags, a.Apply}),
              std::vector<int>({b.Value, b.Min, b.Max, b.Step, b.Default, b.Flags, b.Apply}))
        << "property " << p << " (value, min, max, step, default, flags, apply)";
  }
}

// One operation on a freshly configured camera: the request is the record the camera
// reported with `writes` applied; after it, property p has had calls[p] Set calls (a
// digit per property, in enum order) and the record reads as the initial one with
// `changes` applied.
struct Value {
  int property, value, flags;
  bool apply = false;
};
enum Operation { kSet, kDefaults };
struct Case {
  const char* name;
  bool studio;
  Operation operation;
  std::vector<Value> writes;
  const char* calls;
  std::vector<Value> changes;  // apply is not used
};

// clang-format off
const Case kCases[] = {
    // Also what the camera reports unwritten: its ranges, values and flags, zeros for the rest.
    {"without_apply_nothing_is_written", true, kSet, {{Brightness, 64, kManual, false}, {Zoom, 400, kManual, false}},
     "00000000000000000", {}},
    {"apply_writes_only_the_marked_entries_with_value_and_flags", true, kSet,
     {{Brightness, -20, kManual, true}, {Focus, 200, kManual, true}, {Exposure, -8, kAuto, true}, {Gain, 10, kManual, false}},
     "10000000000000101", {{Brightness, -20, kManual}, {Focus, 200, kManual}, {Exposure, -8, kAuto}}},
    // Above the maximum, unsupported, and automatic without an automatic mode: refused.
    {"refused_values_do_not_stop_the_other_entries", true, kSet,
     {{Brightness, 65, kManual, true}, {Hue, 5, kManual, true}, {Gain, 100, kManual, true}, {Contrast, 50, kAuto, true},
      {Pan, 45, kManual, true}},
     "11100000011000000", {{Gain, 100, kManual}, {Pan, 45, kManual}}},
    // Every property gets its default in automatic mode; one that refuses (no automatic
    // mode, or unsupported and written with 0) is asked once more in manual mode.
    {"defaults_in_automatic_mode_else_in_manual_mode", true, kDefaults, {}, "12212221212222121",
     {{Brightness, 0, kAuto}, {Contrast, 50, kManual}, {WhiteBalance, 4600, kAuto}, {Gain, 32, kAuto}, {Pan, 0, kManual},
      {Zoom, 100, kManual}, {Exposure, -6, kAuto}, {Focus, 30, kAuto}}},
    {"camera_without_lens_controls_takes_only_image_settings", false, kSet,
     {{Brightness, 200, kManual, true}, {Zoom, 300, kManual, true}}, "10000000000000000", {{Brightness, 200, kManual}}},
    {"camera_without_lens_controls_gets_image_defaults_only", false, kDefaults, {}, "22222222220000000",
     {{Brightness, 128, kManual}, {Hue, 0, kManual}}},
};
// clang-format on

// Set calls each property has received so far, refused ones included: this tells "not
// written" from "written with the value it already had".
std::vector<LONG> SetCalls(const wchar_t* link)
{
  std::vector<LONG> calls(kCount, -1);
  for (int p = 0; p < kCount; ++p)
    EXPECT_TRUE(VirtualCamera::Get().Control(link, p, nullptr, nullptr, &calls[p])) << "property " << p;
  return calls;
}

class ParametersTest : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override { VirtualCamera::Get().Configure(kConfig); }
  void TearDown() override { EXPECT_NO_LIVE_CAMERA_OBJECTS(); }  // every camera closed again
};

TEST_P(ParametersTest, SetCallsAndRecordAfterTheOperation)
{
  const Case& c = GetParam();
  const wchar_t* link = c.studio ? kStudio : kPlain;
  TPictor pictor;
  TPictorParameters request = pictor.GetParameters(link);
  for (const Value& w : c.writes) {
    At(request, w.property).Value = w.value;
    At(request, w.property).Flags = w.flags;
    At(request, w.property).Apply = w.apply;
  }
  const std::vector<LONG> before = SetCalls(link);
  if (c.operation == kSet) pictor.SetParameters(link, request);
  if (c.operation == kDefaults) pictor.SetDefaultParameters(link);
  const std::vector<LONG> after = SetCalls(link);
  for (int p = 0; p < kCount; ++p) EXPECT_EQ(after[p] - before[p], c.calls[p] - '0') << "Set calls of property " << p;

  TPictorParameters expected = Initial(c.studio);
  for (const Value& change : c.changes) {
    At(expected, change.property).Value = change.value;
    At(expected, change.property).Flags = change.flags;
  }
  ExpectRecord(pictor.GetParameters(link), expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ParametersTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
