// The panel beside the picture: its controls, their layout and scrolling, and what
// each of them changes (the camera, its format and controls, the keying, the background).
#include "ViewerWindow.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <cwctype>

#include "Console_win.h"
#include "ImageFiles_win.h"

namespace {

enum : int {
  kIdCamera = 100,
  kIdFormat,
  kIdConversion,
  kIdRenderer,
  kIdReconnect,
  kIdKey,
  kIdPick,
  kIdBackground,
  kIdDefaults,
  kIdSnapshot,
  kIdKeySlider = 200,  // + index of keyRows_
  kIdParameter = 300,  // + index of paramRows_; its Auto box + 100
};

// The keying sliders: sensitivity, smoothing, spill suppression and edge choke as the
// library takes them, opacity as a byte.
const wchar_t* const kKeySliderNames[5] = {L"Sensitivity", L"Smoothing", L"Opacity", L"Spill suppression",
                                           L"Edge choke"};
const int kKeySliderMax[5] = {100, 100, 255, 100, 3};

const wchar_t* const kParameterNames[] = {L"Brightness", L"Contrast", L"Hue",           L"Saturation", L"Sharpness",
                                          L"Gamma",      L"Colour",   L"White balance", L"Backlight",  L"Gain",
                                          L"Pan",        L"Tilt",     L"Roll",          L"Zoom",       L"Exposure",
                                          L"Iris",       L"Focus"};
constexpr int kParameterCount = TPictorParameters::kVideoProcAmpCount + TPictorParameters::kCameraControlCount;

TPictorParameter& ParameterAt(TPictorParameters& parameters, int index)
{
  return index < TPictorParameters::kVideoProcAmpCount
             ? parameters.VideoProcAmp[index]
             : parameters.CameraControl[index - TPictorParameters::kVideoProcAmpCount];
}

int ParameterStep(const TPictorParameter& p)
{
  return p.Step > 0 ? p.Step : 1;
}

std::wstring Lower(std::wstring text)
{
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

std::wstring Subtype(const TPictorFormat& format)
{
  std::wstring name = format.SubTypeName;
  const std::wstring prefix = L"MFVideoFormat_";
  return name.compare(0, prefix.size(), prefix) == 0 ? name.substr(prefix.size()) : name;
}

double FrameRate(const TPictorFormat& format)
{
  return format.FrameRateLow ? double(format.FrameRate) / format.FrameRateLow : 0.0;
}

std::wstring FormatLabel(const TPictorFormat& format)
{
  wchar_t text[128];
  std::swprintf(text, 128, L"%u \x00D7 %u, %.4g fps, %ls", format.Width, format.Height, FrameRate(format),
                Subtype(format).c_str());
  return text;
}

// "3", or "1280x720", "1280x720@30", "1280x720@30:NV12", "1280x720:MJPG".
int FindFormat(const std::vector<TPictorFormat>& formats, const std::wstring& wanted)
{
  unsigned width = 0, height = 0;
  double rate = 0;
  std::wstring subtype;
  const size_t colon = wanted.find(L':');
  if (colon != std::wstring::npos) subtype = Lower(wanted.substr(colon + 1));
  const std::wstring size = wanted.substr(0, colon);
  if (std::swscanf(size.c_str(), L"%ux%u@%lf", &width, &height, &rate) < 2) {
    wchar_t* end = nullptr;
    const long index = std::wcstol(wanted.c_str(), &end, 10);
    return !wanted.empty() && *end == L'\0' && index >= 0 && index < long(formats.size()) ? int(index) : -1;
  }
  for (size_t i = 0; i < formats.size(); ++i) {
    const TPictorFormat& f = formats[i];
    if (f.Width == width && f.Height == height && (rate <= 0 || std::abs(FrameRate(f) - rate) < 0.5) &&
        (subtype.empty() || Lower(Subtype(f)) == subtype))
      return int(i);
  }
  return -1;
}

int FindCamera(const std::vector<TPictorDescr>& cameras, const std::wstring& wanted)
{
  if (wanted.empty()) return cameras.empty() ? -1 : 0;
  wchar_t* end = nullptr;
  const long index = std::wcstol(wanted.c_str(), &end, 10);
  if (*end == L'\0') return index >= 0 && index < long(cameras.size()) ? int(index) : -1;
  for (size_t i = 0; i < cameras.size(); ++i)
    if (Lower(cameras[i].SymbolicLink) == Lower(wanted)) return int(i);
  for (size_t i = 0; i < cameras.size(); ++i)
    if (Lower(cameras[i].FriendlyName).find(Lower(wanted)) != std::wstring::npos) return int(i);
  return -1;
}

NONCLIENTMETRICSW MetricsForDpi(UINT dpi)
{
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof(metrics);
  using ForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
  static const auto forDpi = reinterpret_cast<ForDpiFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SystemParametersInfoForDpi")));
  if (forDpi && forDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi)) return metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
  HDC screen = GetDC(nullptr);
  const int systemDpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, int(dpi), systemDpi > 0 ? systemDpi : 96);
  return metrics;
}

void SetText(HWND control, const std::wstring& text)
{
  SetWindowTextW(control, text.c_str());
}

void Fill(HWND combo, const std::vector<std::wstring>& items, int selected)
{
  SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  for (const std::wstring& item : items) SendMessageW(combo, CB_ADDSTRING, 0, LPARAM(item.c_str()));
  SendMessageW(combo, CB_SETCURSEL, WPARAM(selected), 0);
}

}  // namespace

LRESULT TViewerWindow::HandlePanel(HWND panel, UINT message, WPARAM wParam, LPARAM lParam)
{
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_HSCROLL:
      OnSlider(reinterpret_cast<HWND>(lParam), LOWORD(wParam));
      return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      if (reinterpret_cast<HWND>(lParam) == swatch_) return LRESULT(swatchBrush_);
      SetBkColor(dc, GetSysColor(COLOR_WINDOW));
      SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
      return LRESULT(panelBrush_);
    }
    case WM_SIZE:
      LayoutPanel();
      return 0;
    case WM_MOUSEWHEEL:
      ScrollPanelTo(panelScroll_ - GET_WHEEL_DELTA_WPARAM(wParam) * Scale(48) / WHEEL_DELTA);
      return 0;
    case WM_VSCROLL: {
      SCROLLINFO info = {};
      info.cbSize = sizeof(info);
      info.fMask = SIF_ALL;
      GetScrollInfo(panel_, SB_VERT, &info);
      int position = info.nPos;
      switch (LOWORD(wParam)) {
        case SB_LINEUP:
          position -= Scale(30);
          break;
        case SB_LINEDOWN:
          position += Scale(30);
          break;
        case SB_PAGEUP:
          position -= int(info.nPage);
          break;
        case SB_PAGEDOWN:
          position += int(info.nPage);
          break;
        case SB_THUMBTRACK:
          position = info.nTrackPos;
          break;
        case SB_TOP:
          position = 0;
          break;
        case SB_BOTTOM:
          position = info.nMax;
          break;
        default:
          break;
      }
      ScrollPanelTo(position);
      return 0;
    }
    default:
      return DefWindowProcW(panel, message, wParam, lParam);
  }
}

HWND TViewerWindow::Child(const wchar_t* className, const wchar_t* text, DWORD style, int id, HWND parent)
{
  HWND control = CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10,
                                 parent ? parent : panel_, reinterpret_cast<HMENU>(INT_PTR(id)), instance_, nullptr);
  SendMessageW(control, WM_SETFONT, WPARAM(font_), FALSE);
  return control;
}

TViewerWindow::TSliderRow TViewerWindow::Slider(const wchar_t* label, int id, int lo, int hi, bool withAuto)
{
  TSliderRow row;
  row.label = Child(WC_STATICW, label, SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX, -1);
  row.bar = Child(TRACKBAR_CLASSW, L"", WS_TABSTOP | TBS_HORZ | TBS_NOTICKS, id);
  SendMessageW(row.bar, TBM_SETRANGEMIN, FALSE, lo);
  SendMessageW(row.bar, TBM_SETRANGEMAX, TRUE, hi);
  row.value = Child(WC_STATICW, L"", SS_RIGHT | SS_CENTERIMAGE, -1);
  if (withAuto) row.autoBox = Child(WC_BUTTONW, L"Auto", WS_TABSTOP | BS_AUTOCHECKBOX, id + 100);
  return row;
}

void TViewerWindow::CreateControls()
{
  panel_ = CreateWindowExW(WS_EX_CONTROLPARENT, kPanelClass, L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_CLIPCHILDREN,
                           0, 0, 10, 10, window_, nullptr, instance_, nullptr);
  status_ = Child(STATUSCLASSNAMEW, L"", SBARS_SIZEGRIP, -1, window_);
  snapshotButton_ = Child(WC_BUTTONW, L"Save snapshot\x2026", WS_TABSTOP | BS_PUSHBUTTON, kIdSnapshot, window_);

  for (const wchar_t* heading : {L"Source", L"Keying", L"Background", L"Camera controls"})
    headings_.push_back(Child(WC_STATICW, heading, SS_LEFT | SS_NOPREFIX, -1));
  for (const wchar_t* label : {L"Camera", L"Format", L"Conversion", L"Renderer", L"Key"})
    labels_.push_back(Child(WC_STATICW, label, SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX, -1));
  const DWORD list = WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
  cameraCombo_ = Child(WC_COMBOBOXW, L"", list, kIdCamera);
  formatCombo_ = Child(WC_COMBOBOXW, L"", list, kIdFormat);
  conversionCombo_ = Child(WC_COMBOBOXW, L"", list, kIdConversion);
  Fill(conversionCombo_, {L"Built-in", L"System"}, options_.builtInConversion ? 0 : 1);
  rendererCombo_ = Child(WC_COMBOBOXW, L"", list, kIdRenderer);
  Fill(rendererCombo_, {L"Software", L"Direct3D 9"}, options_.direct3D ? 1 : 0);
  reconnectBox_ =
      Child(WC_BUTTONW, L"Reconnect when the camera comes back", WS_TABSTOP | BS_AUTOCHECKBOX, kIdReconnect);
  SendMessageW(reconnectBox_, BM_SETCHECK, options_.reconnect ? BST_CHECKED : BST_UNCHECKED, 0);

  // Keying modes in TKeyChoice's order.
  keyCombo_ = Child(WC_COMBOBOXW, L"", list, kIdKey);
  Fill(keyCombo_, {L"Off", L"Green screen", L"Blue screen", L"Custom colour", L"Person (no screen)"},
       int(options_.keying));
  swatch_ = Child(WC_STATICW, L"", SS_NOTIFY | WS_BORDER, -1);
  pickButton_ = Child(WC_BUTTONW, L"Pick key colour", WS_TABSTOP | BS_PUSHBUTTON, kIdPick);
  for (int i = 0; i < 5; ++i) keyRows_[i] = Slider(kKeySliderNames[i], kIdKeySlider + i, 0, kKeySliderMax[i], false);

  backgroundCombo_ = Child(WC_COMBOBOXW, L"", list, kIdBackground);
  Fill(backgroundCombo_, {L"None", L"Black", L"Image file\x2026"}, int(options_.background));
  backgroundName_ = Child(WC_STATICW, L"", SS_LEFT | SS_PATHELLIPSIS | SS_NOPREFIX, -1);

  defaultsButton_ = Child(WC_BUTTONW, L"Defaults", WS_TABSTOP | BS_PUSHBUTTON, kIdDefaults);
  noControls_ = Child(WC_STATICW, L"This camera reports no controls.", SS_LEFT, -1);
  for (int i = 0; i < kParameterCount; ++i) paramRows_[i] = Slider(kParameterNames[i], kIdParameter + i, 0, 1, true);
  for (HWND heading : headings_) SendMessageW(heading, WM_SETFONT, WPARAM(headingFont_), FALSE);
}

void TViewerWindow::UpdateDpi(UINT dpi)
{
  dpi_ = dpi;
  NONCLIENTMETRICSW metrics = MetricsForDpi(dpi);
  HFONT oldFont = font_, oldHeading = headingFont_;
  font_ = CreateFontIndirectW(&metrics.lfMessageFont);
  metrics.lfMessageFont.lfWeight = FW_BOLD;
  metrics.lfMessageFont.lfHeight = metrics.lfMessageFont.lfHeight * 9 / 8;
  headingFont_ = CreateFontIndirectW(&metrics.lfMessageFont);
  if (!panelBrush_) {
    panelBrush_ = CreateSolidBrush(GetSysColor(COLOR_WINDOW));
    pictureBrush_ = CreateSolidBrush(RGB(32, 32, 32));
  }
  if (panel_) EnumChildWindows(window_, SetFontOf, LPARAM(this));
  if (oldFont) DeleteObject(oldFont);
  if (oldHeading) DeleteObject(oldHeading);
}

BOOL CALLBACK TViewerWindow::SetFontOf(HWND control, LPARAM context)
{
  auto* self = reinterpret_cast<TViewerWindow*>(context);
  const bool heading = std::find(self->headings_.begin(), self->headings_.end(), control) != self->headings_.end();
  SendMessageW(control, WM_SETFONT, WPARAM(heading ? self->headingFont_ : self->font_), TRUE);
  return TRUE;
}

void TViewerWindow::LayoutPanel()
{
  RECT client;
  GetClientRect(panel_, &client);
  const int margin = Scale(14), width = client.right - 2 * margin;
  const int rowHeight = Scale(30), comboHeight = Scale(24), labelHeight = Scale(18);
  int y = Scale(10) - panelScroll_;
  auto place = [](HWND control, int x, int top, int w, int h) {
    SetWindowPos(control, nullptr, x, top, std::max(w, 0), h, SWP_NOZORDER | SWP_NOACTIVATE);
  };
  auto heading = [&](int index, int right) {
    y += index ? Scale(10) : 0;
    place(headings_[size_t(index)], margin, y, width - right, Scale(22));
    y += Scale(28);
  };
  auto labelled = [&](int label, HWND combo) {
    place(labels_[size_t(label)], margin, y, width, labelHeight);
    place(combo, margin, y + labelHeight, width, Scale(300));
    y += labelHeight + comboHeight + Scale(8);
  };
  auto slider = [&](const TSliderRow& row) {
    const int labelWidth = Scale(92), valueWidth = Scale(42), autoWidth = row.autoBox ? Scale(54) : 0;
    place(row.label, margin, y, labelWidth, rowHeight);
    place(row.bar, margin + labelWidth, y + Scale(2), width - labelWidth - valueWidth - autoWidth, Scale(26));
    place(row.value, margin + width - valueWidth - autoWidth, y, valueWidth, rowHeight);
    if (row.autoBox) place(row.autoBox, margin + width - autoWidth + Scale(8), y, autoWidth - Scale(8), rowHeight);
    y += rowHeight;
  };

  heading(0, 0);
  labelled(0, cameraCombo_);
  labelled(1, formatCombo_);
  const int half = (width - Scale(10)) / 2;
  place(labels_[2], margin, y, half, labelHeight);
  place(labels_[3], margin + width - half, y, half, labelHeight);
  place(conversionCombo_, margin, y + labelHeight, half, Scale(200));
  place(rendererCombo_, margin + width - half, y + labelHeight, half, Scale(200));
  y += labelHeight + comboHeight + Scale(8);
  place(reconnectBox_, margin, y, width, Scale(22));
  y += Scale(26);

  heading(1, 0);
  place(labels_[4], margin, y, Scale(92), comboHeight);
  place(keyCombo_, margin + Scale(92), y, width - Scale(92), Scale(200));
  y += comboHeight + Scale(8);
  place(swatch_, margin + Scale(92), y + Scale(2), Scale(24), Scale(24));
  place(pickButton_, margin + Scale(124), y, width - Scale(124), Scale(28));
  y += Scale(36);
  for (const TSliderRow& row : keyRows_) slider(row);

  heading(2, 0);
  place(backgroundCombo_, margin, y, width, Scale(200));
  y += comboHeight + Scale(6);
  place(backgroundName_, margin, y, width, labelHeight);
  y += labelHeight;

  heading(3, Scale(90));
  place(defaultsButton_, margin + width - Scale(86), y - Scale(30), Scale(86), Scale(26));
  bool any = false;
  for (const TSliderRow& row : paramRows_) {
    if (!IsWindowVisible(row.bar)) continue;
    slider(row);
    any = true;
  }
  ShowWindow(noControls_, any ? SW_HIDE : SW_SHOWNA);
  if (!any) place(noControls_, margin, y, width, labelHeight), y += labelHeight;
  y += Scale(12);

  panelContentHeight_ = y + panelScroll_;
  SCROLLINFO info = {};
  info.cbSize = sizeof(info);
  info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
  info.nMax = panelContentHeight_ - 1;
  info.nPage = UINT(client.bottom);
  info.nPos = panelScroll_;
  SetScrollInfo(panel_, SB_VERT, &info, TRUE);
  const int maxScroll = std::max(0, panelContentHeight_ - int(client.bottom));
  if (panelScroll_ > maxScroll) ScrollPanelTo(maxScroll);
}

void TViewerWindow::ScrollPanelTo(int position)
{
  RECT client;
  GetClientRect(panel_, &client);
  position = std::max(0, std::min(position, panelContentHeight_ - int(client.bottom)));
  if (position == panelScroll_) return;
  ScrollWindowEx(panel_, 0, panelScroll_ - position, nullptr, nullptr, nullptr, nullptr,
                 SW_SCROLLCHILDREN | SW_INVALIDATE | SW_ERASE);
  panelScroll_ = position;
  SCROLLINFO info = {};
  info.cbSize = sizeof(info);
  info.fMask = SIF_POS;
  info.nPos = position;
  SetScrollInfo(panel_, SB_VERT, &info, TRUE);
}

void TViewerWindow::RefreshCameras(bool first)
{
  TPictorDescr found[16];
  const int count = std::min(lister_.EnumerateWebCameras(found, 16), 16);
  cameras_.assign(found, found + std::max(count, 0));
  int selected = -1;
  for (size_t i = 0; i < cameras_.size(); ++i)
    if (cameraLink_ == cameras_[i].SymbolicLink) selected = int(i);
  const bool present = selected >= 0;
  bool changed = false;
  if (first || cameraLink_.empty()) {
    selected = FindCamera(cameras_, first ? options_.camera : std::wstring());
    if (first && selected < 0 && !options_.camera.empty()) {
      FailScript(L"no camera matches " + options_.camera);
      if (!scriptDone_)
        MessageBoxW(window_, (L"No camera matches \"" + options_.camera + L"\".").c_str(), kTitle, MB_ICONWARNING);
    }
    changed = selected >= 0;
  }

  ShowCameraList();
  if (changed) {
    SelectCamera(cameras_[size_t(selected)]);
  } else if (first) {
    Restart();  // no camera: the session says so
  } else {
    session_->CamerasChanged(present);
  }
}

void TViewerWindow::ShowCameraList()
{
  std::vector<std::wstring> names;
  int selected = -1;
  for (const TPictorDescr& camera : cameras_) {
    if (cameraLink_ == camera.SymbolicLink) selected = int(names.size());
    names.push_back(camera.FriendlyName);
  }
  if (!cameraLink_.empty() && selected < 0) {
    // The chosen camera stays in the list while the viewer waits for it.
    selected = int(names.size());
    names.push_back(cameraName_ + L" (not connected)");
  }
  Fill(cameraCombo_, names, selected);
}

void TViewerWindow::SelectCamera(const TPictorDescr& camera)
{
  cameraLink_ = camera.SymbolicLink;
  cameraName_ = camera.FriendlyName;
  SetText(window_, std::wstring(kTitle) + L" \x2014 " + cameraName_);
  ShowCameraList();
  RefreshFormats();
  RefreshParameters();
  Restart();
}

void TViewerWindow::RefreshFormats()
{
  const int old = Selection(formatCombo_);
  const TPictorFormat previous = old >= 0 && size_t(old) < formats_.size() ? formats_[size_t(old)] : TPictorFormat();
  lister_.SetConversion(Selection(conversionCombo_) == 1 ? pcSystemConverter : pcBuiltIn);
  std::vector<TPictorFormat> found(64);
  const int count = cameraLink_.empty() ? 0 : lister_.EnumerateCaptureFormats(cameraLink_.c_str(), found.data(), 64);
  found.resize(size_t(std::max(0, std::min(count, 64))));
  formats_.swap(found);

  // The format asked for on the command line once, then the same size, rate and subtype
  // as before where the new list has it.
  int selected = 0;
  if (!options_.format.empty()) {
    selected = FindFormat(formats_, options_.format);
    if (selected < 0) FailScript(L"the camera has no format " + options_.format);
    options_.format.clear();
  } else if (previous.Width) {
    wchar_t same[64];
    std::swprintf(same, 64, L"%ux%u@%.4g:%ls", previous.Width, previous.Height, FrameRate(previous),
                  Subtype(previous).c_str());
    selected = FindFormat(formats_, same);
  }
  std::vector<std::wstring> labels;
  for (const TPictorFormat& format : formats_) labels.push_back(FormatLabel(format));
  Fill(formatCombo_, labels, std::max(selected, 0));
  LoadBackground(true);
}

void TViewerWindow::RefreshParameters()
{
  parameters_ = cameraLink_.empty() ? TPictorParameters() : lister_.GetParameters(cameraLink_.c_str());
  for (int i = 0; i < kParameterCount; ++i) {
    const TPictorParameter& p = ParameterAt(parameters_, i);
    const TSliderRow& row = paramRows_[i];
    const bool supported = p.Max > p.Min;
    for (HWND control : {row.label, row.bar, row.value, row.autoBox})
      ShowWindow(control, supported ? SW_SHOWNA : SW_HIDE);
    if (!supported || GetCapture() == row.bar) continue;
    SendMessageW(row.bar, TBM_SETRANGEMIN, FALSE, 0);
    SendMessageW(row.bar, TBM_SETRANGEMAX, FALSE, (p.Max - p.Min) / ParameterStep(p));
    SendMessageW(row.bar, TBM_SETPOS, TRUE, (p.Value - p.Min) / ParameterStep(p));
    SetText(row.value, std::to_wstring(p.Value));
    SendMessageW(row.autoBox, BM_SETCHECK, p.Flags == 1 ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  LayoutPanel();
}

void TViewerWindow::ApplyParameters()
{
  // Only what the user changed; then read back what the camera took.
  TPictorParameters changes = parameters_;
  bool any = false;
  for (int i = 0; i < kParameterCount; ++i) {
    TPictorParameter& p = ParameterAt(changes, i);
    if (!IsWindowVisible(paramRows_[i].bar)) continue;
    const int value = p.Min + int(SendMessageW(paramRows_[i].bar, TBM_GETPOS, 0, 0)) * ParameterStep(p);
    const int flags = SendMessageW(paramRows_[i].autoBox, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 2;
    p.Apply = value != p.Value || flags != p.Flags;
    p.Value = value;
    p.Flags = flags;
    any = any || p.Apply;
  }
  if (any) lister_.SetParameters(cameraLink_.c_str(), changes);
  RefreshParameters();
}

bool TViewerWindow::LoadBackground(bool report)
{
  const int choice = Selection(backgroundCombo_);
  const int formatIndex = Selection(formatCombo_);
  std::shared_ptr<TImage> image;
  std::wstring error;
  if (choice > 0 && formatIndex >= 0 && size_t(formatIndex) < formats_.size()) {
    const TPictorFormat& format = formats_[size_t(formatIndex)];
    image = std::make_shared<TImage>();
    if (choice == int(TBackgroundChoice::Black)) {
      image->Width = format.Width;
      image->Height = format.Height;
      image->Pixels.assign(size_t(format.Width) * format.Height * 4, 0);
      for (size_t i = 3; i < image->Pixels.size(); i += 4) image->Pixels[i] = 255;
    } else if (!LoadPictureCovering(options_.backgroundFile, format.Width, format.Height, image.get(), &error)) {
      image.reset();
      SendMessageW(backgroundCombo_, CB_SETCURSEL, 0, 0);
      const std::wstring message = options_.backgroundFile + L": " + error;
      FailScript(message);
      if (report && !scriptDone_) MessageBoxW(window_, message.c_str(), kTitle, MB_ICONWARNING);
    }
  }
  backgroundImage_ = image;
  const size_t slash = options_.backgroundFile.find_last_of(L"\\/");
  SetText(backgroundName_, Selection(backgroundCombo_) == int(TBackgroundChoice::Image)
                               ? options_.backgroundFile.substr(slash == std::wstring::npos ? 0 : slash + 1)
                               : std::wstring());
  if (session_) session_->SetBackground(backgroundImage_);
  return error.empty();
}

void TViewerWindow::ShowKeying()
{
  const TPreviewSettings& settings = session_->Settings();
  SendMessageW(keyCombo_, CB_SETCURSEL, WPARAM(settings.keying), 0);
  const unsigned int color = settings.keyColor;
  if (swatchBrush_) DeleteObject(swatchBrush_);
  swatchBrush_ = CreateSolidBrush(RGB((color >> 16) & 255, (color >> 8) & 255, color & 255));
  InvalidateRect(swatch_, nullptr, TRUE);
  const int positions[5] = {int(settings.sensitivity * 100 + 0.5f), int(settings.smoothing * 100 + 0.5f),
                            settings.opacity, int(settings.spill * 100 + 0.5f), settings.choke};
  for (int i = 0; i < 5; ++i) SendMessageW(keyRows_[i].bar, TBM_SETPOS, TRUE, positions[i]);
  ShowSliderValues();
}

void TViewerWindow::ShowSliderValues()
{
  const TPreviewSettings& settings = session_->Settings();
  wchar_t text[5][16];
  std::swprintf(text[0], 16, L"%.2f", double(settings.sensitivity));
  std::swprintf(text[1], 16, L"%.2f", double(settings.smoothing));
  std::swprintf(text[2], 16, L"%d", settings.opacity);
  std::swprintf(text[3], 16, L"%.2f", double(settings.spill));
  std::swprintf(text[4], 16, L"%d px", settings.choke);
  for (int i = 0; i < 5; ++i) SetWindowTextW(keyRows_[i].value, text[i]);
}

void TViewerWindow::OnCommand(int id, int code)
{
  if (id >= kIdParameter + 100 && id < kIdParameter + 100 + kParameterCount && code == BN_CLICKED) {
    SetTimer(window_, kParameterTimer, kParameterDelayMs, nullptr);
    return;
  }
  switch (id) {
    case kIdCamera:
      if (code == CBN_SELCHANGE) {
        const int selected = Selection(cameraCombo_);
        if (selected >= 0 && size_t(selected) < cameras_.size() &&
            cameraLink_ != cameras_[size_t(selected)].SymbolicLink)
          SelectCamera(cameras_[size_t(selected)]);
      }
      break;
    case kIdConversion:
      if (code == CBN_SELCHANGE) RefreshFormats(), Restart();  // the format list depends on it
      break;
    case kIdFormat:
      if (code == CBN_SELCHANGE) LoadBackground(true), Restart();  // the background follows the size
      break;
    case kIdRenderer:
      if (code == CBN_SELCHANGE) Restart();
      break;
    case kIdReconnect:
      session_->SetReconnect(SendMessageW(reconnectBox_, BM_GETCHECK, 0, 0) == BST_CHECKED);
      break;
    case kIdKey:
      if (code == CBN_SELCHANGE) {
        session_->SetKeying(static_cast<TKeyChoice>(std::max(0, Selection(keyCombo_))), session_->Settings().keyColor);
        ShowKeying();
      }
      break;
    case kIdPick:
      PickKeyColor();
      break;
    case kIdBackground:
      if (code == CBN_SELCHANGE) {
        if (Selection(backgroundCombo_) == int(TBackgroundChoice::Image)) {
          wchar_t path[MAX_PATH] = L"";
          OPENFILENAMEW dialog = {};
          dialog.lStructSize = sizeof(dialog);
          dialog.hwndOwner = window_;
          dialog.lpstrFilter = L"Pictures (*.png; *.bmp; *.jpg; *.jpeg)\0*.png;*.bmp;*.jpg;*.jpeg\0All files\0*.*\0";
          dialog.lpstrFile = path;
          dialog.nMaxFile = MAX_PATH;
          dialog.lpstrTitle = L"Background picture";
          dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
          if (!GetOpenFileNameW(&dialog)) {
            SendMessageW(backgroundCombo_, CB_SETCURSEL, options_.backgroundFile.empty() ? 0 : 2, 0);
            break;
          }
          options_.backgroundFile = path;
        }
        LoadBackground(true);
      }
      break;
    case kIdDefaults:
      if (!cameraLink_.empty()) lister_.SetDefaultParameters(cameraLink_.c_str());
      RefreshParameters();
      break;
    case kIdSnapshot:
      SaveSnapshotAs();
      break;
    default:
      break;
  }
}

void TViewerWindow::OnSlider(HWND bar, int code)
{
  for (int i = 0; i < kParameterCount; ++i) {
    if (bar != paramRows_[i].bar) continue;
    // Moving a control by hand takes it out of automatic mode; the camera hears of it
    // once the slider rests a moment (each call opens the camera).
    const TPictorParameter& p = ParameterAt(parameters_, i);
    SendMessageW(paramRows_[i].autoBox, BM_SETCHECK, BST_UNCHECKED, 0);
    SetText(paramRows_[i].value, std::to_wstring(p.Min + int(SendMessageW(bar, TBM_GETPOS, 0, 0)) * ParameterStep(p)));
    SetTimer(window_, kParameterTimer, kParameterDelayMs, nullptr);
    return;
  }
  if (code == TB_ENDTRACK) return;
  for (int i = 0; i < 5; ++i) {
    if (bar != keyRows_[i].bar) continue;
    const int position = int(SendMessageW(bar, TBM_GETPOS, 0, 0));
    switch (i) {
      case 0:
        session_->SetSensitivity(position / 100.0f);
        break;
      case 1:
        session_->SetSmoothing(position / 100.0f);
        break;
      case 2:
        session_->SetOpacity(position);
        break;
      case 3:
        session_->SetSpill(position / 100.0f);
        break;
      default:
        session_->SetChoke(position);
        break;
    }
    ShowSliderValues();
  }
}

void TViewerWindow::PickKeyColor()
{
  unsigned int color = 0;
  if (!session_->SampleKeyColor(&color)) {
    MessageBoxW(window_, L"No screen colour was found along the picture's border.", kTitle, MB_ICONINFORMATION);
    return;
  }
  session_->SetKeying(TKeyChoice::Custom, color);
  ShowKeying();
}
