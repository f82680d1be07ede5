// The C interface's keyed preview (include/PictorC.h): a checked layer over
// TPictorD3D9Preview, with the handle rules of c-api/PictorCHandles.h.
#include "PictorC.h"

#include "PictorD3D9Preview.h"
#include "c-api/PictorCHandles.h"
#include "log/Log.h"

#include <cstring>
#include <memory>
#include <vector>

static_assert(PICTOR_RENDERER_DIRECT3D9 == prDirect3D9 && PICTOR_RENDERER_SOFTWARE == prSoftware, "renderer values");
static_assert(PICTOR_KEYING_COLOR == kmColor && PICTOR_KEYING_PERSON == kmPerson, "keying mode values");

using namespace pictorc;

namespace {

// What one StartPreview hands the preview as its user data: the host's callback and
// context. A new binding per start, so that frames of a capture that is still being
// replaced never see half-written fields.
struct TPreviewBinding {
  const void* Object;
  PictorPreviewCallback Callback;
  void* Context;
};

struct TPreviewObject : TObject {
  TPreviewObject() : TObject(THandleKind::Preview) {}
  // Declared first, so released after the preview: its frames read the bindings.
  std::vector<std::unique_ptr<TPreviewBinding>> Bindings;
  TPictorD3D9Preview Preview;
};

bool PreviewThunk(unsigned int width, unsigned int height, unsigned int pitch, unsigned char* pixels, void* userData)
{
  const TPreviewBinding* binding = static_cast<const TPreviewBinding*>(userData);
  const TCallbackScope scope(binding->Object);
  binding->Callback(width, height, pitch, pixels, binding->Context);
  return true;
}

std::shared_ptr<TPreviewObject> FindPreview(const char* function, PictorPreview preview)
{
  return Lookup<TPreviewObject>(function, preview, THandleKind::Preview);
}

TPictorD3D9PreviewImage ImageOf(const PictorPreviewImage& image)
{
  return TPictorD3D9PreviewImage(image.Width, image.Height, image.Stride, image.Data, HostBool(&image.TopDown));
}

// The four keying setters share their checks.
template <typename Set>
int SetKeying(const char* function, PictorPreview preview, Set set)
{
  return Guarded(function, [&] {
    const auto object = FindPreview(function, preview);
    if (!object) return PICTOR_E_INVALID_HANDLE;
    set(object->Preview);
    return PICTOR_OK;
  });
}

}  // namespace

PICTOR_C_API int PICTOR_CDECL PictorPreviewCreate(PictorPreview* preview)
{
  static const char kName[] = "PictorPreviewCreate";
  return Guarded(kName, [&] {
    if (!preview) return Fail(kName, PICTOR_E_NULL_POINTER, "preview is null");
    *preview = nullptr;
    const uintptr_t handle = RegisterHandle(std::unique_ptr<TObject>(new TPreviewObject()));
    *preview = reinterpret_cast<PictorPreview>(handle);
    LogInfo("%s exit with %p", kName, static_cast<void*>(*preview));
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorPreviewDestroy(PictorPreview preview)
{
  static const char kName[] = "PictorPreviewDestroy";
  return Guarded(kName, [&] {
    if (const auto object = FindPreview(kName, preview)) {
      if (InCallbackOf(object.get()))
        return Fail(kName, PICTOR_E_IN_CALLBACK, "called from the preview's own frame callback");
    }
    // The preview's destructor stops its capture before it releases anything.
    if (!DestroyHandle(reinterpret_cast<uintptr_t>(preview), THandleKind::Preview))
      return PICTOR_E_INVALID_HANDLE;  // FindPreview has logged it
    LogInfo("%s %p", kName, static_cast<void*>(preview));
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorPreviewSetConversion(PictorPreview preview, int conversion)
{
  static const char kName[] = "PictorPreviewSetConversion";
  return Guarded(kName, [&] {
    const auto object = FindPreview(kName, preview);
    if (!object) return PICTOR_E_INVALID_HANDLE;
    if (conversion != PICTOR_CONVERSION_SYSTEM && conversion != PICTOR_CONVERSION_BUILT_IN)
      return Fail(kName, PICTOR_E_INVALID_ARGUMENT, "unknown conversion");
    object->Preview.SetConversion(static_cast<TPictorConversion>(conversion));
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorPreviewSetRenderer(PictorPreview preview, int renderer)
{
  static const char kName[] = "PictorPreviewSetRenderer";
  return Guarded(kName, [&] {
    const auto object = FindPreview(kName, preview);
    if (!object) return PICTOR_E_INVALID_HANDLE;
    if (renderer != PICTOR_RENDERER_DIRECT3D9 && renderer != PICTOR_RENDERER_SOFTWARE)
      return Fail(kName, PICTOR_E_INVALID_ARGUMENT, "unknown renderer");
    object->Preview.SetRenderer(static_cast<TPictorRenderer>(renderer));
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorPreviewStart(PictorPreview preview, const wchar_t* link, int formatIndex,
                                                 int topDown, const PictorPreviewImage* background,
                                                 const PictorKeyingParams* params, PictorPreviewCallback callback,
                                                 void* context)
{
  static const char kName[] = "PictorPreviewStart";
  return Guarded(kName, [&] {
    const auto object = FindPreview(kName, preview);
    if (!object) return PICTOR_E_INVALID_HANDLE;
    if (InCallbackOf(object.get()))
      return Fail(kName, PICTOR_E_IN_CALLBACK, "called from the preview's own frame callback");
    if (!link) return Fail(kName, PICTOR_E_NULL_POINTER, "link is null");

    TPictorD3D9PreviewImage image;
    if (background) image = ImageOf(*background);
    TPictorD3D9PreviewChromaKeyingParams keying;
    if (params) {
      std::memcpy(static_cast<void*>(&keying), params, sizeof keying);
    }
    object->Bindings.push_back(std::unique_ptr<TPreviewBinding>(new TPreviewBinding{object.get(), callback, context}));
    TPreviewBinding* binding = object->Bindings.back().get();
    const bool started =
        object->Preview.StartPreview(link, formatIndex, topDown != 0, background ? &image : nullptr,
                                     params ? &keying : nullptr, callback ? PreviewThunk : nullptr, binding);
    if (!started) return Fail(kName, PICTOR_E_FAILED, "the preview did not start");
    // The earlier captures have been stopped inside StartPreview: only this binding is in use.
    object->Bindings.erase(object->Bindings.begin(), object->Bindings.end() - 1);
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorPreviewSetBackground(PictorPreview preview, const PictorPreviewImage* image)
{
  static const char kName[] = "PictorPreviewSetBackground";
  return Guarded(kName, [&] {
    const auto object = FindPreview(kName, preview);
    if (!object) return PICTOR_E_INVALID_HANDLE;
    if (!image) {
      object->Preview.SetBackground(nullptr);
      return PICTOR_OK;
    }
    TPictorD3D9PreviewImage copy = ImageOf(*image);
    object->Preview.SetBackground(&copy);
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorPreviewSetSensitivity(PictorPreview preview, float sensitivity)
{
  return SetKeying("PictorPreviewSetSensitivity", preview,
                   [&](TPictorD3D9Preview& p) { p.SetSensitivity(sensitivity); });
}

PICTOR_C_API int PICTOR_CDECL PictorPreviewSetSmoothing(PictorPreview preview, float smoothing)
{
  return SetKeying("PictorPreviewSetSmoothing", preview, [&](TPictorD3D9Preview& p) { p.SetSmoothing(smoothing); });
}

PICTOR_C_API int PICTOR_CDECL PictorPreviewSetOpacity(PictorPreview preview, unsigned char opacity)
{
  return SetKeying("PictorPreviewSetOpacity", preview, [&](TPictorD3D9Preview& p) { p.SetOpacity(opacity); });
}

PICTOR_C_API int PICTOR_CDECL PictorPreviewSetKeyColor(PictorPreview preview, int colorType, unsigned int customColor)
{
  return SetKeying("PictorPreviewSetKeyColor", preview, [&](TPictorD3D9Preview& p) {
    p.SetChromaKeyingColor(static_cast<TRemoveBackgroundColorType>(colorType), customColor);
  });
}

PICTOR_C_API int PICTOR_CDECL PictorPreviewSetKeyingMode(PictorPreview preview, int mode)
{
  static const char kName[] = "PictorPreviewSetKeyingMode";
  return Guarded(kName, [&] {
    const auto object = FindPreview(kName, preview);
    if (!object) return PICTOR_E_INVALID_HANDLE;
    if (mode != PICTOR_KEYING_COLOR && mode != PICTOR_KEYING_PERSON)
      return Fail(kName, PICTOR_E_INVALID_ARGUMENT, "unknown keying mode");
    if (!object->Preview.SetKeyingMode(static_cast<TPictorKeyingMode>(mode)))
      return Fail(kName, PICTOR_E_PERSON_UNAVAILABLE, "person segmentation unavailable");
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorPreviewSetSpillSuppression(PictorPreview preview, float strength)
{
  static const char kName[] = "PictorPreviewSetSpillSuppression";
  return Guarded(kName, [&] {
    const auto object = FindPreview(kName, preview);
    if (!object) return PICTOR_E_INVALID_HANDLE;
    if (!(strength >= 0.0f && strength <= 1.0f)) return Fail(kName, PICTOR_E_INVALID_ARGUMENT, "strength outside 0..1");
    object->Preview.SetSpillSuppression(strength);
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorPreviewSetEdgeChoke(PictorPreview preview, unsigned int pixels)
{
  static const char kName[] = "PictorPreviewSetEdgeChoke";
  return Guarded(kName, [&] {
    const auto object = FindPreview(kName, preview);
    if (!object) return PICTOR_E_INVALID_HANDLE;
    if (pixels > 3) return Fail(kName, PICTOR_E_INVALID_ARGUMENT, "choke above 3 pixels");
    object->Preview.SetEdgeChoke(pixels);
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorPreviewSampleKeyColor(PictorPreview preview, unsigned int* color)
{
  static const char kName[] = "PictorPreviewSampleKeyColor";
  return Guarded(kName, [&] {
    const auto object = FindPreview(kName, preview);
    if (!object) return PICTOR_E_INVALID_HANDLE;
    if (!color) return Fail(kName, PICTOR_E_NULL_POINTER, "color is null");
    if (!object->Preview.SampleKeyColor(color)) return Fail(kName, PICTOR_E_FAILED, "no frame yet or no screen in it");
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorDefaultKeyingParams(PictorKeyingParams* params)
{
  static const char kName[] = "PictorDefaultKeyingParams";
  return Guarded(kName, [&] {
    if (!params) return Fail(kName, PICTOR_E_NULL_POINTER, "params is null");
    const TPictorD3D9PreviewChromaKeyingParams defaults;
    std::memcpy(params, &defaults, sizeof defaults);
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorPreviewStop(PictorPreview preview)
{
  static const char kName[] = "PictorPreviewStop";
  return Guarded(kName, [&] {
    const auto object = FindPreview(kName, preview);
    if (!object) return PICTOR_E_INVALID_HANDLE;
    if (InCallbackOf(object.get()))
      return Fail(kName, PICTOR_E_IN_CALLBACK, "called from the preview's own frame callback");
    object->Preview.StopPreview();
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorPreviewGetStatus(PictorPreview preview, PictorCaptureStatusEx* status)
{
  static const char kName[] = "PictorPreviewGetStatus";
  return Guarded(kName, [&] {
    const auto object = FindPreview(kName, preview);
    if (!object) return PICTOR_E_INVALID_HANDLE;
    if (!status) return Fail(kName, PICTOR_E_NULL_POINTER, "status is null");
    if (status->Size < PICTOR_CAPTURE_STATUS_EX_MIN_SIZE)
      return Fail(kName, PICTOR_E_INVALID_ARGUMENT, "status Size is smaller than the first version's record");
    object->Preview.GetCaptureStatusEx(status);
    return PICTOR_OK;
  });
}

PICTOR_C_API int PICTOR_CDECL PictorPreviewSetAutoReconnect(PictorPreview preview, int on)
{
  static const char kName[] = "PictorPreviewSetAutoReconnect";
  return Guarded(kName, [&] {
    const auto object = FindPreview(kName, preview);
    if (!object) return PICTOR_E_INVALID_HANDLE;
    object->Preview.SetAutoReconnect(on != 0);
    return PICTOR_OK;
  });
}
