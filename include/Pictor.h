// The camera class TPictor and the records a host exchanges with it.
//
// A host is compiled separately and passes these records by value and through pointers
// to arrays, so their field order, widths and text capacities are part of the binary
// interface: natural alignment gives exactly the sizes the static_asserts below pin.
// The host needs no Media Foundation headers: the interfaces TPictor holds are only
// forward-declared here.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <exception>
#include <string>

#include "PictorC.h"
#include "PictorConfig.h"

struct IMFMediaSource;
struct IMFSourceReader;
struct IMFSample;
class TMFRuntime;
class TMFVideoConverter;
class TPictorState;

// Capacities of the text fields, in wide characters including the terminating NUL.
constexpr int kPictorDescrTextCapacity = 512;
constexpr int kPictorFormatNameCapacity = 256;

// One video capture device. No constructor: the library writes a field only when it has
// read the value, so a host may pre-fill the array with a marker of its own.
struct TPictorDescr {
  wchar_t FriendlyName[kPictorDescrTextCapacity];
  wchar_t SymbolicLink[kPictorDescrTextCapacity];  // identifies the camera everywhere
};

// One capture format: one native media type of the camera's first video stream. A packed
// 64-bit attribute is split: the field without suffix is the high half (width,
// numerator), the "Low" field the low half (height, denominator). An attribute the type
// does not carry leaves its field 0. Two records stand for the same format when all
// fields except the three name fields are equal.
struct TPictorFormat {
  unsigned int FrameSize;  // Width * Height, 32-bit product
  unsigned int Height;
  unsigned int Width;
  unsigned int YUVMatrix;
  unsigned int VideoLighting;
  unsigned int DefaultStride;  // signed stride held as its 32-bit pattern
  unsigned int VideoChromaSiting;
  GUID AMFormatType;
  wchar_t AMFormatTypeName[kPictorFormatNameCapacity];
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
  wchar_t MajorTypeName[kPictorFormatNameCapacity];
  GUID SubType;
  wchar_t SubTypeName[kPictorFormatNameCapacity];

  // Every field zero, every name empty. The record is plain data: copying copies every
  // field and destruction does nothing.
  // clang-format off
  TPictorFormat() : FrameSize(0), Height(0), Width(0), YUVMatrix(0), VideoLighting(0),
        DefaultStride(0), VideoChromaSiting(0), AMFormatType(), AMFormatTypeName(),
        FixedSizeSamples(0), VideoNominalRange(0), FrameRate(0), FrameRateLow(0),
        PixelAspectRatio(0), PixelAspectRatioLow(0), AllSamplesIndependent(0),
        FrameRateRangeMin(0), FrameRateRangeMinLow(0), SampleSize(0), VideoPrimaries(0),
        InterlaceMode(0), FrameRateRangeMax(0), FrameRateRangeMaxLow(0), MajorType(),
        MajorTypeName(), SubType(), SubTypeName() {}
  // clang-format on
};

// One image or camera-control property of a camera.
struct TPictorParameter {
  int Value;
  int Min;
  int Max;
  int Step;
  int Default;
  int Flags;   // 1 = automatic, 2 = manual (DirectShow control flags)
  bool Apply;  // SetParameters writes this entry only when true

  TPictorParameter() : Value(0), Min(0), Max(0), Step(0), Default(0), Flags(0), Apply(false) {}
};

// All parameters of one camera. The array index is the property value the DirectShow
// interface takes: VideoProcAmp_Brightness (0) .. VideoProcAmp_Gain (9) and
// CameraControl_Pan (0) .. CameraControl_Focus (6).
struct TPictorParameters {
  static constexpr int kVideoProcAmpCount = 10;
  static constexpr int kCameraControlCount = 7;
  TPictorParameter VideoProcAmp[kVideoProcAmpCount];
  TPictorParameter CameraControl[kCameraControlCount];
};

// The host's frame callback, called on the converter's thread for every delivered frame.
// pixels holds width * height 4-byte pixels (blue, green, red, alpha), rows width * 4
// bytes apart, valid only during the call. topDown is true when the first row in memory
// is the top of the picture. The result is ignored.
typedef bool (*TImageReadyCallback)(unsigned int width, unsigned int height, bool topDown, unsigned char* pixels,
                                    void* context);

// What is known of one delivered frame: the C interface's record (PictorC.h).
typedef PictorFrameInfo TPictorFrameInfo;

// The frame callback of StartCaptureEx: the frame's information first, the rest as
// TImageReadyCallback. info is valid only during the call.
typedef bool (*TImageReadyCallbackEx)(const TPictorFrameInfo* info, unsigned int width, unsigned int height,
                                      bool topDown, unsigned char* pixels, void* context);

// Called on a library thread when cameras have come or gone (SetCameraListCallback).
typedef void (*TCameraListChangedProc)(void* context);

// Who turns the camera's frames into RGB32. pcSystemConverter (the default) uses the
// Windows Color Converter DSP and lists only the formats it accepts. pcBuiltIn converts
// with the library's own code: it also lists and decodes MJPG (what most webcams deliver
// at 720p and 1080p at full rate), converts YUY2, UYVY, NV12, I420/IYUV and YV12 at about
// memory speed, and passes RGB32/ARGB32 on; other subtypes are not listed.
enum TPictorConversion : int { pcSystemConverter = 0, pcBuiltIn = 1 };

// What a capture is doing: the C interface's record (PictorC.h), one layout for both.
typedef PictorCaptureStatus TPictorCaptureStatus;

// The status as it grows: Size set by the caller, nothing written past it (PictorC.h).
typedef PictorCaptureStatusEx TPictorCaptureStatusEx;

// Base of the library's exceptions: a message text returned by what().
class PICTOR_API EBaseException : public std::exception {
 public:
  explicit EBaseException(const char* message) : Message(message ? message : "") {}
  ~EBaseException() override {}
  const char* what() const noexcept override { return Message.c_str(); }

  std::string Message;
};

// Thrown (as a heap pointer, message "Error in TPictor") only by the sample copies of the
// capture path; nothing in the library catches it.
class PICTOR_API EPictor : public EBaseException {
 public:
  explicit EPictor(const char* message) : EBaseException(message) {}
};

// A host's view of the computer's webcams. One host thread at a time uses an object;
// while a capture runs, the library's capture and converter threads use it too.
class PICTOR_API TPictor {
 public:
  TPictor();
  ~TPictor();
  TPictor(const TPictor&) = delete;
  TPictor& operator=(const TPictor&) = delete;

  // True when the Media Foundation libraries and every function the library needs are
  // present. Starts nothing and writes no log line.
  static bool CanUseMFAPI();

  // Calls callback on a library thread within 2 s of a camera arriving or leaving, until
  // it is set to null or the object is destroyed (which turns it off first). Setting it
  // to null waits for a call in progress, unless it comes from that call itself.
  void SetCameraListCallback(TCameraListChangedProc callback, void* context);

  int GetWebCamerasCount();
  // Fills up to capacity descriptors; returns the number of devices found.
  int EnumerateWebCameras(TPictorDescr* descrs, int capacity);

  // Capture formats the library can deliver as RGB32.
  int GetCaptureFormatsCount(const wchar_t* symbolicLink);
  int EnumerateCaptureFormats(const wchar_t* symbolicLink, TPictorFormat* formats, int capacity);
  TPictorFormat GetPictorFormatByIndex(const wchar_t* symbolicLink, int index);
  static void LogPictorFormatProperties(TPictorFormat format);

  bool StartCapture(const wchar_t* symbolicLink, TPictorFormat format, bool topDown, TImageReadyCallback callback,
                    void* context);
  bool StartCapture(const wchar_t* symbolicLink, int formatIndex, bool topDown, TImageReadyCallback callback,
                    void* context);
  // StartCapture with a callback that also receives the frame's information.
  bool StartCaptureEx(const wchar_t* symbolicLink, int formatIndex, bool topDown, TImageReadyCallbackEx callback,
                      void* context);
  void StopCapture();
  bool IsCaptureActive();
  // Idle, running, reconnecting (SetAutoReconnect), or ended by the stream or by a camera
  // that refused the start (with the failing HRESULT; PictorDescribeResult), frames delivered
  // and dropped since the start, and the measured frame rate. Beyond IsCaptureActive,
  // which stays true after the stream has ended, until StopCapture.
  TPictorCaptureStatus GetCaptureStatus();
  // The same with the fields added since (the reconnect count), written up to
  // status->Size bytes; false, writing nothing, for a null record or a Size under
  // PICTOR_CAPTURE_STATUS_EX_MIN_SIZE.
  bool GetCaptureStatusEx(TPictorCaptureStatusEx* status);

  // Off by default. On: a capture whose camera is lost waits with the state
  // PICTOR_CAPTURE_RECONNECTING and resumes with the same format, row order and callback
  // when a camera with the same symbolic link is back (the status counts it). Off: the
  // loss ends the capture (ENDED with its result).
  void SetAutoReconnect(bool reconnect);

  // The converter used from the next format enumeration or capture on (a running
  // capture keeps its own). A value outside the enumeration is refused with a log line.
  void SetConversion(TPictorConversion conversion);
  TPictorConversion GetConversion() const;

  TPictorParameters GetParameters(const wchar_t* symbolicLink);
  void SetParameters(const wchar_t* symbolicLink, TPictorParameters parameters);
  void SetDefaultParameters(const wchar_t* symbolicLink);

 private:
  friend class TCaptureSession;    // the running capture, the converter's frame sink
  friend class TCameraAccess;      // how parameter and format calls reach a camera
  friend class TPictorTestAccess;  // white-box tests

  // Open / close the camera slot (pMediaSource, pSourceReader).
  bool ActivateDevice(const wchar_t* symbolicLink);
  bool ActivateDeviceInternal(const wchar_t* symbolicLink);
  void DeactivateDevice();

  // Frame delivery, called on the converter's thread.
  IMFSample* CreateNewOutputSample(unsigned int width, unsigned int height);
  void ProcessRGB32Sample(IMFSample* sample, unsigned int width, unsigned int height, bool topDown);

  // The capture thread: runs the capture session's loop.
  static DWORD WINAPI CaptureThreadApi(LPVOID parameter);
  static void CaptureThread(TPictor* pictor);

  TMFRuntime* pMFRuntime;
  // The camera slot of the format, parameter and activation calls, host thread only. A
  // capture takes the camera it opens here into its session, which owns it until the stop.
  IMFMediaSource* pMediaSource;
  IMFSourceReader* pSourceReader;
  TMFVideoConverter* pMFVideoConverter;
  HANDLE hCaptureThread;  // the running session's thread (its handle is the session's); null while none runs
  DWORD dwCaptureThreadId;
  // Written by the host thread, read by the capture thread between reads. std::atomic<bool>
  // has the size and alignment of bool.
  std::atomic<bool> bStopCapture;
  TImageReadyCallback pPictorImageReady;
  void* pImageReadyContext;
  // Everything else the object keeps (settings, status, the running capture's session):
  // owned, made by the constructor.
  TPictorState* pState;
};

// Hosts create TPictor themselves, on the stack or with new, so its size is part of the
// binary interface: from this version on it never changes. New state goes behind pState.
static_assert(sizeof(void*) != 8 || sizeof(TPictor) == 72, "TPictor's size on x64 is fixed");
static_assert(sizeof(void*) != 4 || sizeof(TPictor) == 40, "TPictor's size on x86 is fixed");

// Record sizes shared with hosts; every field offset is pinned by the layout tests.
static_assert(sizeof(TPictorDescr) == 2048, "TPictorDescr layout");
static_assert(sizeof(TPictorFormat) == 1668, "TPictorFormat layout");
static_assert(offsetof(TPictorFormat, SubTypeName) == 1156, "TPictorFormat layout");
static_assert(sizeof(TPictorParameter) == 28, "TPictorParameter layout");
static_assert(sizeof(TPictorParameters) == 17 * 28, "TPictorParameters layout");
