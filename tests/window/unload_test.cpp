// The preview window's class is registered under the host executable, while its window
// procedure lives in the library. This test unloads the library's code and loads it again
// in one process, and checks that no class or window is left pointing at code that is gone.
#include <gtest/gtest.h>
#include <windows.h>

namespace {

HMODULE ModuleOf(const void* address)
{
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     static_cast<LPCWSTR>(address), &module);
  return module;
}

// The module holding the class procedure, or null when it lies in no loaded module;
// `registered` tells whether the class exists at all.
HMODULE ClassProcedureModule(bool* registered)
{
  WNDCLASSEXW info{};
  info.cbSize = sizeof(info);
  *registered = GetClassInfoExW(GetModuleHandleW(nullptr), L"myd3d9previewwindow", &info) != 0;
  return *registered ? ModuleOf(reinterpret_cast<const void*>(info.lpfnWndProc)) : nullptr;
}

// PictorWindowProbe.dll: the library's window code in a module the test can unload.
struct TProbe {
  HMODULE module = LoadLibraryW(L"PictorWindowProbe.dll");
  void* (*create)(HWND*) = reinterpret_cast<void* (*)(HWND*)>(Export("ProbeCreatePreviewWindow"));
  void (*destroy)(void*) = reinterpret_cast<void (*)(void*)>(Export("ProbeDestroyPreviewWindow"));
  void* Export(const char* name) { return module ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr; }
  // True when the module is really gone from the process afterwards.
  bool Unload() { return FreeLibrary(module) && GetModuleHandleW(L"PictorWindowProbe.dll") == nullptr; }
};

// Sends and posts messages its procedure must handle; a procedure in freed code crashes here.
void Exercise(HWND hwnd)
{
  SetWindowPos(hwnd, nullptr, 0, 0, 120, 90, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  SendMessageW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"probe"));
  PostMessageW(hwnd, WM_NULL, 0, 0);
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

TEST(LibraryUnload, NoClassOrWindowIsLeftPointingAtUnloadedCode)
{
  bool registered = false;
  HWND hwnd = nullptr, leaked = nullptr;
  {
    // The host destroys the window itself and never the object: the class goes at unload.
    TProbe probe;
    ASSERT_TRUE(probe.create && probe.destroy) << GetLastError();
    ASSERT_NE(probe.create(&hwnd), nullptr);
    EXPECT_EQ(ClassProcedureModule(&registered), probe.module);
    ASSERT_TRUE(DestroyWindow(hwnd));
    ASSERT_TRUE(probe.Unload());
    ClassProcedureModule(&registered);
    EXPECT_FALSE(registered) << "class left behind by the unloaded copy";
  }
  {
    // A window still alive at unload is detached from the code, and so is its class,
    // which cannot go while a window of it exists.
    TProbe probe;
    ASSERT_NE(probe.create(&leaked), nullptr);
    ASSERT_TRUE(probe.Unload());
    ASSERT_TRUE(IsWindow(leaked));
    EXPECT_EQ(GetPropW(leaked, L"PointerToClassInstance"), nullptr);
    EXPECT_NE(ModuleOf(reinterpret_cast<const void*>(GetWindowLongPtrW(leaked, GWLP_WNDPROC))), nullptr);
    EXPECT_NE(ClassProcedureModule(&registered), nullptr);
    EXPECT_TRUE(registered);
    Exercise(leaked);
  }
  for (bool oldWindowAlive : {true, false}) {
    // A new copy makes its windows beside the old one; once that is gone, it takes the
    // class over again and its windows reach their objects.
    SCOPED_TRACE(oldWindowAlive);
    TProbe probe;
    void* window = probe.create(&hwnd);
    ASSERT_NE(hwnd, nullptr);
    Exercise(hwnd);
    if (!oldWindowAlive) {
      EXPECT_EQ(ClassProcedureModule(&registered), probe.module);
      EXPECT_EQ(GetPropW(hwnd, L"PointerToClassInstance"), window);
    }
    probe.destroy(window);
    EXPECT_FALSE(IsWindow(hwnd));
    if (oldWindowAlive) {
      EXPECT_TRUE(DestroyWindow(leaked));
    }
    ASSERT_TRUE(probe.Unload());
  }
  ClassProcedureModule(&registered);
  EXPECT_FALSE(registered);
}

}  // namespace
