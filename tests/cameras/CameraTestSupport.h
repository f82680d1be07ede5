// What the camera tests share: the virtual camera's control functions, COM on the test
// thread, and small helpers for records and log lines.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <mfapi.h>
#include <uuids.h>

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/LogCapture.h"
#include "tools/virtualcam/VirtualCamControl.h"

namespace camtest {

// The test-double mf.dll beside the test program, reached through its control exports.
class VirtualCamera {
 public:
  VirtualCamera() {
    module_ = LoadLibraryW(L"mf.dll");
    if (!module_) return;
    configure_ = reinterpret_cast<VirtualCam_Configure_t>(
        reinterpret_cast<void*>(GetProcAddress(module_, "VirtualCam_Configure")));
    getCounts_ = reinterpret_cast<VirtualCam_GetCounts_t>(
        reinterpret_cast<void*>(GetProcAddress(module_, "VirtualCam_GetCounts")));
  }
  ~VirtualCamera() {
    if (module_) FreeLibrary(module_);
  }
  VirtualCamera(const VirtualCamera&) = delete;
  VirtualCamera& operator=(const VirtualCamera&) = delete;

  bool Present() const { return configure_ && getCounts_; }

  // Replaces the set of cameras; fails the test on a configuration error.
  void Configure(const char* config) {
    ASSERT_TRUE(Present()) << "the virtual camera mf.dll is not beside the test program";
    char error[256] = {};
    ASSERT_EQ(configure_(config, error, sizeof(error)), 0) << error;
  }

  VirtualCamCounts Counts() const {
    VirtualCamCounts counts = {};
    if (getCounts_) getCounts_(&counts);
    return counts;
  }

 private:
  HMODULE module_ = nullptr;
  VirtualCam_Configure_t configure_ = nullptr;
  VirtualCam_GetCounts_t getCounts_ = nullptr;
};

// Tests that open cameras need the double; without it Wine's own MFCreateDeviceSource
// would end the process.
#define REQUIRE_VIRTUAL_CAMERA(camera)                                              \
  do {                                                                              \
    if (!(camera).Present()) GTEST_SKIP() << "virtual camera mf.dll not beside the test"; \
  } while (0)

// Nothing of the double outlives an operation: every activation, source, stream and
// sample it handed out has been released.
#define EXPECT_NO_LIVE_CAMERA_OBJECTS(camera)                          \
  do {                                                                 \
    const VirtualCamCounts c_ = (camera).Counts();                     \
    EXPECT_EQ(c_.total, 0) << "activates " << c_.activates << " sources " << c_.sources \
                           << " samples " << c_.samples;               \
  } while (0)

// The library never initialises COM; hosts (and so tests) do it on their threads.
class ComThread {
 public:
  ComThread() : hr_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComThread() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }

 private:
  HRESULT hr_;
};

inline std::string Format(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  return text;
}

template <typename T>
void FillWithMarker(T* records, size_t count) {
  std::memset(static_cast<void*>(records), 0x5A, sizeof(T) * count);
}

template <typename T>
bool HoldsMarker(const T& record) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&record);
  for (size_t i = 0; i < sizeof(T); ++i) {
    if (bytes[i] != 0x5A) return false;
  }
  return true;
}

inline std::vector<std::string> LinesFrom(const std::vector<std::string>& lines,
                                          const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& line : lines) {
    if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
  }
  return out;
}

inline bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
  for (const std::string& l : lines) {
    if (l == line) return true;
  }
  return false;
}

}  // namespace camtest
