#include "tools/virtualcam/MediaSource_win.h"

#include <mfapi.h>
#include <mferror.h>
#include <strmif.h>

#include <chrono>
#include <cstdlib>
#include <condition_variable>
#include <thread>

#include "tools/virtualcam/FramePattern.h"

namespace virtualcam {
namespace {

// {5E1B8A52-3C0D-4F7A-9B61-2D4C8E0F7A13}: private sample attribute that holds a
// SampleTracker, so a sample is counted until the last copy of its attributes is gone.
const GUID kSampleTrackerKey = {0x5e1b8a52, 0x3c0d, 0x4f7a, {0x9b, 0x61, 0x2d, 0x4c, 0x8e, 0x0f, 0x7a, 0x13}};

// Status of the stream error a camera reports when it goes away mid-stream.
const HRESULT kStreamErrorStatus = MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED;
// Status of refused sample requests (error-flag-after).
const HRESULT kRefusedRequestStatus = MF_E_INVALIDREQUEST;
// Status of a failing native type (type-error-at).
const HRESULT kTypeErrorStatus = E_FAIL;
// Status of the first read of a camera another application holds (busy).
const HRESULT kBusyStatus = MF_E_HW_MFT_FAILED_START_STREAMING;

// MFSampleExtension_DeviceTimestamp (UINT64, 100 ns, the performance counter's time
// base): when the camera took the frame. Not in every SDK's headers.
const GUID kDeviceTimestampKey = {0x8f3e35e7, 0x2dcd, 0x4887, {0x86, 0x22, 0x2a, 0x58, 0xba, 0xa6, 0x52, 0xb0}};

UINT64 PerformanceCounterIn100ns()
{
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  const UINT64 c = static_cast<UINT64>(counter.QuadPart), f = static_cast<UINT64>(frequency.QuadPart);
  return c / f * 10000000ull + c % f * 10000000ull / f;
}

class SampleTracker final : public TComObject<IUnknown> {
 private:
  ~SampleTracker() = default;
  LiveCount count_{CountKind::Sample};
};

// ---------------------------------------------------------------------------------
// Media type handler over the configured native types. Wine's own handler (from
// MFCreateStreamDescriptor) cannot fail at a chosen index, so the double has its own.

class TypeHandler final : public TComObject<IMFMediaTypeHandler> {
 public:
  TypeHandler(std::shared_ptr<CameraState> camera) : camera_(std::move(camera)) {}

  STDMETHODIMP IsMediaTypeSupported(IMFMediaType* type, IMFMediaType** closest) override
  {
    if (closest) *closest = nullptr;
    if (!type) return E_POINTER;
    return FindType(type) >= 0 ? S_OK : MF_E_INVALIDMEDIATYPE;
  }
  STDMETHODIMP GetMediaTypeCount(DWORD* count) override
  {
    if (!count) return E_POINTER;
    *count = static_cast<DWORD>(camera_->NativeTypes().size());
    return S_OK;
  }
  STDMETHODIMP GetMediaTypeByIndex(DWORD index, IMFMediaType** type) override
  {
    if (!type) return E_POINTER;
    *type = nullptr;
    const int32_t errorAt = camera_->Setup().typeErrorAt;
    if (errorAt >= 0 && index >= static_cast<DWORD>(errorAt)) return kTypeErrorStatus;
    if (index >= camera_->NativeTypes().size()) return MF_E_NO_MORE_TYPES;
    return CopyType(camera_->NativeTypes()[index].Get(), type);
  }
  STDMETHODIMP SetCurrentMediaType(IMFMediaType* type) override
  {
    if (!type) return E_POINTER;
    const int index = FindType(type);
    if (index < 0) return MF_E_INVALIDMEDIATYPE;
    current_ = index;
    return S_OK;
  }
  STDMETHODIMP GetCurrentMediaType(IMFMediaType** type) override
  {
    if (!type) return E_POINTER;
    *type = nullptr;
    if (camera_->NativeTypes().empty()) return MF_E_NOT_INITIALIZED;
    return CopyType(camera_->NativeTypes()[current_].Get(), type);
  }
  STDMETHODIMP GetMajorType(GUID* major) override
  {
    if (!major) return E_POINTER;
    *major = MFMediaType_Video;
    return S_OK;
  }

  // Index of the current native type; a reader that never sets one reads type 0.
  int CurrentIndex() const { return current_; }

 private:
  ~TypeHandler() = default;

  static HRESULT CopyType(IMFMediaType* source, IMFMediaType** out)
  {
    ComPtr<IMFMediaType> copy;
    HRESULT hr = MFCreateMediaType(&copy);
    if (SUCCEEDED(hr)) hr = source->CopyAllItems(copy.Get());
    if (SUCCEEDED(hr)) *out = copy.Detach();
    return hr;
  }

  int FindType(IMFMediaType* type) const
  {
    const auto& types = camera_->NativeTypes();
    const DWORD wanted =
        MF_MEDIATYPE_EQUAL_MAJOR_TYPES | MF_MEDIATYPE_EQUAL_FORMAT_TYPES | MF_MEDIATYPE_EQUAL_FORMAT_DATA;
    for (size_t i = 0; i < types.size(); ++i) {
      DWORD flags = 0;
      types[i]->IsEqual(type, &flags);
      if ((flags & wanted) == wanted) return static_cast<int>(i);
    }
    return -1;
  }

  LiveCount count_{CountKind::Other};
  std::shared_ptr<CameraState> camera_;
  std::atomic<int> current_{0};
};

class StreamDescriptor final : public AttributesForwarder<TComObject<IMFStreamDescriptor, IMFAttributes>> {
 public:
  static HRESULT Create(const std::shared_ptr<CameraState>& camera, StreamDescriptor** out)
  {
    ComPtr<IMFAttributes> attributes;
    HRESULT hr = MFCreateAttributes(&attributes, 4);
    if (FAILED(hr)) return hr;
    auto* sd = new (std::nothrow) StreamDescriptor();
    if (!sd) return E_OUTOFMEMORY;
    sd->attributes_ = attributes;
    sd->handler_ = AdoptComPtr(new (std::nothrow) TypeHandler(camera));
    if (!sd->handler_) {
      sd->Release();
      return E_OUTOFMEMORY;
    }
    *out = sd;
    return S_OK;
  }

  STDMETHODIMP GetStreamIdentifier(DWORD* id) override
  {
    if (!id) return E_POINTER;
    *id = 0;
    return S_OK;
  }
  STDMETHODIMP GetMediaTypeHandler(IMFMediaTypeHandler** handler) override
  {
    if (!handler) return E_POINTER;
    *handler = handler_.Get();
    (*handler)->AddRef();
    return S_OK;
  }

  TypeHandler* Handler() const { return handler_.Get(); }

 private:
  StreamDescriptor() = default;
  ~StreamDescriptor() = default;
  LiveCount count_{CountKind::Other};
  ComPtr<TypeHandler> handler_;
};

// ---------------------------------------------------------------------------------
// The video stream. Sample requests are answered by a delivery thread of the stream,
// at the frame rate (or at once for cameras configured paced=0), each with an
// MEMediaSample event; the thread is started by the first Start and joined by
// Shutdown or the destructor.

class VirtualSource;

class VirtualStream final : public TComObject<IMFMediaStream, IMFMediaEventGenerator>, public UnplugListener {
 public:
  VirtualStream(std::shared_ptr<CameraState> camera, ComPtr<StreamDescriptor> descriptor,
                ComPtr<IMFMediaEventQueue> queue)
      : camera_(std::move(camera)), descriptor_(std::move(descriptor)), queue_(std::move(queue))
  {
    camera_->AddStream(this);
  }

  // The device is gone: MEError says so (a Windows reader fails the read at once) and
  // every later request fails. A request already waiting gets its frame, which was on
  // its way: Wine 8.0's reader ignores MEError and would otherwise wait for it forever
  // (a stream tick does not help: it leaves the reader thinking a sample is still due).
  void OnUnplugged() override
  {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (state_ == State::Shutdown || failed_ != S_OK) return;
      failed_ = kStreamErrorStatus;
    }
    queue_->QueueEventParamVar(MEError, GUID_NULL, kStreamErrorStatus, nullptr);
  }

  // IMFMediaEventGenerator: the stream's own queue.
  STDMETHODIMP GetEvent(DWORD flags, IMFMediaEvent** event) override { return queue_->GetEvent(flags, event); }
  STDMETHODIMP BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override
  {
    return queue_->BeginGetEvent(callback, state);
  }
  STDMETHODIMP EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override
  {
    return queue_->EndGetEvent(result, event);
  }
  STDMETHODIMP QueueEvent(MediaEventType type, REFGUID ext, HRESULT status, const PROPVARIANT* value) override
  {
    return queue_->QueueEventParamVar(type, ext, status, value);
  }

  STDMETHODIMP GetMediaSource(IMFMediaSource** source) override;
  STDMETHODIMP GetStreamDescriptor(IMFStreamDescriptor** descriptor) override
  {
    if (!descriptor) return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ == State::Shutdown) return MF_E_SHUTDOWN;
    *descriptor = descriptor_.Get();
    (*descriptor)->AddRef();
    return S_OK;
  }

  STDMETHODIMP RequestSample(IUnknown* token) override
  {
    HRESULT failure = S_OK;
    bool reportError = false;
    bool endOfStream = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (state_ == State::Shutdown) return MF_E_SHUTDOWN;
      if (state_ != State::Started) return MF_E_MEDIA_SOURCE_WRONGSTATE;
      const CameraSetup& setup = camera_->Setup();
      if (camera_->NativeTypes().empty()) return MF_E_INVALIDMEDIATYPE;  // a camera without formats
      if (failed_ != S_OK) return failed_;
      if (setup.busy || camera_->Unplugged()) {
        // Another application has the camera, or it has gone: the first read fails.
        failed_ = failure = setup.busy ? kBusyStatus : kStreamErrorStatus;
        reportError = true;
      } else if (setup.streamErrorAfter >= 0 && accepted_ >= setup.streamErrorAfter) {
        // The device is gone: say so on the stream (a Windows reader turns MEError into
        // a failed read) and refuse this and every later request (Wine 8.0's reader
        // ignores MEError and fails the read only because the request fails).
        failed_ = failure = kStreamErrorStatus;
        reportError = true;
      } else if (setup.errorFlagAfter >= 0 && accepted_ >= setup.errorFlagAfter) {
        failed_ = failure = kRefusedRequestStatus;
      } else if (setup.endOfStreamAfter >= 0 && accepted_ >= setup.endOfStreamAfter) {
        endOfStream = true;  // the camera has nothing more to give
      } else if (setup.stallAfter >= 0 && accepted_ >= setup.stallAfter) {
        return S_OK;  // a hung driver: the request is taken and never answered
      } else {
        try {
          requests_.emplace_back(token);
        } catch (...) {
          return E_OUTOFMEMORY;
        }
        ++accepted_;
      }
    }
    if (reportError) queue_->QueueEventParamVar(MEError, GUID_NULL, failure, nullptr);
    if (failure != S_OK) return failure;
    if (endOfStream) return queue_->QueueEventParamVar(MEEndOfStream, GUID_NULL, S_OK, nullptr);
    wake_.notify_all();
    return S_OK;
  }

  // Called by the source with its lock held.
  HRESULT Start(const PROPVARIANT* position)
  {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (state_ == State::Shutdown) return MF_E_SHUTDOWN;
      if (state_ != State::Started) {
        // Time stamps count from each start of a stopped stream, as a camera's do.
        frameIndex_ = 0;
        startTime_ = std::chrono::steady_clock::now();
      }
      if (!thread_.joinable()) {
        try {
          thread_ = std::thread([this] { DeliveryLoop(); });
        } catch (...) {
          return E_OUTOFMEMORY;
        }
      }
      state_ = State::Started;
    }
    return queue_->QueueEventParamVar(MEStreamStarted, GUID_NULL, S_OK, position);
  }

  HRESULT Stop()
  {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (state_ == State::Shutdown) return MF_E_SHUTDOWN;
      state_ = State::Stopped;
      requests_.clear();
    }
    wake_.notify_all();
    return queue_->QueueEventParamVar(MEStreamStopped, GUID_NULL, S_OK, nullptr);
  }

  void Shutdown()
  {
    camera_->RemoveStream(this);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (state_ == State::Shutdown) return;
      state_ = State::Shutdown;
      requests_.clear();
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    queue_->Shutdown();
    std::lock_guard<std::mutex> lock(sourceMutex_);
    source_ = nullptr;
  }

  void AttachSource(VirtualSource* source)
  {
    std::lock_guard<std::mutex> lock(sourceMutex_);
    source_ = source;
  }

 private:
  enum class State { Stopped, Started, Shutdown };

  ~VirtualStream() { Shutdown(); }

  static LONGLONG FrameTime(uint64_t index, const Ratio& rate)
  {
    return static_cast<LONGLONG>(index * 10000000ull * rate.den / rate.num);
  }

  void DeliveryLoop()
  {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock,
                 [this] { return state_ == State::Shutdown || (state_ == State::Started && !requests_.empty()); });
      if (state_ == State::Shutdown) return;
      const FormatSetup& format = CurrentFormat();
      if (camera_->Setup().paced) {
        const auto due = startTime_ + std::chrono::microseconds(FrameTime(frameIndex_, format.rate) / 10);
        if (wake_.wait_until(lock, due, [this] { return state_ != State::Started || requests_.empty(); })) continue;
      }
      ComPtr<IUnknown> token = requests_.front();
      requests_.erase(requests_.begin());
      const uint64_t index = frameIndex_++;
      lock.unlock();
      ComPtr<IMFSample> sample;
      HRESULT hr = E_OUTOFMEMORY;
      try {
        hr = MakeSample(format, index, token.Get(), &sample);
      } catch (...) {
        sample.Reset();  // picture buffers could not be allocated: reported as a stream error
      }
      if (SUCCEEDED(hr)) {
        queue_->QueueEventParamUnk(MEMediaSample, GUID_NULL, S_OK, sample.Get());
        camera_->FrameDelivered();
      } else {
        queue_->QueueEventParamVar(MEError, GUID_NULL, hr, nullptr);
      }
      lock.lock();
      // A picture's first JPEG encoding can take several frame periods; the frames after
      // it keep their spacing instead of coming out in a burst to catch up.
      startTime_ += encodingTime_;
      encodingTime_ = std::chrono::steady_clock::duration::zero();
    }
  }

  const FormatSetup& CurrentFormat() const
  {
    const size_t index = static_cast<size_t>(descriptor_->Handler()->CurrentIndex());
    return camera_->Setup().formats[index < camera_->Setup().formats.size() ? index : 0];
  }

  HRESULT MakeSample(const FormatSetup& format, uint64_t index, IUnknown* token, IMFSample** out)
  {
    const std::vector<uint8_t>* jpeg = nullptr;
    DWORD bytes = FrameBytes(format.subtype, format.width, format.height);
    if (format.subtype == Subtype::MJPG) {
      jpeg = JpegFrame(format, index);
      if (!jpeg) return E_FAIL;
      bytes = static_cast<DWORD>(jpeg->size());
    }
    if (!framePool_) framePool_ = std::make_shared<FrameMemoryPool>();
    ComPtr<IMFMediaBuffer> buffer;
    HRESULT hr = CreateCountedBuffer(bytes, &buffer, framePool_);
    if (FAILED(hr)) return hr;
    BYTE* data = nullptr;
    hr = buffer->Lock(&data, nullptr, nullptr);
    if (FAILED(hr)) return hr;
    if (jpeg)
      memcpy(data, jpeg->data(), bytes);
    else
      FillFrame(format, index, data);
    buffer->Unlock();

    ComPtr<IMFSample> sample;
    if (FAILED(hr = MFCreateSample(&sample))) return hr;
    if (FAILED(hr = sample->AddBuffer(buffer.Get()))) return hr;
    const CameraSetup& setup = camera_->Setup();
    if (setup.timing != SampleTiming::None) sample->SetSampleTime(FrameTime(index, format.rate));
    if (setup.timing == SampleTiming::Full)
      sample->SetSampleDuration(FrameTime(index + 1, format.rate) - FrameTime(index, format.rate));
    if (setup.truncateFrame >= 0 && index == static_cast<uint64_t>(setup.truncateFrame)) {
      buffer->SetCurrentLength(bytes / 2);  // a frame cut short on the wire
    } else if (setup.shortFrames) {
      // A truncated frame: one row (half a compressed frame) missing from its length.
      const DWORD row = static_cast<DWORD>(std::abs(NaturalStride(format.subtype, format.width)));
      buffer->SetCurrentLength(row && row < bytes ? bytes - row : bytes / 2);
    }
    if (setup.deviceTimestamps) sample->SetUINT64(kDeviceTimestampKey, PerformanceCounterIn100ns());
    sample->SetUINT32(MFSampleExtension_CleanPoint, TRUE);
    if (token) sample->SetUnknown(MFSampleExtension_Token, token);
    if (auto* tracker = new (std::nothrow) SampleTracker()) {
      sample->SetUnknown(kSampleTrackerKey, tracker);
      tracker->Release();
    }
    *out = sample.Detach();
    return S_OK;
  }

  void FillFrame(const FormatSetup& format, uint64_t index, BYTE* data)
  {
    frameMaker_.Fill(camera_->Setup().pattern, format.subtype, format.width, format.height, FormatIsBottomUp(format),
                     index, data);
  }

  // The JPEG of frame `index`. Encoding a large picture takes far longer than a frame
  // period, so each picture the pattern shows is encoded once, when first needed, and
  // kept while the format stays current. With grain, each picture is encoded in bands
  // with two grains, and every frame takes each band from one of them, chosen anew per
  // frame: the lengths vary from frame to frame as a webcam's do, for one copy per frame.
  // Null if it cannot be encoded.
  const std::vector<uint8_t>* JpegFrame(const FormatSetup& format, uint64_t index)
  {
    const Pattern& pattern = camera_->Setup().pattern;
    if (jpegFormat_ != &format) {
      jpegFrames_.clear();
      jpegBands_.clear();
      const size_t pictures = static_cast<size_t>(PictureCount(pattern, format.width));
      if (pattern.noise == 0)
        jpegFrames_.resize(pictures);
      else
        jpegBands_.resize(pictures * 2);
      jpegFormat_ = &format;
    }
    const auto start = std::chrono::steady_clock::now();
    if (pattern.noise == 0) {
      const uint64_t picture = index % jpegFrames_.size();
      std::vector<uint8_t>& jpeg = jpegFrames_[static_cast<size_t>(picture)];
      if (jpeg.empty()) {
        std::vector<uint8_t> encoded;
        RenderRgb(pattern, format.width, format.height, picture, &rgb_);
        const bool ok = EncodeJpeg(format.width, format.height, rgb_.data(), format.huffmanTables, &encoded);
        encodingTime_ += std::chrono::steady_clock::now() - start;
        if (!ok) return nullptr;
        jpeg = std::move(encoded);
      }
      return &jpeg;
    }
    const uint64_t picture = index % (jpegBands_.size() / 2);
    JpegBands* grains = &jpegBands_[static_cast<size_t>(picture) * 2];
    if (grains[0].bands.empty()) {
      for (uint32_t grain = 0; grain < 2; ++grain) {
        RenderRgb(pattern, format.width, format.height, picture, &rgb_, grain);
        if (!EncodeJpegBands(format.width, format.height, rgb_.data(), format.huffmanTables, &grains[grain])) {
          grains[0].bands.clear();
          return nullptr;
        }
      }
      encodingTime_ += std::chrono::steady_clock::now() - start;
    }
    uint64_t choice = (index + 1) * 0x9E3779B97F4A7C15ull;  // bands of the second grain, one bit each
    choice ^= choice >> 29;
    JoinJpegBands(grains[0], grains[1], choice, &jpegJoined_);
    return &jpegJoined_;
  }

  LiveCount count_{CountKind::Stream};
  std::shared_ptr<CameraState> camera_;
  ComPtr<StreamDescriptor> descriptor_;
  ComPtr<IMFMediaEventQueue> queue_;

  std::mutex mutex_;  // guards the state below; never held while calling out
  std::condition_variable wake_;
  State state_ = State::Stopped;
  std::vector<ComPtr<IUnknown>> requests_;
  int64_t accepted_ = 0;
  HRESULT failed_ = S_OK;
  uint64_t frameIndex_ = 0;
  std::chrono::steady_clock::time_point startTime_;
  std::thread thread_;

  // Used by the delivery thread only.
  std::shared_ptr<FrameMemoryPool> framePool_;  // frame memory, shared with live buffers
  std::vector<uint8_t> rgb_;
  FrameMaker frameMaker_;
  std::vector<std::vector<uint8_t>> jpegFrames_;  // by picture; empty until first encoded
  std::vector<JpegBands> jpegBands_;              // with grain: two per picture; empty until first encoded
  std::vector<uint8_t> jpegJoined_;               // with grain: the current frame
  const FormatSetup* jpegFormat_ = nullptr;
  std::chrono::steady_clock::duration encodingTime_{};  // spent encoding since the last frame

  // The source is not owned (it owns the stream); it clears this before it goes away.
  std::mutex sourceMutex_;
  VirtualSource* source_ = nullptr;
};

// ---------------------------------------------------------------------------------

// IAMVideoProcAmp and IAMCameraControl have methods of the same names and parameter
// lists, so each is a small part of the source that forwards identity and reference
// counting to it and names its own group of properties.
template <class Interface, int kFirst, int kCount>
class ControlPart final : public Interface {
 public:
  ControlPart(IMFMediaSource* owner, CameraState* camera) : owner_(owner), camera_(camera) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override { return owner_->QueryInterface(riid, out); }
  STDMETHODIMP_(ULONG) AddRef() override { return owner_->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return owner_->Release(); }

  STDMETHODIMP GetRange(long property, long* min, long* max, long* step, long* def, long* caps) override
  {
    return camera_->GetRange(Index(property), min, max, step, def, caps);
  }
  STDMETHODIMP Set(long property, long value, long flags) override
  {
    return camera_->Set(Index(property), value, flags);
  }
  STDMETHODIMP Get(long property, long* value, long* flags) override
  {
    return camera_->Get(Index(property), value, flags);
  }

 private:
  static int Index(long property)
  {
    return property >= 0 && property < kCount ? kFirst + static_cast<int>(property) : -1;
  }
  IMFMediaSource* owner_;
  CameraState* camera_;
};

class VirtualSource final : public TComObject<IMFMediaSource, IMFMediaEventGenerator> {
 public:
  static HRESULT Create(const std::shared_ptr<CameraState>& camera, IMFMediaSource** out)
  {
    ComPtr<IMFMediaEventQueue> sourceQueue, streamQueue;
    HRESULT hr = MFCreateEventQueue(&sourceQueue);
    if (SUCCEEDED(hr)) hr = MFCreateEventQueue(&streamQueue);
    ComPtr<StreamDescriptor> sd;
    if (SUCCEEDED(hr)) hr = StreamDescriptor::Create(camera, &sd);
    ComPtr<IMFPresentationDescriptor> pd;
    if (SUCCEEDED(hr)) {
      IMFStreamDescriptor* sds[] = {sd.Get()};
      hr = MFCreatePresentationDescriptor(1, sds, &pd);
    }
    if (SUCCEEDED(hr)) hr = pd->SelectStream(0);
    if (FAILED(hr)) return hr;

    ComPtr<VirtualStream> stream = AdoptComPtr(new (std::nothrow) VirtualStream(camera, sd, streamQueue));
    if (!stream) return E_OUTOFMEMORY;
    auto* source = new (std::nothrow) VirtualSource(camera, sourceQueue, pd, stream);
    if (!source) {
      stream->Shutdown();
      return E_OUTOFMEMORY;
    }
    stream->AttachSource(source);
    *out = source;
    return S_OK;
  }

  // IMFMediaEventGenerator
  STDMETHODIMP GetEvent(DWORD flags, IMFMediaEvent** event) override { return queue_->GetEvent(flags, event); }
  STDMETHODIMP BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override
  {
    return queue_->BeginGetEvent(callback, state);
  }
  STDMETHODIMP EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override
  {
    return queue_->EndGetEvent(result, event);
  }
  STDMETHODIMP QueueEvent(MediaEventType type, REFGUID ext, HRESULT status, const PROPVARIANT* value) override
  {
    return queue_->QueueEventParamVar(type, ext, status, value);
  }

  // IMFMediaSource
  STDMETHODIMP GetCharacteristics(DWORD* characteristics) override
  {
    if (!characteristics) return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutdown_) return MF_E_SHUTDOWN;
    *characteristics = MFMEDIASOURCE_IS_LIVE;
    return S_OK;
  }
  STDMETHODIMP CreatePresentationDescriptor(IMFPresentationDescriptor** descriptor) override
  {
    if (!descriptor) return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutdown_) return MF_E_SHUTDOWN;
    return pd_->Clone(descriptor);
  }
  STDMETHODIMP Start(IMFPresentationDescriptor* descriptor, const GUID* timeFormat,
                     const PROPVARIANT* position) override
  {
    if (!descriptor) return E_INVALIDARG;
    if (timeFormat && *timeFormat != GUID_NULL) return MF_E_UNSUPPORTED_TIME_FORMAT;
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutdown_) return MF_E_SHUTDOWN;
    BOOL selected = FALSE;
    ComPtr<IMFStreamDescriptor> sd;
    HRESULT hr = descriptor->GetStreamDescriptorByIndex(0, &selected, &sd);
    if (FAILED(hr)) return hr;
    PROPVARIANT start;
    PropVariantInit(&start);
    start.vt = VT_I8;
    start.hVal.QuadPart = position && position->vt == VT_I8 ? position->hVal.QuadPart : 0;
    if (selected) {
      // The first start announces the stream; a later one (a second Start is allowed
      // and restarts nothing) updates it.
      hr = queue_->QueueEventParamUnk(announced_ ? MEUpdatedStream : MENewStream, GUID_NULL, S_OK,
                                      static_cast<IMFMediaStream*>(stream_.Get()));
      announced_ = true;
      if (SUCCEEDED(hr)) hr = stream_->Start(&start);
      if (FAILED(hr)) return hr;
    }
    return queue_->QueueEventParamVar(MESourceStarted, GUID_NULL, S_OK, &start);
  }
  STDMETHODIMP Stop() override
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutdown_) return MF_E_SHUTDOWN;
    HRESULT hr = stream_->Stop();
    if (FAILED(hr)) return hr;
    return queue_->QueueEventParamVar(MESourceStopped, GUID_NULL, S_OK, nullptr);
  }
  STDMETHODIMP Pause() override
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutdown_) return MF_E_SHUTDOWN;
    return MF_E_INVALID_STATE_TRANSITION;  // a live camera cannot pause
  }
  STDMETHODIMP Shutdown() override
  {
    if (const int32_t delay = camera_->Setup().shutdownDelayMs) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (shutdown_) return MF_E_SHUTDOWN;
      }
      Sleep(static_cast<DWORD>(delay));
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutdown_) return MF_E_SHUTDOWN;
    ShutdownLocked();
    return S_OK;
  }

 private:
  VirtualSource(std::shared_ptr<CameraState> camera, ComPtr<IMFMediaEventQueue> queue,
                ComPtr<IMFPresentationDescriptor> pd, ComPtr<VirtualStream> stream)
      : camera_(std::move(camera)),
        queue_(std::move(queue)),
        pd_(std::move(pd)),
        stream_(std::move(stream)),
        procAmp_(this, camera_.get()),
        cameraControl_(this, camera_.get())
  {
  }

  ~VirtualSource()
  {
    stream_->AttachSource(nullptr);
    // A source released without Shutdown still stops its stream's thread and lets go
    // of the callbacks waiting on its event queues.
    std::lock_guard<std::mutex> lock(mutex_);
    if (!shutdown_) ShutdownLocked();
  }

  void ShutdownLocked()
  {
    shutdown_ = true;
    stream_->Shutdown();
    queue_->Shutdown();
  }

  // The camera controls, each a part of the source, when the camera is configured with them.
  void* OtherInterface(REFIID riid) override
  {
    if (riid == IID_IAMVideoProcAmp && camera_->Setup().videoProcAmp) return static_cast<IAMVideoProcAmp*>(&procAmp_);
    if (riid == IID_IAMCameraControl && camera_->Setup().cameraControl)
      return static_cast<IAMCameraControl*>(&cameraControl_);
    return nullptr;
  }

  LiveCount count_{CountKind::Source};
  std::shared_ptr<CameraState> camera_;
  ComPtr<IMFMediaEventQueue> queue_;
  ComPtr<IMFPresentationDescriptor> pd_;
  ComPtr<VirtualStream> stream_;
  ControlPart<IAMVideoProcAmp, 0, kVideoProcAmpCount> procAmp_;
  ControlPart<IAMCameraControl, kVideoProcAmpCount, kCameraControlCount> cameraControl_;
  std::mutex mutex_;
  bool shutdown_ = false;
  bool announced_ = false;
};

STDMETHODIMP VirtualStream::GetMediaSource(IMFMediaSource** source)
{
  if (!source) return E_POINTER;
  *source = nullptr;
  std::lock_guard<std::mutex> lock(sourceMutex_);
  // The stream holds no reference: a source whose last one has gone is on its way out.
  if (!source_ || !source_->TryAddRef()) return MF_E_SHUTDOWN;
  *source = source_;
  return S_OK;
}

}  // namespace

HRESULT CreateVirtualSource(const std::shared_ptr<CameraState>& camera, IMFMediaSource** out)
{
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!camera) return E_INVALIDARG;
  return VirtualSource::Create(camera, out);
}

}  // namespace virtualcam
