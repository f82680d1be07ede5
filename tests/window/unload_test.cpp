// The preview window's class is registered under the host executable, while its window
// procedure lives in the library. These tests unload the library's code and load it
// again in one process, and check that no class or window is left pointing at code
// that is gone.
#include <gtest/gtest.h>
#include <windows.h>

namespace {

constexpr wchar_t kProbe[] = L"PictorWindowProbe.dll";
constexpr wchar_t kClass[] = L"myd3d9previewwindow";
constexpr wchar_t kInstanceProperty[] = L"PointerToClassInstance";

using CreateProc = void* (*)(HWND*);
using DestroyProc = void (*)(void*);

HMODULE ModuleOf(const void* address)
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module))
        return nullptr;
    return module;
}

bool QueryClass(WNDCLASSEXW* info)
{
    info->cbSize = sizeof(*info);
    return GetClassInfoExW(GetModuleHandleW(nullptr), kClass, info) != 0;
}

struct TProbe {
    HMODULE module = nullptr;
    CreateProc create = nullptr;
    DestroyProc destroy = nullptr;

    bool Load()
    {
        module = LoadLibraryW(kProbe);
        if (module == nullptr)
            return false;
        create = reinterpret_cast<CreateProc>(reinterpret_cast<void*>(GetProcAddress(module, "ProbeCreatePreviewWindow")));
        destroy = reinterpret_cast<DestroyProc>(reinterpret_cast<void*>(GetProcAddress(module, "ProbeDestroyPreviewWindow")));
        return create != nullptr && destroy != nullptr;
    }
    // True when the module is really gone from the process afterwards.
    bool Unload()
    {
        const bool freed = FreeLibrary(module) != 0;
        module = nullptr;
        return freed && GetModuleHandleW(kProbe) == nullptr;
    }
};

// Sends the window messages its procedure must handle, sent and posted; a procedure in
// freed code crashes the test here.
void Exercise(HWND hwnd)
{
    SetWindowPos(hwnd, nullptr, 0, 0, 120, 90, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"probe"));
    PostMessageW(hwnd, WM_NULL, 0, 0);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
}

TEST(LibraryUnload, PreviewWindowsWorkAcrossRepeatedUnloadAndReload)
{
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        TProbe probe;
        ASSERT_TRUE(probe.Load()) << GetLastError();
        HWND hwnd = nullptr;
        void* window = probe.create(&hwnd);
        ASSERT_NE(window, nullptr);
        ASSERT_NE(hwnd, nullptr);

        WNDCLASSEXW info{};
        ASSERT_TRUE(QueryClass(&info));
        EXPECT_EQ(ModuleOf(reinterpret_cast<const void*>(info.lpfnWndProc)), probe.module)
            << "the class procedure is the loaded copy's";
        EXPECT_EQ(GetPropW(hwnd, kInstanceProperty), window);
        Exercise(hwnd);

        probe.destroy(window);
        EXPECT_FALSE(IsWindow(hwnd));
        ASSERT_TRUE(probe.Unload());
        EXPECT_FALSE(QueryClass(&info)) << "no class is left behind by the unloaded copy";
    }
}

TEST(LibraryUnload, WindowLeftAliveAtUnloadIsDetachedFromTheUnloadedCode)
{
    TProbe probe;
    ASSERT_TRUE(probe.Load()) << GetLastError();
    HWND leaked = nullptr;
    ASSERT_NE(probe.create(&leaked), nullptr);  // never destroyed through the library
    ASSERT_NE(leaked, nullptr);
    ASSERT_TRUE(probe.Unload());

    // The window and its class still exist but point at code that is loaded.
    ASSERT_TRUE(IsWindow(leaked));
    EXPECT_EQ(GetPropW(leaked, kInstanceProperty), nullptr);
    EXPECT_NE(ModuleOf(reinterpret_cast<const void*>(GetWindowLongPtrW(leaked, GWLP_WNDPROC))), nullptr);
    WNDCLASSEXW info{};
    ASSERT_TRUE(QueryClass(&info)) << "the class cannot go while a window of it exists";
    EXPECT_NE(ModuleOf(reinterpret_cast<const void*>(info.lpfnWndProc)), nullptr);
    Exercise(leaked);

    // A new copy can make its window while the old window lives on.
    ASSERT_TRUE(probe.Load());
    HWND second = nullptr;
    void* window = probe.create(&second);
    ASSERT_NE(second, nullptr);
    Exercise(second);
    probe.destroy(window);
    ASSERT_TRUE(probe.Unload());

    // Once the old window is gone, the next copy takes the class over again and its
    // windows reach their objects.
    EXPECT_TRUE(DestroyWindow(leaked));
    ASSERT_TRUE(probe.Load());
    window = probe.create(&second);
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(QueryClass(&info));
    EXPECT_EQ(ModuleOf(reinterpret_cast<const void*>(info.lpfnWndProc)), probe.module);
    EXPECT_EQ(GetPropW(second, kInstanceProperty), window);
    Exercise(second);
    probe.destroy(window);
    ASSERT_TRUE(probe.Unload());
    EXPECT_FALSE(QueryClass(&info));
}

// The same through Pictor.dll itself: the exported preview object makes its hidden window
// on construction. The class has no import library here (the test must be able to unload
// the DLL), so its constructor and destructor are looked up by their g++ names.
TEST(LibraryUnload, PictorDllPreviewObjectsAcrossUnloadAndReload)
{
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        HMODULE pictor = LoadLibraryW(L"Pictor.dll");
        ASSERT_NE(pictor, nullptr) << GetLastError();
        using Member = void (*)(void*);
        auto construct = reinterpret_cast<Member>(
            reinterpret_cast<void*>(GetProcAddress(pictor, "_ZN18TPictorD3D9PreviewC1Ev")));
        auto destruct = reinterpret_cast<Member>(
            reinterpret_cast<void*>(GetProcAddress(pictor, "_ZN18TPictorD3D9PreviewD1Ev")));
        if (construct == nullptr || destruct == nullptr) {
            FreeLibrary(pictor);
            GTEST_SKIP() << "Pictor.dll exports no TPictorD3D9Preview constructor and destructor under their g++ names";
        }
        // Far more room than the object needs; its layout is the library's business.
        alignas(64) static unsigned char storage[1 << 16];
        construct(storage);
        WNDCLASSEXW info{};
        ASSERT_TRUE(QueryClass(&info));
        EXPECT_EQ(ModuleOf(reinterpret_cast<const void*>(info.lpfnWndProc)), pictor);
        HWND hwnd = FindWindowExW(nullptr, nullptr, kClass, nullptr);
        ASSERT_NE(hwnd, nullptr);
        Exercise(hwnd);
        destruct(storage);
        EXPECT_FALSE(IsWindow(hwnd));

        FreeLibrary(pictor);
        ASSERT_EQ(GetModuleHandleW(L"Pictor.dll"), nullptr) << "Pictor.dll stayed loaded";
        EXPECT_FALSE(QueryClass(&info));
    }
}

}  // namespace
