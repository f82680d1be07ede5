// Frame delivery: the capture object's side of the converter's frame sink, and deep
// copies of Media Foundation samples (the capture thread copies every sample the source
// reader returns so the reader's sample can be released at once; the copies throw
// EPictor* after an error line when they cannot be made).
#pragma once

#include "convert/FrameSink.h"

struct IMFSample;
struct IMFMediaBuffer;
class TPictor;
class TSamplePool;

// How a TPictor receives its converter's frames: output samples from the converter's
// pool, each RGB32 frame to the host's callback, and the dropped-frame count of the
// capture status.
class TPictorFrameSink final : public TFrameSink {
 public:
  explicit TPictorFrameSink(TPictor& pictor) : Pictor(pictor) {}
  IMFSample* CreateNewOutputSample(unsigned int width, unsigned int height) override;
  void ProcessRGB32Sample(IMFSample* sample, unsigned int width, unsigned int height, bool topDown) override;
  void FrameDropped() override;

 private:
  TPictor& Pictor;
};

// Copies flags, time, duration and every buffer; not the attribute store.
// A null source gives null.
IMFSample* PictorDuplicateSample(IMFSample* source);

// Copies the current-length bytes into a new memory buffer of exactly that size. A 2-D
// buffer is copied in its contiguous form (the bytes a plain Lock would give).
IMFMediaBuffer* PictorDuplicateBuffer(IMFMediaBuffer* source);

// The same with the copies' buffers taken from `pool` (null: new ones), so that a
// capture running in one format allocates no buffer per frame.
IMFSample* PictorDuplicateSample(IMFSample* source, TSamplePool* pool);
IMFMediaBuffer* PictorDuplicateBuffer(IMFMediaBuffer* source, TSamplePool* pool);
