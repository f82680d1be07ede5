// The configuration file named by PICTOR_VIRTUALCAM_CONFIG (set by this test's CMake
// entry to envconfig.txt) replaces the default set at first use.
#include "tests/virtualcam/VirtualCamFixture.h"

class VirtualCamFileTest : public VirtualCamTest {
 protected:
  void SetUp() override {}  // no VirtualCam_Configure: the file must decide the set
};

TEST_F(VirtualCamFileTest, FirstUseReadsTheNamedFile) {
  ASSERT_NE(enumDevices_, nullptr) << "mf.dll not found beside the test program";
  const std::vector<DeviceInfo> devices = Enumerate();
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].name, L"From File");
  EXPECT_EQ(devices[0].link, L"\\\\?\\virtualcam#file");

  ComPtr<IMFSourceReader> reader = OpenReader(devices[0].link);
  ASSERT_TRUE(reader);
  DWORD stream = 0, flags = 0;
  LONGLONG time = -1;
  ComPtr<IMFSample> sample;
  for (LONGLONG expected : {0LL, 166666LL}) {
    sample.Reset();
    ASSERT_EQ(reader->ReadSample(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, &stream, &flags, &time, &sample), S_OK);
    EXPECT_EQ(time, expected);
  }
  const std::vector<uint8_t> bytes = SampleBytes(sample.Get());
  ASSERT_EQ(bytes.size(), 32u * 16u * 4u);
  EXPECT_EQ(bytes[0], 0x60);  // B, G, R, A
  EXPECT_EQ(bytes[1], 0x40);
  EXPECT_EQ(bytes[2], 0x20);
  EXPECT_EQ(bytes[3], 0xFF);
}
