// The cameras the double presents at the moment, and the state each keeps across
// activations (control values, frames delivered). A VirtualCam_Configure call replaces
// the whole set; sources still alive keep the state they were made with.
#pragma once

#include <windows.h>
#include <mfidl.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tools/virtualcam/ComSupport_win.h"
#include "tools/virtualcam/VirtualCamConfig.h"

namespace virtualcam {

struct ControlValue {
  LONG value = 0;
  LONG flags = 0;
  LONG setCalls = 0;  // Set calls received, whatever their outcome
};

// A live stream of a camera, told when the camera is unplugged.
class UnplugListener {
 public:
  virtual void OnUnplugged() = 0;

 protected:
  ~UnplugListener() = default;
};

class CameraState {
 public:
  explicit CameraState(CameraSetup setup);

  const CameraSetup& Setup() const { return setup_; }
  const std::wstring& Name() const { return name_; }
  const std::wstring& Link() const { return link_; }
  const std::vector<ComPtr<IMFMediaType>>& NativeTypes() const { return types_; }

  // Controls: index 0..9 VideoProcAmp, 10..16 CameraControl.
  HRESULT GetRange(int index, LONG* min, LONG* max, LONG* step, LONG* def, LONG* caps);
  HRESULT Get(int index, LONG* value, LONG* flags);
  HRESULT Set(int index, LONG value, LONG flags);
  bool ReadControl(int index, ControlValue* out);

  std::atomic<LONG> framesDelivered{0};

  // VirtualCam_Unplug / VirtualCam_Plug: an unplugged camera is gone from the device
  // list and cannot be activated; unplugging fails the streams that run. An unplug with
  // a replug tick (GetTickCount64) ends by itself then.
  bool Unplugged() const;
  void SetUnplugged(bool unplugged, ULONGLONG replugTick = 0);
  // A frame has been delivered: the camera unplugs itself at its unplug-after= count.
  void FrameDelivered();
  void AddStream(UnplugListener* stream);
  void RemoveStream(UnplugListener* stream);

 private:
  std::atomic<bool> unplugged_{false};
  std::atomic<ULONGLONG> replugTick_{0};  // GetTickCount64 when a timed unplug ends; 0: none
  std::mutex streamsMutex_;               // held while the streams are told; a stream's own lock comes after it
  std::vector<UnplugListener*> streams_;

  CameraSetup setup_;
  std::wstring name_, link_;
  std::vector<ComPtr<IMFMediaType>> types_;  // built once; handed out as copies
  std::mutex controlsMutex_;
  ControlValue controls_[kControlCount];
};

// Snapshot of the current set (loads the default or PICTOR_VIRTUALCAM_CONFIG first),
// unplugged cameras included.
std::vector<std::shared_ptr<CameraState>> CurrentCameras();
// The camera with this link, or null; an unplugged one only when asked for.
std::shared_ptr<CameraState> FindCamera(const wchar_t* link, bool includeUnplugged = false);

// Replaces the set; returns 0 or the failing line.
int ConfigureCameras(const char* text, std::string* error);

std::wstring Utf8ToWide(const std::string& text);

// The media type of one configured format, with the attributes a webcam driver sets.
HRESULT CreateNativeType(const FormatSetup& format, IMFMediaType** out);
bool FormatIsBottomUp(const FormatSetup& format);

}  // namespace virtualcam
