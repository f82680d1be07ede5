// The media source driven directly, without a reader, as a platform pipeline drives it.
#include "tests/virtualcam/VirtualCamFixture.h"

namespace {

MediaEventType NextEventType(IMFMediaEventGenerator* generator, PROPVARIANT* value = nullptr) {
  ComPtr<IMFMediaEvent> event;
  if (FAILED(generator->GetEvent(0, &event))) return MEUnknown;
  MediaEventType type = MEUnknown;
  event->GetType(&type);
  if (value) event->GetValue(value);
  return type;
}

}  // namespace

TEST_F(VirtualCamTest, StartStopAndSecondStartQueueTheEventsAPipelineWaitsFor) {
  Configure("camera name=S link=s paced=0\nformat subtype=YUY2 size=64x32 rate=30/1\n");
  ComPtr<IMFMediaSource> source;
  ASSERT_EQ(CreateSource(L"s", &source), S_OK);
  ComPtr<IMFPresentationDescriptor> pd;
  ASSERT_EQ(source->CreatePresentationDescriptor(&pd), S_OK);
  PROPVARIANT start;
  PropVariantInit(&start);

  ASSERT_EQ(source->Start(pd.Get(), nullptr, &start), S_OK);
  PROPVARIANT value;
  PropVariantInit(&value);
  ASSERT_EQ(NextEventType(source.Get(), &value), MENewStream);
  ComPtr<IMFMediaStream> stream;
  ASSERT_EQ(value.vt, VT_UNKNOWN);
  ASSERT_EQ(value.punkVal->QueryInterface(IID_PPV_ARGS(&stream)), S_OK);
  PropVariantClear(&value);
  EXPECT_EQ(NextEventType(source.Get()), MESourceStarted);
  EXPECT_EQ(NextEventType(stream.Get()), MEStreamStarted);

  ASSERT_EQ(stream->RequestSample(nullptr), S_OK);
  ASSERT_EQ(NextEventType(stream.Get()), MEMediaSample);

  ASSERT_EQ(source->Start(pd.Get(), nullptr, &start), S_OK);
  EXPECT_EQ(NextEventType(source.Get()), MEUpdatedStream);
  EXPECT_EQ(NextEventType(source.Get()), MESourceStarted);
  EXPECT_EQ(NextEventType(stream.Get()), MEStreamStarted);

  ASSERT_EQ(source->Stop(), S_OK);
  EXPECT_EQ(NextEventType(stream.Get()), MEStreamStopped);
  EXPECT_EQ(NextEventType(source.Get()), MESourceStopped);
  EXPECT_EQ(stream->RequestSample(nullptr), MF_E_MEDIA_SOURCE_WRONGSTATE);

  ComPtr<IMFMediaSource> owner;
  ASSERT_EQ(stream->GetMediaSource(&owner), S_OK);
  EXPECT_EQ(owner.Get(), source.Get());
  owner.Reset();

  ASSERT_EQ(source->Shutdown(), S_OK);
  EXPECT_EQ(source->Start(pd.Get(), nullptr, &start), MF_E_SHUTDOWN);
  EXPECT_EQ(stream->RequestSample(nullptr), MF_E_SHUTDOWN);
  EXPECT_EQ(stream->GetMediaSource(&owner), MF_E_SHUTDOWN);
}

TEST_F(VirtualCamTest, SourceReleasedWithoutShutdownLeavesNothingBehind) {
  Configure("camera name=S link=s\nformat subtype=YUY2 size=64x32 rate=30/1\n");
  ComPtr<IMFMediaSource> source;
  ASSERT_EQ(CreateSource(L"s", &source), S_OK);
  ComPtr<IMFPresentationDescriptor> pd;
  ASSERT_EQ(source->CreatePresentationDescriptor(&pd), S_OK);
  PROPVARIANT start;
  PropVariantInit(&start);
  ASSERT_EQ(source->Start(pd.Get(), nullptr, &start), S_OK);
  EXPECT_GT(Counts().total, 0);
  // The fixture checks that every object is gone after the test.
}

// Wine 8.0's reader reads native type 0 while it is created, so a camera whose first
// type fails, or that has none, cannot get a reader; the source itself stays usable.
TEST_F(VirtualCamTest, CameraWithoutAUsableFirstTypeGetsNoReader) {
  Configure(
      "camera name=Z link=z type-error-at=0\nformat subtype=YUY2 size=64x32 rate=30/1\n"
      "camera name=Empty link=empty paced=0\n");
  for (const wchar_t* link : {L"z", L"empty"}) {
    ComPtr<IMFMediaSource> source;
    ASSERT_EQ(CreateSource(link, &source), S_OK);
    ComPtr<IMFSourceReader> reader;
    EXPECT_TRUE(FAILED(MFCreateSourceReaderFromMediaSource(source.Get(), nullptr, &reader)));
    EXPECT_FALSE(reader);
    source->Shutdown();
  }

  ComPtr<IMFMediaSource> source;
  ASSERT_EQ(CreateSource(L"empty", &source), S_OK);
  ComPtr<IMFPresentationDescriptor> pd;
  ASSERT_EQ(source->CreatePresentationDescriptor(&pd), S_OK);
  PROPVARIANT start;
  PropVariantInit(&start);
  ASSERT_EQ(source->Start(pd.Get(), nullptr, &start), S_OK);
  PROPVARIANT value;
  PropVariantInit(&value);
  ASSERT_EQ(NextEventType(source.Get(), &value), MENewStream);
  ComPtr<IMFMediaStream> stream;
  ASSERT_EQ(value.punkVal->QueryInterface(IID_PPV_ARGS(&stream)), S_OK);
  PropVariantClear(&value);
  EXPECT_EQ(stream->RequestSample(nullptr), MF_E_INVALIDMEDIATYPE);
  ComPtr<IMFStreamDescriptor> sd;
  BOOL selected = FALSE;
  ASSERT_EQ(pd->GetStreamDescriptorByIndex(0, &selected, &sd), S_OK);
  ComPtr<IMFMediaTypeHandler> handler;
  ASSERT_EQ(sd->GetMediaTypeHandler(&handler), S_OK);
  DWORD types = 5;
  EXPECT_EQ(handler->GetMediaTypeCount(&types), S_OK);
  EXPECT_EQ(types, 0u);
  source->Shutdown();
}

// Wine's mfreadwrite takes MFCreatePresentationClock from mf.dll; the double passes the
// call to the system's mf.dll.
TEST_F(VirtualCamTest, PresentationClockComesFromTheSystemLibrary) {
  typedef HRESULT(WINAPI * CreateClock_t)(IMFPresentationClock**);
  auto createClock = reinterpret_cast<CreateClock_t>(
      reinterpret_cast<void*>(GetProcAddress(module_, "MFCreatePresentationClock")));
  ASSERT_NE(createClock, nullptr);
  ComPtr<IMFPresentationClock> clock;
  EXPECT_EQ(createClock(&clock), S_OK);
  EXPECT_TRUE(clock);
}
