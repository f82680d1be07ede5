// Frame information (TPictor::StartCaptureEx): the capture thread numbers every frame it reads
// and notes its times; the record rides on the frame's copy as a private sample attribute,
// through the converter (whose output samples take their input's attributes), to the delivery.
#pragma once

#include "Pictor.h"

// The capture thread's numbering and clocks of the frames it reads.
class TFrameStamper {
 public:
  // Numbers the frame and reads its times.
  TPictorFrameInfo Stamp(IMFSample* sample);
  // After a reconnection the new stream's stamps start anew: its first frame comes after the
  // last one by the read time between them, so SampleTime goes on rising.
  void Rebase() { bRebase = true; }

 private:
  unsigned long long NextSequence = 0;
  bool bHaveBase = false;
  long long BaseSampleTime = 0;  // the first frame's time stamp, or its read time without one
  long long LastSampleTime = 0;  // the last frame's SampleTime and read time
  long long LastReadTime = 0;
  bool bRebase = false;
};

bool AttachFrameInfo(IMFSample* sample, const TPictorFrameInfo& info);
// False (and a zero record) for a sample without it.
bool ReadFrameInfo(IMFSample* sample, TPictorFrameInfo* info);

// Marks a StartCaptureEx capture in pPictorImageReady: its frames go to the extended callback
// with their information instead. Never called.
bool ExtendedCallbackMarker(unsigned int width, unsigned int height, bool topDown, unsigned char* pixels,
                            void* context);

// The performance counter in 100 ns units.
long long PerformanceCounterIn100ns();
