// Parallel decoding of a built-in MJPG conversion. A few decoder threads, each with its
// own TurboJPEG decompressor and pooled output sample, work on consecutive frames; the
// converter's thread hands the decoded frames to the host one at a time, in the order
// the camera sent them. A decoded frame is parked in one place of its own until the host
// has had it, so that its decoder takes the next frame at once; with that place taken it
// waits on its decoder. A frame that finds every decoder busy (decoding, or holding a
// decoded frame) is dropped, so latency stays at a few frames.
#pragma once

#include "common/Thread_win.h"

#include <windows.h>

#include <atomic>
#include <cstdint>

struct IMFSample;
class TBuiltInConverter;

// What the decoders need of whoever runs them (the converter).
class TJpegDecoderClient {
 public:
  // Decoder thread: one frame through `kernels` into an RGB32 sample owned by the caller;
  // null, with the frame counted as dropped, when it does not convert. Never throws.
  virtual IMFSample* DecodeFrame(TBuiltInConverter* kernels, IMFSample* input) = 0;
  // Converter thread, in DeliverReady: one decoded frame to the host. Never throws.
  virtual void DeliverDecoded(IMFSample* frame) = 0;
  // Decoder thread: a decoded frame waits for DeliverReady.
  virtual void FrameDecoded() = 0;

 protected:
  ~TJpegDecoderClient() = default;
};

class TJpegDecoders {
 public:
  static constexpr int kMaxDecoders = 4;

  // `count` decoders (1 to kMaxDecoders) for frames of width x height. Success is read from
  // Ready(); the client deletes the object after its own thread has ended.
  TJpegDecoders(TJpegDecoderClient& client, unsigned int width, unsigned int height, int count);
  // Stops and joins the decoder threads, then releases the frames they still hold.
  ~TJpegDecoders();
  TJpegDecoders(const TJpegDecoders&) = delete;
  TJpegDecoders& operator=(const TJpegDecoders&) = delete;

  bool Ready() const { return bReady; }
  int Count() const { return DecoderCount; }

  // Capture thread: hands the sample (its reference) to an idle decoder with the next
  // sequence number. False when every decoder is busy: the caller keeps the reference.
  bool Submit(IMFSample* sample);
  // True when a frame handed over now would find no idle decoder.
  bool AllBusy() const;
  // Waits until a decoder goes idle, `stop` is set or the time is up; false once `stop` is
  // set.
  bool WaitForIdle(HANDLE stop, DWORD timeoutMs) const;
  // Converter thread, with SampleLock held: hands on every decoded frame whose turn has
  // come, in sequence order; a frame that failed to decode only gives up its turn.
  void DeliverReady();

 private:
  enum TState : LONG { Idle, Decoding, Decoded, Failed };
  struct TDecoder {
    TJpegDecoders* Owner = nullptr;
    TBuiltInConverter* Kernels = nullptr;  // its own decompressor
    std::atomic<LONG> State{Idle};         // the hand-over between the three threads
    IMFSample* Input = nullptr;            // owned while Decoding
    IMFSample* Output = nullptr;           // owned while Decoded
    uint64_t Sequence = 0;                 // written before State leaves Idle
    TEvent Wake{TEvent::AutoReset};        // a frame was handed over
    TLibraryThread Thread;
  };

  static DWORD WINAPI DecoderThreadAPI(LPVOID parameter);
  void DecoderThread(TDecoder& decoder);
  // Decoder thread: parks a decoded frame. False when the place is taken: the decoder
  // then holds the frame.
  bool Park(uint64_t sequence, IMFSample* output);
  // Converter thread: hands the frame of `sequence` to the host when it is parked, and
  // frees the place afterwards.
  bool DeliverParked(uint64_t sequence);
  // A decoder is idle again: a capture thread holding a frame back may go on.
  void DecoderIdle() { IdleEvent.Set(); }

  TJpegDecoderClient& Client;
  TEvent IdleEvent{TEvent::AutoReset};
  TDecoder Decoders[kMaxDecoders];
  int DecoderCount = 0;
  // Each side's own, checked in debug builds.
  TThreadChecker SubmitThread;  // the capture thread
  uint64_t NextSequence = 0;
  TThreadChecker DeliveryThread;  // the converter thread
  uint64_t NextDelivery = 0;
  SRWLOCK ParkLock = SRWLOCK_INIT;  // guards the two below
  IMFSample* Parked = nullptr;      // owned
  uint64_t ParkedSequence = 0;
  std::atomic<bool> bStop{false};
  bool bReady = false;
};
