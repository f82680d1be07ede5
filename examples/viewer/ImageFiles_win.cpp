#include "ImageFiles_win.h"

#include <windows.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

using Microsoft::WRL::ComPtr;

namespace {

std::wstring Failure(const wchar_t* what, HRESULT hr)
{
  wchar_t text[128];
  std::swprintf(text, 128, L"%ls failed (0x%08lX)", what, static_cast<unsigned long>(hr));
  return text;
}

HRESULT CreateFactory(ComPtr<IWICImagingFactory>* factory)
{
  return CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                          IID_PPV_ARGS(factory->GetAddressOf()));
}

}  // namespace

bool LoadPictureCovering(const std::wstring& path, unsigned int width, unsigned int height, TImage* image,
                         std::wstring* error)
{
  ComPtr<IWICImagingFactory> factory;
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  ComPtr<IWICFormatConverter> converter;
  ComPtr<IWICBitmapScaler> scaler;
  UINT sourceWidth = 0, sourceHeight = 0;
  HRESULT hr = CreateFactory(&factory);
  if (FAILED(hr)) return *error = Failure(L"The imaging component", hr), false;
  hr =
      factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand, &decoder);
  if (FAILED(hr)) return *error = Failure(L"Reading the picture", hr), false;
  if (FAILED(hr = decoder->GetFrame(0, &frame)) || FAILED(hr = frame->GetSize(&sourceWidth, &sourceHeight)) ||
      sourceWidth == 0 || sourceHeight == 0)
    return *error = Failure(L"Decoding the picture", hr), false;
  if (FAILED(hr = factory->CreateFormatConverter(&converter)) ||
      FAILED(hr = converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr,
                                        0.0, WICBitmapPaletteTypeCustom)))
    return *error = Failure(L"Converting the picture", hr), false;

  // Cover: the larger of the two scales, then the middle width x height of the result.
  const double scale = std::max(double(width) / sourceWidth, double(height) / sourceHeight);
  const UINT scaledWidth = std::max<UINT>(width, UINT(std::ceil(sourceWidth * scale)));
  const UINT scaledHeight = std::max<UINT>(height, UINT(std::ceil(sourceHeight * scale)));
  if (FAILED(hr = factory->CreateBitmapScaler(&scaler)) ||
      FAILED(hr = scaler->Initialize(converter.Get(), scaledWidth, scaledHeight, WICBitmapInterpolationModeFant)))
    return *error = Failure(L"Scaling the picture", hr), false;
  const WICRect middle = {INT((scaledWidth - width) / 2), INT((scaledHeight - height) / 2), INT(width), INT(height)};
  std::vector<unsigned char> pixels(size_t(width) * height * 4);
  hr = scaler->CopyPixels(&middle, width * 4, UINT(pixels.size()), pixels.data());
  if (FAILED(hr)) return *error = Failure(L"Scaling the picture", hr), false;
  image->Width = width;
  image->Height = height;
  image->Pixels.swap(pixels);
  return true;
}

bool SavePng(const std::wstring& path, unsigned int width, unsigned int height, unsigned int stride,
             const unsigned char* pixels, std::wstring* error)
{
  ComPtr<IWICImagingFactory> factory;
  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapEncoder> encoder;
  ComPtr<IWICBitmapFrameEncode> frame;
  HRESULT hr = CreateFactory(&factory);
  if (FAILED(hr)) return *error = Failure(L"The imaging component", hr), false;
  if (FAILED(hr = factory->CreateStream(&stream)) ||
      FAILED(hr = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)))
    return *error = Failure(L"Creating the file", hr), false;
  // Rows as BGR: the encoders take 24-bit BGR everywhere, 32-bit BGRX not always.
  std::vector<unsigned char> row(size_t(width) * 3);
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  if (FAILED(hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) ||
      FAILED(hr = encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) ||
      FAILED(hr = encoder->CreateNewFrame(&frame, nullptr)) || FAILED(hr = frame->Initialize(nullptr)) ||
      FAILED(hr = frame->SetSize(width, height)) || FAILED(hr = frame->SetPixelFormat(&format)) ||
      format != GUID_WICPixelFormat24bppBGR)
    return *error = Failure(L"Encoding the PNG", hr), false;
  for (unsigned int y = 0; y < height && SUCCEEDED(hr); ++y) {
    const unsigned char* source = pixels + size_t(y) * stride;
    for (unsigned int x = 0; x < width; ++x) {
      row[3 * x + 0] = source[4 * x + 0];
      row[3 * x + 1] = source[4 * x + 1];
      row[3 * x + 2] = source[4 * x + 2];
    }
    hr = frame->WritePixels(1, width * 3, UINT(row.size()), row.data());
  }
  if (FAILED(hr) || FAILED(hr = frame->Commit()) || FAILED(hr = encoder->Commit()))
    return *error = Failure(L"Writing the PNG", hr), false;
  return true;
}

bool SaveWindowPng(HWND window, const std::wstring& path, std::wstring* error)
{
  SetForegroundWindow(window);
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
  GdiFlush();
  RECT whole, bounds;
  GetWindowRect(window, &whole);
  bounds = whole;
  // Without the invisible resize borders that the desktop compositor adds.
  using DwmGetWindowAttributeFn = HRESULT(WINAPI*)(HWND, DWORD, PVOID, DWORD);
  HMODULE dwm = LoadLibraryW(L"dwmapi.dll");
  const auto getAttribute = dwm ? reinterpret_cast<DwmGetWindowAttributeFn>(
                                      reinterpret_cast<void*>(GetProcAddress(dwm, "DwmGetWindowAttribute")))
                                : nullptr;
  RECT visible;
  constexpr DWORD kExtendedFrameBounds = 9;
  if (getAttribute && SUCCEEDED(getAttribute(window, kExtendedFrameBounds, &visible, sizeof(visible))) &&
      visible.right > visible.left)
    bounds = visible;
  if (dwm) FreeLibrary(dwm);
  const int width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  // The window's own DC, frame included: what was painted, not what the screen shows
  // at this instant (Wine hands painting to the X server a little later).
  HDC source = GetWindowDC(window);
  HDC memory = CreateCompatibleDC(source);
  HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = bitmap && bits;
  if (ok) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    ok =
        BitBlt(memory, 0, 0, width, height, source, bounds.left - whole.left, bounds.top - whole.top, SRCCOPY) != FALSE;
    SelectObject(memory, old);
    GdiFlush();
  }
  if (!ok) *error = L"the window could not be copied";
  ok = ok && SavePng(path, unsigned(width), unsigned(height), unsigned(width) * 4,
                     static_cast<const unsigned char*>(bits), error);
  if (bitmap) DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(window, source);
  return ok;
}
