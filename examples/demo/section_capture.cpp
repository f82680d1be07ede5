// Capturing: a few seconds from one camera in a chosen format, the first and the last
// frame saved as PNG, and what reached the host: frames delivered, frames dropped on
// the way (when the camera can tell how many it produced) and the measured rate.
#include "Demo.h"

#include "Pictor.h"

#include <windows.h>
#include <objbase.h>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct CapturedFrames {
  std::mutex mutex;
  int count = 0;
  DWORD firstTick = 0, lastTick = 0;
  unsigned width = 0, height = 0;
  std::vector<unsigned char> first, last;  // RGBA, top row first
};

// BGRA rows in either order -> RGBA top-down, opaque (the PNG needs no alpha games).
void ToPNGOrder(const unsigned char* pixels, unsigned width, unsigned height, bool topDown,
                std::vector<unsigned char>& out)
{
  out.resize(size_t(width) * height * 4);
  for (unsigned y = 0; y < height; ++y) {
    const unsigned char* row = pixels + size_t(topDown ? y : height - 1 - y) * width * 4;
    unsigned char* dst = out.data() + size_t(y) * width * 4;
    for (unsigned x = 0; x < width; ++x) {
      dst[4 * x + 0] = row[4 * x + 2];
      dst[4 * x + 1] = row[4 * x + 1];
      dst[4 * x + 2] = row[4 * x + 0];
      dst[4 * x + 3] = 255;
    }
  }
}

bool OnFrame(unsigned width, unsigned height, bool topDown, unsigned char* pixels, void* context)
{
  auto* frames = static_cast<CapturedFrames*>(context);
  std::lock_guard<std::mutex> lock(frames->mutex);
  frames->width = width;
  frames->height = height;
  ToPNGOrder(pixels, width, height, topDown, frames->count == 0 ? frames->first : frames->last);
  if (frames->count == 0) frames->firstTick = GetTickCount();
  frames->lastTick = GetTickCount();
  ++frames->count;
  return true;
}

std::string Narrow(const wchar_t* text)
{
  char buffer[512] = {};
  WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer - 1, nullptr, nullptr);
  return buffer;
}

bool SavePNG(const std::string& path, unsigned width, unsigned height, const std::vector<unsigned char>& rgba)
{
  if (rgba.empty() || !stbi_write_png(path.c_str(), int(width), int(height), 4, rgba.data(), int(width * 4))) {
    std::printf("  could not write %s\n", path.c_str());
    return false;
  }
  std::printf("  saved %s\n", path.c_str());
  return true;
}

bool RunCapture(const DemoOptions& options)
{
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  TPictor pictor;
  TPictorDescr camera;
  bool ok = false;
  if (ChooseCamera(pictor, options.camera, &camera)) {
    const int formatIndex = options.format < 0 ? 0 : options.format;
    const TPictorFormat format = pictor.GetPictorFormatByIndex(camera.SymbolicLink, formatIndex);
    ok = CaptureAndSave(pictor, camera, options.camera, format, formatIndex, options.seconds,
                        options.outputDir + "/capture-first.png", options.outputDir + "/capture-last.png");
  }
  CoUninitialize();
  return ok;
}

}  // namespace

bool ChooseCamera(TPictor& pictor, int index, TPictorDescr* camera)
{
  std::vector<TPictorDescr> cameras(16);
  const int cameraCount = pictor.EnumerateWebCameras(cameras.data(), int(cameras.size()));
  if (index < 0 || index >= cameraCount || index >= int(cameras.size())) {
    std::printf("  camera %d does not exist (%d found)\n", index, cameraCount);
    return false;
  }
  *camera = cameras[index];
  return true;
}

bool CaptureAndSave(TPictor& pictor, const TPictorDescr& camera, int cameraIndex, const TPictorFormat& format,
                    int formatIndex, int seconds, const std::string& firstPng, const std::string& lastPng)
{
  std::printf("  camera %d \"%s\", format %d: %s %ux%u at %u/%u\n", cameraIndex, Narrow(camera.FriendlyName).c_str(),
              formatIndex, Narrow(format.SubTypeName).c_str(), format.Width, format.Height, format.FrameRate,
              format.FrameRateLow);

  // The virtual camera (a stand-in mf.dll) counts the frames it produced; a real
  // camera cannot tell us.
  typedef LONG(WINAPI * FrameCountFn)(const wchar_t* symbolicLink);
  HMODULE mf = GetModuleHandleW(L"mf.dll");
  auto frameCount =
      mf ? reinterpret_cast<FrameCountFn>(reinterpret_cast<void*>(GetProcAddress(mf, "VirtualCam_GetFrameCount")))
         : nullptr;
  const LONG producedBefore = frameCount ? frameCount(camera.SymbolicLink) : 0;

  CapturedFrames frames;
  if (!pictor.StartCapture(camera.SymbolicLink, format, true, OnFrame, &frames)) {
    std::printf("  StartCapture failed (see the log)\n");
    return false;
  }
  Sleep(DWORD(seconds > 0 ? seconds : 1) * 1000);
  pictor.StopCapture();
  const LONG produced = frameCount ? frameCount(camera.SymbolicLink) - producedBefore : -1;

  bool ok = frames.count > 0;
  std::printf("  frames delivered: %d\n", frames.count);
  if (produced >= 0)
    std::printf("  frames dropped:   %ld of %ld the camera produced\n", long(produced - frames.count), long(produced));
  else
    std::printf("  frames dropped:   unknown (the camera does not count its frames)\n");
  if (frames.count > 1) {
    const double elapsed = (frames.lastTick - frames.firstTick) / 1000.0;
    std::printf("  measured rate:    %.1f frames/s\n", elapsed > 0 ? (frames.count - 1) / elapsed : 0.0);
  }
  if (ok) {
    ok &= SavePNG(firstPng, frames.width, frames.height, frames.first);
    if (frames.count > 1 && !lastPng.empty()) ok &= SavePNG(lastPng, frames.width, frames.height, frames.last);
  }
  return ok;
}

PICTOR_DEMO_SECTION(30, "capture", "capture a few seconds, save the first and last frame as PNG", RunCapture);
