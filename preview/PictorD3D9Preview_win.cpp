// TPictorD3D9Preview: construction, StartPreview, destruction and the keying controls.
#include "PictorD3D9Preview.h"

#include <cstring>
#include <new>

#include "common/Ownership_win.h"
#include "kernels/AlignedBitmap.h"
#include "log/Log.h"
#include "log/LogTrace.h"
#include "media/FPSCalculator.h"
#include "person/OnnxSegmentationModel_win.h"
#include "preview/PictorD3D9PreviewState.h"
#include "window/PictorD3D9PreviewWindow.h"

namespace {

// An image the preview can copy: it has pixels to read.
bool HasPixels(const TPictorD3D9PreviewImage* image)
{
  return image && image->Data && image->Width && image->Height;
}

// A private copy of the host's image, bottom row first; null when the bitmap could not
// be allocated.
TQDAlignedBitmap32* CopyBackground(const TPictorD3D9PreviewImage& image)
{
  TQDAlignedBitmap32* bitmap = new (std::nothrow) TQDAlignedBitmap32(image.Width, image.Height);
  if (bitmap && !bitmap->Pixels) {
    delete bitmap;
    return nullptr;
  }
  if (bitmap) bitmap->CopyImage(image.Width, image.Height, image.Stride, image.Data, image.TopDown);
  return bitmap;
}

// True on the thread that composes a frame, where the host's callback runs: a start or
// stop from there would wait for that thread, or release what the frame still uses.
bool OnFrameThread(const TPictorD3D9PreviewState* state)
{
  return state && state->frameThread.load() == GetCurrentThreadId();
}

// The person model for the capture format's shape (the landscape one before a format is
// known: most cameras are 16:9).
TPersonModelChoice PersonModelFor(const TPictorFormat& format)
{
  return format.Width && format.Height ? ChoosePersonModel(format.Width, format.Height) : ChoosePersonModel(16, 9);
}

// A segmenter for that model, its thread started (loading). Null, with its line, when
// not even the thread could be had.
std::unique_ptr<TPersonSegmenter> StartSegmenter(const TPersonModelChoice& model)
{
  std::unique_ptr<TPersonSegmenter> segmenter(new (std::nothrow) TPersonSegmenter(
      std::unique_ptr<TSegmentationModel>(new (std::nothrow) TOnnxSegmentationModel(LibraryDirectory(), model))));
  if (segmenter && !segmenter->Start()) segmenter.reset();
  if (!segmenter) LogError("TPictorD3D9Preview person segmentation could not be started");
  return segmenter;
}

}  // namespace

TPictorD3D9Preview::TPictorD3D9Preview()
    : pFPSCalculator(nullptr),
      lastFPSLogTick(0),
      presentParameters(),
      pD3D9(nullptr),
      pD3D9Device(nullptr),
      pD3DRTSurface(nullptr),
      pD3D9TextureSysMemY(nullptr),
      pD3D9TextureVidMemY(nullptr),
      pD3D9BackgroundTextureVidMem(nullptr),
      pD3D9SurfaceVidMem(nullptr),
      pD3D9PixelShaderBlur7x7KernelFilterD3D9(nullptr),
      pBackgroundBitmap(nullptr),
      pHostImageReady(nullptr),
      pHostUserData(nullptr),
      dynamicTexturesSupported(false),
      captureFormat(),
      pCamera(nullptr),
      pPreviewWindow(nullptr),
      pChromaKeyingParams(nullptr),
      previewLock(),
      pState(nullptr)
{
  InitializeCriticalSection(&previewLock);
  const TLogScope scope("TPictorD3D9Preview::TPictorD3D9Preview");
  pPreviewWindow = new (std::nothrow) TPictorD3D9PreviewWindow();
  pState = new (std::nothrow) TPictorD3D9PreviewState();
  if (!pState) LogError("TPictorD3D9Preview::TPictorD3D9Preview no memory for the preview's state");
}

TPictorD3D9Preview::~TPictorD3D9Preview()
{
  TLogScope scope("TPictorD3D9Preview::~TPictorD3D9Preview");
  // Without the lock: the converter's thread may be waiting for it inside a frame. No
  // frame runs once the capture has stopped.
  if (pCamera) pCamera->StopCapture();
  // The device goes before the window it was made for, and the camera before the lock
  // its frames took.
  ReleaseD3D9();
  if (pState && pState->hDirect3DModule) FreeLibrary(pState->hDirect3DModule);
  delete pState;
  pState = nullptr;
  delete pCamera;
  pCamera = nullptr;
  delete pPreviewWindow;
  pPreviewWindow = nullptr;
  delete pChromaKeyingParams;
  pChromaKeyingParams = nullptr;
  delete pBackgroundBitmap;
  pBackgroundBitmap = nullptr;
  delete pFPSCalculator;
  pFPSCalculator = nullptr;
  scope.Exit();
  DeleteCriticalSection(&previewLock);
}

bool TPictorD3D9Preview::StartPreview(const wchar_t* cameraId, int formatIndex, bool topDown,
                                      TPictorD3D9PreviewImage* background, TPictorD3D9PreviewChromaKeyingParams* params,
                                      TPreviewImageReadyProc callback, void* userData)
{
  static const char kName[] = "TPictorD3D9Preview::StartPreview";
  TLogScope scope(kName);
  if (!pState) {
    LogError("%s the preview has no state", kName);
    return scope.Returns(false);
  }
  if (OnFrameThread(pState)) {
    LogError("%s called from the preview callback, refused", kName);
    return scope.Returns(false);
  }

  // The old capture is stopped before anything its frames read is replaced: its last
  // frames go to the old callback with the old settings, never to the new callback.
  // Stopping waits for the converter's thread, which may itself be waiting for the lock,
  // so the lock is not held here.
  // A restart keeps its camera object: what the old capture's platform threads still
  // release stays with it.
  if (pCamera) pCamera->StopCapture();
  EnterCriticalSection(&previewLock);
  delete pFPSCalculator;
  pFPSCalculator = new (std::nothrow) TFPSCalculator();
  if (HasPixels(background)) {
    delete pBackgroundBitmap;
    pBackgroundBitmap = CopyBackground(*background);
  }
  if (params) {
    delete pChromaKeyingParams;
    pChromaKeyingParams = new (std::nothrow) TPictorD3D9PreviewChromaKeyingParams(params);
  }
  pHostImageReady = callback;
  pHostUserData = userData;
  const bool software = pState->renderer == prSoftware;
  LeaveCriticalSection(&previewLock);

  bool result = false;
  // Only Direct3D needs the hidden window (as its device's focus window).
  if (!software && (!pPreviewWindow || !pPreviewWindow->GetHandle())) {
    LogError("%s window handle is null", kName);
  } else {
    if (!pCamera) pCamera = new (std::nothrow) TPictor();
    if (!pCamera) {
      LogError("%s StartCapture failed", kName);
    } else {
      pCamera->SetConversion(pState->conversion);
      pCamera->SetAutoReconnect(pState->autoReconnect);
      captureFormat = pCamera->GetPictorFormatByIndex(cameraId, formatIndex);
      ChoosePersonModelForFormat();
      if (software ? !InitSoftware() : !InitD3D9()) {
        LogError("%s %s failed", kName, software ? "InitSoftware" : "InitD3D9");
        // No format: the camera could not be opened. A start of the capture, refused at
        // once, leaves the camera's reason (in use, blocked, gone) in the status.
        if (!captureFormat.FrameSize &&
            pCamera->StartCapture(cameraId, captureFormat, topDown, PreviewImageReadyThunk, this))
          pCamera->StopCapture();
      } else if (!pCamera->StartCapture(cameraId, formatIndex, topDown, PreviewImageReadyThunk, this))
        LogError("%s StartCapture failed", kName);
      else
        result = true;
    }
  }
  return scope.Returns(result);
}

void TPictorD3D9Preview::StopPreview()
{
  static const char kName[] = "TPictorD3D9Preview::StopPreview";
  const TLogScope scope(kName);
  if (OnFrameThread(pState)) {
    LogError("%s called from the preview callback, refused", kName);
    return;
  }
  // As in StartPreview, without the lock: the converter's thread may be waiting for it.
  // The camera object stays: its status tells the host how the preview ended.
  if (pCamera) pCamera->StopCapture();
  const TCriticalSectionHold hold(previewLock);
  ReleaseD3D9();
}

bool TPictorD3D9Preview::GetCaptureStatusEx(TPictorCaptureStatusEx* status)
{
  if (pCamera) return pCamera->GetCaptureStatusEx(status);
  if (!status || status->Size < PICTOR_CAPTURE_STATUS_EX_MIN_SIZE) {
    LogError("%s record null or smaller than %d bytes", "TPictorD3D9Preview::GetCaptureStatusEx",
             PICTOR_CAPTURE_STATUS_EX_MIN_SIZE);
    return false;
  }
  // Never started: idle (0), nothing counted; the fields of a later version stay the host's.
  const unsigned int size = status->Size;
  std::memset(status, 0, size < sizeof *status ? size : sizeof *status);
  status->Size = size;
  return true;
}

void TPictorD3D9Preview::SetAutoReconnect(bool reconnect)
{
  LogInfo("%s %d", "TPictorD3D9Preview::SetAutoReconnect", reconnect ? 1 : 0);
  if (pState) pState->autoReconnect = reconnect;
  if (pCamera) pCamera->SetAutoReconnect(reconnect);
}

void TPictorD3D9Preview::SetConversion(TPictorConversion value)
{
  static const char kName[] = "TPictorD3D9Preview::SetConversion";
  if (value != pcSystemConverter && value != pcBuiltIn) {
    LogError("%s unknown conversion %d", kName, static_cast<int>(value));
    return;
  }
  if (!pState) return;
  pState->conversion = value;
  LogInfo("%s %d", kName, static_cast<int>(value));
}

void TPictorD3D9Preview::SetRenderer(TPictorRenderer value)
{
  static const char kName[] = "TPictorD3D9Preview::SetRenderer";
  if (value != prDirect3D9 && value != prSoftware) {
    LogError("%s unknown renderer %d", kName, static_cast<int>(value));
    return;
  }
  if (!pState) return;
  const TCriticalSectionHold hold(previewLock);
  pState->renderer = value;
  LogInfo("%s %d", kName, static_cast<int>(value));
}

TPictorD3D9PreviewChromaKeyingParams* TPictorD3D9Preview::KeyingParams()
{
  if (!pChromaKeyingParams) pChromaKeyingParams = new (std::nothrow) TPictorD3D9PreviewChromaKeyingParams();
  return pChromaKeyingParams;
}

void TPictorD3D9Preview::SetSensitivity(float sensitivity)
{
  const TCriticalSectionHold hold(previewLock);
  if (TPictorD3D9PreviewChromaKeyingParams* params = KeyingParams()) params->Sensitivity = sensitivity;
}

void TPictorD3D9Preview::SetSmoothing(float smoothing)
{
  const TCriticalSectionHold hold(previewLock);
  if (TPictorD3D9PreviewChromaKeyingParams* params = KeyingParams()) params->Smoothing = smoothing;
}

void TPictorD3D9Preview::SetOpacity(unsigned char opacity)
{
  const TCriticalSectionHold hold(previewLock);
  if (TPictorD3D9PreviewChromaKeyingParams* params = KeyingParams()) params->Opacity = opacity;
}

void TPictorD3D9Preview::SetChromaKeyingColor(TRemoveBackgroundColorType colorType, unsigned int customColor)
{
  const TCriticalSectionHold hold(previewLock);
  if (TPictorD3D9PreviewChromaKeyingParams* params = KeyingParams()) {
    params->ColorType = colorType;
    params->CustomColor = customColor;
  }
}

bool TPictorD3D9Preview::SetKeyingMode(TPictorKeyingMode mode)
{
  static const char kName[] = "TPictorD3D9Preview::SetKeyingMode";
  TLogScope scope(kName);
  if (mode != kmColor && mode != kmPerson) {
    LogError("%s unknown keying mode %d", kName, static_cast<int>(mode));
    return scope.Returns(false);
  }
  if (!pState) return scope.Returns(false);
  TPersonSegmenter* segmenter = nullptr;
  {
    const TCriticalSectionHold hold(previewLock);
    if (mode == kmColor || pState->segmenter) {
      if (mode == kmPerson) KeyingParams();
      pState->keyingMode = mode;
      LogInfo("%s %d", kName, static_cast<int>(mode));
      return scope.Returns(true);
    }
    const TPersonModelChoice model = PersonModelFor(captureFormat);
    pState->segmenter = StartSegmenter(model);
    pState->personModel = model.file;
    segmenter = pState->segmenter.get();
  }
  // The load is waited for without the lock: frames go on being keyed meanwhile. The
  // segmenter stays until the preview goes or this call drops it.
  const TPersonStatus status = segmenter ? segmenter->WaitForLoad(kPersonLoadWaitMs) : psFailed;
  const TCriticalSectionHold hold(previewLock);
  if (status != psReady && status != psLoading) {
    LogError("%s person mode unavailable: %s", kName, PersonStatusName(status));
    pState->segmenter.reset();
    return scope.Returns(false);
  }
  if (status == psLoading) LogInfo("%s the person model is still loading after %u ms", kName, kPersonLoadWaitMs);
  KeyingParams();
  pState->keyingMode = kmPerson;
  LogInfo("%s %d", kName, static_cast<int>(mode));
  return scope.Returns(true);
}

void TPictorD3D9Preview::ChoosePersonModelForFormat()
{
  const TCriticalSectionHold hold(previewLock);
  if (!pState->segmenter) return;
  const TPersonModelChoice model = PersonModelFor(captureFormat);
  if (pState->personModel == model.file) return;
  LogInfo("TPictorD3D9Preview person model %S for %ux%u", model.file, captureFormat.Width, captureFormat.Height);
  pState->segmenter = StartSegmenter(model);
  pState->personModel = model.file;
}

void TPictorD3D9Preview::SetBackground(TPictorD3D9PreviewImage* image)
{
  const TCriticalSectionHold hold(previewLock);
  delete pBackgroundBitmap;
  pBackgroundBitmap = nullptr;
  if (HasPixels(image)) {
    pBackgroundBitmap = CopyBackground(*image);
    // The private copy is stored bottom row first whatever the image's TopDown says:
    // uploaded as the device set-up does, the background is upright at once.
    if (pBackgroundBitmap && pD3D9Device && pD3D9TextureSysMemY && pD3D9BackgroundTextureVidMem)
      LoadTexture(pD3D9TextureSysMemY, pD3D9BackgroundTextureVidMem, pBackgroundBitmap->Pixels,
                  pBackgroundBitmap->Height, static_cast<int>(pBackgroundBitmap->Stride), false);
  }
}

void TPictorD3D9Preview::SetSpillSuppression(float strength)
{
  if (!pState) return;
  const TCriticalSectionHold hold(previewLock);
  if (!(strength >= 0.0f && strength <= 1.0f)) {
    LogError("TPictorD3D9Preview::SetSpillSuppression %f is outside 0..1", static_cast<double>(strength));
    strength = strength > 1.0f ? 1.0f : 0.0f;
  }
  pState->spillSuppression = strength;
}

void TPictorD3D9Preview::SetEdgeChoke(unsigned int pixels)
{
  if (!pState) return;
  const TCriticalSectionHold hold(previewLock);
  if (pixels > 3) {
    LogError("TPictorD3D9Preview::SetEdgeChoke %u is above 3", pixels);
    pixels = 3;
  }
  pState->edgeChoke = pixels;
}

bool TPictorD3D9Preview::SampleKeyColor(unsigned int* color)
{
  static const char kName[] = "TPictorD3D9Preview::SampleKeyColor";
  TLogScope scope(kName);
  if (!color) {
    LogError("%s color is null", kName);
    return scope.Returns(false);
  }
  const TCriticalSectionHold hold(previewLock);
  if (!pState || !pState->screenSampler.Sample(color)) {
    LogError("%s no frame yet or no screen in it", kName);
    return scope.Returns(false);
  }
  LogInfo("%s %06x", kName, *color);
  return scope.Returns(true);
}
