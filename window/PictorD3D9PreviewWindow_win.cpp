#include "window/PictorD3D9PreviewWindow.h"

TPictorD3D9PreviewWindow::TPictorD3D9PreviewWindow()
    : TWinApiWindow(GetModuleHandleW(nullptr), PictorPreviewWindowClassName, std::wstring())
{
  initialBounds = TWinApiBounds{0, 0, 100, 100};
  // Created here rather than in the base constructor, so that this class's
  // FillCreateParams is the one used.
  CreateHandle();
}

TPictorD3D9PreviewWindow::~TPictorD3D9PreviewWindow() = default;

void TPictorD3D9PreviewWindow::FillCreateParams(TWinApiCreateParams& params)
{
  TWinApiWindow::FillCreateParams(params);
  // A plain overlapped window, never visible, owned by nobody.
  params.exStyle = 0;
  params.style = 0;
  params.parent = nullptr;
}
