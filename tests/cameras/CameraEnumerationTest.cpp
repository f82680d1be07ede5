// Listing cameras and their capture formats through Pictor.dll on the virtual camera:
// how many records are written, what goes into them, and what is left untouched.
#include <cstring>
#include <string>

#include <mfapi.h>

#include "Pictor.h"
#include "tests/support/HostTest.h"

using namespace pictortest;

namespace {

// Records the library must not write keep this byte pattern.
template <typename T>
void Mark(T* records, size_t count)
{
  std::memset(static_cast<void*>(records), 0x5A, sizeof(T) * count);
}
template <typename T>
bool Marked(const T& record)
{
  T marker;
  Mark(&marker, 1);
  return std::memcmp(&record, &marker, sizeof(T)) == 0;
}

class Cameras : public ::testing::Test {
 protected:
  void Configure(const std::string& config)
  {
    VirtualCamera::Get().Configure(config);
    LogCapture::Get().SetLevel(2);
    LogCapture::Get().Clear();
  }
  ComThread com;
};

TEST_F(Cameras, DescriptorsUpToTheCapacityWithUnicodeAndTruncatedNames)
{
  std::string longName;
  for (int i = 0; i < 600; ++i) longName += static_cast<char>('a' + i % 26);
  // The second name is "Rückkamera 日" in UTF-8.
  Configure(
      "camera name=Front link=vc#front\nformat subtype=YUY2 size=640x480 rate=30/1\n"
      "camera name=\"R\xC3\xBC"
      "ckkamera \xE6\x97\xA5\" link=vc#rear\nformat subtype=NV12 size=640x480 rate=30/1\n"
      "camera name=" +
      longName + " link=vc#long\nformat subtype=YUY2 size=640x480 rate=30/1\n");
  TPictor pictor;
  EXPECT_EQ(pictor.GetWebCamerasCount(), 3);
  TPictorDescr d[5];
  Mark(d, 5);
  EXPECT_EQ(pictor.EnumerateWebCameras(d, -1), 3);
  EXPECT_EQ(pictor.EnumerateWebCameras(nullptr, 3), 3);
  EXPECT_TRUE(Marked(d[0]));
  EXPECT_EQ(pictor.EnumerateWebCameras(d, 1), 3);
  EXPECT_STREQ(d[0].FriendlyName, L"Front");
  EXPECT_STREQ(d[0].SymbolicLink, L"vc#front");
  EXPECT_TRUE(Marked(d[1]));
  EXPECT_EQ(pictor.EnumerateWebCameras(d, 5), 3);
  EXPECT_STREQ(d[1].FriendlyName, L"R\u00FCckkamera \u65E5");
  // 600 characters do not fit: the field keeps the first 511 and its terminator.
  EXPECT_EQ(std::wstring(d[2].FriendlyName), std::wstring(longName.begin(), longName.begin() + 511));
  EXPECT_STREQ(d[2].SymbolicLink, L"vc#long");
  EXPECT_TRUE(Marked(d[3]) && Marked(d[4]));
  EXPECT_NO_LIVE_CAMERA_OBJECTS();

  Configure("# no cameras\n");
  Mark(d, 1);
  EXPECT_EQ(pictor.EnumerateWebCameras(d, 1), 0);
  EXPECT_TRUE(Marked(d[0]));
}

TEST_F(Cameras, UnreadableNameSkipsTheDeviceAndUnreadableLinkKeepsTheName)
{
  Configure(
      "camera name=A link=vc#a name-error=0x80004005\nformat subtype=YUY2 size=640x480 rate=30/1\n"
      "camera name=B link=vc#b link-error=0x80070005\nformat subtype=YUY2 size=640x480 rate=30/1\n"
      "camera name=C link=vc#c\nformat subtype=YUY2 size=640x480 rate=30/1\n");
  TPictor pictor;
  TPictorDescr d[3], marker;
  Mark(d, 3);
  Mark(&marker, 1);
  EXPECT_EQ(pictor.EnumerateWebCameras(d, 3), 3);
  EXPECT_TRUE(Marked(d[0]));
  EXPECT_STREQ(d[1].FriendlyName, L"B");
  EXPECT_EQ(memcmp(d[1].SymbolicLink, marker.SymbolicLink, sizeof(marker.SymbolicLink)), 0);
  EXPECT_STREQ(d[2].SymbolicLink, L"vc#c");
  EXPECT_NO_LIVE_CAMERA_OBJECTS();
}

// --- Capture formats: six native types, MJPG the one no converter accepts ------------

const wchar_t kLink[] = L"vc#mixed";

class CaptureFormats : public Cameras {
 protected:
  void SetUp() override
  {
    Configure(
        "camera name=Mixed link=vc#mixed\nformat subtype=YUY2 size=640x480 rate=30/1\n"
        "format subtype=MJPG size=640x480 rate=30/1\n"
        "format subtype=NV12 size=1280x720 rate=15/1 omit=MF_MT_AM_FORMAT_TYPE\n"
        "format subtype=RGB32 size=640x480 rate=30/1\n"
        "format subtype=ARGB32 size=640x480 rate=25/1 stride=-2560\n"
        "format subtype=I420 size=1920x1080 rate=30/1\n");
  }
  TPictor pictor;
};

TEST_F(CaptureFormats, RefusedTypesAreSkippedNoRecordBeyondTheCapacityIsWrittenAndIndexesFallBack)
{
  EXPECT_EQ(pictor.GetCaptureFormatsCount(kLink), 5);
  // The Color Converter refuses MJPG with MF_E_INVALIDMEDIATYPE, as on Windows: an
  // ordinary line, not an error.
  const CapturedRecord* refusal =
      FindRecord(LogCapture::Get().Records(), "TMFVideoConverter::CanUseAsInputType SetInputType error: c00d36b4");
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->kind, 0u);
  TPictorFormat f[3];
  Mark(f, 3);
  EXPECT_EQ(pictor.EnumerateCaptureFormats(kLink, nullptr, 2), 5);
  EXPECT_EQ(pictor.EnumerateCaptureFormats(kLink, f, 0), 5);
  EXPECT_EQ(pictor.EnumerateCaptureFormats(kLink, f, -3), 5);
  EXPECT_TRUE(Marked(f[0]));
  EXPECT_EQ(pictor.EnumerateCaptureFormats(kLink, f, 2), 2);
  EXPECT_EQ(f[0].SubType, MFVideoFormat_YUY2);
  EXPECT_EQ(f[1].SubType, MFVideoFormat_NV12);  // MJPG in between is not counted
  EXPECT_TRUE(Marked(f[2]));
  // By index: an index out of range falls back to the first format.
  for (int index : {-1, 5, 1}) {
    const TPictorFormat byIndex = pictor.GetPictorFormatByIndex(kLink, index);
    EXPECT_EQ(memcmp(&byIndex, &f[index == 1 ? 1 : 0], sizeof(byIndex)), 0) << "index " << index;
  }
  EXPECT_NO_LIVE_CAMERA_OBJECTS();
}

}  // namespace
