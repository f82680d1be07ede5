// The preview's renderer set-ups: the Direct3D 9Ex device, surfaces, textures and pixel
// program with the one upload path into its video-memory textures, and the software
// renderer's compositor and output.
#include "PictorD3D9Preview.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "common/Ownership_win.h"
#include "kernels/AlignedBitmap.h"
#include "log/Log.h"
#include "log/LogTrace.h"
#include "preview/PictorD3D9PreviewState.h"
#include "preview/ShaderResource.h"
#include "window/PictorD3D9PreviewWindow.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr char kInitD3D9[] = "TPictorD3D9Preview::InitD3D9";

// The Direct3D objects of one device set-up. They are built here and handed over to the
// preview's members only once every one of them exists: a failed set-up leaves none.
struct TDeviceObjects {
  D3DPRESENT_PARAMETERS presentParameters = {};
  bool dynamicTextures = false;
  ComPtr<IDirect3D9Ex> d3d9;
  ComPtr<IDirect3DDevice9Ex> device;
  ComPtr<IDirect3DSurface9> renderTarget;
  ComPtr<IDirect3DTexture9> stagingTexture;
  ComPtr<IDirect3DTexture9> frameTexture;
  ComPtr<IDirect3DSurface9> readBackSurface;
  ComPtr<IDirect3DTexture9> backgroundTexture;
  ComPtr<IDirect3DPixelShader9> pixelShader;
};

DWORD VertexProcessing(IDirect3D9Ex* d3d9)
{
  D3DCAPS9 caps = {};
  HRESULT hr = d3d9->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps);
  if (hr != D3D_OK) {
    LogError("%s GetDeviceCaps error %d", "TPictorD3D9Preview::GetVertexProcessingCaps", static_cast<int>(hr));
    return D3DCREATE_SOFTWARE_VERTEXPROCESSING;
  }
  return (caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) ? D3DCREATE_HARDWARE_VERTEXPROCESSING
                                                         : D3DCREATE_SOFTWARE_VERTEXPROCESSING;
}

typedef HRESULT(WINAPI* TDirect3DCreate9Ex)(UINT, IDirect3D9Ex**);

// d3d9.dll from the system folder (Windows 7 without its loader update refuses the
// search flag).
HMODULE LoadDirect3D()
{
  HMODULE module = LoadLibraryExW(L"d3d9.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!module && GetLastError() == ERROR_INVALID_PARAMETER) module = LoadLibraryW(L"d3d9.dll");
  return module;
}

HRESULT CreateDirect3D(HMODULE module, IDirect3D9Ex** d3d9)
{
  if (!module) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
  const auto create =
      reinterpret_cast<TDirect3DCreate9Ex>(reinterpret_cast<void*>(GetProcAddress(module, "Direct3DCreate9Ex")));
  return create ? create(D3D_SDK_VERSION, d3d9) : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
}

// Direct3D 9Ex and a device whose focus window is the preview's hidden window. A failed
// call's out-pointer is not trusted, so it is adopted only after success.
bool CreateDevice(HWND window, HMODULE direct3D, TDeviceObjects& objects)
{
  D3DPRESENT_PARAMETERS& parameters = objects.presentParameters;
  parameters.BackBufferFormat = D3DFMT_A8R8G8B8;
  parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
  parameters.Windowed = TRUE;
  parameters.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;

  IDirect3D9Ex* d3d9 = nullptr;
  HRESULT hr = CreateDirect3D(direct3D, &d3d9);
  if (hr != D3D_OK) {
    LogError("%s Direct3DCreate9Ex error %d", kInitD3D9, static_cast<int>(hr));
    return false;
  }
  objects.d3d9 = AdoptComPtr(d3d9);
  IDirect3DDevice9Ex* device = nullptr;
  hr = d3d9->CreateDeviceEx(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                            VertexProcessing(d3d9) | D3DCREATE_FPU_PRESERVE | D3DCREATE_MULTITHREADED, &parameters,
                            nullptr, &device);
  if (hr != D3D_OK) {
    LogError("%s CreateDeviceEx error %d", kInitD3D9, static_cast<int>(hr));
    return false;
  }
  objects.device = AdoptComPtr(device);
  return true;
}

// Only reported: every path works with or without dynamic textures.
void ReadDeviceCaps(TDeviceObjects& objects)
{
  D3DCAPS9 caps = {};
  const HRESULT hr = objects.device->GetDeviceCaps(&caps);
  if (hr != D3D_OK) {
    LogError("%s GetDeviceCaps error %d", kInitD3D9, static_cast<int>(hr));
    return;
  }
  objects.dynamicTextures = (caps.Caps2 & D3DCAPS2_DYNAMICTEXTURES) != 0;
  if (objects.dynamicTextures)
    LogInfo("%s device supports dynamic textures.", kInitD3D9);
  else
    LogInfo("%s device doesn't support dynamic textures.", kInitD3D9);
}

// The render target, the staging and frame textures, the read-back surface and the
// background texture, all of the capture format's size.
bool CreateSurfaces(UINT width, UINT height, TDeviceObjects& objects)
{
  IDirect3DDevice9Ex* device = objects.device.Get();
  HRESULT hr;
  if ((hr = device->CreateRenderTarget(width, height, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, FALSE,
                                       objects.renderTarget.GetAddressOf(), nullptr)) != D3D_OK) {
    LogError("%s CreateRenderTarget pD3DRTSurface error %d", kInitD3D9, static_cast<int>(hr));
  } else if ((hr = device->CreateTexture(width, height, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM,
                                         objects.stagingTexture.GetAddressOf(), nullptr)) != D3D_OK) {
    LogError("%s CreateTexture pD3D9TextureSysMemY error %d", kInitD3D9, static_cast<int>(hr));
  } else if ((hr = device->CreateTexture(width, height, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                         objects.frameTexture.GetAddressOf(), nullptr)) != D3D_OK) {
    LogError("%s CreateTexture pD3D9TextureVidMemY error %d", kInitD3D9, static_cast<int>(hr));
  } else if ((hr = device->CreateOffscreenPlainSurface(width, height, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM,
                                                       objects.readBackSurface.GetAddressOf(), nullptr)) != D3D_OK) {
    LogError("%s CreateOffscreenPlainSurface pD3D9SurfaceVidMem error %d", kInitD3D9, static_cast<int>(hr));
  } else if ((hr = device->CreateTexture(width, height, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                         objects.backgroundTexture.GetAddressOf(), nullptr)) != D3D_OK) {
    LogError("%s CreateTexture pD3D9BackgroundTextureVidMem error %d", kInitD3D9, static_cast<int>(hr));
  } else {
    return true;
  }
  return false;
}

// The pixel program from the library's resource.
bool CreatePixelProgram(IDirect3DDevice9Ex* device, IDirect3DPixelShader9** shader)
{
  static const char kName[] = "TPictorD3D9Preview::CreatePixelShader";
  LogInfo("%s shader %d", kName, PictorShaderResourceId);
  bool created = false;
  DWORD size = 0;
  if (const void* bytes = LoadResource(&size)) {
    HRESULT hr = device->CreatePixelShader(static_cast<const DWORD*>(bytes), shader);
    if (hr == D3D_OK) {
      LogInfo("%s pixel shader has been created.", kName);
      created = true;
    } else {
      LogInfo("%s Unable to create D3D11 pixel shader %d.", kName, static_cast<int>(hr));
    }
  }
  LogInfo("%s exit with %d", kName, created ? 1 : 0);
  return created;
}

// Uploads `rows` stored rows (the first is the top of the picture when topDown, else the
// bottom) through the staging texture into the target.
void UploadTexture(IDirect3DDevice9Ex* device, IDirect3DTexture9* staging, IDirect3DTexture9* target,
                   const unsigned char* source, unsigned int rows, int stride, bool topDown)
{
  static const char kName[] = "TPictorD3D9Preview::LoadTexture";
  const TLogScope scope(kName, TLogScope::TLevel::Verbose);
  D3DSURFACE_DESC desc = {};
  D3DLOCKED_RECT locked = {};
  HRESULT hr = staging->GetLevelDesc(0, &desc);
  if (hr != D3D_OK) {
    LogError("%s GetLevelDesc error %d", kName, static_cast<int>(hr));
    return;
  }
  if ((hr = staging->LockRect(0, &locked, nullptr, 0)) != D3D_OK) {
    LogError("%s LockRect error %d", kName, static_cast<int>(hr));
    return;
  }
  // The texture's top row gets the top of the picture: the last stored row of a
  // bottom-up source. Rows the source does not reach keep the staging texture's
  // previous content.
  const unsigned int count = std::min<unsigned int>(desc.Height, rows);
  const size_t bytes = (source && stride > 0 && locked.Pitch > 0)
                           ? std::min<size_t>(static_cast<size_t>(locked.Pitch), static_cast<size_t>(stride))
                           : 0;
  if (bytes) {
    unsigned char* destination = static_cast<unsigned char*>(locked.pBits);
    const unsigned char* from = topDown ? source : source + static_cast<size_t>(rows - 1) * static_cast<size_t>(stride);
    const std::ptrdiff_t step = topDown ? stride : -static_cast<std::ptrdiff_t>(stride);
    for (unsigned int i = 0; i < count; ++i) {
      std::memcpy(destination, from, bytes);
      destination += locked.Pitch;
      from += step;
    }
  }
  staging->UnlockRect(0);
  hr = device->UpdateTexture(staging, target);
  if (hr != D3D_OK) LogError("%s unable to update the texture in vidmem %d", kName, static_cast<int>(hr));
}

}  // namespace

// The same two set-up steps on the preview's own objects, once InitD3D9 has handed them
// over (InitD3D9 itself runs them on the objects it is still building).
DWORD TPictorD3D9Preview::GetVertexProcessingCaps()
{
  return pD3D9 ? VertexProcessing(pD3D9) : D3DCREATE_SOFTWARE_VERTEXPROCESSING;
}

bool TPictorD3D9Preview::CreatePixelShader(IDirect3DPixelShader9** shader)
{
  return pD3D9Device && CreatePixelProgram(pD3D9Device, shader);
}

void TPictorD3D9Preview::ReleaseD3D9()
{
  if (pState) {
    if (pState->framesOfAnotherSize)
      LogError("%s %u frames of another size than the surfaces dropped", "TPictorD3D9Preview::ReleaseD3D9",
               pState->framesOfAnotherSize);
    pState->framesOfAnotherSize = 0;
    pState->softOutput.reset();
  }
  ReleaseAndNull(pD3D9PixelShaderBlur7x7KernelFilterD3D9);
  ReleaseAndNull(pD3D9SurfaceVidMem);
  ReleaseAndNull(pD3D9BackgroundTextureVidMem);
  ReleaseAndNull(pD3D9TextureVidMemY);
  ReleaseAndNull(pD3D9TextureSysMemY);
  ReleaseAndNull(pD3DRTSurface);
  ReleaseAndNull(pD3D9Device);
  ReleaseAndNull(pD3D9);
}

void TPictorD3D9Preview::LoadTexture(IDirect3DTexture9* staging, IDirect3DTexture9* target, const unsigned char* source,
                                     unsigned int rows, int stride, bool topDown)
{
  UploadTexture(pD3D9Device, staging, target, source, rows, stride, topDown);
}

bool TPictorD3D9Preview::InitD3D9()
{
  TLogScope scope(kInitD3D9);
  // No capture runs during the set-up; the lock keeps a setter on another host thread
  // from uploading into objects that are being replaced.
  const TCriticalSectionHold hold(previewLock);
  ReleaseD3D9();
  if (!pState) return scope.Returns(false);
  pState->activeRenderer = prDirect3D9;

  // The preview's own reference to d3d9.dll, taken by its first Direct3D set-up: a
  // preview that composes in software never loads it.
  if (!pState->hDirect3DModule) pState->hDirect3DModule = LoadDirect3D();
  TDeviceObjects objects;
  if (!CreateDevice(pPreviewWindow->GetHandle(), pState->hDirect3DModule, objects)) return scope.Returns(false);
  ReadDeviceCaps(objects);
  if (!CreateSurfaces(captureFormat.Width, captureFormat.Height, objects)) return scope.Returns(false);
  if (pBackgroundBitmap && pBackgroundBitmap->Pixels)
    UploadTexture(objects.device.Get(), objects.stagingTexture.Get(), objects.backgroundTexture.Get(),
                  pBackgroundBitmap->Pixels, pBackgroundBitmap->Height, static_cast<int>(pBackgroundBitmap->Stride),
                  false);
  if (!CreatePixelProgram(objects.device.Get(), objects.pixelShader.GetAddressOf())) {
    LogError("%s CreatePixelShader pD3D9PixelShaderBlur7x7KernelFilterD3D9 error", kInitD3D9);
    return scope.Returns(false);
  }

  presentParameters = objects.presentParameters;
  dynamicTexturesSupported = objects.dynamicTextures;
  HandOverComPtr(objects.d3d9, pD3D9);
  HandOverComPtr(objects.device, pD3D9Device);
  HandOverComPtr(objects.renderTarget, pD3DRTSurface);
  HandOverComPtr(objects.stagingTexture, pD3D9TextureSysMemY);
  HandOverComPtr(objects.frameTexture, pD3D9TextureVidMemY);
  HandOverComPtr(objects.readBackSurface, pD3D9SurfaceVidMem);
  HandOverComPtr(objects.backgroundTexture, pD3D9BackgroundTextureVidMem);
  HandOverComPtr(objects.pixelShader, pD3D9PixelShaderBlur7x7KernelFilterD3D9);
  return scope.Returns(true);
}

bool TPictorD3D9Preview::InitSoftware()
{
  static const char kName[] = "TPictorD3D9Preview::InitSoftware";
  TLogScope scope(kName);
  const TCriticalSectionHold hold(previewLock);
  ReleaseD3D9();
  if (!pState) return scope.Returns(false);
  pState->activeRenderer = prSoftware;

  const unsigned int width = captureFormat.Width, height = captureFormat.Height;
  std::unique_ptr<TQDAlignedBitmap32> output(new (std::nothrow) TQDAlignedBitmap32(width, height));
  if (!output || !output->Pixels || !pState->softCompositor.Prepare(width, 1)) {
    LogError("%s no memory for a %ux%u output", kName, width, height);
    return scope.Returns(false);
  }
  pState->softOutput = std::move(output);
  LogInfo("%s %ux%u with the %s row kernels", kName, width, height, pState->softCompositor.KernelName());
  return scope.Returns(true);
}
