// The window wrapper and the hidden preview window, under Wine with a display.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "window/PictorD3D9PreviewWindow.h"

namespace {

constexpr wchar_t kProperty[] = L"PointerToClassInstance";
constexpr wchar_t kTestClass[] = L"pictortestwindow";

bool QueryClass(const wchar_t* name)
{
  WNDCLASSEXW info{};
  info.cbSize = sizeof(info);
  return GetClassInfoExW(GetModuleHandleW(nullptr), name, &info) != 0;
}

std::vector<UINT> g_passedOn;  // what the wrapper hands on to its defaultProc

LRESULT CALLBACK RecordingDefaultProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
  g_passedOn.push_back(message);
  return message == WM_APP ? 1234 : DefWindowProcW(hwnd, message, wParam, lParam);
}

// A window of the test class with the parent and class style the test chooses.
struct TTestWindow : TWinApiWindow {
  TTestWindow(HWND parent = nullptr, UINT classStyle = 0)
      : TWinApiWindow(GetModuleHandleW(nullptr), kTestClass, L""), parent(parent), classStyle(classStyle)
  {
    initialBounds = {10, 10, 60, 60};
  }
  void FillCreateParams(TWinApiCreateParams& params) override
  {
    TWinApiWindow::FillCreateParams(params);
    if (parent != nullptr) {
      params.style = WS_CHILD | WS_VISIBLE;
      params.parent = parent;
    }
    if (classStyle != 0) params.wndClass.style = classStyle;
  }
  HWND parent;
  UINT classStyle;
};

TEST(WindowClass, IsSharedWhileUsedAndGoesWithTheLastWindowAndAForeignOrStaleClassIsHandled)
{
  ASSERT_FALSE(QueryClass(kTestClass));
  TTestWindow orphan(reinterpret_cast<HWND>(static_cast<INT_PTR>(0x7FFF1234)));
  EXPECT_EQ(orphan.CreateHandle(), nullptr);  // no such parent
  EXPECT_FALSE(QueryClass(kTestClass)) << "a failed creation leaves no class";
  auto first = std::make_unique<TTestWindow>();
  ASSERT_NE(first->CreateHandle(), nullptr);
  {
    TTestWindow second(nullptr, CS_NOCLOSE);  // the style is ignored: the class exists
    ASSERT_NE(second.CreateHandle(), nullptr);
    EXPECT_EQ(GetClassLongW(second.GetHandle(), GCL_STYLE), 0x2Bu);
    EXPECT_EQ(GetClassLongPtrW(second.GetHandle(), GCLP_WNDPROC),
              reinterpret_cast<LONG_PTR>(&TWinApiWindow::TWindowProc));
  }
  EXPECT_TRUE(QueryClass(kTestClass)) << "the first window still uses it";
  first.reset();
  EXPECT_FALSE(QueryClass(kTestClass));

  WNDCLASSEXW foreign{};
  foreign.cbSize = sizeof(foreign);
  foreign.style = CS_DBLCLKS;
  foreign.lpfnWndProc = &RecordingDefaultProc;
  foreign.hInstance = GetModuleHandleW(nullptr);
  foreign.lpszClassName = kTestClass;
  ASSERT_NE(RegisterClassExW(&foreign), 0);
  {
    TTestWindow window;
    ASSERT_NE(window.CreateHandle(), nullptr);
    EXPECT_EQ(GetClassLongW(window.GetHandle(), GCL_STYLE), static_cast<DWORD>(CS_DBLCLKS));
  }
  EXPECT_TRUE(UnregisterClassW(kTestClass, GetModuleHandleW(nullptr))) << "left registered for its owner";

  // What a copy of the library that is no longer loaded leaves: a procedure address in
  // memory given back to the system. Calling it would crash.
  void* page = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
  ASSERT_TRUE(page != nullptr && VirtualFree(page, 0, MEM_RELEASE));
  WNDCLASSEXW stale{};
  stale.cbSize = sizeof(stale);
  stale.lpfnWndProc = reinterpret_cast<WNDPROC>(page);
  stale.hInstance = GetModuleHandleW(nullptr);
  stale.lpszClassName = PictorPreviewWindowClassName;
  ASSERT_NE(RegisterClassExW(&stale), 0);
  {
    TPictorD3D9PreviewWindow window;
    ASSERT_NE(window.GetHandle(), nullptr);
    EXPECT_EQ(GetPropW(window.GetHandle(), kProperty), static_cast<TWinApiWindow*>(&window));
  }
  EXPECT_FALSE(QueryClass(PictorPreviewWindowClassName));
}

TEST(WindowClass, WindowsComeAndGoOnSeveralThreadsAndOneOfAnotherThreadOutlivesItsObject)
{
  // Each thread's last window unregisters the class while the other may be creating
  // one from it; no creation may fail on that account.
  std::atomic<int> failures{0};
  auto work = [&failures] {
    for (int i = 0; i < 50; ++i) failures += TPictorD3D9PreviewWindow().GetHandle() == nullptr;
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_FALSE(QueryClass(PictorPreviewWindowClassName));

  // Only the creating thread can destroy a window; an object destroyed elsewhere must
  // leave a window that no longer calls into it, and its class registered.
  std::promise<TTestWindow*> created;
  std::promise<void> finish;
  std::thread owner([&] {
    auto* window = new TTestWindow();
    window->CreateHandle();
    created.set_value(window);
    finish.get_future().wait();
  });
  TTestWindow* window = created.get_future().get();
  HWND hwnd = window->GetHandle();
  delete window;
  EXPECT_TRUE(hwnd != nullptr && IsWindow(hwnd));
  EXPECT_EQ(GetWindowLongPtrW(hwnd, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&DefWindowProcW));
  EXPECT_EQ(GetPropW(hwnd, kProperty), nullptr);
  EXPECT_TRUE(QueryClass(kTestClass));
  finish.set_value();
  owner.join();
}

TEST(WindowMessages, GoOnToTheDefaultProcedureUntilDestructionBegins)
{
  auto window = std::make_unique<TTestWindow>();
  window->SetDefaultProc(&RecordingDefaultProc);
  HWND hwnd = window->CreateHandle();
  ASSERT_NE(hwnd, nullptr);
  // Unconsumed messages go to defaultProc, whose result comes back.
  g_passedOn.clear();
  EXPECT_EQ(SendMessageW(hwnd, WM_APP, 0, 0), 1234);
  EXPECT_EQ(g_passedOn, std::vector<UINT>{WM_APP});
  // The messages of DestroyWindow (WM_DESTROY, WM_NCDESTROY ...) never reach the object.
  g_passedOn.clear();
  window.reset();
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_TRUE(g_passedOn.empty()) << g_passedOn.front();
}

}  // namespace
