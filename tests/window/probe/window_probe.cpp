// A loadable module made of the library's own objects, exporting just enough to make and
// destroy the preview's hidden window, so that a test can unload and reload that code.
#include <new>

#include "window/PictorD3D9PreviewWindow.h"

extern "C" __declspec(dllexport) void* ProbeCreatePreviewWindow(HWND* handle)
{
  auto* window = new (std::nothrow) TPictorD3D9PreviewWindow();
  *handle = window != nullptr ? window->GetHandle() : nullptr;
  return window;
}

extern "C" __declspec(dllexport) void ProbeDestroyPreviewWindow(void* window)
{
  delete static_cast<TPictorD3D9PreviewWindow*>(window);
}
