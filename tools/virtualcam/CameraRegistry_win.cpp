#include "tools/virtualcam/CameraRegistry_win.h"

#include <mfapi.h>
#include <mferror.h>
#include <strmif.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace virtualcam {
namespace {

std::mutex g_setMutex;
bool g_loaded = false;
std::vector<std::shared_ptr<CameraState>> g_cameras;

std::vector<std::shared_ptr<CameraState>> BuildStates(std::vector<CameraSetup> setups)
{
  std::vector<std::shared_ptr<CameraState>> states;
  for (CameraSetup& setup : setups) states.push_back(std::make_shared<CameraState>(std::move(setup)));
  return states;
}

// The first use reads the file named by PICTOR_VIRTUALCAM_CONFIG, or takes the default
// set. A file that cannot be read or parsed leaves no camera at all and says why on
// stderr and the debugger output, so that a wrong set-up is not mistaken for a working one.
void LoadInitialSetLocked()
{
  if (g_loaded) return;
  g_loaded = true;
  char path[MAX_PATH * 2];
  const DWORD n = GetEnvironmentVariableA("PICTOR_VIRTUALCAM_CONFIG", path, sizeof(path));
  if (n == 0 || n >= sizeof(path)) {
    g_cameras = BuildStates(ParseConfig(DefaultConfigText()).cameras);
    return;
  }
  std::ifstream file(path, std::ios::binary);
  std::string message;
  if (!file) {
    message = std::string("virtualcam: cannot read PICTOR_VIRTUALCAM_CONFIG file ") + path;
  } else {
    std::stringstream text;
    text << file.rdbuf();
    ParseResult parsed = ParseConfig(text.str());
    if (parsed.errorLine == 0) {
      g_cameras = BuildStates(std::move(parsed.cameras));
      return;
    }
    message = std::string("virtualcam: ") + path + " line " + std::to_string(parsed.errorLine) + ": " + parsed.error;
  }
  std::fprintf(stderr, "%s\n", message.c_str());
  OutputDebugStringA((message + "\n").c_str());
}

const GUID& SubtypeGuid(Subtype subtype)
{
  switch (subtype) {
    case Subtype::YUY2:
      return MFVideoFormat_YUY2;
    case Subtype::NV12:
      return MFVideoFormat_NV12;
    case Subtype::I420:
      return MFVideoFormat_I420;
    case Subtype::RGB32:
      return MFVideoFormat_RGB32;
    case Subtype::ARGB32:
      return MFVideoFormat_ARGB32;
    case Subtype::MJPG:
      return MFVideoFormat_MJPG;
  }
  return MFVideoFormat_YUY2;
}

uint32_t BitsPerPixel(Subtype subtype)
{
  switch (subtype) {
    case Subtype::YUY2:
      return 16;
    case Subtype::NV12:
    case Subtype::I420:
      return 12;
    case Subtype::RGB32:
    case Subtype::ARGB32:
      return 32;
    case Subtype::MJPG:
      return 0;
  }
  return 0;
}

UINT64 Pack(uint32_t high, uint32_t low)
{
  return (static_cast<UINT64>(high) << 32) | low;
}

}  // namespace

std::wstring Utf8ToWide(const std::string& text)
{
  if (text.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
  return wide;
}

bool FormatIsBottomUp(const FormatSetup& format)
{
  if (format.subtype != Subtype::RGB32 && format.subtype != Subtype::ARGB32) return false;
  const int32_t stride = format.hasStride ? format.stride : NaturalStride(format.subtype, format.width);
  return stride < 0;
}

HRESULT CreateNativeType(const FormatSetup& f, IMFMediaType** out)
{
  ComPtr<IMFMediaType> type;
  HRESULT hr = MFCreateMediaType(&type);
  if (FAILED(hr)) return hr;
  const bool yuv = f.subtype == Subtype::YUY2 || f.subtype == Subtype::NV12 || f.subtype == Subtype::I420;
  const bool compressed = f.subtype == Subtype::MJPG;
  const Ratio rateMin = f.rateMin.den ? f.rateMin : f.rate;
  const Ratio rateMax = f.rateMax.den ? f.rateMax : f.rate;
  uint64_t bitrate = f.bitrate;
  if (bitrate == 0) {
    const uint64_t bits = compressed ? 8ull * FrameBytes(f.subtype, f.width, f.height)
                                     : static_cast<uint64_t>(f.width) * f.height * BitsPerPixel(f.subtype);
    bitrate = bits * f.rate.num / f.rate.den;
    if (bitrate > UINT32_MAX) bitrate = UINT32_MAX;
  }
  const int32_t stride = f.hasStride ? f.stride : NaturalStride(f.subtype, f.width);

  type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
  type->SetGUID(MF_MT_SUBTYPE, SubtypeGuid(f.subtype));
  if (!(f.omit & kOmitFrameSize)) type->SetUINT64(MF_MT_FRAME_SIZE, Pack(f.width, f.height));
  if (!(f.omit & kOmitFrameRate)) type->SetUINT64(MF_MT_FRAME_RATE, Pack(f.rate.num, f.rate.den));
  if (!(f.omit & kOmitFrameRateRange)) {
    type->SetUINT64(MF_MT_FRAME_RATE_RANGE_MIN, Pack(rateMin.num, rateMin.den));
    type->SetUINT64(MF_MT_FRAME_RATE_RANGE_MAX, Pack(rateMax.num, rateMax.den));
  }
  if (!(f.omit & kOmitPixelAspectRatio)) type->SetUINT64(MF_MT_PIXEL_ASPECT_RATIO, Pack(f.aspect.num, f.aspect.den));
  if (!(f.omit & kOmitInterlaceMode)) type->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
  if (!(f.omit & kOmitAllSamplesIndependent)) type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, TRUE);
  if (!(f.omit & kOmitFixedSizeSamples)) type->SetUINT32(MF_MT_FIXED_SIZE_SAMPLES, compressed ? FALSE : TRUE);
  if (!compressed && !(f.omit & kOmitSampleSize))
    type->SetUINT32(MF_MT_SAMPLE_SIZE, FrameBytes(f.subtype, f.width, f.height));
  if (!compressed && !(f.omit & kOmitDefaultStride)) type->SetUINT32(MF_MT_DEFAULT_STRIDE, static_cast<UINT32>(stride));
  if (!(f.omit & kOmitAvgBitrate)) type->SetUINT32(MF_MT_AVG_BITRATE, static_cast<UINT32>(bitrate));
  if (!(f.omit & kOmitAmFormatType)) type->SetGUID(MF_MT_AM_FORMAT_TYPE, FORMAT_VideoInfo);
  if (yuv && !(f.omit & kOmitYuvMatrix)) type->SetUINT32(MF_MT_YUV_MATRIX, MFVideoTransferMatrix_BT601);
  if (yuv && !(f.omit & kOmitNominalRange)) type->SetUINT32(MF_MT_VIDEO_NOMINAL_RANGE, MFNominalRange_16_235);
  *out = type.Detach();
  return S_OK;
}

CameraState::CameraState(CameraSetup setup)
    : setup_(std::move(setup)), name_(Utf8ToWide(setup_.name)), link_(Utf8ToWide(setup_.link))
{
  for (const FormatSetup& f : setup_.formats) {
    ComPtr<IMFMediaType> type;
    if (SUCCEEDED(CreateNativeType(f, &type))) types_.push_back(type);
  }
  for (int i = 0; i < kControlCount; ++i) {
    controls_[i].value = setup_.controls[i].value;
    controls_[i].flags = setup_.controls[i].flags;
  }
}

HRESULT CameraState::GetRange(int index, LONG* min, LONG* max, LONG* step, LONG* def, LONG* caps)
{
  if (!min || !max || !step || !def || !caps) return E_POINTER;
  if (index < 0 || index >= kControlCount || !setup_.controls[index].configured) return E_PROP_ID_UNSUPPORTED;
  const ControlSetup& c = setup_.controls[index];
  *min = c.min;
  *max = c.max;
  *step = c.step;
  *def = c.defaultValue;
  // Capability flags: manual always, automatic when the property supports it.
  *caps = 2 | (c.autoSupported ? 1 : 0);
  return S_OK;
}

HRESULT CameraState::Get(int index, LONG* value, LONG* flags)
{
  if (!value || !flags) return E_POINTER;
  if (index < 0 || index >= kControlCount || !setup_.controls[index].configured) return E_PROP_ID_UNSUPPORTED;
  std::lock_guard<std::mutex> lock(controlsMutex_);
  *value = controls_[index].value;
  *flags = controls_[index].flags;
  return S_OK;
}

HRESULT CameraState::Set(int index, LONG value, LONG flags)
{
  if (index < 0 || index >= kControlCount) return E_PROP_ID_UNSUPPORTED;
  std::lock_guard<std::mutex> lock(controlsMutex_);
  ++controls_[index].setCalls;
  const ControlSetup& c = setup_.controls[index];
  if (!c.configured) return E_PROP_ID_UNSUPPORTED;
  // Exactly one mode, and automatic only where the property has it; the value must lie
  // on the property's grid within its range, as a driver checks it.
  if (flags != 1 && flags != 2) return E_INVALIDARG;
  if (flags == 1 && !c.autoSupported) return E_INVALIDARG;
  if (value < c.min || value > c.max) return E_INVALIDARG;
  if ((static_cast<int64_t>(value) - c.min) % c.step != 0) return E_INVALIDARG;
  controls_[index].value = value;
  controls_[index].flags = flags;
  return S_OK;
}

bool CameraState::ReadControl(int index, ControlValue* out)
{
  if (index < 0 || index >= kControlCount || !out) return false;
  std::lock_guard<std::mutex> lock(controlsMutex_);
  *out = controls_[index];
  return true;
}

std::vector<std::shared_ptr<CameraState>> CurrentCameras()
{
  std::lock_guard<std::mutex> lock(g_setMutex);
  LoadInitialSetLocked();
  return g_cameras;
}

std::shared_ptr<CameraState> FindCamera(const wchar_t* link, bool includeUnplugged)
{
  if (!link) return nullptr;
  for (const auto& camera : CurrentCameras()) {
    if (camera->Link() == link) return includeUnplugged || !camera->Unplugged() ? camera : nullptr;
  }
  return nullptr;
}

bool CameraState::Unplugged() const
{
  if (!unplugged_.load()) return false;
  const ULONGLONG replug = replugTick_.load();
  return replug == 0 || GetTickCount64() < replug;  // a timed unplug needs no thread to end it
}

void CameraState::FrameDelivered()
{
  const LONG delivered = framesDelivered.fetch_add(1) + 1;
  if (delivered != setup_.unplugAfter) return;
  SetUnplugged(true, setup_.replugAfterMs < 0 ? 0 : GetTickCount64() + setup_.replugAfterMs + 1);
}

void CameraState::SetUnplugged(bool unplugged, ULONGLONG replugTick)
{
  replugTick_ = replugTick;
  unplugged_ = unplugged;
  if (!unplugged) return;
  std::lock_guard<std::mutex> lock(streamsMutex_);
  for (UnplugListener* stream : streams_) stream->OnUnplugged();
}

void CameraState::AddStream(UnplugListener* stream)
{
  std::lock_guard<std::mutex> lock(streamsMutex_);
  streams_.push_back(stream);
}

void CameraState::RemoveStream(UnplugListener* stream)
{
  std::lock_guard<std::mutex> lock(streamsMutex_);
  streams_.erase(std::remove(streams_.begin(), streams_.end(), stream), streams_.end());
}

int ConfigureCameras(const char* text, std::string* error)
{
  ParseResult parsed = ParseConfig(text ? std::string(text) : std::string(DefaultConfigText()));
  if (parsed.errorLine != 0) {
    *error = parsed.error;
    return parsed.errorLine;
  }
  auto states = BuildStates(std::move(parsed.cameras));
  std::lock_guard<std::mutex> lock(g_setMutex);
  g_loaded = true;
  g_cameras = std::move(states);
  return 0;
}

}  // namespace virtualcam
