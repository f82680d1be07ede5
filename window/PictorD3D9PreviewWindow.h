// The hidden 100 x 100 window that a preview owns as the focus window of its
// Direct3D 9 device. It is never shown, moved or parented: frames leave the library
// through the host's callback, not through this window.
#pragma once

#include "window/WinApiWindow.h"

// Registered under the host executable's module handle.
constexpr wchar_t PictorPreviewWindowClassName[] = L"myd3d9previewwindow";

class TPictorD3D9PreviewWindow : public TWinApiWindow {
 public:
  // Creates the window at once, on the calling thread; GetHandle() is null when
  // that failed.
  TPictorD3D9PreviewWindow();
  ~TPictorD3D9PreviewWindow() override;

  void FillCreateParams(TWinApiCreateParams& params) override;
};
