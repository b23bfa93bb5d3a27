// Clocks, time filter and frame pacer on synthetic timestamps (jitter and drift from a
// fixed seed, the way FFmpeg tests its time filter).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "xqv/clock.h"

namespace {

using namespace XqvUtils;

TEST(XqvClock, StepClockKeepsTheTime) {
  StepClock c;
  for (int64_t t : {0LL, 5LL, -7LL, 1LL << 50}) EXPECT_EQ(c.map_time(t, 3), t);
}

TEST(XqvClock, SmoothClockFollowsJitteredDriftingTimesClosely) {
  // 48 kHz audio in blocks of 1024 samples, times in microseconds; the real clock runs
  // 80 ppm fast and every time carries up to +-2 ms of jitter.
  const double us_per_sample = 1e6 / 48000;
  const double real = us_per_sample * (1 + 80e-6);
  std::mt19937 rng(2024);
  std::uniform_real_distribution<double> jitter(-2000, 2000);
  SmoothClock clock(us_per_sample, 1024, 0.5e-6);  // 0.5 Hz loop bandwidth
  const int64_t t0 = 5000000;
  double worst_late = 0, sum_early = 0, sum_late = 0, square_late = 0;
  const int calls = 6000;
  for (int i = 0; i < calls; ++i) {
    const double truth = t0 + i * 1024 * real;
    const int64_t captured = static_cast<int64_t>(truth + (i == 0 ? 0 : jitter(rng)));
    const int64_t out = clock.map_time(captured, 1024);
    if (i == 0) {
      EXPECT_EQ(out, captured);  // the first time comes back unchanged
    }
    const double err = out - truth;
    if (i >= 1000 && i < 2000) sum_early += err;
    if (i >= calls - 1000) {
      sum_late += err;
      square_late += err * err;
      worst_late = std::max(worst_late, std::fabs(err));
    }
  }
  // Uniform +-2000 us jitter has an RMS of 1155 us: at most a third of it is left.
  EXPECT_LT(std::sqrt(square_late / 1000), 385.0) << "worst " << worst_late;
  EXPECT_LT(worst_late, 1000.0);
  EXPECT_LT(std::fabs(sum_early / 1000), 100.0);  // no bias ...
  EXPECT_LT(std::fabs(sum_late / 1000), 100.0);   // ... and no drift over time
}

TEST(XqvClock, TimeFilterFirstUpdateReturnsItsInput) {
  TimeFilter f;
  f.init(1.0 / 48000, 1024, 1.5);
  EXPECT_EQ(f.update(12.5, 1024), 12.5);
  // A perfect stream stays perfect.
  for (int i = 1; i < 100; ++i) EXPECT_NEAR(f.update(12.5 + i * 1024 / 48000.0, 1024), 12.5 + i * 1024 / 48000.0, 1e-9);
}

// The loop written out from its definition: o = 2 pi B P T, feedback 2 =
// q(sqrt(2) o), feedback 3 = q(o^2) / P, q(x) = 1 - 1 / (1 + x (1 + x/2 (1 + x/3))).
struct LoopModel {
  double cycle = 0, fb2 = 0, fb3 = 0, clock_period = 0;
  int count = 0;
  LoopModel(double time_base, double period, double bandwidth) {
    auto q = [](double x) { return 1 - 1 / (1 + x * (1 + x / 2 * (1 + x / 3))); };
    const double o = 2 * 3.141592653589793 * bandwidth * period * time_base;
    clock_period = time_base;
    fb2 = q(std::sqrt(2.0) * o);
    fb3 = q(o * o) / period;
  }
  double update(double t, double period) {
    if (++count == 1) return cycle = t;
    cycle += period * clock_period;
    const double err = t - cycle;
    cycle += std::max(fb2, 1.0 / count) * err;
    clock_period += fb3 * err;
    return cycle;
  }
};

TEST(XqvClock, TimeFilterAndSmoothClockFollowTheLoopFormulas) {
  // Loop bandwidths from slow to fast, so that the proportional gain decides
  // the output both before and after it overtakes 1 / count.
  struct Row {
    double time_base, period, bandwidth;
  } rows[] = {{1.0 / 48000, 1024, 0.5}, {1.0 / 48000, 1024, 8}, {1.0 / 48000, 480, 40},
              {1e-6, 40000, 2},         {1e-6, 33367, 12},     {1.0 / 90000, 3003, 25}};
  for (const Row& r : rows) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> jitter(-0.2, 0.2);
    TimeFilter f;
    f.init(r.time_base, r.period, r.bandwidth);
    LoopModel m(r.time_base, r.period, r.bandwidth);
    // The clock in microseconds: time base and bandwidth rescaled, same loop.
    SmoothClock clock(r.time_base * 1e6, r.period, r.bandwidth * 1e-6);
    LoopModel cm(r.time_base * 1e6, r.period, r.bandwidth * 1e-6);
    const double step = r.period * r.time_base * 1.0003;  // a slightly fast source
    for (int i = 0; i < 400; ++i) {
      const double t = 1000 + i * step + jitter(rng) * step;
      const double want = m.update(t, r.period);
      ASSERT_NEAR(f.update(t, r.period), want, 1e-12 * std::fabs(want))
          << "time filter, bandwidth " << r.bandwidth << ", call " << i;
      // The clock works in whole microseconds and passes the previous call's amount.
      const int64_t ti = static_cast<int64_t>(t * 1e6);
      const double cw = cm.update(static_cast<double>(ti), i == 0 ? 0 : r.period);
      ASSERT_EQ(clock.map_time(ti, static_cast<int64_t>(r.period)), static_cast<int64_t>(cw))
          << "smooth clock, bandwidth " << r.bandwidth << ", call " << i;
    }
  }
}

TEST(XqvClock, PerfectClockSteps) {
  PerfectClock audio(48000, 1024);
  EXPECT_EQ(audio.map_time(1000, 1), 1000);
  EXPECT_EQ(audio.map_time(999999, 1), 1000 + 21333);

  PerfectClock video(30000, 1001);
  const int64_t t0 = 123456789;
  int64_t previous = video.map_time(t0, 1);
  EXPECT_EQ(previous, t0);
  for (int i = 1; i <= 300000; ++i) {
    const int64_t t = video.map_time(t0 + int64_t{i} * 40000 /* ignored */, 1);
    ASSERT_TRUE(t - previous == 33366 || t - previous == 33367) << i;
    if (i % 30000 == 0) {
      ASSERT_EQ(t, t0 + static_cast<int64_t>(i) / 30000 * 1001000000) << "drift at " << i;
    }
    previous = t;
  }
}

TEST(XqvClock, PerfectClockWithoutRateKeepsTheTime) {
  PerfectClock c(0, 1001);
  EXPECT_EQ(c.map_time(100, 1), 100);
  EXPECT_EQ(c.map_time(250, 1), 250);
}

TEST(XqvClock, PerfectClockLargeCountsDoNotOverflow) {
  PerfectClock c(1000000, 1000000);  // one second per unit
  EXPECT_EQ(c.map_time(0, 10000000), 0);
  // 1e7 * 1e6 * 1e6 needs more than 64 bits before the division.
  EXPECT_EQ(c.map_time(0, 1), 10000000LL * 1000000);
}

TEST(XqvClock, FramePacerAt25Fps) {
  struct Step {
    int64_t now;
    bool due;
  };
  const Step steps[] = {
      {1000000, true},   // first call
      {1028000, false},  // exactly 0.7 periods is not enough
      {1028100, true},   // tick 1040000
      {1050000, false},  // 10 ms after the tick
      {1100000, true},   // late: tick 1080000, not 1100000
      {1108100, true},   // 0.7025 periods after 1080000: tick 1120000
      {1140000, false},  // 0.5 periods
      {1148100, true},   // tick 1160000
  };
  FramePacer p(25);
  for (const Step& s : steps) EXPECT_EQ(p.due(s.now), s.due) << s.now;
}

uint64_t reference_us() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000 + static_cast<uint64_t>(ts.tv_nsec) / 1000;
}

TEST(XqvClock, MonotonicMicroseconds) {
  // Both forms read the same clock: each lies between two direct reads of it.
  const uint64_t before = reference_us();
  const uint64_t now = monotonic_us();
  MonotonicTime tv{};
  monotonic_time(&tv);
  const uint64_t after = reference_us();
  const uint64_t tv_us = static_cast<uint64_t>(tv.sec) * 1000000 + static_cast<uint64_t>(tv.usec);
  EXPECT_GE(now, before);
  EXPECT_LE(now, tv_us);
  EXPECT_LE(tv_us, after);
  EXPECT_GE(tv.usec, 0);
  EXPECT_LT(tv.usec, 1000000);
}

}  // namespace
