// Clocks of the capture utility layer: capture times to presentation times, the
// delay-locked loop behind the smoothed clock, a frame-pacing gate and the monotonic time.
#pragma once

#include <cstdint>

#include "xqv/export.h"

namespace XqvUtils {

// Second-order delay-locked loop (the way FFmpeg's time filter works).
class XQV_API TimeFilter {
 public:
  void init(double time_base, double period, double bandwidth);
  double update(double time, double period);

 private:
  double cycle_time_ = 0;
  double feedback2_ = 0;
  double feedback3_ = 0;
  double clock_period_ = 0;
  int count_ = 0;
};

class XQV_API GenericClock {
 public:
  virtual ~GenericClock();
  // Presentation time for a capture time; n is what the call accounts for, in the
  // clock's units.
  virtual int64_t map_time(int64_t time, int64_t n) = 0;
};

// The capture time unchanged.
class XQV_API StepClock : public GenericClock {
 public:
  StepClock();
  int64_t map_time(int64_t time, int64_t n) override;
};

// Capture times smoothed by a TimeFilter.
class XQV_API SmoothClock : public GenericClock {
 public:
  SmoothClock(double time_base, double period, double bandwidth);
  int64_t map_time(int64_t time, int64_t n) override;

 private:
  TimeFilter filter_;
  int64_t previous_n_ = 0;
};

// Times from a perfect rate numerator / denominator (units per second), always counted
// from the first time seen.
class XQV_API PerfectClock : public GenericClock {
 public:
  PerfectClock(uint64_t numerator, int64_t denominator);
  int64_t map_time(int64_t time, int64_t n) override;

 private:
  uint64_t numerator_;
  int64_t denominator_;
  int64_t count_ = 0;
  int64_t base_ = 0;
};

// True once per frame period; late calls do not shift the cadence.
class XQV_API FramePacer {
 public:
  explicit FramePacer(double fps);
  bool due(int64_t now_us);

 private:
  double fps_;
  bool first_ = true;
  int64_t last_tick_ = 0;
};

struct MonotonicTime {
  int64_t sec;
  int64_t usec;
};

// CLOCK_MONOTONIC in microseconds.
XQV_API uint64_t monotonic_us();
XQV_API void monotonic_time(MonotonicTime* out);

}  // namespace XqvUtils
