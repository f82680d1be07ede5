// Person segmentation at the camera's rate: a thread of its own loads the model at the
// first use and runs it on the newest frame handed over, never on a queue of old ones;
// each frame is keyed with the newest mask. A slow machine updates the mask less often
// and never holds a camera frame back.
//
// Threads: SubmitFrame and ApplyMatte are called from one thread at a time (the
// converter's); the segmentation thread touches only the frame and mask slots the
// hand-over gives it. The two meet under one lock held only to swap slots.
#pragma once

#include "common/Thread_win.h"
#include "kernels/PersonMatte.h"
#include "person/SegmentationModel.h"

#include <windows.h>

#include <cstdint>
#include <memory>

struct TSegmenterCore;

class TPersonSegmenter {
 public:
  explicit TPersonSegmenter(std::unique_ptr<TSegmentationModel> model, const TMatteSettings& settings = {});
  // Stops the thread; one stuck in the runtime for more than kStopLimitMs is left to end
  // on its own (it keeps the library loaded) rather than hang the caller.
  ~TPersonSegmenter();
  TPersonSegmenter(const TPersonSegmenter&) = delete;
  TPersonSegmenter& operator=(const TPersonSegmenter&) = delete;

  static constexpr DWORD kStopLimitMs = 5000;

  // Starts the thread, which loads the model. False (status psFailed) when it cannot.
  bool Start();
  TPersonStatus Status() const;
  // The status once loading is over, or psLoading after `milliseconds`.
  TPersonStatus WaitForLoad(DWORD milliseconds) const;

  // Averages the frame down to the model's input and hands it to the thread, replacing a
  // frame it has not taken yet. False before the model is ready or for an unusable frame.
  bool SubmitFrame(const uint8_t* pixels, unsigned int width, unsigned int height, unsigned int stride, bool bottomUp);
  // Writes the frame's alpha from the newest mask (TMatteWriter). False, and nothing
  // written, while there is no mask for frames of this size.
  bool ApplyMatte(uint8_t* pixels, unsigned int width, unsigned int height, unsigned int stride, bool bottomUp,
                  float threshold, uint8_t opacity);

  struct TCounts {
    uint64_t submitted;  // frames handed over
    uint64_t segmented;  // model runs that gave a mask
    uint64_t lastFrame;  // number (from 1) of the frame the newest mask was made from
    double lastRunMs;    // the newest run's time on the segmentation thread
  };
  TCounts Counts() const;

 private:
  TSegmenterCore* core;  // shared with the thread, which may outlive this object
  TLibraryThread thread;
  TFrameShrinker shrinker;
  TMatteWriter writer;
};
