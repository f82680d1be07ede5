// Cameras and their capture formats: what a host shows in its camera and format pickers.
#include "Demo.h"

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Pictor.h"

namespace {

// Console-friendly copy of a wide text: ASCII kept, anything else as '?'.
std::string Printable(const wchar_t* text, size_t maxLength)
{
  std::string out;
  for (; *text && out.size() < maxLength; ++text) out += *text < 0x80 ? char(*text) : '?';
  if (*text) out += "...";
  return out;
}

std::string Rate(const TPictorFormat& f)
{
  char text[32];
  if (f.FrameRateLow == 0) return "?";
  if (f.FrameRate % f.FrameRateLow == 0) {
    std::snprintf(text, sizeof(text), "%u", f.FrameRate / f.FrameRateLow);
  } else {
    std::snprintf(text, sizeof(text), "%.2f", double(f.FrameRate) / f.FrameRateLow);
  }
  return std::string(text) + " fps";
}

bool RunCameras(const DemoOptions&)
{
  const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  bool ok = true;
  if (!TPictor::CanUseMFAPI()) {
    std::printf("Media Foundation is not usable on this system\n");
    ok = false;
  } else {
    TPictor pictor;
    const int count = pictor.GetWebCamerasCount();
    std::printf("%d camera(s)\n", count);
    std::vector<TPictorDescr> cameras(count > 0 ? count : 0);
    const int listed = count > 0 ? pictor.EnumerateWebCameras(cameras.data(), count) : 0;
    for (int c = 0; c < listed && c < count; ++c) {
      const TPictorDescr& camera = cameras[c];
      std::printf("\ncamera %d: %s\n  link: %s\n", c, Printable(camera.FriendlyName, 60).c_str(),
                  Printable(camera.SymbolicLink, 70).c_str());
      const int formatCount = pictor.GetCaptureFormatsCount(camera.SymbolicLink);
      std::vector<TPictorFormat> formats(formatCount > 0 ? formatCount : 0);
      const int got =
          formatCount > 0 ? pictor.EnumerateCaptureFormats(camera.SymbolicLink, formats.data(), formatCount) : 0;
      if (got == 0) {
        std::printf("  no format the library can deliver as RGB32\n");
        continue;
      }
      std::printf("  %5s  %11s  %10s  %7s  %s\n", "index", "size", "rate", "stride", "subtype");
      for (int i = 0; i < got; ++i) {
        const TPictorFormat& f = formats[i];
        char size[24];
        std::snprintf(size, sizeof(size), "%ux%u", f.Width, f.Height);
        std::printf("  %5d  %11s  %10s  %7d  %s\n", i, size, Rate(f).c_str(), static_cast<int>(f.DefaultStride),
                    Printable(f.SubTypeName, 40).c_str());
      }
    }
    ok = listed == count;
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return ok;
}

}  // namespace

PICTOR_DEMO_SECTION(10, "cameras", "every camera and every capture format it can deliver", RunCameras);
