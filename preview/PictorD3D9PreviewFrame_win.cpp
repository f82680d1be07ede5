// Per-frame composition of the preview, on the converter's thread: key on the CPU, then
// either upload, draw one quad through the pixel program over opaque black and read back
// (Direct3D), or compose on the CPU into the output the host reads (software); deliver.
#include "PictorD3D9Preview.h"

#include <algorithm>
#include <cmath>

#include "common/Ownership_win.h"
#include "kernels/AlignedBitmap.h"
#include "kernels/ColorKey.h"
#include "log/Log.h"
#include "log/LogTrace.h"
#include "media/FPSCalculator.h"
#include "preview/PictorD3D9PreviewState.h"

namespace {

// Pre-transformed vertex: D3DFVF_XYZRHW | D3DFVF_TEX1.
struct TQuadVertex {
  float x, y, z, rhw, u, v;
};
constexpr DWORD kQuadFVF = D3DFVF_XYZRHW | D3DFVF_TEX1;
static_assert(sizeof(TQuadVertex) == 24, "vertex stride");

constexpr char kName[] = "TPictorD3D9Preview::PictorImageReadyProc";

// Names the composing thread for the length of a frame (see OnFrameThread).
class TFrameThreadMark {
 public:
  explicit TFrameThreadMark(std::atomic<DWORD>& slot) : slot(slot) { slot = GetCurrentThreadId(); }
  ~TFrameThreadMark() { slot = 0; }
  TFrameThreadMark(const TFrameThreadMark&) = delete;
  TFrameThreadMark& operator=(const TFrameThreadMark&) = delete;

 private:
  std::atomic<DWORD>& slot;
};

// The read-back surface's lock: unlocked again when the frame ends, however it ends.
class TSurfaceLock {
 public:
  explicit TSurfaceLock(IDirect3DSurface9* surface) : surface(surface) {}
  ~TSurfaceLock() { Unlock(); }
  TSurfaceLock(const TSurfaceLock&) = delete;
  TSurfaceLock& operator=(const TSurfaceLock&) = delete;

  HRESULT Lock(D3DLOCKED_RECT* locked)
  {
    const HRESULT hr = surface->LockRect(locked, nullptr, D3DLOCK_READONLY);
    isLocked = hr == D3D_OK;
    return hr;
  }
  HRESULT Unlock()
  {
    if (!isLocked) return D3D_OK;
    isLocked = false;
    return surface->UnlockRect();
  }

 private:
  IDirect3DSurface9* surface;
  bool isLocked = false;
};

// Opens the frame's scene on the render target, cleared to opaque black. False when the
// frame has to be given up.
bool BeginFrame(IDirect3DDevice9Ex* device, IDirect3DSurface9* target)
{
  HRESULT hr;
  if ((hr = device->SetRenderTarget(0, target)) != D3D_OK) {
    LogError("%s SetRenderTarget error %d", kName, static_cast<int>(hr));
    return false;
  }
  if ((hr = device->BeginScene()) != D3D_OK) {
    LogError("%s BeginScene error %d", kName, static_cast<int>(hr));
    return false;
  }
  if ((hr = device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_ARGB(255, 0, 0, 0), 0.0f, 0)) != D3D_OK) {
    // The scene is closed before the frame is given up, so the next BeginScene works.
    LogError("%s Clear error %d", kName, static_cast<int>(hr));
    device->EndScene();
    return false;
  }
  return true;
}

// The fixed-function and sampler states the quad is drawn with.
void SetDrawStates(IDirect3DDevice9Ex* device)
{
  HRESULT hr;
  if ((hr = device->SetFVF(kQuadFVF)) != D3D_OK) LogError("%s unable to set D3DFVF_TL %d", kName, static_cast<int>(hr));
  if ((hr = device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE)) != D3D_OK)
    LogError("%s unable to set D3DRS_ALPHABLENDENABLE %d", kName, static_cast<int>(hr));
  if ((hr = device->SetVertexShader(nullptr)) != D3D_OK)
    LogError("%s unable to set SetVertexShader %x", kName, static_cast<unsigned>(hr));
  static const struct {
    D3DRENDERSTATETYPE state;
    DWORD value;
    const char* message;
  } kStates[] = {
      {D3DRS_LIGHTING, FALSE, "%s unable to set D3DRS_LIGHTING %x"},
      {D3DRS_FOGENABLE, FALSE, "%s unable to set D3DRS_FOGENABLE %x"},
      {D3DRS_ZENABLE, FALSE, "%s unable to set D3DRS_ZENABLE %x"},
      {D3DRS_ALPHATESTENABLE, FALSE, "%s unable to set D3DRS_ALPHATESTENABLE %x"},
      {D3DRS_CULLMODE, D3DCULL_NONE, "%s unable to set D3DRS_CULLMODE %x"},
      {D3DRS_FILLMODE, D3DFILL_SOLID, "%s unable to set D3DRS_FILLMODE %x"},
      // The scissor rectangle is the one the device holds for the render target.
      {D3DRS_SCISSORTESTENABLE, TRUE, "%s unable to set D3DRS_SCISSORTESTENABLE %x"},
      {D3DRS_ZWRITEENABLE, FALSE, "%s unable to set D3DRS_ZWRITEENABLE %x"},
      {D3DRS_MULTISAMPLEANTIALIAS, FALSE, "%s unable to set D3DRS_MULTISAMPLEANTIALIAS %x"},
  };
  for (const auto& s : kStates)
    if ((hr = device->SetRenderState(s.state, s.value)) != D3D_OK)
      LogError(s.message, kName, static_cast<unsigned>(hr));

  static const struct {
    D3DSAMPLERSTATETYPE state;
    DWORD value;
    const char* message;
  } kSamplerStates[] = {
      {D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP, "%s unable to set SetSamplerState D3DSAMP_ADDRESSU %x"},
      {D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP, "%s unable to set SetSamplerState D3DSAMP_ADDRESSV %x"},
      {D3DSAMP_MINFILTER, D3DTEXF_NONE, "%s unable to set SetSamplerState D3DSAMP_MINFILTER %x"},
      {D3DSAMP_MAGFILTER, D3DTEXF_NONE, "%s unable to set SetSamplerState D3DSAMP_MAGFILTER %x"},
  };
  for (DWORD sampler = 0; sampler < 2; ++sampler)
    for (const auto& s : kSamplerStates)
      if ((hr = device->SetSamplerState(sampler, s.state, s.value)) != D3D_OK)
        LogError(s.message, kName, static_cast<unsigned>(hr));
}

// The pixel program and its inputs: the keyed frame in sampler 0, the background (when
// there is one) in sampler 1, and one constant {background present, width, height, 0}.
void SetPixelProgram(IDirect3DDevice9Ex* device, IDirect3DPixelShader9* program, IDirect3DTexture9* frame,
                     bool hasBackground, IDirect3DTexture9* background, unsigned int width, unsigned int height)
{
  HRESULT hr;
  if ((hr = device->SetTexture(0, frame)) != D3D_OK)
    LogError("%s pD3D9TextureVidMem error %x", kName, static_cast<unsigned>(hr));

  float constants[4] = {0.0f, static_cast<float>(width), static_cast<float>(height), 0.0f};
  if (hasBackground) {
    if ((hr = device->SetTexture(1, background)) != D3D_OK)
      LogError("%s pD3D9CustomBackgroundTextureVidMem error %x", kName, static_cast<unsigned>(hr));
    constants[0] = 1.0f;
  }
  if ((hr = device->SetPixelShaderConstantF(0, constants, 1)) != D3D_OK)
    LogError("%s GetPixelShaderConstantF webcam error %x", kName, static_cast<unsigned>(hr));
  if ((hr = device->SetPixelShader(program)) != D3D_OK)
    LogError("%s unable to set SetPixelShader pD3D9PixelShaderBlur7x7KernelFilter Software %x", kName,
             static_cast<unsigned>(hr));
}

// Blends the frame's quad over the cleared target, closes the scene and copies the target
// into the read-back surface.
void DrawFrame(IDirect3DDevice9Ex* device, IDirect3DSurface9* target, IDirect3DSurface9* readBack, unsigned int width,
               unsigned int height)
{
  HRESULT hr;
  if ((hr = device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE)) != D3D_OK)
    LogError("%s unable to set D3DRS_ALPHABLENDENABLE %d", kName, static_cast<int>(hr));
  if ((hr = device->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD)) != D3D_OK)
    LogError("%s unable to set D3DRS_BLENDOP %d", kName, static_cast<int>(hr));
  if ((hr = device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA)) != D3D_OK)
    LogError("%s unable to set D3DRS_SRCBLEND %d", kName, static_cast<int>(hr));
  if ((hr = device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA)) != D3D_OK)
    LogError("%s unable to set D3DRS_DESTBLEND %d", kName, static_cast<int>(hr));

  const float w = static_cast<float>(width);
  const float h = static_cast<float>(height);
  // Offsetting by half a pixel puts every pixel centre on a texel centre.
  const TQuadVertex quad[4] = {
      {-0.5f, h - 0.5f, 0.0f, 1.0f, 0.0f, 1.0f},
      {-0.5f, -0.5f, 0.0f, 1.0f, 0.0f, 0.0f},
      {w - 0.5f, h - 0.5f, 0.0f, 1.0f, 1.0f, 1.0f},
      {w - 0.5f, -0.5f, 0.0f, 1.0f, 1.0f, 0.0f},
  };
  if ((hr = device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(TQuadVertex))) != D3D_OK)
    LogError("%s unable to DrawPrimitiveUP %d", kName, static_cast<int>(hr));
  if ((hr = device->EndScene()) != D3D_OK) LogError("%s unable to EndScene %d", kName, static_cast<int>(hr));
  if ((hr = device->GetRenderTargetData(target, readBack)) != D3D_OK)
    LogError("%s GetRenderTargetData error %d", kName, static_cast<int>(hr));
}

}  // namespace

bool TPictorD3D9Preview::PreviewImageReadyThunk(unsigned int width, unsigned int height, bool topDown,
                                                unsigned char* pixels, void* context)
{
  return static_cast<TPictorD3D9Preview*>(context)->PictorImageReadyProc(width, height, pixels, topDown);
}

bool TPictorD3D9Preview::PictorImageReadyProc(unsigned int width, unsigned int height, unsigned char* pixels,
                                              bool topDown)
{
  const TCriticalSectionHold hold(previewLock);
  const TLogScope scope(kName, TLogScope::TLevel::Verbose);
  if (!pState) return false;
  const TFrameThreadMark mark(pState->frameThread);
  if (pState->activeRenderer == prSoftware) return ComposeInSoftware(width, height, pixels, topDown);

  IDirect3DDevice9Ex* device = pD3D9Device;
  // The failures that end a frame; everything else is logged and the frame goes on.
  if (!device || !pD3DRTSurface || !pD3D9TextureSysMemY || !pD3D9TextureVidMemY || !pD3D9SurfaceVidMem) {
    // Only a frame delivered without a finished device set-up gets here.
    LogError("%s no Direct3D device", kName);
    return false;
  }
  D3DSURFACE_DESC surface = {};
  HRESULT hr = pD3D9SurfaceVidMem->GetDesc(&surface);
  if (hr != D3D_OK) {
    LogError("%s GetDesc error %d", kName, static_cast<int>(hr));
    return false;
  }
  if (DropsFrameOfAnotherSize(width, height, surface.Width, surface.Height, "surfaces")) return false;
  if (!BeginFrame(device, pD3DRTSurface)) return false;
  SetDrawStates(device);
  KeyFrame(pixels, width, height, topDown);
  LoadTexture(pD3D9TextureSysMemY, pD3D9TextureVidMemY, pixels, height, static_cast<int>(width * 4), topDown);
  SetPixelProgram(device, pD3D9PixelShaderBlur7x7KernelFilterD3D9, pD3D9TextureVidMemY, pBackgroundBitmap != nullptr,
                  pD3D9BackgroundTextureVidMem, width, height);
  DrawFrame(device, pD3DRTSurface, pD3D9SurfaceVidMem, width, height);

  D3DLOCKED_RECT locked = {};
  TSurfaceLock readBack(pD3D9SurfaceVidMem);
  hr = readBack.Lock(&locked);
  if (hr != D3D_OK) {
    LogError("%s LockRect error %d", kName, static_cast<int>(hr));
    return false;
  }
  Deliver(width, height, static_cast<unsigned int>(locked.Pitch), static_cast<unsigned char*>(locked.pBits));
  if ((hr = readBack.Unlock()) != D3D_OK) LogError("%s UnlockRect error %d", kName, static_cast<int>(hr));
  return true;
}

bool TPictorD3D9Preview::ComposeInSoftware(unsigned int width, unsigned int height, unsigned char* pixels, bool topDown)
{
  const TQDAlignedBitmap32* output = pState->softOutput.get();
  if (!output) {
    // Only a frame delivered without a finished set-up gets here.
    LogError("%s no software output", kName);
    return false;
  }
  if (DropsFrameOfAnotherSize(width, height, output->Width, output->Height, "output")) return false;
  KeyFrame(pixels, width, height, topDown);
  TSoftComposeFrame frame;
  frame.camera = {pixels, width, height, width * 4, !topDown};
  // The private copy of the background is stored bottom row first.
  TSoftPlane background;
  if (pBackgroundBitmap) {
    background = {pBackgroundBitmap->Pixels, pBackgroundBitmap->Width, pBackgroundBitmap->Height,
                  pBackgroundBitmap->Stride, true};
    frame.background = &background;
  }
  frame.target = {output->Pixels, output->Stride, false};
  if (!pState->softCompositor.ComposeRows(frame, 0, height, 0)) {
    LogError("%s the software compositor refused the frame", kName);
    return false;
  }
  Deliver(width, height, output->Stride, output->Pixels);
  return true;
}

bool TPictorD3D9Preview::DropsFrameOfAnotherSize(unsigned int width, unsigned int height, unsigned int outputWidth,
                                                 unsigned int outputHeight, const char* output)
{
  // The host reads width x height pixels at the output's pitch, so a frame of another
  // size than the output (a camera that changed its size) is dropped.
  if (width == outputWidth && height == outputHeight) return false;
  if (pState->framesOfAnotherSize++ == 0)
    LogError("%s frame of %ux%u does not match the %ux%u %s, dropped", kName, width, height, outputWidth, outputHeight,
             output);
  return true;
}

void TPictorD3D9Preview::KeyFrame(unsigned char* pixels, unsigned int width, unsigned int height, bool topDown)
{
  TPictorD3D9PreviewState& state = *pState;
  state.screenSampler.Take(pixels, width, height, width * 4);
  if (state.keyingMode == kmPerson) {
    KeyPerson(pixels, width, height, topDown);
  } else if (pChromaKeyingParams && (state.spillSuppression > 0.0f || state.edgeChoke != 0)) {
    if (!state.keyRefiner.KeyAndRefine(pixels, width, height, width * 4, *pChromaKeyingParams, state.spillSuppression,
                                       state.edgeChoke))
      LogError("%s no memory for the edge choke; frame keyed without it", kName);
  } else if (pChromaKeyingParams) {
    RemoveKeyColor(pixels, width, height, width * 4, pChromaKeyingParams->Sensitivity, pChromaKeyingParams->Smoothing,
                   pChromaKeyingParams->Opacity, pChromaKeyingParams->ColorType, pChromaKeyingParams->CustomColor);
  }
}

void TPictorD3D9Preview::KeyPerson(unsigned char* pixels, unsigned int width, unsigned int height, bool topDown)
{
  TPictorD3D9PreviewState& state = *pState;
  const TPictorD3D9PreviewChromaKeyingParams keying =
      pChromaKeyingParams ? *pChromaKeyingParams : TPictorD3D9PreviewChromaKeyingParams();
  // The probability a kept pixel needs; a threshold at 0 or 1 would keep or replace all.
  const float s = keying.Sensitivity;
  const float threshold = std::isnan(s) ? 0.5f : std::min(0.99f, std::max(0.01f, s));
  const unsigned int stride = width * 4;
  TPersonSegmenter* segmenter = state.segmenter.get();
  // Every second frame goes to the model: the mask still follows movement within two
  // frames, at half the model's cost (720p30 in all: 25% of a core when every frame went).
  if (segmenter && state.personFrames++ % 2 == 0) segmenter->SubmitFrame(pixels, width, height, stride, !topDown);
  if (!segmenter || !segmenter->ApplyMatte(pixels, width, height, stride, !topDown, threshold, keying.Opacity)) {
    // No mask yet (or none for frames of this size): nothing of the room shows.
    for (size_t i = 3; i < size_t(stride) * height; i += 4) pixels[i] = 0;
    return;
  }
  if (state.edgeChoke != 0 && !state.keyRefiner.ChokeMatte(pixels, width, height, stride, state.edgeChoke))
    LogError("%s no memory for the edge choke; frame keyed without it", kName);
}

void TPictorD3D9Preview::Deliver(unsigned int width, unsigned int height, unsigned int pitch, unsigned char* picture)
{
  LogFrameRate(kName, pFPSCalculator, lastFPSLogTick);
  // A host callback that throws loses only this frame: the next one is composed and
  // delivered as usual.
  if (!pHostImageReady) return;
  try {
    pHostImageReady(width, height, pitch, picture, pHostUserData);
  } catch (...) {
    LogError("%s host callback threw an exception", kName);
  }
}
