// The camera class TPictor and the records a host exchanges with it.
//
// A host is compiled separately and passes these records by value and through pointers
// to arrays, so their field order, widths and text capacities are part of the binary
// interface: they are the C interface's records, whose layouts PictorC.h pins.
// The host needs no Media Foundation headers: the interfaces TPictor holds are only
// forward-declared here.
#pragma once

#include <windows.h>

#include <atomic>
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
constexpr int kPictorDescrTextCapacity = PICTOR_DESCR_TEXT_CAPACITY;
constexpr int kPictorFormatNameCapacity = PICTOR_FORMAT_NAME_CAPACITY;

// The records are the C interface's (PictorC.h, where their layouts are pinned), with the
// constructors the C++ interface has.

// One video capture device. No constructor: the library writes a field only when it has
// read the value, so a host may pre-fill the array with a marker of its own. A type of
// its own rather than a typedef, so that the exported functions taking it keep their
// names.
struct TPictorDescr : PictorDescr {};

// One capture format: one native media type of the camera's first video stream. An
// attribute the type does not carry leaves its field 0. Two records stand for the same
// format when all fields except the three name fields are equal.
struct TPictorFormat : PictorFormat {
  // Every field zero, every name empty. Copying copies every field.
  TPictorFormat() : PictorFormat() {}
};

// One image or camera-control property of a camera.
typedef PictorParameter TPictorParameter;

// All parameters of one camera, every field of every entry 0 or false until read.
struct TPictorParameters : PictorParameters {
  static constexpr int kVideoProcAmpCount = PICTOR_VIDEO_PROC_AMP_COUNT;
  static constexpr int kCameraControlCount = PICTOR_CAMERA_CONTROL_COUNT;
  TPictorParameters() : PictorParameters() {}
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
// while a capture runs, the library's capture and converter threads use it too. Each
// public member is exported on its own (PICTOR_API), the private ones are not.
class TPictor {
 public:
  PICTOR_API TPictor();
  PICTOR_API ~TPictor();
  TPictor(const TPictor&) = delete;
  TPictor& operator=(const TPictor&) = delete;

  // True when the Media Foundation libraries and every function the library needs are
  // present. Starts nothing and writes no log line.
  PICTOR_API static bool CanUseMFAPI();

  // Calls callback on a library thread within 2 s of a camera arriving or leaving, until
  // it is set to null or the object is destroyed (which turns it off first). Setting it
  // to null waits for a call in progress, unless it comes from that call itself.
  PICTOR_API void SetCameraListCallback(TCameraListChangedProc callback, void* context);

  PICTOR_API int GetWebCamerasCount();
  // Fills up to capacity descriptors; returns the number of devices found.
  PICTOR_API int EnumerateWebCameras(TPictorDescr* descrs, int capacity);

  // Capture formats the library can deliver as RGB32.
  PICTOR_API int GetCaptureFormatsCount(const wchar_t* symbolicLink);
  PICTOR_API int EnumerateCaptureFormats(const wchar_t* symbolicLink, TPictorFormat* formats, int capacity);
  PICTOR_API TPictorFormat GetPictorFormatByIndex(const wchar_t* symbolicLink, int index);
  PICTOR_API static void LogPictorFormatProperties(TPictorFormat format);

  PICTOR_API bool StartCapture(const wchar_t* symbolicLink, TPictorFormat format, bool topDown,
                               TImageReadyCallback callback, void* context);
  PICTOR_API bool StartCapture(const wchar_t* symbolicLink, int formatIndex, bool topDown, TImageReadyCallback callback,
                               void* context);
  // StartCapture with a callback that also receives the frame's information.
  PICTOR_API bool StartCaptureEx(const wchar_t* symbolicLink, int formatIndex, bool topDown,
                                 TImageReadyCallbackEx callback, void* context);
  PICTOR_API void StopCapture();
  PICTOR_API bool IsCaptureActive();
  // Idle, running, reconnecting (SetAutoReconnect), or ended by the stream or by a camera
  // that refused the start (with the failing HRESULT; PictorDescribeResult), frames delivered
  // and dropped since the start, and the measured frame rate (falling while no frame comes,
  // so a stalled camera shows). Beyond IsCaptureActive, which stays true after the stream
  // has ended, until StopCapture.
  PICTOR_API TPictorCaptureStatus GetCaptureStatus();
  // The same with the fields added since (the reconnect count), written up to
  // status->Size bytes; false, writing nothing, for a null record or a Size under
  // PICTOR_CAPTURE_STATUS_EX_MIN_SIZE.
  PICTOR_API bool GetCaptureStatusEx(TPictorCaptureStatusEx* status);

  // Off by default. On: a capture whose camera is lost waits with the state
  // PICTOR_CAPTURE_RECONNECTING and resumes with the same format, row order and callback
  // when a camera with the same symbolic link is back (the status counts it). Off: the
  // loss ends the capture (ENDED with its result); turned off during a wait, at once.
  PICTOR_API void SetAutoReconnect(bool reconnect);

  // The converter used from the next format enumeration or capture on (a running
  // capture keeps its own). A value outside the enumeration is refused with a log line.
  PICTOR_API void SetConversion(TPictorConversion conversion);
  PICTOR_API TPictorConversion GetConversion() const;

  PICTOR_API TPictorParameters GetParameters(const wchar_t* symbolicLink);
  PICTOR_API void SetParameters(const wchar_t* symbolicLink, TPictorParameters parameters);
  PICTOR_API void SetDefaultParameters(const wchar_t* symbolicLink);

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
