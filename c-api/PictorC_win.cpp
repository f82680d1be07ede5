// The C interface (include/PictorC.h): the library functions and the capture handle, each
// a thin checked layer over TPictor. Every function validates its handle and pointers
// first, logs and returns a code for what it refuses, and lets no exception out.
#include "PictorC.h"

#include "Pictor.h"
#include "c-api/PictorCHandles.h"
#include "log/Log.h"

#include <cstring>

static_assert(PICTOR_CONVERSION_SYSTEM == pcSystemConverter && PICTOR_CONVERSION_BUILT_IN == pcBuiltIn,
              "conversion values");

using namespace pictorc;

namespace {

struct TCaptureObject : TObject {
  TCaptureObject() : TObject(THandleKind::Capture) {}
  // The list notices end before the fields their thunk reads go.
  ~TCaptureObject() override { Pictor.SetCameraListCallback(nullptr, nullptr); }
  TPictor Pictor;
  // Written only while no capture runs; read by the converter thread.
  PictorFrameCallback Callback = nullptr;
  PictorFrameCallbackEx CallbackEx = nullptr;
  void* Context = nullptr;
  // The camera list callback: set by the host thread while the watcher's thread may read
  // it; the lock is never held during the call.
  SRWLOCK ListLock = SRWLOCK_INIT;
  PictorCameraListCallback ListCallback = nullptr;
  void* ListContext = nullptr;
  // Marks the camera list callback's thread (TCallbackScope): only a destroy is refused
  // there, since it would wait for that thread.
  char ListCallbackMarker = 0;
};

void CameraListThunk(void* context)
{
  TCaptureObject* object = static_cast<TCaptureObject*>(context);
  AcquireSRWLockShared(&object->ListLock);
  const PictorCameraListCallback callback = object->ListCallback;
  void* const hostContext = object->ListContext;
  ReleaseSRWLockShared(&object->ListLock);
  const TCallbackScope scope(&object->ListCallbackMarker);
  if (callback) callback(hostContext);
}

bool CaptureThunk(unsigned int width, unsigned int height, bool topDown, unsigned char* pixels, void* context)
{
  TCaptureObject* object = static_cast<TCaptureObject*>(context);
  const TCallbackScope scope(object);
  object->Callback(width, height, topDown ? 1 : 0, pixels, object->Context);
  return true;
}

bool CaptureThunkEx(const TPictorFrameInfo* info, unsigned int width, unsigned int height, bool topDown,
                    unsigned char* pixels, void* context)
{
  TCaptureObject* object = static_cast<TCaptureObject*>(context);
  const TCallbackScope scope(object);
  object->CallbackEx(info, width, height, topDown ? 1 : 0, pixels, object->Context);
  return true;
}

std::shared_ptr<TCaptureObject> FindCapture(const char* function, PictorCapture capture)
{
  return Lookup<TCaptureObject>(function, capture, THandleKind::Capture);
}

// The checks shared by the buffer-filling functions.
int CheckBuffer(const char* function, const void* buffer, int capacity, const int* count)
{
  if (!count) return Fail(function, PICTOR_E_NULL_POINTER, "count is null");
  if (capacity < 0) return Fail(function, PICTOR_E_INVALID_ARGUMENT, "capacity is negative");
  if (!buffer && capacity > 0) return Fail(function, PICTOR_E_NULL_POINTER, "buffer is null");
  return PICTOR_OK;
}

void SetCallback(TCaptureObject& object, PictorFrameCallback callback)
{
  object.Callback = callback;
  object.CallbackEx = nullptr;
}

void SetCallback(TCaptureObject& object, PictorFrameCallbackEx callback)
{
  object.Callback = nullptr;
  object.CallbackEx = callback;
}

// Start by index or by format: the same checks, then the running capture is stopped
// before the callback fields change under its converter thread.
template <typename Callback, typename Start>
int StartCapture(const char* function, PictorCapture capture, const wchar_t* link, bool formatMissing,
                 Callback callback, void* context, Start start)
{
  const auto object = FindCapture(function, capture);
  if (!object) return PICTOR_E_INVALID_HANDLE;
  if (InCallbackOf(object.get()))
    return Fail(function, PICTOR_E_IN_CALLBACK, "called from the capture's own frame callback");
  if (!link) return Fail(function, PICTOR_E_NULL_POINTER, "link is null");
  if (formatMissing) return Fail(function, PICTOR_E_NULL_POINTER, "format is null");
  if (!callback) return Fail(function, PICTOR_E_NULL_POINTER, "callback is null");
  if (object->Pictor.IsCaptureActive()) object->Pictor.StopCapture();
  SetCallback(*object, callback);
  object->Context = context;
  if (!start(object->Pictor, object.get())) return Fail(function, PICTOR_E_FAILED, "the capture did not start");
  return PICTOR_OK;
}

}  // namespace

// ---- Library ----

PICTOR_C_API int PICTOR_CDECL PictorGetApiVersion(void)
{
  return PICTOR_C_API_VERSION;
}

PICTOR_C_API int PICTOR_CDECL PictorCanUseMediaFoundation(void)
{
  return Guarded("PictorCanUseMediaFoundation", [] { return TPictor::CanUseMFAPI() ? 1 : 0; });
}

PICTOR_C_API const char* PICTOR_CDECL PictorResultName(int result)
{
  switch (result) {
    case PICTOR_OK:
      return "PICTOR_OK";
    case PICTOR_E_INVALID_HANDLE:
      return "PICTOR_E_INVALID_HANDLE";
    case PICTOR_E_NULL_POINTER:
      return "PICTOR_E_NULL_POINTER";
    case PICTOR_E_INVALID_ARGUMENT:
      return "PICTOR_E_INVALID_ARGUMENT";
    case PICTOR_E_FAILED:
      return "PICTOR_E_FAILED";
    case PICTOR_E_IN_CALLBACK:
      return "PICTOR_E_IN_CALLBACK";
    case PICTOR_E_OUT_OF_MEMORY:
      return "PICTOR_E_OUT_OF_MEMORY";
    case PICTOR_E_INTERNAL:
      return "PICTOR_E_INTERNAL";
    case PICTOR_E_PERSON_UNAVAILABLE:
      return "PICTOR_E_PERSON_UNAVAILABLE";
    default:
      return "unknown result";
  }
}

PICTOR_C_API int PICTOR_CDECL PictorLogFormat(const PictorFormat* format)
{
  static const char kName[] = "PictorLogFormat";
  return Guarded(kName, [&] {
    if (!format) return Fail(kName, PICTOR_E_NULL_POINTER, "format is null");
    TPictorFormat copy;
    std::memcpy(static_cast<void*>(&copy), format, sizeof copy);
    TPictor::LogPictorFormatProperties(copy);
    return PICTOR_OK;
  });
}

// ---- Capture ----

PICTOR_C_API int PICTOR_CDECL PictorCaptureCreate(PictorCapture* capture)
{
  static const char kName[] = "PictorCaptureCreate";
  return Guarded(kName, [&] {
    if (!capture) return Fail(kName, PICTOR_E_NULL_POINTER, "capture is null");
    *capture = nullptr;
    const uintptr_t handle = RegisterHandle(std::unique_ptr<TObject>(new TCaptureObject()));
    *capture = reinterpret_cast<PictorCapture>(handle);
    LogInfo("%s exit with %p", kName, static_cast<void*>(*capture));
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorCaptureDestroy(PictorCapture capture)
{
  static const char kName[] = "PictorCaptureDestroy";
  return Guarded(kName, [&] {
    // Refused before the handle goes: from the object's own callback it cannot end.
    if (const auto object = FindCapture(kName, capture)) {
      if (InCallbackOf(object.get()))
        return Fail(kName, PICTOR_E_IN_CALLBACK, "called from the capture's own frame callback");
      if (InCallbackOf(&object->ListCallbackMarker))
        return Fail(kName, PICTOR_E_IN_CALLBACK, "called from the capture's own camera list callback");
    }
    // TPictor's destructor stops a running capture before it releases anything.
    if (!DestroyHandle(reinterpret_cast<uintptr_t>(capture), THandleKind::Capture))
      return PICTOR_E_INVALID_HANDLE;  // FindCapture has logged it
    LogInfo("%s %p", kName, static_cast<void*>(capture));
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorCaptureGetCameraCount(PictorCapture capture, int* count)
{
  static const char kName[] = "PictorCaptureGetCameraCount";
  return Guarded(kName, [&] {
    const auto object = FindCapture(kName, capture);
    if (!object) return PICTOR_E_INVALID_HANDLE;
    if (!count) return Fail(kName, PICTOR_E_NULL_POINTER, "count is null");
    *count = object->Pictor.GetWebCamerasCount();
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorCaptureEnumerateCameras(PictorCapture capture, PictorDescr* cameras, int capacity,
                                                            int* count)
{
  static const char kName[] = "PictorCaptureEnumerateCameras";
  return Guarded(kName, [&] {
    const auto object = FindCapture(kName, capture);
    if (!object) return PICTOR_E_INVALID_HANDLE;
    if (const int problem = CheckBuffer(kName, cameras, capacity, count)) return problem;
    *count =
        object->Pictor.EnumerateWebCameras(capacity ? reinterpret_cast<TPictorDescr*>(cameras) : nullptr, capacity);
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorSetCameraListCallback(PictorCapture capture, PictorCameraListCallback callback,
                                                          void* context)
{
  static const char kName[] = "PictorSetCameraListCallback";
  return Guarded(kName, [&] {
    const auto object = FindCapture(kName, capture);
    if (!object) return PICTOR_E_INVALID_HANDLE;
    AcquireSRWLockExclusive(&object->ListLock);
    object->ListCallback = callback;
    object->ListContext = context;
    ReleaseSRWLockExclusive(&object->ListLock);
    object->Pictor.SetCameraListCallback(callback ? CameraListThunk : nullptr, object.get());
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorCaptureGetFormatCount(PictorCapture capture, const wchar_t* link, int* count)
{
  static const char kName[] = "PictorCaptureGetFormatCount";
  return Guarded(kName, [&] {
    const auto object = FindCapture(kName, capture);
    if (!object) return PICTOR_E_INVALID_HANDLE;
    if (!link || !count) return Fail(kName, PICTOR_E_NULL_POINTER, !link ? "link is null" : "count is null");
    *count = object->Pictor.GetCaptureFormatsCount(link);
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorCaptureEnumerateFormats(PictorCapture capture, const wchar_t* link,
                                                            PictorFormat* formats, int capacity, int* count)
{
  static const char kName[] = "PictorCaptureEnumerateFormats";
  return Guarded(kName, [&] {
    const auto object = FindCapture(kName, capture);
    if (!object) return PICTOR_E_INVALID_HANDLE;
    if (!link) return Fail(kName, PICTOR_E_NULL_POINTER, "link is null");
    if (const int problem = CheckBuffer(kName, formats, capacity, count)) return problem;
    *count = object->Pictor.EnumerateCaptureFormats(
        link, capacity ? reinterpret_cast<TPictorFormat*>(formats) : nullptr, capacity);
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorCaptureGetFormat(PictorCapture capture, const wchar_t* link, int index,
                                                     PictorFormat* format)
{
  static const char kName[] = "PictorCaptureGetFormat";
  return Guarded(kName, [&] {
    const auto object = FindCapture(kName, capture);
    if (!object) return PICTOR_E_INVALID_HANDLE;
    if (!link || !format) return Fail(kName, PICTOR_E_NULL_POINTER, !link ? "link is null" : "format is null");
    const TPictorFormat found = object->Pictor.GetPictorFormatByIndex(link, index);
    std::memcpy(format, &found, sizeof found);
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorCaptureSetConversion(PictorCapture capture, int conversion)
{
  static const char kName[] = "PictorCaptureSetConversion";
  return Guarded(kName, [&] {
    const auto object = FindCapture(kName, capture);
    if (!object) return PICTOR_E_INVALID_HANDLE;
    if (conversion != PICTOR_CONVERSION_SYSTEM && conversion != PICTOR_CONVERSION_BUILT_IN)
      return Fail(kName, PICTOR_E_INVALID_ARGUMENT, "unknown conversion");
    object->Pictor.SetConversion(static_cast<TPictorConversion>(conversion));
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorCaptureStart(PictorCapture capture, const wchar_t* link, int formatIndex,
                                                 int topDown, PictorFrameCallback callback, void* context)
{
  static const char kName[] = "PictorCaptureStart";
  return Guarded(kName, [&] {
    return StartCapture(kName, capture, link, false, callback, context, [&](TPictor& pictor, void* thunkContext) {
      return pictor.StartCapture(link, formatIndex, topDown != 0, CaptureThunk, thunkContext);
    });
  });
}

PICTOR_C_API int PICTOR_CDECL PictorCaptureStartFormat(PictorCapture capture, const wchar_t* link,
                                                       const PictorFormat* format, int topDown,
                                                       PictorFrameCallback callback, void* context)
{
  static const char kName[] = "PictorCaptureStartFormat";
  return Guarded(kName, [&] {
    return StartCapture(kName, capture, link, !format, callback, context, [&](TPictor& pictor, void* thunkContext) {
      TPictorFormat copy;
      std::memcpy(static_cast<void*>(&copy), format, sizeof copy);
      return pictor.StartCapture(link, copy, topDown != 0, CaptureThunk, thunkContext);
    });
  });
}

PICTOR_C_API int PICTOR_CDECL PictorCaptureStartEx(PictorCapture capture, const wchar_t* link, int formatIndex,
                                                   int topDown, PictorFrameCallbackEx callback, void* context)
{
  static const char kName[] = "PictorCaptureStartEx";
  return Guarded(kName, [&] {
    return StartCapture(kName, capture, link, false, callback, context, [&](TPictor& pictor, void* thunkContext) {
      return pictor.StartCaptureEx(link, formatIndex, topDown != 0, CaptureThunkEx, thunkContext);
    });
  });
}

PICTOR_C_API int PICTOR_CDECL PictorCaptureSetAutoReconnect(PictorCapture capture, int on)
{
  static const char kName[] = "PictorCaptureSetAutoReconnect";
  return Guarded(kName, [&] {
    const auto object = FindCapture(kName, capture);
    if (!object) return PICTOR_E_INVALID_HANDLE;
    object->Pictor.SetAutoReconnect(on != 0);
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorCaptureStop(PictorCapture capture)
{
  static const char kName[] = "PictorCaptureStop";
  return Guarded(kName, [&] {
    const auto object = FindCapture(kName, capture);
    if (!object) return PICTOR_E_INVALID_HANDLE;
    if (InCallbackOf(object.get()))
      return Fail(kName, PICTOR_E_IN_CALLBACK, "called from the capture's own frame callback");
    object->Pictor.StopCapture();
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorCaptureIsActive(PictorCapture capture, int* active)
{
  static const char kName[] = "PictorCaptureIsActive";
  return Guarded(kName, [&] {
    const auto object = FindCapture(kName, capture);
    if (!object) return PICTOR_E_INVALID_HANDLE;
    if (!active) return Fail(kName, PICTOR_E_NULL_POINTER, "active is null");
    *active = object->Pictor.IsCaptureActive() ? 1 : 0;
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorCaptureGetStatus(PictorCapture capture, PictorCaptureStatus* status)
{
  static const char kName[] = "PictorCaptureGetStatus";
  return Guarded(kName, [&] {
    const auto object = FindCapture(kName, capture);
    if (!object) return PICTOR_E_INVALID_HANDLE;
    if (!status) return Fail(kName, PICTOR_E_NULL_POINTER, "status is null");
    *status = object->Pictor.GetCaptureStatus();
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorCaptureGetStatusEx(PictorCapture capture, PictorCaptureStatusEx* status)
{
  static const char kName[] = "PictorCaptureGetStatusEx";
  return Guarded(kName, [&] {
    const auto object = FindCapture(kName, capture);
    if (!object) return PICTOR_E_INVALID_HANDLE;
    if (!status) return Fail(kName, PICTOR_E_NULL_POINTER, "status is null");
    if (status->Size < PICTOR_CAPTURE_STATUS_EX_MIN_SIZE)
      return Fail(kName, PICTOR_E_INVALID_ARGUMENT, "status Size is smaller than the first version's record");
    object->Pictor.GetCaptureStatusEx(status);
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorCaptureGetParameters(PictorCapture capture, const wchar_t* link,
                                                         PictorParameters* parameters)
{
  static const char kName[] = "PictorCaptureGetParameters";
  return Guarded(kName, [&] {
    const auto object = FindCapture(kName, capture);
    if (!object) return PICTOR_E_INVALID_HANDLE;
    if (!link || !parameters) return Fail(kName, PICTOR_E_NULL_POINTER, !link ? "link is null" : "parameters is null");
    const TPictorParameters read = object->Pictor.GetParameters(link);
    std::memcpy(parameters, &read, sizeof read);
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorCaptureSetParameters(PictorCapture capture, const wchar_t* link,
                                                         const PictorParameters* parameters)
{
  static const char kName[] = "PictorCaptureSetParameters";
  return Guarded(kName, [&] {
    const auto object = FindCapture(kName, capture);
    if (!object) return PICTOR_E_INVALID_HANDLE;
    if (!link || !parameters) return Fail(kName, PICTOR_E_NULL_POINTER, !link ? "link is null" : "parameters is null");
    TPictorParameters copy;
    std::memcpy(static_cast<void*>(&copy), parameters, sizeof copy);
    for (int i = 0; i < PICTOR_VIDEO_PROC_AMP_COUNT; ++i)
      copy.VideoProcAmp[i].Apply = HostBool(&parameters->VideoProcAmp[i].Apply);
    for (int i = 0; i < PICTOR_CAMERA_CONTROL_COUNT; ++i)
      copy.CameraControl[i].Apply = HostBool(&parameters->CameraControl[i].Apply);
    object->Pictor.SetParameters(link, copy);
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorCaptureSetDefaultParameters(PictorCapture capture, const wchar_t* link)
{
  static const char kName[] = "PictorCaptureSetDefaultParameters";
  return Guarded(kName, [&] {
    const auto object = FindCapture(kName, capture);
    if (!object) return PICTOR_E_INVALID_HANDLE;
    if (!link) return Fail(kName, PICTOR_E_NULL_POINTER, "link is null");
    object->Pictor.SetDefaultParameters(link);
    return PICTOR_OK;
  });
}
