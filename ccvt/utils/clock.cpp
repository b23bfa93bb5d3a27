#include "xqv/clock.h"

#include <time.h>

#include <algorithm>

namespace XqvUtils {

namespace {
// Fast approximation of 1 - e^(-x).
double q(double x) { return 1 - 1 / (1 + x * (1 + x / 2 * (1 + x / 3))); }
}  // namespace

void TimeFilter::init(double time_base, double period, double bandwidth) {
  const double o = 6.283185307179586 * bandwidth * period * time_base;
  clock_period_ = time_base;
  feedback2_ = q(1.4142135623730951 * o);
  feedback3_ = q(o * o) / period;
  cycle_time_ = 0;
  count_ = 0;
}

double TimeFilter::update(double time, double period) {
  count_ += 1;
  if (count_ == 1) {
    cycle_time_ = time;
  } else {
    cycle_time_ += period * clock_period_;
    const double err = time - cycle_time_;
    cycle_time_ += std::max(feedback2_, 1.0 / count_) * err;
    clock_period_ += feedback3_ * err;
  }
  return cycle_time_;
}

GenericClock::~GenericClock() = default;

StepClock::StepClock() = default;

int64_t StepClock::map_time(int64_t time, int64_t) { return time; }

SmoothClock::SmoothClock(double time_base, double period, double bandwidth) {
  filter_.init(time_base, period, bandwidth);
}

int64_t SmoothClock::map_time(int64_t time, int64_t n) {
  const double result = filter_.update(static_cast<double>(time), static_cast<double>(previous_n_));
  previous_n_ = n;
  return static_cast<int64_t>(result);
}

PerfectClock::PerfectClock(uint64_t numerator, int64_t denominator)
    : numerator_(numerator), denominator_(denominator) {}

int64_t PerfectClock::map_time(int64_t time, int64_t n) {
  // A zero rate has no perfect times: the capture time is kept, as StepClock does.
  if (numerator_ == 0) return time;
  if (count_ == 0) base_ = time;
  // Wide intermediate, division last.
  const __int128 offset = static_cast<__int128>(count_) * denominator_ * 1000000 /
                          static_cast<__int128>(numerator_);
  const int64_t result = base_ + static_cast<int64_t>(offset);
  count_ += n;
  return result;
}

FramePacer::FramePacer(double fps) : fps_(fps) {}

bool FramePacer::due(int64_t now_us) {
  if (first_) {
    first_ = false;
    last_tick_ = now_us;
    return true;
  }
  const double elapsed = static_cast<double>(now_us - last_tick_) * fps_ / 1000000;
  if (elapsed > 0.7) {
    last_tick_ += static_cast<int64_t>(1000000 / fps_);
    return true;
  }
  return false;
}

uint64_t monotonic_us() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000 + static_cast<uint64_t>(ts.tv_nsec) / 1000;
}

void monotonic_time(MonotonicTime* out) {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  out->sec = ts.tv_sec;
  out->usec = ts.tv_nsec / 1000;
}

}  // namespace XqvUtils
