// How the parameter and format operations reach a camera. While the object is idle they
// open the camera in the object's slot and close it again. While it captures, the slot
// belongs to the capture thread, which reads through it and replaces it when it reopens a
// lost camera: closing it would end the capture and hang StopCapture. The captured camera
// is then reached through the running session (a reference to its media source taken for
// the call, the native types read at its start) without closing anything, and any other
// camera through a temporary activation of the call's own.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include <string>
#include <vector>

struct IMFMediaSource;
struct IMFSourceReader;
struct IMFMediaType;
class TMFRuntime;
class TReadCallback;
class TPictor;

// Creates the device source for a symbolic link and a source reader over it, in
// asynchronous mode when a callback is given, reading then through a source that reports
// the camera's failures to the callback; writes the error line of a failing step. A source
// may be left without a reader on failure. `failure`, when given, receives the failing
// step's result (S_OK on success).
bool OpenCameraDevice(TMFRuntime* runtime, const wchar_t* link, IMFMediaSource** source, IMFSourceReader** reader,
                      TReadCallback* callback = nullptr, HRESULT* failure = nullptr);

// The running capture's camera, kept by its session from the start of a capture to its stop.
class TCaptureCamera {
 public:
  explicit TCaptureCamera(const wchar_t* link) : Link(link ? link : L"") {}
  TCaptureCamera(const TCaptureCamera&) = delete;
  TCaptureCamera& operator=(const TCaptureCamera&) = delete;

  // Host thread, at the start: reads every native type of the reader's first video stream.
  void ReadNativeTypes(IMFSourceReader* reader);

  // Host thread: a reference to the camera's media source, null while a lost camera is
  // waited for. Capture thread: the source changes (null at the loss, the reopened camera's
  // when it is back); the replaced one is returned. The lock is held only to take or swap
  // the reference, never while a call goes to the camera; a call keeps the source it took,
  // even once it is replaced.
  Microsoft::WRL::ComPtr<IMFMediaSource> Source();
  Microsoft::WRL::ComPtr<IMFMediaSource> Replace(Microsoft::WRL::ComPtr<IMFMediaSource> source);

  const std::wstring Link;
  std::vector<Microsoft::WRL::ComPtr<IMFMediaType>> NativeTypes;
  HRESULT NativeTypesEnd = S_OK;  // what GetNativeMediaType gave after the last type

 private:
  SRWLOCK SourceLock = SRWLOCK_INIT;
  Microsoft::WRL::ComPtr<IMFMediaSource> CurrentSource;
};

class TCameraAccess {
 public:
  // Opens the camera (an "exit unable to activate" line is the caller's).
  TCameraAccess(TPictor& pictor, const wchar_t* link);
  ~TCameraAccess();  // closes what this access opened, nothing else
  TCameraAccess(const TCameraAccess&) = delete;
  TCameraAccess& operator=(const TCameraAccess&) = delete;

  bool Opened() const { return bOpened; }
  // Null while the running capture waits for its lost camera.
  IMFMediaSource* Source() const;
  // Selects only the first video stream; the running session's selection stays.
  HRESULT SelectFirstVideoStream();
  // Native type `index` of the first video stream, as GetNativeMediaType gives it.
  HRESULT NativeType(DWORD index, IMFMediaType** type);

 private:
  TPictor& Pictor;
  TCaptureCamera* pSession = nullptr;  // the running session's camera, or null
  bool bTemporary = false;             // a capture runs on another camera
  bool bOpened = false;
  // The running session camera's source, taken for the whole call.
  Microsoft::WRL::ComPtr<IMFMediaSource> SessionSource;
  Microsoft::WRL::ComPtr<IMFMediaSource> TemporarySource;
  Microsoft::WRL::ComPtr<IMFSourceReader> TemporaryReader;
};
