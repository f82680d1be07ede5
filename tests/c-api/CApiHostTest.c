/* A host written in C99 that sees only PictorC.h and Pictor.dll's import library, run on
 * the virtual camera: cameras and formats, captures with frames, parameters, a keyed
 * preview, and the error codes for bad handles and arguments. (Finding the functions by
 * their plain names: window_unload_handles.) */
#include "PictorC.h"
#include "tools/virtualcam/VirtualCamControl.h"

#include <objbase.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

static int passed, failed;
#define CHECK(condition)                                                                           \
  do {                                                                                             \
    if (condition)                                                                                 \
      ++passed;                                                                                    \
    else                                                                                           \
      ++failed, printf("%s:%d: %s: check failed: %s\n", __FILE__, __LINE__, __func__, #condition); \
  } while (0)
/* A call's result code against the one expected, naming both when they differ. */
#define CHECK_CODE(call, expected)                                                                               \
  do {                                                                                                           \
    const int result_ = (call);                                                                                  \
    if (result_ == (expected))                                                                                   \
      ++passed;                                                                                                  \
    else                                                                                                         \
      ++failed, printf("%s:%d: %s gave %s, expected %s\n", __FILE__, __LINE__, #call, PictorResultName(result_), \
                       PictorResultName(expected));                                                              \
  } while (0)

static const wchar_t kBars[] = L"\\\\?\\virtualcam#c-bars";
static const wchar_t kGreen[] = L"\\\\?\\virtualcam#c-green";
static const char kCameras[] =
    "camera name=\"C Bars\" link=\\\\?\\virtualcam#c-bars pattern=bars\n"
    "format subtype=YUY2 size=320x240 rate=30/1\n"
    "format subtype=RGB32 size=320x240 rate=30/1\n"
    "control property=Brightness min=-64 max=64 step=1 default=0\n"
    "camera name=\"C Green\" link=\\\\?\\virtualcam#c-green pattern=greenscreen\n"
    "format subtype=RGB32 size=320x240 rate=30/1\n";

/* What the frame callbacks saw. Written on the converter thread, read after a wait. */
typedef struct Frames {
  volatile LONG count;
  unsigned int width, height;
  unsigned char first[4]; /* top-left pixel of the first frame */
  PictorCapture self;     /* when set, the first frame tries to stop its own capture */
  PictorPreview preview;  /* the same for a preview */
  volatile LONG stopResult;
} Frames;

static int PICTOR_CDECL OnFrame(unsigned int width, unsigned int height, int topDown, unsigned char* pixels,
                                void* context)
{
  Frames* frames = (Frames*)context;
  (void)topDown;
  if (frames->count == 0) {
    frames->width = width;
    frames->height = height;
    memcpy(frames->first, pixels, 4);
    if (frames->self) frames->stopResult = PictorCaptureStop(frames->self);
  }
  InterlockedIncrement(&frames->count);
  return 1;
}

static int PICTOR_CDECL OnPreview(unsigned int width, unsigned int height, unsigned int pitch, unsigned char* pixels,
                                  void* context)
{
  Frames* frames = (Frames*)context;
  (void)pitch;
  if (frames->count == 0 && frames->preview) frames->stopResult = PictorPreviewStop(frames->preview);
  return OnFrame(width, height, 1, pixels, context);
}

static int WaitForFrames(Frames* frames, LONG wanted)
{
  int waited;
  for (waited = 0; frames->count < wanted && waited < 30000; waited += 20) Sleep(20);
  return frames->count >= wanted;
}

/* The extended frame callback and the camera list callback, as a C host gets them. */
typedef struct Notices {
  volatile LONG frames;
  volatile LONG lastSequence;
  PictorCapture self;
  volatile LONG destroyResult; /* PictorCaptureDestroy from the list callback */
  volatile LONG listCalls;
} Notices;

static int PICTOR_CDECL OnFrameEx(const PictorFrameInfo* info, unsigned int width, unsigned int height, int topDown,
                                  unsigned char* pixels, void* context)
{
  Notices* notices = (Notices*)context;
  (void)width, (void)height, (void)topDown, (void)pixels;
  notices->lastSequence = (LONG)info->Sequence;
  InterlockedIncrement(&notices->frames);
  return 1;
}

static void PICTOR_CDECL OnCameraList(void* context)
{
  Notices* notices = (Notices*)context;
  notices->destroyResult = PictorCaptureDestroy(notices->self);
  InterlockedIncrement(&notices->listCalls);
}

/* The grown status writes no byte past the Size the host gives; the list callback cannot
 * destroy its own object. */
static void ExtendedCaptureStatusAndNotices(void)
{
  PictorCapture capture = NULL;
  Notices notices = {0};
  unsigned char record[64];
  PictorCaptureStatusEx* status = (PictorCaptureStatusEx*)record;
  VirtualCam_Unplug_t unplug =
      (VirtualCam_Unplug_t)(void (*)(void))GetProcAddress(GetModuleHandleW(L"mf.dll"), "VirtualCam_Unplug");
  VirtualCam_Plug_t plug =
      (VirtualCam_Plug_t)(void (*)(void))GetProcAddress(GetModuleHandleW(L"mf.dll"), "VirtualCam_Plug");
  int waited;
  CHECK(PictorCaptureCreate(&capture) == PICTOR_OK);
  notices.self = capture;
  CHECK(PictorCaptureSetAutoReconnect(capture, 1) == PICTOR_OK);
  CHECK(PictorCaptureStartEx(capture, kBars, 0, 1, OnFrameEx, &notices) == PICTOR_OK);
  for (waited = 0; notices.frames < 3 && waited < 30000; waited += 20) Sleep(20);
  CHECK(notices.frames >= 3 && notices.lastSequence >= 2);
  memset(record, 0xAB, sizeof record);
  status->Size = PICTOR_CAPTURE_STATUS_EX_MIN_SIZE - 8;
  CHECK_CODE(PictorCaptureGetStatusEx(capture, status), PICTOR_E_INVALID_ARGUMENT);
  CHECK(record[8] == 0xAB);
  status->Size = PICTOR_CAPTURE_STATUS_EX_MIN_SIZE;
  CHECK(PictorCaptureGetStatusEx(capture, status) == PICTOR_OK);
  CHECK(status->Size == PICTOR_CAPTURE_STATUS_EX_MIN_SIZE && status->State == PICTOR_CAPTURE_RUNNING);
  CHECK(status->FramesDelivered >= 3 && status->Reconnects == 0);
  CHECK(record[PICTOR_CAPTURE_STATUS_EX_MIN_SIZE] == 0xAB && record[sizeof record - 1] == 0xAB);
  CHECK(PictorSetCameraListCallback(capture, OnCameraList, &notices) == PICTOR_OK);
  CHECK(unplug && plug && unplug(kGreen));
  for (waited = 0; notices.listCalls < 1 && waited < 3000; waited += 20) Sleep(20);
  CHECK(notices.listCalls == 1 && notices.destroyResult == PICTOR_E_IN_CALLBACK);
  CHECK(plug && plug(kGreen));
  CHECK(PictorCaptureDestroy(capture) == PICTOR_OK);
}

/* Cameras, formats, and the parameter record crossing the C layer both ways (Apply is a
 * C bool). */
static void CamerasFormatsAndParameters(void)
{
  PictorCapture capture = NULL;
  PictorDescr cameras[4];
  PictorFormat formats[4], byIndex;
  PictorParameters parameters;
  int count = -1;
  CHECK(PictorCaptureCreate(&capture) == PICTOR_OK && capture != NULL);
  CHECK(PictorCaptureGetCameraCount(capture, &count) == PICTOR_OK && count == 2);
  CHECK(PictorCaptureEnumerateCameras(capture, cameras, 1, &count) == PICTOR_OK && count == 2);
  CHECK(wcscmp(cameras[0].FriendlyName, L"C Bars") == 0 && wcscmp(cameras[0].SymbolicLink, kBars) == 0);
  CHECK(PictorCaptureGetFormatCount(capture, kBars, &count) == PICTOR_OK && count == 2);
  CHECK(PictorCaptureEnumerateFormats(capture, kBars, formats, 4, &count) == PICTOR_OK && count == 2);
  CHECK(formats[0].Width == 320 && formats[0].Height == 240 && formats[0].FrameRate == 30);
  CHECK(formats[0].SubType.Data1 == 0x32595559 && wcscmp(formats[0].SubTypeName, L"MFVideoFormat_YUY2") == 0);
  CHECK(formats[1].SubType.Data1 == 22); /* MFVideoFormat_RGB32 */
  CHECK(PictorCaptureGetFormat(capture, kBars, 1, &byIndex) == PICTOR_OK);
  CHECK(memcmp(&byIndex, &formats[1], sizeof byIndex) == 0);
  CHECK(PictorLogFormat(&byIndex) == PICTOR_OK);
  CHECK(PictorCaptureGetParameters(capture, kBars, &parameters) == PICTOR_OK);
  CHECK(parameters.VideoProcAmp[0].Min == -64 && parameters.VideoProcAmp[0].Max == 64);
  CHECK(parameters.VideoProcAmp[0].Value == 0 && parameters.VideoProcAmp[0].Apply == false);
  parameters.VideoProcAmp[0].Value = 12, parameters.VideoProcAmp[0].Flags = 2;
  *(unsigned char*)&parameters.VideoProcAmp[0].Apply = 0x80; /* any non-zero byte is true */
  CHECK(PictorCaptureSetParameters(capture, kBars, &parameters) == PICTOR_OK);
  CHECK(PictorCaptureGetParameters(capture, kBars, &parameters) == PICTOR_OK);
  CHECK(parameters.VideoProcAmp[0].Value == 12);
  CHECK(PictorCaptureSetDefaultParameters(capture, kBars) == PICTOR_OK);
  CHECK(PictorCaptureGetParameters(capture, kBars, &parameters) == PICTOR_OK);
  CHECK(parameters.VideoProcAmp[0].Value == 0);
  CHECK(PictorCaptureDestroy(capture) == PICTOR_OK);
}

/* By index (YUY2, converted) and by format (RGB32); the callback cannot stop its own
 * capture; the status counts frames and says when the capture is idle. */
static void CaptureWithFrames(void)
{
  PictorCapture capture = NULL;
  PictorFormat rgb;
  PictorCaptureStatus status;
  Frames frames;
  int active = -1;
  CHECK(PictorCaptureCreate(&capture) == PICTOR_OK);
  memset(&frames, 0, sizeof frames);
  frames.self = capture;
  CHECK(PictorCaptureStart(capture, kBars, 0, 1, OnFrame, &frames) == PICTOR_OK);
  CHECK(WaitForFrames(&frames, 10));
  CHECK(frames.width == 320 && frames.height == 240);
  CHECK(frames.first[0] > 220 && frames.first[1] > 220 && frames.first[2] > 220); /* white bar */
  CHECK(frames.stopResult == PICTOR_E_IN_CALLBACK);
  CHECK(PictorCaptureIsActive(capture, &active) == PICTOR_OK && active == 1);
  CHECK(PictorCaptureGetStatus(capture, &status) == PICTOR_OK);
  CHECK(status.State == PICTOR_CAPTURE_RUNNING && status.Error == S_OK);
  CHECK(status.FramesDelivered >= 10 && status.FrameRate > 1.0 && status.FrameRate < 1000.0);
  CHECK(PictorCaptureStop(capture) == PICTOR_OK);
  CHECK(PictorCaptureIsActive(capture, &active) == PICTOR_OK && active == 0);
  CHECK(PictorCaptureGetStatus(capture, &status) == PICTOR_OK && status.State == PICTOR_CAPTURE_IDLE);

  memset(&frames, 0, sizeof frames);
  CHECK(PictorCaptureGetFormat(capture, kBars, 1, &rgb) == PICTOR_OK);
  CHECK(PictorCaptureStartFormat(capture, kBars, &rgb, 1, OnFrame, &frames) == PICTOR_OK);
  CHECK(WaitForFrames(&frames, 3));
  CHECK(frames.first[0] == 255 && frames.first[1] == 255 && frames.first[2] == 255);
  CHECK(PictorCaptureDestroy(capture) == PICTOR_OK); /* stops the running capture */
}

/* The green screen keyed on green over no background by the software renderer: the corner
 * turns black. The preview's status as the capture's; its callback cannot stop it. */
static void KeyedPreview(void)
{
  PictorPreview preview = NULL;
  PictorKeyingParams keying;
  PictorCaptureStatusEx status;
  Frames frames;
  unsigned int color = 0;
  memset(&frames, 0, sizeof frames);
  CHECK(PictorDefaultKeyingParams(&keying) == PICTOR_OK);
  CHECK(keying.Opacity == 255 && keying.ColorType == PICTOR_KEY_GREEN && keying.Sensitivity > 0.49f);
  CHECK(PictorPreviewCreate(&preview) == PICTOR_OK);
  CHECK_CODE(PictorPreviewSampleKeyColor(preview, &color), PICTOR_E_FAILED); /* no frame yet */
  CHECK_CODE(PictorPreviewSetRenderer(preview, 2), PICTOR_E_INVALID_ARGUMENT);
  CHECK(PictorPreviewSetRenderer(preview, PICTOR_RENDERER_SOFTWARE) == PICTOR_OK);
  CHECK(PictorPreviewSetAutoReconnect(preview, 1) == PICTOR_OK);
  frames.preview = preview;
  CHECK(PictorPreviewStart(preview, kGreen, 0, 1, NULL, &keying, OnPreview, &frames) == PICTOR_OK);
  CHECK(WaitForFrames(&frames, 3));
  CHECK_CODE(frames.stopResult, PICTOR_E_IN_CALLBACK);
  status.Size = PICTOR_CAPTURE_STATUS_EX_MIN_SIZE - 1;
  CHECK_CODE(PictorPreviewGetStatus(preview, &status), PICTOR_E_INVALID_ARGUMENT);
  status.Size = sizeof status;
  CHECK(PictorPreviewGetStatus(preview, &status) == PICTOR_OK && status.State == PICTOR_CAPTURE_RUNNING);
  /* Wine's converter darkens saturated green by up to 6 levels. */
  CHECK(PictorPreviewSampleKeyColor(preview, &color) == PICTOR_OK && color >> 16 <= 8 && (color >> 8 & 255) >= 247 &&
        (color & 255) <= 8);
  CHECK(PictorPreviewSetSpillSuppression(preview, 1) == PICTOR_OK &&
        PictorPreviewSetEdgeChoke(preview, 3) == PICTOR_OK);
  CHECK_CODE(PictorPreviewSetEdgeChoke(preview, 4), PICTOR_E_INVALID_ARGUMENT);
  CHECK_CODE(PictorPreviewSetSpillSuppression(preview, 1.5f), PICTOR_E_INVALID_ARGUMENT);
  CHECK_CODE(PictorPreviewSampleKeyColor(preview, NULL), PICTOR_E_NULL_POINTER);
  CHECK(frames.width == 320 && frames.height == 240);
  CHECK(frames.first[0] < 16 && frames.first[1] < 16 && frames.first[2] < 16);
  CHECK(PictorPreviewSetKeyColor(preview, PICTOR_KEY_BLUE, 0) == PICTOR_OK);
  CHECK(PictorPreviewStop(preview) == PICTOR_OK);
  CHECK(PictorPreviewGetStatus(preview, &status) == PICTOR_OK && status.State == PICTOR_CAPTURE_IDLE);
  CHECK(PictorPreviewDestroy(preview) == PICTOR_OK);
}

/* A callback that keeps calling its own object while the host destroys that object: each
 * destroy returns with the object stopped and gone (on the host's thread), and no callback
 * comes after it. Preview and capture rounds alternate. */
typedef struct Busy {
  PictorCapture capture;
  PictorPreview preview;
  volatile LONG calls, destroyed, late;
} Busy;

/* Keeps calling its own object for 20 ms; the host destroys the object meanwhile. */
static int PICTOR_CDECL OnBusyFrame(unsigned int width, unsigned int height, int topDown, unsigned char* pixels,
                                    void* context)
{
  Busy* busy = (Busy*)context;
  PictorCaptureStatus status;
  const DWORD start = GetTickCount();
  (void)width, (void)height, (void)topDown, (void)pixels;
  if (busy->destroyed) InterlockedIncrement(&busy->late);
  InterlockedIncrement(&busy->calls);
  while (GetTickCount() - start < 20)
    busy->preview ? PictorPreviewSetOpacity(busy->preview, 200) : PictorCaptureGetStatus(busy->capture, &status);
  return 1;
}

static int PICTOR_CDECL OnBusyPreview(unsigned int width, unsigned int height, unsigned int pitch,
                                      unsigned char* pixels, void* context)
{
  (void)pitch;
  return OnBusyFrame(width, height, 1, pixels, context);
}

static void DestroyWhileTheCallbackCallsItsObject(void)
{
  int round, waited;
  for (round = 0; round < 20; ++round) {
    Busy busy;
    memset(&busy, 0, sizeof busy);
    if (round % 2)
      CHECK(PictorPreviewCreate(&busy.preview) == PICTOR_OK &&
            PictorPreviewStart(busy.preview, kGreen, 0, 1, NULL, NULL, OnBusyPreview, &busy) == PICTOR_OK);
    else
      CHECK(PictorCaptureCreate(&busy.capture) == PICTOR_OK &&
            PictorCaptureStart(busy.capture, kGreen, 0, 1, OnBusyFrame, &busy) == PICTOR_OK);
    for (waited = 0; busy.calls == 0 && waited < 30000; ++waited) Sleep(1);
    CHECK(busy.calls > 0);
    CHECK((busy.preview ? PictorPreviewDestroy(busy.preview) : PictorCaptureDestroy(busy.capture)) == PICTOR_OK);
    busy.destroyed = 1;
    Sleep(50);
    CHECK(busy.late == 0);
  }
}

/* Handles that are null, destroyed or of the other kind, null pointers and negative
 * capacities: each call returns its code (and the object behind nothing is touched). */
static void BadHandlesAndArguments(void)
{
  PictorCapture capture = NULL, gone = NULL;
  PictorPreview preview = NULL;
  PictorDescr cameras[2];
  PictorFormat format;
  int count = 0;
  PictorCaptureCreate(&capture);
  PictorCaptureCreate(&gone);
  PictorPreviewCreate(&preview);
  PictorCaptureDestroy(gone);
  CHECK_CODE(PictorCaptureGetCameraCount(NULL, &count), PICTOR_E_INVALID_HANDLE);
  CHECK_CODE(PictorCaptureGetCameraCount(gone, &count), PICTOR_E_INVALID_HANDLE);
  CHECK_CODE(PictorCaptureDestroy(gone), PICTOR_E_INVALID_HANDLE);
  CHECK_CODE(PictorCaptureStop((PictorCapture)preview), PICTOR_E_INVALID_HANDLE);
  CHECK_CODE(PictorPreviewSetOpacity((PictorPreview)capture, 1), PICTOR_E_INVALID_HANDLE);
  CHECK_CODE(PictorPreviewGetStatus(preview, NULL), PICTOR_E_NULL_POINTER);
  CHECK_CODE(PictorPreviewDestroy(NULL), PICTOR_E_INVALID_HANDLE);
  CHECK_CODE(PictorCaptureCreate(NULL), PICTOR_E_NULL_POINTER);
  CHECK_CODE(PictorCaptureEnumerateCameras(capture, NULL, 2, &count), PICTOR_E_NULL_POINTER);
  CHECK_CODE(PictorCaptureEnumerateCameras(capture, cameras, -1, &count), PICTOR_E_INVALID_ARGUMENT);
  CHECK_CODE(PictorCaptureGetFormat(capture, NULL, 0, &format), PICTOR_E_NULL_POINTER);
  CHECK_CODE(PictorCaptureStart(capture, kBars, 0, 1, NULL, NULL), PICTOR_E_NULL_POINTER);
  CHECK_CODE(PictorCaptureStartFormat(capture, kBars, NULL, 1, OnFrame, NULL), PICTOR_E_NULL_POINTER);
  CHECK_CODE(PictorCaptureGetStatus(capture, NULL), PICTOR_E_NULL_POINTER);
  CHECK_CODE(PictorCaptureStart(capture, L"\\\\?\\virtualcam#none", 0, 1, OnFrame, NULL), PICTOR_E_FAILED);
  CHECK_CODE(PictorCaptureEnumerateCameras(capture, NULL, 0, &count), PICTOR_OK);
  CHECK(count == 2);
  CHECK(PictorCaptureDestroy(capture) == PICTOR_OK && PictorPreviewDestroy(preview) == PICTOR_OK);
}

int main(void)
{
  char error[256] = "";
  VirtualCam_Configure_t configure =
      (VirtualCam_Configure_t)(void (*)(void))GetProcAddress(LoadLibraryW(L"mf.dll"), "VirtualCam_Configure");
  if (!configure || configure(kCameras, error, sizeof error) != 0) {
    printf("the virtual camera mf.dll is missing or refused the cameras: %s\n", error);
    return 1;
  }
  CoInitializeEx(NULL, COINIT_MULTITHREADED);
  CHECK(PictorGetApiVersion() == PICTOR_C_API_VERSION);
  CHECK(PictorCanUseMediaFoundation() == 1);
  CamerasFormatsAndParameters();
  CaptureWithFrames();
  KeyedPreview();
  DestroyWhileTheCallbackCallsItsObject();
  ExtendedCaptureStatusAndNotices();
  BadHandlesAndArguments();
  CoUninitialize();
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
