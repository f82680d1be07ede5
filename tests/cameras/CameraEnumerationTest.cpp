// Listing cameras through Pictor.dll on the virtual camera: how many descriptors are
// written, what goes into them, and the log lines a host's support person reads.
#include <string>
#include <vector>

#include "Pictor.h"
#include "tests/cameras/CameraTestSupport.h"

using namespace camtest;
using pictortest::LogCapture;

namespace {

const std::string kEnum = "TPictor::EnumerateWebCameras";

std::wstring LongName() {
  std::wstring name;
  for (int i = 0; i < 600; ++i) name += static_cast<wchar_t>(L'a' + i % 26);
  return name;
}

std::string ThreeCamerasConfig() {
  const std::wstring wide = LongName();
  const std::string longName(wide.begin(), wide.end());
  return "camera name=\"Front Camera\" link=\"vc#front\"\n"
         "format subtype=YUY2 size=640x480 rate=30/1\n"
         // "Kamera hinten" with umlauts and a CJK character, in UTF-8.
         "camera name=\"R\xC3\xBC" "ckkamera \xE6\x97\xA5\" link=\"vc#rear\"\n"
         "format subtype=NV12 size=640x480 rate=30/1\n"
         "camera name=\"" + longName + "\" link=\"vc#long\"\n"
         "format subtype=YUY2 size=640x480 rate=30/1\n";
}

class CameraEnumeration : public ::testing::Test {
 protected:
  void SetUp() override {
    LogCapture::Get().SetLevel(2);
    REQUIRE_VIRTUAL_CAMERA(camera);
  }
  void Configure(const std::string& config) {
    camera.Configure(config.c_str());
    LogCapture::Get().Clear();
  }

  ComThread com;
  VirtualCamera camera;
};

TEST_F(CameraEnumeration, ThreeCamerasFillNoMoreDescriptorsThanTheCapacity) {
  Configure(ThreeCamerasConfig());
  TPictor pictor;
  EXPECT_EQ(pictor.GetWebCamerasCount(), 3);

  TPictorDescr descrs[5];
  FillWithMarker(descrs, 5);
  LogCapture::Get().Clear();
  EXPECT_EQ(pictor.EnumerateWebCameras(descrs, 1), 3);
  EXPECT_STREQ(descrs[0].FriendlyName, L"Front Camera");
  EXPECT_STREQ(descrs[0].SymbolicLink, L"vc#front");
  for (int i = 1; i < 5; ++i) EXPECT_TRUE(HoldsMarker(descrs[i])) << "descriptor " << i;
  const std::vector<std::string> expected = {
      kEnum,
      kEnum + " count 3",
      kEnum + " video capture device 0",
      kEnum + " friendly name Front Camera",
      kEnum + " symbolic link vc#front",
      kEnum + " exit",
  };
  EXPECT_EQ(LogCapture::Get().Lines(), expected);
  EXPECT_NO_LIVE_CAMERA_OBJECTS(camera);

  FillWithMarker(descrs, 5);
  EXPECT_EQ(pictor.EnumerateWebCameras(descrs, 5), 3);
  EXPECT_STREQ(descrs[1].FriendlyName, L"R\u00FCckkamera \u65E5");
  EXPECT_STREQ(descrs[1].SymbolicLink, L"vc#rear");
  // 600 characters do not fit: the field keeps the first 511 and its terminator.
  EXPECT_EQ(std::wstring(descrs[2].FriendlyName), LongName().substr(0, 511));
  EXPECT_STREQ(descrs[2].SymbolicLink, L"vc#long");
  EXPECT_TRUE(HoldsMarker(descrs[3]));
  EXPECT_TRUE(HoldsMarker(descrs[4]));
  EXPECT_NO_LIVE_CAMERA_OBJECTS(camera);
}

TEST_F(CameraEnumeration, NegativeCapacityOrNoArrayWritesNothing) {
  Configure(ThreeCamerasConfig());
  TPictor pictor;
  TPictorDescr descrs[3];
  FillWithMarker(descrs, 3);
  LogCapture::Get().Clear();
  EXPECT_EQ(pictor.EnumerateWebCameras(descrs, -1), 3);
  EXPECT_EQ(pictor.EnumerateWebCameras(nullptr, 3), 3);
  for (const TPictorDescr& d : descrs) EXPECT_TRUE(HoldsMarker(d));
  const std::vector<std::string> expected = {kEnum, kEnum + " count 3", kEnum + " exit",
                                             kEnum, kEnum + " count 3", kEnum + " exit"};
  EXPECT_EQ(LogCapture::Get().Lines(), expected);
}

TEST_F(CameraEnumeration, NoCameraCountsZeroAndTouchesNothing) {
  Configure("# no cameras\n");
  TPictor pictor;
  TPictorDescr descr;
  FillWithMarker(&descr, 1);
  EXPECT_EQ(pictor.EnumerateWebCameras(&descr, 1), 0);
  EXPECT_TRUE(HoldsMarker(descr));
  const std::vector<std::string> expected = {kEnum, kEnum + " count 0", kEnum + " exit"};
  EXPECT_EQ(LogCapture::Get().Lines(), expected);
}

TEST_F(CameraEnumeration, UnreadableNameSkipsTheDeviceAndUnreadableLinkKeepsTheName) {
  Configure(
      "camera name=\"Broken Name\" link=\"vc#a\" name-error=0x80004005\n"
      "format subtype=YUY2 size=640x480 rate=30/1\n"
      "camera name=\"Broken Link\" link=\"vc#b\" link-error=0x80070005\n"
      "format subtype=YUY2 size=640x480 rate=30/1\n"
      "camera name=\"Fine\" link=\"vc#c\"\n"
      "format subtype=YUY2 size=640x480 rate=30/1\n");
  TPictor pictor;
  TPictorDescr descrs[3];
  FillWithMarker(descrs, 3);
  LogCapture::Get().Clear();
  EXPECT_EQ(pictor.EnumerateWebCameras(descrs, 3), 3);

  EXPECT_TRUE(HoldsMarker(descrs[0]));
  EXPECT_STREQ(descrs[1].FriendlyName, L"Broken Link");
  TPictorDescr marker;
  FillWithMarker(&marker, 1);
  EXPECT_EQ(memcmp(descrs[1].SymbolicLink, marker.SymbolicLink, sizeof(marker.SymbolicLink)), 0);
  EXPECT_STREQ(descrs[2].FriendlyName, L"Fine");
  EXPECT_STREQ(descrs[2].SymbolicLink, L"vc#c");

  const std::vector<std::string> expected = {
      kEnum,
      kEnum + " count 3",
      kEnum + " video capture device 0",
      kEnum + " unable to read friendly name -2147467259",
      kEnum + " video capture device 1",
      kEnum + " friendly name Broken Link",
      kEnum + " unable to read symbolic link -2147024891",
      kEnum + " video capture device 2",
      kEnum + " friendly name Fine",
      kEnum + " symbolic link vc#c",
      kEnum + " exit",
  };
  const std::vector<pictortest::CapturedRecord> records = LogCapture::Get().Records();
  std::vector<std::string> lines;
  for (const auto& r : records) lines.push_back(r.text);
  EXPECT_EQ(lines, expected);
  // The two read failures are error records, everything else ordinary ones.
  for (size_t i = 0; i < records.size(); ++i) {
    const bool failure = i == 3 || i == 6;
    EXPECT_EQ(records[i].kind, failure ? 2u : 0u) << records[i].text;
  }
  EXPECT_NO_LIVE_CAMERA_OBJECTS(camera);
}

TEST_F(CameraEnumeration, ObjectsStartAndStopMediaFoundationIndependently) {
  Configure(ThreeCamerasConfig());
  TPictor* first = new TPictor();
  TPictor second;
  EXPECT_EQ(first->GetWebCamerasCount(), 3);
  delete first;
  // The first object's shutdown must leave the second one's Media Foundation running.
  EXPECT_EQ(second.GetWebCamerasCount(), 3);
  EXPECT_EQ(second.GetCaptureFormatsCount(L"vc#front"), 1);
  EXPECT_NO_LIVE_CAMERA_OBJECTS(camera);
}

}  // namespace
