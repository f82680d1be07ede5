// TPictorD3D9Preview: a live chroma-keyed picture of one camera. It captures in a chosen
// format, removes a key colour on the CPU, softens the key mask and puts a background
// image (or black) in place of the key, and hands the result to the host's callback.
// Nothing is drawn on the screen. Two renderers make the same picture (each channel
// within 2 levels): Direct3D 9 (the default) draws each frame into an off-screen target
// through a pixel program and reads it back; the software renderer composes it on the
// CPU straight into the buffer handed to the host, and makes no Direct3D object at all.
//
// Threads: frames are composited on the capture's converter thread under previewLock;
// the setters may be called from any thread (and from inside the host's callback) and
// take effect from the next frame on. StartPreview, StopPreview and the destructor run on
// the host thread that created the object; the host's callback must not destroy the preview.
#pragma once

#include <windows.h>
#include <d3d9.h>

#include "Pictor.h"
#include "PictorConfig.h"
#include "PictorPreviewRecords.h"

// Who composes the keyed preview (TPictorD3D9Preview::SetRenderer). Fixed at 32 bits.
enum TPictorRenderer : int { prDirect3D9 = 0, prSoftware = 1 };

// Where the matte comes from (TPictorD3D9Preview::SetKeyingMode). Fixed at 32 bits.
enum TPictorKeyingMode : int { kmColor = 0, kmPerson = 1 };

class TFPSCalculator;
class TQDAlignedBitmap32;
class TPictorD3D9PreviewWindow;
struct TPictorD3D9PreviewState;

// Each public member is exported on its own (PICTOR_API), the private ones are not.
class TPictorD3D9Preview {
 public:
  // Creates the hidden focus window on the calling thread; no camera or device yet.
  PICTOR_API TPictorD3D9Preview();
  // Stops the capture (no frame runs after that), then releases Direct3D, the camera,
  // the window and last the lock.
  PICTOR_API ~TPictorD3D9Preview();
  TPictorD3D9Preview(const TPictorD3D9Preview&) = delete;
  TPictorD3D9Preview& operator=(const TPictorD3D9Preview&) = delete;

  // Starts (or restarts) the preview of camera cameraId in capture format formatIndex.
  // background and params may be null: a null background keeps the current one, null
  // params keep the current keying record (or none: no keying). An image without pixels
  // (null Data, zero Width or Height) counts as no image. topDown goes to the capture
  // unchanged; the preview follows the row order each frame carries, so its output is
  // upright either way. Returns true when the capture runs. callback and userData are
  // used until the next StartPreview or the destructor has returned: frames may arrive on
  // the converter's thread up to then, so userData must live until then.
  PICTOR_API bool StartPreview(const wchar_t* cameraId, int formatIndex, bool topDown,
                               TPictorD3D9PreviewImage* background, TPictorD3D9PreviewChromaKeyingParams* params,
                               TPreviewImageReadyProc callback, void* userData);

  // Ends the preview: stops its capture (no composite reaches the callback after this
  // returns), closes the camera and releases the renderer's objects; the settings, the
  // keying record and the background stay for the next StartPreview. Does nothing when
  // no preview runs. Refused, with an error line, from inside the preview's own callback
  // (it would wait for its own thread). Runs on a host thread, as StartPreview does.
  PICTOR_API void StopPreview();
  // The status of the preview's capture, as TPictor::GetCaptureStatusEx gives it: idle,
  // running, reconnecting or ended with its result, frames delivered to the preview and
  // dropped before it, the measured frame rate and the reconnect count; written up to
  // status->Size bytes. False, writing nothing, for a null record or a Size under
  // PICTOR_CAPTURE_STATUS_EX_MIN_SIZE. Before the first StartPreview: idle, all zero. May
  // be called from inside the preview's callback.
  PICTOR_API bool GetCaptureStatusEx(TPictorCaptureStatusEx* status);
  // As TPictor::SetAutoReconnect for the preview's capture: off by default; on, a lost
  // camera is waited for (PICTOR_CAPTURE_RECONNECTING) and the preview goes on with the
  // same format, settings and callback when it is back; off, the loss ends the preview
  // (PICTOR_CAPTURE_ENDED). Takes effect at once, also while the preview runs.
  PICTOR_API void SetAutoReconnect(bool reconnect);

  // The converter of the preview's capture (TPictor::SetConversion), from the next
  // StartPreview on.
  PICTOR_API void SetConversion(TPictorConversion conversion);
  // The renderer, from the next StartPreview on (prDirect3D9 by default). An unknown
  // value is refused with an error line and the choice stays as it was.
  PICTOR_API void SetRenderer(TPictorRenderer renderer);

  // Sets the background image (copied; the host keeps its image), or removes it when
  // image is null or has no pixels.
  PICTOR_API void SetBackground(TPictorD3D9PreviewImage* image);
  // The first call of any of these four switches keying on, with defaults for the rest.
  PICTOR_API void SetSensitivity(float sensitivity);
  PICTOR_API void SetSmoothing(float smoothing);
  PICTOR_API void SetOpacity(unsigned char opacity);
  PICTOR_API void SetChromaKeyingColor(TRemoveBackgroundColorType colorType, unsigned int customColor);
  // kmColor (the default): the matte is the colour key's. kmPerson: the matte is a person
  // segmentation model's, for a room without a screen: everything but the people in the
  // picture is replaced. The model runs on a thread of its own on the newest frame, and
  // every frame is keyed with the newest mask, so a slow machine updates the mask less
  // often but never drops camera frames; until the first mask only the background shows.
  // In person mode the keying record's Sensitivity is the person probability below which
  // a pixel is replaced (0.5 near the default; higher trims more round the person),
  // Opacity, the background, the renderers' edge softening and SetEdgeChoke apply as to a
  // colour key; the key colour, Smoothing and spill suppression do not. kmPerson turns
  // keying on (with the default record if there is none).
  // The inference runtime (onnxruntime.dll, which needs the Visual C++ 2015-2022 runtime
  // 14.40 or later) and the model are loaded from beside Pictor.dll at the first switch to
  // kmPerson, which waits for that load (typically 0.3 s; a load that outlasts
  // kPersonLoadWaitMs goes on, the call returns true and a later failure is logged); false,
  // with a log line saying what is missing, when they cannot be loaded, and the mode stays
  // as it was. No runtime exists for 32-bit Windows: there kmPerson is always refused.
  // False, with an error line, for an unknown mode.
  PICTOR_API bool SetKeyingMode(TPictorKeyingMode mode);
  static constexpr unsigned int kPersonLoadWaitMs = 3000;

  // For real screens, both off by default and used only while keying is on. Spill
  // suppression: on every kept pixel the key colour's excess over the mean of the other
  // two channels goes, in proportion to strength (0 off, 1 all; below 0 or not a number
  // counts as 0, above 1 as 1, with an error line). Edge choke: the matte shrinks by
  // pixels (0-3; more counts as 3, with an error line) before it is softened.
  PICTOR_API void SetSpillSuppression(float strength);
  PICTOR_API void SetEdgeChoke(unsigned int pixels);
  // The screen's colour in the latest camera frame, as 0xRRGGBB for
  // SetChromaKeyingColor(rbcCustom, color): the dominant saturated colour along the
  // picture's border, the median of its largest uniform region. False when no frame has
  // arrived yet, no screen is found or color is null.
  PICTOR_API bool SampleKeyColor(unsigned int* color);

 private:
  friend class TPictorD3D9PreviewTestAccess;  // white-box tests

  // The frame callback given to TPictor::StartCapture, with the preview as context.
  static bool PreviewImageReadyThunk(unsigned int width, unsigned int height, bool topDown, unsigned char* pixels,
                                     void* context);
  // True when the frame was composed and read back (and handed to the host's callback
  // when there is one); false when it was given up, with its error line.
  bool PictorImageReadyProc(unsigned int width, unsigned int height, unsigned char* pixels, bool topDown);

  // The keyed frame composed on the CPU into the software output, handed to the host.
  bool ComposeInSoftware(unsigned int width, unsigned int height, unsigned char* pixels, bool topDown);
  // Keys the frame in place with the keying record and the real-screen options (nothing
  // without a keying record). Under previewLock.
  void KeyFrame(unsigned char* pixels, unsigned int width, unsigned int height, bool topDown);
  // Writes the frame's alpha from the newest person mask, or 0 before there is one.
  void KeyPerson(unsigned char* pixels, unsigned int width, unsigned int height, bool topDown);
  // Hands the composed picture to the host's callback, if any; a callback that throws
  // loses only this frame. Under previewLock.
  void Deliver(unsigned int width, unsigned int height, unsigned int pitch, unsigned char* picture);
  // Drops a frame whose size is not the renderer's output's (the host would read past it
  // or a stale part of it), logging the first one. True when the frame was dropped.
  bool DropsFrameOfAnotherSize(unsigned int width, unsigned int height, unsigned int outputWidth,
                               unsigned int outputHeight, const char* output);

  // The software renderer's set-up for the capture format: the compositor and the output
  // the host reads. Releases the Direct3D objects first.
  bool InitSoftware();
  bool InitD3D9();
  DWORD GetVertexProcessingCaps();
  bool CreatePixelShader(IDirect3DPixelShader9** shader);
  // Uploads rows stored rows (the first is the top of the picture when topDown, else the
  // bottom) through the staging texture into target.
  void LoadTexture(IDirect3DTexture9* staging, IDirect3DTexture9* target, const unsigned char* source,
                   unsigned int rows, int stride, bool topDown);
  // Releases every renderer object (the Direct3D ones in the documented order, the
  // software output) and nulls the members; reports the frames dropped for their size
  // since the set-up.
  void ReleaseD3D9();
  // In person mode, a segmenter for the model that suits the capture format's shape (its
  // thread loads it; frames show the background until its first mask).
  void ChoosePersonModelForFormat();
  // The keying record, created with the defaults when there is none. Under previewLock.
  TPictorD3D9PreviewChromaKeyingParams* KeyingParams();

  TFPSCalculator* pFPSCalculator;
  DWORD lastFPSLogTick;
  D3DPRESENT_PARAMETERS presentParameters;
  IDirect3D9Ex* pD3D9;
  IDirect3DDevice9Ex* pD3D9Device;
  IDirect3DSurface9* pD3DRTSurface;
  IDirect3DTexture9* pD3D9TextureSysMemY;
  IDirect3DTexture9* pD3D9TextureVidMemY;
  IDirect3DTexture9* pD3D9BackgroundTextureVidMem;
  IDirect3DSurface9* pD3D9SurfaceVidMem;
  IDirect3DPixelShader9* pD3D9PixelShaderBlur7x7KernelFilterD3D9;
  TQDAlignedBitmap32* pBackgroundBitmap;
  TPreviewImageReadyProc pHostImageReady;
  void* pHostUserData;
  bool dynamicTexturesSupported;
  TPictorFormat captureFormat;
  TPictor* pCamera;
  TPictorD3D9PreviewWindow* pPreviewWindow;
  TPictorD3D9PreviewChromaKeyingParams* pChromaKeyingParams;
  CRITICAL_SECTION previewLock;
  // Everything beyond the members above (preview/PictorD3D9PreviewState.h), owned; null
  // only when it could not be allocated, and then the preview does nothing.
  TPictorD3D9PreviewState* pState;
};

// Hosts create the preview themselves (on the stack or with new), so its size is part of
// the binary interface: from this version on it never changes, and new state goes behind
// pState.
static_assert(sizeof(TPictorD3D9Preview) == (sizeof(void*) == 8 ? 1912 : 1820), "TPictorD3D9Preview size");
