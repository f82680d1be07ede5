// Shared pieces of the capture tests: the virtual camera's control functions, a frame
// sink for the host callback, and small helpers over the captured log lines.
#pragma once

#include "tools/virtualcam/VirtualCamControl.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ProcessHandles.h"

#include <windows.h>
#include <objbase.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace capturetest {

// The test-double mf.dll beside the test program; the library loads the same module.
struct VirtualCam {
  VirtualCam_Configure_t Configure = nullptr;
  VirtualCam_GetCounts_t GetCounts = nullptr;
  VirtualCam_GetFrameCount_t GetFrameCount = nullptr;

  static VirtualCam& Get()
  {
    static VirtualCam cam;
    return cam;
  }

  // Replaces the cameras; fails the test on a configuration error.
  void Use(const std::string& config)
  {
    char error[256] = {};
    const int line = Configure(config.c_str(), error, sizeof error);
    ASSERT_EQ(line, 0) << "virtual camera configuration line " << line << ": " << error;
  }

  VirtualCamCounts Counts()
  {
    VirtualCamCounts counts = {};
    GetCounts(&counts);
    return counts;
  }

 private:
  VirtualCam()
  {
    HMODULE mf = LoadLibraryW(L"mf.dll");
    if (!mf)
      return;
    Configure = reinterpret_cast<VirtualCam_Configure_t>(GetProcAddress(mf, "VirtualCam_Configure"));
    GetCounts = reinterpret_cast<VirtualCam_GetCounts_t>(GetProcAddress(mf, "VirtualCam_GetCounts"));
    GetFrameCount = reinterpret_cast<VirtualCam_GetFrameCount_t>(GetProcAddress(mf, "VirtualCam_GetFrameCount"));
  }
};

// Collects what the host callback receives. The callback runs on the converter's
// thread; the test thread waits here.
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
    Frame frame;
    frame.width = width;
    frame.height = height;
    frame.topDown = topDown;
    frame.pixels.assign(pixels, pixels + size_t(width) * height * 4);
    {
      std::lock_guard<std::mutex> lock(sink->mutex);
      if (sink->count == 0)
        sink->first = frame;
      sink->last = std::move(frame);
      ++sink->count;
    }
    sink->arrived.notify_all();
    if (sink->sleepMs)
      Sleep(sink->sleepMs);
    return true;
  }

  bool WaitFor(int frames, int timeoutMs = 5000)
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

inline int IndexOf(const std::vector<std::string>& lines, const std::string& line, int from = 0)
{
  for (size_t i = from; i < lines.size(); ++i)
    if (lines[i] == line)
      return static_cast<int>(i);
  return -1;
}

inline int CountOf(const std::vector<std::string>& lines, const std::string& line)
{
  return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

// Lines that start with prefix, in order.
inline std::vector<std::string> LinesStartingWith(const std::vector<std::string>& lines, const std::string& prefix)
{
  std::vector<std::string> out;
  for (const auto& line : lines)
    if (line.compare(0, prefix.size(), prefix) == 0)
      out.push_back(line);
  return out;
}

// Polls the log until a line appears (the library's threads write asynchronously).
inline bool WaitForLine(const std::string& line, int timeoutMs = 5000)
{
  for (int waited = 0; waited <= timeoutMs; waited += 20) {
    if (Contains(pictortest::LogCapture::Get().Lines(), line))
      return true;
    Sleep(20);
  }
  return false;
}

// Wine's Color Converter ignores the requested stride and always writes top-down rows
// (fixed in later Wine versions); Windows writes bottom-up rows for a negative stride.
inline bool RunningOnWine()
{
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// Open handles of this process (probed: Wine 8.0's GetProcessHandleCount reports 0).
inline size_t OpenHandleCount() { return pictortest::OpenHandles().size(); }

// Committed private memory of this process.
inline SIZE_T PrivateBytes()
{
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
  // Wine 8.0 reports no private usage; its page-file usage counts the same memory.
  return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

// COM for the test thread: the library creates its COM objects on the host's threads.
class ComEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
  void TearDown() override { CoUninitialize(); }
};

}  // namespace capturetest
