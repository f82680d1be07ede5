// Frame-rate meter arithmetic, driven by a scripted clock.
#include "media/FPSCalculator.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// One scripted clock for the whole program: the meter takes plain function pointers.
struct ScriptedClock {
  bool counterWorks = true, frequencyWorks = true;
  int64_t counter = 1;  // 0 would count as "not primed"
  uint32_t tick = 1000;
} g_clock;
constexpr int64_t kFrequency = 10'000'000;
const TFPSClock kClock = {
    [](int64_t* f) { return *f = kFrequency, g_clock.frequencyWorks; },
    [](int64_t* c) { return *c = g_clock.counter, g_clock.counterWorks; },
    [] { return g_clock.tick; },
};

// `frames` frames `ms` apart on both clocks; every one of them must read `rate` (0: none
// yet). The counter gives the rate of the last interval until the ring of 100 ticks is
// full; from then on the ring's span does (100 slots over 99 intervals of 40 ms: 25.25/s).
// clang-format off
struct Step { int frames; uint32_t ms; bool counterWorks; double rate; bool ringFull; };
struct Scenario { const char* name; bool frequencyWorks; std::vector<Step> steps; };
constexpr double kRingRate = 100000.0 / 3960.0;
const Scenario kScenarios[] = {
    // The first frame only primes the counter.
    {"counter_then_ring", true, {{1, 0, true, 0.0, false}, {99, 40, true, 25.0, false}, {150, 40, true, kRingRate, true}}},
    {"no_counter_waits_for_the_ring", false, {{99, 40, true, 0.0, false}, {1, 40, true, kRingRate, true}}},
    // A counter that fails is dropped for good: the last measured rate stands.
    {"failing_counter", true,
     {{1, 0, true, 0.0, false}, {1, 20, true, 50.0, false}, {1, 40, false, 50.0, false}, {1, 40, true, 50.0, false}}},
};
// clang-format on

class FPSCalculatorTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(FPSCalculatorTest, RateFromTheCounterThenFromTheTickRing)
{
  g_clock = ScriptedClock{};
  g_clock.frequencyWorks = GetParam().frequencyWorks;
  TFPSCalculator meter(kClock);
  int frame = 0;
  for (const Step& step : GetParam().steps) {
    g_clock.counterWorks = step.counterWorks;
    for (int i = 0; i < step.frames; ++i, ++frame) {
      g_clock.counter += kFrequency / 1000 * step.ms;
      g_clock.tick += step.ms;
      ASSERT_DOUBLE_EQ(meter.Update(), step.rate) << "frame " << frame;
      ASSERT_EQ(meter.HasValue, step.rate != 0.0) << "frame " << frame;
    }
    EXPECT_EQ(meter.RingFull, step.ringFull) << "frame " << frame;
  }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FPSCalculatorTest, ::testing::ValuesIn(kScenarios),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
