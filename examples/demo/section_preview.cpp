// Keyed preview: the green-screen camera keyed over a generated background. Saves a raw
// frame of the camera, the background, and composited frames (first, last, and one after
// the background has been removed at run time) as PNG files side by side, then prints the
// preview's status and stops it. A second section keys a realistic screen (off-green,
// unevenly lit, spill on the subject's outline, a soft outline) with the key colour
// sampled from the picture, without and with spill suppression and edge choke. A third
// runs a 1080p preview with each renderer (software and Direct3D 9) and prints their rates.
// A fourth keys a person without a screen: a photograph's person kept over the background.
#include "Demo.h"

#include "Pictor.h"
#include "PictorD3D9Preview.h"

#include <windows.h>
#include <objbase.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// Private copy of the writer: another section may carry its own.
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace {

struct Shot {
  std::mutex mutex;
  int count = 0;
  unsigned width = 0, height = 0;
  std::vector<unsigned char> rgba;  // top row first
  double firstSeconds = 0, lastSeconds = 0;
};

double Seconds()
{
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return double(c.QuadPart) / double(f.QuadPart);
}

// BGRA rows, `pitch` bytes apart, first row at the top -> opaque RGBA.
void Keep(Shot& shot, unsigned width, unsigned height, const unsigned char* pixels, size_t pitch)
{
  std::lock_guard<std::mutex> lock(shot.mutex);
  shot.width = width;
  shot.height = height;
  shot.rgba.resize(size_t(width) * height * 4);
  for (unsigned y = 0; y < height; ++y) {
    const unsigned char* row = pixels + y * pitch;
    unsigned char* out = &shot.rgba[size_t(y) * width * 4];
    for (unsigned x = 0; x < width; ++x) {
      out[4 * x + 0] = row[4 * x + 2];
      out[4 * x + 1] = row[4 * x + 1];
      out[4 * x + 2] = row[4 * x + 0];
      out[4 * x + 3] = 255;
    }
  }
  const double now = Seconds();
  if (shot.count++ == 0) shot.firstSeconds = now;
  shot.lastSeconds = now;
}

bool OnRawFrame(unsigned width, unsigned height, bool topDown, unsigned char* pixels, void* context)
{
  // Rows width * 4 apart; a bottom-up frame is read from its last row upwards.
  std::vector<unsigned char> upright(size_t(width) * height * 4);
  for (unsigned y = 0; y < height; ++y)
    std::memcpy(&upright[size_t(y) * width * 4], pixels + size_t(topDown ? y : height - 1 - y) * width * 4,
                size_t(width) * 4);
  Keep(*static_cast<Shot*>(context), width, height, upright.data(), size_t(width) * 4);
  return true;
}

bool OnKeyedFrame(unsigned width, unsigned height, unsigned pitch, unsigned char* pixels, void* context)
{
  Keep(*static_cast<Shot*>(context), width, height, pixels, pitch);
  return true;
}

bool Save(const std::string& path, Shot& shot)
{
  std::lock_guard<std::mutex> lock(shot.mutex);
  if (shot.rgba.empty() ||
      !stbi_write_png(path.c_str(), int(shot.width), int(shot.height), 4, shot.rgba.data(), int(shot.width * 4))) {
    std::printf("  could not write %s\n", path.c_str());
    return false;
  }
  std::printf("  saved %s\n", path.c_str());
  return true;
}

// A sky over hills with a sun, top row first, BGRA.
std::vector<unsigned char> MakeBackground(unsigned width, unsigned height)
{
  std::vector<unsigned char> image(size_t(width) * height * 4);
  for (unsigned y = 0; y < height; ++y)
    for (unsigned x = 0; x < width; ++x) {
      const double u = double(x) / width, v = double(y) / height;
      double r = 90 + 100 * v, g = 150 + 70 * v, b = 250 - 30 * v;  // sky
      const double sx = u - 0.78, sy = v - 0.22;
      if (sx * sx + sy * sy < 0.006) r = 255, g = 220, b = 90;  // sun
      const double hill = 0.72 - 0.08 * std::sin(u * 9.0) - 0.05 * std::sin(u * 23.0 + 1.0);
      if (v > hill) r = 40 + 30 * v, g = 120 + 40 * std::sin(u * 40.0), b = 50;  // hills
      unsigned char* p = &image[(size_t(y) * width + x) * 4];
      p[0] = (unsigned char)b;
      p[1] = (unsigned char)g;
      p[2] = (unsigned char)r;
      p[3] = 255;
    }
  return image;
}

std::string Narrow(const wchar_t* text)
{
  char buffer[512] = {};
  WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer - 1, nullptr, nullptr);
  return buffer;
}

// The virtual camera's configuration function, when the demo runs beside it.
typedef int(WINAPI* ConfigureFn)(const char* config, char* error, int errorSize);
ConfigureFn VirtualCameraConfigure()
{
  HMODULE mf = GetModuleHandleW(L"mf.dll");
  if (!mf) mf = LoadLibraryW(L"mf.dll");
  return mf ? reinterpret_cast<ConfigureFn>(reinterpret_cast<void*>(GetProcAddress(mf, "VirtualCam_Configure")))
            : nullptr;
}

// Lists the cameras into `cameras` and gives camera `chosen`'s first format; false (with
// a line) when there is no such camera.
bool FirstFormatOf(int chosen, std::vector<TPictorDescr>& cameras, TPictorFormat* format)
{
  TPictor pictor;
  const int count = pictor.EnumerateWebCameras(cameras.data(), int(cameras.size()));
  if (chosen < 0 || chosen >= count || chosen >= int(cameras.size())) {
    std::printf("  camera %d does not exist (%d found)\n", chosen, count);
    return false;
  }
  *format = pictor.GetPictorFormatByIndex(cameras[chosen].SymbolicLink, 0);
  return true;
}

// Sets the virtual camera, when the demo runs beside it, to `config` and picks its first
// camera; with a real camera, camera options.camera. Runs `run` with COM initialised on the
// chosen camera's link and first format and a generated background of its size, then
// restores the virtual camera's default set for later sections. False (with a line) when
// the camera cannot be had, else what `run` returns.
bool OnCamera(const char* config, const DemoOptions& options,
              const std::function<bool(const wchar_t*, const TPictorFormat&, TPictorD3D9PreviewImage*)>& run)
{
  const ConfigureFn configure = VirtualCameraConfigure();
  if (configure && configure(config, nullptr, 0) != 0) {
    std::printf("  the virtual camera refused the set-up\n");
    return false;
  }
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  std::vector<TPictorDescr> cameras(16);
  const int chosen = configure ? 0 : options.camera;
  TPictorFormat format;
  bool ok = FirstFormatOf(chosen, cameras, &format);
  if (ok) {
    std::vector<unsigned char> pixels = MakeBackground(format.Width, format.Height);
    TPictorD3D9PreviewImage background(format.Width, format.Height, format.Width * 4, pixels.data(), true);
    ok = run(cameras[chosen].SymbolicLink, format, &background);
  }
  CoUninitialize();
  if (configure) configure(nullptr, nullptr, 0);
  return ok;
}

bool RunPreview(const DemoOptions& options)
{
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  std::vector<TPictorDescr> cameras(16);
  int cameraCount;
  TPictorFormat format;
  const int formatIndex = options.format < 0 ? 0 : options.format;
  int chosen = options.camera;
  Shot raw;
  {
    TPictor pictor;
    cameraCount = pictor.EnumerateWebCameras(cameras.data(), int(cameras.size()));
    // The virtual camera's green-screen scene is what keying is for; otherwise the chosen camera.
    for (int i = 0; i < cameraCount && i < int(cameras.size()); ++i)
      if (std::wcsstr(cameras[i].FriendlyName, L"Green")) chosen = i;
    if (chosen < 0 || chosen >= cameraCount || chosen >= int(cameras.size())) {
      std::printf("  camera %d does not exist (%d found)\n", chosen, cameraCount);
      CoUninitialize();
      return false;
    }
    format = pictor.GetPictorFormatByIndex(cameras[chosen].SymbolicLink, formatIndex);
    std::printf("  camera %d \"%s\", format %d: %s %ux%u\n", chosen, Narrow(cameras[chosen].FriendlyName).c_str(),
                formatIndex, Narrow(format.SubTypeName).c_str(), format.Width, format.Height);
    if (pictor.StartCapture(cameras[chosen].SymbolicLink, formatIndex, false, OnRawFrame, &raw)) {
      Sleep(1000);
      pictor.StopCapture();
    }
  }
  const wchar_t* link = cameras[chosen].SymbolicLink;
  bool ok = Save(options.outputDir + "/preview-raw.png", raw);

  std::vector<unsigned char> backgroundPixels = MakeBackground(format.Width, format.Height);
  TPictorD3D9PreviewImage background(format.Width, format.Height, format.Width * 4, backgroundPixels.data(), true);
  {
    Shot shot;
    shot.width = format.Width;
    shot.height = format.Height;
    Keep(shot, format.Width, format.Height, backgroundPixels.data(), size_t(format.Width) * 4);
    ok &= Save(options.outputDir + "/preview-background.png", shot);
  }

  Shot keyed;
  TPictorD3D9Preview preview;
  TPictorD3D9PreviewChromaKeyingParams params;  // green, default sensitivity and smoothing
  if (!preview.StartPreview(link, formatIndex, false, &background, &params, OnKeyedFrame, &keyed)) {
    std::printf("  StartPreview failed (see the log)\n");
    CoUninitialize();
    return false;
  }
  const DWORD runMs = DWORD(options.seconds > 0 ? options.seconds : 1) * 1000;
  for (int i = 0; i < 250; ++i) {  // the first frame, within 5 s
    {
      std::lock_guard<std::mutex> lock(keyed.mutex);
      if (keyed.count > 0) break;
    }
    Sleep(20);
  }
  ok &= Save(options.outputDir + "/preview-keyed-first.png", keyed);
  Sleep(runMs);
  ok &= Save(options.outputDir + "/preview-keyed-last.png", keyed);
  int frames;
  double rate;
  {
    std::lock_guard<std::mutex> lock(keyed.mutex);
    frames = keyed.count;
    rate = keyed.count > 1 ? (keyed.count - 1) / (keyed.lastSeconds - keyed.firstSeconds) : 0.0;
  }
  std::printf("  composited frames delivered: %d (%.1f frames/s)\n", frames, rate);

  // The controls act from the next frame on: no background (black) and a softer subject.
  preview.SetBackground(nullptr);
  preview.SetOpacity(200);
  const int before = frames;
  for (int i = 0; i < 100; ++i) {
    Sleep(20);
    std::lock_guard<std::mutex> lock(keyed.mutex);
    if (keyed.count > before + 2) break;
  }
  ok &= Save(options.outputDir + "/preview-keyed-over-black.png", keyed);

  // The preview's capture status, as a capture host reads its own; then a stop, after
  // which no composite arrives and the status says the preview is idle.
  TPictorCaptureStatusEx status = {};
  status.Size = sizeof status;
  if (preview.GetCaptureStatusEx(&status))
    std::printf("  preview status: %s, %llu frames delivered, %llu dropped, %.1f frames/s\n", StateName(status.State),
                status.FramesDelivered, status.FramesDropped, status.FrameRate);
  preview.StopPreview();
  auto count = [&keyed] {
    std::lock_guard<std::mutex> lock(keyed.mutex);
    return keyed.count;
  };
  const int atStop = count();
  Sleep(500);
  const int late = count() - atStop;
  ok &= preview.GetCaptureStatusEx(&status) && status.State == PICTOR_CAPTURE_IDLE && late == 0;
  std::printf("  after StopPreview: %s, %d composites in the next 500 ms\n", StateName(status.State), late);
  CoUninitialize();
  return ok && frames > 0;
}

// Waits (at most 2 s) until `frames` more composited frames have arrived.
void WaitForFrames(Shot& shot, int frames)
{
  int start;
  {
    std::lock_guard<std::mutex> lock(shot.mutex);
    start = shot.count;
  }
  for (int i = 0; i < 100; ++i) {
    Sleep(20);
    std::lock_guard<std::mutex> lock(shot.mutex);
    if (shot.count >= start + frames) return;
  }
}

bool RunRealScreen(const DemoOptions& options)
{
  // The virtual camera plays a real screen; with a real camera its own picture is used.
  const char* config =
      "camera name=\"Real Screen\" link=\\\\?\\virtualcam#real-screen pattern=greenscreen "
      "screen=3CAA50 uneven=20 spill=40 soft-edge=1\n"
      "format subtype=RGB32 size=1280x720 rate=30/1\n";
  return OnCamera(config, options, [&](const wchar_t* link, const TPictorFormat&, TPictorD3D9PreviewImage* background) {
    Shot keyed;
    TPictorD3D9Preview preview;
    TPictorD3D9PreviewChromaKeyingParams params;
    if (!preview.StartPreview(link, 0, false, background, &params, OnKeyedFrame, &keyed)) return false;
    WaitForFrames(keyed, 2);
    unsigned int colour = 0;
    if (!preview.SampleKeyColor(&colour)) {
      std::printf("  no screen found in the picture\n");
      return false;
    }
    std::printf("  sampled key colour %06X\n", colour);
    preview.SetChromaKeyingColor(rbcCustom, colour);
    WaitForFrames(keyed, 3);
    bool ok = Save(options.outputDir + "/realscreen-options-off.png", keyed);
    preview.SetSpillSuppression(1.0f);
    preview.SetEdgeChoke(1);
    WaitForFrames(keyed, 3);
    return Save(options.outputDir + "/realscreen-spill1-choke1.png", keyed) && ok;
  });
}

// How many composites have come so far, and at what rate.
int Count(Shot& shot)
{
  std::lock_guard<std::mutex> lock(shot.mutex);
  return shot.count;
}
double Rate(Shot& shot)
{
  std::lock_guard<std::mutex> lock(shot.mutex);
  return shot.count > 1 ? (shot.count - 1) / (shot.lastSeconds - shot.firstSeconds) : 0.0;
}

bool RunSoftwarePreview(const DemoOptions& options)
{
  // A 1080p green screen from the virtual camera; with a real camera its first format.
  const char* config =
      "camera name=\"Green Screen 1080p\" link=\\\\?\\virtualcam#green-1080p pattern=greenscreen\n"
      "format subtype=RGB32 size=1920x1080 rate=30/1\n";
  return OnCamera(
      config, options, [&](const wchar_t* link, const TPictorFormat& format, TPictorD3D9PreviewImage* background) {
        const DWORD runMs = DWORD(options.seconds > 0 ? options.seconds : 1) * 1000;
        bool ok = true;
        const struct {
          TPictorRenderer renderer;
          const char* name;
          const char* png;
        } runs[] = {{prSoftware, "software", "/preview-software-1080p.png"},
                    {prDirect3D9, "Direct3D 9", "/preview-direct3d9-1080p.png"}};
        for (const auto& run : runs) {
          Shot keyed;
          TPictorD3D9Preview preview;
          preview.SetRenderer(run.renderer);
          TPictorD3D9PreviewChromaKeyingParams params;
          if (!preview.StartPreview(link, 0, false, background, &params, OnKeyedFrame, &keyed)) {
            std::printf("  %s: StartPreview failed (see the log)\n", run.name);
            ok = false;
            continue;
          }
          Sleep(runMs);
          // The rate before the picture is saved: saving holds up the frames meanwhile.
          std::printf("  %ux%u keyed preview, %s renderer: %d frames, %.1f frames/s (the camera gives 30)\n",
                      format.Width, format.Height, run.name, Count(keyed), Rate(keyed));
          ok &= Count(keyed) > 0;
          ok &= Save(options.outputDir + run.png, keyed);
        }
        return ok;
      });
}

bool RunPerson(const DemoOptions& options)
{
  // A photograph of a person (Debian's public-domain astronaut.png) as the virtual camera's
  // picture, with a sensor's grain; with a real camera, whoever is in front of it.
  const char* config =
      "camera name=\"Person\" link=\\\\?\\virtualcam#person noise=4 "
      "pattern=picture:Z:/usr/lib/python3/dist-packages/skimage/data/astronaut.png\n"
      "format subtype=RGB32 size=1280x720 rate=30/1\n";
  return OnCamera(config, options,
                  [&](const wchar_t* link, const TPictorFormat& format, TPictorD3D9PreviewImage* background) {
                    Shot keyed;
                    TPictorD3D9Preview preview;
                    preview.SetRenderer(prSoftware);
                    const double start = Seconds();
                    if (!preview.SetKeyingMode(kmPerson)) {
                      std::printf(
                          "  person keying unavailable: onnxruntime.dll or the model is not beside "
                          "Pictor.dll (see the log)\n");
                      return false;
                    }
                    std::printf("  inference runtime and model loaded in %.0f ms\n", 1000.0 * (Seconds() - start));
                    if (!preview.StartPreview(link, 0, false, background, nullptr, OnKeyedFrame, &keyed)) return false;
                    WaitForFrames(keyed, 30);
                    std::printf(
                        "  %ux%u person keying, software renderer: %d frames, %.1f frames/s (the camera "
                        "gives 30)\n",
                        format.Width, format.Height, Count(keyed), Rate(keyed));
                    bool ok = Save(options.outputDir + "/person-keyed.png", keyed);
                    preview.SetEdgeChoke(2);
                    preview.SetOpacity(220);
                    WaitForFrames(keyed, 5);
                    return Save(options.outputDir + "/person-choke2-opacity220.png", keyed) && ok;
                  });
}

}  // namespace

PICTOR_DEMO_SECTION(46, "person",
                    "a photograph's person kept over a generated background without a screen (person keying), as PNG",
                    RunPerson);
PICTOR_DEMO_SECTION(40, "preview", "keyed preview of the green-screen camera over a generated background, as PNG",
                    RunPreview);
PICTOR_DEMO_SECTION(45, "realscreen",
                    "a realistic screen keyed with its sampled colour, without and with spill suppression and choke",
                    RunRealScreen);
PICTOR_DEMO_SECTION(42, "softpreview",
                    "a 1080p keyed preview with the software renderer and with Direct3D 9, their rates, as PNG",
                    RunSoftwarePreview);
