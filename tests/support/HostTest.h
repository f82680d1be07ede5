// What every Wine test program that plays host shares: the virtual camera (the test-double
// mf.dll beside the program, which the library loads too), COM on the test thread, a frame
// sink for the host callback and small helpers over the captured log lines.
#pragma once

#include "tests/support/LogCapture.h"
#include "tests/support/ProcessHandles.h"
#include "tools/virtualcam/VirtualCamControl.h"

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace pictortest {

// The virtual camera's control exports. A program whose double is missing fails: without
// it Wine's own MFCreateDeviceSource would end the process, and a skip would hide that.
class VirtualCamera {
 public:
  static VirtualCamera& Get()
  {
    static VirtualCamera camera;
    return camera;
  }

  // Replaces the set of cameras; fails the test on a configuration error.
  void Configure(const std::string& config)
  {
    ASSERT_TRUE(configure_) << "the virtual camera mf.dll is not beside the test program";
    char error[256] = {};
    const int line = configure_(config.c_str(), error, sizeof error);
    ASSERT_EQ(line, 0) << "virtual camera configuration line " << line << ": " << error;
  }

  VirtualCamCounts Counts() const
  {
    VirtualCamCounts counts = {};
    if (getCounts_) getCounts_(&counts);
    return counts;
  }

  // Frames the camera with this symbolic link has delivered so far (-1: no such camera).
  LONG FrameCount(const wchar_t* link) const { return getFrameCount_ ? getFrameCount_(link) : -1; }

  // The camera leaves the device list and its streams fail / it comes back.
  void Unplug(const wchar_t* link) { ASSERT_TRUE(unplug_ && unplug_(link)); }
  void Plug(const wchar_t* link) { ASSERT_TRUE(plug_ && plug_(link)); }

  // The stored state of one camera control, Set calls included (VirtualCamControl.h).
  bool Control(const wchar_t* link, int property, LONG* value, LONG* flags, LONG* setCalls) const
  {
    return getControl_ && getControl_(link, property, value, flags, setCalls);
  }

 private:
  VirtualCamera() = default;
  template <typename F>
  F Export(const char* name) const
  {
    return module_ ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module_, name))) : nullptr;
  }

  HMODULE module_ = LoadLibraryW(L"mf.dll");
  VirtualCam_Configure_t configure_ = Export<VirtualCam_Configure_t>("VirtualCam_Configure");
  VirtualCam_GetCounts_t getCounts_ = Export<VirtualCam_GetCounts_t>("VirtualCam_GetCounts");
  VirtualCam_GetFrameCount_t getFrameCount_ = Export<VirtualCam_GetFrameCount_t>("VirtualCam_GetFrameCount");
  VirtualCam_GetControl_t getControl_ = Export<VirtualCam_GetControl_t>("VirtualCam_GetControl");
  VirtualCam_Unplug_t unplug_ = Export<VirtualCam_Unplug_t>("VirtualCam_Unplug");
  VirtualCam_Plug_t plug_ = Export<VirtualCam_Plug_t>("VirtualCam_Plug");
};

// Two small cameras that capture tests configure (VirtualCamera::Configure) and their links.
constexpr wchar_t kLinkA[] = L"\\\\?\\virtualcam#a";
constexpr wchar_t kLinkB[] = L"\\\\?\\virtualcam#b";
constexpr char kTwoCameras[] =
    "camera name=A link=\\\\?\\virtualcam#a\nformat subtype=YUY2 size=320x240 rate=30/1\n"
    "camera name=B link=\\\\?\\virtualcam#b\nformat subtype=NV12 size=320x240 rate=30/1\n";

// Nothing of the double outlives an operation: every activation, source, stream and sample
// it handed out has been released. The platform releases some of them on its work-queue
// threads, so the counts get two seconds to settle.
#define EXPECT_NO_LIVE_CAMERA_OBJECTS()                                                                               \
  do {                                                                                                                \
    VirtualCamCounts c_ = pictortest::VirtualCamera::Get().Counts();                                                  \
    for (int i_ = 0; i_ < 100 && c_.total != 0; ++i_) Sleep(20), c_ = pictortest::VirtualCamera::Get().Counts();      \
    EXPECT_EQ(c_.total, 0) << "activates " << c_.activates << " sources " << c_.sources << " samples " << c_.samples; \
  } while (0)

// The library never initialises COM; hosts (and so tests) do it on their threads.
class ComThread {
 public:
  ComThread() : hr_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComThread()
  {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComThread(const ComThread&) = delete;
  ComThread& operator=(const ComThread&) = delete;

 private:
  HRESULT hr_;
};

class ComEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
  void TearDown() override { CoUninitialize(); }
};

// Runs fn on a thread of its own; false when it has not returned within the time (the
// thread is then left behind, with whatever it holds).
inline bool ReturnsWithin(std::function<void()> fn, DWORD timeoutMs = 30000)
{
  auto* call = new std::function<void()>(std::move(fn));
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](void* p) -> DWORD {
        ComThread com;
        auto* f = static_cast<std::function<void()>*>(p);
        (*f)();
        delete f;
        return 0;
      },
      call, 0, nullptr);
  const bool returned = WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0;
  CloseHandle(thread);
  return returned;
}

// Collects what a host frame callback receives. The callback runs on the converter's
// thread; the test thread waits here. The last frame's buffer is reused, so that keeping
// it costs no fresh memory per frame (at 1080p that would slow the delivery a test measures).
struct FrameSink {
  struct Frame {
    unsigned width = 0, height = 0;
    bool topDown = false;
    std::vector<uint8_t> pixels;
  };

  std::mutex mutex;
  std::condition_variable arrived;
  int count = 0;
  Frame first;
  Frame last;
  DWORD sleepMs = 0;  // a slow host

  static bool Callback(unsigned width, unsigned height, bool topDown, unsigned char* pixels, void* context)
  {
    auto* sink = static_cast<FrameSink*>(context);
    {
      std::lock_guard<std::mutex> lock(sink->mutex);
      sink->last.width = width, sink->last.height = height, sink->last.topDown = topDown;
      sink->last.pixels.assign(pixels, pixels + size_t(width) * height * 4);
      if (sink->count == 0) sink->first = sink->last;
      ++sink->count;
    }
    sink->arrived.notify_all();
    if (sink->sleepMs) Sleep(sink->sleepMs);
    return true;
  }

  // Generous by default: waiting costs nothing when the frames come.
  bool WaitFor(int frames, int timeoutMs = 30000)
  {
    std::unique_lock<std::mutex> lock(mutex);
    return arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return count >= frames; });
  }

  int Count()
  {
    std::lock_guard<std::mutex> lock(mutex);
    return count;
  }
};

inline bool Contains(const std::vector<std::string>& lines, const std::string& line)
{
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

inline int CountOf(const std::vector<std::string>& lines, const std::string& line)
{
  return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

inline std::vector<std::string> LinesStartingWith(const std::vector<std::string>& lines, const std::string& prefix)
{
  std::vector<std::string> out;
  for (const auto& line : lines)
    if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
  return out;
}

// Polls the log until a line appears (the library's threads write asynchronously).
inline bool WaitForLine(const std::string& line, int timeoutMs = 30000)
{
  for (int waited = 0; waited <= timeoutMs; waited += 20) {
    if (Contains(LogCapture::Get().Lines(), line)) return true;
    Sleep(20);
  }
  return false;
}

// The record of the first line equal to text, or nullptr: for checking a line's kind.
inline const CapturedRecord* FindRecord(const std::vector<CapturedRecord>& records, const std::string& text)
{
  for (const auto& record : records)
    if (record.text == text) return &record;
  return nullptr;
}

inline bool RunningOnWine()
{
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

}  // namespace pictortest
