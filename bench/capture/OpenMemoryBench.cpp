// Memory per camera open: how the process grows over many stops and starts of one capture,
// over many reconnections and frames of a running one, and, for comparison, over the
// platform's own open and close of the same camera (source, reader, one frame, shutdown) and
// over the reads of its asynchronous reader. Each is measured
// after a warm-up, at two lengths (the first cycles, then the same number again and more),
// so that a cache that fills once shows as growth that stops, and a leak as growth that goes
// on at the same rate. Figures: page-file bytes (what Wine reports in place of private
// bytes), and the bytes and blocks in use on the process's heaps, per cycle.
#include "Pictor.h"
#include "tools/virtualcam/VirtualCamControl.h"

#include <windows.h>

#include <mfapi.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <psapi.h>
#include <wrl/client.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

const wchar_t kLink[] = L"\\\\?\\virtualcam#memory";
const char kCamera[] = "camera link=\\\\?\\virtualcam#memory\nformat subtype=YUY2 size=320x240 rate=60/1\n";

struct TMemory {
  long long PageFile = 0;
  long long HeapBytes = 0;
  long long HeapBlocks = 0;
};

TMemory Measure()
{
  TMemory memory;
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
  memory.PageFile = static_cast<long long>(counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage);
  std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
  heaps.resize(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
  for (HANDLE heap : heaps) {
    if (!HeapLock(heap)) continue;
    PROCESS_HEAP_ENTRY entry = {};
    while (HeapWalk(heap, &entry)) {
      if (!(entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)) continue;
      memory.HeapBytes += entry.cbData;
      ++memory.HeapBlocks;
    }
    HeapUnlock(heap);
  }
  return memory;
}

struct TCamera {
  HMODULE Module = LoadLibraryW(L"mf.dll");
  template <class T>
  T Get(const char* name) const
  {
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(Module, name)));
  }
};

// A host's frame callback that only counts.
std::atomic<int> gFrames{0};
bool Count(unsigned, unsigned, bool, unsigned char*, void*)
{
  ++gFrames;
  return true;
}

bool WaitForFrames(int frames, DWORD timeoutMs = 5000)
{
  for (DWORD waited = 0; gFrames < frames; waited += 2) {
    if (waited > timeoutMs) return false;
    Sleep(2);
  }
  return true;
}

bool WaitForState(TPictor& pictor, int state, DWORD timeoutMs = 5000)
{
  for (DWORD waited = 0; pictor.GetCaptureStatus().State != state; waited += 2) {
    if (waited > timeoutMs) return false;
    Sleep(2);
  }
  return true;
}

// Runs `cycle` warmUp times, then `first` and `second` times, and prints the growth per
// cycle of each run; false when a cycle failed.
bool Report(const char* what, int warmUp, int first, int second, const std::function<bool()>& cycle)
{
  for (int i = 0; i < warmUp; ++i)
    if (!cycle()) return false;
  TMemory at[3] = {Measure()};
  const int counts[2] = {first, second};
  for (int run = 0; run < 2; ++run) {
    for (int i = 0; i < counts[run]; ++i)
      if (!cycle()) return std::printf("%s: cycle %d failed\n", what, i), false;
    at[run + 1] = Measure();
  }
  std::printf("%-34s", what);
  for (int run = 0; run < 2; ++run) {
    const double n = counts[run];
    std::printf("  cycles %4d: page file %+7.0f B, heap %+7.0f B %+6.2f blocks per cycle", counts[run],
                (at[run + 1].PageFile - at[run].PageFile) / n, (at[run + 1].HeapBytes - at[run].HeapBytes) / n,
                (at[run + 1].HeapBlocks - at[run].HeapBlocks) / n);
  }
  std::printf("\n");
  return true;
}

// The platform's asynchronous reader answering here: signals each answer.
class TAnswers final : public IMFSourceReaderCallback {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override
  {
    *out = iid == __uuidof(IUnknown) || iid == __uuidof(IMFSourceReaderCallback) ? this : nullptr;
    return *out ? (AddRef(), S_OK) : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }  // on main's stack
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP OnReadSample(HRESULT, DWORD, DWORD, LONGLONG, IMFSample*) override { return Answered.Set(), S_OK; }
  STDMETHODIMP OnFlush(DWORD) override { return S_OK; }
  STDMETHODIMP OnEvent(DWORD, IMFMediaEvent*) override { return S_OK; }
  struct TSignal {
    HANDLE Event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    void Set() const { SetEvent(Event); }
    bool Wait() const { return WaitForSingleObject(Event, 2000) == WAIT_OBJECT_0; }
  } Answered;
};

ComPtr<IMFMediaSource> OpenCamera(HRESULT(WINAPI* createSource)(IMFAttributes*, IMFMediaSource**))
{
  ComPtr<IMFAttributes> attributes;
  ComPtr<IMFMediaSource> source;
  MFCreateAttributes(&attributes, 2);
  attributes->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID);
  attributes->SetString(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK, kLink);
  if (FAILED(createSource(attributes.Get(), &source))) source.Reset();
  return source;
}

}  // namespace

int main(int argc, char** argv)
{
  const int first = argc > 1 ? std::atoi(argv[1]) : 300;
  const int second = argc > 2 ? std::atoi(argv[2]) : 700;
  const int warmUp = 30;
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  MFStartup(MF_VERSION, MFSTARTUP_FULL);
  const TCamera camera;
  auto configure = camera.Get<VirtualCam_Configure_t>("VirtualCam_Configure");
  auto createSource = camera.Get<HRESULT(WINAPI*)(IMFAttributes*, IMFMediaSource**)>("MFCreateDeviceSource");
  auto unplug = camera.Get<VirtualCam_Unplug_t>("VirtualCam_Unplug");
  auto plug = camera.Get<VirtualCam_Plug_t>("VirtualCam_Plug");
  char error[200];
  if (!configure || !createSource || !unplug || !plug || configure(kCamera, error, sizeof error) != 0) {
    std::printf("the virtual camera (mf.dll beside the program) is missing\n");
    return 1;
  }
  std::printf("growth per cycle after %d warm-up cycles, over the first %d cycles and the %d after them\n", warmUp,
              first, second);

  // "reconnection" as the third argument: that row only.
  const bool all = argc < 4 || std::strcmp(argv[3], "reconnection") != 0;
  // The platform alone: what an open and close of the camera costs without the library.
  bool ok = !all || Report("platform open, one frame, close", warmUp, first, second, [&] {
    ComPtr<IMFMediaSource> source = OpenCamera(createSource);
    ComPtr<IMFSourceReader> reader;
    if (!source || FAILED(MFCreateSourceReaderFromMediaSource(source.Get(), nullptr, &reader))) return false;
    DWORD flags = 0;
    ComPtr<IMFSample> sample;
    const HRESULT hr =
        reader->ReadSample(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, nullptr, &flags, nullptr, sample.GetAddressOf());
    source->Shutdown();
    return SUCCEEDED(hr) && sample;
  });

  // The platform's asynchronous reader (the library's kind) over one open camera, per read.
  {
    TAnswers answers;
    ComPtr<IMFMediaSource> source = OpenCamera(createSource);
    ComPtr<IMFAttributes> attributes;
    ComPtr<IMFSourceReader> reader;
    MFCreateAttributes(&attributes, 1);
    attributes->SetUnknown(MF_SOURCE_READER_ASYNC_CALLBACK, &answers);
    ok = ok &&
         (!all || (source && SUCCEEDED(MFCreateSourceReaderFromMediaSource(source.Get(), attributes.Get(), &reader))));
    ok = ok && (!all || Report("platform asynchronous read", warmUp, first, second, [&] {
           return SUCCEEDED(
                      reader->ReadSample(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, nullptr, nullptr, nullptr, nullptr)) &&
                  answers.Answered.Wait();
         }));
    if (source) source->Shutdown();
  }

  // One object, stopped and started again, a frame delivered each time.
  TPictor pictor;
  ok = ok && (!all || Report("library stop and start", warmUp, first, second, [&] {
         const int frames = gFrames;
         if (!pictor.StartCapture(kLink, 0, true, Count, nullptr)) return false;
         const bool delivered = WaitForFrames(frames + 1);
         pictor.StopCapture();
         return delivered;
       }));

  // One running capture whose camera is unplugged and plugged back, a frame after each return.
  pictor.SetAutoReconnect(true);
  ok = ok && pictor.StartCapture(kLink, 0, true, Count, nullptr);
  ok = ok && (!all || Report("library frame of a running capture", warmUp, first, second,
                             [&] { return WaitForFrames(gFrames + 1); }));
  ok = ok && Report("library reconnection", warmUp / 3, first / 3, second / 3, [&] {
         const char* step = "lost";
         unplug(kLink);
         if (WaitForState(pictor, PICTOR_CAPTURE_RECONNECTING)) {
           plug(kLink);
           step = "resumed";
           if (WaitForState(pictor, PICTOR_CAPTURE_RUNNING) && (step = "a frame", WaitForFrames(gFrames + 1)))
             return true;
         }
         const TPictorCaptureStatus status = pictor.GetCaptureStatus();
         std::printf("not %s within 5 s: state %d, result %x\n", step, status.State,
                     static_cast<unsigned>(status.Error));
         plug(kLink);
         return false;
       });
  pictor.StopCapture();
  MFShutdown();
  CoUninitialize();
  return ok ? 0 : 1;
}
