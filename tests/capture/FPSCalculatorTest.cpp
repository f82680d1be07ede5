// Frame-rate meter arithmetic, driven by a scripted clock.
#include "capture/FPSCalculator.h"

#include <gtest/gtest.h>

namespace {

// One scripted clock for the whole program: the meter takes plain function pointers.
struct ScriptedClock {
  bool counterWorks = true;
  bool frequencyWorks = true;
  int64_t frequency = 10'000'000;
  int64_t counter = 0;
  uint32_t tick = 0;
  int counterReads = 0;
} g_clock;

const TFPSClock kClock = {
    [](int64_t* f) {
      *f = g_clock.frequency;
      return g_clock.frequencyWorks;
    },
    [](int64_t* c) {
      ++g_clock.counterReads;
      *c = g_clock.counter;
      return g_clock.counterWorks;
    },
    [] { return g_clock.tick; },
};

class FPSCalculatorTest : public ::testing::Test {
 protected:
  void SetUp() override { g_clock = ScriptedClock{}; }

  // Advances both clocks by ms milliseconds, then reports one frame.
  static double Frame(TFPSCalculator& meter, uint32_t ms)
  {
    g_clock.counter += g_clock.frequency / 1000 * ms;
    g_clock.tick += ms;
    return meter.Update();
  }
};

TEST_F(FPSCalculatorTest, FirstFrameOnlyPrimesTheCounter)
{
  g_clock.counter = 5'000'000;
  TFPSCalculator meter(kClock);
  EXPECT_EQ(meter.Frequency, 10'000'000);
  EXPECT_EQ(meter.Update(), 0.0);
  EXPECT_FALSE(meter.HasValue);
  EXPECT_EQ(meter.TickIndex, 0u);  // no tick stored for the priming frame
  EXPECT_EQ(meter.LastCounter, 5'000'000);

  // The second frame gives the rate of that one interval: 10 MHz / 250,000 counts.
  g_clock.counter += 250'000;
  g_clock.tick += 25;
  EXPECT_DOUBLE_EQ(meter.Update(), 40.0);
  EXPECT_TRUE(meter.HasValue);
  EXPECT_FALSE(meter.RingFull);
  EXPECT_EQ(meter.TickIndex, 1u);
}

TEST_F(FPSCalculatorTest, FortyMillisecondFramesReadFromTheRingOnceItIsFull)
{
  g_clock.counter = 1;  // a counter value of 0 would count as "not primed"
  g_clock.tick = 1000;
  TFPSCalculator meter(kClock);
  EXPECT_EQ(meter.Update(), 0.0);
  for (int call = 2; call <= 100; ++call) {
    ASSERT_DOUBLE_EQ(Frame(meter, 40), 25.0) << "call " << call;
    ASSERT_FALSE(meter.RingFull) << "call " << call;
  }
  const int readsBeforeFull = g_clock.counterReads;
  const double rate = Frame(meter, 40);  // call 101 fills slot 99 and wraps
  EXPECT_TRUE(meter.RingFull);
  EXPECT_TRUE(meter.HasValue);
  EXPECT_EQ(meter.TickIndex, 0u);
  EXPECT_DOUBLE_EQ(rate, 100000.0 / 3960.0);
  EXPECT_NEAR(rate, 25.25, 0.01);

  // From now on the counter no longer feeds LastCounter; the ring alone gives the rate.
  const int64_t last = meter.LastCounter;
  for (int i = 0; i < 150; ++i)
    ASSERT_DOUBLE_EQ(Frame(meter, 40), 100000.0 / 3960.0);
  EXPECT_EQ(meter.LastCounter, last);
  EXPECT_EQ(g_clock.counterReads, readsBeforeFull + 1 + 150);  // still read, not used
}

TEST_F(FPSCalculatorTest, WithoutACounterOnlyTheRingGivesARate)
{
  g_clock.frequencyWorks = false;
  g_clock.frequency = 0;
  TFPSCalculator meter(kClock);
  EXPECT_EQ(meter.Frequency, 0);
  for (int call = 1; call <= 99; ++call) {
    ASSERT_EQ(Frame(meter, 40), 0.0) << "call " << call;
    ASSERT_FALSE(meter.HasValue) << "call " << call;
  }
  // With no priming frame the hundredth call already fills the ring.
  EXPECT_DOUBLE_EQ(Frame(meter, 40), 100000.0 / 3960.0);
  EXPECT_TRUE(meter.HasValue);
  EXPECT_TRUE(meter.RingFull);
}

TEST_F(FPSCalculatorTest, ACounterThatFailsLaterIsDroppedForGood)
{
  g_clock.counter = 1;
  TFPSCalculator meter(kClock);
  meter.Update();
  EXPECT_DOUBLE_EQ(Frame(meter, 20), 50.0);
  g_clock.counterWorks = false;
  EXPECT_DOUBLE_EQ(Frame(meter, 40), 50.0);  // the last measured rate stands
  EXPECT_EQ(meter.Frequency, 0);
  g_clock.counterWorks = true;  // even a counter that recovers is not used again
  EXPECT_DOUBLE_EQ(Frame(meter, 40), 50.0);
  EXPECT_EQ(meter.Frequency, 0);
}

}  // namespace
