// The window wrapper and the hidden preview window, under Wine with a display.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/LogCapture.h"
#include "window/PictorD3D9PreviewWindow.h"

namespace {

constexpr wchar_t kProperty[] = L"PointerToClassInstance";
constexpr wchar_t kTestClass[] = L"pictortestwindow";
constexpr int N = WinApiBoundNotSet;

bool QueryClass(const wchar_t* name, WNDCLASSEXW* info)
{
    info->cbSize = sizeof(*info);
    return GetClassInfoExW(GetModuleHandleW(nullptr), name, info) != 0;
}

bool ClassRegistered(const wchar_t* name)
{
    WNDCLASSEXW info{};
    return QueryClass(name, &info);
}

std::string PointerText(const void* p)
{
    char text[32];
    _snprintf(text, sizeof(text), "%p", p);  // the Windows C runtime's format, as the library's
    return text;
}

std::vector<UINT>* g_passedOn = nullptr;  // what the wrapper hands on to its defaultProc

LRESULT CALLBACK RecordingDefaultProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (g_passedOn != nullptr)
        g_passedOn->push_back(message);
    return message == WM_APP ? 1234 : DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK ForeignProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// A window whose bounds, parent and class style the test chooses, recording the messages
// that reach the object and the parent-resized notices among them.
class TTestWindow : public TWinApiWindow {
public:
    TTestWindow(TWinApiBounds bounds, HWND parent = nullptr, const wchar_t* toolTip = L"")
        : TWinApiWindow(GetModuleHandleW(nullptr), kTestClass, toolTip), parent(parent)
    {
        initialBounds = bounds;
    }
    void FillCreateParams(TWinApiCreateParams& params) override
    {
        TWinApiWindow::FillCreateParams(params);
        if (parent != nullptr) {
            params.style = WS_CHILD | WS_VISIBLE;
            params.parent = parent;
        }
        if (classStyle != 0)
            params.wndClass.style = classStyle;
    }
    LRESULT WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        routed.push_back(message);
        if (message == WM_PICTOR_PARENT_RESIZED)
            notices.emplace_back(wParam, lParam);
        return TWinApiWindow::WindowProc(hwnd, message, wParam, lParam);
    }
    const TWinApiCreateParams& Params() const { return createParams; }
    RECT Margins() const { return RECT{marginLeft, marginTop, marginRight, marginBottom}; }

    UINT classStyle = 0;
    std::vector<UINT> routed;
    std::vector<std::pair<WPARAM, LPARAM>> notices;

private:
    HWND parent;
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override { pictortest::LogCapture::Get().Clear(); }
    void TearDown() override { g_passedOn = nullptr; }
};

TEST_F(WindowTest, PreviewWindowIsHiddenUnparentedAndRoutedThroughAClassOfTheHostExecutable)
{
    TPictorD3D9PreviewWindow window;
    HWND hwnd = window.GetHandle();
    ASSERT_NE(hwnd, nullptr);
    EXPECT_FALSE(IsWindowVisible(hwnd));
    EXPECT_EQ(GetParent(hwnd), nullptr);
    RECT r{};
    GetWindowRect(hwnd, &r);
    // Overlapped windows are never smaller than the minimum tracking size (112 wide on Wine).
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right - r.left, std::max(100, GetSystemMetrics(SM_CXMINTRACK)));
    EXPECT_EQ(r.bottom - r.top, std::max(100, GetSystemMetrics(SM_CYMINTRACK)));
    EXPECT_EQ(GetPropW(hwnd, kProperty), static_cast<TWinApiWindow*>(&window));
    WNDCLASSEXW info{};
    ASSERT_TRUE(QueryClass(L"myd3d9previewwindow", &info));
    EXPECT_EQ(info.style, 0x2Bu);
    EXPECT_EQ(info.lpfnWndProc, &TWinApiWindow::TWindowProc);
}

TEST_F(WindowTest, ConstructionAndDestructionWriteExactLogLines)
{
    HWND hwnd = nullptr;
    {
        TPictorD3D9PreviewWindow window;
        hwnd = window.GetHandle();
        ASSERT_NE(hwnd, nullptr);
        const std::vector<std::string> created{"TWinApiWindow::TWinApiWindow", "TWinApiWindow::TWinApiWindow exit",
                                               "TWinApiWindow::CreateHandle",
                                               "TWinApiWindow::CreateHandle exit " + PointerText(hwnd)};
        EXPECT_EQ(pictortest::LogCapture::Get().Lines(), created);
        pictortest::LogCapture::Get().Clear();
    }
    const std::vector<std::string> destroyed{"TWinApiWindow::~TWinApiWindow", "TWinApiWindow::~TWinApiWindow exit"};
    EXPECT_EQ(pictortest::LogCapture::Get().Lines(), destroyed);
    EXPECT_FALSE(IsWindow(hwnd));
}

TEST_F(WindowTest, OneSetValueOfAPairIsEnoughToUseBothAsStored)
{
    const TWinApiBounds cases[] = {{N, N, N, N}, {15, N, N, 40}, {N, 25, 30, N}};
    const int D = CW_USEDEFAULT;
    const TWinApiBounds want[] = {{D, D, D, D}, {15, N, N, 40}, {N, 25, 30, N}};
    for (int i = 0; i < 3; ++i) {
        TTestWindow window(cases[i]);
        TWinApiCreateParams p{};
        window.FillCreateParams(p);
        EXPECT_EQ(p.x, want[i].x) << i;
        EXPECT_EQ(p.y, want[i].y) << i;
        EXPECT_EQ(p.width, want[i].width) << i;
        EXPECT_EQ(p.height, want[i].height) << i;
        EXPECT_EQ(p.style, 0x02CF0000u);
    }
}

TEST_F(WindowTest, ClassIsReusedUnchangedAndUnregisteredWithTheLastWindowMadeFromIt)
{
    ASSERT_FALSE(ClassRegistered(kTestClass));
    auto first = std::make_unique<TTestWindow>(TWinApiBounds{0, 0, 50, 50});
    ASSERT_NE(first->CreateHandle(), nullptr);
    {
        TTestWindow second({0, 0, 50, 50});
        second.classStyle = CS_NOCLOSE;  // ignored: the class exists already
        ASSERT_NE(second.CreateHandle(), nullptr);
        EXPECT_EQ(GetClassLongW(second.GetHandle(), GCL_STYLE), 0x2Bu);
    }
    EXPECT_TRUE(ClassRegistered(kTestClass)) << "the first window still uses it";
    first.reset();
    EXPECT_FALSE(ClassRegistered(kTestClass));
}

TEST_F(WindowTest, FailedCreationReturnsNullAndLeavesNoClassBehind)
{
    TTestWindow orphan({0, 0, 50, 50}, reinterpret_cast<HWND>(static_cast<INT_PTR>(0x7FFF1234)));
    EXPECT_EQ(orphan.CreateHandle(), nullptr);
    EXPECT_FALSE(ClassRegistered(kTestClass));
    const auto lines = pictortest::LogCapture::Get().Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "TWinApiWindow::CreateHandle exit " + PointerText(nullptr));
}

TEST_F(WindowTest, PreviewWindowsComeAndGoOnSeveralThreadsAtOnce)
{
    // Each thread's last window unregisters the class while the other may be creating
    // one from it; no creation may fail on that account.
    std::atomic<int> failures{0};
    auto work = [&failures] {
        for (int i = 0; i < 50; ++i) {
            TPictorD3D9PreviewWindow window;
            if (window.GetHandle() == nullptr)
                ++failures;
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_FALSE(ClassRegistered(L"myd3d9previewwindow"));
}

TEST_F(WindowTest, WindowOfAnotherThreadOutlivesItsObjectOnTheDefaultProcedure)
{
    // Only the creating thread can destroy a window; an object destroyed elsewhere must
    // leave a window that no longer calls into it.
    struct TOtherThreadWindow : TWinApiWindow {
        TOtherThreadWindow() : TWinApiWindow(GetModuleHandleW(nullptr), L"pictorotherthread", L"") {}
    };
    TOtherThreadWindow* window = nullptr;
    std::atomic<bool> created{false}, finish{false};
    std::thread owner([&] {
        window = new TOtherThreadWindow();
        window->CreateHandle();
        created = true;
        while (!finish)
            Sleep(1);
    });
    while (!created)
        Sleep(1);
    HWND hwnd = window->GetHandle();
    ASSERT_NE(hwnd, nullptr);
    pictortest::LogCapture::Get().Clear();
    delete window;

    EXPECT_TRUE(IsWindow(hwnd));
    EXPECT_EQ(GetWindowLongPtrW(hwnd, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&DefWindowProcW));
    EXPECT_EQ(GetPropW(hwnd, kProperty), nullptr);
    EXPECT_TRUE(ClassRegistered(L"pictorotherthread")) << "a window of the class still exists";
    const auto lines = pictortest::LogCapture::Get().Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "TWinApiWindow::~TWinApiWindow DestroyWindow error 5");  // ERROR_ACCESS_DENIED
    finish = true;
    owner.join();
}

TEST_F(WindowTest, ClassOfAnotherLiveModuleIsReusedAndLeftRegistered)
{
    WNDCLASSEXW foreign{sizeof(foreign), CS_DBLCLKS, &ForeignProc};
    foreign.hInstance = GetModuleHandleW(nullptr);
    foreign.lpszClassName = kTestClass;
    ASSERT_NE(RegisterClassExW(&foreign), 0);
    {
        TTestWindow window({0, 0, 40, 40});
        ASSERT_NE(window.CreateHandle(), nullptr);
        EXPECT_EQ(GetClassLongW(window.GetHandle(), GCL_STYLE), static_cast<DWORD>(CS_DBLCLKS));
    }
    EXPECT_TRUE(UnregisterClassW(kTestClass, GetModuleHandleW(nullptr)));
}

TEST_F(WindowTest, ClassWhoseProcedureIsGoneIsRegisteredAgainBeforeAnyWindowUsesIt)
{
    // What a copy of the library that is no longer loaded would leave: a procedure address
    // in memory given back to the system. Calling it would crash.
    void* page = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
    ASSERT_TRUE(page != nullptr && VirtualFree(page, 0, MEM_RELEASE));
    WNDCLASSEXW stale{sizeof(stale), 0, reinterpret_cast<WNDPROC>(page)};
    stale.hInstance = GetModuleHandleW(nullptr);
    stale.lpszClassName = L"myd3d9previewwindow";
    ASSERT_NE(RegisterClassExW(&stale), 0);
    pictortest::LogCapture::Get().Clear();
    {
        TPictorD3D9PreviewWindow window;
        ASSERT_NE(window.GetHandle(), nullptr);
        EXPECT_EQ(GetPropW(window.GetHandle(), kProperty), static_cast<TWinApiWindow*>(&window));
        const auto lines = pictortest::LogCapture::Get().Lines();
        ASSERT_GE(lines.size(), 4u);
        EXPECT_EQ(lines[3], "AcquireWindowClass class myd3d9previewwindow has a window procedure " +
                                PointerText(page) + " outside every loaded module; registering it again");
    }
    EXPECT_FALSE(ClassRegistered(L"myd3d9previewwindow"));
}

TEST_F(WindowTest, MessagesReachTheObjectFromCreateOnUntilDestructionBegins)
{
    std::vector<UINT> passedOn;
    g_passedOn = &passedOn;
    auto window = std::make_unique<TTestWindow>(TWinApiBounds{10, 10, 60, 60});
    window->SetDefaultProc(&RecordingDefaultProc);
    HWND hwnd = window->CreateHandle();
    ASSERT_NE(hwnd, nullptr);
    // Nothing before WM_CREATE (WM_GETMINMAXINFO, WM_NCCREATE, WM_NCCALCSIZE) is routed.
    ASSERT_FALSE(window->routed.empty());
    EXPECT_EQ(window->routed.front(), static_cast<UINT>(WM_CREATE));

    // Unconsumed messages go to defaultProc, whose result comes back.
    passedOn.clear();
    EXPECT_EQ(SendMessageW(hwnd, WM_APP, 0, 0), 1234);
    EXPECT_EQ(passedOn, std::vector<UINT>{WM_APP});
    // WM_ERASEBKGND and the parent-resized notice are consumed and return 0.
    HDC dc = GetDC(hwnd);
    EXPECT_EQ(SendMessageW(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), 0);
    ReleaseDC(hwnd, dc);
    EXPECT_EQ(SendMessageW(hwnd, WM_PICTOR_PARENT_RESIZED, 0, MAKELPARAM(100, 100)), 0);
    EXPECT_EQ(passedOn, std::vector<UINT>{WM_APP});
    // WM_SIZE does its work and is passed on.
    window->SetSize(80, 70);
    EXPECT_NE(std::find(passedOn.begin(), passedOn.end(), static_cast<UINT>(WM_SIZE)), passedOn.end());

    // The messages of DestroyWindow (WM_DESTROY, WM_NCDESTROY ...) never reach the object.
    passedOn.clear();
    window.reset();
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_TRUE(passedOn.empty()) << passedOn.front();
}

TEST_F(WindowTest, EraseBackgroundFillsExactlyTheClientAreaInTheBackgroundColour)
{
    TTestWindow window({0, 0, 120, 90});
    window.SetBackgroundColor(RGB(10, 200, 30));
    ASSERT_NE(window.CreateHandle(), nullptr);
    const SIZE c = window.GetClientSize();
    const int w = c.cx + 8, h = c.cy + 8;
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(bitmap, nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    auto* px = static_cast<uint32_t*>(bits);
    std::fill(px, px + w * h, 0x00ABCDEFu);

    EXPECT_EQ(SendMessageW(window.GetHandle(), WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), 0);
    GdiFlush();
    EXPECT_EQ(px[0], 0x000AC81Eu);
    EXPECT_EQ(px[(c.cy - 1) * w + c.cx - 1], 0x000AC81Eu);
    EXPECT_EQ(px[c.cx], 0x00ABCDEFu) << "right of the client area";
    EXPECT_EQ(px[c.cy * w], 0x00ABCDEFu) << "below the client area";
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

// A 400 x 300 parent with a 100 x 50 child at (30, 40) in its client area.
class ChildLayoutTest : public WindowTest {
protected:
    void SetUp() override
    {
        parent = std::make_unique<TTestWindow>(TWinApiBounds{20, 20, 400, 300});
        ASSERT_NE(parent->CreateHandle(), nullptr);
        client = parent->GetClientSize();
        child = std::make_unique<TTestWindow>(TWinApiBounds{30, 40, 100, 50}, parent->GetHandle());
        ASSERT_NE(child->CreateHandle(), nullptr);
    }
    void TearDown() override
    {
        child.reset();
        parent.reset();
    }
    void ExpectChild(int x, int y, int width, int height)
    {
        const POINT p = child->GetPosition();
        const SIZE s = child->GetWindowSize();
        EXPECT_EQ(p.x, x);
        EXPECT_EQ(p.y, y);
        EXPECT_EQ(s.cx, width);
        EXPECT_EQ(s.cy, height);
    }

    std::unique_ptr<TTestWindow> parent, child;
    SIZE client{};
};

TEST_F(ChildLayoutTest, MarginsAreMeasuredAtCreationAndBySetSizeAndSetPositionButNotBySetBounds)
{
    RECT m = child->Margins();
    EXPECT_EQ(m.left, 30);
    EXPECT_EQ(m.top, 40);
    EXPECT_EQ(m.right, client.cx - 130);
    EXPECT_EQ(m.bottom, client.cy - 90);

    child->SetPosition(10, 12);
    child->SetSize(60, 20);
    m = child->Margins();
    EXPECT_EQ(m.left, 10);
    EXPECT_EQ(m.top, 12);
    EXPECT_EQ(m.right, client.cx - 70);
    EXPECT_EQ(m.bottom, client.cy - 32);

    child->SetBounds(POINT{5, 6}, SIZE{70, 30});
    ExpectChild(5, 6, 70, 30);
    EXPECT_EQ(child->Margins().left, 10);
    EXPECT_EQ(child->Margins().right, client.cx - 70);
}

TEST_F(ChildLayoutTest, OnlyDirectChildrenAreToldTheOldAndNewClientSizes)
{
    TTestWindow grandchild({0, 0, 10, 10}, child->GetHandle());
    ASSERT_NE(grandchild.CreateHandle(), nullptr);
    child->notices.clear();
    parent->SetSize(450, 320);
    const SIZE now = parent->GetClientSize();
    ASSERT_EQ(child->notices.size(), 1u);
    EXPECT_EQ(child->notices[0].first, static_cast<WPARAM>((client.cy << 16) | client.cx));
    EXPECT_EQ(child->notices[0].second, static_cast<LPARAM>((now.cy << 16) | now.cx));
    EXPECT_TRUE(grandchild.notices.empty());
    EXPECT_EQ(parent->GetCachedClientSize().cx, now.cx);
}

TEST_F(ChildLayoutTest, AnchorsMoveOrStretchTheChildWithTheParentEdges)
{
    child->SetAnchors(AnchorRight);  // follows the right edge, keeps its width
    parent->SetSize(450, 300);
    ExpectChild(80, 40, 100, 50);

    child->SetAnchors(AnchorLeft | AnchorRight);  // keeps the left edge, stretches
    parent->SetSize(500, 300);
    ExpectChild(80, 40, 150, 50);

    child->SetAnchors(AnchorTop | AnchorBottom);
    parent->SetSize(500, 340);
    ExpectChild(80, 40, 150, 90);

    child->SetAnchors(0);
    parent->SetSize(300, 200);
    ExpectChild(80, 40, 150, 90);
}

TEST_F(ChildLayoutTest, ParentResizedNoticeTakesSixteenBitHalvesOfTheLowWordPair)
{
    child->SetAnchors(AnchorLeft | AnchorRight | AnchorTop | AnchorBottom);
    const LPARAM packed = static_cast<LPARAM>((static_cast<ULONG_PTR>(0xFFFF) << 32) | (300u << 16) | 500u);
    EXPECT_EQ(SendMessageW(child->GetHandle(), WM_PICTOR_PARENT_RESIZED, 0, packed), 0);
    ExpectChild(30, 40, 500 - (client.cx - 130) - 30, 300 - (client.cy - 90) - 40);
}

TEST_F(WindowTest, ToolTipIsMadeOnlyForATextAndDestroyedWithTheWindow)
{
    HWND tip = nullptr;
    {
        TTestWindow window({0, 0, 120, 80}, nullptr, L"Keyed preview");
        HWND hwnd = window.CreateHandle();
        ASSERT_NE(hwnd, nullptr);
        tip = window.GetToolTipHandle();
        ASSERT_NE(tip, nullptr);
        EXPECT_EQ(GetWindow(tip, GW_OWNER), hwnd);
        EXPECT_EQ(GetWindowLongW(tip, GWL_EXSTYLE) & WS_EX_TOPMOST, WS_EX_TOPMOST);
        wchar_t text[64] = {};
        TOOLINFOW tool{TTTOOLINFOW_V2_SIZE};
        tool.hwnd = hwnd;
        tool.lpszText = text;
        ASSERT_TRUE(SendMessageW(tip, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool)));
        EXPECT_EQ(tool.uFlags & TTF_SUBCLASS, static_cast<UINT>(TTF_SUBCLASS));
        EXPECT_STREQ(text, L"Keyed preview");
    }
    EXPECT_FALSE(IsWindow(tip));

    TTestWindow plain({0, 0, 60, 60});
    ASSERT_NE(plain.CreateHandle(), nullptr);
    EXPECT_EQ(plain.GetToolTipHandle(), nullptr);
}

}  // namespace
