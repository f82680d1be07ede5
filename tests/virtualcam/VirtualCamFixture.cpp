#include "tests/virtualcam/VirtualCamFixture.h"

HMODULE VirtualCamTest::module_ = nullptr;
MFEnumDeviceSources_t VirtualCamTest::enumDevices_ = nullptr;
MFCreateDeviceSource_t VirtualCamTest::createDeviceSource_ = nullptr;
VirtualCam_Configure_t VirtualCamTest::configure_ = nullptr;
VirtualCam_GetCounts_t VirtualCamTest::getCounts_ = nullptr;
VirtualCam_GetFrameCount_t VirtualCamTest::getFrameCount_ = nullptr;
VirtualCam_GetControl_t VirtualCamTest::getControl_ = nullptr;

template <class T>
static T Lookup(HMODULE module, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

void VirtualCamTest::SetUpTestSuite() {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  MFStartup(MF_VERSION, MFSTARTUP_FULL);
  module_ = LoadLibraryW(L"mf.dll");
  if (!module_) return;
  enumDevices_ = Lookup<MFEnumDeviceSources_t>(module_, "MFEnumDeviceSources");
  createDeviceSource_ = Lookup<MFCreateDeviceSource_t>(module_, "MFCreateDeviceSource");
  configure_ = Lookup<VirtualCam_Configure_t>(module_, "VirtualCam_Configure");
  getCounts_ = Lookup<VirtualCam_GetCounts_t>(module_, "VirtualCam_GetCounts");
  getFrameCount_ = Lookup<VirtualCam_GetFrameCount_t>(module_, "VirtualCam_GetFrameCount");
  getControl_ = Lookup<VirtualCam_GetControl_t>(module_, "VirtualCam_GetControl");
}

void VirtualCamTest::TearDownTestSuite() {
  MFShutdown();
  CoUninitialize();
}

void VirtualCamTest::SetUp() {
  ASSERT_NE(module_, nullptr) << "mf.dll not found beside the test program";
  ASSERT_NE(configure_, nullptr) << "the mf.dll loaded is not the virtual camera";
  ASSERT_NE(enumDevices_, nullptr);
  ASSERT_NE(createDeviceSource_, nullptr);
  ASSERT_NE(getCounts_, nullptr);
  ASSERT_NE(getFrameCount_, nullptr);
  ASSERT_NE(getControl_, nullptr);
  configure_(nullptr, nullptr, 0);
}

void VirtualCamTest::TearDown() {
  if (!getCounts_) return;
  const VirtualCamCounts c = CountsSettled();
  EXPECT_EQ(c.total, 0) << "objects left: activates " << c.activates << ", sources " << c.sources
                        << ", streams " << c.streams << ", samples " << c.samples << ", buffers " << c.buffers;
}

void VirtualCamTest::Configure(const char* text) {
  char error[256] = {};
  const int line = configure_(text, error, sizeof(error));
  ASSERT_EQ(line, 0) << "configuration line " << line << ": " << error;
}

std::vector<DeviceInfo> VirtualCamTest::Enumerate() {
  std::vector<DeviceInfo> devices;
  ComPtr<IMFAttributes> query;
  EXPECT_EQ(MFCreateAttributes(&query, 1), S_OK);
  query->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID);
  IMFActivate** array = nullptr;
  UINT32 count = 0;
  EXPECT_EQ(enumDevices_(query.Get(), &array, &count), S_OK);
  for (UINT32 i = 0; i < count; ++i) {
    DeviceInfo info;
    WCHAR* text = nullptr;
    UINT32 length = 0;
    info.nameResult = array[i]->GetAllocatedString(MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME, &text, &length);
    if (SUCCEEDED(info.nameResult)) info.name.assign(text, length);
    CoTaskMemFree(text);
    text = nullptr;
    info.linkResult = array[i]->GetAllocatedString(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK, &text, &length);
    if (SUCCEEDED(info.linkResult)) info.link.assign(text, length);
    CoTaskMemFree(text);
    array[i]->Release();
    devices.push_back(info);
  }
  CoTaskMemFree(array);
  return devices;
}

HRESULT VirtualCamTest::CreateSource(const std::wstring& link, IMFMediaSource** source) {
  ComPtr<IMFAttributes> attributes;
  HRESULT hr = MFCreateAttributes(&attributes, 2);
  if (FAILED(hr)) return hr;
  attributes->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID);
  attributes->SetString(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK, link.c_str());
  return createDeviceSource_(attributes.Get(), source);
}

ComPtr<IMFSourceReader> VirtualCamTest::OpenReader(const std::wstring& link, ComPtr<IMFMediaSource>* sourceOut) {
  ComPtr<IMFMediaSource> source;
  ComPtr<IMFSourceReader> reader;
  HRESULT hr = CreateSource(link, &source);
  EXPECT_EQ(hr, S_OK);
  if (FAILED(hr)) return reader;
  hr = MFCreateSourceReaderFromMediaSource(source.Get(), nullptr, &reader);
  EXPECT_EQ(hr, S_OK);
  if (sourceOut) *sourceOut = source;
  return reader;
}

VirtualCamCounts VirtualCamTest::Counts() {
  VirtualCamCounts c = {};
  getCounts_(&c);
  return c;
}

VirtualCamCounts VirtualCamTest::CountsSettled() {
  VirtualCamCounts c = Counts();
  for (int i = 0; i < 100 && c.total != 0; ++i) {
    Sleep(20);
    c = Counts();
  }
  return c;
}

std::vector<uint8_t> SampleBytes(IMFSample* sample) {
  std::vector<uint8_t> bytes;
  DWORD buffers = 0;
  if (!sample || FAILED(sample->GetBufferCount(&buffers)) || buffers != 1) return bytes;
  ComPtr<IMFMediaBuffer> buffer;
  if (FAILED(sample->GetBufferByIndex(0, &buffer))) return bytes;
  BYTE* data = nullptr;
  DWORD length = 0;
  if (FAILED(buffer->Lock(&data, nullptr, &length))) return bytes;
  bytes.assign(data, data + length);
  buffer->Unlock();
  return bytes;
}
