// TFrameSink: the side a converter hands its frames to, which makes its output samples and
// receives the RGB32 frames. Frames flow one way: the capture side hands the converter its
// input (SetInputSample), the converter hands the sink its output, and nothing reaches back.
// The capture session implements it (capture/Session.h); tests hand in their own. The
// converter calls it from its convert thread (and its decoder threads), ReserveOutputs from
// its constructor, FrameDropped also from the capture thread.
#pragma once

struct IMFSample;

class TFrameSink {
 public:
  // Once, before any frame: the converter keeps up to `count` output samples of width x
  // height pixels in flight, which the sink may make ready now.
  virtual void ReserveOutputs(unsigned int width, unsigned int height, int count) = 0;
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
