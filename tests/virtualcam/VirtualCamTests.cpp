// What only the virtual camera's own program can tell, because the library's tests would
// take a fault of it for one of theirs or miss it: the live-object counts their leak
// checks trust, and the configuration file read at first use (this program's CMake entry
// names envconfig.txt in PICTOR_VIRTUALCAM_CONFIG; nothing here calls VirtualCam_Configure).
#include "tests/support/HostTest.h"

#include <mfapi.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;
using pictortest::VirtualCamera;

static auto* const g_com = ::testing::AddGlobalTestEnvironment(new pictortest::ComEnvironment);

namespace {

const wchar_t kFileCamera[] = L"\\\\?\\virtualcam#file";

class VirtualCamTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { MFStartup(MF_VERSION, MFSTARTUP_FULL); }
  static void TearDownTestSuite() { MFShutdown(); }

  static HRESULT CreateSource(const wchar_t* link, IMFMediaSource** source)
  {
    using Create = HRESULT(WINAPI*)(IMFAttributes*, IMFMediaSource**);
    auto create = reinterpret_cast<Create>(
        reinterpret_cast<void*>(GetProcAddress(VirtualCamera::Get().Module(), "MFCreateDeviceSource")));
    ComPtr<IMFAttributes> attributes;
    if (!create || FAILED(MFCreateAttributes(&attributes, 2)))
      return E_NOTIMPL;  // the virtual camera mf.dll is not beside this program
    attributes->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID);
    attributes->SetString(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK, link);
    return create(attributes.Get(), source);
  }

  // Two samples of the file's camera through the platform's own source reader.
  void ReadTwo(ComPtr<IMFSourceReader>& reader, ComPtr<IMFSample> (&samples)[2])
  {
    ComPtr<IMFMediaSource> source;
    ASSERT_EQ(CreateSource(kFileCamera, &source), S_OK);
    ASSERT_EQ(MFCreateSourceReaderFromMediaSource(source.Get(), nullptr, &reader), S_OK);
    DWORD stream = 0, flags = 0;
    LONGLONG time = 0;
    for (ComPtr<IMFSample>& sample : samples) {
      ASSERT_EQ(reader->ReadSample(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, &stream, &flags, &time, &sample), S_OK);
      ASSERT_TRUE(sample);
    }
  }

  // The platform releases some objects on its work-queue threads: wait for the counts.
  static VirtualCamCounts CountsOnce(bool (*done)(const VirtualCamCounts&))
  {
    VirtualCamCounts counts = VirtualCamera::Get().Counts();
    for (int waited = 0; !done(counts) && waited < 30000; waited += 20, Sleep(20))
      counts = VirtualCamera::Get().Counts();
    return counts;
  }
};

TEST_F(VirtualCamTest, FileCamerasReplaceTheDefaultSetAndHeldSamplesAreCountedUntilReleased)
{
  ComPtr<IMFMediaSource> absent;
  EXPECT_EQ(CreateSource(L"\\\\?\\virtualcam#pictor-bars", &absent), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  ComPtr<IMFSourceReader> reader;
  ComPtr<IMFSample> samples[2];
  ASSERT_NO_FATAL_FAILURE(ReadTwo(reader, samples));
  const VirtualCamCounts held = VirtualCamera::Get().Counts();
  EXPECT_TRUE(held.sources == 1 && held.streams == 1 && held.samples == 2 && held.buffers == 2);

  samples[0].Reset();
  reader.Reset();  // shuts the source down; the second sample outlives it
  const VirtualCamCounts after = CountsOnce([](const VirtualCamCounts& c) { return c.sources == 0; });
  EXPECT_TRUE(after.sources == 0 && after.samples == 1 && after.buffers == 1);
  samples[1].Reset();
  EXPECT_EQ(CountsOnce([](const VirtualCamCounts& c) { return c.total == 0; }).total, 0);
}

}  // namespace
