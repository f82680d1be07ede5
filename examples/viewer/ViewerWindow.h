// The viewer's main window: the live picture on the left, scaled with its aspect ratio
// kept; a scrolling panel of controls on the right (source, keying, background, camera
// controls) with a snapshot button below it; a status bar along the bottom.
// ViewerWindow.cpp has the window, the picture and the status line, ViewerPanel.cpp the
// panel. Everything runs on the window's thread; the library's threads only post to it.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "CameraSession.h"
#include "Pictor.h"
#include "ViewerOptions.h"

class TViewerWindow {
 public:
  explicit TViewerWindow(const TViewerOptions& options);
  ~TViewerWindow();
  TViewerWindow(const TViewerWindow&) = delete;
  TViewerWindow& operator=(const TViewerWindow&) = delete;

  // Creates and shows the window; false (with a message written) when it cannot.
  bool Create(HINSTANCE instance, int show);
  // The process's exit code once the message loop has ended.
  int ExitCode() const { return exitCode_; }

 private:
  static constexpr const wchar_t* kTitle = L"Pictor Viewer";
  static constexpr const wchar_t* kPanelClass = L"PictorViewerPanel";
  static constexpr UINT_PTR kTickTimer = 1, kParameterTimer = 2;
  static constexpr UINT kParameterDelayMs = 150;  // camera controls are written once a slider rests

  // A labelled slider: label, trackbar, value text and, for camera controls, "Auto".
  struct TSliderRow {
    HWND label = nullptr, bar = nullptr, value = nullptr, autoBox = nullptr;
  };

  static LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static void OnCamerasChanged(void* context);
  static BOOL CALLBACK SetFontOf(HWND control, LPARAM context);
  LRESULT HandleMain(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandlePanel(HWND panel, UINT message, WPARAM wParam, LPARAM lParam);

  // Building and placing the controls (DPI-scaled).
  void CreateControls();
  HWND Child(const wchar_t* className, const wchar_t* text, DWORD style, int id, HWND parent = nullptr);
  TSliderRow Slider(const wchar_t* label, int id, int lo, int hi, bool withAuto);
  void UpdateDpi(UINT dpi);
  int Scale(int value) const { return MulDiv(value, static_cast<int>(dpi_), 96); }
  void Layout();
  void LayoutPanel();
  void ScrollPanelTo(int position);
  RECT PictureRect() const;
  void Paint(HDC dc);

  // What the panel shows and starts.
  void RefreshCameras(bool first);
  void ShowCameraList();
  void SelectCamera(const TPictorDescr& camera);
  void RefreshFormats();
  void RefreshParameters();
  void ApplyParameters();
  void Restart();
  TPreviewSettings CurrentSettings() const;
  bool LoadBackground(bool report);
  void ShowKeying();
  void ShowSliderValues();
  void OnCommand(int id, int code);
  void OnSlider(HWND bar, int code);
  void OnFrame();
  void OnTick();
  // Writes the status line to the status bar and, when it changed, to the status log;
  // closed: the last line, once the camera has stopped.
  void UpdateStatus(bool closed = false);
  void SaveSnapshotAs();
  void PickKeyColor();
  // Scripts: the snapshot and window capture after N composites; a failure ends the run.
  void FinishScript();
  void FailScript(const std::wstring& message);
  static int Selection(HWND combo);

  TViewerOptions options_;
  HINSTANCE instance_ = nullptr;
  HWND window_ = nullptr, panel_ = nullptr, status_ = nullptr, snapshotButton_ = nullptr;
  HWND cameraCombo_ = nullptr, formatCombo_ = nullptr, conversionCombo_ = nullptr, rendererCombo_ = nullptr;
  HWND reconnectBox_ = nullptr, keyCombo_ = nullptr, swatch_ = nullptr, pickButton_ = nullptr;
  HWND backgroundCombo_ = nullptr, backgroundName_ = nullptr, defaultsButton_ = nullptr, noControls_ = nullptr;
  std::vector<HWND> labels_, headings_;  // placed in creation order by LayoutPanel
  TSliderRow keyRows_[5];
  TSliderRow paramRows_[TPictorParameters::kVideoProcAmpCount + TPictorParameters::kCameraControlCount];
  UINT dpi_ = 96;
  HFONT font_ = nullptr, headingFont_ = nullptr;
  HBRUSH panelBrush_ = nullptr, pictureBrush_ = nullptr, swatchBrush_ = nullptr;
  int panelScroll_ = 0, panelContentHeight_ = 0;

  TPictor lister_;  // camera list, formats and camera controls
  std::unique_ptr<TCameraSession> session_;
  std::vector<TPictorDescr> cameras_;
  std::vector<TPictorFormat> formats_;
  std::wstring cameraLink_, cameraName_;
  bool started_ = false;  // the command line's keying has been applied
  TPictorParameters parameters_ = {};
  bool parametersPending_ = false;
  std::shared_ptr<const TImage> backgroundImage_;
  TComposite frame_;  // the composite on the screen

  ULONGLONG startTick_ = 0, fpsTick_ = 0;
  unsigned long long fpsCount_ = 0;
  double fps_ = 0.0;
  std::wstring statusText_;
  HANDLE statusLog_ = INVALID_HANDLE_VALUE;
  bool keyColorSampled_ = false;
  bool scriptDone_ = false;
  int exitCode_ = 0;
};
