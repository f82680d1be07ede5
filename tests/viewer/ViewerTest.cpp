// pictor-viewer.exe as a person's program: a process of its own on the session's screen,
// on the virtual cameras (the test-double mf.dll beside it, configured through the file
// that PICTOR_VIRTUALCAM_CONFIG names).
#include "common/Ownership_win.h"

#include <windows.h>
#include <objbase.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::wstring Here(const std::wstring& name)
{
  wchar_t path[MAX_PATH];
  std::wstring self(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
  return self.substr(0, self.rfind(L'\\') + 1) + name;
}

std::string ReadAll(const std::wstring& path)
{
  std::ifstream file(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

struct Rgb {
  int r, g, b;
};

struct Picture {
  unsigned width = 0, height = 0;
  std::vector<uint8_t> bgra;
  Rgb At(unsigned x, unsigned y) const
  {
    const uint8_t* p = &bgra[(size_t(y) * width + x) * 4];
    return {p[2], p[1], p[0]};
  }
};

bool Near(Rgb a, Rgb b, int tolerance)
{
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

Picture LoadPng(const std::wstring& path)
{
  using Microsoft::WRL::ComPtr;
  Picture picture;
  ComPtr<IWICImagingFactory> factory;
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  ComPtr<IWICFormatConverter> converter;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory))) ||
      FAILED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                                &decoder)) ||
      FAILED(decoder->GetFrame(0, &frame)) || FAILED(factory->CreateFormatConverter(&converter)) ||
      FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0,
                                   WICBitmapPaletteTypeCustom)) ||
      FAILED(converter->GetSize(&picture.width, &picture.height)))
    return Picture();
  picture.bgra.resize(size_t(picture.width) * picture.height * 4);
  if (FAILED(converter->CopyPixels(nullptr, picture.width * 4, UINT(picture.bgra.size()), picture.bgra.data())))
    return Picture();
  return picture;
}

// A 24-bit BMP, `top` above row `split`, `bottom` from there on: a background whose
// orientation shows.
void WriteBackground(const std::wstring& path, unsigned width, unsigned height, unsigned split, Rgb top, Rgb bottom)
{
  const unsigned stride = (width * 3 + 3) & ~3u;
  BITMAPFILEHEADER file = {};
  BITMAPINFOHEADER info = {};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof(file) + sizeof(info);
  file.bfSize = file.bfOffBits + stride * height;
  info.biSize = sizeof(info);
  info.biWidth = LONG(width);
  info.biHeight = LONG(height);  // bottom row first
  info.biPlanes = 1;
  info.biBitCount = 24;
  std::vector<uint8_t> pixels(size_t(stride) * height);
  for (unsigned row = 0; row < height; ++row) {
    const Rgb c = height - 1 - row < split ? top : bottom;
    for (unsigned x = 0; x < width; ++x) {
      uint8_t* p = &pixels[size_t(row) * stride + x * 3];
      p[0] = uint8_t(c.b), p[1] = uint8_t(c.g), p[2] = uint8_t(c.r);
    }
  }
  std::ofstream out(path.c_str(), std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof(file));
  out.write(reinterpret_cast<const char*>(&info), sizeof(info));
  out.write(reinterpret_cast<const char*>(pixels.data()), std::streamsize(pixels.size()));
}

// One run of the viewer with the cameras of `config` (empty: the double's default set).
class ViewerProcess {
 public:
  ViewerProcess(const std::wstring& arguments, const std::string& config)
  {
    const std::wstring configFile = Here(L"viewer-test-cameras.txt");
    if (!config.empty()) std::ofstream(configFile.c_str()) << config;
    SetEnvironmentVariableW(L"PICTOR_VIRTUALCAM_CONFIG", config.empty() ? nullptr : configFile.c_str());
    std::wstring command = L"\"" + Here(L"pictor-viewer.exe") + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
      process_.Reset(info.hProcess);
      id_ = info.dwProcessId;
      CloseHandle(info.hThread);
    }
    SetEnvironmentVariableW(L"PICTOR_VIRTUALCAM_CONFIG", nullptr);
  }
  ~ViewerProcess()
  {
    if (process_.Get() && WaitForSingleObject(process_.Get(), 0) != WAIT_OBJECT_0) TerminateProcess(process_.Get(), 9);
  }

  bool Started() const { return process_.Get() != nullptr; }
  // The exit code, or -1 when it is still running after the time.
  int Wait(DWORD milliseconds)
  {
    DWORD code = 0;
    if (WaitForSingleObject(process_.Get(), milliseconds) != WAIT_OBJECT_0) return -1;
    GetExitCodeProcess(process_.Get(), &code);
    return int(code);
  }
  HWND Window() const
  {
    std::pair<DWORD, HWND> search(id_, nullptr);
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
          auto* s = reinterpret_cast<std::pair<DWORD, HWND>*>(context);
          DWORD owner = 0;
          GetWindowThreadProcessId(window, &owner);
          if (owner != s->first || !IsWindowVisible(window) || GetParent(window)) return TRUE;
          s->second = window;
          return FALSE;
        },
        LPARAM(&search));
    return search.second;
  }

 private:
  TUniqueHandle process_;
  DWORD id_ = 0;
};

// Waits until the status log has a line starting with `prefix` after position *from;
// moves *from past it.
bool WaitForStatus(const std::wstring& log, const std::string& prefix, size_t* from, DWORD milliseconds)
{
  for (DWORD waited = 0; waited < milliseconds; waited += 100, Sleep(100)) {
    const std::string text = ReadAll(log);
    for (size_t at = *from; at < text.size();) {
      const size_t end = text.find('\n', at);
      if (end == std::string::npos) break;
      if (text.compare(at, prefix.size(), prefix) == 0) return *from = end + 1, true;
      at = end + 1;
    }
  }
  return false;
}

class ViewerTest : public ::testing::Test {
 protected:
  // Wine hands its windows to the X window manager and, hiding one, waits up to 2 s for
  // the manager to confirm; Xvfb has none. Unmanaged windows are hidden at once (and
  // framed by Wine itself), as they are on a desktop with a manager.
  static void SetUpTestSuite()
  {
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\X11 Driver", L"Managed", REG_SZ, L"N", 4);
  }
  static void TearDownTestSuite() { RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\X11 Driver", L"Managed"); }
  void SetUp() override { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
  void TearDown() override { CoUninitialize(); }
};

const Rgb kSky = {40, 90, 200}, kGrass = {220, 200, 40}, kDisc = {230, 90, 40};

// The green screen keyed over a picture, with each renderer (and the key colour green or
// sampled from the picture): the composite has the background, upright, where the screen
// was and the camera's disc in its place; the window capture shows that picture beside
// the panel; the status line has a rate.
TEST_F(ViewerTest, ShowsTheGreenScreenKeyedOverTheChosenPicture)
{
  const std::wstring background = Here(L"viewer-test-background.bmp");
  WriteBackground(background, 320, 240, 80, kSky, kGrass);  // scaled x2 to cover 640x480
  for (const wchar_t* keying : {L"--renderer software --keying green", L"--renderer d3d9 --key-colour sample"}) {
    SCOPED_TRACE(std::string(keying, keying + wcslen(keying)));
    const std::wstring snapshot = Here(L"viewer-test-composite.png"), shot = Here(L"viewer-test-window.png");
    const std::wstring log = Here(L"viewer-test-status.txt");
    DeleteFileW(snapshot.c_str());
    DeleteFileW(shot.c_str());
    ViewerProcess viewer(L"--camera \"Green Screen\" --format 640x480:YUY2 " + std::wstring(keying) +
                             L" --background \"" + background + L"\" --frames 60 --snapshot \"" + snapshot +
                             L"\" --window-shot \"" + shot + L"\" --status-log \"" + log + L"\"",
                         "");
    ASSERT_TRUE(viewer.Started());
    ASSERT_EQ(viewer.Wait(90000), 0);

    const Picture composite = LoadPng(snapshot);
    ASSERT_EQ(composite.width, 640u);
    ASSERT_EQ(composite.height, 480u);
    for (unsigned x = 8; x < 640; x += 16) {
      EXPECT_TRUE(Near(composite.At(x, 20), kSky, 8)) << "top, column " << x;
      EXPECT_TRUE(Near(composite.At(x, 460), kGrass, 8)) << "bottom, column " << x;
    }
    // Row 240 crosses the disc (radius 80, its centre moving along the row): disc where
    // it is, background elsewhere, and no green anywhere.
    int disc = 0, grass = 0;
    for (unsigned x = 0; x < 640; ++x) {
      const Rgb c = composite.At(x, 240);
      disc += Near(c, kDisc, 16);
      grass += Near(c, kGrass, 16);
      EXPECT_FALSE(c.g > 150 && c.r < 100 && c.b < 100) << "green left at column " << x;
    }
    EXPECT_NEAR(disc, 160, 12);
    EXPECT_GE(disc + grass, 630);

    // The window: the picture fills most of its left part, upright; the panel is beside it.
    const Picture window = LoadPng(shot);
    ASSERT_GE(window.width, 640u);
    ASSERT_GE(window.height, 440u);
    double skyRows = 0, grassRows = 0, sky = 0, grassPixels = 0, panelLight = 0;
    for (unsigned y = 0; y < window.height; ++y)
      for (unsigned x = 0; x < window.width; ++x) {
        const Rgb c = window.At(x, y);
        if (Near(c, kSky, 12)) sky += 1, skyRows += y;
        if (Near(c, kGrass, 12)) grassPixels += 1, grassRows += y;
        if (x >= window.width - 250 && c.r > 235 && c.g > 235 && c.b > 235) panelLight += 1;
      }
    EXPECT_GT(sky + grassPixels, 0.35 * window.width * window.height) << "the picture area";
    EXPECT_GT(sky, 0.2 * (sky + grassPixels));
    EXPECT_LT(skyRows / sky, grassRows / grassPixels) << "the picture is upside down";
    EXPECT_GT(panelLight, 0.4 * 250 * window.height) << "the panel";
    const std::string status = ReadAll(log);
    const size_t rate = status.rfind("Running | ");
    ASSERT_NE(rate, std::string::npos);
    EXPECT_GT(std::atof(status.c_str() + rate + 10), 1.0) << status;
  }
}

// Minimised, restored and resized, then the camera goes away and comes back while the
// viewer runs: the status line says it reconnects, then it runs again; closed while
// capturing, the process ends at once.
TEST_F(ViewerTest, FollowsTheCameraAwayAndBackAndClosesWithinASecond)
{
  const std::wstring log = Here(L"viewer-test-status.txt");
  DeleteFileW(log.c_str());
  ViewerProcess viewer(L"--status-log \"" + log + L"\"",
                       "camera name=Green link=\\\\?\\virtualcam#viewer pattern=greenscreen unplug-after=120 "
                       "replug-after=3000\nformat subtype=YUY2 size=320x240 rate=30/1\n");
  ASSERT_TRUE(viewer.Started());
  size_t from = 0;
  ASSERT_TRUE(WaitForStatus(log, "Running | ", &from, 30000)) << ReadAll(log);
  HWND window = viewer.Window();
  ASSERT_NE(window, nullptr);
  ShowWindow(window, SW_MINIMIZE);
  Sleep(300);
  ShowWindow(window, SW_RESTORE);
  SetWindowPos(window, nullptr, 0, 0, 700, 480, SWP_NOZORDER | SWP_NOMOVE);
  ASSERT_TRUE(WaitForStatus(log, "Reconnecting: The camera", &from, 30000)) << ReadAll(log);
  ASSERT_TRUE(WaitForStatus(log, "Running | ", &from, 30000)) << ReadAll(log);

  const ULONGLONG closed = GetTickCount64();
  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(viewer.Wait(1000), 0) << "still running " << GetTickCount64() - closed << " ms after WM_CLOSE";
  const std::string status = ReadAll(log);
  EXPECT_EQ(status.substr(status.size() - 7), "Closed\n") << "the capture was not stopped in order";
}

// A camera that is in use or blocked: the run ends with the library's reason on the
// status line and a failed snapshot.
TEST_F(ViewerTest, SaysWhyTheCameraCannotBeUsed)
{
  const std::pair<const char*, const char*> cases[] = {
      {"busy=1", "Ended: The camera is in use by another application."},
      {"access-denied=1", "Ended: Access to the camera is blocked by the privacy settings."}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    const std::wstring log = Here(L"viewer-test-status.txt");
    ViewerProcess viewer(L"--no-reconnect --snapshot unused.png --frames 5 --status-log \"" + log + L"\"",
                         std::string("camera name=Held link=\\\\?\\virtualcam#held ") + c.first +
                             "\nformat subtype=YUY2 size=320x240 rate=30/1\n");
    ASSERT_TRUE(viewer.Started());
    EXPECT_EQ(viewer.Wait(30000), 1);
    EXPECT_NE(ReadAll(log).find(c.second), std::string::npos) << ReadAll(log);
  }
}

}  // namespace
