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
//   camera name="Front Camera" link=\\?\virtualcam#front
//          [pattern=bars|greenscreen|marker|solid:RRGGBB]
//          [name-error=0x80004005] [link-error=0x80004005]   reading the attribute fails
//          [type-error-at=K]          native type K (and the walk past it) fails
//          [stream-error-after=N]     after N frames the stream reports an error
//          [error-flag-after=N]       after N frames ReadSample reports MF_SOURCE_READERF_ERROR
//          [end-of-stream-after=N]    after N frames the stream ends (MEEndOfStream; the
//                                     reader then reports MF_SOURCE_READERF_ENDOFSTREAM)
//          [stall-after=N]            after N frames requests are accepted and never answered
//                                     (a driver that hangs)
//          [noise=A]                  fixed grain of up to +-A levels on every channel (0-64);
//                                     MJPG frames then vary in length from frame to frame
//          [short-frames=1]           buffers one row short of a frame (MJPG: half)
//          [truncate-frame=N]         frame N since a start (0 = first) reports half its length
//          [timing=full|no-duration|none]  samples without duration, or without both stamps
//          [camera-control=0]         the source has no IAMCameraControl
//          [video-proc-amp=0]         the source has no IAMVideoProcAmp
//          [paced=0]                  frames as fast as requested (default: at the rate)
//          [busy=1]                   in use by another application: the start succeeds, the
//                                     first read fails with MF_E_HW_MFT_FAILED_START_STREAMING
//          [access-denied=1]          blocked by the privacy settings: activation fails with
//                                     E_ACCESSDENIED
//          [device-timestamps=1]      samples carry MFSampleExtension_DeviceTimestamp (the
//                                     performance counter in 100 ns when the frame was made)
//          [shutdown-delay=MS]        the source's first Shutdown returns only after MS milliseconds
//                                     (a driver slow to close, or one waiting on a service)
//          [unplug-after=N]           the camera unplugs itself (VirtualCam_Unplug) once it has
//                                     delivered N frames in all; for a host in another process
//          [replug-after=MS]          ... and is plugged back MS milliseconds later
//   format subtype=YUY2|NV12|I420|RGB32|ARGB32|MJPG size=640x480 rate=30/1
//          [stride=-2560]             MF_MT_DEFAULT_STRIDE (default: natural, positive)
//          [aspect=1/1] [bitrate=N] [rate-min=N/D] [rate-max=N/D]
//          [omit=MF_MT_AM_FORMAT_TYPE,MF_MT_DEFAULT_STRIDE,...]  attributes left out
//          [huffman-tables=0]         MJPG: frames without their DHT segment, as many webcams
//   control property=Brightness|...|Gain|Pan|...|Focus min=.. max=.. step=.. default=..
//          [value=..] [flags=1|2] [auto=0|1]   a property that has no line fails GetRange
//
// Details of the grammar:
//  - '#' starts a comment only at the start of a token, so an unquoted
//    link=\\?\virtualcam#front keeps its '#'. Unquoted values take no escapes; in quoted
//    ones only \" and \\ are escapes, any other backslash stays as it is (so the same
//    link quoted is written link="\\\\?\\virtualcam#front").
//  - link= is required and unique; name= defaults to empty.
//  - YUV formats need an even width and height (the Color Converter wants widths that
//    are multiples of 16 for I420).
//  - omit= names: MF_MT_AM_FORMAT_TYPE, MF_MT_DEFAULT_STRIDE, MF_MT_FRAME_RATE,
//    MF_MT_FRAME_RATE_RANGE (min and max), MF_MT_PIXEL_ASPECT_RATIO, MF_MT_INTERLACE_MODE,
//    MF_MT_ALL_SAMPLES_INDEPENDENT, MF_MT_FIXED_SIZE_SAMPLES, MF_MT_SAMPLE_SIZE,
//    MF_MT_AVG_BITRATE, MF_MT_YUV_MATRIX, MF_MT_VIDEO_NOMINAL_RANGE, MF_MT_FRAME_SIZE.
//  - control: flags= is the current mode (1 automatic, 2 manual; default 2); auto=1
//    (default) means the property supports automatic mode, and GetRange's capability
//    flags are then 3, else 2. value= defaults to default=.
//  - The sign of stride= decides the row order of RGB32/ARGB32 frames in memory
//    (negative: bottom row first); ARGB32's natural stride is negative.
//
// Results the double gives (the same under Windows and Wine):
//  - MFCreateDeviceSource with an unknown link: HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND).
//  - type-error-at=K: GetNativeMediaType(K) and every later index give E_FAIL. With K = 0
//    MFCreateSourceReaderFromMediaSource itself fails with E_FAIL under Wine 8.0 (its
//    reader reads native type 0 when it is created).
//  - A camera without format lines enumerates and activates; a reader over it cannot
//    be created, and sample requests fail with MF_E_INVALIDMEDIATYPE.
//  - stream-error-after=N: the (N+1)th sample request queues MEError with status
//    MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED on the stream and fails, as does every later
//    one. error-flag-after=N: the (N+1)th and later requests fail with
//    MF_E_INVALIDREQUEST, without MEError. Wine 8.0's source reader ignores MEError;
//    for both faults its ReadSample returns the failing status with the stream flags
//    MF_SOURCE_READERF_ERROR, and in asynchronous mode it never answers the read (a read
//    that returns S_OK with only the error flag cannot be produced through Wine's reader).
//  - Controls: an unconfigured property fails GetRange, Get and Set with
//    E_PROP_ID_UNSUPPORTED; Set with a value off the range or the step grid, flags other
//    than 1 or 2, or flags 1 on an auto=0 property fails with E_INVALIDARG.
//  - Frames: time stamps k * 10^7 * D / N (100 ns units) from each start, duration to
//    the next stamp; MFSampleExtension_CleanPoint set; one contiguous buffer. Picture
//    contents and colours: FramePattern.h and README.md. MJPG frames are baseline JPEG
//    pictures of the pattern, each buffer exactly one JPEG long.
//
// With no configuration (VirtualCam_Configure(nullptr) or nothing called) the double
// presents its default set (VirtualCamConfig.cpp, README.md): "Pictor Virtual Camera"
// (\\?\virtualcam#pictor-bars, colour bars, every control) and "Pictor Green Screen"
// (\\?\virtualcam#pictor-greenscreen, green screen, VideoProcAmp only), with YUY2 and
// NV12 at 640x480 30/1 first. The environment variable PICTOR_VIRTUALCAM_CONFIG,
// when set, names a configuration file read at first use (the demo uses it); a file
// that cannot be read or parsed gives no camera and a message on stderr.
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

// Live objects of the double, for proving that a session leaves nothing behind.
typedef struct VirtualCamCounts {
  LONG activates;  // IMFActivate objects handed out
  LONG sources;    // media sources
  LONG streams;    // media streams
  LONG samples;    // samples the stream delivered and that are still referenced
  LONG buffers;    // their media buffers
  LONG controls;   // IAMVideoProcAmp / IAMCameraControl objects, if separate (always 0:
                   // both are parts of the media source, counted with it)
  LONG total;      // every COM object of the double
} VirtualCamCounts;

// Replaces the set of cameras. config = nullptr restores the default set. Returns 0,
// or the 1-based line of the first error (with a message in error, if errorSize > 0).
// Camera parameter values are kept per symbolic link across activations, and reset by
// a call of this function.
typedef int(WINAPI* VirtualCam_Configure_t)(const char* config, char* error, int errorSize);

typedef void(WINAPI* VirtualCam_GetCounts_t)(VirtualCamCounts* counts);

// Frames delivered so far by the camera with this symbolic link (0 if unknown).
typedef LONG(WINAPI* VirtualCam_GetFrameCount_t)(const wchar_t* symbolicLink);

// The stored state of one control of the camera with this symbolic link: property 0..9
// are the IAMVideoProcAmp properties (VideoProcAmp_Brightness ...), 10..16 the
// IAMCameraControl ones (CameraControl_Pan + 10 ...). setCalls counts the Set calls the
// property received, failed ones included, so a test can tell "nothing written" from
// "written with the same value". FALSE for an unknown link or property.
typedef BOOL(WINAPI* VirtualCam_GetControl_t)(const wchar_t* symbolicLink, int property, LONG* value, LONG* flags,
                                              LONG* setCalls);

// VirtualCam_Unplug: the camera leaves the device list (activation then fails with
// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) and every stream of it that runs fails with
// MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED: MEError on the stream, and every later request
// fails with it; a request already waiting still gets its frame (Wine 8.0's reader
// ignores MEError and fails the next read). VirtualCam_Plug brings it back
// for new activations. FALSE for an unknown link.
typedef BOOL(WINAPI* VirtualCam_Unplug_t)(const wchar_t* symbolicLink);
typedef BOOL(WINAPI* VirtualCam_Plug_t)(const wchar_t* symbolicLink);

#ifdef __cplusplus
}
#endif
