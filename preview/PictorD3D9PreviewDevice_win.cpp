// Direct3D 9Ex device, surfaces, textures and pixel program of the preview, and the one
// upload path into its video-memory textures.
#include "PictorD3D9Preview.h"

#include <algorithm>
#include <cstring>

#include "log/Log.h"
#include "preview/AlignedBitmap.h"
#include "preview/ShaderResource.h"
#include "window/PictorD3D9PreviewWindow.h"

namespace {

template <typename T>
void ReleaseAndNull(T*& object)
{
    if (object) {
        object->Release();
        object = nullptr;
    }
}

}  // namespace

void TPictorD3D9Preview::ReleaseD3D9()
{
    ReleaseAndNull(pD3D9PixelShaderBlur7x7KernelFilterD3D9);
    ReleaseAndNull(pD3D9SurfaceVidMem);
    ReleaseAndNull(pD3D9BackgroundTextureVidMem);
    ReleaseAndNull(pD3D9TextureVidMemY);
    ReleaseAndNull(pD3D9TextureSysMemY);
    ReleaseAndNull(pD3DRTSurface);
    ReleaseAndNull(pD3D9Device);
    ReleaseAndNull(pD3D9);
}

DWORD TPictorD3D9Preview::GetVertexProcessingCaps()
{
    D3DCAPS9 caps = {};
    HRESULT hr = pD3D9->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps);
    if (hr != D3D_OK) {
        LogError("%s GetDeviceCaps error %d", "TPictorD3D9Preview::GetVertexProcessingCaps", static_cast<int>(hr));
        return D3DCREATE_SOFTWARE_VERTEXPROCESSING;
    }
    return (caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) ? D3DCREATE_HARDWARE_VERTEXPROCESSING
                                                           : D3DCREATE_SOFTWARE_VERTEXPROCESSING;
}

bool TPictorD3D9Preview::CreatePixelShader(IDirect3DPixelShader9** shader)
{
    static const char kName[] = "TPictorD3D9Preview::CreatePixelShader";
    LogInfo("%s shader %d", kName, PictorShaderResourceId);
    bool created = false;
    DWORD size = 0;
    if (const void* bytes = LoadResource(&size)) {
        HRESULT hr = pD3D9Device->CreatePixelShader(static_cast<const DWORD*>(bytes), shader);
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

void TPictorD3D9Preview::LoadTexture(IDirect3DTexture9* staging, IDirect3DTexture9* target,
                                     const unsigned char* source, unsigned int rows, int stride)
{
    static const char kName[] = "TPictorD3D9Preview::LoadTexture";
    LogVerbose("%s", kName);
    D3DSURFACE_DESC desc = {};
    D3DLOCKED_RECT locked = {};
    HRESULT hr = staging->GetLevelDesc(0, &desc);
    if (hr != D3D_OK) {
        LogError("%s GetLevelDesc error %d", kName, static_cast<int>(hr));
    } else if ((hr = staging->LockRect(0, &locked, nullptr, 0)) != D3D_OK) {
        LogError("%s LockRect error %d", kName, static_cast<int>(hr));
    } else {
        // The first stored row is the bottom of the picture: the texture's top row gets
        // the last stored row. Rows the source does not reach keep the staging texture's
        // previous content.
        const unsigned int count = std::min<unsigned int>(desc.Height, rows);
        const size_t bytes = (source && stride > 0 && locked.Pitch > 0)
                                 ? std::min<size_t>(static_cast<size_t>(locked.Pitch), static_cast<size_t>(stride))
                                 : 0;
        if (bytes) {
            unsigned char* destination = static_cast<unsigned char*>(locked.pBits);
            const unsigned char* from = source + static_cast<size_t>(rows - 1) * static_cast<size_t>(stride);
            for (unsigned int i = 0; i < count; ++i) {
                std::memcpy(destination, from, bytes);
                destination += locked.Pitch;
                from -= stride;
            }
        }
        staging->UnlockRect(0);
        hr = pD3D9Device->UpdateTexture(staging, target);
        if (hr != D3D_OK)
            LogError("%s unable to update the texture in vidmem %d", kName, static_cast<int>(hr));
    }
    LogVerbose("%s exit", kName);
}

bool TPictorD3D9Preview::InitD3D9()
{
    static const char kName[] = "TPictorD3D9Preview::InitD3D9";
    LogInfo("%s", kName);
    // No capture runs during the set-up; the lock keeps a setter on another host thread
    // from uploading into objects that are being replaced.
    EnterCriticalSection(&previewLock);
    ReleaseD3D9();

    std::memset(&presentParameters, 0, sizeof(presentParameters));
    presentParameters.BackBufferFormat = D3DFMT_A8R8G8B8;
    presentParameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
    presentParameters.Windowed = TRUE;
    presentParameters.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;

    const UINT width = captureFormat.Width;
    const UINT height = captureFormat.Height;
    bool ok = false;
    HRESULT hr = Direct3DCreate9Ex(D3D_SDK_VERSION, &pD3D9);
    if (hr != D3D_OK) {
        LogError("%s Direct3DCreate9Ex error %d", kName, static_cast<int>(hr));
        pD3D9 = nullptr;
    } else if ((hr = pD3D9->CreateDeviceEx(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, pPreviewWindow->GetHandle(),
                                           GetVertexProcessingCaps() | D3DCREATE_FPU_PRESERVE | D3DCREATE_MULTITHREADED,
                                           &presentParameters, nullptr, &pD3D9Device)) != D3D_OK) {
        LogError("%s CreateDeviceEx error %d", kName, static_cast<int>(hr));
        pD3D9Device = nullptr;
    } else {
        D3DCAPS9 caps = {};
        hr = pD3D9Device->GetDeviceCaps(&caps);
        if (hr != D3D_OK) {
            LogError("%s GetDeviceCaps error %d", kName, static_cast<int>(hr));
        } else {
            dynamicTexturesSupported = (caps.Caps2 & D3DCAPS2_DYNAMICTEXTURES) != 0;
            if (dynamicTexturesSupported)
                LogInfo("%s device supports dynamic textures.", kName);
            else
                LogInfo("%s device doesn't support dynamic textures.", kName);
        }

        if ((hr = pD3D9Device->CreateRenderTarget(width, height, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, FALSE,
                                                  &pD3DRTSurface, nullptr)) != D3D_OK) {
            LogError("%s CreateRenderTarget pD3DRTSurface error %d", kName, static_cast<int>(hr));
        } else if ((hr = pD3D9Device->CreateTexture(width, height, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM,
                                                    &pD3D9TextureSysMemY, nullptr)) != D3D_OK) {
            LogError("%s CreateTexture pD3D9TextureSysMemY error %d", kName, static_cast<int>(hr));
        } else if ((hr = pD3D9Device->CreateTexture(width, height, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                                    &pD3D9TextureVidMemY, nullptr)) != D3D_OK) {
            LogError("%s CreateTexture pD3D9TextureVidMemY error %d", kName, static_cast<int>(hr));
        } else if ((hr = pD3D9Device->CreateOffscreenPlainSurface(width, height, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM,
                                                                  &pD3D9SurfaceVidMem, nullptr)) != D3D_OK) {
            LogError("%s CreateOffscreenPlainSurface pD3D9SurfaceVidMem error %d", kName, static_cast<int>(hr));
        } else if ((hr = pD3D9Device->CreateTexture(width, height, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                                    &pD3D9BackgroundTextureVidMem, nullptr)) != D3D_OK) {
            LogError("%s CreateTexture pD3D9BackgroundTextureVidMem error %d", kName, static_cast<int>(hr));
        } else {
            if (pBackgroundBitmap && pBackgroundBitmap->Pixels)
                LoadTexture(pD3D9TextureSysMemY, pD3D9BackgroundTextureVidMem, pBackgroundBitmap->Pixels,
                            pBackgroundBitmap->Height, static_cast<int>(pBackgroundBitmap->Stride));
            if (!CreatePixelShader(&pD3D9PixelShaderBlur7x7KernelFilterD3D9))
                LogError("%s CreatePixelShader pD3D9PixelShaderBlur7x7KernelFilterD3D9 error", kName);
            else
                ok = true;
        }
    }
    LeaveCriticalSection(&previewLock);
    LogInfo("%s exit with %d", kName, ok ? 1 : 0);
    return ok;
}
