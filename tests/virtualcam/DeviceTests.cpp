// Cameras as a host sees them: enumeration, activation objects, device sources.
#include "tests/virtualcam/VirtualCamFixture.h"

namespace {

// Three cameras: a plain one, one with a non-ASCII name, one with a 600-character name.
std::string ThreeCameras() {
  return "camera name=\"Front Camera\" link=\\\\?\\virtualcam#front\n"
         "format subtype=YUY2 size=640x480 rate=30/1\n"
         "# a comment line\n"
         "camera name=\"Caméra arrière ☃\" link=\\\\?\\virtualcam#back pattern=marker\n"
         "format subtype=NV12 size=640x480 rate=30/1\n"
         "camera name=\"" + std::string(600, 'n') + "\" link=\"\\\\\\\\?\\\\virtualcam#long\"\n"
         "format subtype=YUY2 size=640x480 rate=30/1\n";
}

}  // namespace

TEST_F(VirtualCamTest, DefaultSetHasTwoCamerasWithYuy2AndNv12At640x480) {
  const std::vector<DeviceInfo> devices = Enumerate();
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].name, L"Pictor Virtual Camera");
  EXPECT_EQ(devices[0].link, L"\\\\?\\virtualcam#pictor-bars");
  EXPECT_EQ(devices[1].name, L"Pictor Green Screen");
  EXPECT_EQ(devices[1].link, L"\\\\?\\virtualcam#pictor-greenscreen");

  for (const DeviceInfo& device : devices) {
    ComPtr<IMFSourceReader> reader = OpenReader(device.link);
    ASSERT_TRUE(reader);
    const GUID wanted[] = {MFVideoFormat_YUY2, MFVideoFormat_NV12};
    for (DWORD i = 0; i < 2; ++i) {
      ComPtr<IMFMediaType> type;
      ASSERT_EQ(reader->GetNativeMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, i, &type), S_OK);
      GUID subtype = GUID_NULL;
      UINT32 width = 0, height = 0, num = 0, den = 0;
      type->GetGUID(MF_MT_SUBTYPE, &subtype);
      MFGetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, &width, &height);
      MFGetAttributeRatio(type.Get(), MF_MT_FRAME_RATE, &num, &den);
      EXPECT_EQ(subtype, wanted[i]);
      EXPECT_EQ(width, 640u);
      EXPECT_EQ(height, 480u);
      EXPECT_EQ(num, 30u);
      EXPECT_EQ(den, 1u);
    }
    // Nobody chose a type: native type 0, YUY2 640x480, is what comes.
    DWORD stream = 0, flags = 0;
    LONGLONG time = -1;
    ComPtr<IMFSample> sample;
    ASSERT_EQ(reader->ReadSample(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, &stream, &flags, &time, &sample), S_OK);
    EXPECT_EQ(time, 0);
    EXPECT_EQ(SampleBytes(sample.Get()).size(), 640u * 480u * 2u);
  }
}

TEST_F(VirtualCamTest, ConfiguredCamerasKeepOrderNamesAndLinks) {
  Configure(ThreeCameras().c_str());
  const std::vector<DeviceInfo> devices = Enumerate();
  ASSERT_EQ(devices.size(), 3u);
  EXPECT_EQ(devices[0].name, L"Front Camera");
  EXPECT_EQ(devices[0].link, L"\\\\?\\virtualcam#front");
  EXPECT_EQ(devices[1].name, L"Cam\u00e9ra arri\u00e8re \u2603");
  EXPECT_EQ(devices[1].link, L"\\\\?\\virtualcam#back");
  EXPECT_EQ(devices[2].name, std::wstring(600, L'n'));
  EXPECT_EQ(devices[2].link, L"\\\\?\\virtualcam#long");
  for (const DeviceInfo& device : devices) {
    ComPtr<IMFMediaSource> source;
    EXPECT_EQ(CreateSource(device.link, &source), S_OK);
    if (source) source->Shutdown();
  }
}

TEST_F(VirtualCamTest, UnreadableNameOrLinkFailsOnlyThatAttribute) {
  Configure(
      "camera name=NoName link=a name-error=0x80004005\n"
      "camera name=NoLink link=b link-error=0x8007001F\n");
  const std::vector<DeviceInfo> devices = Enumerate();
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].nameResult, E_FAIL);
  EXPECT_EQ(devices[0].linkResult, S_OK);
  EXPECT_EQ(devices[0].link, L"a");
  EXPECT_EQ(devices[1].nameResult, S_OK);
  EXPECT_EQ(devices[1].name, L"NoLink");
  EXPECT_EQ(devices[1].linkResult, HRESULT_FROM_WIN32(ERROR_GEN_FAILURE));
}

TEST_F(VirtualCamTest, EmptySetAndNonVideoQueriesGiveNoDevices) {
  Configure("");
  EXPECT_TRUE(Enumerate().empty());

  Configure(nullptr);
  ComPtr<IMFAttributes> audio;
  ASSERT_EQ(MFCreateAttributes(&audio, 1), S_OK);
  audio->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_GUID);
  IMFActivate** array = reinterpret_cast<IMFActivate**>(1);
  UINT32 count = 7;
  EXPECT_EQ(enumDevices_(audio.Get(), &array, &count), S_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(array, nullptr);
}

TEST_F(VirtualCamTest, UnknownOrMissingLinkFailsDeviceSourceCreation) {
  ComPtr<IMFMediaSource> source;
  EXPECT_EQ(CreateSource(L"\\\\?\\virtualcam#nothing", &source), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(source);

  ComPtr<IMFAttributes> noLink;
  ASSERT_EQ(MFCreateAttributes(&noLink, 1), S_OK);
  noLink->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID);
  EXPECT_EQ(createDeviceSource_(noLink.Get(), &source), E_INVALIDARG);
  EXPECT_EQ(createDeviceSource_(nullptr, &source), E_POINTER);
  EXPECT_EQ(Counts().total, 0);
}

TEST_F(VirtualCamTest, ActivationObjectHandsOutOneSourceUntilShutdown) {
  ComPtr<IMFAttributes> query;
  ASSERT_EQ(MFCreateAttributes(&query, 1), S_OK);
  query->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID);
  IMFActivate** array = nullptr;
  UINT32 count = 0;
  ASSERT_EQ(enumDevices_(query.Get(), &array, &count), S_OK);
  ASSERT_GE(count, 1u);
  EXPECT_EQ(Counts().activates, static_cast<LONG>(count));

  ComPtr<IMFMediaSource> first, second;
  ASSERT_EQ(array[0]->ActivateObject(IID_PPV_ARGS(&first)), S_OK);
  ASSERT_EQ(array[0]->ActivateObject(IID_PPV_ARGS(&second)), S_OK);
  EXPECT_EQ(first.Get(), second.Get());
  EXPECT_EQ(array[0]->ShutdownObject(), S_OK);
  DWORD characteristics = 0;
  EXPECT_EQ(first->GetCharacteristics(&characteristics), MF_E_SHUTDOWN);
  first.Reset();
  second.Reset();

  for (UINT32 i = 0; i < count; ++i) array[i]->Release();
  CoTaskMemFree(array);
}
