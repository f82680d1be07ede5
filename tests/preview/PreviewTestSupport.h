// The preview's Wine tests' own support (beside tests/support/HostTest.h and
// CompositionScenes.h): white-box access, a host callback that keeps the frames, the upload.
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
#include "tests/support/CompositionScenes.h"

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
  static bool InitSoftware(TPictorD3D9Preview& p) { return p.InitSoftware(); }
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

// The texture the preview's upload makes of a frame (reversed rows), over `previous`.
inline TReferenceImage Uploaded(const Frame& frame, TReferenceImage previous)
{
  ReferenceLoadTexture(previous, frame.Pixels.data(), frame.Height, frame.Width * 4);
  return previous;
}

}  // namespace previewtest
