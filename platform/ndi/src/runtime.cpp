// The stand-in NDI runtime: receivers and finders that play the loaded scenario, with the
// call log and the frame accounting that tests read.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <numbers>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Processing.NDI.Lib.h"
#include "call_log.h"
#include "ndi_standin.h"
#include "pictures.h"
#include "scenario.h"
#include "stream.h"

namespace ndistandin {
namespace {

int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void sleepUntilNs(int64_t when_ns) {
  std::this_thread::sleep_until(std::chrono::steady_clock::time_point(std::chrono::nanoseconds(when_ns)));
}

struct Counts {
  std::atomic<int64_t> video_captured{0}, video_freed{0};
  std::atomic<int64_t> audio_captured{0}, audio_freed{0};
  std::atomic<int64_t> metadata_captured{0}, metadata_freed{0};
  std::atomic<int64_t> bad_frees{0};

  void reset() {
    for (auto* count : {&video_captured, &video_freed, &audio_captured, &audio_freed, &metadata_captured,
                        &metadata_freed, &bad_frees}) {
      count->store(0);
    }
  }
};

enum class FrameKind { video, audio, metadata };

struct Receiver {
  int id = 0;
  std::shared_ptr<const Scenario> scenario;
  const SourceScript* script = nullptr;
  std::mutex mutex;  // guards everything below
  Stream stream;
  std::unordered_map<const void*, FrameKind> out;  // frames captured and not yet freed
  int null_audio_out = 0;                          // audio frames without data, not yet freed
  NDIlib_recv_performance_t total{};
  Counts counts;

  Receiver(int id_, std::shared_ptr<const Scenario> scenario_, const SourceScript* script_)
      : id(id_), scenario(std::move(scenario_)), script(script_), stream(script_, nowNs()) {}
};

struct Finder {
  int id = 0;
  std::shared_ptr<const Scenario> scenario;
  int64_t start_ns = 0;
  std::mutex mutex;  // guards everything below
  std::vector<std::pair<std::string, std::string>> known;   // list last seen by the caller
  std::vector<std::pair<std::string, std::string>> listed;  // storage behind `records`
  std::vector<NDIlib_source_t> records;

  std::vector<std::pair<std::string, std::string>> visible(int64_t at_ns) const {
    const int64_t t = at_ns - start_ns;
    std::vector<std::pair<std::string, std::string>> list;
    for (const auto& source : scenario->sources) {
      if (source.appear_ns <= t && (source.vanish_ns < 0 || t < source.vanish_ns)) {
        list.emplace_back(source.name, source.url);
      }
    }
    return list;
  }

  // The first appearance or vanishing after at_ns; -1 when none is left.
  int64_t nextChange(int64_t at_ns) const {
    const int64_t t = at_ns - start_ns;
    int64_t next = -1;
    for (const auto& source : scenario->sources) {
      for (int64_t when : {source.appear_ns, source.vanish_ns}) {
        if (when > t && (next < 0 || when < next)) next = when;
      }
    }
    return next < 0 ? -1 : start_ns + next;
  }
};

struct Runtime {
  std::mutex mutex;  // guards the members below; never held while a call waits
  std::shared_ptr<const Scenario> scenario;
  std::string version;
  std::map<void*, std::shared_ptr<Receiver>> receivers;
  std::map<void*, std::shared_ptr<Finder>> finders;
  int next_id = 1;
  Counts counts;

  // Caller holds the mutex.
  const std::shared_ptr<const Scenario>& current() {
    if (!scenario) {
      scenario = loadScenario();
      version = scenario->version;
      if (!scenario->error.empty()) std::fprintf(stderr, "NDI stand-in: %s\n", scenario->error.c_str());
    }
    return scenario;
  }

  std::shared_ptr<const Scenario> currentScenario() {
    std::lock_guard<std::mutex> lock(mutex);
    return current();
  }

  std::shared_ptr<Receiver> receiver(void* handle) {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = receivers.find(handle);
    return it == receivers.end() ? nullptr : it->second;
  }

  std::shared_ptr<Finder> finder(void* handle) {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = finders.find(handle);
    return it == finders.end() ? nullptr : it->second;
  }
};

// Never destroyed: detached threads of a program may still call in while it exits.
Runtime& runtime() {
  static Runtime* instance = new Runtime;
  return *instance;
}

const char* frameTypeName(NDIlib_frame_type_e type) {
  switch (type) {
    case NDIlib_frame_type_none:
      return "none";
    case NDIlib_frame_type_video:
      return "video";
    case NDIlib_frame_type_audio:
      return "audio";
    case NDIlib_frame_type_metadata:
      return "metadata";
    case NDIlib_frame_type_error:
      return "error";
    case NDIlib_frame_type_status_change:
      return "status_change";
    default:
      return "other";
  }
}

const char* formatTypeName(NDIlib_frame_format_type_e type) {
  switch (type) {
    case NDIlib_frame_format_type_progressive:
      return "progressive";
    case NDIlib_frame_format_type_interleaved:
      return "interleaved";
    case NDIlib_frame_format_type_field_0:
      return "field_0";
    case NDIlib_frame_format_type_field_1:
      return "field_1";
    default:
      return "other";
  }
}

std::string fourccText(uint32_t code) {
  std::string text(4, ' ');
  for (int i = 0; i < 4; ++i) text[i] = static_cast<char>((code >> (8 * i)) & 0xff);
  return text;
}

void countCaptured(Receiver& receiver, FrameKind kind) {
  Counts& global = runtime().counts;
  switch (kind) {
    case FrameKind::video:
      ++receiver.counts.video_captured;
      ++global.video_captured;
      ++receiver.total.video_frames;
      break;
    case FrameKind::audio:
      ++receiver.counts.audio_captured;
      ++global.audio_captured;
      ++receiver.total.audio_frames;
      break;
    case FrameKind::metadata:
      ++receiver.counts.metadata_captured;
      ++global.metadata_captured;
      ++receiver.total.metadata_frames;
      break;
  }
}

void countFreed(Receiver* receiver, FrameKind kind) {
  Counts& global = runtime().counts;
  switch (kind) {
    case FrameKind::video:
      ++global.video_freed;
      if (receiver) ++receiver->counts.video_freed;
      break;
    case FrameKind::audio:
      ++global.audio_freed;
      if (receiver) ++receiver->counts.audio_freed;
      break;
    case FrameKind::metadata:
      ++global.metadata_freed;
      if (receiver) ++receiver->counts.metadata_freed;
      break;
  }
}

void countBadFree(Receiver* receiver) {
  ++runtime().counts.bad_frees;
  if (receiver) ++receiver->counts.bad_frees;
}

void releaseData(const void* data, FrameKind kind) {
  if (kind == FrameKind::audio) {
    delete[] static_cast<const float*>(data);
  } else {
    delete[] static_cast<const uint8_t*>(data);
  }
}

// Caller holds receiver.mutex.
void makeVideo(Receiver& receiver, const Delivered& delivered, NDIlib_video_frame_v2_t* frame) {
  const VideoFormat& format = *delivered.segment->video;
  const int lines = delivered.field < 0 ? format.height : format.height / 2;
  const bool uyvy = format.fourcc == NDIlib_FourCC_video_type_UYVY;
  // Other codes only need a buffer of plausible size; the system drops them unread.
  const size_t bytes = static_cast<size_t>(format.stride) * lines * (uyvy ? 1 : 2);
  auto* data = new uint8_t[bytes]();
  if (uyvy) drawPicture(format, delivered.frame, delivered.field, lines, data);
  frame->xres = format.width;
  frame->yres = lines;
  frame->FourCC = static_cast<NDIlib_FourCC_video_type_e>(format.fourcc);
  frame->frame_rate_N = format.rate_n;
  frame->frame_rate_D = format.rate_d;
  switch (format.scan) {
    case Scan::progressive:
      frame->frame_format_type = NDIlib_frame_format_type_progressive;
      break;
    case Scan::interleaved:
      frame->frame_format_type = NDIlib_frame_format_type_interleaved;
      break;
    case Scan::fields:
      frame->frame_format_type = delivered.field == 0 ? NDIlib_frame_format_type_field_0
                                                      : NDIlib_frame_format_type_field_1;
      break;
  }
  frame->p_data = data;
  frame->line_stride_in_bytes = format.stride;
  receiver.out.emplace(data, FrameKind::video);
  countCaptured(receiver, FrameKind::video);
}

void makeAudio(Receiver& receiver, const Delivered& delivered, NDIlib_audio_frame_v2_t* frame) {
  const AudioFormat& format = *delivered.segment->audio;
  frame->sample_rate = format.rate;
  frame->no_channels = format.channels;
  frame->no_samples = delivered.samples;
  frame->channel_stride_in_bytes = delivered.samples * static_cast<int>(sizeof(float));
  if (format.no_data) {
    frame->p_data = nullptr;
    ++receiver.null_audio_out;
  } else {
    auto* data = new float[static_cast<size_t>(format.channels) * delivered.samples];
    const double step = 2 * std::numbers::pi * format.tone_hz / format.rate;
    for (int s = 0; s < delivered.samples; ++s) {
      // Phase from the sample's number, so the tone runs on across frames.
      const double position = static_cast<double>((delivered.sample_pos + s) % format.rate);
      const auto value = static_cast<float>(format.amplitude * std::sin(step * position));
      for (int c = 0; c < format.channels; ++c) data[static_cast<size_t>(c) * delivered.samples + s] = value;
    }
    frame->p_data = data;
    receiver.out.emplace(data, FrameKind::audio);
  }
  countCaptured(receiver, FrameKind::audio);
}

void makeMetadata(Receiver& receiver, const std::string& text, NDIlib_metadata_frame_t* frame) {
  auto* data = new uint8_t[text.size() + 1];
  std::memcpy(data, text.c_str(), text.size() + 1);
  frame->length = static_cast<int>(text.size() + 1);
  frame->timecode = 0;
  frame->p_data = reinterpret_cast<char*>(data);
  receiver.out.emplace(data, FrameKind::metadata);
  countCaptured(receiver, FrameKind::metadata);
}

NDIlib_frame_type_e capture(Receiver& receiver, NDIlib_video_frame_v2_t* video, NDIlib_audio_frame_v2_t* audio,
                            NDIlib_metadata_frame_t* metadata, uint32_t timeout_ms) {
  std::unique_lock<std::mutex> lock(receiver.mutex);
  const int64_t deadline = nowNs() + static_cast<int64_t>(timeout_ms) * 1000000;
  for (;;) {
    const int64_t now = nowNs();
    std::optional<Next> next = receiver.stream.next(now);
    const bool due = next && next->is_event && next->due_ns <= now;
    if (!due) {
      // Nothing yet: wait for the next frame or the end of a silence, within the time-out.
      const bool in_time = next && next->due_ns <= deadline;
      lock.unlock();
      sleepUntilNs(in_time ? next->due_ns : deadline);
      if (!in_time) return NDIlib_frame_type_none;
      lock.lock();
      continue;
    }
    Delivered delivered = receiver.stream.take();
    switch (delivered.kind) {
      case EventKind::video:
        if (!video) continue;  // the caller takes no video: this frame passes by
        makeVideo(receiver, delivered, video);
        return NDIlib_frame_type_video;
      case EventKind::audio:
        if (!audio) continue;
        makeAudio(receiver, delivered, audio);
        return NDIlib_frame_type_audio;
      case EventKind::metadata:
        if (!metadata) continue;
        makeMetadata(receiver, delivered.segment->text, metadata);
        return NDIlib_frame_type_metadata;
      case EventKind::connection_lost:
        return NDIlib_frame_type_error;
      case EventKind::status_change:
        return NDIlib_frame_type_status_change;
    }
  }
}

// Hands one captured frame back. Anything not out from this receiver (a second free, a
// frame never captured, a dead receiver) is counted and left alone.
void freeFrame(const char* function, void* handle, const void* data, FrameKind kind) {
  Call call(function);
  std::shared_ptr<Receiver> receiver = runtime().receiver(handle);
  call.number("recv", receiver ? receiver->id : 0);
  if (!receiver) {
    call.word("result", "unknown_receiver");
    countBadFree(nullptr);
    return;
  }
  std::lock_guard<std::mutex> lock(receiver->mutex);
  if (kind == FrameKind::audio && !data) {
    if (receiver->null_audio_out > 0) {
      --receiver->null_audio_out;
      countFreed(receiver.get(), kind);
    } else {
      call.word("result", "not_captured");
      countBadFree(receiver.get());
    }
    return;
  }
  auto it = receiver->out.find(data);
  if (it == receiver->out.end() || it->second != kind) {
    call.word("result", "not_captured");
    countBadFree(receiver.get());
    return;
  }
  receiver->out.erase(it);
  releaseData(data, kind);
  countFreed(receiver.get(), kind);
}

void logCounts(Call& call, const Counts& counts) {
  call.number("video_captured", counts.video_captured)
      .number("video_freed", counts.video_freed)
      .number("audio_captured", counts.audio_captured)
      .number("audio_freed", counts.audio_freed)
      .number("metadata_captured", counts.metadata_captured)
      .number("metadata_freed", counts.metadata_freed)
      .number("bad_frees", counts.bad_frees);
}

}  // namespace
}  // namespace ndistandin

using namespace ndistandin;

extern "C" {

NDILIB_API bool NDIlib_initialize(void) {
  auto scenario = runtime().currentScenario();
  const bool ok = scenario->initialize && scenario->error.empty();
  Call("NDIlib_initialize").flag("result", ok);
  return ok;
}

NDILIB_API void NDIlib_destroy(void) {
  Call call("NDIlib_destroy");
  logCounts(call, runtime().counts);
}

NDILIB_API const char* NDIlib_version(void) {
  Runtime& rt = runtime();
  std::lock_guard<std::mutex> lock(rt.mutex);
  rt.current();
  Call("NDIlib_version").text("result", rt.version);
  return rt.version.c_str();
}

NDILIB_API NDIlib_recv_instance_t NDIlib_recv_create_v4(const NDIlib_recv_create_v3_t* p_create_settings,
                                                       const char* p_config_data) {
  Call call("NDIlib_recv_create_v4");
  NDIlib_recv_create_v3_t settings;
  if (p_create_settings) settings = *p_create_settings;
  call.text("source", settings.source_to_connect_to.p_ndi_name)
      .text("url", settings.source_to_connect_to.p_url_address)
      .number("color_format", settings.color_format)
      .number("bandwidth", settings.bandwidth)
      .flag("allow_video_fields", settings.allow_video_fields)
      .text("recv_name", settings.p_ndi_recv_name)
      .text("config", p_config_data);
  Runtime& rt = runtime();
  std::lock_guard<std::mutex> lock(rt.mutex);
  const auto& scenario = rt.current();
  if (!scenario->recv_create || !scenario->error.empty()) {
    call.number("recv", 0);
    return nullptr;
  }
  const char* name = settings.source_to_connect_to.p_ndi_name;
  const SourceScript* script = name ? scenario->find(name) : nullptr;
  auto receiver = std::make_shared<Receiver>(rt.next_id++, scenario, script);
  call.number("recv", receiver->id).flag("known_source", script != nullptr);
  void* handle = receiver.get();
  rt.receivers.emplace(handle, std::move(receiver));
  return handle;
}

NDILIB_API void NDIlib_recv_destroy(NDIlib_recv_instance_t p_instance) {
  Call call("NDIlib_recv_destroy");
  Runtime& rt = runtime();
  std::shared_ptr<Receiver> receiver;
  {
    std::lock_guard<std::mutex> lock(rt.mutex);
    auto it = rt.receivers.find(p_instance);
    if (it != rt.receivers.end()) {
      receiver = it->second;
      rt.receivers.erase(it);
    }
  }
  if (!receiver) {
    call.number("recv", 0).word("result", "unknown_receiver");
    return;
  }
  std::lock_guard<std::mutex> lock(receiver->mutex);
  call.number("recv", receiver->id);
  logCounts(call, receiver->counts);
  call.number("outstanding", static_cast<int64_t>(receiver->out.size()) + receiver->null_audio_out);
  // Frames still out die with their receiver; the counts above show the leak.
  for (const auto& [data, kind] : receiver->out) releaseData(data, kind);
  receiver->out.clear();
}

NDILIB_API NDIlib_frame_type_e NDIlib_recv_capture_v2(NDIlib_recv_instance_t p_instance,
                                                      NDIlib_video_frame_v2_t* p_video_data,
                                                      NDIlib_audio_frame_v2_t* p_audio_data,
                                                      NDIlib_metadata_frame_t* p_metadata, uint32_t timeout_in_ms) {
  std::shared_ptr<Receiver> receiver = runtime().receiver(p_instance);
  NDIlib_frame_type_e result = NDIlib_frame_type_error;
  if (receiver) {
    result = capture(*receiver, p_video_data, p_audio_data, p_metadata, timeout_in_ms);
  } else {
    // No such receiver: still wait, so a caller that retries does not spin.
    sleepUntilNs(nowNs() + static_cast<int64_t>(timeout_in_ms) * 1000000);
  }
  Call call("NDIlib_recv_capture_v2");
  call.number("recv", receiver ? receiver->id : 0).number("timeout_ms", timeout_in_ms).word("result", frameTypeName(result));
  if (result == NDIlib_frame_type_video) {
    call.number("xres", p_video_data->xres)
        .number("yres", p_video_data->yres)
        .text("fourcc", fourccText(p_video_data->FourCC))
        .word("frame_format_type", formatTypeName(p_video_data->frame_format_type));
  } else if (result == NDIlib_frame_type_audio) {
    call.number("sample_rate", p_audio_data->sample_rate)
        .number("no_channels", p_audio_data->no_channels)
        .number("no_samples", p_audio_data->no_samples);
  }
  return result;
}

NDILIB_API void NDIlib_recv_free_video_v2(NDIlib_recv_instance_t p_instance,
                                          const NDIlib_video_frame_v2_t* p_video_data) {
  freeFrame("NDIlib_recv_free_video_v2", p_instance, p_video_data ? p_video_data->p_data : nullptr, FrameKind::video);
}

NDILIB_API void NDIlib_recv_free_audio_v2(NDIlib_recv_instance_t p_instance,
                                          const NDIlib_audio_frame_v2_t* p_audio_data) {
  if (!p_audio_data) {
    Call("NDIlib_recv_free_audio_v2").word("result", "null_frame");
    countBadFree(nullptr);
    return;
  }
  freeFrame("NDIlib_recv_free_audio_v2", p_instance, p_audio_data->p_data, FrameKind::audio);
}

NDILIB_API void NDIlib_recv_free_metadata(NDIlib_recv_instance_t p_instance, const NDIlib_metadata_frame_t* p_metadata) {
  freeFrame("NDIlib_recv_free_metadata", p_instance, p_metadata ? p_metadata->p_data : nullptr, FrameKind::metadata);
}

NDILIB_API bool NDIlib_recv_send_metadata(NDIlib_recv_instance_t p_instance, const NDIlib_metadata_frame_t* p_metadata) {
  Call call("NDIlib_recv_send_metadata");
  std::shared_ptr<Receiver> receiver = runtime().receiver(p_instance);
  call.number("recv", receiver ? receiver->id : 0);
  if (p_metadata) {
    call.number("length", p_metadata->length).number("timecode", p_metadata->timecode).text("data", p_metadata->p_data);
  }
  // Only a source of the scenario answers; one that is not there cannot take it.
  const bool ok = receiver && p_metadata && p_metadata->p_data && receiver->script && receiver->script->send_metadata;
  call.flag("result", ok);
  return ok;
}

NDILIB_API void NDIlib_recv_get_queue(NDIlib_recv_instance_t p_instance, NDIlib_recv_queue_t* p_total) {
  Call call("NDIlib_recv_get_queue");
  std::shared_ptr<Receiver> receiver = runtime().receiver(p_instance);
  call.number("recv", receiver ? receiver->id : 0);
  if (!p_total) return;
  *p_total = NDIlib_recv_queue_t{};
  if (!receiver) return;
  std::lock_guard<std::mutex> lock(receiver->mutex);
  // Frames already due but not captured yet wait in the queue; look ahead on a copy.
  Stream ahead = receiver->stream;
  const int64_t now = nowNs();
  for (int looked = 0; looked < 1000; ++looked) {
    std::optional<Next> next = ahead.next(now);
    if (!next || !next->is_event || next->due_ns > now) break;
    EventKind kind = ahead.take().kind;
    if (kind == EventKind::video) ++p_total->video_frames;
    if (kind == EventKind::audio) ++p_total->audio_frames;
    if (kind == EventKind::metadata) ++p_total->metadata_frames;
  }
  call.number("video_frames", p_total->video_frames).number("audio_frames", p_total->audio_frames);
}

NDILIB_API void NDIlib_recv_get_performance(NDIlib_recv_instance_t p_instance, NDIlib_recv_performance_t* p_total,
                                            NDIlib_recv_performance_t* p_dropped) {
  Call call("NDIlib_recv_get_performance");
  std::shared_ptr<Receiver> receiver = runtime().receiver(p_instance);
  call.number("recv", receiver ? receiver->id : 0);
  // Nothing is ever dropped: frames wait until they are captured.
  if (p_dropped) *p_dropped = NDIlib_recv_performance_t{};
  if (!p_total) return;
  *p_total = NDIlib_recv_performance_t{};
  if (!receiver) return;
  std::lock_guard<std::mutex> lock(receiver->mutex);
  *p_total = receiver->total;
  call.number("video_frames", p_total->video_frames);
}

NDILIB_API NDIlib_find_instance_t NDIlib_find_create_v3(const NDIlib_find_create_t* p_create_settings,
                                                       const char* p_config_data) {
  Call call(p_config_data ? "NDIlib_find_create_v3" : "NDIlib_find_create_v2");
  NDIlib_find_create_t settings;
  if (p_create_settings) settings = *p_create_settings;
  call.flag("settings", p_create_settings != nullptr)
      .flag("show_local_sources", settings.show_local_sources)
      .text("groups", settings.p_groups)
      .text("extra_ips", settings.p_extra_ips);
  if (p_config_data) call.text("config", p_config_data);
  Runtime& rt = runtime();
  std::lock_guard<std::mutex> lock(rt.mutex);
  const auto& scenario = rt.current();
  if (!scenario->find_create || !scenario->error.empty()) {
    call.number("find", 0);
    return nullptr;
  }
  auto finder = std::make_shared<Finder>();
  finder->id = rt.next_id++;
  finder->scenario = scenario;
  finder->start_ns = nowNs();
  call.number("find", finder->id);
  void* handle = finder.get();
  rt.finders.emplace(handle, std::move(finder));
  return handle;
}

NDILIB_API NDIlib_find_instance_t NDIlib_find_create_v2(const NDIlib_find_create_t* p_create_settings) {
  return NDIlib_find_create_v3(p_create_settings, nullptr);
}

NDILIB_API void NDIlib_find_destroy(NDIlib_find_instance_t p_instance) {
  Call call("NDIlib_find_destroy");
  Runtime& rt = runtime();
  std::lock_guard<std::mutex> lock(rt.mutex);
  auto it = rt.finders.find(p_instance);
  call.number("find", it == rt.finders.end() ? 0 : it->second->id);
  if (it != rt.finders.end()) rt.finders.erase(it);
}

NDILIB_API bool NDIlib_find_wait_for_sources(NDIlib_find_instance_t p_instance, uint32_t timeout_in_ms) {
  std::shared_ptr<Finder> finder = runtime().finder(p_instance);
  const int64_t deadline = nowNs() + static_cast<int64_t>(timeout_in_ms) * 1000000;
  bool changed = false;
  if (finder) {
    std::unique_lock<std::mutex> lock(finder->mutex);
    for (;;) {
      const int64_t now = nowNs();
      auto list = finder->visible(now);
      if (list != finder->known) {
        finder->known = std::move(list);
        changed = true;
        break;
      }
      const int64_t change = finder->nextChange(now);
      lock.unlock();
      if (change < 0 || change > deadline) {
        sleepUntilNs(deadline);
        break;
      }
      sleepUntilNs(change);
      lock.lock();
    }
  } else {
    sleepUntilNs(deadline);
  }
  Call("NDIlib_find_wait_for_sources")
      .number("find", finder ? finder->id : 0)
      .number("timeout_ms", timeout_in_ms)
      .flag("result", changed);
  return changed;
}

NDILIB_API const NDIlib_source_t* NDIlib_find_get_current_sources(NDIlib_find_instance_t p_instance,
                                                                  uint32_t* p_no_sources) {
  Call call("NDIlib_find_get_current_sources");
  std::shared_ptr<Finder> finder = runtime().finder(p_instance);
  call.number("find", finder ? finder->id : 0);
  if (p_no_sources) *p_no_sources = 0;
  if (!finder) return nullptr;
  std::lock_guard<std::mutex> lock(finder->mutex);
  finder->listed = finder->visible(nowNs());
  finder->known = finder->listed;
  finder->records.clear();
  for (const auto& [name, url] : finder->listed) {
    NDIlib_source_t record;
    record.p_ndi_name = name.c_str();
    record.p_url_address = url.c_str();
    finder->records.push_back(record);
  }
  if (p_no_sources) *p_no_sources = static_cast<uint32_t>(finder->records.size());
  call.number("count", static_cast<int64_t>(finder->records.size()));
  return finder->records.empty() ? nullptr : finder->records.data();
}

NDILIB_API ndi_standin_counts_t ndi_standin_counts(void) {
  const Counts& counts = runtime().counts;
  return ndi_standin_counts_t{counts.video_captured, counts.video_freed,    counts.audio_captured,
                              counts.audio_freed,    counts.metadata_captured, counts.metadata_freed,
                              counts.bad_frees};
}

NDILIB_API int64_t ndi_standin_frames_captured(void) {
  ndi_standin_counts_t c = ndi_standin_counts();
  return c.video_captured + c.audio_captured + c.metadata_captured;
}

NDILIB_API int64_t ndi_standin_frames_freed(void) {
  ndi_standin_counts_t c = ndi_standin_counts();
  return c.video_freed + c.audio_freed + c.metadata_freed;
}

NDILIB_API int64_t ndi_standin_frames_outstanding(void) {
  return ndi_standin_frames_captured() - ndi_standin_frames_freed();
}

NDILIB_API void ndi_standin_reset(void) {
  Runtime& rt = runtime();
  {
    std::lock_guard<std::mutex> lock(rt.mutex);
    rt.scenario.reset();
    rt.counts.reset();
    rt.next_id = 1;
  }
  resetCallLog();
}

}  // extern "C"
