/* Pictor's C interface: plain functions over opaque handles, exported from Pictor.dll
 * with unmangled names and the __cdecl calling convention (PICTOR_CDECL), so that hosts
 * built with any compiler (MSVC, mingw-w64, clang) or written in another language (C#
 * through DllImport, Python through ctypes, Delphi, Rust) can use the library. It covers
 * what the C++ classes TPictor and TPictorD3D9Preview do, plus the capture status.
 *
 * Calling convention: __cdecl for every function and every callback, in the 32-bit (x86)
 * and the 64-bit (x64) library alike. The DLL exports the plain function names (no
 * leading underscore, no @N): C# needs CallingConvention.Cdecl, Python ctypes.CDLL and
 * CFUNCTYPE, Delphi `cdecl`.
 *
 * Valid C99 and C++. Rules every function follows:
 *  - a function that can fail returns PICTOR_OK (0) or one of the negative PICTOR_E_*
 *    codes below, and writes a log line saying why;
 *  - a null handle, a handle that was destroyed (or never made), or a handle of the other
 *    kind gives PICTOR_E_INVALID_HANDLE; the library never looks through it;
 *  - a null pointer where a record or buffer is needed gives PICTOR_E_NULL_POINTER, a
 *    negative capacity PICTOR_E_INVALID_ARGUMENT; a null buffer with capacity 0 only
 *    counts;
 *  - no C++ exception leaves a function (PICTOR_E_INTERNAL instead);
 *  - callbacks take int where the C++ classes take bool (0 false, anything else true).
 *
 * Threads: one host thread at a time uses a handle, as with the C++ classes. Frame
 * callbacks run on the library's converter thread; from inside a callback the host must
 * not start, stop or destroy the object that called it (PICTOR_E_IN_CALLBACK). COM is
 * the host's: initialise it on the threads that list formats or start captures.
 *
 * The C++ interface's records are these records: TPictorParameter by typedef, the others
 * (TPictorDescr, TPictorFormat, TPictorParameters, TPictorD3D9PreviewImage,
 * TPictorD3D9PreviewChromaKeyingParams) derived from them, adding only constructors. The
 * checks at the end of this file pin their layouts for every compiler that reads it. */
#ifndef PICTOR_C_H
#define PICTOR_C_H

#include <stddef.h>
#include <windows.h>

#if !defined(__cplusplus)
#  include <stdbool.h>
#endif

#include "PictorConfig.h"
#include "PictorPreviewRecords.h" /* PictorPreviewImage, PictorKeyingParams, PICTOR_KEY_* */

#define PICTOR_C_API PICTOR_EXTERN_C PICTOR_API

/* Interface version: major in the high 16 bits, minor in the low 16 bits. A host checks
 * the major number: it changes only when a function or record changes incompatibly. */
#define PICTOR_C_API_VERSION 0x00010004

/* Results. */
#define PICTOR_OK 0
#define PICTOR_E_INVALID_HANDLE (-1)   /* null, destroyed, unknown or of the other kind */
#define PICTOR_E_NULL_POINTER (-2)     /* a required pointer is null */
#define PICTOR_E_INVALID_ARGUMENT (-3) /* a negative capacity */
#define PICTOR_E_FAILED (-4)           /* the operation failed; the log says why */
#define PICTOR_E_IN_CALLBACK (-5)      /* start, stop or destroy from the object's own callback */
#define PICTOR_E_OUT_OF_MEMORY (-6)
#define PICTOR_E_INTERNAL (-7)           /* an unexpected exception inside the library */
#define PICTOR_E_PERSON_UNAVAILABLE (-8) /* person keying: the inference runtime or model cannot be loaded */

/* Text capacities in wide characters, terminating NUL included. */
#define PICTOR_DESCR_TEXT_CAPACITY 512
#define PICTOR_FORMAT_NAME_CAPACITY 256
#define PICTOR_VIDEO_PROC_AMP_COUNT 10
#define PICTOR_CAMERA_CONTROL_COUNT 7

/* One video capture device (TPictorDescr). */
typedef struct PictorDescr {
  wchar_t FriendlyName[PICTOR_DESCR_TEXT_CAPACITY];
  wchar_t SymbolicLink[PICTOR_DESCR_TEXT_CAPACITY]; /* identifies the camera everywhere */
} PictorDescr;

/* One capture format (TPictorFormat): one native media type of the camera's first video
 * stream. A packed 64-bit attribute is split: the field without suffix is the high half
 * (width, numerator), the "Low" field the low half (height, denominator). */
typedef struct PictorFormat {
  unsigned int FrameSize; /* Width * Height */
  unsigned int Height;
  unsigned int Width;
  unsigned int YUVMatrix;
  unsigned int VideoLighting;
  unsigned int DefaultStride; /* signed stride held as its 32-bit pattern */
  unsigned int VideoChromaSiting;
  GUID AMFormatType;
  wchar_t AMFormatTypeName[PICTOR_FORMAT_NAME_CAPACITY];
  unsigned int FixedSizeSamples;
  unsigned int VideoNominalRange;
  unsigned int FrameRate;
  unsigned int FrameRateLow;
  unsigned int PixelAspectRatio;
  unsigned int PixelAspectRatioLow;
  unsigned int AllSamplesIndependent;
  unsigned int FrameRateRangeMin;
  unsigned int FrameRateRangeMinLow;
  unsigned int SampleSize;
  unsigned int VideoPrimaries;
  unsigned int InterlaceMode;
  unsigned int FrameRateRangeMax;
  unsigned int FrameRateRangeMaxLow;
  GUID MajorType;
  wchar_t MajorTypeName[PICTOR_FORMAT_NAME_CAPACITY];
  GUID SubType;
  wchar_t SubTypeName[PICTOR_FORMAT_NAME_CAPACITY];
} PictorFormat;

/* One image or camera-control property (TPictorParameter). */
typedef struct PictorParameter {
  int Value;
  int Min;
  int Max;
  int Step;
  int Default;
  int Flags;  /* 1 = automatic, 2 = manual */
  bool Apply; /* PictorCaptureSetParameters writes this entry only when true */
} PictorParameter;

/* All parameters of one camera (TPictorParameters). The index is the DirectShow
 * property: VideoProcAmp_Brightness (0) .. VideoProcAmp_Gain (9), CameraControl_Pan
 * (0) .. CameraControl_Focus (6). */
typedef struct PictorParameters {
  PictorParameter VideoProcAmp[PICTOR_VIDEO_PROC_AMP_COUNT];
  PictorParameter CameraControl[PICTOR_CAMERA_CONTROL_COUNT];
} PictorParameters;

/* Who converts the camera's frames to 32-bit RGB (TPictorConversion). */
#define PICTOR_CONVERSION_SYSTEM 0   /* the Windows Color Converter DSP (the default) */
#define PICTOR_CONVERSION_BUILT_IN 1 /* the library's own: also MJPG, YUY2 etc. at memory speed */

/* Who composes the keyed preview (TPictorRenderer). */
#define PICTOR_RENDERER_DIRECT3D9 0 /* Direct3D 9 draws and reads back each frame (the default) */
#define PICTOR_RENDERER_SOFTWARE 1  /* composed on the CPU; no Direct3D object is made */

/* Where the preview's matte comes from (TPictorKeyingMode). */
#define PICTOR_KEYING_COLOR 0  /* the colour key (the default) */
#define PICTOR_KEYING_PERSON 1 /* a person segmentation model: no screen needed */

/* Capture states. */
#define PICTOR_CAPTURE_IDLE 0         /* no capture, or stopped by the host */
#define PICTOR_CAPTURE_RUNNING 1      /* frames are being read */
#define PICTOR_CAPTURE_ENDED 2        /* the stream ended by itself, or the camera refused the start; Error says why */
#define PICTOR_CAPTURE_RECONNECTING 3 /* the camera was lost; waiting for it to come back (auto reconnect) */

/* What is known of one delivered frame (TPictorFrameInfo). Times are in 100 ns units.
 * Fields may be added at the end in later versions; the record is the library's, read
 * through the pointer only during the callback. */
typedef struct PictorFrameInfo {
  unsigned long long Sequence;      /* the frame's number since the start, dropped frames counted */
  long long SampleTime;             /* since the stream started (the camera's time stamps); rises
                                       across a reconnection by the time between the frames */
  long long DeviceTime;             /* when the camera took it (MFSampleExtension_DeviceTimestamp,
                                       performance-counter time base); 0 when the camera gives none */
  long long ReadTime;               /* performance counter when the library read it */
  unsigned long long DroppedBefore; /* frames dropped since the previous delivered one */
} PictorFrameInfo;

/* What a capture is doing (also TPictor::GetCaptureStatus). Counters run from the start
 * of the current or last capture. */
typedef struct PictorCaptureStatus {
  int State;                          /* PICTOR_CAPTURE_* */
  HRESULT Error;                      /* ENDED: the failing result (S_OK: end of stream) */
  unsigned long long FramesDelivered; /* frames handed to the frame callback */
  unsigned long long FramesDropped;   /* frames read but not delivered (consumer busy) */
  double FrameRate;                   /* delivered frames per second, measured */
} PictorCaptureStatus;

/* The capture status as it grows (also TPictor::GetCaptureStatusEx). The host sets Size
 * to sizeof(PictorCaptureStatusEx) as it was compiled; the library writes no byte past
 * Size, so a host built against this version keeps working when later versions add
 * fields at the end. Size must be at least this version's 48 bytes. */
typedef struct PictorCaptureStatusEx {
  unsigned int Size;                  /* set by the host before the call */
  int State;                          /* PICTOR_CAPTURE_* */
  HRESULT Error;                      /* ENDED: the failing result; RECONNECTING: the loss */
  unsigned int Reserved;              /* 0 */
  unsigned long long FramesDelivered; /* as in PictorCaptureStatus */
  unsigned long long FramesDropped;
  double FrameRate;
  unsigned long long Reconnects; /* times the camera came back since the start */
} PictorCaptureStatusEx;
#define PICTOR_CAPTURE_STATUS_EX_MIN_SIZE 48

/* Frame callback of a capture: width x height pixels of 4 bytes (blue, green, red,
 * alpha), rows width * 4 bytes apart, valid only during the call; topDown is non-zero
 * when the first row is the top of the picture. The result is ignored. */
typedef int(PICTOR_CDECL* PictorFrameCallback)(unsigned int width, unsigned int height, int topDown,
                                               unsigned char* pixels, void* context);

/* Frame callback with the frame's information first (PictorCaptureStartEx); the rest as
 * PictorFrameCallback. info is valid only during the call. */
typedef int(PICTOR_CDECL* PictorFrameCallbackEx)(const PictorFrameInfo* info, unsigned int width, unsigned int height,
                                                 int topDown, unsigned char* pixels, void* context);

/* Frame callback of a preview: the composited picture, pitch bytes between rows, top row
 * first, valid only during the call. The result is ignored. */
typedef int(PICTOR_CDECL* PictorPreviewCallback)(unsigned int width, unsigned int height, unsigned int pitch,
                                                 unsigned char* pixels, void* context);

/* Camera list callback: cameras have come or gone (PictorSetCameraListCallback). */
typedef void(PICTOR_CDECL* PictorCameraListCallback)(void* context);

/* Opaque handles. */
typedef struct PictorCaptureObject* PictorCapture;
typedef struct PictorPreviewObject* PictorPreview;

/* ---- Library ---- */

/* PICTOR_C_API_VERSION of the loaded library. */
PICTOR_C_API int PICTOR_CDECL PictorGetApiVersion(void);
/* 1 when Media Foundation and every function the library needs are present, else 0. */
PICTOR_C_API int PICTOR_CDECL PictorCanUseMediaFoundation(void);
/* A short English name of a result code ("PICTOR_E_NULL_POINTER"); never null. */
PICTOR_C_API const char* PICTOR_CDECL PictorResultName(int result);
/* A short English sentence for a capture error a host may show (the camera is in use by
 * another application, blocked by the privacy settings, unplugged, taken over, not
 * found), or the HRESULT in hex ("0x80004005") for any other; never null. The hex text
 * stays valid until 32 more unknown results have been described. */
PICTOR_C_API const char* PICTOR_CDECL PictorDescribeResult(HRESULT result);
/* Writes every field of the record to the log. */
PICTOR_C_API int PICTOR_CDECL PictorLogFormat(const PictorFormat* format);

/* ---- Capture ---- */

PICTOR_C_API int PICTOR_CDECL PictorCaptureCreate(PictorCapture* capture);
/* Stops a running capture, then destroys the object. The handle is invalid afterwards. */
PICTOR_C_API int PICTOR_CDECL PictorCaptureDestroy(PictorCapture capture);

PICTOR_C_API int PICTOR_CDECL PictorCaptureGetCameraCount(PictorCapture capture, int* count);
/* Fills up to capacity records; *count gets the number of cameras (may exceed it). */
PICTOR_C_API int PICTOR_CDECL PictorCaptureEnumerateCameras(PictorCapture capture, PictorDescr* cameras, int capacity,
                                                            int* count);

/* Calls callback on a library thread within 2 s of a camera arriving or leaving; null
 * turns it off (waiting for a call in progress unless made from it), and destroying the
 * capture turns it off first. From inside the callback the host may call any function
 * of this capture except PictorCaptureDestroy (PICTOR_E_IN_CALLBACK). */
PICTOR_C_API int PICTOR_CDECL PictorSetCameraListCallback(PictorCapture capture, PictorCameraListCallback callback,
                                                          void* context);

/* Capture formats the library can deliver as 32-bit RGB. link is a camera's SymbolicLink.
 * These open and close the camera: not while the object captures. */
PICTOR_C_API int PICTOR_CDECL PictorCaptureGetFormatCount(PictorCapture capture, const wchar_t* link, int* count);
PICTOR_C_API int PICTOR_CDECL PictorCaptureEnumerateFormats(PictorCapture capture, const wchar_t* link,
                                                            PictorFormat* formats, int capacity, int* count);
/* An index outside the list gives the first format; a camera without one, all zeros. */
PICTOR_C_API int PICTOR_CDECL PictorCaptureGetFormat(PictorCapture capture, const wchar_t* link, int index,
                                                     PictorFormat* format);

/* PICTOR_CONVERSION_*: used from the next format enumeration or capture on; another
 * value gives PICTOR_E_INVALID_ARGUMENT. */
PICTOR_C_API int PICTOR_CDECL PictorCaptureSetConversion(PictorCapture capture, int conversion);

/* Start a capture (a running one is stopped first); PICTOR_E_FAILED when it does not
 * run. topDown asks for top-row-first frames where the library converts. */
PICTOR_C_API int PICTOR_CDECL PictorCaptureStart(PictorCapture capture, const wchar_t* link, int formatIndex,
                                                 int topDown, PictorFrameCallback callback, void* context);
PICTOR_C_API int PICTOR_CDECL PictorCaptureStartFormat(PictorCapture capture, const wchar_t* link,
                                                       const PictorFormat* format, int topDown,
                                                       PictorFrameCallback callback, void* context);
/* PictorCaptureStart with a callback that also receives the frame's information. */
PICTOR_C_API int PICTOR_CDECL PictorCaptureStartEx(PictorCapture capture, const wchar_t* link, int formatIndex,
                                                   int topDown, PictorFrameCallbackEx callback, void* context);
/* on != 0: a capture whose camera is lost waits (PICTOR_CAPTURE_RECONNECTING) and resumes
 * with the same format, row order and callback when a camera with the same link is back;
 * 0 (the default): the loss ends the capture. Takes effect at once, also while capturing. */
PICTOR_C_API int PICTOR_CDECL PictorCaptureSetAutoReconnect(PictorCapture capture, int on);
/* Ends the capture and closes the camera; no callback runs after it returns. */
PICTOR_C_API int PICTOR_CDECL PictorCaptureStop(PictorCapture capture);
/* *active = 1 while a capture thread exists (also after the stream has ended). */
PICTOR_C_API int PICTOR_CDECL PictorCaptureIsActive(PictorCapture capture, int* active);
/* State, error, counters and frame rate of the current or last capture. A stream error
 * shows as PICTOR_CAPTURE_ENDED with its HRESULT as soon as the read fails (or, with auto
 * reconnect on, as PICTOR_CAPTURE_RECONNECTING); so does a start that the camera refused
 * (in use, blocked by the privacy settings, gone). PictorDescribeResult tells why. */
PICTOR_C_API int PICTOR_CDECL PictorCaptureGetStatus(PictorCapture capture, PictorCaptureStatus* status);

/* The same with the fields added since, as far as status->Size reaches (see
 * PictorCaptureStatusEx); a Size under PICTOR_CAPTURE_STATUS_EX_MIN_SIZE gives
 * PICTOR_E_INVALID_ARGUMENT and writes nothing. */
PICTOR_C_API int PICTOR_CDECL PictorCaptureGetStatusEx(PictorCapture capture, PictorCaptureStatusEx* status);

/* Camera parameters; each opens and closes the camera: not while the object captures. */
PICTOR_C_API int PICTOR_CDECL PictorCaptureGetParameters(PictorCapture capture, const wchar_t* link,
                                                         PictorParameters* parameters);
/* Writes the entries whose Apply is true. */
PICTOR_C_API int PICTOR_CDECL PictorCaptureSetParameters(PictorCapture capture, const wchar_t* link,
                                                         const PictorParameters* parameters);
PICTOR_C_API int PICTOR_CDECL PictorCaptureSetDefaultParameters(PictorCapture capture, const wchar_t* link);

/* ---- Keyed preview ---- */

/* Creates the preview's hidden window on the calling thread; destroy it on that thread. */
PICTOR_C_API int PICTOR_CDECL PictorPreviewCreate(PictorPreview* preview);
/* Stops the preview's capture, then destroys the object. */
PICTOR_C_API int PICTOR_CDECL PictorPreviewDestroy(PictorPreview preview);
/* Starts (or restarts) the keyed preview. background and params may be null: a null
 * background keeps the current one, null params keep the current keying (or none). */
PICTOR_C_API int PICTOR_CDECL PictorPreviewStart(PictorPreview preview, const wchar_t* link, int formatIndex,
                                                 int topDown, const PictorPreviewImage* background,
                                                 const PictorKeyingParams* params, PictorPreviewCallback callback,
                                                 void* context);
/* PICTOR_CONVERSION_* of the preview's capture, from the next PictorPreviewStart on. */
PICTOR_C_API int PICTOR_CDECL PictorPreviewSetConversion(PictorPreview preview, int conversion);
/* PICTOR_RENDERER_* of the preview, from the next PictorPreviewStart on. */
PICTOR_C_API int PICTOR_CDECL PictorPreviewSetRenderer(PictorPreview preview, int renderer);
/* Copies the image as the background; null removes it. */
PICTOR_C_API int PICTOR_CDECL PictorPreviewSetBackground(PictorPreview preview, const PictorPreviewImage* image);
/* The first of these four switches keying on, with the defaults for the rest. */
PICTOR_C_API int PICTOR_CDECL PictorPreviewSetSensitivity(PictorPreview preview, float sensitivity);
PICTOR_C_API int PICTOR_CDECL PictorPreviewSetSmoothing(PictorPreview preview, float smoothing);
PICTOR_C_API int PICTOR_CDECL PictorPreviewSetOpacity(PictorPreview preview, unsigned char opacity);
PICTOR_C_API int PICTOR_CDECL PictorPreviewSetKeyColor(PictorPreview preview, int colorType, unsigned int customColor);
/* PICTOR_KEYING_* (TPictorD3D9Preview::SetKeyingMode, which says what the keying record
 * means in person mode). The first switch to PICTOR_KEYING_PERSON loads the inference
 * runtime and model from beside Pictor.dll and waits for them (about 0.3 s);
 * PICTOR_E_PERSON_UNAVAILABLE, with a log line saying what is missing, when they cannot be
 * loaded (always on x86: there is no runtime for it), and the mode stays as it was. */
PICTOR_C_API int PICTOR_CDECL PictorPreviewSetKeyingMode(PictorPreview preview, int mode);
/* For real screens, both off by default. Spill suppression: on kept pixels the key
 * colour's excess over the mean of the other two channels goes, in proportion to strength
 * (0 off .. 1 all). Edge choke: the matte shrinks by 0-3 pixels before it is softened.
 * Values outside those ranges give PICTOR_E_INVALID_ARGUMENT. */
PICTOR_C_API int PICTOR_CDECL PictorPreviewSetSpillSuppression(PictorPreview preview, float strength);
PICTOR_C_API int PICTOR_CDECL PictorPreviewSetEdgeChoke(PictorPreview preview, unsigned int pixels);
/* The screen's colour in the latest camera frame as 0xRRGGBB, for PictorPreviewSetKeyColor
 * with PICTOR_KEY_CUSTOM; PICTOR_E_FAILED when no frame has arrived or no screen is found. */
PICTOR_C_API int PICTOR_CDECL PictorPreviewSampleKeyColor(PictorPreview preview, unsigned int* color);
/* The default keying parameters (sensitivity 0.49512199, smoothing 0.52926803, opacity
 * 255, green, custom colour 0). */
PICTOR_C_API int PICTOR_CDECL PictorDefaultKeyingParams(PictorKeyingParams* params);
/* Ends the preview: no callback runs after it returns, the camera is closed; the settings
 * stay for the next PictorPreviewStart. Nothing to do when none runs. */
PICTOR_C_API int PICTOR_CDECL PictorPreviewStop(PictorPreview preview);
/* The status of the preview's capture, as PictorCaptureGetStatusEx gives it (frames
 * delivered count those handed to the preview); PICTOR_CAPTURE_IDLE before the first
 * start and after a stop. A Size under PICTOR_CAPTURE_STATUS_EX_MIN_SIZE gives
 * PICTOR_E_INVALID_ARGUMENT and writes nothing. */
PICTOR_C_API int PICTOR_CDECL PictorPreviewGetStatus(PictorPreview preview, PictorCaptureStatusEx* status);
/* As PictorCaptureSetAutoReconnect, for the preview's capture (0, off, by default): on,
 * a lost camera is waited for and the preview goes on when it is back; off, the loss ends
 * it (PICTOR_CAPTURE_ENDED). Takes effect at once, also while the preview runs. */
PICTOR_C_API int PICTOR_CDECL PictorPreviewSetAutoReconnect(PictorPreview preview, int on);

/* ---- Layout pins, for hosts in any language that declare these records themselves. The
 * numbers hold for 32- and 64-bit Windows alike except where a pointer-sized field
 * follows the pointer. A bool is one byte (C# declares it with UnmanagedType.U1). */
#define PICTOR_PIN(type, field, offset) PICTOR_STATIC_ASSERT(offsetof(type, field) == (offset), #type "." #field)
#define PICTOR_FIELD_SIZE(type, field, size) \
  PICTOR_STATIC_ASSERT(sizeof(((type*)0)->field) == (size), #type "." #field " size")
PICTOR_PIN(PictorDescr, SymbolicLink, 1024);
PICTOR_STATIC_ASSERT(sizeof(PictorDescr) == 2048, "PictorDescr size");
PICTOR_PIN(PictorFormat, AMFormatType, 28);
PICTOR_PIN(PictorFormat, AMFormatTypeName, 44);
PICTOR_PIN(PictorFormat, FixedSizeSamples, 556);
PICTOR_PIN(PictorFormat, FrameRateRangeMaxLow, 608);
PICTOR_PIN(PictorFormat, MajorType, 612);
PICTOR_PIN(PictorFormat, MajorTypeName, 628);
PICTOR_PIN(PictorFormat, SubType, 1140);
PICTOR_PIN(PictorFormat, SubTypeName, 1156);
PICTOR_STATIC_ASSERT(sizeof(PictorFormat) == 1668, "PictorFormat size");
PICTOR_PIN(PictorParameter, Apply, 24);
PICTOR_FIELD_SIZE(PictorParameter, Apply, 1);
PICTOR_STATIC_ASSERT(sizeof(PictorParameter) == 28, "PictorParameter size");
PICTOR_PIN(PictorParameters, CameraControl, 280);
PICTOR_STATIC_ASSERT(sizeof(PictorParameters) == 17 * 28, "PictorParameters size");
PICTOR_PIN(PictorPreviewImage, Data, sizeof(void*) == 8 ? 16 : 12);
PICTOR_PIN(PictorPreviewImage, TopDown, sizeof(void*) == 8 ? 24 : 16);
PICTOR_FIELD_SIZE(PictorPreviewImage, TopDown, 1);
PICTOR_STATIC_ASSERT(sizeof(PictorPreviewImage) == (sizeof(void*) == 8 ? 32 : 20), "PictorPreviewImage size");
PICTOR_PIN(PictorKeyingParams, Opacity, 8);
PICTOR_PIN(PictorKeyingParams, ColorType, 12);
PICTOR_FIELD_SIZE(PictorKeyingParams, ColorType, 4);
PICTOR_PIN(PictorKeyingParams, CustomColor, 16);
PICTOR_STATIC_ASSERT(sizeof(PictorKeyingParams) == 20, "PictorKeyingParams size");
PICTOR_PIN(PictorCaptureStatus, Error, 4);
PICTOR_PIN(PictorCaptureStatus, FramesDelivered, 8);
PICTOR_PIN(PictorCaptureStatus, FramesDropped, 16);
PICTOR_PIN(PictorCaptureStatus, FrameRate, 24);
PICTOR_STATIC_ASSERT(sizeof(PictorCaptureStatus) == 32, "PictorCaptureStatus size");
PICTOR_PIN(PictorCaptureStatusEx, State, 4);
PICTOR_PIN(PictorCaptureStatusEx, Error, 8);
PICTOR_PIN(PictorCaptureStatusEx, FramesDelivered, 16);
PICTOR_PIN(PictorCaptureStatusEx, FramesDropped, 24);
PICTOR_PIN(PictorCaptureStatusEx, FrameRate, 32);
PICTOR_PIN(PictorCaptureStatusEx, Reconnects, 40);
PICTOR_STATIC_ASSERT(sizeof(PictorCaptureStatusEx) == PICTOR_CAPTURE_STATUS_EX_MIN_SIZE, "PictorCaptureStatusEx size");
PICTOR_PIN(PictorFrameInfo, SampleTime, 8);
PICTOR_PIN(PictorFrameInfo, DeviceTime, 16);
PICTOR_PIN(PictorFrameInfo, ReadTime, 24);
PICTOR_PIN(PictorFrameInfo, DroppedBefore, 32);
PICTOR_STATIC_ASSERT(sizeof(PictorFrameInfo) == 40, "PictorFrameInfo size");
#undef PICTOR_PIN
#undef PICTOR_FIELD_SIZE

#endif /* PICTOR_C_H */
