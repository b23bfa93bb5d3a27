#include "scenario.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "Processing.NDI.Lib.h"

namespace ndistandin {
namespace {

using nlohmann::json;

[[noreturn]] void fail(const std::string& where, const std::string& what) {
  throw std::runtime_error(where + ": " + what);
}

// Rejects keys this format does not know, so a typo does not pass silently.
void checkKeys(const json& object, const std::string& where, std::initializer_list<const char*> keys) {
  if (!object.is_object()) fail(where, "must be an object");
  std::set<std::string> known(keys.begin(), keys.end());
  for (auto it = object.begin(); it != object.end(); ++it) {
    if (!known.count(it.key())) fail(where, "unknown key \"" + it.key() + "\"");
  }
}

template <typename T>
T get(const json& object, const char* key, const std::string& where, T fallback) {
  auto it = object.find(key);
  if (it == object.end()) return fallback;
  try {
    return it->get<T>();
  } catch (const json::exception&) {
    fail(where, std::string("\"") + key + "\" has the wrong type");
  }
}

int positive(const json& object, const char* key, const std::string& where, int fallback) {
  int value = get<int>(object, key, where, fallback);
  if (value <= 0) fail(where, std::string("\"") + key + "\" must be positive");
  return value;
}

int64_t milliseconds(const json& object, const char* key, const std::string& where, int64_t fallback_ns) {
  auto it = object.find(key);
  if (it == object.end()) return fallback_ns;
  if (!it->is_number() || it->get<double>() < 0) fail(where, std::string("\"") + key + "\" must be a number >= 0");
  return static_cast<int64_t>(it->get<double>() * 1e6);
}

Pacing parsePacing(const json& object, const std::string& where, Pacing fallback) {
  std::string text = get<std::string>(object, "pacing", where, fallback == Pacing::realtime ? "realtime" : "capture");
  if (text == "realtime") return Pacing::realtime;
  if (text == "capture") return Pacing::capture;
  fail(where, "\"pacing\" is \"realtime\" or \"capture\"");
}

std::vector<uint8_t> readFile(const std::string& path, const std::string& where) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail(where, "cannot read " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

VideoFormat parseVideo(const json& object, const std::string& where, const std::string& base_dir) {
  checkKeys(object, where, {"width", "height", "rate", "scan", "fourcc", "stride", "pattern", "file"});
  VideoFormat video;
  video.width = positive(object, "width", where, video.width);
  video.height = positive(object, "height", where, video.height);
  if (video.width % 2) fail(where, "\"width\" must be even (pixels come in pairs)");
  if (auto it = object.find("rate"); it != object.end()) {
    if (!it->is_array() || it->size() != 2 || !(*it)[0].is_number_integer() || !(*it)[1].is_number_integer() ||
        (*it)[0].get<int64_t>() <= 0 || (*it)[1].get<int64_t>() <= 0 || (*it)[0].get<int64_t>() > INT32_MAX ||
        (*it)[1].get<int64_t>() > INT32_MAX) {
      fail(where, "\"rate\" is [N, D] with positive integers");
    }
    video.rate_n = (*it)[0].get<int>();
    video.rate_d = (*it)[1].get<int>();
  }
  std::string scan = get<std::string>(object, "scan", where, "progressive");
  if (scan == "progressive") {
    video.scan = Scan::progressive;
  } else if (scan == "fields") {
    video.scan = Scan::fields;
  } else if (scan == "interleaved") {
    video.scan = Scan::interleaved;
  } else {
    fail(where, "\"scan\" is \"progressive\", \"fields\" or \"interleaved\"");
  }
  if (video.scan == Scan::fields && video.height % 2) fail(where, "fields need an even height");
  std::string fourcc = get<std::string>(object, "fourcc", where, "UYVY");
  if (fourcc.size() != 4) fail(where, "\"fourcc\" has four characters");
  video.fourcc = NDI_LIB_FOURCC(fourcc[0], fourcc[1], fourcc[2], fourcc[3]);
  int bytes_per_pixel = fourcc == "BGRA" || fourcc == "BGRX" || fourcc == "RGBA" || fourcc == "RGBX" ? 4 : 2;
  video.stride = get<int>(object, "stride", where, video.width * bytes_per_pixel);
  if (video.stride < video.width * 2) fail(where, "\"stride\" is below two bytes a pixel");
  std::string pattern = get<std::string>(object, "pattern", where, "bars");
  if (pattern == "bars") {
    video.pattern = Pattern::bars;
  } else if (pattern == "lines") {
    video.pattern = Pattern::lines;
  } else if (pattern == "counter") {
    video.pattern = Pattern::counter;
  } else if (pattern == "file") {
    video.pattern = Pattern::file;
    std::string path = get<std::string>(object, "file", where, "");
    if (path.empty()) fail(where, "pattern \"file\" needs \"file\"");
    if (path[0] != '/') path = base_dir + "/" + path;
    auto frames = std::make_shared<std::vector<uint8_t>>(readFile(path, where));
    size_t frame_bytes = static_cast<size_t>(video.width) * 2 * video.height;
    if (frames->size() < frame_bytes) fail(where, path + " holds less than one UYVY frame");
    frames->resize(frames->size() / frame_bytes * frame_bytes);
    video.file_frames = frames;
  } else {
    fail(where, "\"pattern\" is \"bars\", \"lines\", \"counter\" or \"file\"");
  }
  return video;
}

AudioFormat parseAudio(const json& object, const std::string& where) {
  checkKeys(object, where, {"rate", "channels", "samples", "tone_hz", "amplitude", "no_data"});
  AudioFormat audio;
  audio.rate = positive(object, "rate", where, audio.rate);
  audio.channels = positive(object, "channels", where, audio.channels);
  if (auto it = object.find("samples"); it != object.end()) {
    audio.samples.clear();
    if (it->is_number_integer()) {
      audio.samples.push_back(it->get<int>());
    } else if (it->is_array() && !it->empty()) {
      for (const auto& count : *it) {
        if (!count.is_number_integer()) fail(where, "\"samples\" holds integers");
        audio.samples.push_back(count.get<int>());
      }
    } else {
      fail(where, "\"samples\" is a count or a list of counts");
    }
    for (int count : audio.samples) {
      if (count <= 0) fail(where, "\"samples\" must be positive");
    }
  } else {
    // 5 frames of 1602/1601 samples follow 30000/1001 video exactly at 48 kHz; otherwise one
    // video frame's worth at 30 frames a second.
    if (audio.rate != 48000) audio.samples = {audio.rate / 30};
  }
  audio.tone_hz = get<double>(object, "tone_hz", where, audio.tone_hz);
  audio.amplitude = get<double>(object, "amplitude", where, audio.amplitude);
  audio.no_data = get<bool>(object, "no_data", where, false);
  return audio;
}

Segment parseSegment(const json& object, const std::string& where, const std::string& base_dir) {
  Segment segment;
  if (object.contains("silence_ms")) {
    checkKeys(object, where, {"silence_ms"});
    segment.kind = SegmentKind::silence;
    segment.duration_ns = milliseconds(object, "silence_ms", where, 0);
    return segment;
  }
  if (object.contains("connection_lost")) {
    checkKeys(object, where, {"connection_lost"});
    segment.kind = SegmentKind::connection_lost;
    return segment;
  }
  if (object.contains("status_change")) {
    checkKeys(object, where, {"status_change"});
    segment.kind = SegmentKind::status_change;
    return segment;
  }
  if (object.contains("metadata")) {
    checkKeys(object, where, {"metadata"});
    segment.kind = SegmentKind::metadata;
    segment.text = get<std::string>(object, "metadata", where, "");
    return segment;
  }
  checkKeys(object, where, {"video", "audio", "frames", "duration_ms"});
  if (auto it = object.find("video"); it != object.end()) segment.video = parseVideo(*it, where + ".video", base_dir);
  if (auto it = object.find("audio"); it != object.end()) segment.audio = parseAudio(*it, where + ".audio");
  if (!segment.video && !segment.audio) fail(where, "a segment needs \"video\" or \"audio\" (or is a silence, loss, status or metadata)");
  if (object.contains("frames")) {
    if (!segment.video) fail(where, "\"frames\" counts video frames; use \"duration_ms\" for audio alone");
    segment.frames = get<int64_t>(object, "frames", where, -1);
    if (segment.frames < 0) fail(where, "\"frames\" must be >= 0");
    const VideoFormat& v = *segment.video;
    segment.duration_ns = static_cast<int64_t>(static_cast<__int128>(segment.frames) * v.rate_d * 1000000000 / v.rate_n);
  } else {
    segment.duration_ns = milliseconds(object, "duration_ms", where, -1);
  }
  return segment;
}

Segment builtInSegment() {
  Segment segment;
  segment.video = VideoFormat{};
  segment.video->fourcc = NDIlib_FourCC_video_type_UYVY;
  segment.video->stride = segment.video->width * 2;
  segment.audio = AudioFormat{};
  return segment;
}

// "name_hex": the name's bytes as hexadecimal digits, for names that are not UTF-8 (which
// a JSON file cannot hold).
std::string hexBytes(const std::string& digits, const std::string& where) {
  auto value = [&](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    fail(where, "\"name_hex\" holds hexadecimal digits only");
  };
  if (digits.size() % 2) fail(where, "\"name_hex\" has two digits a byte");
  std::string bytes;
  for (size_t i = 0; i < digits.size(); i += 2)
    bytes += static_cast<char>(value(digits[i]) * 16 + value(digits[i + 1]));
  if (bytes.find('\0') != std::string::npos) fail(where, "\"name_hex\" holds a zero byte");
  return bytes;
}

SourceScript parseSource(const json& object, const std::string& where, Pacing pacing, const std::string& base_dir) {
  checkKeys(object, where,
            {"name", "name_hex", "url", "appear_ms", "vanish_ms", "pacing", "loop", "send_metadata", "segments"});
  SourceScript source;
  if (object.contains("name") == object.contains("name_hex"))
    fail(where, "a source needs \"name\" or \"name_hex\"");
  source.name = object.contains("name_hex") ? hexBytes(get<std::string>(object, "name_hex", where, ""), where)
                                            : get<std::string>(object, "name", where, "");
  source.url = get<std::string>(object, "url", where, "");
  source.appear_ns = milliseconds(object, "appear_ms", where, 0);
  source.vanish_ns = milliseconds(object, "vanish_ms", where, -1);
  source.pacing = parsePacing(object, where, pacing);
  source.loop = get<bool>(object, "loop", where, false);
  source.send_metadata = get<bool>(object, "send_metadata", where, true);
  if (auto it = object.find("segments"); it != object.end()) {
    if (!it->is_array()) fail(where, "\"segments\" is a list");
    for (size_t i = 0; i < it->size(); ++i) {
      source.segments.push_back(parseSegment((*it)[i], where + ".segments[" + std::to_string(i) + "]", base_dir));
    }
  } else {
    source.segments.push_back(builtInSegment());
  }
  return source;
}

}  // namespace

const SourceScript* Scenario::find(const std::string& name) const {
  for (const auto& source : sources) {
    if (source.name == name) return &source;
  }
  return nullptr;
}

Scenario builtInScenario() {
  Scenario scenario;
  SourceScript source;
  source.name = "TARNVIK-STANDIN (Test Bars)";
  source.url = "127.0.0.1:5961";
  source.segments.push_back(builtInSegment());
  scenario.sources.push_back(source);
  return scenario;
}

Scenario parseScenario(const json& root, const std::string& base_dir) {
  const std::string where = "scenario";
  checkKeys(root, where, {"version", "initialize", "recv_create", "find_create", "pacing", "sources"});
  Scenario scenario;
  scenario.version = get<std::string>(root, "version", where, scenario.version);
  scenario.initialize = get<bool>(root, "initialize", where, true);
  scenario.recv_create = get<bool>(root, "recv_create", where, true);
  scenario.find_create = get<bool>(root, "find_create", where, true);
  Pacing pacing = parsePacing(root, where, Pacing::realtime);
  if (auto it = root.find("sources"); it != root.end()) {
    if (!it->is_array()) fail(where, "\"sources\" is a list");
    for (size_t i = 0; i < it->size(); ++i) {
      scenario.sources.push_back(parseSource((*it)[i], "sources[" + std::to_string(i) + "]", pacing, base_dir));
    }
  } else {
    scenario.sources = builtInScenario().sources;
    for (auto& source : scenario.sources) source.pacing = pacing;
  }
  return scenario;
}

std::shared_ptr<const Scenario> loadScenario() {
  const char* path = std::getenv("TARNVIK_NDI_SCENARIO");
  if (!path || !*path) return std::make_shared<const Scenario>(builtInScenario());
  auto scenario = std::make_shared<Scenario>();
  try {
    std::ifstream in(path);
    if (!in) throw std::runtime_error(std::string("cannot read ") + path);
    json root = json::parse(in);
    std::string file(path);
    auto slash = file.rfind('/');
    *scenario = parseScenario(root, slash == std::string::npos ? "." : file.substr(0, slash));
  } catch (const std::exception& error) {
    scenario->sources.clear();
    scenario->error = std::string(path) + ": " + error.what();
  }
  return scenario;
}

}  // namespace ndistandin
