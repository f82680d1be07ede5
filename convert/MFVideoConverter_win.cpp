// The RGB32 converter: a one-sample mailbox filled by the capture thread and a
// convert thread that turns each pending sample into RGB32 (through the Color
// Converter DSP unless the camera already delivers RGB32/ARGB32) and hands it to
// the capture object, which calls the host.
#include "convert/MFVideoConverter.h"

#include "Pictor.h"
#include "capture/ComAdopt.h"
#include "convert/BuiltInConverter.h"
#include "capture/GUIDNames.h"
#include "log/Log.h"

#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mftransform.h>
#include <wmcodecdsp.h>
#include <wrl/client.h>

#include <new>

using Microsoft::WRL::ComPtr;

namespace {

const char* const kCtorName = "TMFVideoConverter::TMFVideoConverter";

bool IsNativeRGB(const GUID& subtype)
{
  return subtype == MFVideoFormat_RGB32 || subtype == MFVideoFormat_ARGB32;
}

// Holds SampleLock from a successful TryEnterCriticalSection to the end of the scope.
class TTryLock {
 public:
  explicit TTryLock(CRITICAL_SECTION* lock) : Lock(lock), Held(TryEnterCriticalSection(lock) != FALSE) {}
  ~TTryLock()
  {
    if (Held)
      LeaveCriticalSection(Lock);
  }
  TTryLock(const TTryLock&) = delete;
  TTryLock& operator=(const TTryLock&) = delete;
  explicit operator bool() const { return Held; }

 private:
  CRITICAL_SECTION* Lock;
  bool Held;
};

// Holds a media buffer's lock for the scope.
class TBufferLock {
 public:
  explicit TBufferLock(IMFMediaBuffer* buffer) : Buffer(buffer)
  {
    Result = Buffer->Lock(&Data, &MaxLength, &CurrentLength);
  }
  ~TBufferLock()
  {
    if (SUCCEEDED(Result))
      Buffer->Unlock();
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
  if (subtype == MFVideoFormat_MJPG)
    return TBuiltInInput::MJPG;
  if (subtype == MFVideoFormat_YUY2)
    return TBuiltInInput::YUY2;
  if (subtype == MFVideoFormat_UYVY)
    return TBuiltInInput::UYVY;
  if (subtype == MFVideoFormat_NV12)
    return TBuiltInInput::NV12;
  if (subtype == MFVideoFormat_I420 || subtype == MFVideoFormat_IYUV)
    return TBuiltInInput::I420;
  if (subtype == MFVideoFormat_YV12)
    return TBuiltInInput::YV12;
  if (IsNativeRGB(subtype))
    return TBuiltInInput::RGB32;
  return TBuiltInInput::Unsupported;
}

}  // namespace

// Wine 8.0's Color Converter offers an RGB32 output type without frame size and
// stride, and refuses it in SetOutputType until a frame size is set; Windows fills
// both in. Take what is missing from the input type. A complete type is left alone.
HRESULT TMFVideoConverter::CompleteRGB32OutputType(IMFMediaType* output, IMFMediaType* input, UINT32 width)
{
  UINT64 packed = 0;
  UINT32 stride = 0;
  const bool hasSize = SUCCEEDED(output->GetUINT64(MF_MT_FRAME_SIZE, &packed));
  const bool hasStride = SUCCEEDED(output->GetUINT32(MF_MT_DEFAULT_STRIDE, &stride));
  if (hasSize && hasStride)
    return S_OK;

  LogInfo("%s output type lacks frame size or stride, completed from the input type", kCtorName);
  for (const GUID* key : {&MF_MT_FRAME_SIZE, &MF_MT_FRAME_RATE, &MF_MT_PIXEL_ASPECT_RATIO}) {
    if (SUCCEEDED(input->GetUINT64(*key, &packed))) {
      const HRESULT hr = output->SetUINT64(*key, packed);
      if (FAILED(hr))
        return hr;
    }
  }
  if (!hasStride)
    return output->SetUINT32(MF_MT_DEFAULT_STRIDE, width * 4u);
  return S_OK;
}

TMFVideoConverter::TMFVideoConverter(TPictor* owner, IMFMediaType* inputType, bool topDown,
                                     TPictorConversion conversion)
    : bInitialized(false),
      bTopDown(topDown),
      pOwner(owner),
      pInputType(inputType),
      pOutputType(nullptr),
      pTransform(nullptr),
      pInputSample(nullptr),
      FrameWidth(0),
      FrameHeight(0),
      FrameStride(0),
      InputSubType(GUID_NULL),
      hConvertThread(nullptr),
      dwConvertThreadId(0),
      bStopConvert(false),
      hSampleEvent(nullptr),
      pBuiltIn(nullptr)
{
  LogInfo("%s ", kCtorName);
  InitializeCriticalSection(&SampleLock);
  hSampleEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!hSampleEvent) {
    // Without the wake-up event the thread would only poll; refuse instead.
    LogError("%s CreateEvent error %d", kCtorName, static_cast<int>(GetLastError()));
    LogInfo("%s exit with %d", kCtorName, 0);
    return;
  }

  LogMediaTypeBasicParams(pInputType, &FrameWidth, &FrameHeight, &FrameStride, nullptr, &InputSubType);

  if (conversion == pcBuiltIn) {
    if (!ConfigureBuiltIn()) {
      LogInfo("%s exit with %d", kCtorName, 0);
      return;
    }
  } else if (IsNativeRGB(InputSubType)) {
    LogInfo("%s Subtype is native -> do not create a converter object", kCtorName);
  } else {
    LogInfo("%s Subtype is NOT native -> create a converter object", kCtorName);
    if (!ConfigureTransform()) {
      LogInfo("%s exit with %d", kCtorName, 0);
      return;
    }
  }

  hConvertThread = CreateThread(nullptr, 0, ConvertThreadAPI, this, 0, &dwConvertThreadId);
  if (hConvertThread)
    bInitialized = true;
  else
    LogError("%s unable to create a convert thread error %d", kCtorName, static_cast<int>(GetLastError()));
  LogInfo("%s exit with %d", kCtorName, bInitialized ? 1 : 0);
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
  if (FAILED(pInputType->GetUINT32(MF_MT_YUV_MATRIX, &matrix)))
    matrix = 0;
  if (FAILED(pInputType->GetUINT32(MF_MT_VIDEO_NOMINAL_RANGE, &range)))
    range = 0;
  const TYuvMatrix choice = ChooseYuvMatrix(matrix, range, FrameHeight);
  pBuiltIn = new (std::nothrow) TBuiltInConverter(input, FrameWidth, FrameHeight, FrameStride, choice);
  if (!pBuiltIn || !pBuiltIn->Ready()) {
    LogError("%s built-in conversion unusable: %s", kCtorName, pBuiltIn ? pBuiltIn->Error() : "out of memory");
    return false;
  }
  LogInfo("%s built-in conversion of %S, %s", kCtorName, GetMFGUIDName(InputSubType).c_str(),
          input == TBuiltInInput::MJPG ? "JPEG" : YuvMatrixName(choice));
  // Frames in the asked row order go on as they are; every other frame is written in it.
  if (!pBuiltIn->PassesThrough(bTopDown))
    FrameStride = static_cast<INT32>(FrameWidth * 4u) * (bTopDown ? 1 : -1);
  return true;
}

bool TMFVideoConverter::ConfigureTransform()
{
  HRESULT hr = CoCreateInstance(CLSID_CColorConvertDMO, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&pTransform));
  if (hr != S_OK) {
    LogError("%s CoCreateInstance error: %x", kCtorName, static_cast<unsigned>(hr));
    return false;
  }
  hr = pTransform->SetInputType(0, pInputType, 0);
  if (hr != S_OK) {
    LogError("%s SetInputType error: %x", kCtorName, static_cast<unsigned>(hr));
    return false;
  }

  // The first RGB32 type that the transform offers; ARGB32 does not count.
  DWORD index = 0;
  for (;; ++index) {
    hr = pTransform->GetOutputAvailableType(0, index, &pOutputType);
    if (hr == MF_E_NO_MORE_TYPES) {
      LogInfo("%s no more available types", kCtorName);
      return false;
    }
    if (hr != S_OK) {
      LogError("%s GetOutputAvailableType index %d error %x", kCtorName, static_cast<int>(index),
               static_cast<unsigned>(hr));
      return false;
    }
    GUID major = GUID_NULL;
    hr = pOutputType->GetMajorType(&major);
    if (hr != S_OK) {
      LogError("%s GetMajorType index %d error %x", kCtorName, static_cast<int>(index), static_cast<unsigned>(hr));
      return false;
    }
    if (major == MFMediaType_Video) {
      GUID subtype = GUID_NULL;
      hr = pOutputType->GetGUID(MF_MT_SUBTYPE, &subtype);
      if (hr != S_OK) {
        LogError("%s GetGUID MF_MT_SUBTYPE index %d error %x", kCtorName, static_cast<int>(index),
                 static_cast<unsigned>(hr));
        return false;
      }
      if (subtype == MFVideoFormat_RGB32)
        break;
      LogInfo("%s sub type is %S", kCtorName, GetMFGUIDName(subtype).c_str());
    } else {
      LogInfo("%s major type is %S", kCtorName, GetMFGUIDName(major).c_str());
    }
    pOutputType->Release();
    pOutputType = nullptr;
  }
  LogInfo("%s we have found RGB32 format available index %d", kCtorName, static_cast<int>(index));

  hr = CompleteRGB32OutputType(pOutputType, pInputType, FrameWidth);
  if (FAILED(hr)) {
    LogError("%s completing the output type error: %x", kCtorName, static_cast<unsigned>(hr));
    return false;
  }

  UINT32 value = 0;
  hr = pOutputType->GetUINT32(MF_MT_DEFAULT_STRIDE, &value);
  if (hr != S_OK) {
    LogError("%s Get MF_MT_DEFAULT_STRIDE error: %x", kCtorName, static_cast<unsigned>(hr));
    return false;
  }
  INT32 stride = static_cast<INT32>(value);
  LogInfo("%s stride of output format is %d", kCtorName, stride);

  // The sign of the stride selects the row order: negative means bottom-up.
  if ((bTopDown && stride < 0) || (!bTopDown && stride > 0)) {
    LogInfo("%s change the sign of the stride of output RGB32 image", kCtorName);
    stride = -stride;
    hr = pOutputType->SetUINT32(MF_MT_DEFAULT_STRIDE, static_cast<UINT32>(stride));
    if (hr != S_OK) {
      LogError("%s Set MF_MT_DEFAULT_STRIDE error: %x", kCtorName, static_cast<unsigned>(hr));
      return false;
    }
  }

  hr = pOutputType->GetUINT32(MF_MT_DEFAULT_STRIDE, &value);
  if (hr != S_OK) {
    LogError("%s Get MF_MT_DEFAULT_STRIDE error: %x", kCtorName, static_cast<unsigned>(hr));
    return false;
  }
  FrameStride = static_cast<INT32>(value);
  LogInfo("%s output media type:", kCtorName);
  LogMediaTypeBasicParams(pOutputType, nullptr, nullptr, nullptr, nullptr, nullptr);
  hr = pTransform->SetOutputType(0, pOutputType, 0);
  if (hr != S_OK) {
    LogError("%s SetOutputType error: %x", kCtorName, static_cast<unsigned>(hr));
    return false;
  }

  // Informational only: the converter always supplies its own output samples.
  MFT_OUTPUT_STREAM_INFO info = {};
  hr = pTransform->GetOutputStreamInfo(0, &info);
  if (hr != S_OK)
    LogError("%s GetOutputStreamInfo error %x", kCtorName, static_cast<unsigned>(hr));
  else if (info.dwFlags & MFT_OUTPUT_STREAM_PROVIDES_SAMPLES)
    LogInfo("%s trasform provides samples", kCtorName);
  else if (info.dwFlags & MFT_OUTPUT_STREAM_CAN_PROVIDE_SAMPLES)
    LogInfo("%s trasform supports both allocation models", kCtorName);
  else
    LogInfo("%s the client must allocate the output samples for the stream.", kCtorName);
  return true;
}

TMFVideoConverter::~TMFVideoConverter()
{
  static const char* const kName = "TMFVideoConverter::~TMFVideoConverter";
  LogInfo("%s", kName);
  // Not signalled: the thread notices the flag within one 100 ms wait.
  bStopConvert = true;
  if (hConvertThread) {
    WaitForSingleObject(hConvertThread, INFINITE);
    CloseHandle(hConvertThread);
    hConvertThread = nullptr;
    dwConvertThreadId = 0;
  }
  if (pOutputType) {
    pOutputType->Release();
    pOutputType = nullptr;
  }
  if (pInputType) {
    pInputType->Release();
    pInputType = nullptr;
  }
  if (pTransform) {
    pTransform->Release();
    pTransform = nullptr;
  }
  if (pInputSample) {
    pInputSample->Release();
    pInputSample = nullptr;
  }
  delete pBuiltIn;
  pBuiltIn = nullptr;
  if (hSampleEvent) {
    CloseHandle(hSampleEvent);
    hSampleEvent = nullptr;
  }
  DeleteCriticalSection(&SampleLock);
  LogInfo("%s exit", kName);
}

void TMFVideoConverter::SetInputSample(IMFSample* sample)
{
  static const char* const kName = "TMFVideoConverter::SetInputSample";
  LogVerbose("%s", kName);
  // Never wait for the convert thread: while it holds the lock (converting, or
  // inside the host's callback) the new frame is dropped; otherwise the newest
  // sample replaces one that has not been taken yet.
  if (TryEnterCriticalSection(&SampleLock)) {
    if (pInputSample) {
      pInputSample->Release();
      if (pOwner)
        pOwner->CaptureFrameDropped();
    }
    pInputSample = sample;
    LeaveCriticalSection(&SampleLock);
    SetEvent(hSampleEvent);
  } else if (sample) {
    sample->Release();
    if (pOwner)
      pOwner->CaptureFrameDropped();
  }
  LogVerbose("%s exit", kName);
}

DWORD WINAPI TMFVideoConverter::ConvertThreadAPI(LPVOID parameter)
{
  static const char* const kName = "TMFVideoConverter::ConvertThreadAPI";
  LogInfo("%s", kName);
  static_cast<TMFVideoConverter*>(parameter)->ConvertThread();
  LogInfo("%s exit", kName);
  return 0;
}

void TMFVideoConverter::ConvertThread()
{
  static const char* const kName = "TMFVideoConverter::ConvertThread";
  LogInfo("%s", kName);
  while (!bStopConvert) {
    WaitForSingleObject(hSampleEvent, 100);
    TTryLock lock(&SampleLock);
    if (!lock || !pInputSample)
      continue;
    bConverting = true;
    // A host callback that throws must not take the thread (and the process) down.
    try {
      ConvertPendingSample();
    } catch (...) {
      LogError("%s unexpected exception, frame dropped", kName);
    }
    pInputSample->Release();
    pInputSample = nullptr;
    bConverting = false;
  }
  LogInfo("%s exit", kName);
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
    pOwner->ProcessRGB32Sample(pInputSample, FrameWidth, FrameHeight, topDown);
    return;
  }

  HRESULT hr = pTransform->ProcessInput(0, pInputSample, 0);
  if (hr == MF_E_NOTACCEPTING && DrainTransform())
    hr = pTransform->ProcessInput(0, pInputSample, 0);
  if (hr != S_OK) {
    LogError("%s ProcessInput error: %x", kName, static_cast<unsigned>(hr));
    return;
  }
  // From here the transform holds the input until ProcessOutput takes it. A path that
  // does not take it flushes the transform: otherwise every later ProcessInput would
  // fail with MF_E_NOTACCEPTING and no frame would come through again.
  ComPtr<IMFSample> output = AdoptComPtr(pOwner->CreateNewOutputSample(FrameWidth, FrameHeight));
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
  if (buffer.pEvents)
    buffer.pEvents->Release();
  if (hr == S_OK)
    pOwner->ProcessRGB32Sample(output.Get(), FrameWidth, FrameHeight, topDown);
  else if (hr != MF_E_TRANSFORM_NEED_MORE_INPUT) {
    LogError("%s ProcessOutput error: %x", kName, static_cast<unsigned>(hr));
    FlushTransform();
  }
}

void TMFVideoConverter::FlushTransform()
{
  const HRESULT hr = pTransform->ProcessMessage(MFT_MESSAGE_COMMAND_FLUSH, 0);
  if (hr != S_OK)
    LogError("%s flush error: %x", "TMFVideoConverter::ConvertThread", static_cast<unsigned>(hr));
}

// Wine 8.0's Color Converter ignores the flush message (and answers S_OK): an input it
// still holds can only be taken out by ProcessOutput. The stale frame is dropped.
bool TMFVideoConverter::DrainTransform()
{
  static const char* const kName = "TMFVideoConverter::ConvertThread";
  ComPtr<IMFSample> output = AdoptComPtr(pOwner->CreateNewOutputSample(FrameWidth, FrameHeight));
  if (!output)
    return false;
  MFT_OUTPUT_DATA_BUFFER buffer = {};
  buffer.pSample = output.Get();
  DWORD status = 0;
  const HRESULT hr = pTransform->ProcessOutput(0, 1, &buffer, &status);
  if (buffer.pEvents)
    buffer.pEvents->Release();
  LogError("%s transform still held an earlier frame, dropped it: %x", kName, static_cast<unsigned>(hr));
  return SUCCEEDED(hr) || hr == MF_E_TRANSFORM_NEED_MORE_INPUT;
}

void TMFVideoConverter::ConvertBuiltIn()
{
  static const char* const kName = "TMFVideoConverter::ConvertThread";
  const bool topDown = FrameStride >= 0;
  if (pBuiltIn->PassesThrough(bTopDown)) {
    pOwner->ProcessRGB32Sample(pInputSample, FrameWidth, FrameHeight, topDown);
    return;
  }

  // The capture thread's copy has one buffer: this takes it without copying.
  ComPtr<IMFMediaBuffer> input;
  HRESULT hr = pInputSample->ConvertToContiguousBuffer(&input);
  if (hr != S_OK) {
    LogError("%s ConvertToContiguousBuffer error: %x", kName, static_cast<unsigned>(hr));
    pOwner->CaptureFrameDropped();
    return;
  }
  ComPtr<IMFSample> output = AdoptComPtr(pOwner->CreateNewOutputSample(FrameWidth, FrameHeight));
  ComPtr<IMFMediaBuffer> outputBuffer;
  if (!output || output->GetBufferByIndex(0, &outputBuffer) != S_OK) {
    LogError("%s output sample is NULL", kName);
    pOwner->CaptureFrameDropped();
    return;
  }

  const DWORD frameBytes = FrameWidth * FrameHeight * 4u;
  bool converted = false;
  {
    TBufferLock source(input.Get());
    TBufferLock target(outputBuffer.Get());
    if (FAILED(source.Result) || FAILED(target.Result) || target.MaxLength < frameBytes) {
      LogError("%s buffer lock error: %x %x", kName, static_cast<unsigned>(source.Result),
               static_cast<unsigned>(target.Result));
      pOwner->CaptureFrameDropped();
      return;
    }
    converted = pBuiltIn->Convert(source.Data, source.CurrentLength, target.Data, bTopDown);
  }
  if (!converted) {
    // A broken frame (a truncated JPEG, a short buffer) costs this frame only.
    LogError("%s frame dropped: %s", kName, pBuiltIn->Error());
    pOwner->CaptureFrameDropped();
    return;
  }
  outputBuffer->SetCurrentLength(frameBytes);
  pOwner->ProcessRGB32Sample(output.Get(), FrameWidth, FrameHeight, topDown);
}
