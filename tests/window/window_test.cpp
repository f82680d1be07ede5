// The window wrapper and the hidden preview window, under Wine with a display.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/LogCapture.h"
#include "window/PictorD3D9PreviewWindow.h"
#include "window/WinApiWindow.h"

namespace {

constexpr wchar_t kInstanceProperty[] = L"PointerToClassInstance";
constexpr wchar_t kTestClass[] = L"pictortestwindow";
constexpr wchar_t kChildClass[] = L"pictortestchild";

HINSTANCE Exe()
{
    return GetModuleHandleW(nullptr);
}

bool ClassRegistered(const wchar_t* name, WNDCLASSEXW* info = nullptr)
{
    WNDCLASSEXW local{};
    local.cbSize = sizeof(local);
    WNDCLASSEXW* out = info ? info : &local;
    out->cbSize = sizeof(*out);
    return GetClassInfoExW(Exe(), name, out) != 0;
}

std::string PointerText(const void* p)
{
    // The library formats with the Windows C runtime; so does this.
    char text[32];
    _snprintf(text, sizeof(text), "%p", p);
    return text;
}

// Messages that reach the object's WindowProc, and those that the wrapper passes on to
// its defaultProc (everything it does not consume).
struct TMessageLog {
    std::vector<UINT> routed;
    std::vector<UINT> passedOn;
    std::vector<std::pair<WPARAM, LPARAM>> parentResized;
};

TMessageLog* g_defaultProcLog = nullptr;

LRESULT CALLBACK RecordingDefaultProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (g_defaultProcLog != nullptr)
        g_defaultProcLog->passedOn.push_back(message);
    if (message == WM_APP)
        return 1234;
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK ForeignProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// A top-level or child window whose creation arguments the test chooses and whose
// members it can read.
class TTestWindow : public TWinApiWindow {
public:
    TTestWindow(const wchar_t* name, TMessageLog* log, HWND parent = nullptr, const wchar_t* toolTip = L"",
                TWinApiBounds bounds = {WinApiBoundNotSet, WinApiBoundNotSet, WinApiBoundNotSet, WinApiBoundNotSet})
        : TWinApiWindow(Exe(), name, toolTip), log(log), parent(parent)
    {
        initialBounds = bounds;
    }
    ~TTestWindow() override = default;

    void FillCreateParams(TWinApiCreateParams& params) override
    {
        TWinApiWindow::FillCreateParams(params);
        if (parent != nullptr) {
            params.style = WS_CHILD | WS_VISIBLE;
            params.parent = parent;
        }
        if (classStyleOverride != 0)
            params.wndClass.style = classStyleOverride;
    }

    LRESULT WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (log != nullptr) {
            log->routed.push_back(message);
            if (message == WM_PICTOR_PARENT_RESIZED)
                log->parentResized.emplace_back(wParam, lParam);
        }
        return TWinApiWindow::WindowProc(hwnd, message, wParam, lParam);
    }

    const TWinApiCreateParams& Params() const { return createParams; }
    const TWinApiBounds& Bounds() const { return initialBounds; }
    int MarginRight() const { return marginRight; }
    int MarginBottom() const { return marginBottom; }
    int MarginLeft() const { return marginLeft; }
    int MarginTop() const { return marginTop; }

    UINT classStyleOverride = 0;

private:
    TMessageLog* log;
    HWND parent;
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        pictortest::LogCapture::Get().SetLevel(2);
        pictortest::LogCapture::Get().Clear();
    }
    void TearDown() override
    {
        g_defaultProcLog = nullptr;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
};

// ---------------------------------------------------------------------------------------
// The hidden preview window

TEST_F(WindowTest, PreviewWindowIsHidden100x100AtOriginWithoutParent)
{
    TPictorD3D9PreviewWindow window;
    HWND hwnd = window.GetHandle();
    ASSERT_NE(hwnd, nullptr);

    EXPECT_FALSE(window.IsVisible());
    EXPECT_FALSE(IsWindowVisible(hwnd));
    EXPECT_EQ(GetParent(hwnd), nullptr);
    EXPECT_EQ(GetWindow(hwnd, GW_OWNER), nullptr);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)) & (WS_VISIBLE | WS_CHILD | WS_POPUP), 0u);
    RECT bounds{};
    ASSERT_TRUE(GetWindowRect(hwnd, &bounds));
    EXPECT_EQ(bounds.left, 0);
    EXPECT_EQ(bounds.top, 0);
    // An overlapped window is never made smaller than the minimum tracking size, on
    // Windows and Wine alike (Wine's minimum width is 112).
    EXPECT_EQ(bounds.right - bounds.left, std::max(100, GetSystemMetrics(SM_CXMINTRACK)));
    EXPECT_EQ(bounds.bottom - bounds.top, std::max(100, GetSystemMetrics(SM_CYMINTRACK)));
    const SIZE client = window.GetClientSize();
    EXPECT_EQ(window.GetCachedClientSize().cx, client.cx);
    EXPECT_EQ(window.GetCachedClientSize().cy, client.cy);
    EXPECT_EQ(GetPropW(hwnd, kInstanceProperty), static_cast<TWinApiWindow*>(&window));
}

TEST_F(WindowTest, PreviewWindowClassIsRegisteredUnderTheHostExecutable)
{
    TPictorD3D9PreviewWindow window;
    ASSERT_NE(window.GetHandle(), nullptr);

    WNDCLASSEXW info{};
    ASSERT_TRUE(ClassRegistered(PictorPreviewWindowClassName, &info));
    EXPECT_EQ(info.style, 0x2Bu);
    EXPECT_EQ(info.lpfnWndProc, &TWinApiWindow::TWindowProc);
    EXPECT_EQ(info.cbClsExtra, 0);
    EXPECT_EQ(info.cbWndExtra, 8);
    EXPECT_EQ(info.hInstance, Exe());
    EXPECT_EQ(info.hbrBackground, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(6)));
    EXPECT_EQ(info.hCursor, LoadCursorW(nullptr, IDC_ARROW));
    EXPECT_EQ(info.hIcon, nullptr);
    EXPECT_EQ(GetClassLongPtrW(window.GetHandle(), GCLP_HMODULE), reinterpret_cast<ULONG_PTR>(Exe()));
}

TEST_F(WindowTest, ConstructionAndDestructionWriteExactLogLines)
{
    HWND hwnd = nullptr;
    {
        TPictorD3D9PreviewWindow window;
        hwnd = window.GetHandle();
        ASSERT_NE(hwnd, nullptr);
        const std::vector<std::string> expected{
            "TWinApiWindow::TWinApiWindow",
            "TWinApiWindow::TWinApiWindow exit",
            "TWinApiWindow::CreateHandle",
            "TWinApiWindow::CreateHandle exit " + PointerText(hwnd),
        };
        EXPECT_EQ(pictortest::LogCapture::Get().Lines(), expected);
        pictortest::LogCapture::Get().Clear();
    }
    const std::vector<std::string> expected{"TWinApiWindow::~TWinApiWindow", "TWinApiWindow::~TWinApiWindow exit"};
    EXPECT_EQ(pictortest::LogCapture::Get().Lines(), expected);
    EXPECT_FALSE(IsWindow(hwnd));
}

// ---------------------------------------------------------------------------------------
// Creation arguments

TEST_F(WindowTest, UnsetBoundsFallBackToTheSystemOnlyWhenBothOfAPairAreUnset)
{
    struct Case {
        TWinApiBounds bounds;
        int x, y, width, height;
    };
    const int N = WinApiBoundNotSet;
    const Case cases[] = {
        {{N, N, N, N}, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT},
        {{15, N, N, 40}, 15, N, N, 40},
        {{N, 25, 30, N}, N, 25, 30, N},
        {{1, 2, 3, 4}, 1, 2, 3, 4},
    };
    for (const Case& c : cases) {
        TTestWindow window(kTestClass, nullptr, nullptr, L"", c.bounds);
        TWinApiCreateParams params{};
        window.FillCreateParams(params);
        EXPECT_EQ(params.x, c.x);
        EXPECT_EQ(params.y, c.y);
        EXPECT_EQ(params.width, c.width);
        EXPECT_EQ(params.height, c.height);
        EXPECT_EQ(params.style, 0x02CF0000u);
        EXPECT_EQ(params.exStyle, 0u);
        EXPECT_EQ(params.parent, nullptr);
        EXPECT_EQ(params.menu, nullptr);
        EXPECT_TRUE(params.windowName.empty());
        EXPECT_EQ(window.GetHandle(), nullptr) << "construction alone creates no window";
    }
}

TEST_F(WindowTest, PreviewWindowOverridesStylesAndKeepsTheBaseClassFields)
{
    TPictorD3D9PreviewWindow window;
    TWinApiCreateParams params{};
    window.FillCreateParams(params);
    EXPECT_EQ(params.style, 0u);
    EXPECT_EQ(params.exStyle, 0u);
    EXPECT_EQ(params.parent, nullptr);
    EXPECT_EQ(params.x, 0);
    EXPECT_EQ(params.y, 0);
    EXPECT_EQ(params.width, 100);
    EXPECT_EQ(params.height, 100);
    EXPECT_EQ(params.wndClass.style, 0x2Bu);
    EXPECT_EQ(params.wndClass.lpfnWndProc, &TWinApiWindow::TWindowProc);
    EXPECT_STREQ(params.wndClass.lpszClassName, L"myd3d9previewwindow");
}

// ---------------------------------------------------------------------------------------
// Class registration, reuse and release

TEST_F(WindowTest, SecondWindowReusesTheClassAndItsOwnClassFieldsAreIgnored)
{
    ASSERT_FALSE(ClassRegistered(kTestClass));
    TTestWindow first(kTestClass, nullptr, nullptr, L"", {0, 0, 50, 50});
    ASSERT_NE(first.CreateHandle(), nullptr);

    TTestWindow second(kTestClass, nullptr, nullptr, L"", {0, 0, 50, 50});
    second.classStyleOverride = CS_NOCLOSE;
    ASSERT_NE(second.CreateHandle(), nullptr);

    WNDCLASSEXW info{};
    ASSERT_TRUE(ClassRegistered(kTestClass, &info));
    EXPECT_EQ(info.style, 0x2Bu);
    EXPECT_EQ(GetClassLongW(second.GetHandle(), GCL_STYLE), 0x2Bu);
    EXPECT_EQ(GetPropW(second.GetHandle(), kInstanceProperty), static_cast<TWinApiWindow*>(&second));
}

TEST_F(WindowTest, ClassIsUnregisteredWithTheLastWindowMadeFromIt)
{
    {
        TPictorD3D9PreviewWindow first;
        {
            TPictorD3D9PreviewWindow second;
            ASSERT_NE(second.GetHandle(), nullptr);
        }
        EXPECT_TRUE(ClassRegistered(PictorPreviewWindowClassName)) << "the first window still uses it";
        EXPECT_NE(first.GetHandle(), nullptr);
    }
    EXPECT_FALSE(ClassRegistered(PictorPreviewWindowClassName));

    // And it comes back for the next window.
    TPictorD3D9PreviewWindow again;
    EXPECT_NE(again.GetHandle(), nullptr);
    EXPECT_TRUE(ClassRegistered(PictorPreviewWindowClassName));
}

TEST_F(WindowTest, ClassOfAnotherLiveModuleIsReusedAndLeftRegistered)
{
    WNDCLASSEXW foreign{};
    foreign.cbSize = sizeof(foreign);
    foreign.lpfnWndProc = &ForeignProc;  // lives in this executable, which stays loaded
    foreign.hInstance = Exe();
    foreign.lpszClassName = kTestClass;
    foreign.style = CS_DBLCLKS;
    ASSERT_NE(RegisterClassExW(&foreign), 0);
    {
        TTestWindow window(kTestClass, nullptr, nullptr, L"", {0, 0, 40, 40});
        HWND hwnd = window.CreateHandle();
        ASSERT_NE(hwnd, nullptr);
        EXPECT_EQ(GetClassLongW(hwnd, GCL_STYLE), CS_DBLCLKS);
        // Its messages go to the other module's procedure, never through our property.
        EXPECT_EQ(GetPropW(hwnd, kInstanceProperty), nullptr);
    }
    EXPECT_TRUE(ClassRegistered(kTestClass)) << "a class this library did not register is not unregistered";
    EXPECT_TRUE(UnregisterClassW(kTestClass, Exe()));
}

TEST_F(WindowTest, ClassWhoseProcedureIsGoneIsRegisteredAgainBeforeAnyWindowUsesIt)
{
    // A class left by a copy of the library that is no longer loaded: its procedure is
    // an address in memory that has been given back. Calling it would crash.
    void* page = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(VirtualFree(page, 0, MEM_RELEASE));
    WNDCLASSEXW stale{};
    stale.cbSize = sizeof(stale);
    stale.lpfnWndProc = reinterpret_cast<WNDPROC>(page);
    stale.hInstance = Exe();
    stale.lpszClassName = PictorPreviewWindowClassName;
    ASSERT_NE(RegisterClassExW(&stale), 0);
    pictortest::LogCapture::Get().Clear();

    {
        TPictorD3D9PreviewWindow window;
        ASSERT_NE(window.GetHandle(), nullptr);
        WNDCLASSEXW info{};
        ASSERT_TRUE(ClassRegistered(PictorPreviewWindowClassName, &info));
        EXPECT_EQ(info.lpfnWndProc, &TWinApiWindow::TWindowProc);
        EXPECT_EQ(GetPropW(window.GetHandle(), kInstanceProperty), static_cast<TWinApiWindow*>(&window));

        const std::string expected = "AcquireWindowClass class myd3d9previewwindow has a window procedure " +
                                     PointerText(page) + " outside every loaded module; registering it again";
        const auto lines = pictortest::LogCapture::Get().Lines();
        ASSERT_GE(lines.size(), 4u);
        EXPECT_EQ(lines[3], expected);
    }
    EXPECT_FALSE(ClassRegistered(PictorPreviewWindowClassName));
}

// ---------------------------------------------------------------------------------------
// Message routing

TEST_F(WindowTest, MessagesFromCreateOnReachTheObjectAndNoneBefore)
{
    TMessageLog log;
    TTestWindow window(kTestClass, &log, nullptr, L"", {10, 10, 60, 60});
    HWND hwnd = window.CreateHandle();
    ASSERT_NE(hwnd, nullptr);
    ASSERT_FALSE(log.routed.empty());
    EXPECT_EQ(log.routed.front(), static_cast<UINT>(WM_CREATE));
    for (UINT m : log.routed) {
        EXPECT_NE(m, static_cast<UINT>(WM_NCCREATE));
        EXPECT_NE(m, static_cast<UINT>(WM_GETMINMAXINFO));
    }
    EXPECT_EQ(GetPropW(hwnd, kInstanceProperty), static_cast<TWinApiWindow*>(&window));

    log.routed.clear();
    EXPECT_EQ(SendMessageW(hwnd, WM_APP + 7, 1, 2), 0);
    ASSERT_EQ(log.routed.size(), 1u);
    EXPECT_EQ(log.routed[0], static_cast<UINT>(WM_APP + 7));
}

TEST_F(WindowTest, UnconsumedMessagesGoToDefaultProcAndItsResultIsReturned)
{
    TMessageLog log;
    g_defaultProcLog = &log;
    TTestWindow window(kTestClass, nullptr, nullptr, L"", {10, 10, 60, 60});
    window.SetDefaultProc(&RecordingDefaultProc);
    HWND hwnd = window.CreateHandle();
    ASSERT_NE(hwnd, nullptr);

    log.passedOn.clear();
    EXPECT_EQ(SendMessageW(hwnd, WM_APP, 0, 0), 1234);
    EXPECT_EQ(log.passedOn, std::vector<UINT>{WM_APP});

    // Consumed: never passed on.
    log.passedOn.clear();
    HDC dc = GetDC(hwnd);
    EXPECT_EQ(SendMessageW(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), 0);
    ReleaseDC(hwnd, dc);
    EXPECT_EQ(SendMessageW(hwnd, WM_PICTOR_PARENT_RESIZED, 0, MAKELPARAM(100, 100)), 0);
    EXPECT_TRUE(log.passedOn.empty());

    // WM_SIZE does its own work and is then passed on.
    window.SetSize(80, 70);
    EXPECT_NE(std::find(log.passedOn.begin(), log.passedOn.end(), static_cast<UINT>(WM_SIZE)), log.passedOn.end());
}

TEST_F(WindowTest, MessagesSentWhileTheWindowIsDestroyedNeverReachTheObject)
{
    TMessageLog log;
    g_defaultProcLog = &log;
    HWND hwnd = nullptr;
    {
        TTestWindow window(kTestClass, nullptr, nullptr, L"", {10, 10, 60, 60});
        window.SetDefaultProc(&RecordingDefaultProc);
        hwnd = window.CreateHandle();
        ASSERT_NE(hwnd, nullptr);
        log.passedOn.clear();
    }
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_TRUE(log.passedOn.empty()) << "first message after removal: " << log.passedOn.front();
}

// ---------------------------------------------------------------------------------------
// Background

TEST_F(WindowTest, EraseBackgroundFillsTheClientAreaAndIsConsumed)
{
    // Covers a colour differing from the class brush and the class brush's own colour.
    for (COLORREF colour : {RGB(10, 200, 30), GetSysColor(COLOR_WINDOW)}) {
        TTestWindow window(kTestClass, nullptr, nullptr, L"", {0, 0, 120, 90});
        window.SetBackgroundColor(colour);
        HWND hwnd = window.CreateHandle();
        ASSERT_NE(hwnd, nullptr);
        const SIZE client = window.GetClientSize();
        ASSERT_GT(client.cx, 2);
        ASSERT_GT(client.cy, 2);

        // A memory bitmap larger than the client area, pre-filled with a marker colour.
        const int w = client.cx + 8, h = client.cy + 8;
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        HDC dc = CreateCompatibleDC(nullptr);
        HBITMAP bitmap = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        ASSERT_NE(bitmap, nullptr);
        HGDIOBJ old = SelectObject(dc, bitmap);
        auto* px = static_cast<uint32_t*>(bits);
        for (int i = 0; i < w * h; ++i)
            px[i] = 0x00ABCDEF;

        EXPECT_EQ(SendMessageW(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), 0);
        GdiFlush();
        const uint32_t want = (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
        EXPECT_EQ(px[0] & 0xFFFFFF, want);
        EXPECT_EQ(px[(client.cy - 1) * w + client.cx - 1] & 0xFFFFFF, want);
        EXPECT_EQ(px[client.cx] & 0xFFFFFF, 0x00ABCDEFu) << "right of the client area";
        EXPECT_EQ(px[client.cy * w] & 0xFFFFFF, 0x00ABCDEFu) << "below the client area";

        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
}

// ---------------------------------------------------------------------------------------
// Children: parent-resized notices and anchors

class ChildLayoutTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        parent = std::make_unique<TTestWindow>(kTestClass, &parentLog, nullptr, L"",
                                               TWinApiBounds{20, 20, 400, 300});
        ASSERT_NE(parent->CreateHandle(), nullptr);
        parentClient = parent->GetClientSize();
    }
    void TearDown() override
    {
        grandchild.reset();
        child.reset();
        parent.reset();
        WindowTest::TearDown();
    }
    void MakeChild(BYTE anchors)
    {
        child = std::make_unique<TTestWindow>(kChildClass, &childLog, parent->GetHandle(), L"",
                                              TWinApiBounds{30, 40, 100, 50});
        ASSERT_NE(child->CreateHandle(), nullptr);
        child->SetAnchors(anchors);
    }

    TMessageLog parentLog, childLog, grandchildLog;
    std::unique_ptr<TTestWindow> parent, child, grandchild;
    SIZE parentClient{};
};

TEST_F(ChildLayoutTest, ChildMarginsAreMeasuredAgainstTheParentClientArea)
{
    MakeChild(0);
    EXPECT_EQ(child->MarginLeft(), 30);
    EXPECT_EQ(child->MarginTop(), 40);
    EXPECT_EQ(child->MarginRight(), parentClient.cx - 100 - 30);
    EXPECT_EQ(child->MarginBottom(), parentClient.cy - 50 - 40);
    const POINT p = child->GetPosition();
    EXPECT_EQ(p.x, 30);
    EXPECT_EQ(p.y, 40);
    const POINT s = child->GetScreenPosition();
    POINT origin{0, 0};
    ClientToScreen(parent->GetHandle(), &origin);
    EXPECT_EQ(s.x, origin.x + 30);
    EXPECT_EQ(s.y, origin.y + 40);

    child->SetPosition(10, 12);
    EXPECT_EQ(child->MarginLeft(), 10);
    EXPECT_EQ(child->MarginRight(), parentClient.cx - 100 - 10);
    child->SetSize(60, 20);
    EXPECT_EQ(child->MarginRight(), parentClient.cx - 60 - 10);
    EXPECT_EQ(child->MarginBottom(), parentClient.cy - 20 - 12);
    EXPECT_EQ(child->GetCachedClientSize().cx, 60);
    EXPECT_EQ(child->GetCachedClientSize().cy, 20);
}

TEST_F(ChildLayoutTest, SetBoundsMovesAndSizesButKeepsTheMeasuredMargins)
{
    MakeChild(0);
    const int left = child->MarginLeft(), top = child->MarginTop();
    const int right = child->MarginRight(), bottom = child->MarginBottom();
    child->SetBounds(POINT{5, 6}, SIZE{70, 30});
    EXPECT_EQ(child->GetPosition().x, 5);
    EXPECT_EQ(child->GetPosition().y, 6);
    EXPECT_EQ(child->GetWindowSize().cx, 70);
    EXPECT_EQ(child->GetWindowSize().cy, 30);
    EXPECT_EQ(child->MarginLeft(), left);
    EXPECT_EQ(child->MarginTop(), top);
    EXPECT_EQ(child->MarginRight(), right);
    EXPECT_EQ(child->MarginBottom(), bottom);
}

TEST_F(ChildLayoutTest, DirectChildrenOnlyAreToldOldAndNewParentSizes)
{
    MakeChild(0);
    grandchild = std::make_unique<TTestWindow>(kChildClass, &grandchildLog, child->GetHandle(), L"",
                                               TWinApiBounds{0, 0, 10, 10});
    ASSERT_NE(grandchild->CreateHandle(), nullptr);
    childLog.parentResized.clear();

    parent->SetSize(450, 320);
    const SIZE now = parent->GetClientSize();
    ASSERT_EQ(childLog.parentResized.size(), 1u);
    EXPECT_EQ(childLog.parentResized[0].first,
              static_cast<WPARAM>((parentClient.cy << 16) | parentClient.cx));
    EXPECT_EQ(childLog.parentResized[0].second, static_cast<LPARAM>((now.cy << 16) | now.cx));
    EXPECT_TRUE(grandchildLog.parentResized.empty()) << "a deeper descendant gets no notice from the parent";
    EXPECT_EQ(parent->GetCachedClientSize().cx, now.cx);
    EXPECT_EQ(parent->GetCachedClientSize().cy, now.cy);
}

TEST_F(ChildLayoutTest, RightAnchorFollowsTheRightEdgeAndKeepsTheWidth)
{
    MakeChild(AnchorRight | AnchorTop);
    parent->SetSize(450, 300);
    const POINT p = child->GetPosition();
    const SIZE s = child->GetWindowSize();
    EXPECT_EQ(p.x, 30 + 50);
    EXPECT_EQ(p.y, 40);
    EXPECT_EQ(s.cx, 100);
    EXPECT_EQ(s.cy, 50);
}

TEST_F(ChildLayoutTest, LeftAndRightAnchorsStretchAndKeepTheLeftEdge)
{
    MakeChild(AnchorLeft | AnchorRight);
    parent->SetSize(450, 300);
    const POINT p = child->GetPosition();
    const SIZE s = child->GetWindowSize();
    EXPECT_EQ(p.x, 30);
    EXPECT_EQ(s.cx, 150);
    EXPECT_EQ(s.cy, 50);
}

TEST_F(ChildLayoutTest, BottomAnchorsWorkVerticallyAndNoAnchorsMeansNoMove)
{
    MakeChild(AnchorTop | AnchorBottom);
    parent->SetSize(400, 340);
    EXPECT_EQ(child->GetPosition().y, 40);
    EXPECT_EQ(child->GetWindowSize().cy, 90);

    child->SetAnchors(AnchorBottom);
    parent->SetSize(400, 300);
    // Margins were measured at creation; the window follows the bottom edge at that distance.
    EXPECT_EQ(child->GetPosition().y, parentClient.cy - child->MarginBottom() - 90);

    child->SetAnchors(0);
    const POINT before = child->GetPosition();
    parent->SetSize(300, 200);
    EXPECT_EQ(child->GetPosition().x, before.x);
    EXPECT_EQ(child->GetPosition().y, before.y);
}

TEST_F(ChildLayoutTest, ParentResizedNoticeUnpacksSixteenBitHalves)
{
    MakeChild(AnchorLeft | AnchorRight | AnchorTop | AnchorBottom);
    // Bits above 31 and the sign of the halves must not leak into the sizes.
    const LPARAM packed = static_cast<LPARAM>((static_cast<ULONG_PTR>(0xFFFF) << 32) | (300u << 16) | 500u);
    EXPECT_EQ(SendMessageW(child->GetHandle(), WM_PICTOR_PARENT_RESIZED, 0, packed), 0);
    EXPECT_EQ(child->GetWindowSize().cx, 500 - child->MarginRight() - 30);
    EXPECT_EQ(child->GetWindowSize().cy, 300 - child->MarginBottom() - 40);
}

// ---------------------------------------------------------------------------------------
// Size and position operations

TEST_F(WindowTest, ContainsPointCoversExactlyTheClientRectangle)
{
    TTestWindow window(kTestClass, nullptr, nullptr, L"", {0, 0, 200, 150});
    ASSERT_NE(window.CreateHandle(), nullptr);
    const SIZE c = window.GetClientSize();
    EXPECT_TRUE(window.ContainsPoint(0, 0));
    EXPECT_TRUE(window.ContainsPoint(c.cx - 1, c.cy - 1));
    EXPECT_FALSE(window.ContainsPoint(c.cx, 0));
    EXPECT_FALSE(window.ContainsPoint(0, c.cy));
    EXPECT_FALSE(window.ContainsPoint(-1, 0));
}

TEST_F(WindowTest, ShowAndHideChangeVisibility)
{
    TTestWindow window(kTestClass, nullptr, nullptr, L"", {0, 0, 80, 80});
    ASSERT_NE(window.CreateHandle(), nullptr);
    EXPECT_FALSE(window.IsVisible());
    window.Show(SW_SHOWNOACTIVATE);
    EXPECT_TRUE(window.IsVisible());
    window.Hide();
    EXPECT_FALSE(window.IsVisible());
}

// ---------------------------------------------------------------------------------------
// Tooltip

TEST_F(WindowTest, ToolTipIsMadeOnlyForATextAndDestroyedWithTheWindow)
{
    HWND tip = nullptr;
    {
        TTestWindow window(kTestClass, nullptr, nullptr, L"Keyed preview", {0, 0, 120, 80});
        HWND hwnd = window.CreateHandle();
        ASSERT_NE(hwnd, nullptr);
        tip = window.GetToolTipHandle();
        ASSERT_NE(tip, nullptr);
        wchar_t className[64] = {};
        GetClassNameW(tip, className, 64);
        EXPECT_STREQ(className, L"tooltips_class32");
        EXPECT_EQ(GetWindow(tip, GW_OWNER), hwnd);
        EXPECT_EQ(GetWindowLongW(tip, GWL_EXSTYLE) & WS_EX_TOPMOST, WS_EX_TOPMOST);
        EXPECT_EQ(SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0), 1);

        wchar_t text[64] = {};
        TOOLINFOW tool{};
        tool.cbSize = TTTOOLINFOW_V2_SIZE;
        tool.hwnd = hwnd;
        tool.uId = 0;
        tool.lpszText = text;
        ASSERT_TRUE(SendMessageW(tip, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool)));
        EXPECT_EQ(tool.uFlags & TTF_SUBCLASS, static_cast<UINT>(TTF_SUBCLASS));
        SendMessageW(tip, TTM_GETTEXTW, 64, reinterpret_cast<LPARAM>(&tool));
        EXPECT_STREQ(text, L"Keyed preview");
    }
    EXPECT_FALSE(IsWindow(tip));

    TTestWindow plain(kTestClass, nullptr, nullptr, L"", {0, 0, 60, 60});
    ASSERT_NE(plain.CreateHandle(), nullptr);
    EXPECT_EQ(plain.GetToolTipHandle(), nullptr);
}

}  // namespace
