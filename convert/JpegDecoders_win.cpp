// Parallel MJPG decoding (see JpegDecoders.h). A decoder's State hands its frame from
// one thread to the next: the capture thread fills an Idle decoder and makes it Decoding,
// the decoder thread makes it Decoded (or Failed) and wakes the converter's thread,
// which hands the frame to the host when its sequence number comes up and makes the
// decoder Idle again. Each store of State releases what the thread wrote before it; each
// thread reads State before it touches the decoder's frame. A decoded frame goes to the
// parking place instead when it is free (under its lock), and its decoder is Idle at once.
#include "convert/JpegDecoders.h"

#include "common/Ownership_win.h"
#include "convert/BuiltInConverter.h"
#include "log/Log.h"
#include "log/LogTrace.h"

#include <mfidl.h>

#include <new>

namespace {
const char* const kName = "TJpegDecoders";
}

TJpegDecoders::TJpegDecoders(TJpegDecoderClient& client, unsigned int width, unsigned int height, int count)
    : Client(client)
{
  if (count < 1 || count > kMaxDecoders || !IdleEvent) return;
  for (int i = 0; i < count; ++i) {
    TDecoder& decoder = Decoders[i];
    decoder.Owner = this;
    decoder.Kernels =
        new (std::nothrow) TBuiltInConverter(TBuiltInInput::MJPG, width, height, 0, TYuvMatrix::BT601Limited);
    if (!decoder.Kernels || !decoder.Kernels->Ready() || !decoder.Wake) {
      LogError("%s decoder %d unusable: %s", kName, i, decoder.Kernels ? decoder.Kernels->Error() : "out of memory");
      return;
    }
    if (!decoder.Thread.Start(L"Pictor JPEG decoder", DecoderThreadAPI, &decoder)) {
      LogError("%s unable to create decoder thread %d error %d", kName, i, static_cast<int>(GetLastError()));
      return;
    }
    DecoderCount = i + 1;
  }
  bReady = true;
  LogInfo("%s %d decoders", kName, count);
}

TJpegDecoders::~TJpegDecoders()
{
  bStop = true;
  for (TDecoder& decoder : Decoders) {
    decoder.Thread.RequestStop();
    decoder.Thread.Join(INFINITE);
    ReleaseAndNull(decoder.Input);
    ReleaseAndNull(decoder.Output);
    delete decoder.Kernels;
    decoder.Kernels = nullptr;
  }
  ReleaseAndNull(Parked);
}

bool TJpegDecoders::Submit(IMFSample* sample)
{
  PICTOR_DCHECK_THREAD(SubmitThread);
  for (int i = 0; i < DecoderCount; ++i) {
    TDecoder& decoder = Decoders[i];
    if (decoder.State.load(std::memory_order_acquire) != Idle) continue;
    decoder.Input = sample;
    decoder.Sequence = NextSequence++;
    decoder.State.store(Decoding, std::memory_order_release);
    decoder.Wake.Set();
    return true;
  }
  return false;
}

bool TJpegDecoders::AllBusy() const
{
  for (int i = 0; i < DecoderCount; ++i)
    if (Decoders[i].State.load(std::memory_order_acquire) == Idle) return false;
  return true;
}

bool TJpegDecoders::WaitForIdle(HANDLE stop, DWORD timeoutMs) const
{
  const HANDLE events[] = {stop, IdleEvent.Get()};
  return WaitForMultipleObjects(2, events, FALSE, timeoutMs) != WAIT_OBJECT_0;
}

void TJpegDecoders::DeliverReady()
{
  PICTOR_DCHECK_THREAD(DeliveryThread);
  for (;;) {
    if (DeliverParked(NextDelivery)) {
      ++NextDelivery;
      continue;
    }
    TDecoder* next = nullptr;
    for (int i = 0; i < DecoderCount && !next; ++i) {
      const LONG state = Decoders[i].State.load(std::memory_order_acquire);
      if ((state == Decoded || state == Failed) && Decoders[i].Sequence == NextDelivery) next = &Decoders[i];
    }
    // The frame whose turn it is is still being decoded (or being parked): its decoder
    // wakes this thread.
    if (!next) return;
    if (next->Output) Client.DeliverDecoded(next->Output);
    ReleaseAndNull(next->Output);
    ++NextDelivery;
    next->State.store(Idle, std::memory_order_release);
    DecoderIdle();
  }
}

bool TJpegDecoders::Park(uint64_t sequence, IMFSample* output)
{
  const TExclusiveSRWHold hold(ParkLock);
  if (Parked) return false;
  Parked = output;
  ParkedSequence = sequence;
  return true;
}

bool TJpegDecoders::DeliverParked(uint64_t sequence)
{
  IMFSample* frame = nullptr;
  {
    const TExclusiveSRWHold hold(ParkLock);
    if (!Parked || ParkedSequence != sequence) return false;
    frame = Parked;
  }
  // The place stays taken while the host has the frame: frames in flight stay at one
  // more than the decoders.
  Client.DeliverDecoded(frame);
  {
    const TExclusiveSRWHold hold(ParkLock);
    Parked = nullptr;
  }
  frame->Release();
  return true;
}

DWORD WINAPI TJpegDecoders::DecoderThreadAPI(LPVOID parameter)
{
  auto* decoder = static_cast<TDecoder*>(parameter);
  decoder->Owner->DecoderThread(*decoder);
  return 0;
}

void TJpegDecoders::DecoderThread(TDecoder& decoder)
{
  const TLogScope scope("TJpegDecoders::DecoderThread");
  const HANDLE events[] = {decoder.Thread.StopHandle(), decoder.Wake.Get()};
  while (!bStop) {
    WaitForMultipleObjects(2, events, FALSE, 100);
    if (decoder.State.load(std::memory_order_acquire) != Decoding) continue;
    IMFSample* output = Client.DecodeFrame(decoder.Kernels, decoder.Input);
    ReleaseAndNull(decoder.Input);
    if (output && Park(decoder.Sequence, output)) {
      decoder.State.store(Idle, std::memory_order_release);
      DecoderIdle();
    } else {
      decoder.Output = output;
      decoder.State.store(output ? Decoded : Failed, std::memory_order_release);
    }
    Client.FrameDecoded();
  }
}
