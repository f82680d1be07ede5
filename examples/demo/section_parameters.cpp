// Camera parameters: read a camera's image and lens controls, change one and read it back.
#include "Demo.h"

#include "Pictor.h"

#include <objbase.h>
#include <windows.h>

#include <cstdio>
#include <vector>

namespace {

const char* const kAmpNames[10] = {"Brightness",  "Contrast",     "Hue",
                                   "Saturation",  "Sharpness",    "Gamma",
                                   "ColorEnable", "WhiteBalance", "BacklightCompensation",
                                   "Gain"};
const char* const kLensNames[7] = {"Pan", "Tilt", "Roll", "Zoom", "Exposure", "Iris", "Focus"};

// GetParameters leaves an entry all zero when the camera does not offer the property.
bool Supported(const TPictorParameter& e)
{
  return e.Min != 0 || e.Max != 0 || e.Step != 0 || e.Default != 0 || e.Value != 0 || e.Flags != 0;
}

const char* Mode(int flags)
{
  if (flags & 1) return "auto";
  if (flags & 2) return "manual";
  return "-";
}

void PrintRow(const char* group, const char* name, const TPictorParameter& e)
{
  if (!Supported(e)) {
    std::printf("  %-13s %-22s %s\n", group, name, "(not supported)");
    return;
  }
  std::printf("  %-13s %-22s %7d  [%6d..%6d] %5d %7d  %s\n", group, name, e.Value, e.Min, e.Max, e.Step, e.Default,
              Mode(e.Flags));
}

void PrintTable(const TPictorParameters& params)
{
  std::printf("  %-13s %-22s %7s  %-16s %5s %7s  %s\n", "group", "property", "value", "range", "step", "default",
              "mode");
  for (int p = 0; p < 10; ++p) PrintRow("VideoProcAmp", kAmpNames[p], params.VideoProcAmp[p]);
  for (int p = 0; p < 7; ++p) PrintRow("CameraControl", kLensNames[p], params.CameraControl[p]);
}

// Entries 0-9 are the image controls, 10-16 the lens controls.
TPictorParameter& EntryAt(TPictorParameters& params, int index)
{
  return index < 10 ? params.VideoProcAmp[index] : params.CameraControl[index - 10];
}

const TPictorParameter& EntryAt(const TPictorParameters& params, int index)
{
  return index < 10 ? params.VideoProcAmp[index] : params.CameraControl[index - 10];
}

// Another valid value for an entry: one step up, or one step down at the top of the range.
int OtherValue(const TPictorParameter& e)
{
  const int step = e.Step > 0 ? e.Step : 1;
  if (e.Value <= e.Max - step) return e.Value + step;
  return e.Value - step;
}

bool RunParameters(const DemoOptions& options)
{
  // The library leaves COM to its host.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);

  bool ok = false;
  {
    TPictor pictor;
    const int count = pictor.GetWebCamerasCount();
    if (options.camera < 0 || options.camera >= count) {
      std::printf("no camera %d (%d found)\n", options.camera, count);
    } else {
      std::vector<TPictorDescr> descrs(count);
      pictor.EnumerateWebCameras(descrs.data(), count);
      const TPictorDescr& cam = descrs[options.camera];
      std::printf("camera %d: %ls\n  %ls\n\n", options.camera, cam.FriendlyName, cam.SymbolicLink);

      const TPictorParameters params = pictor.GetParameters(cam.SymbolicLink);
      PrintTable(params);

      // Brightness if the camera has it, else the first property it offers.
      int index = -1;
      for (int p = 0; p < 17 && index < 0; ++p) {
        const TPictorParameter& e = EntryAt(params, p);
        if (Supported(e) && e.Max > e.Min) index = p;
      }
      if (index < 0) {
        std::printf("\nthe camera offers no adjustable property\n");
      } else {
        const char* name = index < 10 ? kAmpNames[index] : kLensNames[index - 10];
        const TPictorParameter before = EntryAt(params, index);
        const int wanted = OtherValue(before);
        std::printf("\nsetting %s from %d to %d (manual)\n", name, before.Value, wanted);
        TPictorParameters request;
        TPictorParameter& change = EntryAt(request, index);
        change.Value = wanted;
        change.Flags = 2;
        change.Apply = true;
        pictor.SetParameters(cam.SymbolicLink, request);

        const TPictorParameters after = pictor.GetParameters(cam.SymbolicLink);
        const TPictorParameter& readBack = EntryAt(after, index);
        std::printf("read back: %s = %d, %s\n", name, readBack.Value, Mode(readBack.Flags));
        ok = readBack.Value == wanted;

        // Leave the camera as it was found.
        TPictorParameters restore;
        EntryAt(restore, index) = before;
        EntryAt(restore, index).Apply = true;
        pictor.SetParameters(cam.SymbolicLink, restore);
        std::printf("restored %s to %d, %s\n", name, before.Value, Mode(before.Flags));
      }
    }
  }

  if (SUCCEEDED(com)) CoUninitialize();
  return ok;
}

}  // namespace

PICTOR_DEMO_SECTION(20, "parameters", "a camera's image and lens controls: read, set one, read back", RunParameters);
