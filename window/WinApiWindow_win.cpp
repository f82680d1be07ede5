#include "window/WinApiWindow.h"

#include <commctrl.h>

#include <utility>

#include "log/Log.h"
#include "log/LogTrace.h"
#include "window/WindowClassTable.h"

namespace {

constexpr wchar_t kInstanceProperty[] = L"PointerToClassInstance";
constexpr int kChildResizeKind = 1;

constexpr char kConstructor[] = "TWinApiWindow::TWinApiWindow";
constexpr char kDestructor[] = "TWinApiWindow::~TWinApiWindow";
constexpr char kCreateHandle[] = "TWinApiWindow::CreateHandle";
constexpr char kWindowProc[] = "TWindowProc";

constexpr DWORD kClassStyle = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS | CS_OWNDC;
constexpr DWORD kWindowStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr UINT kNoZOrderChange = SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER;

// (height << 16) | width, each half cut to 16 bits as the message parameters carry them.
WPARAM PackSize(const SIZE& size)
{
  return (static_cast<WPARAM>(static_cast<UINT>(size.cy) & 0xFFFFu) << 16) | (static_cast<UINT>(size.cx) & 0xFFFFu);
}

// One axis of the anchor rules: with both edges anchored the window stretches and keeps
// its near edge; with only the far edge anchored it keeps its size and follows that edge.
void ApplyAnchorAxis(bool nearEdge, bool farEdge, int farMargin, int parentExtent, int& position, int& size)
{
  if (nearEdge && farEdge)
    size = parentExtent - farMargin - position;
  else if (farEdge)
    position = parentExtent - farMargin - size;
}

}  // namespace

TWinApiWindow::TWinApiWindow(HINSTANCE instance, std::wstring className, std::wstring toolTipText)
    : instance(instance),
      marginLeft(0),
      marginTop(0),
      marginRight(0),
      marginBottom(0),
      clientSize{0, 0},
      hWnd(nullptr),
      hToolTip(nullptr),
      className(std::move(className)),
      toolTipText(std::move(toolTipText)),
      defaultProc(nullptr),
      createParams{},
      initialBounds{WinApiBoundNotSet, WinApiBoundNotSet, WinApiBoundNotSet, WinApiBoundNotSet},
      anchors(0),
      backgroundColor(GetSysColor(COLOR_WINDOW))
{
  const TLogScope scope(kConstructor);
}

TWinApiWindow::~TWinApiWindow()
{
  const TLogScope scope(kDestructor);
  bool destroyed = true;
  if (hWnd != nullptr) {
    // Without the property, the messages sent while the window is destroyed go to
    // DefWindowProcW and never reach this half-destroyed object.
    RemovePropW(hWnd, kInstanceProperty);
    destroyed = DestroyWindow(hWnd) != 0;
    if (!destroyed) {
      // Only the thread that made a window can destroy it. The window lives on
      // with the default procedure and keeps its class registered; the class is
      // parked at unload like that of any window left alive.
      LogError("%s DestroyWindow error %d", kDestructor, static_cast<int>(GetLastError()));
      SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcW));
    }
  }
  if (hToolTip != nullptr) DestroyWindow(hToolTip);
  if (hWnd != nullptr && destroyed) pictor_window::ReleaseWindowClass(instance, className.c_str(), hWnd);
}

LRESULT CALLBACK TWinApiWindow::TWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
  if (message == WM_CREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    if (!SetPropW(hwnd, kInstanceProperty, create->lpCreateParams))
      LogError("%s SetProp error %d", kWindowProc, static_cast<int>(GetLastError()));
  }
  auto* window = static_cast<TWinApiWindow*>(GetPropW(hwnd, kInstanceProperty));
  if (window != nullptr) return window->WindowProc(hwnd, message, wParam, lParam);
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

BOOL CALLBACK TWinApiWindow::NotifyChildProc(HWND child, LPARAM lParam)
{
  const auto* info = reinterpret_cast<const TChildResizeInfo*>(lParam);
  if (info->kind == kChildResizeKind) info->sender->NotifyChildResize(child, *info);
  return TRUE;
}

LRESULT TWinApiWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
  switch (message) {
    case WM_SIZE:
      // During CreateWindowExW hWnd is not set yet and there are no children to tell.
      if (hWnd != nullptr) {
        TChildResizeInfo info{kChildResizeKind, this, clientSize, GetClientSize()};
        EnumChildWindows(hWnd, &TWinApiWindow::NotifyChildProc, reinterpret_cast<LPARAM>(&info));
        clientSize = GetClientSize();
      }
      break;
    case WM_ERASEBKGND: {
      RECT client{};
      GetClientRect(hwnd, &client);
      const RECT area{0, 0, client.right, client.bottom};
      HBRUSH brush = CreateSolidBrush(backgroundColor);
      if (brush != nullptr) {
        FillRect(reinterpret_cast<HDC>(wParam), &area, brush);
        DeleteObject(brush);
      }
      return 0;
    }
    case WM_PICTOR_PARENT_RESIZED: {
      const auto packed = static_cast<UINT>(static_cast<ULONG_PTR>(lParam) & 0xFFFFFFFFu);
      const SIZE parentClient{static_cast<LONG>(packed & 0xFFFFu), static_cast<LONG>(packed >> 16)};
      ParentResized(parentClient);
      return 0;
    }
    default:
      break;
  }
  if (defaultProc != nullptr) return defaultProc(hwnd, message, wParam, lParam);
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

void TWinApiWindow::NotifyChildResize(HWND child, const TChildResizeInfo& info)
{
  // EnumChildWindows reaches every descendant; only direct children are told.
  if (GetParent(child) != hWnd) return;
  SendMessageW(child, WM_PICTOR_PARENT_RESIZED, PackSize(info.oldClientSize),
               static_cast<LPARAM>(PackSize(info.newClientSize)));
}

void TWinApiWindow::AlignToParent()
{
  HWND parent = GetParent(hWnd);
  if (parent == nullptr) return;
  RECT bounds{};
  GetWindowRect(parent, &bounds);
  ParentResized(SIZE{bounds.right - bounds.left, bounds.bottom - bounds.top});
}

void TWinApiWindow::ParentResized(const SIZE& parentClient)
{
  if (anchors == 0) return;
  const POINT position = GetPosition();
  const SIZE size = GetWindowSize();
  int x = position.x;
  int y = position.y;
  int width = size.cx;
  int height = size.cy;
  ApplyAnchorAxis((anchors & AnchorLeft) != 0, (anchors & AnchorRight) != 0, marginRight, parentClient.cx, x, width);
  ApplyAnchorAxis((anchors & AnchorTop) != 0, (anchors & AnchorBottom) != 0, marginBottom, parentClient.cy, y, height);
  SetWindowPos(hWnd, nullptr, x, y, width, height, kNoZOrderChange);
}

void TWinApiWindow::UpdateAnchorMargins()
{
  if (hWnd == nullptr) return;
  HWND parent = GetParent(hWnd);
  if (parent == nullptr) return;
  RECT parentClient{};
  GetClientRect(parent, &parentClient);
  const SIZE size = GetWindowSize();
  const POINT position = GetPosition();
  marginLeft = position.x;
  marginTop = position.y;
  marginRight = parentClient.right - size.cx - position.x;
  marginBottom = parentClient.bottom - size.cy - position.y;
}

void TWinApiWindow::FillCreateParams(TWinApiCreateParams& params)
{
  WNDCLASSEXW& wc = params.wndClass;
  wc = WNDCLASSEXW{};
  wc.cbSize = sizeof(WNDCLASSEXW);
  wc.style = kClassStyle;
  wc.lpfnWndProc = &TWinApiWindow::TWindowProc;
  wc.cbClsExtra = 0;
  wc.cbWndExtra = 8;
  wc.hInstance = instance;
  wc.hIcon = nullptr;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  wc.lpszMenuName = nullptr;
  wc.lpszClassName = className.c_str();
  wc.hIconSm = nullptr;

  params.windowName.clear();
  params.exStyle = 0;
  params.style = kWindowStyle;
  // One value of a pair set is enough to use both as stored.
  const bool positionUnset = initialBounds.x == WinApiBoundNotSet && initialBounds.y == WinApiBoundNotSet;
  params.x = positionUnset ? CW_USEDEFAULT : initialBounds.x;
  params.y = positionUnset ? CW_USEDEFAULT : initialBounds.y;
  const bool sizeUnset = initialBounds.width == WinApiBoundNotSet && initialBounds.height == WinApiBoundNotSet;
  params.width = sizeUnset ? CW_USEDEFAULT : initialBounds.width;
  params.height = sizeUnset ? CW_USEDEFAULT : initialBounds.height;
  params.parent = nullptr;
  params.menu = nullptr;
}

HWND TWinApiWindow::CreateHandle()
{
  LogInfo("%s", kCreateHandle);
  FillCreateParams(createParams);

  // The class is registered when missing; one that exists is reused unchanged.
  if (pictor_window::AcquireWindowClass(instance, className.c_str(), createParams.wndClass)) {
    hWnd = CreateWindowExW(createParams.exStyle, className.c_str(), createParams.windowName.c_str(), createParams.style,
                           createParams.x, createParams.y, createParams.width, createParams.height, createParams.parent,
                           createParams.menu, instance, this);
    if (hWnd != nullptr)
      pictor_window::AddWindow(instance, className.c_str(), hWnd);
    else
      pictor_window::ReleaseWindowClass(instance, className.c_str(), nullptr);
  }
  clientSize = GetClientSize();
  UpdateAnchorMargins();

  if (hWnd != nullptr && !toolTipText.empty()) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    hToolTip = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hWnd, nullptr, instance, nullptr);
    if (hToolTip != nullptr) {
      SetWindowPos(hToolTip, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
      TOOLINFOW tool{};
      // The version-2 size is understood by every comctl32, with or without a manifest.
      tool.cbSize = TTTOOLINFOW_V2_SIZE;
      tool.uFlags = TTF_SUBCLASS;
      tool.hwnd = hWnd;
      tool.uId = 0;
      GetClientRect(hWnd, &tool.rect);
      tool.hinst = instance;
      tool.lpszText = const_cast<wchar_t*>(toolTipText.c_str());
      SendMessageW(hToolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
  }

  LogInfo("%s exit %p", kCreateHandle, static_cast<void*>(hWnd));
  return hWnd;
}

void TWinApiWindow::Show(int command)
{
  ShowWindow(hWnd, command);
}

void TWinApiWindow::Hide()
{
  ShowWindow(hWnd, SW_HIDE);
}

SIZE TWinApiWindow::GetWindowSize()
{
  RECT bounds{};
  GetWindowRect(hWnd, &bounds);
  return SIZE{bounds.right - bounds.left, bounds.bottom - bounds.top};
}

SIZE TWinApiWindow::GetClientSize()
{
  RECT client{};
  GetClientRect(hWnd, &client);
  return SIZE{client.right, client.bottom};
}

void TWinApiWindow::SetSize(int width, int height)
{
  SetSize(SIZE{width, height});
}

void TWinApiWindow::SetSize(SIZE size)
{
  SetWindowPos(hWnd, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | kNoZOrderChange);
  clientSize = GetClientSize();
  UpdateAnchorMargins();
}

void TWinApiWindow::SetPosition(int x, int y)
{
  SetPosition(POINT{x, y});
}

void TWinApiWindow::SetPosition(POINT position)
{
  SetWindowPos(hWnd, nullptr, position.x, position.y, 0, 0, SWP_NOSIZE | kNoZOrderChange);
  clientSize = GetClientSize();
  UpdateAnchorMargins();
}

void TWinApiWindow::SetBounds(POINT position, SIZE size)
{
  SetWindowPos(hWnd, nullptr, position.x, position.y, size.cx, size.cy, kNoZOrderChange);
}

POINT TWinApiWindow::GetPosition()
{
  POINT position = GetScreenPosition();
  HWND parent = GetParent(hWnd);
  if (parent != nullptr) ScreenToClient(parent, &position);
  return position;
}

POINT TWinApiWindow::GetScreenPosition()
{
  RECT bounds{};
  GetWindowRect(hWnd, &bounds);
  return POINT{bounds.left, bounds.top};
}

bool TWinApiWindow::ContainsPoint(int x, int y)
{
  const SIZE size = GetClientSize();
  const RECT client{0, 0, size.cx, size.cy};
  return PtInRect(&client, POINT{x, y}) != 0;
}

bool TWinApiWindow::IsVisible()
{
  return IsWindowVisible(hWnd) != 0;
}
