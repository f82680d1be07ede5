// Shared pieces of the preview's Wine tests: white-box access to a preview, a host
// callback that keeps the composited frames, test pictures and a tolerant comparison
// against the CPU model of the composition.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "PictorD3D9Preview.h"
#include "capture/FPSCalculator.h"
#include "preview/CompositionReference.h"

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
  static bool Frame(TPictorD3D9Preview& p, unsigned int width, unsigned int height, unsigned char* pixels)
  {
    return p.PictorImageReadyProc(width, height, pixels);
  }
  static bool Thunk(TPictorD3D9Preview& p, unsigned int width, unsigned int height, bool topDown,
                    unsigned char* pixels)
  {
    return TPictorD3D9Preview::PreviewImageReadyThunk(width, height, topDown, pixels, &p);
  }
  static void SetHost(TPictorD3D9Preview& p, TPreviewImageReadyProc callback, void* userData)
  {
    p.pHostImageReady = callback;
    p.pHostUserData = userData;
  }
  static void SetParams(TPictorD3D9Preview& p, const TPictorD3D9PreviewChromaKeyingParams& params)
  {
    delete p.pChromaKeyingParams;
    p.pChromaKeyingParams = new TPictorD3D9PreviewChromaKeyingParams(&params);
  }
  static void NewFPSCalculator(TPictorD3D9Preview& p)
  {
    delete p.pFPSCalculator;
    p.pFPSCalculator = new TFPSCalculator();
  }
  static TFPSCalculator* FPSCalculator(TPictorD3D9Preview& p) { return p.pFPSCalculator; }
  static DWORD LastFPSLogTick(TPictorD3D9Preview& p) { return p.lastFPSLogTick; }
  static DWORD GetVertexProcessingCaps(TPictorD3D9Preview& p) { return p.GetVertexProcessingCaps(); }
  static void LoadTexture(TPictorD3D9Preview& p, const unsigned char* source, unsigned int rows, int stride)
  {
    p.LoadTexture(p.pD3D9TextureSysMemY, p.pD3D9TextureVidMemY, source, rows, stride);
  }
  static const TPictorD3D9PreviewChromaKeyingParams* Params(TPictorD3D9Preview& p) { return p.pChromaKeyingParams; }
  static bool HasBackground(TPictorD3D9Preview& p) { return p.pBackgroundBitmap != nullptr; }
  static IDirect3D9Ex* D3D9(TPictorD3D9Preview& p) { return p.pD3D9; }
  static IDirect3DDevice9Ex* Device(TPictorD3D9Preview& p) { return p.pD3D9Device; }
  static IDirect3DSurface9* RenderTarget(TPictorD3D9Preview& p) { return p.pD3DRTSurface; }
  static IDirect3DTexture9* Staging(TPictorD3D9Preview& p) { return p.pD3D9TextureSysMemY; }
  static IDirect3DTexture9* CameraTexture(TPictorD3D9Preview& p) { return p.pD3D9TextureVidMemY; }
  static IDirect3DTexture9* BackgroundTexture(TPictorD3D9Preview& p) { return p.pD3D9BackgroundTextureVidMem; }
  static IDirect3DSurface9* ReadBack(TPictorD3D9Preview& p) { return p.pD3D9SurfaceVidMem; }
  static IDirect3DPixelShader9* Shader(TPictorD3D9Preview& p) { return p.pD3D9PixelShaderBlur7x7KernelFilterD3D9; }
  static TPictor* Camera(TPictorD3D9Preview& p) { return p.pCamera; }
  static const TPictorFormat& CaptureFormat(TPictorD3D9Preview& p) { return p.captureFormat; }
};

namespace previewtest {

using Access = TPictorD3D9PreviewTestAccess;

// Keeps every composited frame the preview delivers, cut to the capture format's size.
struct FrameSink {
  unsigned int formatWidth = 0;
  unsigned int formatHeight = 0;
  std::mutex lock;
  std::vector<TReferenceImage> frames;
  unsigned int lastWidth = 0, lastHeight = 0, lastPitch = 0;
  void (*inside)(FrameSink&) = nullptr;  // runs inside the callback, after the copy
  void* context = nullptr;

  static bool Callback(unsigned int width, unsigned int height, unsigned int pitch, unsigned char* pixels,
                       void* userData);
  TReferenceImage Last();
  size_t Count();
};

// Pixel helpers for frames in delivery order: first stored row is the bottom.
struct Frame {
  unsigned int width, height;
  std::vector<uint8_t> bytes;  // width * 4 per row
  Frame(unsigned int w, unsigned int h, uint32_t fill = 0);
  void Set(unsigned int x, unsigned int storedRow, uint32_t argb);
  uint32_t Get(unsigned int x, unsigned int storedRow) const;
  unsigned char* data() { return bytes.data(); }
};

// A green-screen scene: green with a warm subject and a few soft edges; reproducible.
Frame GreenScreenScene(unsigned int width, unsigned int height, uint32_t seed);
// Blue key colour version of the same layout.
Frame BlueScreenScene(unsigned int width, unsigned int height, uint32_t seed);
// An opaque picture with a gradient, used as background.
Frame GradientPicture(unsigned int width, unsigned int height);

// The texture the preview's upload makes of a frame (reversed rows), over `previous`.
TReferenceImage Uploaded(const Frame& frame, TReferenceImage previous);

// Every channel within `tolerance`; reports the first few differences.
::testing::AssertionResult ImagesNear(const TReferenceImage& actual, const TReferenceImage& expected,
                                      int tolerance = 1);

// The log lines received since the last Clear that start with `prefix`.
std::vector<std::string> LinesStartingWith(const std::vector<std::string>& lines, const std::string& prefix);

}  // namespace previewtest
