#include "stream.h"

#include <algorithm>
#include <limits>

namespace ndistandin {
namespace {

constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

bool hasContent(const Segment& segment) {
  switch (segment.kind) {
    case SegmentKind::silence:
      return segment.duration_ns > 0;
    case SegmentKind::av:
      return segment.frames != 0 && segment.duration_ns != 0;
    default:
      return true;
  }
}

EventKind instantKind(SegmentKind kind) {
  switch (kind) {
    case SegmentKind::connection_lost:
      return EventKind::connection_lost;
    case SegmentKind::status_change:
      return EventKind::status_change;
    default:
      return EventKind::metadata;
  }
}

}  // namespace

Stream::Stream(const SourceScript* script, int64_t start_ns) : script_(script), prev_end_(start_ns) {
  done_ = !script_ || script_->segments.empty();
  if (script_) has_content_ = std::any_of(script_->segments.begin(), script_->segments.end(), hasContent);
}

int64_t Stream::unitTime(int64_t unit) const {
  const VideoFormat& v = *script_->segments[index_].video;
  const int64_t per_second = v.scan == Scan::fields ? 2 * static_cast<int64_t>(v.rate_n) : v.rate_n;
  return static_cast<int64_t>(static_cast<__int128>(unit) * v.rate_d * 1000000000 / per_second);
}

void Stream::enter(int64_t now_ns) {
  entered_ = true;
  seg_start_ = script_->pacing == Pacing::capture ? now_ns : prev_end_;
  units_ = 0;
  audio_frames_ = 0;
  audio_samples_ = 0;
  instant_done_ = false;
}

void Stream::advance(int64_t end_ns) {
  const Segment& segment = script_->segments[index_];
  if (segment.video) frames_before_ += segment.video->scan == Scan::fields ? (units_ + 1) / 2 : units_;
  samples_before_ += audio_samples_;
  prev_end_ = end_ns;
  entered_ = false;
  if (++index_ == script_->segments.size()) {
    index_ = 0;
    done_ = !script_->loop || !has_content_;
  }
}

std::optional<Next> Stream::next(int64_t now_ns) {
  while (!done_) {
    if (!entered_) enter(now_ns);
    const Segment& segment = script_->segments[index_];
    switch (segment.kind) {
      case SegmentKind::connection_lost:
      case SegmentKind::status_change:
      case SegmentKind::metadata:
        if (!instant_done_) return Next{true, instantKind(segment.kind), seg_start_};
        advance(seg_start_);
        continue;
      case SegmentKind::silence: {
        const int64_t end = seg_start_ + segment.duration_ns;
        if (now_ns >= end) {
          advance(end);
          continue;
        }
        return Next{false, EventKind::video, end};
      }
      case SegmentKind::av: {
        const int64_t duration = segment.duration_ns;
        int64_t video_at = kNever;
        if (segment.video) {
          const int64_t limit = segment.frames < 0 ? kNever
                                : segment.video->scan == Scan::fields ? 2 * segment.frames
                                                                       : segment.frames;
          if (units_ < limit) video_at = unitTime(units_);
          if (segment.frames < 0 && duration >= 0 && video_at >= duration) video_at = kNever;
        }
        int64_t audio_at = kNever;
        if (segment.audio) {
          audio_at = static_cast<int64_t>(static_cast<__int128>(audio_samples_) * 1000000000 / segment.audio->rate);
          if (duration >= 0 && audio_at >= duration) audio_at = kNever;
        }
        if (video_at == kNever && audio_at == kNever) {
          advance(seg_start_ + std::max<int64_t>(duration, 0));
          continue;
        }
        pending_ = video_at <= audio_at ? EventKind::video : EventKind::audio;
        const int64_t at = std::min(video_at, audio_at);
        return Next{true, pending_, script_->pacing == Pacing::capture ? seg_start_ : seg_start_ + at};
      }
    }
  }
  return std::nullopt;
}

Delivered Stream::take() {
  const Segment& segment = script_->segments[index_];
  Delivered delivered;
  delivered.segment = &segment;
  if (segment.kind != SegmentKind::av) {
    delivered.kind = instantKind(segment.kind);
    instant_done_ = true;
    return delivered;
  }
  delivered.kind = pending_;
  if (pending_ == EventKind::video) {
    if (segment.video->scan == Scan::fields) {
      delivered.frame = frames_before_ + units_ / 2;
      delivered.field = static_cast<int>(units_ % 2);
    } else {
      delivered.frame = frames_before_ + units_;
    }
    ++units_;
  } else {
    const auto& counts = segment.audio->samples;
    delivered.samples = counts[static_cast<size_t>(audio_frames_) % counts.size()];
    delivered.sample_pos = samples_before_ + audio_samples_;
    ++audio_frames_;
    audio_samples_ += delivered.samples;
  }
  return delivered;
}

}  // namespace ndistandin
