// Entry points of the double: the Media Foundation camera functions of mf.dll, the
// few other mf.dll functions Wine's own DLLs take from it, and the VirtualCam_* control
// functions for tests.
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "common/Ownership_win.h"
#include "tools/virtualcam/CameraRegistry_win.h"
#include "tools/virtualcam/MediaSource_win.h"

namespace virtualcam {
namespace {

std::atomic<LONG> g_counts[7];

}  // namespace

HRESULT ActivationFault(const CameraState& camera);

namespace {

// A camera's activation object: its attributes are those of a video capture device
// (friendly name, symbolic link, source type); reading the name or link fails when the
// camera is configured so.
class CameraActivate final : public AttributesForwarder<TComObject<IMFActivate, IMFAttributes>> {
 public:
  static HRESULT Create(const std::shared_ptr<CameraState>& camera, IMFActivate** out)
  {
    ComPtr<IMFAttributes> attributes;
    HRESULT hr = MFCreateAttributes(&attributes, 3);
    if (SUCCEEDED(hr))
      hr = attributes->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID);
    if (SUCCEEDED(hr)) hr = attributes->SetString(MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME, camera->Name().c_str());
    if (SUCCEEDED(hr))
      hr = attributes->SetString(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK, camera->Link().c_str());
    if (FAILED(hr)) return hr;
    auto* activate = new (std::nothrow) CameraActivate(camera);
    if (!activate) return E_OUTOFMEMORY;
    activate->attributes_ = attributes;
    *out = activate;
    return S_OK;
  }

  // Like a device's activation object, it hands out one source until ShutdownObject or
  // DetachObject.
  STDMETHODIMP ActivateObject(REFIID riid, void** out) override
  {
    if (!out) return E_POINTER;
    *out = nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!source_) {
      HRESULT hr = ActivationFault(*camera_);
      if (SUCCEEDED(hr)) hr = CreateVirtualSource(camera_, &source_);
      if (FAILED(hr)) return hr;
    }
    return source_->QueryInterface(riid, out);
  }
  STDMETHODIMP ShutdownObject() override
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (source_) {
      source_->Shutdown();
      source_.Reset();
    }
    return S_OK;
  }
  STDMETHODIMP DetachObject() override
  {
    std::lock_guard<std::mutex> lock(mutex_);
    source_.Reset();
    return S_OK;
  }

 protected:
  HRESULT ReadFault(REFGUID key) override
  {
    if (key == MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME && camera_->Setup().nameError) return camera_->Setup().nameError;
    if (key == MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK && camera_->Setup().linkError)
      return camera_->Setup().linkError;
    return S_OK;
  }

 private:
  explicit CameraActivate(std::shared_ptr<CameraState> camera) : camera_(std::move(camera)) {}
  ~CameraActivate() = default;

  LiveCount count_{CountKind::Activate};
  std::shared_ptr<CameraState> camera_;
  std::mutex mutex_;
  ComPtr<IMFMediaSource> source_;
};

}  // namespace

// Why a camera cannot be activated now: unplugged (as a device path that no longer
// exists) or blocked by the privacy settings.
HRESULT ActivationFault(const CameraState& camera)
{
  if (camera.Unplugged()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  if (camera.Setup().accessDenied) return E_ACCESSDENIED;
  return S_OK;
}

namespace {

bool AsksForVideoCapture(IMFAttributes* attributes, HRESULT* failure)
{
  GUID type = GUID_NULL;
  *failure = attributes->GetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, &type);
  if (FAILED(*failure)) {
    *failure = E_INVALIDARG;
    return false;
  }
  return type == MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID;
}

}  // namespace

void CountObject(CountKind kind, LONG delta)
{
  g_counts[static_cast<int>(kind)].fetch_add(delta);
}

void ReadCounts(VirtualCamCounts* counts)
{
  counts->activates = g_counts[static_cast<int>(CountKind::Activate)].load();
  counts->sources = g_counts[static_cast<int>(CountKind::Source)].load();
  counts->streams = g_counts[static_cast<int>(CountKind::Stream)].load();
  counts->samples = g_counts[static_cast<int>(CountKind::Sample)].load();
  counts->buffers = g_counts[static_cast<int>(CountKind::Buffer)].load();
  counts->controls = g_counts[static_cast<int>(CountKind::Control)].load();
  LONG total = 0;
  for (const auto& c : g_counts) total += c.load();
  counts->total = total;
}

}  // namespace virtualcam

using namespace virtualcam;

extern "C" {

static HRESULT EnumDeviceSources(IMFAttributes* attributes, IMFActivate*** devices, UINT32* count)
{
  if (!attributes || !devices || !count) return E_POINTER;
  *devices = nullptr;
  *count = 0;
  HRESULT failure = S_OK;
  if (!AsksForVideoCapture(attributes, &failure)) return failure;  // audio: none here

  auto cameras = CurrentCameras();
  cameras.erase(std::remove_if(cameras.begin(), cameras.end(), [](const auto& c) { return c->Unplugged(); }),
                cameras.end());
  if (cameras.empty()) return S_OK;
  auto** array = static_cast<IMFActivate**>(CoTaskMemAlloc(sizeof(IMFActivate*) * cameras.size()));
  if (!array) return E_OUTOFMEMORY;
  for (size_t i = 0; i < cameras.size(); ++i) {
    HRESULT hr = CameraActivate::Create(cameras[i], &array[i]);
    if (FAILED(hr)) {
      while (i > 0) array[--i]->Release();
      CoTaskMemFree(array);
      return hr;
    }
  }
  *devices = array;
  *count = static_cast<UINT32>(cameras.size());
  return S_OK;
}

// An unknown symbolic link fails the way opening a device path that does not exist
// fails: HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND).
static HRESULT CreateDeviceSource(IMFAttributes* attributes, IMFMediaSource** source)
{
  if (!attributes || !source) return E_POINTER;
  *source = nullptr;
  HRESULT failure = S_OK;
  if (!AsksForVideoCapture(attributes, &failure)) return FAILED(failure) ? failure : E_INVALIDARG;
  TCoTaskMemPtr<WCHAR> link;
  UINT32 length = 0;
  if (FAILED(
          attributes->GetAllocatedString(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK, link.Put(), &length)))
    return E_INVALIDARG;
  const std::shared_ptr<CameraState> camera = FindCamera(link.Get());
  if (!camera) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  const HRESULT fault = ActivationFault(*camera);
  if (FAILED(fault)) return fault;
  return CreateVirtualSource(camera, source);
}

// No C++ exception leaves the DLL: an allocation failure inside becomes E_OUTOFMEMORY.
HRESULT WINAPI MFEnumDeviceSources(IMFAttributes* attributes, IMFActivate*** devices, UINT32* count)
{
  try {
    return EnumDeviceSources(attributes, devices, count);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT WINAPI MFCreateDeviceSource(IMFAttributes* attributes, IMFMediaSource** source)
{
  try {
    return CreateDeviceSource(attributes, source);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT WINAPI MFGetService(IUnknown* object, REFGUID service, REFIID riid, void** out)
{
  if (!object || !out) return E_POINTER;
  *out = nullptr;
  ComPtr<IMFGetService> getService;
  if (FAILED(object->QueryInterface(IID_PPV_ARGS(&getService)))) return MF_E_UNSUPPORTED_SERVICE;
  return getService->GetService(service, riid, out);
}

// Wine's mfreadwrite.dll takes MFCreatePresentationClock from mf.dll (for its sink
// writer). The double has no clock of its own: it hands the call to the system's
// mf.dll, loaded by full path beside this module.
HRESULT WINAPI MFCreatePresentationClock(IMFPresentationClock** clock)
{
  if (!clock) return E_POINTER;
  *clock = nullptr;
  static HMODULE system = [] {
    WCHAR path[MAX_PATH];
    UINT n = GetSystemDirectoryW(path, MAX_PATH);
    if (n == 0 || n + 8 >= MAX_PATH) return static_cast<HMODULE>(nullptr);
    wcscat(path, L"\\mf.dll");
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }();
  using Fn = HRESULT(WINAPI*)(IMFPresentationClock**);
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&MFCreatePresentationClock), &self);
  if (!system || system == self) return E_NOTIMPL;
  auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(system, "MFCreatePresentationClock")));
  return fn ? fn(clock) : E_NOTIMPL;
}

int WINAPI VirtualCam_Configure(const char* config, char* error, int errorSize)
{
  std::string message;
  int line = 0;
  try {
    line = ConfigureCameras(config, &message);
  } catch (...) {
    line = -1;
    message = "out of memory";
  }
  if (error && errorSize > 0) {
    const size_t n = std::min(message.size(), static_cast<size_t>(errorSize - 1));
    memcpy(error, message.data(), n);
    error[n] = '\0';
  }
  return line;
}

void WINAPI VirtualCam_GetCounts(VirtualCamCounts* counts)
{
  if (counts) ReadCounts(counts);
}

LONG WINAPI VirtualCam_GetFrameCount(const wchar_t* symbolicLink)
{
  try {
    std::shared_ptr<CameraState> camera = FindCamera(symbolicLink, true);
    return camera ? camera->framesDelivered.load() : 0;
  } catch (...) {
    return 0;
  }
}

BOOL WINAPI VirtualCam_GetControl(const wchar_t* symbolicLink, int property, LONG* value, LONG* flags, LONG* setCalls)
{
  std::shared_ptr<CameraState> camera;
  try {
    camera = FindCamera(symbolicLink, true);
  } catch (...) {
    return FALSE;
  }
  ControlValue control;
  if (!camera || !camera->ReadControl(property, &control)) return FALSE;
  if (value) *value = control.value;
  if (flags) *flags = control.flags;
  if (setCalls) *setCalls = control.setCalls;
  return TRUE;
}

// The camera leaves the device list (or comes back); its running streams fail.
static BOOL SetUnplugged(const wchar_t* symbolicLink, bool unplugged)
{
  try {
    std::shared_ptr<CameraState> camera = FindCamera(symbolicLink, true);
    if (!camera) return FALSE;
    camera->SetUnplugged(unplugged);
    return TRUE;
  } catch (...) {
    return FALSE;
  }
}

BOOL WINAPI VirtualCam_Unplug(const wchar_t* symbolicLink)
{
  return SetUnplugged(symbolicLink, true);
}

BOOL WINAPI VirtualCam_Plug(const wchar_t* symbolicLink)
{
  return SetUnplugged(symbolicLink, false);
}

}  // extern "C"
