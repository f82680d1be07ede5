// Keyed preview benchmark. For 640x480 and 1280x720 it prints, from one run:
//  - the raw capture rate of the camera (TPictor alone) and the preview's delivered rate;
//  - the time one frame spends in keying, upload, draw and read-back, measured on the
//    preview's own device with frames handed in directly (no camera in the way).
// Then, for 1280x720 and 1920x1080 on an unpaced RGB32 camera, the keyed preview's rate
// with each renderer (Direct3D 9 and software) beside the raw capture rate, and the time
// of one software frame (key and composite) handed in directly, also in memcpys, with what
// spill suppression 1 and edge choke 1 add to it.
// Last, the software renderer on a camera paced at 30 frames/s in RGB32 at 1920x1080 and
// 3840x2160: the camera's raw rate, the rate the preview delivers and the frames it drops
// per 100 read.
// The virtual camera (test-double mf.dll beside this program) is set to a fast frame
// rate so that the preview's ceiling shows; with a real camera the first one is used.
#include "bench/BenchClock.h"
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Pictor.h"
#include "PictorD3D9Preview.h"
#include "kernels/ColorKey.h"
#include "tools/virtualcam/VirtualCamControl.h"

// White-box access to the stages of one frame.
class TPictorD3D9PreviewTestAccess {
 public:
  static bool SetUp(TPictorD3D9Preview& p, unsigned int width, unsigned int height, bool software = false)
  {
    p.captureFormat = TPictorFormat();
    p.captureFormat.Width = width;
    p.captureFormat.Height = height;
    return software ? p.InitSoftware() : p.InitD3D9();
  }
  static void Upload(TPictorD3D9Preview& p, const unsigned char* pixels, unsigned int width, unsigned int height)
  {
    p.LoadTexture(p.pD3D9TextureSysMemY, p.pD3D9TextureVidMemY, pixels, height, int(width * 4), false);
  }
  static void Frame(TPictorD3D9Preview& p, unsigned int width, unsigned int height, unsigned char* pixels)
  {
    p.PictorImageReadyProc(width, height, pixels, false);
  }
  static TPictorCaptureStatus CaptureStatus(TPictorD3D9Preview& p)
  {
    return p.pCamera ? p.pCamera->GetCaptureStatus() : TPictorCaptureStatus{};
  }
  static void ReadBack(TPictorD3D9Preview& p)
  {
    p.pD3D9Device->GetRenderTargetData(p.pD3DRTSurface, p.pD3D9SurfaceVidMem);
    D3DLOCKED_RECT locked;
    if (p.pD3D9SurfaceVidMem->LockRect(&locked, nullptr, D3DLOCK_READONLY) == D3D_OK)
      p.pD3D9SurfaceVidMem->UnlockRect();
  }
};
using Access = TPictorD3D9PreviewTestAccess;

namespace {

struct RateMeter {
  std::atomic<int> frames{0};
  std::atomic<double> first{0.0}, last{0.0};
  void Tick()
  {
    const double t = BenchSeconds();
    if (frames.fetch_add(1) == 0) first = t;
    last = t;
  }
  double Rate() const { return frames > 1 && last > first ? (frames - 1) / (last - first) : 0.0; }
};

bool OnRawFrame(unsigned int, unsigned int, bool, unsigned char*, void* context)
{
  static_cast<RateMeter*>(context)->Tick();
  return true;
}

bool OnPreviewFrame(unsigned int, unsigned int, unsigned int, unsigned char*, void* context)
{
  static_cast<RateMeter*>(context)->Tick();
  return true;
}

// A green-screen frame with a subject, like the virtual camera's.
std::vector<unsigned char> GreenScreen(unsigned int width, unsigned int height)
{
  std::vector<unsigned char> frame(size_t(width) * height * 4);
  for (unsigned int y = 0; y < height; ++y)
    for (unsigned int x = 0; x < width; ++x) {
      unsigned char* p = &frame[(size_t(y) * width + x) * 4];
      const int dx = int(x) - int(width / 2), dy = int(y) - int(height / 2);
      const bool subject = dx * dx + dy * dy < int(height * height / 9);
      p[0] = subject ? 90 : 40;
      p[1] = subject ? 120 : 200;
      p[2] = subject ? 200 : 30;
      p[3] = 255;
    }
  return frame;
}

int FindFormat(TPictor& pictor, const wchar_t* link, unsigned int width, unsigned int height)
{
  std::vector<TPictorFormat> formats(64);
  const int count = std::min(pictor.EnumerateCaptureFormats(link, formats.data(), int(formats.size())), 64);
  for (int i = 0; i < count; ++i)
    if (formats[i].Width == width && formats[i].Height == height) return i;
  return -1;
}

// The camera's format of that size and its raw capture rate (TPictor alone) into raw;
// -1 (after a line) when the camera has no such format.
int MeasureRawRate(const wchar_t* link, unsigned int width, unsigned int height, DWORD seconds, RateMeter& raw)
{
  TPictor pictor;
  const int formatIndex = FindFormat(pictor, link, width, height);
  if (formatIndex < 0) {
    std::printf("%ux%u: the camera has no such format\n", width, height);
    return -1;
  }
  if (pictor.StartCapture(link, formatIndex, false, OnRawFrame, &raw)) {
    Sleep(seconds * 1000);
    pictor.StopCapture();
  }
  return formatIndex;
}

struct StageTimes {
  double keying, upload, frame, readBack;
};

StageTimes MeasureStages(unsigned int width, unsigned int height, int iterations)
{
  StageTimes t{};
  TPictorD3D9Preview preview;
  if (!Access::SetUp(preview, width, height)) return t;
  preview.SetChromaKeyingColor(rbcGreen, 0);  // default keying
  std::vector<unsigned char> picture(size_t(width) * height * 4, 0x60);
  TPictorD3D9PreviewImage background(width, height, width * 4, picture.data(), false);
  preview.SetBackground(&background);

  const std::vector<unsigned char> original = GreenScreen(width, height);
  std::vector<unsigned char> frame = original;
  const TPictorD3D9PreviewChromaKeyingParams params;
  Access::Frame(preview, width, height, frame.data());  // warm-up
  for (int i = 0; i < iterations; ++i) {
    frame = original;
    double s = BenchSeconds();
    RemoveKeyColor(frame.data(), width, height, width * 4, params.Sensitivity, params.Smoothing, params.Opacity,
                   params.ColorType, params.CustomColor);
    t.keying += BenchSeconds() - s;
    s = BenchSeconds();
    Access::Upload(preview, frame.data(), width, height);
    t.upload += BenchSeconds() - s;
    frame = original;
    s = BenchSeconds();
    Access::Frame(preview, width, height, frame.data());
    t.frame += BenchSeconds() - s;
    s = BenchSeconds();
    Access::ReadBack(preview);
    t.readBack += BenchSeconds() - s;
  }
  t.keying /= iterations;
  t.upload /= iterations;
  t.frame /= iterations;
  t.readBack /= iterations;
  return t;
}

// Median time of one software frame (key, with spill suppression 1 and edge choke 1 when
// refined, and composite over a background, frames handed in directly) and of a memcpy of
// the frame, in milliseconds.
void SoftwareFrameMs(unsigned int width, unsigned int height, bool refined, int iterations, double* frameMs,
                     double* memcpyMs)
{
  *frameMs = *memcpyMs = 0.0;
  TPictorD3D9Preview preview;
  if (!Access::SetUp(preview, width, height, true)) return;
  preview.SetChromaKeyingColor(rbcGreen, 0);
  if (refined) {
    preview.SetSpillSuppression(1.0f);
    preview.SetEdgeChoke(1);
  }
  std::vector<unsigned char> picture(size_t(width) * height * 4, 0x60);
  TPictorD3D9PreviewImage background(width, height, width * 4, picture.data(), false);
  preview.SetBackground(&background);
  const std::vector<unsigned char> original = GreenScreen(width, height);
  std::vector<unsigned char> frame = original, copy(original.size());
  std::vector<double> frames, copies;
  Access::Frame(preview, width, height, frame.data());  // warm-up: the output's first touch
  for (int i = 0; i < iterations; ++i) {
    frame = original;
    double start = BenchSeconds();
    Access::Frame(preview, width, height, frame.data());
    frames.push_back(BenchSeconds() - start);
    start = BenchSeconds();
    std::memcpy(copy.data(), original.data(), original.size());
    copies.push_back(BenchSeconds() - start);
  }
  std::sort(frames.begin(), frames.end());
  std::sort(copies.begin(), copies.end());
  *frameMs = frames[frames.size() / 2] * 1e3;
  *memcpyMs = copies[copies.size() / 2] * 1e3;
}

// Runs a keyed preview of the camera's format with the renderer over a background, its
// frames counted by keyed, and calls whileRunning(preview) once it has started.
template <typename While>
void RunPreview(const wchar_t* link, int formatIndex, TPictorRenderer renderer, unsigned int width, unsigned int height,
                RateMeter& keyed, While whileRunning)
{
  TPictorD3D9Preview preview;
  preview.SetRenderer(renderer);
  TPictorD3D9PreviewChromaKeyingParams params;
  std::vector<unsigned char> picture(size_t(width) * height * 4, 0x60);
  TPictorD3D9PreviewImage background(width, height, width * 4, picture.data(), false);
  if (preview.StartPreview(link, formatIndex, false, &background, &params, OnPreviewFrame, &keyed))
    whileRunning(preview);
}

// Frames per second a keyed preview delivers on the camera's format with the renderer.
double PreviewRate(const wchar_t* link, int formatIndex, TPictorRenderer renderer, unsigned int width,
                   unsigned int height, DWORD seconds)
{
  RateMeter keyed;
  RunPreview(link, formatIndex, renderer, width, height, keyed, [&](TPictorD3D9Preview&) { Sleep(seconds * 1000); });
  return keyed.Rate();
}

void CompareRenderers(const wchar_t* link, DWORD seconds)
{
  std::printf("\nkeyed preview on an unpaced RGB32 camera (green screen), default keying over a background\n");
  std::printf("%-10s %10s %12s %12s %10s | %12s %8s %14s\n", "size", "raw fps", "Direct3D 9", "software", "sw / d3d",
              "sw frame ms", "memcpys", "options cost");
  const unsigned int sizes[][2] = {{1280, 720}, {1920, 1080}};
  for (const auto& size : sizes) {
    const unsigned int width = size[0], height = size[1];
    RateMeter raw;
    const int formatIndex = MeasureRawRate(link, width, height, seconds, raw);
    if (formatIndex < 0) continue;
    const double direct3D = PreviewRate(link, formatIndex, prDirect3D9, width, height, seconds);
    const double software = PreviewRate(link, formatIndex, prSoftware, width, height, seconds);
    char label[32];
    std::snprintf(label, sizeof label, "%ux%u", width, height);
    double frameMs, memcpyMs, refinedMs, refinedMemcpyMs;
    SoftwareFrameMs(width, height, false, 60, &frameMs, &memcpyMs);
    SoftwareFrameMs(width, height, true, 60, &refinedMs, &refinedMemcpyMs);
    const double copyMs = std::max(memcpyMs, 1e-9);
    std::printf("%-10s %10.1f %12.1f %12.1f %10.2f | %12.3f %8.2f %14.2f\n", label, raw.Rate(), direct3D, software,
                direct3D > 0 ? software / direct3D : 0.0, frameMs, frameMs / copyMs, (refinedMs - frameMs) / copyMs);
  }
}

// The software preview on a camera paced at 30 frames/s, after a second of warm-up: the
// camera's rate to TPictor alone, the frames/s the library read and the preview delivered,
// and the frames dropped (read but not delivered because the preview was still busy) per
// 100 read.
void PacedSoftwarePreview(const wchar_t* link, DWORD seconds)
{
  std::printf("\nsoftware preview on a paced 30/1 RGB32 camera (green screen), default keying over a background\n");
  std::printf("%-10s %10s %10s %10s %10s %14s\n", "size", "raw fps", "read fps", "preview", "dropped", "dropped / 100");
  const unsigned int sizes[][2] = {{1920, 1080}, {3840, 2160}};
  for (const auto& size : sizes) {
    const unsigned int width = size[0], height = size[1];
    RateMeter raw;
    const int formatIndex = MeasureRawRate(link, width, height, seconds, raw);
    if (formatIndex < 0) continue;
    RateMeter keyed;
    TPictorCaptureStatus before{}, after{};
    int framesBefore = 0, framesAfter = 0;
    double elapsed = 0.0;
    RunPreview(link, formatIndex, prSoftware, width, height, keyed, [&](TPictorD3D9Preview& preview) {
      Sleep(1000);
      before = Access::CaptureStatus(preview);
      framesBefore = keyed.frames;
      const double start = BenchSeconds();
      Sleep(seconds * 1000);
      after = Access::CaptureStatus(preview);
      framesAfter = keyed.frames;
      elapsed = BenchSeconds() - start;
    });
    const unsigned long long delivered = after.FramesDelivered - before.FramesDelivered;
    const unsigned long long dropped = after.FramesDropped - before.FramesDropped;
    const double read = double(delivered + dropped);
    char label[32];
    std::snprintf(label, sizeof label, "%ux%u", width, height);
    std::printf("%-10s %10.1f %10.1f %10.1f %10llu %14.2f\n", label, raw.Rate(), elapsed > 0 ? read / elapsed : 0.0,
                elapsed > 0 ? (framesAfter - framesBefore) / elapsed : 0.0, dropped,
                read > 0 ? 100.0 * double(dropped) / read : 0.0);
  }
}

}  // namespace

int main(int argc, char** argv)
{
  const DWORD seconds = argc > 1 ? DWORD(std::max(1, std::atoi(argv[1]))) : 3;
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);

  std::wstring link;
  if (HMODULE mf = GetModuleHandleW(L"mf.dll") ? GetModuleHandleW(L"mf.dll") : LoadLibraryW(L"mf.dll")) {
    auto configure =
        reinterpret_cast<VirtualCam_Configure_t>(reinterpret_cast<void*>(GetProcAddress(mf, "VirtualCam_Configure")));
    if (configure && configure("camera name=\"Bench green screen\" link=\"bench-green\" pattern=greenscreen\n"
                               "format subtype=YUY2 size=640x480 rate=240/1\n"
                               "format subtype=YUY2 size=1280x720 rate=240/1\n"
                               "camera name=\"Bench unpaced\" link=\"bench-unpaced\" pattern=greenscreen paced=0\n"
                               "format subtype=RGB32 size=1280x720 rate=30/1\n"
                               "format subtype=RGB32 size=1920x1080 rate=30/1\n"
                               "camera name=\"Bench paced\" link=\"bench-paced\" pattern=greenscreen\n"
                               "format subtype=RGB32 size=1920x1080 rate=30/1\n"
                               "format subtype=RGB32 size=3840x2160 rate=30/1\n",
                               nullptr, 0) == 0)
      link = L"bench-green";
  }
  if (link.empty()) {
    TPictor pictor;
    TPictorDescr cameras[8];
    if (pictor.EnumerateWebCameras(cameras, 8) < 1) {
      std::printf("preview-bench: no camera\n");
      return 1;
    }
    link = cameras[0].SymbolicLink;
  }

  std::printf("keyed preview, %lu s per measurement, default keying over a background\n", seconds);
  std::printf("%-10s %10s %10s %8s | %9s %9s %9s %9s %9s\n", "size", "raw fps", "preview", "ratio", "key ms",
              "upload ms", "draw ms", "readbk ms", "frame ms");
  const unsigned int sizes[][2] = {{640, 480}, {1280, 720}};
  for (const auto& size : sizes) {
    const unsigned int width = size[0], height = size[1];
    RateMeter raw;
    const int formatIndex = MeasureRawRate(link.c_str(), width, height, seconds, raw);
    if (formatIndex < 0) continue;
    const double keyedRate = PreviewRate(link.c_str(), formatIndex, prDirect3D9, width, height, seconds);
    const StageTimes t = MeasureStages(width, height, 60);
    const double draw = std::max(0.0, t.frame - t.keying - t.upload - t.readBack);
    char label[32];
    std::snprintf(label, sizeof label, "%ux%u", width, height);
    std::printf("%-10s %10.1f %10.1f %8.2f | %9.3f %9.3f %9.3f %9.3f %9.3f\n", label, raw.Rate(), keyedRate,
                raw.Rate() > 0 ? keyedRate / raw.Rate() : 0.0, t.keying * 1e3, t.upload * 1e3, draw * 1e3,
                t.readBack * 1e3, t.frame * 1e3);
  }
  std::printf("draw = whole frame - keying - upload - read-back (the draw includes the state set-up).\n");

  if (link == L"bench-green") {
    CompareRenderers(L"bench-unpaced", seconds);
    PacedSoftwarePreview(L"bench-paced", std::max<DWORD>(seconds, 5));
  }
  CoUninitialize();
  return 0;
}
