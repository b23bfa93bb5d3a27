// One receiver's place in its source's script: which frame is due next, and when.
#pragma once

#include <cstdint>
#include <optional>

#include "scenario.h"

namespace ndistandin {

enum class EventKind { video, audio, metadata, connection_lost, status_change };

struct Next {
  bool is_event = false;  // false: nothing before `due_ns`, look again then
  EventKind kind = EventKind::video;
  int64_t due_ns = 0;     // steady clock
};

struct Delivered {
  EventKind kind = EventKind::video;
  const Segment* segment = nullptr;
  int64_t frame = 0;       // video: frame number since the receiver connected
  int field = -1;          // video: 0 or 1 for fields, -1 for a whole frame
  int samples = 0;         // audio: samples per channel
  int64_t sample_pos = 0;  // audio: first sample's number since the receiver connected
};

// Realtime pacing puts every frame at its time since the segment began (the first segment
// begins when the receiver connects); capture pacing makes each frame due at once, and a
// silence then lasts from the capture that reaches it. Copyable, so a look-ahead can run
// on a copy.
class Stream {
 public:
  // script null: a source nobody sends, silent for ever.
  Stream(const SourceScript* script, int64_t start_ns);

  // The next event, or the time until which nothing comes; nullopt when the script has
  // ended (or there is none).
  std::optional<Next> next(int64_t now_ns);
  // Consumes the event the last next() returned.
  Delivered take();

 private:
  void enter(int64_t now_ns);
  void advance(int64_t end_ns);
  int64_t unitTime(int64_t unit) const;

  const SourceScript* script_;
  bool has_content_ = false;
  bool done_ = false;
  size_t index_ = 0;
  bool entered_ = false;
  int64_t seg_start_ = 0;
  int64_t prev_end_ = 0;
  // Within the current segment.
  int64_t units_ = 0;  // video frames, or fields
  int64_t audio_frames_ = 0;
  int64_t audio_samples_ = 0;
  bool instant_done_ = false;
  // Before the current segment.
  int64_t frames_before_ = 0;
  int64_t samples_before_ = 0;
  EventKind pending_ = EventKind::video;
};

}  // namespace ndistandin
