// Control interface of the virtual camera: a test-double mf.dll that stands in for
// the camera hardware. Put the DLL beside the host .exe (Windows and Wine load an
// mf.dll from the application directory before the system's). Besides the Media
// Foundation entry points (MFEnumDeviceSources, MFCreateDeviceSource, ...) it exports
// the functions below, which a test finds with
//   GetProcAddress(LoadLibraryW(L"mf.dll"), "VirtualCam_Configure")
// The library under test never calls them.
//
// Configuration text: one directive per line, '#' starts a comment, tokens are
// key=value, a value with spaces is written in double quotes ("\"" and "\\" escape),
// text is UTF-8. A "camera" line starts a camera; "format" and "control" lines that
// follow belong to it.
//
//   camera name="Front Camera" link="\\?\virtualcam#front"
//          [pattern=bars|greenscreen|marker|solid:RRGGBB]
//          [name-error=0x80004005] [link-error=0x80004005]   reading the attribute fails
//          [type-error-at=K]          native type K (and the walk past it) fails
//          [stream-error-after=N]     after N frames the stream reports an error
//          [error-flag-after=N]       after N frames ReadSample reports MF_SOURCE_READERF_ERROR
//          [camera-control=0]         the source has no IAMCameraControl
//          [video-proc-amp=0]         the source has no IAMVideoProcAmp
//   format subtype=YUY2|NV12|I420|RGB32|ARGB32|MJPG size=640x480 rate=30/1
//          [stride=-2560]             MF_MT_DEFAULT_STRIDE (default: natural, positive)
//          [aspect=1/1] [bitrate=N] [rate-min=N/D] [rate-max=N/D]
//          [omit=MF_MT_AM_FORMAT_TYPE,MF_MT_DEFAULT_STRIDE,...]  attributes left out
//   control property=Brightness|...|Gain|Pan|...|Focus min=.. max=.. step=.. default=..
//          [value=..] [flags=1|2] [auto=0|1]   a property that has no line fails GetRange
//
// With no configuration (VirtualCam_Configure(nullptr) or nothing called) the double
// presents its default set: at least two cameras offering YUY2 and NV12 at 640x480 with
// colour bars, and the usual controls. The environment variable PICTOR_VIRTUALCAM_CONFIG,
// when set, names a configuration file read at first use (the demo uses it).
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

// Live objects of the double, for proving that a session leaves nothing behind.
typedef struct VirtualCamCounts {
  LONG activates;     // IMFActivate objects handed out
  LONG sources;       // media sources
  LONG streams;       // media streams
  LONG samples;       // samples the stream delivered and that are still referenced
  LONG buffers;       // their media buffers
  LONG controls;      // IAMVideoProcAmp / IAMCameraControl objects, if separate
  LONG total;         // every COM object of the double
} VirtualCamCounts;

// Replaces the set of cameras. config = nullptr restores the default set. Returns 0,
// or the 1-based line of the first error (with a message in error, if errorSize > 0).
// Camera parameter values are kept per symbolic link across activations, and reset by
// a call of this function.
typedef int(WINAPI* VirtualCam_Configure_t)(const char* config, char* error, int errorSize);

typedef void(WINAPI* VirtualCam_GetCounts_t)(VirtualCamCounts* counts);

// Frames delivered so far by the camera with this symbolic link (0 if unknown).
typedef LONG(WINAPI* VirtualCam_GetFrameCount_t)(const wchar_t* symbolicLink);

#ifdef __cplusplus
}
#endif
