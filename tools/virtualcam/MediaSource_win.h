// The virtual camera as a Media Foundation media source with one video stream.
#pragma once

#include <memory>

#include "tools/virtualcam/CameraRegistry_win.h"

namespace virtualcam {

// Creates a source for the camera; the caller owns the returned reference.
HRESULT CreateVirtualSource(const std::shared_ptr<CameraState>& camera, IMFMediaSource** out);

// A 1-D memory buffer that counts itself; `bytes` is its capacity and length.
HRESULT CreateCountedBuffer(DWORD bytes, IMFMediaBuffer** out);

}  // namespace virtualcam
