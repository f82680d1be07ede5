// The keyed preview of one camera as the viewer runs it: starts and restarts the
// preview, hands its composites to the window, and follows the preview's status: running,
// waiting for a lost camera (the preview's auto reconnect), or ended with the camera's
// reason. A start the camera refused is tried again every few seconds while reconnection
// is on.
//
// Everything here runs on the window's thread, except OnComposite (the library's
// converter thread), which touches only the mailbox and posts one message.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "FrameMailbox.h"
#include "ImageFiles_win.h"
#include "PictorD3D9Preview.h"
#include "ViewerOptions.h"

struct TPreviewSettings {
  std::wstring link;  // empty: no camera
  int formatIndex = 0;
  bool direct3D = false;
  bool builtInConversion = true;
  TKeyChoice keying = TKeyChoice::Off;
  unsigned int keyColor = 0x00FF00;
  float sensitivity = TPictorD3D9PreviewChromaKeyingParams::kDefaultSensitivity;
  float smoothing = TPictorD3D9PreviewChromaKeyingParams::kDefaultSmoothing;
  int opacity = 255;
  float spill = 0.0f;
  int choke = 0;
  std::shared_ptr<const TImage> background;  // null: none (the library composes over black)
};

enum class TSessionState { NoCamera, Starting, Running, Reconnecting, Ended };

class TCameraSession {
 public:
  // frameMessage is posted to window when a composite waits in the mailbox; the
  // composite numbered keepNumber is kept aside.
  TCameraSession(HWND window, UINT frameMessage, unsigned long long keepNumber);
  ~TCameraSession();
  TCameraSession(const TCameraSession&) = delete;
  TCameraSession& operator=(const TCameraSession&) = delete;

  // (Re)starts the preview with these settings: camera, format, renderer and conversion
  // take effect only this way.
  void Start(const TPreviewSettings& settings);
  void Stop();
  // The preview's auto reconnect, at once; off, a lost camera ends the session.
  void SetReconnect(bool on);

  // From the running preview's next frame on. Keying off needs a preview without a
  // keying record, which only a new preview object has: that one restarts it.
  void SetKeying(TKeyChoice keying, unsigned int keyColor);
  void SetSensitivity(float value);
  void SetSmoothing(float value);
  void SetOpacity(int value);
  void SetSpill(float value);
  void SetChoke(int value);
  void SetBackground(std::shared_ptr<const TImage> background);
  // The screen colour of the newest frame (0xRRGGBB); false without a frame or screen.
  bool SampleKeyColor(unsigned int* color);

  // Called by the window's timer and for each composite: reads the preview's status, and
  // retries a start the camera refused when it is time.
  void Tick();
  // The camera list changed; present: the session's camera is in it.
  void CamerasChanged(bool present);

  TSessionState State() const { return state_; }
  const std::wstring& Reason() const { return reason_; }  // why it is reconnecting or ended
  // True once person keying was asked for and refused (its runtime or model is missing).
  bool PersonRefused() const { return personRefused_; }
  const TPreviewSettings& Settings() const { return settings_; }
  TFrameMailbox& Mailbox() { return mailbox_; }
  // The preview's measured rate, and the camera's frames it dropped (its consumer busy).
  double FrameRate() const { return frameRate_; }
  unsigned long long FramesDropped() const { return framesDropped_; }

 private:
  static bool OnComposite(unsigned int width, unsigned int height, unsigned int pitch, unsigned char* pixels,
                          void* context);
  void Launch();
  void ApplyKeying();
  // The preview's keying mode from the choice; a refused person mode falls back to
  // `fallback`, a choice the preview is in already.
  void ApplyKeyingMode(TKeyChoice fallback);
  void ApplyBackground();
  // The preview has ended (or did not start): why, and wait to retry when reconnecting.
  void Wait(const std::wstring& reason);

  HWND window_;
  UINT frameMessage_;
  TFrameMailbox mailbox_;
  TPreviewSettings settings_;
  bool reconnect_ = true;
  bool personRefused_ = false;
  TSessionState state_ = TSessionState::NoCamera;
  std::wstring reason_;
  std::unique_ptr<TPictorD3D9Preview> preview_;
  bool keyed_ = false;  // the preview object holds a keying record (only a new object has none)
  ULONGLONG startTick_ = 0;
  ULONGLONG retryAt_ = 0;
  unsigned long long startDelivered_ = 0;
  double frameRate_ = 0.0;
  unsigned long long framesDropped_ = 0;
};
