// The RGB32 converter: a one-sample mailbox filled by the capture thread and a
// convert thread that turns each pending sample into RGB32 (through the Color
// Converter DSP unless the camera already delivers RGB32/ARGB32) and hands it to
// the capture object, which calls the host.
#include "convert/MFVideoConverter.h"

#include "common/Ownership_win.h"
#include "convert/BuiltInConverter.h"
#include "convert/JpegDecoders.h"
#include "log/Log.h"
#include "log/LogTrace.h"
#include "media/GUIDNames.h"

#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mftransform.h>
#include <wmcodecdsp.h>
#include <wrl/client.h>

#include <algorithm>
#include <mutex>
#include <new>

using Microsoft::WRL::ComPtr;

namespace {

const char* const kCtorName = "TMFVideoConverter::TMFVideoConverter";

bool IsNativeRGB(const GUID& subtype)
{
  return subtype == MFVideoFormat_RGB32 || subtype == MFVideoFormat_ARGB32;
}

// Holds a media buffer's lock for the scope.
class TBufferLock {
 public:
  explicit TBufferLock(IMFMediaBuffer* buffer) : Buffer(buffer)
  {
    Result = Buffer->Lock(&Data, &MaxLength, &CurrentLength);
  }
  ~TBufferLock()
  {
    if (SUCCEEDED(Result)) Buffer->Unlock();
  }
  TBufferLock(const TBufferLock&) = delete;
  TBufferLock& operator=(const TBufferLock&) = delete;

  HRESULT Result;
  BYTE* Data = nullptr;
  DWORD MaxLength = 0;
  DWORD CurrentLength = 0;

 private:
  IMFMediaBuffer* Buffer;
};

// The subtypes the built-in kernels read (Media Foundation's IYUV is I420's layout).
TBuiltInInput BuiltInInputOf(const GUID& subtype)
{
  if (subtype == MFVideoFormat_MJPG) return TBuiltInInput::MJPG;
  if (subtype == MFVideoFormat_YUY2) return TBuiltInInput::YUY2;
  if (subtype == MFVideoFormat_UYVY) return TBuiltInInput::UYVY;
  if (subtype == MFVideoFormat_NV12) return TBuiltInInput::NV12;
  if (subtype == MFVideoFormat_I420 || subtype == MFVideoFormat_IYUV) return TBuiltInInput::I420;
  if (subtype == MFVideoFormat_YV12) return TBuiltInInput::YV12;
  if (IsNativeRGB(subtype)) return TBuiltInInput::RGB32;
  return TBuiltInInput::Unsupported;
}

// The first RGB32 type that the transform offers; ARGB32 does not count. Null after a
// failure or when there is none (logged).
ComPtr<IMFMediaType> FindRGB32OutputType(IMFTransform* transform)
{
  for (DWORD index = 0;; ++index) {
    ComPtr<IMFMediaType> type;
    HRESULT hr = transform->GetOutputAvailableType(0, index, &type);
    if (hr == MF_E_NO_MORE_TYPES) {
      LogInfo("%s no more available types", kCtorName);
      return nullptr;
    }
    if (hr != S_OK) {
      LogError("%s GetOutputAvailableType index %d error %x", kCtorName, static_cast<int>(index),
               static_cast<unsigned>(hr));
      return nullptr;
    }
    GUID major = GUID_NULL;
    hr = type->GetMajorType(&major);
    if (hr != S_OK) {
      LogError("%s GetMajorType index %d error %x", kCtorName, static_cast<int>(index), static_cast<unsigned>(hr));
      return nullptr;
    }
    if (major != MFMediaType_Video) {
      LogInfo("%s major type is %S", kCtorName, GetMFGUIDName(major).c_str());
      continue;
    }
    GUID subtype = GUID_NULL;
    hr = type->GetGUID(MF_MT_SUBTYPE, &subtype);
    if (hr != S_OK) {
      LogError("%s GetGUID MF_MT_SUBTYPE index %d error %x", kCtorName, static_cast<int>(index),
               static_cast<unsigned>(hr));
      return nullptr;
    }
    if (subtype == MFVideoFormat_RGB32) {
      LogInfo("%s we have found RGB32 format available index %d", kCtorName, static_cast<int>(index));
      return type;
    }
    LogInfo("%s sub type is %S", kCtorName, GetMFGUIDName(subtype).c_str());
  }
}

// Makes the output type's stride positive: the transform writes top-down rows, the one
// order both Windows and Wine's Color Converter honour (Wine 8.0 ignores a negative
// stride and writes top-down rows anyway). Bottom-up frames are flipped after the
// conversion. Reads back the stride the type then holds. False after a failure (logged).
bool SetTopDownOutput(IMFMediaType* output, INT32* outputStride)
{
  UINT32 value = 0;
  HRESULT hr = output->GetUINT32(MF_MT_DEFAULT_STRIDE, &value);
  if (hr != S_OK) {
    LogError("%s Get MF_MT_DEFAULT_STRIDE error: %x", kCtorName, static_cast<unsigned>(hr));
    return false;
  }
  INT32 stride = static_cast<INT32>(value);
  LogInfo("%s stride of output format is %d", kCtorName, stride);

  if (stride < 0) {
    LogInfo("%s change the sign of the stride of output RGB32 image", kCtorName);
    stride = -stride;
    hr = output->SetUINT32(MF_MT_DEFAULT_STRIDE, static_cast<UINT32>(stride));
    if (hr != S_OK) {
      LogError("%s Set MF_MT_DEFAULT_STRIDE error: %x", kCtorName, static_cast<unsigned>(hr));
      return false;
    }
  }

  hr = output->GetUINT32(MF_MT_DEFAULT_STRIDE, &value);
  if (hr != S_OK) {
    LogError("%s Get MF_MT_DEFAULT_STRIDE error: %x", kCtorName, static_cast<unsigned>(hr));
    return false;
  }
  *outputStride = static_cast<INT32>(value);
  return true;
}

// Reverses the order of a frame's rows in place.
void FlipRows(BYTE* data, DWORD pitch, UINT32 height)
{
  if (height < 2) return;
  for (UINT32 top = 0, bottom = height - 1; top < bottom; ++top, --bottom)
    std::swap_ranges(data + static_cast<size_t>(top) * pitch, data + static_cast<size_t>(top + 1) * pitch,
                     data + static_cast<size_t>(bottom) * pitch);
}

// Informational only: the converter always supplies its own output samples.
void LogOutputStreamInfo(IMFTransform* transform)
{
  MFT_OUTPUT_STREAM_INFO info = {};
  const HRESULT hr = transform->GetOutputStreamInfo(0, &info);
  if (hr != S_OK)
    LogError("%s GetOutputStreamInfo error %x", kCtorName, static_cast<unsigned>(hr));
  else if (info.dwFlags & MFT_OUTPUT_STREAM_PROVIDES_SAMPLES)
    LogInfo("%s trasform provides samples", kCtorName);
  else if (info.dwFlags & MFT_OUTPUT_STREAM_CAN_PROVIDE_SAMPLES)
    LogInfo("%s trasform supports both allocation models", kCtorName);
  else
    LogInfo("%s the client must allocate the output samples for the stream.", kCtorName);
}

// Decoders of a built-in conversion of this subtype: more than one only for MJPG.
int JpegDecodersFor(const GUID& subtype)
{
  if (subtype != MFVideoFormat_MJPG) return 1;
  const int limit = TMFVideoConverter::JpegDecoderLimit.load();
  if (limit > 0) return limit < TJpegDecoders::kMaxDecoders ? limit : TJpegDecoders::kMaxDecoders;
  SYSTEM_INFO system = {};
  GetSystemInfo(&system);
  const int processors = static_cast<int>(system.dwNumberOfProcessors);
  return processors < 1 ? 1 : (processors < TJpegDecoders::kMaxDecoders ? processors : TJpegDecoders::kMaxDecoders);
}

}  // namespace

std::atomic<int> TMFVideoConverter::JpegDecoderLimit{0};

TFrameAdmission TMFVideoConverter::Admission()
{
  PICTOR_DCHECK_THREAD(InputThread);
  if (pDecoders) return pDecoders->AllBusy() ? TFrameAdmission::HoldBack : TFrameAdmission::Take;
  return bConverting ? TFrameAdmission::Drop : TFrameAdmission::Take;
}

bool TMFVideoConverter::WaitForRoom(HANDLE stop, DWORD timeoutMs)
{
  PICTOR_DCHECK_THREAD(InputThread);
  return pDecoders ? pDecoders->WaitForIdle(stop, timeoutMs) : WaitForSingleObject(stop, 0) != WAIT_OBJECT_0;
}

int TMFVideoConverter::InputsInFlight() const
{
  return pDecoders ? pDecoders->Count() : 2;
}

int TMFVideoConverter::OutputsInFlight() const
{
  // An output per decoder and the parked frame's; the convert thread's one; none where the
  // frames are handed on as they are.
  if (pDecoders) return pDecoders->Count() + 1;
  if (pBuiltIn) return pBuiltIn->PassesThrough(bTopDown) ? 0 : 1;
  return pTransform ? 1 : 0;
}

// Wine 8.0's Color Converter offers an RGB32 output type without frame size and
// stride, and refuses it in SetOutputType until a frame size is set; Windows fills
// both in. Take what is missing from the input type. A complete type is left alone.
HRESULT TMFVideoConverter::CompleteRGB32OutputType(IMFMediaType* output, IMFMediaType* input, UINT32 width)
{
  UINT64 packed = 0;
  UINT32 stride = 0;
  const bool hasSize = SUCCEEDED(output->GetUINT64(MF_MT_FRAME_SIZE, &packed));
  const bool hasStride = SUCCEEDED(output->GetUINT32(MF_MT_DEFAULT_STRIDE, &stride));
  if (hasSize && hasStride) return S_OK;

  LogInfo("%s output type lacks frame size or stride, completed from the input type", kCtorName);
  for (const GUID* key : {&MF_MT_FRAME_SIZE, &MF_MT_FRAME_RATE, &MF_MT_PIXEL_ASPECT_RATIO}) {
    if (SUCCEEDED(input->GetUINT64(*key, &packed))) {
      const HRESULT hr = output->SetUINT64(*key, packed);
      if (FAILED(hr)) return hr;
    }
  }
  if (!hasStride) return output->SetUINT32(MF_MT_DEFAULT_STRIDE, width * 4u);
  return S_OK;
}

TMFVideoConverter::TMFVideoConverter(TFrameSink* sink, IMFMediaType* inputType, bool topDown, bool builtIn)
    : bInitialized(false),
      bTopDown(topDown),
      pSink(sink),
      pInputType(inputType),
      pOutputType(nullptr),
      pTransform(nullptr),
      pInputSample(nullptr),
      FrameWidth(0),
      FrameHeight(0),
      FrameStride(0),
      InputSubType(GUID_NULL),
      bStopConvert(false),
      pBuiltIn(nullptr)
{
  // Written by hand: this entry line ends with a space that the exit line lacks.
  LogInfo("%s ", kCtorName);
  InitializeCriticalSection(&SampleLock);
  bInitialized = Initialize(builtIn);
  LogInfo("%s exit with %d", kCtorName, bInitialized ? 1 : 0);
}

bool TMFVideoConverter::Initialize(bool builtIn)
{
  if (!pSink) {
    LogError("%s no frame sink", kCtorName);
    return false;
  }
  if (!SampleEvent) {
    // Without the wake-up events the threads would only poll; refuse instead.
    LogError("%s CreateEvent error %d", kCtorName, static_cast<int>(GetLastError()));
    return false;
  }

  LogMediaTypeBasicParams(pInputType, &FrameWidth, &FrameHeight, &FrameStride, nullptr, &InputSubType);
  // A type without a stride: RGB rows are stored bottom row first (Windows' rule for RGB),
  // YUV rows top row first.
  if (FrameStride == 0 && IsNativeRGB(InputSubType)) FrameStride = -static_cast<INT32>(FrameWidth * 4u);
  const INT32 askedStride = static_cast<INT32>(FrameWidth * 4u) * (bTopDown ? 1 : -1);

  // Native RGB32 in the other row order (or with padded rows) is copied into the asked
  // order by the built-in kernels: every path delivers the rows as asked.
  if (builtIn || (IsNativeRGB(InputSubType) && FrameStride != askedStride)) {
    if (!ConfigureBuiltIn()) return false;
    const int decoders = JpegDecodersFor(InputSubType);
    if (decoders > 1) {
      pDecoders = new (std::nothrow) TJpegDecoders(*this, FrameWidth, FrameHeight, decoders);
      if (!pDecoders || !pDecoders->Ready()) {
        LogError("%s parallel decoding unusable", kCtorName);
        return false;
      }
    }
  } else if (IsNativeRGB(InputSubType)) {
    LogInfo("%s Subtype is native -> do not create a converter object", kCtorName);
  } else {
    LogInfo("%s Subtype is NOT native -> create a converter object", kCtorName);
    if (!ConfigureTransform()) return false;
  }

  // The sink makes the output samples: it keeps that many ready, so that no frame waits for
  // fresh memory.
  const int outputs = OutputsInFlight();
  if (outputs > 0) pSink->ReserveOutputs(FrameWidth, FrameHeight, outputs);

  if (!Thread.Start(L"Pictor convert", ConvertThreadAPI, this)) {
    LogError("%s unable to create a convert thread error %d", kCtorName, static_cast<int>(GetLastError()));
    return false;
  }
  return true;
}

bool TMFVideoConverter::ConfigureBuiltIn()
{
  const TBuiltInInput input = BuiltInInputOf(InputSubType);
  if (input == TBuiltInInput::Unsupported) {
    LogError("%s built-in conversion does not read subtype %S", kCtorName, GetMFGUIDName(InputSubType).c_str());
    return false;
  }
  // Missing colour attributes read as 0: the kernels then apply Media Foundation's defaults.
  UINT32 matrix = 0;
  UINT32 range = 0;
  if (FAILED(pInputType->GetUINT32(MF_MT_YUV_MATRIX, &matrix))) matrix = 0;
  if (FAILED(pInputType->GetUINT32(MF_MT_VIDEO_NOMINAL_RANGE, &range))) range = 0;
  const TYuvMatrix choice = ChooseYuvMatrix(matrix, range, FrameHeight);
  pBuiltIn = new (std::nothrow) TBuiltInConverter(input, FrameWidth, FrameHeight, FrameStride, choice);
  if (!pBuiltIn || !pBuiltIn->Ready()) {
    LogError("%s built-in conversion unusable: %s", kCtorName, pBuiltIn ? pBuiltIn->Error() : "out of memory");
    return false;
  }
  LogInfo("%s built-in conversion of %S, %s", kCtorName, GetMFGUIDName(InputSubType).c_str(),
          input == TBuiltInInput::MJPG ? "JPEG" : YuvMatrixName(choice));
  // Frames in the asked row order go on as they are; every other frame is written in it.
  if (!pBuiltIn->PassesThrough(bTopDown)) FrameStride = static_cast<INT32>(FrameWidth * 4u) * (bTopDown ? 1 : -1);
  return true;
}

bool TMFVideoConverter::ConfigureTransform()
{
  ComPtr<IMFTransform> transform;
  HRESULT hr = CoCreateInstance(CLSID_CColorConvertDMO, nullptr, CLSCTX_ALL, IID_PPV_ARGS(transform.GetAddressOf()));
  if (hr != S_OK) {
    LogError("%s CoCreateInstance error: %x", kCtorName, static_cast<unsigned>(hr));
    return false;
  }
  hr = transform->SetInputType(0, pInputType, 0);
  if (hr != S_OK) {
    LogError("%s SetInputType error: %x", kCtorName, static_cast<unsigned>(hr));
    return false;
  }

  ComPtr<IMFMediaType> output = FindRGB32OutputType(transform.Get());
  if (!output) return false;
  hr = CompleteRGB32OutputType(output.Get(), pInputType, FrameWidth);
  if (FAILED(hr)) {
    LogError("%s completing the output type error: %x", kCtorName, static_cast<unsigned>(hr));
    return false;
  }
  INT32 stride = 0;
  if (!SetTopDownOutput(output.Get(), &stride)) return false;

  LogInfo("%s output media type:", kCtorName);
  LogMediaTypeBasicParams(output.Get(), nullptr, nullptr, nullptr, nullptr, nullptr);
  hr = transform->SetOutputType(0, output.Get(), 0);
  if (hr != S_OK) {
    LogError("%s SetOutputType error: %x", kCtorName, static_cast<unsigned>(hr));
    return false;
  }
  LogOutputStreamInfo(transform.Get());

  HandOverComPtr(transform, pTransform);
  HandOverComPtr(output, pOutputType);
  OutputPitch = static_cast<DWORD>(stride);
  FrameStride = bTopDown ? stride : -stride;
  return true;
}

TMFVideoConverter::~TMFVideoConverter()
{
  const TLogScope scope("TMFVideoConverter::~TMFVideoConverter");
  // The stop event ends the thread's wait at once; it then sees the flag.
  bStopConvert = true;
  Thread.RequestStop();
  Thread.Join(INFINITE);
  // After the thread that delivers their frames; they signal the sample event until then.
  delete pDecoders;
  pDecoders = nullptr;
  ReleaseAndNull(pOutputType);
  ReleaseAndNull(pInputType);
  ReleaseAndNull(pTransform);
  ReleaseAndNull(pInputSample);
  delete pBuiltIn;
  pBuiltIn = nullptr;
  DeleteCriticalSection(&SampleLock);
}

void TMFVideoConverter::SetInputSample(IMFSample* sample)
{
  PICTOR_DCHECK_THREAD(InputThread);
  const TLogScope scope("TMFVideoConverter::SetInputSample", TLogScope::TLevel::Verbose);
  // Never wait for the convert thread: while it holds the lock (converting, or
  // inside the host's callback) the new frame is dropped; otherwise the newest
  // sample replaces one that has not been taken yet.
  if (pDecoders) {
    // The newest-frame rule with several decoders: a frame that finds none idle is dropped.
    if (sample && !pDecoders->Submit(sample)) {
      sample->Release();
      pSink->FrameDropped();
    }
    return;
  }
  bool stored = false;
  {
    const TCriticalSectionHold hold(SampleLock, std::try_to_lock);
    if (hold.Owned()) {
      if (pInputSample) {
        pInputSample->Release();
        pSink->FrameDropped();
      }
      pInputSample = sample;
      stored = true;
    }
  }
  // Woken after the lock is left: the thread only tries the lock, and would otherwise
  // wait a whole pass for this sample.
  if (stored) {
    SampleEvent.Set();
  } else if (sample) {
    sample->Release();
    pSink->FrameDropped();
  }
}

DWORD WINAPI TMFVideoConverter::ConvertThreadAPI(LPVOID parameter)
{
  const TLogScope scope("TMFVideoConverter::ConvertThreadAPI");
  static_cast<TMFVideoConverter*>(parameter)->ConvertThread();
  return 0;
}

void TMFVideoConverter::ConvertThread()
{
  static const char* const kName = "TMFVideoConverter::ConvertThread";
  const TLogScope scope(kName);
  const HANDLE events[] = {Thread.StopHandle(), SampleEvent.Get()};
  while (!bStopConvert) {
    // A stop ends the wait at once; a missed wake-up (the lock was busy) costs one pass.
    WaitForMultipleObjects(2, events, FALSE, 100);
    const TCriticalSectionHold hold(SampleLock, std::try_to_lock);
    if (hold.Owned() && pDecoders) {
      pDecoders->DeliverReady();  // frames decoded on the decoder threads, in camera order
      continue;
    }
    if (!hold.Owned() || !pInputSample) continue;
    bConverting = true;
    // A host callback that throws must not take the thread (and the process) down.
    try {
      ConvertPendingSample();
    } catch (...) {
      LogError("%s unexpected exception, frame dropped", kName);
    }
    ReleaseAndNull(pInputSample);
    bConverting = false;
  }
}

void TMFVideoConverter::ConvertPendingSample()
{
  static const char* const kName = "TMFVideoConverter::ConvertThread";
  const bool topDown = FrameStride >= 0;
  if (pBuiltIn) {
    ConvertBuiltIn();
    return;
  }
  if (IsNativeRGB(InputSubType)) {
    pSink->ProcessRGB32Sample(pInputSample, FrameWidth, FrameHeight, topDown);
    return;
  }

  HRESULT hr = pTransform->ProcessInput(0, pInputSample, 0);
  if (hr == MF_E_NOTACCEPTING && DrainTransform()) hr = pTransform->ProcessInput(0, pInputSample, 0);
  if (hr != S_OK) {
    LogError("%s ProcessInput error: %x", kName, static_cast<unsigned>(hr));
    return;
  }
  // From here the transform holds the input until ProcessOutput takes it. A path that
  // does not take it flushes the transform: otherwise every later ProcessInput would
  // fail with MF_E_NOTACCEPTING and no frame would come through again.
  ComPtr<IMFSample> output = AdoptComPtr(pSink->CreateNewOutputSample(FrameWidth, FrameHeight));
  if (!output) {
    LogError("%s output sample is NULL", kName);
    FlushTransform();
    return;
  }

  // Exactly one ProcessOutput per accepted input; the transform is never drained.
  MFT_OUTPUT_DATA_BUFFER buffer = {};
  buffer.dwStreamID = 0;
  buffer.pSample = output.Get();
  DWORD status = 0;
  hr = pTransform->ProcessOutput(0, 1, &buffer, &status);
  ReleaseAndNull(buffer.pEvents);
  if (hr == S_OK) {
    pInputSample->CopyAllItems(output.Get());  // the frame's attributes (its information) go with it
    if (!topDown && !FlipOutputRows(output.Get())) return;
    pSink->ProcessRGB32Sample(output.Get(), FrameWidth, FrameHeight, topDown);
  } else if (hr != MF_E_TRANSFORM_NEED_MORE_INPUT) {
    LogError("%s ProcessOutput error: %x", kName, static_cast<unsigned>(hr));
    FlushTransform();
  }
}

bool TMFVideoConverter::FlipOutputRows(IMFSample* output)
{
  ComPtr<IMFMediaBuffer> buffer;
  HRESULT hr = output->GetBufferByIndex(0, &buffer);
  if (hr == S_OK) {
    TBufferLock frame(buffer.Get());
    hr = frame.Result;
    if (SUCCEEDED(hr) && frame.CurrentLength >= static_cast<DWORD>(OutputPitch * FrameHeight)) {
      FlipRows(frame.Data, OutputPitch, FrameHeight);
      return true;
    }
  }
  LogError("%s output rows not reversed, frame dropped: %x", "TMFVideoConverter::ConvertThread",
           static_cast<unsigned>(hr));
  pSink->FrameDropped();
  return false;
}

void TMFVideoConverter::FlushTransform()
{
  const HRESULT hr = pTransform->ProcessMessage(MFT_MESSAGE_COMMAND_FLUSH, 0);
  if (hr != S_OK) LogError("%s flush error: %x", "TMFVideoConverter::ConvertThread", static_cast<unsigned>(hr));
}

// Wine 8.0's Color Converter ignores the flush message (and answers S_OK): an input it
// still holds can only be taken out by ProcessOutput. The stale frame is dropped.
bool TMFVideoConverter::DrainTransform()
{
  static const char* const kName = "TMFVideoConverter::ConvertThread";
  ComPtr<IMFSample> output = AdoptComPtr(pSink->CreateNewOutputSample(FrameWidth, FrameHeight));
  if (!output) return false;
  MFT_OUTPUT_DATA_BUFFER buffer = {};
  buffer.pSample = output.Get();
  DWORD status = 0;
  const HRESULT hr = pTransform->ProcessOutput(0, 1, &buffer, &status);
  ReleaseAndNull(buffer.pEvents);
  LogError("%s transform still held an earlier frame, dropped it: %x", kName, static_cast<unsigned>(hr));
  return SUCCEEDED(hr) || hr == MF_E_TRANSFORM_NEED_MORE_INPUT;
}

void TMFVideoConverter::ConvertBuiltIn()
{
  const bool topDown = FrameStride >= 0;
  if (pBuiltIn->PassesThrough(bTopDown)) {
    pSink->ProcessRGB32Sample(pInputSample, FrameWidth, FrameHeight, topDown);
    return;
  }
  ComPtr<IMFSample> output = AdoptComPtr(ConvertWithKernels(pBuiltIn, pInputSample));
  if (output) pSink->ProcessRGB32Sample(output.Get(), FrameWidth, FrameHeight, topDown);
}

IMFSample* TMFVideoConverter::DecodeFrame(TBuiltInConverter* kernels, IMFSample* input)
{
  try {
    return ConvertWithKernels(kernels, input);
  } catch (...) {
    LogError("%s unexpected exception, frame dropped", "TJpegDecoders::DecoderThread");
    pSink->FrameDropped();
    return nullptr;
  }
}

void TMFVideoConverter::DeliverDecoded(IMFSample* frame)
{
  // A host callback that throws must not take the thread (and the process) down.
  try {
    pSink->ProcessRGB32Sample(frame, FrameWidth, FrameHeight, FrameStride >= 0);
  } catch (...) {
    LogError("%s unexpected exception, frame dropped", "TMFVideoConverter::ConvertThread");
  }
}

void TMFVideoConverter::FrameDecoded()
{
  SampleEvent.Set();
}

IMFSample* TMFVideoConverter::ConvertWithKernels(TBuiltInConverter* kernels, IMFSample* inputSample)
{
  static const char* const kName = "TMFVideoConverter::ConvertThread";
  // The capture thread's copy has one buffer: this takes it without copying.
  ComPtr<IMFMediaBuffer> input;
  HRESULT hr = inputSample->ConvertToContiguousBuffer(&input);
  if (hr != S_OK) {
    LogError("%s ConvertToContiguousBuffer error: %x", kName, static_cast<unsigned>(hr));
    pSink->FrameDropped();
    return nullptr;
  }
  ComPtr<IMFSample> output = AdoptComPtr(pSink->CreateNewOutputSample(FrameWidth, FrameHeight));
  ComPtr<IMFMediaBuffer> outputBuffer;
  if (!output || output->GetBufferByIndex(0, &outputBuffer) != S_OK) {
    LogError("%s output sample is NULL", kName);
    pSink->FrameDropped();
    return nullptr;
  }

  const DWORD frameBytes = FrameWidth * FrameHeight * 4u;
  bool converted = false;
  {
    TBufferLock source(input.Get());
    TBufferLock target(outputBuffer.Get());
    if (FAILED(source.Result) || FAILED(target.Result) || target.MaxLength < frameBytes) {
      LogError("%s buffer lock error: %x %x", kName, static_cast<unsigned>(source.Result),
               static_cast<unsigned>(target.Result));
      pSink->FrameDropped();
      return nullptr;
    }
    const DWORD length = source.CurrentLength < source.MaxLength ? source.CurrentLength : source.MaxLength;
    converted = kernels->Convert(source.Data, length, target.Data, bTopDown);
  }
  if (!converted) {
    // A broken frame (a truncated JPEG, a short buffer) costs this frame only.
    LogError("%s frame dropped: %s", kName, kernels->Error());
    pSink->FrameDropped();
    return nullptr;
  }
  outputBuffer->SetCurrentLength(frameBytes);
  inputSample->CopyAllItems(output.Get());  // the frame's attributes (its information) go with it
  return output.Detach();
}
