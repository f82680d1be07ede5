#include "media/FPSCalculator.h"

TFPSCalculator::TFPSCalculator(const TFPSClock& clock) : Clock(&clock)
{
  int64_t frequency = 0;
  if (Clock->QueryFrequency(&frequency)) Frequency = frequency;
}

TFPSCalculator::~TFPSCalculator() = default;

double TFPSCalculator::Update()
{
  int64_t now = 0;
  if (!Clock->QueryCounter(&now)) {
    now = 0;
    Frequency = 0;  // never trust the counter again
  }

  // Until the tick ring has been filled once, the counter gives the rate of the
  // last interval. The very first frame only primes it.
  if (!RingFull && Frequency != 0) {
    const int64_t prev = LastCounter;
    LastCounter = now;
    if (prev == 0) return 0.0;
    HasValue = true;
    FPS = static_cast<double>(Frequency) / static_cast<double>(now - prev);
  }

  Ticks[TickIndex] = Clock->TickCount();
  const uint32_t next = TickIndex + 1 == RingSize ? 0 : TickIndex + 1;
  // On a full ring the next slot holds the tick stored 99 frames earlier.
  const uint32_t delta = Ticks[TickIndex] - Ticks[next];
  TickIndex = next;
  if (TickIndex == 0) {
    HasValue = true;
    RingFull = true;
  }

  // The factor is the number of slots, not the 99 intervals the span covers:
  // the rate reads about 1% high. Kept so that rates stay comparable between runs.
  if (RingFull) FPS = (1000.0 / delta) * 100.0;
  return FPS;
}
