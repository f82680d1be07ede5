// Closing a camera without waiting on it for ever. A media source's Shutdown may wait on
// the driver, or on the platform's camera service in another process; a wedged device
// would otherwise hang the host's StopCapture, or the capture thread, for good.
#pragma once

#include <windows.h>

struct IMFMediaSource;
struct IUnknown;

// How long a close is waited for. A camera closes in well under a second.
constexpr DWORD kCameraCloseMs = 3000;

// Shuts `source` down (when not null), then releases `other` and `source`: one reference
// of each, which the call takes over. The work runs on a thread of its own, which keeps
// the library loaded until it is done; the call waits for it at most `limitMs`. True when
// the camera closed within the limit; otherwise an error line (from `who`) says so and
// the thread finishes the close by itself. When no thread can be had, or it has not
// started within the limit (the caller holds the loader lock), the close runs here. While
// the process exits (a host's DllMain at its end) nothing is touched: the process's end
// closes the camera.
bool CloseCameraWithin(IMFMediaSource* source, IUnknown* other, DWORD limitMs, const char* who);
