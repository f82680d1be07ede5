// How the capture thread's loop ends and what it does with each read, over a scripted
// source reader (white-box). Wine's own reader cannot produce every outcome: it reports
// a failed stream as a failed ReadSample, never as the error flag on a successful read.
#include "Pictor.h"
#include "convert/MFVideoConverter.h"

#include "CaptureTestSupport.h"
#include "MFTestObjects.h"
#include "TestAccess.h"

#include <mferror.h>
#include <mfreadwrite.h>

#include <atomic>
#include <mutex>

using capturetest::Contains;
using capturetest::MakeVideoType;
using capturetest::RefCount;
using capturetest::TaggedSample;
using Microsoft::WRL::ComPtr;
using pictortest::LogCapture;

namespace {

struct Read {
  HRESULT result;
  DWORD flags;
  ComPtr<IMFSample> sample;
};

// Answers ReadSample from a script; past its end every read fails with E_FAIL.
class ScriptedReader : public IMFSourceReader {
 public:
  explicit ScriptedReader(std::vector<Read> script) : Script(std::move(script)) {}

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override
  {
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IMFSourceReader)) {
      *out = static_cast<IMFSourceReader*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++Refs; }
  STDMETHODIMP_(ULONG) Release() override { return --Refs; }  // lives on the test's stack

  STDMETHODIMP ReadSample(DWORD, DWORD, DWORD* index, DWORD* flags, LONGLONG* time, IMFSample** sample) override
  {
    const size_t call = Calls++;
    *index = 0;
    *time = 0;
    *sample = nullptr;
    if (call >= Script.size()) {
      *flags = MF_SOURCE_READERF_ERROR;
      return E_FAIL;
    }
    *flags = Script[call].flags;
    if (Script[call].sample)
      *sample = Script[call].sample.Get(), (*sample)->AddRef();
    return Script[call].result;
  }

  STDMETHODIMP GetStreamSelection(DWORD, BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP SetStreamSelection(DWORD, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP GetNativeMediaType(DWORD, DWORD, IMFMediaType**) override { return E_NOTIMPL; }
  STDMETHODIMP GetCurrentMediaType(DWORD, IMFMediaType**) override { return E_NOTIMPL; }
  STDMETHODIMP SetCurrentMediaType(DWORD, DWORD*, IMFMediaType*) override { return E_NOTIMPL; }
  STDMETHODIMP SetCurrentPosition(REFGUID, REFPROPVARIANT) override { return E_NOTIMPL; }
  STDMETHODIMP Flush(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetServiceForStream(DWORD, REFGUID, REFIID, void**) override { return E_NOTIMPL; }
  STDMETHODIMP GetPresentationAttribute(DWORD, REFGUID, PROPVARIANT*) override { return E_NOTIMPL; }

  std::vector<Read> Script;
  std::atomic<size_t> Calls{0};
  std::atomic<ULONG> Refs{1};
};

struct TagSink {
  std::mutex mutex;
  std::vector<uint8_t> tags;
  static bool Callback(unsigned, unsigned, bool, unsigned char* pixels, void* context)
  {
    auto* sink = static_cast<TagSink*>(context);
    std::lock_guard<std::mutex> lock(sink->mutex);
    sink->tags.push_back(pixels[0]);
    return true;
  }
  std::vector<uint8_t> Tags()
  {
    std::lock_guard<std::mutex> lock(mutex);
    return tags;
  }
};

class CaptureThreadTest : public ::testing::Test {
 protected:
  void SetUp() override
  {
    LogCapture::Get().SetLevel(2);
    TPictorTestAccess::SetCallback(pictor, TagSink::Callback, &sink);
    ComPtr<IMFMediaType> type = MakeVideoType(MFVideoFormat_RGB32, 1, 1, true, 4);
    type.Get()->AddRef();
    converter = new TMFVideoConverter(&pictor, type.Get(), true);
    ASSERT_TRUE(converter->bInitialized);
  }

  // Runs the loop to its end, then lets the converter deliver what it was given.
  std::vector<uint8_t> Run(ScriptedReader& reader)
  {
    LogCapture::Get().Clear();
    TPictorTestAccess::RunCaptureThread(pictor, &reader, converter);
    Sleep(300);
    // The loop ran on this thread; the converter's thread logs in between.
    lines.clear();
    for (const auto& record : LogCapture::Get().Records())
      if (record.threadId == GetCurrentThreadId())
        lines.push_back(record.text);
    pictor.StopCapture();  // deletes the converter, releases the reader
    return sink.Tags();
  }

  TPictor pictor;
  TagSink sink;
  TMFVideoConverter* converter = nullptr;
  std::vector<std::string> lines;  // what the loop wrote
};

TEST_F(CaptureThreadTest, ErrorFlagAloneEndsTheLoopCombinedFlagsDoNot)
{
  ComPtr<IMFSample> last = TaggedSample(3);
  ScriptedReader reader({
      {S_OK, MF_SOURCE_READERF_ERROR | MF_SOURCE_READERF_ENDOFSTREAM, TaggedSample(1)},
      {S_OK, MF_SOURCE_READERF_STREAMTICK, nullptr},  // succeeded without a sample
      {S_OK, MF_SOURCE_READERF_ERROR, TaggedSample(2)},
      {S_OK, 0, last},
  });
  EXPECT_EQ(Run(reader), std::vector<uint8_t>{1});
  EXPECT_EQ(reader.Calls, 3u);
  EXPECT_EQ(RefCount(reader.Script[2].sample.Get()), 1u);  // the flagged sample was released
  EXPECT_TRUE(capturetest::LinesStartingWith(lines, "TPictor::CaptureThread ReadSample error").empty());
  EXPECT_TRUE(Contains(lines, "TPictor::CaptureThread exit"));
  EXPECT_EQ(RefCount(reader.Script[0].sample.Get()), 1u);  // the reader's sample is not kept
}

TEST_F(CaptureThreadTest, SampleThatCannotBeCopiedIsDroppedAndTheLoopGoesOn)
{
  ComPtr<IMFSample> untimed = TaggedSample(1, false);
  ScriptedReader reader({{S_OK, 0, untimed}, {S_OK, 0, TaggedSample(2)}});
  const ULONG refsBefore = RefCount(untimed.Get());
  EXPECT_EQ(Run(reader), std::vector<uint8_t>{2});
  EXPECT_EQ(reader.Calls, 3u);  // the third read ends the script
  const int copyError = capturetest::IndexOf(lines, "PictorDuplicateSample error c00d36c8");
  ASSERT_GE(copyError, 0);
  EXPECT_EQ(lines[copyError + 1], "TPictor::CaptureThread sample copy failed, frame dropped");
  // Nothing of the failed copy is kept: no reference to the sample and no lock on its
  // buffer is left behind.
  EXPECT_EQ(RefCount(untimed.Get()), refsBefore);
  ComPtr<IMFMediaBuffer> buffer;
  untimed->GetBufferByIndex(0, &buffer);
  BYTE* data = nullptr;
  EXPECT_EQ(buffer->Lock(&data, nullptr, nullptr), S_OK);
  buffer->Unlock();
}

}  // namespace
