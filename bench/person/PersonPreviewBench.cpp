// Person keying in a running preview, as a host sees it: the whole process's CPU time
// (every thread: camera, conversion, keying, segmentation, composition) over 8 s of a
// camera paced at 30 frames/s, with the software renderer, in person mode at 1280x720
// and 1920x1080 and with the colour key at 1280x720 for comparison; and the time from
// the first switch to person mode (runtime and model not yet loaded) and the preview's
// start to the first frame that shows the person.
//
//   person-preview-bench.exe   (the virtual camera's mf.dll, onnxruntime.dll and the models
//                               beside it; the photograph's path as the first argument)
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "PictorD3D9Preview.h"
#include "bench/BenchClock.h"
#include "tools/virtualcam/VirtualCamControl.h"

namespace {

double ProcessSeconds()
{
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto s = [](FILETIME t) { return double((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7; };
  return s(kernel) + s(user);
}

// Counts the composites and notes when the first one showed something besides the
// background (pure blue: the photograph has none).
struct TSink {
  std::atomic<int> frames{0};
  std::atomic<double> firstPerson{0.0};
  static bool Callback(unsigned int width, unsigned int height, unsigned int pitch, unsigned char* pixels, void* user)
  {
    TSink& sink = *static_cast<TSink*>(user);
    ++sink.frames;
    if (sink.firstPerson == 0.0) {
      for (unsigned int y = 0; y < height; y += 4)
        for (unsigned int x = 0; x < width; x += 4) {
          const unsigned char* p = pixels + size_t(y) * pitch + 4 * size_t(x);
          if (p[0] < 200 || p[1] > 50 || p[2] > 50) {
            sink.firstPerson = BenchSeconds();
            return true;
          }
        }
    }
    return true;
  }
};

bool Configure(const std::string& picture, unsigned int width, unsigned int height)
{
  HMODULE mf = LoadLibraryW(L"mf.dll");
  auto configure =
      mf ? reinterpret_cast<VirtualCam_Configure_t>(reinterpret_cast<void*>(GetProcAddress(mf, "VirtualCam_Configure")))
         : nullptr;
  if (!configure) return std::printf("the virtual camera (mf.dll) is not beside this program\n"), false;
  const std::string text = "camera link=vcam-photo pattern=picture:" + picture +
                           "\nformat subtype=RGB32 size=" + std::to_string(width) + "x" + std::to_string(height) +
                           " rate=30/1\n";
  char error[200] = {};
  if (configure(text.c_str(), error, sizeof error) != 0) return std::printf("camera: %s\n", error), false;
  return true;
}

// One preview over a blue background; returns false when it could not run.
bool Measure(const std::string& picture, unsigned int width, unsigned int height, TPictorKeyingMode mode,
             bool reportFirstMask)
{
  if (!Configure(picture, width, height)) return false;
  std::vector<unsigned char> blue(size_t(4) * width * height);
  for (size_t i = 0; i < blue.size(); i += 4) blue[i] = blue[i + 3] = 255;
  TPictorD3D9PreviewImage background(width, height, 4 * width, blue.data(), true);
  TPictorD3D9PreviewChromaKeyingParams keying;
  TSink sink;
  TPictorD3D9Preview preview;
  preview.SetRenderer(prSoftware);
  const double start = BenchSeconds();
  if (mode == kmPerson && !preview.SetKeyingMode(kmPerson)) {
    std::printf("person mode unavailable (see the log)\n");
    return false;
  }
  if (!preview.StartPreview(L"vcam-photo", 0, true, &background, &keying, TSink::Callback, &sink)) {
    std::printf("the preview did not start\n");
    return false;
  }
  if (mode == kmPerson) {
    for (int i = 0; i < 500 && sink.firstPerson == 0.0; ++i) Sleep(10);
    if (reportFirstMask)
      std::printf(
          "person mode's first switch (runtime and model loaded) and the start to the first frame showing "
          "the person: %.0f ms\n",
          1000.0 * (sink.firstPerson - start));
  }
  Sleep(1500);  // past the start and the first masks
  const int frames = sink.frames;
  const double cpu = ProcessSeconds(), wall = BenchSeconds();
  Sleep(8000);
  const double used = ProcessSeconds() - cpu, elapsed = BenchSeconds() - wall;
  std::printf(
      "%ux%u at 30 fps, %s, software renderer: process CPU %.1f%% of one core (%.2f s in %.1f s), "
      "%.1f frames/s delivered\n",
      width, height, mode == kmPerson ? "person mode" : "colour key", 100.0 * used / elapsed, used, elapsed,
      (sink.frames - frames) / elapsed);
  return true;
}

}  // namespace

int main(int argc, char** argv)
{
  if (argc < 2) {
    std::printf("usage: person-preview-bench PICTURE.png\n");
    return 2;
  }
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const std::string picture = argv[1];
  bool ok = Measure(picture, 1280, 720, kmPerson, true);
  ok = Measure(picture, 1920, 1080, kmPerson, false) && ok;
  ok = Measure(picture, 1280, 720, kmColor, false) && ok;
  CoUninitialize();
  return ok ? 0 : 1;
}
