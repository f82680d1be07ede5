// MJPG through the built-in conversion: most webcams deliver 720p and 1080p at full rate
// only as MJPG, which the system's Color Converter refuses. With pcBuiltIn the library
// lists those formats and decodes them itself; this section picks the camera's MJPG
// 1920x1080 format (or its largest MJPG one), captures from it and saves the first frame.
#include "Demo.h"

#include <windows.h>
#include <objbase.h>
#include <mfapi.h>

#include <cstdio>
#include <vector>

namespace {

bool RunMJPG(const DemoOptions& options)
{
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  TPictor pictor;
  pictor.SetConversion(pcBuiltIn);
  TPictorDescr camera;
  bool ok = false;
  if (ChooseCamera(pictor, options.camera, &camera)) {
    const int count = pictor.GetCaptureFormatsCount(camera.SymbolicLink);
    std::vector<TPictorFormat> formats(count > 0 ? count : 0);
    const int listed = count > 0 ? pictor.EnumerateCaptureFormats(camera.SymbolicLink, formats.data(), count) : 0;
    TPictor system;
    std::printf("  camera %d: %d formats with the built-in conversion, %d with the system converter\n", options.camera,
                listed, system.GetCaptureFormatsCount(camera.SymbolicLink));
    int chosen = -1;
    for (int i = 0; i < listed; ++i) {
      const TPictorFormat& f = formats[i];
      if (f.SubType != MFVideoFormat_MJPG) continue;
      if (f.Width == 1920 && f.Height == 1080) {
        chosen = i;
        break;
      }
      if (chosen < 0 || f.FrameSize > formats[chosen].FrameSize) chosen = i;
    }
    if (chosen < 0) {
      std::printf("  camera %d lists no MJPG format with the built-in conversion\n", options.camera);
    } else {
      ok = CaptureAndSave(pictor, camera, options.camera, formats[chosen], chosen, options.seconds,
                          options.outputDir + "/mjpg-first.png", std::string());
    }
  }
  CoUninitialize();
  return ok;
}

}  // namespace

PICTOR_DEMO_SECTION(32, "mjpg", "MJPG 1920x1080 decoded by the built-in conversion, first frame saved as PNG", RunMJPG);
