// What the stand-in runtime plays: the sources, their streams, and the failures to fake.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace ndistandin {

enum class Pacing { realtime, capture };
enum class Scan { progressive, fields, interleaved };
enum class Pattern { bars, lines, counter, file };

struct VideoFormat {
  int width = 1920;
  int height = 1080;  // of the whole frame; a field has half of it
  int rate_n = 30000;
  int rate_d = 1001;
  Scan scan = Scan::progressive;
  uint32_t fourcc = 0;  // set from the four-letter code
  int stride = 0;       // bytes per line
  Pattern pattern = Pattern::bars;
  std::shared_ptr<const std::vector<uint8_t>> file_frames;  // pattern file: whole UYVY frames
};

struct AudioFormat {
  int rate = 48000;
  int channels = 2;
  std::vector<int> samples{1602, 1601, 1602, 1601, 1602};  // per frame, used in turn
  double tone_hz = 1000.0;
  double amplitude = 0.5;
  bool no_data = false;  // frames without a sample buffer
};

enum class SegmentKind { av, silence, connection_lost, status_change, metadata };

struct Segment {
  SegmentKind kind = SegmentKind::av;
  std::optional<VideoFormat> video;
  std::optional<AudioFormat> audio;
  int64_t frames = -1;       // av with video: frames (a field pair is one); -1: by duration
  int64_t duration_ns = -1;  // av and silence; -1: forever
  std::string text;          // metadata
};

struct SourceScript {
  std::string name;
  std::string url;
  int64_t appear_ns = 0;   // since the finder's creation
  int64_t vanish_ns = -1;  // -1: never
  Pacing pacing = Pacing::realtime;
  bool loop = false;
  bool send_metadata = true;  // what NDIlib_recv_send_metadata answers
  std::vector<Segment> segments;
};

struct Scenario {
  std::string version = "Tarnvik NDI stand-in 5.0-standin";
  bool initialize = true;
  bool recv_create = true;
  bool find_create = true;
  std::vector<SourceScript> sources;
  std::string error;  // non-empty: the file could not be used; everything then fails

  const SourceScript* find(const std::string& name) const;
};

// The one built-in test source: bars with a moving marker, 1080p29.97 UYVY, 1 kHz tone.
Scenario builtInScenario();
// Throws std::runtime_error with a readable message on a bad scenario. base_dir resolves
// relative file names.
Scenario parseScenario(const nlohmann::json& root, const std::string& base_dir);
// From the file named by TARNVIK_NDI_SCENARIO, or the built-in one when it is unset.
std::shared_ptr<const Scenario> loadScenario();

}  // namespace ndistandin
