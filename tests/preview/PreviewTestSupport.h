// The preview's Wine tests' own support (beside tests/support/HostTest.h): white-box access,
// a host callback that keeps the frames, test pictures, comparison against the CPU model.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "PictorD3D9Preview.h"
#include "window/PictorD3D9PreviewWindow.h"
#include "tests/support/CompositionReference.h"

class TPictorD3D9PreviewTestAccess {
 public:
  static void SetCaptureFormat(TPictorD3D9Preview& p, unsigned int width, unsigned int height)
  {
    p.captureFormat = TPictorFormat();
    p.captureFormat.Width = width;
    p.captureFormat.Height = height;
    p.captureFormat.FrameSize = width * height;
  }
  static bool InitD3D9(TPictorD3D9Preview& p) { return p.InitD3D9(); }
  static bool Frame(TPictorD3D9Preview& p, unsigned int width, unsigned int height, unsigned char* pixels,
                    bool topDown = false)
  {
    return p.PictorImageReadyProc(width, height, pixels, topDown);
  }
  static void SetHost(TPictorD3D9Preview& p, TPreviewImageReadyProc callback, void* userData)
  {
    p.pHostImageReady = callback;
    p.pHostUserData = userData;
  }
  static const TPictorD3D9PreviewChromaKeyingParams* Params(TPictorD3D9Preview& p) { return p.pChromaKeyingParams; }
  static bool HasBackground(TPictorD3D9Preview& p) { return p.pBackgroundBitmap != nullptr; }
  static IDirect3D9Ex* D3D9(TPictorD3D9Preview& p) { return p.pD3D9; }
  static IDirect3DDevice9Ex* Device(TPictorD3D9Preview& p) { return p.pD3D9Device; }
  static TPictor* Camera(TPictorD3D9Preview& p) { return p.pCamera; }
  static HWND Window(TPictorD3D9Preview& p) { return p.pPreviewWindow->GetHandle(); }
  static IDirect3DPixelShader9* Shader(TPictorD3D9Preview& p) { return p.pD3D9PixelShaderBlur7x7KernelFilterD3D9; }
};

namespace previewtest {

using Access = TPictorD3D9PreviewTestAccess;

// Keeps every composited frame the preview delivers, cut to the capture format's size.
struct FrameSink {
  unsigned int formatWidth = 0, formatHeight = 0;
  std::mutex lock;
  std::condition_variable arrived;
  std::vector<TReferenceImage> frames;
  unsigned int firstWidth = 0, lastWidth = 0, lastHeight = 0, lastPitch = 0;
  void (*inside)(FrameSink&) = nullptr;  // runs inside the callback, after the copy
  void* context = nullptr;

  static bool Callback(unsigned int width, unsigned int height, unsigned int pitch, unsigned char* pixels,
                       void* userData)
  {
    FrameSink& sink = *static_cast<FrameSink*>(userData);
    {
      std::lock_guard<std::mutex> guard(sink.lock);
      TReferenceImage image(sink.formatWidth, sink.formatHeight);
      for (unsigned int y = 0; y < sink.formatHeight; ++y)
        std::memcpy(image.Pixel(0, y), pixels + size_t(y) * pitch, size_t(sink.formatWidth) * 4);
      if (sink.frames.empty()) sink.firstWidth = width;
      sink.frames.push_back(std::move(image));
      sink.lastWidth = width;
      sink.lastHeight = height;
      sink.lastPitch = pitch;
    }
    sink.arrived.notify_all();
    if (sink.inside) sink.inside(sink);
    return false;  // the preview ignores the result
  }
  TReferenceImage Last()
  {
    std::lock_guard<std::mutex> guard(lock);
    return frames.empty() ? TReferenceImage() : frames.back();
  }
  size_t Count()
  {
    std::lock_guard<std::mutex> guard(lock);
    return frames.size();
  }
  // Generous by default: waiting costs nothing when the frames come.
  bool WaitFor(size_t count, int timeoutMs = 30000)
  {
    std::unique_lock<std::mutex> guard(lock);
    return arrived.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return frames.size() >= count; });
  }
};

// Frames and host images are held in TReferenceImage too, rows in stored order: for a
// camera frame the first stored row is the bottom of the picture.
using Frame = TReferenceImage;

// A key-coloured field (green, or blue) with a warm subject and a soft edge, and noise in
// every byte, the fourth included; reproducible.
inline Frame KeyScene(unsigned int width, unsigned int height, uint32_t seed, bool keyIsBlue = false)
{
  // Red, green, blue: base and spread for the key, the subject and its edge (half key,
  // half subject: some of these are keyed, some are not).
  static const uint32_t kBase[3][3] = {{20, 170, 30}, {180, 110, 80}, {110, 150, 60}};
  static const uint32_t kSpread[3][3] = {{30, 70, 40}, {50, 40, 40}, {40, 40, 30}};
  Frame frame(width, height);
  uint32_t state = seed;
  for (unsigned int y = 0; y < height; ++y)
    for (unsigned int x = 0; x < width; ++x) {
      state = state * 1664525u + 1013904223u;
      const uint32_t noise = state >> 8;
      const bool subject = x > width / 4 && x < width * 3 / 4 && y > height / 5 && y < height * 4 / 5;
      const int kind = !subject ? 0 : (x == width / 4 + 1 || y == height / 5 + 1) ? 2 : 1;
      uint32_t c[3];
      for (int i = 0; i < 3; ++i) c[i] = kBase[kind][i] + (noise >> (8 * i)) % kSpread[kind][i];
      if (keyIsBlue) std::swap(c[1], c[2]);
      state = state * 1664525u + 1013904223u;  // the fourth byte from a step of its own
      frame.SetArgb(x, y, (state >> 24) << 24 | c[0] << 16 | c[1] << 8 | c[2]);
    }
  return frame;
}

inline Frame GradientPicture(unsigned int width, unsigned int height)
{
  Frame frame(width, height);
  for (unsigned int y = 0; y < height; ++y)
    for (unsigned int x = 0; x < width; ++x)
      frame.SetArgb(x, y, 0xFF000000u | x * 255 / (width - 1) << 16 | y * 255 / (height - 1) << 8 | (x + y) % 256);
  return frame;
}

// The texture the preview's upload makes of a frame (reversed rows), over `previous`.
inline TReferenceImage Uploaded(const Frame& frame, TReferenceImage previous)
{
  ReferenceLoadTexture(previous, frame.Pixels.data(), frame.Height, frame.Width * 4);
  return previous;
}

// Every channel within `tolerance`; reports the first difference.
inline ::testing::AssertionResult ImagesNear(const TReferenceImage& actual, const TReferenceImage& expected,
                                             int tolerance = 1)
{
  if (actual.Width != expected.Width || actual.Height != expected.Height)
    return ::testing::AssertionFailure() << "size " << actual.Width << "x" << actual.Height;
  int bad = 0;
  char first[80] = "";
  for (unsigned int y = 0; y < actual.Height; ++y)
    for (unsigned int x = 0; x < actual.Width; ++x)
      for (int c = 0; c < 4; ++c)
        if (std::abs(int(actual.Pixel(x, y)[c]) - int(expected.Pixel(x, y)[c])) > tolerance) {
          if (++bad == 1)
            std::snprintf(first, sizeof first, ", first at (%u,%u): got %08X, expected %08X", x, y,
                          unsigned(actual.Argb(x, y)), unsigned(expected.Argb(x, y)));
          break;
        }
  if (!bad) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << bad << " pixels differ by more than " << tolerance << first;
}

}  // namespace previewtest
