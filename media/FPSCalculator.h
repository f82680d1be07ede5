// Frame-rate meter for the trace lines of the capture thread and the preview.
// Update() is called once per frame. While the tick ring is still filling, the rate
// comes from the performance counter (the last frame interval alone); once 100 ticks
// have been stored it comes from the tick ring (the span of the last 100 slots).
// It neither logs nor allocates.
//
// The arithmetic is portable; the clock is injected so the behaviour can be checked
// exactly off Windows. The default constructor (Windows builds only) uses
// QueryPerformanceFrequency, QueryPerformanceCounter and GetTickCount.
#pragma once

#include <cstdint>

struct TFPSClock {
  // Each returns false when the counter is not available.
  bool (*QueryFrequency)(int64_t* frequency);
  bool (*QueryCounter)(int64_t* counter);
  uint32_t (*TickCount)();
};

#if defined(_WIN32)
const TFPSClock& PlatformFPSClock();
#endif

class TFPSCalculator;

#if defined(_WIN32)
// The frame-rate trace of a frame loop: while LogTraceEnabled(), feeds `meter` one frame
// and writes "<name> WebCam FPS is <rate>" at most once per 5 seconds. `lastLineTick`
// holds the tick count of the last line; 0 starts the first 5 seconds at this frame.
// A null meter (its allocation failed) measures nothing.
void LogFrameRate(const char* name, TFPSCalculator* meter, unsigned long& lastLineTick);
#endif

class TFPSCalculator {
 public:
  static constexpr uint32_t RingSize = 100;

#if defined(_WIN32)
  TFPSCalculator();
#endif
  explicit TFPSCalculator(const TFPSClock& clock);
  virtual ~TFPSCalculator();

  TFPSCalculator(const TFPSCalculator&) = delete;
  TFPSCalculator& operator=(const TFPSCalculator&) = delete;

  double Update();

  int64_t LastCounter = 0;  // counter value at the previous frame, 0 before the first
  int64_t Frequency = 0;    // counter frequency, 0 when there is no counter
  uint32_t TickIndex = 0;   // ring slot the next frame writes
  uint32_t Ticks[RingSize] = {};
  bool HasValue = false;
  bool RingFull = false;
  double FPS = 0.0;

 private:
  const TFPSClock* Clock;
};
