// How the capture thread's loop ends and what it does with each read, over a scripted
// source reader (white-box). Wine's own reader cannot produce every outcome: it reports
// a failed stream as a failed ReadSample, never as the error flag on a successful read.
#include "Pictor.h"
#include "common/Ownership_win.h"
#include "convert/MFVideoConverter.h"

#include <mferror.h>

#include "CaptureTestSupport.h"
#include "TestAccess.h"

using namespace capturetest;

namespace {

struct Read {
  HRESULT result;
  DWORD flags;
  ComPtr<IMFSample> sample;
  HRESULT cameraFault = S_OK;  // reported by the camera's source once the read is answered
  bool reopened = false;       // a reader opened anew takes over first; the earlier one answers late
};

// Answers each asynchronous ReadSample from a script, at once through the session's
// callback; past its end every read fails with E_FAIL. It lives on the test's stack. A
// reader opened anew (as a reconnection opens one) takes over before the read's answer:
// the earlier reader answers late (a failure, then a flush) and its source reports a fault.
class ScriptedReader : public StubReader {
 public:
  ScriptedReader(TPictor& owner, std::vector<Read> script) : Owner(owner), Script(std::move(script)) {}
  STDMETHODIMP ReadSample(DWORD, DWORD, DWORD*, DWORD*, LONGLONG*, IMFSample**) override
  {
    const size_t call = Calls++;
    TReadCallback* session = TPictorTestAccess::ReadCallback(Owner);
    if (!Answers) Answers = AdoptComPtr(session->OpenReaderLine(&Line));
    if (call >= Script.size()) return Answers->OnReadSample(E_FAIL, 0, MF_SOURCE_READERF_ERROR, 0, nullptr);
    const Read& read = Script[call];
    if (read.reopened) {
      const ComPtr<IMFSourceReaderCallback> lost = Answers;
      Answers = AdoptComPtr(session->OpenReaderLine(&Line));
      lost->OnReadSample(MF_E_INVALIDREQUEST, 0, MF_SOURCE_READERF_ERROR, 0, nullptr);
      lost->OnFlush(0);
      session->Fault(Line - 1, E_FAIL);
    }
    const HRESULT hr = Answers->OnReadSample(read.result, 0, read.flags, 0, read.sample.Get());
    if (FAILED(read.cameraFault)) session->Fault(Line, read.cameraFault);
    return hr;
  }
  ComPtr<IMFSourceReaderCallback> Answers;  // the current reader's
  unsigned Line = 0;
  TPictor& Owner;
  std::vector<Read> Script;
  std::atomic<size_t> Calls{0};
};

class CaptureThreadTest : public ::testing::Test {
 protected:
  void SetUp() override { LogCapture::Get().SetLevel(2); }

  // Runs the loop to its end on this thread over a fresh converter, waits for the one
  // frame it should deliver and stops (which joins the converter): the tags delivered.
  std::vector<uint8_t> Run(ScriptedReader& reader)
  {
    FrameSink sink;
    TPictorTestAccess::SetCallback(pictor, FrameSink::Callback, &sink);
    auto* converter = new TMFVideoConverter(&TPictorTestAccess::Session(pictor),
                                            MakeVideoType(MFVideoFormat_RGB32, 1, 1, true, 4).Detach(), true);
    EXPECT_TRUE(converter->bInitialized);
    LogCapture::Get().Clear();
    TPictorTestAccess::RunCaptureThread(pictor, &reader, converter);
    EXPECT_TRUE(sink.WaitFor(1));
    pictor.StopCapture();       // deletes the converter, releases the reader
    std::vector<uint8_t> tags;  // of the first and the last frame
    for (const FrameSink::Frame* frame : {&sink.first, &sink.last})
      if (static_cast<int>(tags.size()) < sink.count) tags.push_back(frame->pixels[0]);
    return tags;
  }

  TPictor pictor;
};

TEST_F(CaptureThreadTest, ErrorFlagEndsTheLoopWithAnyOtherFlagAndItsSampleIsNotUsed)
{
  ScriptedReader reader(pictor, {
                                    {S_OK, MF_SOURCE_READERF_STREAMTICK, nullptr},  // succeeded without a sample
                                    {S_OK, 0, TaggedSample(1)},
                                    {S_OK, MF_SOURCE_READERF_ERROR | MF_SOURCE_READERF_STREAMTICK, TaggedSample(2)},
                                    {S_OK, 0, TaggedSample(3)},
                                });
  EXPECT_EQ(Run(reader), std::vector<uint8_t>{1});
  EXPECT_EQ(reader.Calls, 3u);
  EXPECT_EQ(RefCount(reader.Script[2].sample.Get()), 1u);  // the flagged sample was released
  EXPECT_EQ(RefCount(reader.Script[1].sample.Get()), 1u);  // the reader's sample is not kept
}

// Windows' reader fails the read after a stream's MEError; the library's watch on the
// camera does the same under Wine 8.0, whose reader ignores it. After a reconnection the
// lost reader and its source may still report: none of that answers the new reader's read.
TEST_F(CaptureThreadTest, LateReportsOfAnEarlierReaderAreDroppedTheCameraFaultEndsTheNextReadWithoutAskingIt)
{
  ScriptedReader reader(
      pictor, {{S_OK, 0, TaggedSample(1), MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED, true}, {S_OK, 0, TaggedSample(2)}});
  EXPECT_EQ(Run(reader), std::vector<uint8_t>{1});
  EXPECT_EQ(reader.Calls, 1u);
  // The status is the current reader's camera's, not the earlier one's.
  EXPECT_EQ(LinesStartingWith(LogCapture::Get().Lines(), "TPictor::CaptureThread ReadSample error"),
            std::vector<std::string>{"TPictor::CaptureThread ReadSample error c00d3ea2"});
  const std::string answer = "TPictor::ReadCallback an answer of reader 1 dropped, reader 2 reads now";
  EXPECT_EQ(LinesStartingWith(LogCapture::Get().Lines(), "TPictor::ReadCallback"),
            (std::vector<std::string>{answer, answer,
                                      "TPictor::ReadCallback a failure of reader 1 dropped, reader 2 reads now"}));
}

TEST_F(CaptureThreadTest, SampleThatCannotBeCopiedIsDroppedReleasedAndTheLoopGoesOn)
{
  FakeBuffer unlockable;  // without data
  ComPtr<IMFSample> bad = TaggedSample(1, &unlockable);
  ScriptedReader reader(pictor, {{S_OK, 0, bad}, {S_OK, 0, TaggedSample(2)}});
  const ULONG sampleRefs = RefCount(bad.Get()), bufferRefs = unlockable.Refs;
  EXPECT_EQ(Run(reader), std::vector<uint8_t>{2});
  EXPECT_EQ(reader.Calls, 3u);  // the third read ends the script
  const CapturedRecord* dropped =
      FindRecord(LogCapture::Get().Records(), "TPictor::CaptureThread sample copy failed, frame dropped");
  ASSERT_TRUE(dropped);
  EXPECT_EQ(dropped->kind, 2u);
  // Nothing of the failed copy is kept: no reference to the sample or its buffer.
  EXPECT_EQ(RefCount(bad.Get()), sampleRefs);
  EXPECT_EQ(unlockable.Refs, bufferRefs);
}

// A driver's buffer reporting a current length over its maximum: the copy takes what the
// buffer holds (its bytes end where a page nobody may read begins); one line per capture.
TEST_F(CaptureThreadTest, CurrentLengthOverTheMaximumIsClampedAndLoggedOnce)
{
  BYTE* pages = static_cast<BYTE*>(VirtualAlloc(nullptr, 8192, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  DWORD protection = 0;
  ASSERT_TRUE(pages && VirtualProtect(pages + 4096, 4096, PAGE_NOACCESS, &protection));
  FakeBuffer overlong;
  overlong.Data = pages + 4092, overlong.CurrentLength = 64;
  ComPtr<IMFSample> sample = TaggedSample(1, &overlong);
  sample->AddBuffer(&overlong);  // twice in the frame
  ScriptedReader reader(pictor, {{S_OK, 0, sample}});
  EXPECT_EQ(Run(reader), std::vector<uint8_t>{1});
  const std::vector<std::string> lines = LogCapture::Get().Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(),
                       "PictorDuplicateBuffer current length 64 is over the buffer's maximum of 4, 4 bytes copied"),
            1);
  sample.Reset();
  VirtualFree(pages, 0, MEM_RELEASE);
}

}  // namespace
