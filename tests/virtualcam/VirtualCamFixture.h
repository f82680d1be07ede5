// Fixture of the virtual camera's Wine tests: loads the double (mf.dll beside the test
// program) the way a host does, starts Media Foundation, and checks after every test
// that no object of the double is left alive.
#pragma once

#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "tools/virtualcam/VirtualCamControl.h"

using Microsoft::WRL::ComPtr;

typedef HRESULT(WINAPI* MFEnumDeviceSources_t)(IMFAttributes*, IMFActivate***, UINT32*);
typedef HRESULT(WINAPI* MFCreateDeviceSource_t)(IMFAttributes*, IMFMediaSource**);
typedef BOOL(WINAPI* VirtualCam_GetControl_t)(const wchar_t*, int, LONG*, LONG*, LONG*);

struct DeviceInfo {
  std::wstring name, link;
  HRESULT nameResult = S_OK, linkResult = S_OK;
};

class VirtualCamTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;
  void TearDown() override;

  // Applies a configuration and fails the test on a parse error.
  void Configure(const char* text);
  std::vector<DeviceInfo> Enumerate();
  HRESULT CreateSource(const std::wstring& link, IMFMediaSource** source);
  // Opens the camera through Wine's (or Windows') own source reader.
  ComPtr<IMFSourceReader> OpenReader(const std::wstring& link, ComPtr<IMFMediaSource>* source = nullptr);
  VirtualCamCounts Counts();
  // Waits (briefly) for objects that the platform releases on its own work queue threads.
  VirtualCamCounts CountsSettled();

  static HMODULE module_;
  static MFEnumDeviceSources_t enumDevices_;
  static MFCreateDeviceSource_t createDeviceSource_;
  static VirtualCam_Configure_t configure_;
  static VirtualCam_GetCounts_t getCounts_;
  static VirtualCam_GetFrameCount_t getFrameCount_;
  static VirtualCam_GetControl_t getControl_;
};

// Copies the bytes of a sample's (single, contiguous) buffer.
std::vector<uint8_t> SampleBytes(IMFSample* sample);
