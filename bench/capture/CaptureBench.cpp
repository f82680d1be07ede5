// Per-frame cost of the capture path at 1920x1080, as ratios to one memcpy of the same
// frame measured in the same run: the capture thread's sample copy, the converter's work
// up to the host callback (conversion where the subtype needs it), the delivery of an
// RGB32 frame to the host, and the frame buffers allocated per frame once running. Then a
// host's view: the time per delivered frame of a whole capture on unpaced MJPG, YUY2, NV12
// and RGB32 cameras, through the system's converter and through the built-in one.
// Frames come from the virtual camera through the platform's source reader.
#include "bench/BenchClock.h"
#include "Pictor.h"
#include "capture/FrameDelivery.h"
#include "capture/PictorState.h"
#include "capture/Session.h"
#include "convert/MFVideoConverter.h"
#include "media/SamplePool.h"
#include "tools/virtualcam/VirtualCamControl.h"

#include <windows.h>

#include <mfapi.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

using Microsoft::WRL::ComPtr;

class TPictorTestAccess {
 public:
  static void SetCallback(TPictor& p, TImageReadyCallback callback, void* context)
  {
    p.pPictorImageReady = callback;
    p.pImageReadyContext = context;
  }
  // A session for a converter made by the bench: its sink (output pool, delivery), as during
  // a capture.
  static TCaptureSession* StartSession(TPictor& p)
  {
    p.pState->Session = TCaptureSession::Create({&p, p.pMFRuntime, L"bench", TPictorFormat(), nullptr,
                                                 &p.pState->Status, &p.pState->AutoReconnect, &p.bStopCapture});
    return p.pState->Session.get();
  }
  static void EndSession(TPictor& p) { p.pState->Session.reset(); }
  static void Deliver(TPictor& p, IMFSample* sample) { p.ProcessRGB32Sample(sample, kWidth, kHeight, true); }
  static constexpr UINT32 kWidth = 1920;
  static constexpr UINT32 kHeight = 1080;
};

namespace {

constexpr UINT32 kWidth = TPictorTestAccess::kWidth;
constexpr UINT32 kHeight = TPictorTestAccess::kHeight;
constexpr int kRounds = 40;
constexpr int kWarmUpRounds = 10;  // the pools fill up to the frames in flight; then steady state

// Median of the per-round times, in microseconds.
double MedianUs(std::vector<double> seconds)
{
  std::sort(seconds.begin(), seconds.end());
  return seconds[seconds.size() / 2] * 1e6;
}

double MemcpyUs(size_t bytes)
{
  std::vector<uint8_t> from(bytes, 0x5A), to(bytes);
  std::vector<double> times;
  for (int round = 0; round < kRounds; ++round) {
    from[round % bytes] = uint8_t(round);
    const double t0 = BenchSeconds();
    std::memcpy(to.data(), from.data(), bytes);
    times.push_back(BenchSeconds() - t0);
  }
  volatile uint8_t sink = to[bytes / 2];
  (void)sink;
  return MedianUs(times);
}

// The same copy into memory that has just been allocated (what a new media buffer
// costs before the copy even starts: the pages are touched for the first time).
double FreshMemcpyUs(size_t bytes)
{
  std::vector<uint8_t> from(bytes, 0x5A);
  std::vector<double> times;
  for (int round = 0; round < kRounds; ++round) {
    const double t0 = BenchSeconds();
    ComPtr<IMFMediaBuffer> buffer;
    BYTE* data = nullptr;
    if (MFCreateMemoryBuffer(DWORD(bytes), &buffer) != S_OK || buffer->Lock(&data, nullptr, nullptr) != S_OK)
      return -1.0;
    std::memcpy(data, from.data(), bytes);
    buffer->Unlock();
    buffer.Reset();
    times.push_back(BenchSeconds() - t0);
  }
  return MedianUs(times);
}

// One sample of the named camera's first native type, read through the source reader.
ComPtr<IMFSample> ReadCameraSample(HMODULE mf, const wchar_t* link, ComPtr<IMFMediaType>* type)
{
  using EnumFn = HRESULT(WINAPI*)(IMFAttributes*, IMFActivate***, UINT32*);
  auto enumerate = reinterpret_cast<EnumFn>(reinterpret_cast<void*>(GetProcAddress(mf, "MFEnumDeviceSources")));
  ComPtr<IMFAttributes> filter;
  MFCreateAttributes(&filter, 1);
  filter->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID);
  IMFActivate** devices = nullptr;
  UINT32 count = 0;
  if (!enumerate || enumerate(filter.Get(), &devices, &count) != S_OK) return nullptr;
  ComPtr<IMFMediaSource> source;
  for (UINT32 i = 0; i < count; ++i) {
    WCHAR* text = nullptr;
    UINT32 length = 0;
    if (!source && devices[i]->GetAllocatedString(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK, &text,
                                                  &length) == S_OK) {
      if (wcscmp(text, link) == 0) devices[i]->ActivateObject(IID_PPV_ARGS(&source));
      CoTaskMemFree(text);
    }
    devices[i]->Release();
  }
  CoTaskMemFree(devices);
  ComPtr<IMFSourceReader> reader;
  if (!source || MFCreateSourceReaderFromMediaSource(source.Get(), nullptr, &reader) != S_OK) return nullptr;
  reader->GetNativeMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, type->ReleaseAndGetAddressOf());
  reader->SetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, nullptr, type->Get());
  ComPtr<IMFSample> sample;
  for (int attempt = 0; attempt < 10 && !sample; ++attempt) {
    DWORD stream = 0, flags = 0;
    LONGLONG time = 0;
    if (reader->ReadSample(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, &stream, &flags, &time, &sample) != S_OK) break;
  }
  source->Shutdown();
  return sample;
}

struct Delivery {
  HANDLE done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  double at = 0;
  static bool Callback(unsigned, unsigned, bool, unsigned char* pixels, void* context)
  {
    auto* d = static_cast<Delivery*>(context);
    volatile unsigned char touch = pixels[0];  // the host reads the frame
    (void)touch;
    d->at = BenchSeconds();
    SetEvent(d->done);
    return true;
  }
};

// Time from handing a copy to the converter until the host callback starts. The copies
// come from `pool`, as the capture thread's do; `allocated` receives the buffers both
// pools allocated after the warm-up rounds.
double ConvertAndDeliverUs(TPictor& pictor, IMFMediaType* type, IMFSample* sample, TSamplePool* pool, LONG* allocated)
{
  Delivery delivery;
  TPictorTestAccess::SetCallback(pictor, Delivery::Callback, &delivery);
  type->AddRef();
  auto* converter = new TMFVideoConverter(TPictorTestAccess::StartSession(pictor), type, true);
  std::vector<double> times;
  LONG steadyStart = 0;
  if (converter->bInitialized) {
    for (int round = 0; round < kRounds + kWarmUpRounds; ++round) {
      if (round == kWarmUpRounds) steadyStart = TSamplePool::BuffersAllocated();
      IMFSample* copy = PictorDuplicateSample(sample, pool);
      // Wait until the convert thread has let go of the previous frame, or the
      // mailbox would drop this one.
      for (;;) {
        if (TryEnterCriticalSection(&converter->SampleLock)) {
          const bool idle = converter->pInputSample == nullptr;
          LeaveCriticalSection(&converter->SampleLock);
          if (idle) break;
        }
        Sleep(0);
      }
      const double t0 = BenchSeconds();
      converter->SetInputSample(copy);
      if (WaitForSingleObject(delivery.done, 5000) != WAIT_OBJECT_0) break;
      if (round >= kWarmUpRounds) times.push_back(delivery.at - t0);
    }
  }
  *allocated = TSamplePool::BuffersAllocated() - steadyStart;
  delete converter;
  TPictorTestAccess::EndSession(pictor);
  CloseHandle(delivery.done);
  TPictorTestAccess::SetCallback(pictor, nullptr, nullptr);
  return times.empty() ? -1.0 : MedianUs(times);
}

// ProcessRGB32Sample of a ready RGB32 frame: lock, host callback, unlock.
double DeliveryUs(TPictor& pictor)
{
  ComPtr<IMFSample> sample;
  ComPtr<IMFMediaBuffer> buffer;
  const DWORD bytes = kWidth * kHeight * 4;
  if (MFCreateSample(&sample) != S_OK || MFCreateMemoryBuffer(bytes, &buffer) != S_OK ||
      buffer->SetCurrentLength(bytes) != S_OK || sample->AddBuffer(buffer.Get()) != S_OK)
    return -1.0;
  Delivery delivery;
  TPictorTestAccess::SetCallback(pictor, Delivery::Callback, &delivery);
  std::vector<double> times;
  for (int round = 0; round < kRounds; ++round) {
    const double t0 = BenchSeconds();
    TPictorTestAccess::Deliver(pictor, sample.Get());
    times.push_back(BenchSeconds() - t0);
  }
  CloseHandle(delivery.done);
  TPictorTestAccess::SetCallback(pictor, nullptr, nullptr);
  return MedianUs(times);
}

// A host's capture through TPictor on an unpaced camera: frames delivered per second,
// the median of eight 250 ms windows after half a second of running (the start-up waits
// for the first frames, which covers the virtual camera's one-time encoding of its MJPG
// picture), so that a burst of other work on the machine moves one window, not the
// figure; and the frame buffers allocated per delivered frame over those windows. 0 when
// the conversion lists no format for the camera, -1 when the capture delivers nothing.
struct FrameCounter {
  std::atomic<long> frames{0};
  static bool Callback(unsigned, unsigned, bool, unsigned char* pixels, void* context)
  {
    volatile unsigned char touch = pixels[0];
    (void)touch;
    ++static_cast<FrameCounter*>(context)->frames;
    return true;
  }
};

double HostFramesPerSecond(const wchar_t* link, TPictorConversion conversion, double* buffersPerFrame = nullptr)
{
  TPictor pictor;
  pictor.SetConversion(conversion);
  if (pictor.GetCaptureFormatsCount(link) <= 0) return 0.0;
  FrameCounter counter;
  if (!pictor.StartCapture(link, 0, true, FrameCounter::Callback, &counter)) return -1.0;
  for (int wait = 0; wait < 300 && counter.frames.load() < 2; ++wait) Sleep(100);
  Sleep(500);
  std::vector<double> rates;
  const LONG buffersBefore = TSamplePool::BuffersAllocated();
  const long framesBefore = counter.frames.load();
  for (int window = 0; window < 8; ++window) {
    const long first = counter.frames.load();
    const double t0 = BenchSeconds();
    Sleep(250);
    rates.push_back((counter.frames.load() - first) / (BenchSeconds() - t0));
  }
  const long frames = counter.frames.load() - framesBefore;
  if (buffersPerFrame)
    *buffersPerFrame = frames > 0 ? (TSamplePool::BuffersAllocated() - buffersBefore) / double(frames) : -1.0;
  pictor.StopCapture();
  std::sort(rates.begin(), rates.end());
  const double median = (rates[3] + rates[4]) / 2;
  return median > 0 ? median : -1.0;
}

}  // namespace

int main()
{
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  HMODULE mf = LoadLibraryW(L"mf.dll");
  auto configure =
      mf ? reinterpret_cast<VirtualCam_Configure_t>(reinterpret_cast<void*>(GetProcAddress(mf, "VirtualCam_Configure")))
         : nullptr;
  if (!configure) {
    std::printf("capture bench: the virtual camera mf.dll is not beside the program\n");
    return 1;
  }
  const char* subtypes[] = {"YUY2", "NV12", "I420", "RGB32"};
  std::string config;
  for (const char* s : subtypes)
    config += std::string("camera name=\"") + s + "\" link=\"bench#" + s + "\" pattern=bars\nformat subtype=" + s +
              " size=1920x1080 rate=30/1\n";
  // Frames as fast as the path takes them. The grain makes the MJPG frames as large as a
  // webcam's (about 280 KB); plain bars compress to a seventh of that and decode faster.
  const char* unpaced[] = {"MJPG", "YUY2", "NV12", "RGB32"};
  for (const char* s : unpaced)
    config += std::string("camera name=\"Unpaced ") + s + "\" link=\"bench#unpaced-" + s +
              "\" pattern=bars noise=12 paced=0\nformat subtype=" + s + " size=1920x1080 rate=30/1\n";
  // 3840x2160 MJPG with grain, as 4K webcams send: frames of about 1 MB whose length
  // varies from frame to frame.
  config +=
      "camera name=\"Unpaced 4K MJPG\" link=\"bench#unpaced-4k-MJPG\" pattern=bars noise=12 paced=0\n"
      "format subtype=MJPG size=3840x2160 rate=30/1\n";
  char error[200] = {};
  if (configure(config.c_str(), error, sizeof error) != 0) {
    std::printf("capture bench: camera configuration refused: %s\n", error);
    return 1;
  }

  TPictor pictor;
  const double memcpyRGB = MemcpyUs(size_t(kWidth) * kHeight * 4);
  std::printf("capture path per frame at %ux%u, median of %d rounds (Wine, virtual camera)\n", kWidth, kHeight,
              kRounds);
  std::printf("memcpy of one RGB32 frame (%u bytes): %.0f us\n", kWidth * kHeight * 4, memcpyRGB);
  const double deliverUs = DeliveryUs(pictor);
  std::printf("delivery of an RGB32 frame to the host (lock, callback, unlock): %.0f us = %.2f x memcpy\n", deliverUs,
              deliverUs / memcpyRGB);
  std::printf("%-6s %10s %10s %10s %9s %8s %13s %8s %8s %11s\n", "input", "bytes", "memcpy us", "new buf us", "copy us",
              "copy x", "convert+cb us", "x RGB32", "total x", "bufs/frame");
  int status = 0;
  for (const char* s : subtypes) {
    wchar_t link[32];
    swprintf(link, 32, L"bench#%hs", s);
    ComPtr<IMFMediaType> type;
    ComPtr<IMFSample> sample = ReadCameraSample(mf, link, &type);
    DWORD bytes = 0;
    if (!sample || sample->GetTotalLength(&bytes) != S_OK) {
      std::printf("%-6s no frame from the virtual camera\n", s);
      status = 1;
      continue;
    }
    const double memcpyIn = MemcpyUs(bytes);
    const double freshIn = FreshMemcpyUs(bytes);
    // The capture thread's copies, from a pool as in a running capture.
    TSamplePool pool;
    std::vector<double> copyTimes;
    for (int round = 0; round < kRounds + kWarmUpRounds; ++round) {
      const double t0 = BenchSeconds();
      IMFSample* copy = PictorDuplicateSample(sample.Get(), &pool);
      if (round >= kWarmUpRounds) copyTimes.push_back(BenchSeconds() - t0);
      copy->Release();
    }
    const double copyUs = MedianUs(copyTimes);
    LONG allocated = 0;
    const double convertUs = ConvertAndDeliverUs(pictor, type.Get(), sample.Get(), &pool, &allocated);
    if (convertUs < 0) {
      std::printf("%-6s the converter delivered nothing\n", s);
      status = 1;
      continue;
    }
    std::printf("%-6s %10lu %10.0f %10.0f %9.0f %8.2f %13.0f %8.2f %8.2f %11.2f\n", s,
                static_cast<unsigned long>(bytes), memcpyIn, freshIn, copyUs, copyUs / memcpyIn, convertUs,
                convertUs / memcpyRGB, (copyUs + convertUs) / memcpyRGB, double(allocated) / kRounds);
  }
  std::printf(
      "copy x: sample copy / memcpy of the input frame; x RGB32 and total x: / memcpy of the RGB32 frame\n"
      "new buf: MFCreateMemoryBuffer + memcpy into it, what a copy into a new buffer would cost\n"
      "bufs/frame: frame buffers the copy and output pools allocated per frame after %d warm-up frames\n",
      kWarmUpRounds);

  std::printf(
      "\nhost capture, unpaced %ux%u cameras (bars with grain): time per delivered frame in memcpys of the RGB32 "
      "frame\n"
      "%-6s %-32s %-32s\n",
      kWidth, kHeight, "input", "system converter", "built-in converter");
  for (const char* s : unpaced) {
    wchar_t link[32];
    swprintf(link, 32, L"bench#unpaced-%hs", s);
    std::printf("%-6s", s);
    for (TPictorConversion conversion : {pcSystemConverter, pcBuiltIn}) {
      const double fps = HostFramesPerSecond(link, conversion);
      char cell[64];
      if (fps == 0.0) {
        std::snprintf(cell, sizeof cell, "not available (not listed)");
      } else if (fps < 0) {
        std::snprintf(cell, sizeof cell, "no frames");
        status = 1;
      } else {
        std::snprintf(cell, sizeof cell, "%6.1f x (%5.2f ms, %5.1f/s)", 1e6 / fps / memcpyRGB, 1e3 / fps, fps);
      }
      std::printf(" %-32s", cell);
    }
    std::printf("\n");
  }

  // 4K MJPG through the built-in converter, decoded on the convert thread alone and by
  // the parallel decoders (one per processor, at most 4): throughput, and the buffers
  // allocated per frame once running (the copies' lengths vary from frame to frame).
  const double memcpy4K = MemcpyUs(size_t(3840) * 2160 * 4);
  std::printf("\nhost capture, unpaced 3840x2160 MJPG (bars with grain, lengths varying), built-in converter\n");
  double fps4K[2] = {};
  for (int parallel = 0; parallel < 2; ++parallel) {
    TMFVideoConverter::JpegDecoderLimit = parallel ? 0 : 1;
    double buffers = -1.0;
    fps4K[parallel] = HostFramesPerSecond(L"bench#unpaced-4k-MJPG", pcBuiltIn, &buffers);
    std::printf("%-18s", parallel ? "parallel decoders" : "one decoder");
    if (fps4K[parallel] <= 0) {
      std::printf(" no frames\n");
      status = 1;
      continue;
    }
    std::printf(" %6.1f x memcpy of the RGB32 frame (%5.2f ms, %5.1f/s), %.2f buffers allocated per frame\n",
                1e6 / fps4K[parallel] / memcpy4K, 1e3 / fps4K[parallel], fps4K[parallel], buffers);
  }
  TMFVideoConverter::JpegDecoderLimit = 0;
  if (fps4K[0] > 0 && fps4K[1] > 0)
    std::printf("parallel / one decoder: %.2f x the frames per second\n", fps4K[1] / fps4K[0]);
  CoUninitialize();
  return status;
}
