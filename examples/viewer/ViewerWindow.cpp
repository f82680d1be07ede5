#include "ViewerWindow.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <cwchar>

#include "Console_win.h"
#include "ImageFiles_win.h"

namespace {

const wchar_t kMainClass[] = L"PictorViewerWindow";
constexpr UINT kFrameMessage = WM_APP + 1;    // a composite waits in the mailbox
constexpr UINT kCamerasMessage = WM_APP + 2;  // the camera list changed
constexpr UINT kTickMs = 250;

UINT WindowDpi(HWND window)
{
  // Per-monitor DPI where the system has it (Windows 10 1607 on), else the screen's.
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpi = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpi) {
    const UINT dpi = getDpi(window);
    if (dpi) return dpi;
  }
  HDC dc = GetDC(window);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(window, dc);
  return dpi > 0 ? UINT(dpi) : 96;
}

}  // namespace

TViewerWindow::TViewerWindow(const TViewerOptions& options) : options_(options) {}

TViewerWindow::~TViewerWindow()
{
  for (HGDIOBJ object :
       {HGDIOBJ(font_), HGDIOBJ(headingFont_), HGDIOBJ(panelBrush_), HGDIOBJ(pictureBrush_), HGDIOBJ(swatchBrush_)})
    if (object) DeleteObject(object);
  if (statusLog_ != INVALID_HANDLE_VALUE) CloseHandle(statusLog_);
}

bool TViewerWindow::Create(HINSTANCE instance, int show)
{
  instance_ = instance;
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  windowClass.lpfnWndProc = MainProc;
  windowClass.lpszClassName = kMainClass;
  RegisterClassExW(&windowClass);
  windowClass.lpfnWndProc = PanelProc;
  windowClass.lpszClassName = kPanelClass;
  windowClass.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
  RegisterClassExW(&windowClass);

  if (!options_.statusLogFile.empty() && options_.statusLogFile != L"-") {
    statusLog_ = CreateFileW(options_.statusLogFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                             nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (statusLog_ == INVALID_HANDLE_VALUE) {
      WriteError(L"pictor-viewer: cannot write " + options_.statusLogFile + L"\n");
      return false;
    }
  }
  if (!CreateWindowExW(0, kMainClass, kTitle, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT,
                       CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, this)) {
    WriteError(L"pictor-viewer: the window could not be created\n");
    return false;
  }
  UpdateDpi(WindowDpi(window_));
  CreateControls();

  // A comfortable size on the window's monitor, centred on its work area.
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof(monitor);
  GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT work = monitor.rcWork;
  const int width = std::min(Scale(1060), int(work.right - work.left));
  const int height = std::min(Scale(700), int(work.bottom - work.top));
  SetWindowPos(window_, nullptr, work.left + (work.right - work.left - width) / 2,
               work.top + (work.bottom - work.top - height) / 2, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  session_.reset(new TCameraSession(
      window_, kFrameMessage,
      options_.snapshotFile.empty() && options_.windowShotFile.empty() ? 0 : (unsigned long long)options_.frames));
  ShowWindow(window_, show);
  UpdateWindow(window_);

  startTick_ = GetTickCount64();
  SetTimer(window_, kTickTimer, kTickMs, nullptr);
  RefreshCameras(true);
  lister_.SetCameraListCallback(OnCamerasChanged, window_);
  UpdateStatus();
  return true;
}

void TViewerWindow::OnCamerasChanged(void* context)
{
  // A library thread: the window's thread does the work.
  PostMessageW(static_cast<HWND>(context), kCamerasMessage, 0, 0);
}

LRESULT CALLBACK TViewerWindow::MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
  if (message == WM_NCCREATE) {
    auto* self = static_cast<TViewerWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, LONG_PTR(self));
  }
  auto* self = reinterpret_cast<TViewerWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  return self ? self->HandleMain(message, wParam, lParam) : DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK TViewerWindow::PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
  auto* self = reinterpret_cast<TViewerWindow*>(GetWindowLongPtrW(GetParent(window), GWLP_USERDATA));
  return self ? self->HandlePanel(window, message, wParam, lParam) : DefWindowProcW(window, message, wParam, lParam);
}

LRESULT TViewerWindow::HandleMain(UINT message, WPARAM wParam, LPARAM lParam)
{
  switch (message) {
    case WM_SIZE:
      if (status_ && wParam != SIZE_MINIMIZED) Layout();
      return 0;
    case WM_GETMINMAXINFO:
      reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {Scale(640), Scale(440)};
      return 0;
    case WM_DPICHANGED: {
      UpdateDpi(HIWORD(wParam));
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(window_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      Layout();
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;  // Paint covers everything that is not a child
    case WM_PAINT: {
      PAINTSTRUCT paint;
      Paint(BeginPaint(window_, &paint));
      EndPaint(window_, &paint);
      return 0;
    }
    case WM_PRINTCLIENT:
      Paint(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return HandlePanel(panel_, message, wParam, lParam);
    case WM_TIMER:
      if (wParam == kParameterTimer) {
        KillTimer(window_, kParameterTimer);
        ApplyParameters();
      } else {
        OnTick();
      }
      return 0;
    case kFrameMessage:
      OnFrame();
      return 0;
    case kCamerasMessage:
      RefreshCameras(false);
      return 0;
    case WM_DESTROY:
      // Closing while capturing: the camera list notices end, then the preview's capture
      // (no composite after that); nothing waits longer than a camera stop.
      KillTimer(window_, kTickTimer);
      KillTimer(window_, kParameterTimer);
      lister_.SetCameraListCallback(nullptr, nullptr);
      if (session_) session_->Stop();
      UpdateStatus(true);
      PostQuitMessage(exitCode_);
      return 0;
    default:
      return DefWindowProcW(window_, message, wParam, lParam);
  }
}

RECT TViewerWindow::PictureRect() const
{
  RECT client, status;
  GetClientRect(window_, &client);
  GetWindowRect(status_, &status);
  client.right -= Scale(340);
  client.bottom -= status.bottom - status.top;
  if (client.right < client.left) client.right = client.left;
  return client;
}

void TViewerWindow::Layout()
{
  SendMessageW(status_, WM_SIZE, 0, 0);
  RECT client, picture = PictureRect();
  GetClientRect(window_, &client);
  const int parts[3] = {std::max(0, int(client.right) - Scale(260)), std::max(0, int(client.right) - Scale(140)), -1};
  SendMessageW(status_, SB_SETPARTS, 3, LPARAM(parts));
  const int buttonBar = Scale(48);
  const int panelHeight = std::max(0, int(picture.bottom) - buttonBar);
  MoveWindow(panel_, picture.right, 0, client.right - picture.right, panelHeight, TRUE);
  MoveWindow(snapshotButton_, client.right - Scale(12 + 150), panelHeight + Scale(10), Scale(150), Scale(28), TRUE);
  InvalidateRect(window_, nullptr, FALSE);
}

void TViewerWindow::Paint(HDC dc)
{
  RECT client, picture = PictureRect();
  GetClientRect(window_, &client);
  RECT column = {picture.right, picture.bottom - Scale(48), client.right, picture.bottom};
  FillRect(dc, &column, panelBrush_);
  if (frame_.Width && frame_.Height && picture.right > picture.left && picture.bottom > picture.top) {
    // Scaled to fit, aspect ratio kept, centred; the rest is the picture area's colour.
    const int areaWidth = picture.right - picture.left, areaHeight = picture.bottom - picture.top;
    int width = areaWidth, height = int(double(areaWidth) * frame_.Height / frame_.Width + 0.5);
    if (height > areaHeight) height = areaHeight, width = int(double(areaHeight) * frame_.Width / frame_.Height + 0.5);
    const int x = picture.left + (areaWidth - width) / 2, y = picture.top + (areaHeight - height) / 2;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = LONG(frame_.Width);
    info.bmiHeader.biHeight = -LONG(frame_.Height);  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    StretchDIBits(dc, x, y, width, height, 0, 0, int(frame_.Width), int(frame_.Height), frame_.Pixels.data(), &info,
                  DIB_RGB_COLORS, SRCCOPY);
    const int saved = SaveDC(dc);
    ExcludeClipRect(dc, x, y, x + width, y + height);
    FillRect(dc, &picture, pictureBrush_);
    RestoreDC(dc, saved);
    return;
  }
  FillRect(dc, &picture, pictureBrush_);
  const TSessionState state = session_ ? session_->State() : TSessionState::NoCamera;
  const wchar_t* text = state == TSessionState::NoCamera       ? L"No camera"
                        : state == TSessionState::Reconnecting ? L"Waiting for the camera\x2026"
                        : state == TSessionState::Ended        ? L"The camera stopped."
                                                               : L"Starting the camera\x2026";
  HGDIOBJ oldFont = SelectObject(dc, headingFont_);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(200, 200, 200));
  DrawTextW(dc, text, -1, &picture, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  SelectObject(dc, oldFont);
}

TPreviewSettings TViewerWindow::CurrentSettings() const
{
  TPreviewSettings settings = session_->Settings();
  settings.link = cameraLink_;
  settings.formatIndex = std::max(0, Selection(formatCombo_));
  settings.builtInConversion = Selection(conversionCombo_) != 1;
  settings.direct3D = Selection(rendererCombo_) == 1;
  settings.background = backgroundImage_;
  return settings;
}

void TViewerWindow::Restart()
{
  if (!startTick_) return;  // before the window is up
  if (!started_) {
    // The command line's keying, once; afterwards the panel holds it.
    started_ = true;
    TPreviewSettings settings = CurrentSettings();
    settings.keying = options_.keying;
    settings.keyColor = options_.keyColor;
    if (options_.sensitivity >= 0) settings.sensitivity = options_.sensitivity;
    if (options_.smoothing >= 0) settings.smoothing = options_.smoothing;
    settings.opacity = options_.opacity;
    settings.spill = options_.spill;
    settings.choke = options_.choke;
    session_->SetReconnect(options_.reconnect);
    session_->Start(settings);
    ShowKeying();
  } else {
    session_->Start(CurrentSettings());
  }
  frame_ = TComposite();
  InvalidateRect(window_, nullptr, FALSE);
  UpdateStatus();
}

void TViewerWindow::OnFrame()
{
  if (session_->Mailbox().Take(&frame_) && !IsIconic(window_)) {
    const RECT picture = PictureRect();
    InvalidateRect(window_, &picture, FALSE);
  }
  session_->Tick();
  if (options_.sampleKeyColor && !keyColorSampled_) {
    unsigned int color = 0;
    if (session_->SampleKeyColor(&color)) {
      keyColorSampled_ = true;
      session_->SetKeying(TKeyChoice::Custom, color);
      ShowKeying();
    }
  }
  if (!scriptDone_ && session_->Mailbox().Kept()) FinishScript();
}

void TViewerWindow::OnTick()
{
  session_->Tick();
  const ULONGLONG now = GetTickCount64();
  UpdateStatus();
  const bool scripted = !options_.snapshotFile.empty() || !options_.windowShotFile.empty();
  if (scripted && !scriptDone_ &&
      (session_->State() == TSessionState::Ended || now - startTick_ > ULONGLONG(options_.timeoutSeconds) * 1000)) {
    FailScript(L"no composite " + std::to_wstring(options_.frames) + L" within " +
               std::to_wstring(options_.timeoutSeconds) + L" s (" + statusText_ + L")");
  }
  if (frame_.Width == 0) {
    const RECT picture = PictureRect();
    InvalidateRect(window_, &picture, FALSE);  // the waiting text follows the state
  }
}

void TViewerWindow::UpdateStatus(bool closed)
{
  std::wstring state, rate, skipped;
  const TSessionState current = session_ ? session_->State() : TSessionState::NoCamera;
  switch (current) {
    case TSessionState::NoCamera:
      state = L"No camera";
      break;
    case TSessionState::Starting:
      state = L"Starting";
      break;
    case TSessionState::Running:
      state = L"Running";
      break;
    case TSessionState::Reconnecting:
      state = L"Reconnecting";
      break;
    case TSessionState::Ended:
      state = L"Ended";
      break;
  }
  if (session_ && !session_->Reason().empty()) state += L": " + session_->Reason();
  if (session_ && session_->PersonRefused()) state += L" (person keying unavailable: its runtime or model is missing)";
  wchar_t text[64];
  std::swprintf(text, 64, L"%.1f fps", current == TSessionState::Running ? session_->FrameRate() : 0.0);
  rate = text;
  // The camera's frames that never reached the screen: dropped before the preview (it was
  // still busy with the last one) or replaced in the window before it could show them.
  const unsigned long long count = session_ ? session_->FramesDropped() + session_->Mailbox().Skipped() : 0;
  skipped = std::to_wstring(count) + (count == 1 ? L" frame skipped" : L" frames skipped");
  const std::wstring line = closed ? L"Closed" : state + L" | " + rate + L" | " + skipped;
  if (line == statusText_) return;
  statusText_ = line;
  if (!closed) {
    SendMessageW(status_, SB_SETTEXTW, 0, LPARAM(state.c_str()));
    SendMessageW(status_, SB_SETTEXTW, 1, LPARAM(rate.c_str()));
    SendMessageW(status_, SB_SETTEXTW, 2, LPARAM(skipped.c_str()));
  }
  if (options_.statusLogFile == L"-") {
    WriteOutput(line + L"\n");
  } else if (statusLog_ != INVALID_HANDLE_VALUE) {
    std::string utf8(size_t(WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr)), '\n');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, &utf8[0], int(utf8.size()), nullptr, nullptr);
    utf8.back() = '\n';  // in place of the terminator
    DWORD written = 0;
    WriteFile(statusLog_, utf8.data(), DWORD(utf8.size()), &written, nullptr);
  }
}

void TViewerWindow::SaveSnapshotAs()
{
  if (!frame_.Width) {
    MessageBoxW(window_, L"There is no picture yet.", kTitle, MB_ICONINFORMATION);
    return;
  }
  const TComposite shot = frame_;  // the picture as it was when the button was pressed
  wchar_t path[MAX_PATH] = L"snapshot.png";
  OPENFILENAMEW dialog = {};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = window_;
  dialog.lpstrFilter = L"PNG picture (*.png)\0*.png\0";
  dialog.lpstrFile = path;
  dialog.nMaxFile = MAX_PATH;
  dialog.lpstrDefExt = L"png";
  dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  if (!GetSaveFileNameW(&dialog)) return;
  std::wstring error;
  if (!SavePng(path, shot.Width, shot.Height, shot.Width * 4, shot.Pixels.data(), &error))
    MessageBoxW(window_, (std::wstring(path) + L": " + error).c_str(), kTitle, MB_ICONWARNING);
}

void TViewerWindow::FinishScript()
{
  scriptDone_ = true;
  const TComposite* kept = session_->Mailbox().Kept();
  std::wstring error;
  bool ok = true;
  if (!options_.snapshotFile.empty())
    ok = SavePng(options_.snapshotFile, kept->Width, kept->Height, kept->Width * 4, kept->Pixels.data(), &error);
  if (ok && !options_.windowShotFile.empty()) {
    OnTick();  // the status line as it is now
    ok = SaveWindowPng(window_, options_.windowShotFile, &error);
  }
  if (!ok) {
    WriteError(L"pictor-viewer: " + error + L"\n");
    exitCode_ = 1;
  }
  DestroyWindow(window_);
}

void TViewerWindow::FailScript(const std::wstring& message)
{
  if (scriptDone_ || (options_.snapshotFile.empty() && options_.windowShotFile.empty())) return;
  scriptDone_ = true;
  WriteError(L"pictor-viewer: " + message + L"\n");
  exitCode_ = 1;
  PostMessageW(window_, WM_CLOSE, 0, 0);
}

int TViewerWindow::Selection(HWND combo)
{
  return int(SendMessageW(combo, CB_GETCURSEL, 0, 0));
}
