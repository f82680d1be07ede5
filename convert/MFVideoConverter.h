// TMFVideoConverter: turns the frames of a camera's native media type into RGB32 frames
// on a thread of its own and hands each one to its owner through a TFrameSink. Native RGB32/ARGB32
// input is passed through without a transform; any other subtype goes through the
// Windows Color Converter DSP.
//
// Also home of two static services used before any converter exists: the test whether
// a native type can be delivered as RGB32, and a one-line description of a media type.
#pragma once

#include <windows.h>

#include <atomic>

#include "common/Thread_win.h"
#include "convert/FrameSink.h"
#include "convert/JpegDecoders.h"

struct IMFMediaType;
struct IMFTransform;
struct IMFSample;
class TBuiltInConverter;

// What the capture thread does with a frame it has just read (TMFVideoConverter::Admission).
enum class TFrameAdmission {
  Take,      // hand it over (SetInputSample)
  Drop,      // the convert thread is busy with a frame: the mailbox would drop it
  HoldBack,  // every parallel decoder is busy: wait for one (WaitForRoom), then ask again
};

class TMFVideoConverter final : private TJpegDecoderClient {
 public:
  // Takes over one reference to inputType that the caller added; sink (not owned) must
  // outlive the converter. builtIn: the library's own kernels instead of the Color Converter
  // DSP. Success is read from bInitialized; a failed converter holds no thread and is simply
  // deleted.
  TMFVideoConverter(TFrameSink* sink, IMFMediaType* inputType, bool topDown, bool builtIn = false);
  ~TMFVideoConverter();
  TMFVideoConverter(const TMFVideoConverter&) = delete;
  TMFVideoConverter& operator=(const TMFVideoConverter&) = delete;

  // Capture thread, once per frame read: whether to hand it over. A frame is dropped before
  // its copy is paid for while the convert thread works on another; while every parallel
  // decoder is busy it waits for one instead: the decoders take every processor, and an
  // unpaced camera's frames read only to be dropped would take theirs.
  TFrameAdmission Admission();
  // Capture thread, after HoldBack: waits until a decoder goes idle, `stop` is set or the
  // time is up (it may also return earlier). False once `stop` is set.
  bool WaitForRoom(HANDLE stop, DWORD timeoutMs);
  // Capture thread: hands one sample (its reference) to the one-sample mailbox. The
  // sample is dropped when the convert thread is busy with a frame.
  void SetInputSample(IMFSample* sample);
  // The most input samples alive at once, the one the capture thread is copying included:
  // one per parallel decoder (a copy is made only while one is idle), or the convert
  // thread's and the mailbox's. The capture reserves that many copy buffers.
  int InputsInFlight() const;
  // True on the convert thread, where the host's frame callback runs.
  bool OnConvertThread() const { return Thread.IsCurrent(); }
  DWORD ConvertThreadId() const { return Thread.ThreadId(); }

  // Decoders of a built-in MJPG conversion, made at construction: 0 (the default) one
  // per processor, at most 4; 1 decodes on the convert thread itself. Benchmarks and
  // tests set another count.
  static std::atomic<int> JpegDecoderLimit;

  // True when the type is RGB32/ARGB32 video, or the Color Converter DSP accepts it as
  // input. Receives its own counted reference to the type and releases it.
  static bool CanUseAsInputType(IMFMediaType* type);
  // True when the built-in converter reads the type (video of a known size in MJPG,
  // YUY2, UYVY, NV12, I420/IYUV, YV12, RGB32 or ARGB32). Takes no reference.
  static bool CanConvertBuiltIn(IMFMediaType* type);

  // Writes one line with the type's major type, subtype, frame size and stride. Every
  // out-pointer may be null; sizes and stride are written as 0 when they could not be
  // read, the GUIDs stay untouched unless read.
  static void LogMediaTypeBasicParams(IMFMediaType* type, UINT32* width, UINT32* height, INT32* stride, GUID* majorType,
                                      GUID* subType);

  // Fills in an RGB32 output type that lacks MF_MT_FRAME_SIZE or MF_MT_DEFAULT_STRIDE
  // (Wine's Color Converter offers such types; Windows gives both): frame size, frame
  // rate and pixel aspect ratio come from the input type, the stride is +width x 4. A
  // complete type is left unchanged.
  static HRESULT CompleteRGB32OutputType(IMFMediaType* output, IMFMediaType* input, UINT32 width);

  bool bInitialized;
  bool bTopDown;
  TFrameSink* pSink;          // not owned
  IMFMediaType* pInputType;   // owned reference
  IMFMediaType* pOutputType;  // owned reference; null without a transform
  IMFTransform* pTransform;   // owned reference; null for native RGB32/ARGB32 input
  IMFSample* pInputSample;    // pending input sample; guarded by SampleLock
  UINT32 FrameWidth;
  UINT32 FrameHeight;
  INT32 FrameStride;      // of the frames handed on: its sign is the row order
  DWORD OutputPitch = 0;  // bytes per row of the transform's (always top-down) output
  GUID InputSubType;
  // Written by the destructor's thread, read by the convert thread once per pass.
  std::atomic<bool> bStopConvert;
  CRITICAL_SECTION SampleLock;
  TEvent SampleEvent{TEvent::AutoReset};  // set when a sample was stored, or a decoded frame waits
  std::atomic<bool> bConverting{false};   // convert thread, read by the capture thread
  // The built-in kernels and their JPEG decompressor (one per capture); null when the
  // Color Converter DSP or the plain pass-through is used. Used by the convert thread.
  TBuiltInConverter* pBuiltIn;
  // Parallel decoding of a built-in MJPG conversion with more than one decoder; null
  // otherwise. The capture thread submits frames, the convert thread delivers them.
  TJpegDecoders* pDecoders = nullptr;

 private:
  TLibraryThread Thread;  // the convert thread
  // The input side (Admission, WaitForRoom, SetInputSample) is one thread's, the capture
  // thread's: checked in debug builds.
  TThreadChecker InputThread;

  static DWORD WINAPI ConvertThreadAPI(LPVOID parameter);
  void ConvertThread();
  // The constructor's steps: wake-up event, the conversion for the input subtype, the
  // convert thread. False after a failure (logged).
  bool Initialize(bool builtIn);
  // Output samples in flight at once, asked of the sink once at the start.
  int OutputsInFlight() const;
  // One input sample through `kernels` into an RGB32 sample of the sink owned by the caller;
  // null, after an error line and with the frame counted as dropped, when it does not
  // convert. Runs on the convert thread or a decoder thread.
  IMFSample* ConvertWithKernels(TBuiltInConverter* kernels, IMFSample* input);
  // The parallel decoders' callbacks (TJpegDecoderClient).
  IMFSample* DecodeFrame(TBuiltInConverter* kernels, IMFSample* input) override;
  void DeliverDecoded(IMFSample* frame) override;
  void FrameDecoded() override;
  // Constructor steps for a non-native subtype: transform, input type, top-down RGB32
  // output type. False after a failure (logged); the transform, the output type and the
  // stride go into the members only once every step succeeded.
  bool ConfigureTransform();
  // Constructor steps of the built-in conversion: kernels for the subtype, matrix and
  // size, and the stride of the frames handed on. False after a failure (logged).
  bool ConfigureBuiltIn();
  // One pending sample through the built-in kernels into a pooled RGB32 sample.
  void ConvertBuiltIn();
  // One pending sample to the host, converted when needed; runs with SampleLock held.
  void ConvertPendingSample();
  // Turns the transform's top-down output into the bottom-up frame asked for. False,
  // after an error line and a dropped frame, when the buffer cannot be read.
  bool FlipOutputRows(IMFSample* output);
  // Drops whatever input the transform still holds, so that the next frame is accepted.
  void FlushTransform();
  // The same where a flush is ignored: takes the held frame's output and drops it. False
  // when the transform could not be emptied.
  bool DrainTransform();
};
