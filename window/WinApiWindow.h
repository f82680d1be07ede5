// A small object wrapper round one Win32 window: it registers the window class on
// demand, creates the window, routes every message of the window to the virtual
// WindowProc of the object that owns it, erases the background in a chosen colour,
// keeps child windows laid out against their parent through anchor flags and offers
// a row of size and position operations.
//
// A class registered here is unregistered again with the last window made from it and at
// the latest when the library is unloaded, so that no class outlives the window procedure
// it points at (window/WindowClassTable.h).
//
// The window belongs to the thread that constructs the object; its messages are
// handled only while that thread dispatches messages. No member is locked.
#pragma once

#include <windows.h>

#include <string>

// Anchor flags: which edges of the parent's client area the window keeps its
// distance to when the parent is resized.
enum : BYTE {
  AnchorLeft = 1,
  AnchorTop = 2,
  AnchorRight = 4,
  AnchorBottom = 8,
};

// The parent-resized notice a window sends to each of its direct children:
// wParam = (old height << 16) | old width, lParam = (new height << 16) | new width.
constexpr UINT WM_PICTOR_PARENT_RESIZED = WM_USER + 1;

// Marks an initialBounds value as "not set": CreateHandle then lets the system choose.
constexpr int WinApiBoundNotSet = 10000000;

// Class and creation arguments of one window, filled by FillCreateParams.
struct TWinApiCreateParams {
  WNDCLASSEXW wndClass;
  std::wstring windowName;
  DWORD exStyle;
  DWORD style;
  int x;
  int y;
  int width;
  int height;
  HWND parent;
  HMENU menu;
};

struct TWinApiBounds {
  int x;
  int y;
  int width;
  int height;
};

class TWinApiWindow;

// Handed through EnumChildWindows when a window's client area changes size.
struct TChildResizeInfo {
  int kind;  // always 1
  TWinApiWindow* sender;
  SIZE oldClientSize;
  SIZE newClientSize;
};

class TWinApiWindow {
 public:
  TWinApiWindow(HINSTANCE instance, std::wstring className, std::wstring toolTipText);
  TWinApiWindow(const TWinApiWindow&) = delete;
  TWinApiWindow& operator=(const TWinApiWindow&) = delete;

  // The one window procedure registered for every class: it finds the object through
  // the window's "PointerToClassInstance" property, set on WM_CREATE from the
  // creation parameter, and hands it the message.
  static LRESULT CALLBACK TWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  virtual void AlignToParent();
  virtual void ParentResized(const SIZE& parentClient);
  virtual void FillCreateParams(TWinApiCreateParams& params);
  virtual LRESULT WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  virtual void NotifyChildResize(HWND child, const TChildResizeInfo& info);
  virtual void UpdateAnchorMargins();
  virtual ~TWinApiWindow();
  virtual void Show(int command);
  virtual void Hide();
  // Registers the class if needed and creates the window; null when creation fails.
  virtual HWND CreateHandle();
  virtual SIZE GetWindowSize();
  virtual SIZE GetClientSize();
  virtual void SetSize(int width, int height);
  virtual void SetSize(SIZE size);
  virtual void SetPosition(int x, int y);
  virtual void SetPosition(POINT position);
  virtual void SetBounds(POINT position, SIZE size);
  virtual POINT GetPosition();
  virtual POINT GetScreenPosition();
  virtual bool ContainsPoint(int x, int y);
  virtual bool IsVisible();

  // The window handle; it does not change after CreateHandle, so other threads may read it.
  HWND GetHandle() const { return hWnd; }
  HWND GetToolTipHandle() const { return hToolTip; }
  SIZE GetCachedClientSize() const { return clientSize; }
  BYTE GetAnchors() const { return anchors; }
  void SetAnchors(BYTE value) { anchors = value; }
  COLORREF GetBackgroundColor() const { return backgroundColor; }
  void SetBackgroundColor(COLORREF value) { backgroundColor = value; }
  // Receives every message that WindowProc does not consume, instead of DefWindowProcW.
  void SetDefaultProc(WNDPROC proc) { defaultProc = proc; }
  // Wanted position and size for the next CreateHandle; WinApiBoundNotSet leaves a
  // pair (x and y, or width and height) to the system only when both are unset.
  void SetInitialBounds(const TWinApiBounds& bounds) { initialBounds = bounds; }

 protected:
  HINSTANCE instance;
  int marginLeft;
  int marginTop;
  int marginRight;
  int marginBottom;
  SIZE clientSize;
  HWND hWnd;
  HWND hToolTip;
  std::wstring className;
  std::wstring toolTipText;
  WNDPROC defaultProc;
  TWinApiCreateParams createParams;
  TWinApiBounds initialBounds;
  BYTE anchors;
  COLORREF backgroundColor;

 private:
  static BOOL CALLBACK NotifyChildProc(HWND child, LPARAM lParam);
};
