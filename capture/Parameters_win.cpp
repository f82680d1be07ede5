// Camera parameters: the image controls (IAMVideoProcAmp: brightness, contrast, ...) and
// the lens controls (IAMCameraControl: pan, zoom, exposure, focus, ...) that a capture
// device's media source exposes beside its streams. Each operation reaches the camera
// through TCameraAccess (the object's slot while idle, the running capture's source for
// the captured camera, none while the capture waits for it to come back) and works
// property by property.
#include "Pictor.h"

#include "capture/CameraAccess.h"
#include "capture/PictorState.h"
#include "log/Log.h"
#include "log/LogTrace.h"

#include <windows.h>
#include <mfidl.h>
#include <strmif.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

constexpr LONG kVideoProcAmpCount = TPictorParameters::kVideoProcAmpCount;    // Brightness .. Gain
constexpr LONG kCameraControlCount = TPictorParameters::kCameraControlCount;  // Pan .. Focus
static_assert(VideoProcAmp_Gain == kVideoProcAmpCount - 1, "one entry per IAMVideoProcAmp property");
static_assert(CameraControl_Focus == kCameraControlCount - 1, "one entry per IAMCameraControl property");

constexpr LONG kFlagsAuto = VideoProcAmp_Flags_Auto;
constexpr LONG kFlagsManual = VideoProcAmp_Flags_Manual;
static_assert(int{VideoProcAmp_Flags_Auto} == int{CameraControl_Flags_Auto}, "one automatic flag for both groups");
static_assert(int{VideoProcAmp_Flags_Manual} == int{CameraControl_Flags_Manual}, "one manual flag for both groups");

// The media source's control interface of one group, or null when the device has none.
// A device without lens controls simply does not answer the query; that is not an error.
template <typename Control>
ComPtr<Control> QueryControl(IMFMediaSource* source)
{
  ComPtr<Control> control;
  if (!source || FAILED(source->QueryInterface(IID_PPV_ARGS(&control)))) control.Reset();
  return control;
}

// IAMVideoProcAmp and IAMCameraControl declare GetRange, Get and Set with the same
// parameter lists, so both groups go through these templates.
template <typename Control>
void ReadGroup(Control* control, TPictorParameter* entries, LONG count)
{
  for (LONG p = 0; p < count; ++p) {
    LONG min = 0, max = 0, step = 0, def = 0, caps = 0;
    // An unsupported property fails GetRange; its entry keeps the all-zero state.
    if (FAILED(control->GetRange(p, &min, &max, &step, &def, &caps))) continue;
    // Without a readable current value the entry reports the default and the
    // capability flags. The outputs are taken only on success, since a failing Get
    // is not bound to leave them alone.
    LONG value = def, flags = caps;
    LONG got = 0, gotFlags = 0;
    if (SUCCEEDED(control->Get(p, &got, &gotFlags))) {
      value = got;
      flags = gotFlags;
    }
    TPictorParameter& e = entries[p];
    e.Value = value;
    e.Min = min;
    e.Max = max;
    e.Step = step;
    e.Default = def;
    e.Flags = flags;
    e.Apply = false;
  }
}

// Writes the entries marked Apply. A property the camera refuses (out of range, not
// supported, no automatic mode) does not stop the others; the host reads the values
// back to learn what took effect.
template <typename Control>
void WriteGroup(Control* control, const TPictorParameter* entries, LONG count)
{
  for (LONG p = 0; p < count; ++p) {
    if (entries[p].Apply) control->Set(p, entries[p].Value, entries[p].Flags);
  }
}

// Every property to its default in automatic mode, including those whose range could
// not be read (their Default is 0): the camera decides what it accepts. A property
// without an automatic mode refuses the automatic flag; it gets its default in manual
// mode instead, rather than keeping a changed value.
template <typename Control>
void WriteDefaults(Control* control, const TPictorParameter* entries, LONG count)
{
  for (LONG p = 0; p < count; ++p) {
    if (FAILED(control->Set(p, entries[p].Default, kFlagsAuto))) control->Set(p, entries[p].Default, kFlagsManual);
  }
}

}  // namespace

TPictorParameters TPictor::GetParameters(const wchar_t* symbolicLink)
{
  static const char kName[] = "TPictor::GetParameters";
  const TLogScope scope(kName);
  TPictorParameters result;
  if (StateMissing(pState, kName)) return result;
  // The camera is released before the exit line.
  TCameraAccess camera(*this, symbolicLink);
  if (!camera.Opened() || !camera.Source()) {
    LogInfo("%s exit unable to activate", kName);
    return result;
  }
  if (ComPtr<IAMVideoProcAmp> amp = QueryControl<IAMVideoProcAmp>(camera.Source()))
    ReadGroup(amp.Get(), result.VideoProcAmp, kVideoProcAmpCount);
  if (ComPtr<IAMCameraControl> lens = QueryControl<IAMCameraControl>(camera.Source()))
    ReadGroup(lens.Get(), result.CameraControl, kCameraControlCount);
  return result;
}

void TPictor::SetParameters(const wchar_t* symbolicLink, TPictorParameters parameters)
{
  static const char kName[] = "TPictor::SetParameters";
  const TLogScope scope(kName);
  if (StateMissing(pState, kName)) return;
  TCameraAccess camera(*this, symbolicLink);
  if (!camera.Opened() || !camera.Source()) {
    LogInfo("%s exit unable to activate", kName);
    return;
  }
  if (ComPtr<IAMVideoProcAmp> amp = QueryControl<IAMVideoProcAmp>(camera.Source()))
    WriteGroup(amp.Get(), parameters.VideoProcAmp, kVideoProcAmpCount);
  if (ComPtr<IAMCameraControl> lens = QueryControl<IAMCameraControl>(camera.Source()))
    WriteGroup(lens.Get(), parameters.CameraControl, kCameraControlCount);
}

void TPictor::SetDefaultParameters(const wchar_t* symbolicLink)
{
  static const char kName[] = "TPictor::SetDefaultParameters";
  const TLogScope scope(kName);
  if (StateMissing(pState, kName)) return;

  // Opens and closes the camera by itself; the defaults come from its ranges.
  const TPictorParameters current = GetParameters(symbolicLink);

  TCameraAccess camera(*this, symbolicLink);
  if (!camera.Opened() || !camera.Source()) {
    LogInfo("%s exit unable to activate", kName);
    return;
  }
  if (ComPtr<IAMVideoProcAmp> amp = QueryControl<IAMVideoProcAmp>(camera.Source()))
    WriteDefaults(amp.Get(), current.VideoProcAmp, kVideoProcAmpCount);
  if (ComPtr<IAMCameraControl> lens = QueryControl<IAMCameraControl>(camera.Source()))
    WriteDefaults(lens.Get(), current.CameraControl, kCameraControlCount);
}
