// TFrameSink: what the converter needs from its owner, which receives the RGB32 frames.
// The capture object implements it (capture/FrameDelivery.h); tests may hand in their
// own. The converter calls it from its convert thread, and FrameDropped also from the
// capture thread and the decoder threads.
#pragma once

struct IMFSample;

class TFrameSink {
 public:
  // An RGB32 sample with one buffer of at least width x height x 4 bytes, owned by the
  // caller; null (after an error line) when none could be made.
  virtual IMFSample* CreateNewOutputSample(unsigned int width, unsigned int height) = 0;
  // Hands one RGB32 frame of width x height pixels, rows in the order topDown says, to
  // the host. The sample stays the caller's. Runs with the converter's SampleLock held.
  virtual void ProcessRGB32Sample(IMFSample* sample, unsigned int width, unsigned int height, bool topDown) = 0;
  // Counts one frame that did not reach the host.
  virtual void FrameDropped() = 0;

 protected:
  ~TFrameSink() = default;
};
