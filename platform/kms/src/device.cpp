// The virtual KMS device: objects, properties, dumb buffers, framebuffers, atomic commits,
// plane sets, vertical blanks and page-flip events, checked the way the kernel checks them.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#include <drm.h>
#include <drm_fourcc.h>
#include <drm_mode.h>

#include "device_state.h"
#include "vkms.h"

namespace vkms {
namespace {

template <typename T>
T* userPtr(uint64_t value) {
  return reinterpret_cast<T*>(static_cast<uintptr_t>(value));
}

// Copies up to the caller's count, then tells the real count (the kernel's two-call way).
template <typename T>
void copyOut(uint32_t& count, uint64_t ptr, const std::vector<T>& items) {
  if (ptr) {
    const size_t n = std::min<size_t>(count, items.size());
    if (n) std::memcpy(userPtr<T>(ptr), items.data(), n * sizeof(T));
  }
  count = static_cast<uint32_t>(items.size());
}

struct Fault {
  int count = 0;
  int error = 0;
  // True (and errno set) when this call is to fail.
  bool fire() {
    if (count <= 0) return false;
    --count;
    errno = error;
    return true;
  }
};

enum Prop : uint32_t {
  kType = 1,
  kFbId,
  kCrtcId,
  kSrcX,
  kSrcY,
  kSrcW,
  kSrcH,
  kCrtcX,
  kCrtcY,
  kCrtcW,
  kCrtcH,
  kModeId,
  kActive,
  kPropCount
};

struct PropertyDef {
  const char* name;
  uint32_t flags;
  std::vector<uint64_t> values;
};

const std::map<uint32_t, PropertyDef>& propertyDefs() {
  static const auto* defs = new std::map<uint32_t, PropertyDef>{
      {kType, {"type", DRM_MODE_PROP_ENUM | DRM_MODE_PROP_IMMUTABLE, {0, 1, 2}}},
      {kFbId, {"FB_ID", DRM_MODE_PROP_OBJECT | DRM_MODE_PROP_ATOMIC, {DRM_MODE_OBJECT_FB}}},
      {kCrtcId, {"CRTC_ID", DRM_MODE_PROP_OBJECT | DRM_MODE_PROP_ATOMIC, {DRM_MODE_OBJECT_CRTC}}},
      {kSrcX, {"SRC_X", DRM_MODE_PROP_RANGE | DRM_MODE_PROP_ATOMIC, {0, UINT32_MAX}}},
      {kSrcY, {"SRC_Y", DRM_MODE_PROP_RANGE | DRM_MODE_PROP_ATOMIC, {0, UINT32_MAX}}},
      {kSrcW, {"SRC_W", DRM_MODE_PROP_RANGE | DRM_MODE_PROP_ATOMIC, {0, UINT32_MAX}}},
      {kSrcH, {"SRC_H", DRM_MODE_PROP_RANGE | DRM_MODE_PROP_ATOMIC, {0, UINT32_MAX}}},
      {kCrtcX, {"CRTC_X", DRM_MODE_PROP_SIGNED_RANGE | DRM_MODE_PROP_ATOMIC, {uint64_t(INT32_MIN), INT32_MAX}}},
      {kCrtcY, {"CRTC_Y", DRM_MODE_PROP_SIGNED_RANGE | DRM_MODE_PROP_ATOMIC, {uint64_t(INT32_MIN), INT32_MAX}}},
      {kCrtcW, {"CRTC_W", DRM_MODE_PROP_RANGE | DRM_MODE_PROP_ATOMIC, {0, INT32_MAX}}},
      {kCrtcH, {"CRTC_H", DRM_MODE_PROP_RANGE | DRM_MODE_PROP_ATOMIC, {0, INT32_MAX}}},
      {kModeId, {"MODE_ID", DRM_MODE_PROP_BLOB | DRM_MODE_PROP_ATOMIC, {}}},
      {kActive, {"ACTIVE", DRM_MODE_PROP_RANGE | DRM_MODE_PROP_ATOMIC, {0, 1}}},
  };
  return *defs;
}

const char* planeTypeName(uint64_t type) {
  return type == DRM_PLANE_TYPE_PRIMARY ? "Primary" : type == DRM_PLANE_TYPE_CURSOR ? "Cursor" : "Overlay";
}

drm_mode_modeinfo makeMode(const Mode& mode) {
  drm_mode_modeinfo info{};
  info.hdisplay = static_cast<uint16_t>(mode.width);
  info.hsync_start = static_cast<uint16_t>(mode.width + 88);
  info.hsync_end = static_cast<uint16_t>(mode.width + 132);
  info.htotal = static_cast<uint16_t>(mode.width + 280);
  info.vdisplay = static_cast<uint16_t>(mode.height);
  info.vsync_start = static_cast<uint16_t>(mode.height + 4);
  info.vsync_end = static_cast<uint16_t>(mode.height + 9);
  info.vtotal = static_cast<uint16_t>(mode.height + 45);
  info.vrefresh = mode.refresh;
  info.clock = static_cast<uint32_t>(uint64_t(info.htotal) * info.vtotal * mode.refresh / 1000);
  info.type = DRM_MODE_TYPE_DRIVER | (mode.preferred ? DRM_MODE_TYPE_PREFERRED : 0);
  std::snprintf(info.name, sizeof info.name, "%ux%u", mode.width, mode.height);
  return info;
}

struct Dumb {
  int memfd = -1;
  ino_t inode = 0;
  uint64_t size = 0;
  ~Dumb() {
    if (memfd >= 0) ::close(memfd);
  }
};

struct Fb {
  Framebuffer info;
  std::shared_ptr<Dumb> dumb;  // keeps the memory while the framebuffer exists
};

struct ConnectorObj {
  uint32_t id = 0, encoder_id = 0, type_id = 0;
  Connector spec;
  bool connected = true;
  uint32_t crtc_id = 0;  // CRTC_ID
};

struct CrtcObj {
  uint32_t id = 0;
  CrtcState state;
  uint64_t flip_user_data = 0;
};

struct PlaneObj {
  uint32_t id = 0;
  Plane spec;
  PlaneState state;
};

}  // namespace

struct Device::State {
  mutable std::mutex mutex;
  std::condition_variable vblanked;
  std::string path;
  dev_t dev = 0;
  ino_t inode = 0;
  int event_fd = -1;  // the device's own end of the node: events are written here
  Spec spec;
  bool universal_planes = false, atomic = false;
  uint32_t next_id = 100;
  uint32_t next_handle = 1;
  std::vector<ConnectorObj> connectors;
  std::vector<CrtcObj> crtcs;
  std::vector<PlaneObj> planes;
  std::map<uint32_t, std::vector<uint8_t>> blobs;
  std::map<uint32_t, std::shared_ptr<Dumb>> dumbs;  // by handle
  std::map<uint32_t, Fb> fbs;
  std::vector<std::pair<int, ino_t>> exported;
  uint64_t commits = 0, test_commits = 0;
  int last_wait_crtc = -1;
  Fault fail_commit, fail_test, fail_setplane, fail_create_dumb, fail_map_dumb, fail_addfb, fail_prime;
  bool stopping = false;
  std::thread ticker;
  int master_fd = -1;  // under the master rule: the descriptor holding master; -1 none, -2 a client elsewhere

  CrtcObj* crtcById(uint32_t id) {
    for (auto& c : crtcs) {
      if (c.id == id) return &c;
    }
    return nullptr;
  }
  int crtcIndex(uint32_t id) const {
    for (size_t i = 0; i < crtcs.size(); ++i) {
      if (crtcs[i].id == id) return static_cast<int>(i);
    }
    return -1;
  }
  ConnectorObj* connectorById(uint32_t id) {
    for (auto& c : connectors) {
      if (c.id == id) return &c;
    }
    return nullptr;
  }
  PlaneObj* planeById(uint32_t id) {
    for (auto& p : planes) {
      if (p.id == id) return &p;
    }
    return nullptr;
  }
  uint32_t possibleCrtcs(const ConnectorObj& c) const {
    return c.spec.possible_crtcs ? c.spec.possible_crtcs : (1u << crtcs.size()) - 1;
  }

  // Caller holds the mutex.
  void vblankLocked() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    for (auto& crtc : crtcs) {
      if (!crtc.state.active) continue;
      ++crtc.state.vblank_sequence;
      if (!crtc.state.flip_pending) continue;
      drm_event_vblank event{};
      event.base.type = DRM_EVENT_FLIP_COMPLETE;
      event.base.length = sizeof event;
      event.user_data = crtc.flip_user_data;
      event.tv_sec = static_cast<uint32_t>(now.tv_sec);
      event.tv_usec = static_cast<uint32_t>(now.tv_nsec / 1000);
      event.sequence = crtc.state.vblank_sequence;
      event.crtc_id = crtc.id;
      if (::write(event_fd, &event, sizeof event) != static_cast<ssize_t>(sizeof event)) {
        continue;  // the event queue is full: the flip stays pending, as a stuck display would
      }
      crtc.state.flip_pending = false;
      ++crtc.state.flips_completed;
    }
    vblanked.notify_all();
  }

  std::vector<std::pair<uint32_t, uint64_t>> objectProps(uint32_t id, uint32_t type) {
    std::vector<std::pair<uint32_t, uint64_t>> props;
    if (auto* c = connectorById(id); c && (type == DRM_MODE_OBJECT_ANY || type == DRM_MODE_OBJECT_CONNECTOR)) {
      props = {{kCrtcId, c->crtc_id}};
    } else if (auto* crtc = crtcById(id); crtc && (type == DRM_MODE_OBJECT_ANY || type == DRM_MODE_OBJECT_CRTC)) {
      props = {{kActive, crtc->state.active}, {kModeId, crtc->state.mode_blob}};
    } else if (auto* p = planeById(id); p && (type == DRM_MODE_OBJECT_ANY || type == DRM_MODE_OBJECT_PLANE)) {
      const PlaneState& s = p->state;
      if (p->spec.has_type) props.push_back({kType, p->spec.type});
      props.insert(props.end(), {{kFbId, s.fb_id}, {kCrtcId, s.crtc_id}, {kSrcX, s.src_x}, {kSrcY, s.src_y},
                                 {kSrcW, s.src_w}, {kSrcH, s.src_h}, {kCrtcX, uint64_t(s.crtc_x)},
                                 {kCrtcY, uint64_t(s.crtc_y)}, {kCrtcW, s.crtc_w}, {kCrtcH, s.crtc_h}});
    } else {
      errno = ENOENT;
      props.clear();
      props.push_back({0, 0});  // marks the failure
    }
    return props;
  }

  int ioctl(int fd, unsigned long request, void* arg);
  int getResources(drm_mode_card_res* res);
  int getConnector(drm_mode_get_connector* out);
  int getEncoder(drm_mode_get_encoder* out);
  int getCrtc(drm_mode_crtc* out);
  int getPlaneResources(drm_mode_get_plane_res* out);
  int getPlane(drm_mode_get_plane* out);
  int getProperties(drm_mode_obj_get_properties* out);
  int getProperty(drm_mode_get_property* out);
  int createBlob(drm_mode_create_blob* blob);
  int destroyBlob(drm_mode_destroy_blob* blob);
  int getBlob(drm_mode_get_blob* blob);
  int addFb2(drm_mode_fb_cmd2* cmd);
  int rmFb(uint32_t* id);
  int setPlane(drm_mode_set_plane* set);
  int createDumb(drm_mode_create_dumb* create);
  int mapDumb(drm_mode_map_dumb* map);
  int destroyDumb(drm_mode_destroy_dumb* destroy);
  int primeExport(drm_prime_handle* prime);
  int getCap(drm_get_cap* cap);
  int setClientCap(drm_set_client_cap* cap);
  int atomicCommit(drm_mode_atomic* atomic);
  int waitVblank(drm_wait_vblank* wait, std::unique_lock<std::mutex>& lock);
};

namespace {

int fail(int error) {
  errno = error;
  return -1;
}

constexpr int kSeized = -2;  // master held by a client outside the process

// Which devices the process serves; count first, so the common path needs no lock.
std::atomic<int> g_device_count{0};

struct Registry {
  std::mutex mutex;
  std::vector<std::shared_ptr<Device::State>> devices;
};

Registry& registry() {
  static Registry* instance = new Registry;
  return *instance;
}

std::shared_ptr<Device::State> lookup(int fd) {
  if (fd < 0 || g_device_count.load(std::memory_order_acquire) == 0) return nullptr;
  struct stat st{};
  if (syscall(SYS_fstat, fd, &st) != 0 || !S_ISFIFO(st.st_mode)) return nullptr;
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (const auto& device : r.devices) {
    if (device->dev == st.st_dev && device->inode == st.st_ino) return device;
  }
  return nullptr;
}

}  // namespace

int Device::State::getResources(drm_mode_card_res* res) {
  std::vector<uint32_t> fb_ids, crtc_ids, connector_ids, encoder_ids;
  for (const auto& [id, fb] : fbs) fb_ids.push_back(id);
  for (const auto& c : crtcs) crtc_ids.push_back(c.id);
  for (const auto& c : connectors) {
    connector_ids.push_back(c.id);
    encoder_ids.push_back(c.encoder_id);
  }
  copyOut(res->count_fbs, res->fb_id_ptr, fb_ids);
  copyOut(res->count_crtcs, res->crtc_id_ptr, crtc_ids);
  copyOut(res->count_connectors, res->connector_id_ptr, connector_ids);
  copyOut(res->count_encoders, res->encoder_id_ptr, encoder_ids);
  res->min_width = 1;
  res->max_width = 8192;
  res->min_height = 1;
  res->max_height = 8192;
  return 0;
}

int Device::State::getConnector(drm_mode_get_connector* out) {
  ConnectorObj* c = connectorById(out->connector_id);
  if (!c) return fail(ENOENT);
  std::vector<drm_mode_modeinfo> modes;
  if (c->connected) {
    for (const Mode& mode : c->spec.modes) modes.push_back(makeMode(mode));
  }
  copyOut(out->count_modes, out->modes_ptr, modes);
  std::vector<uint32_t> encoders{c->encoder_id};
  copyOut(out->count_encoders, out->encoders_ptr, encoders);
  auto props = objectProps(c->id, DRM_MODE_OBJECT_CONNECTOR);
  std::vector<uint32_t> prop_ids;
  std::vector<uint64_t> values;
  for (auto [id, value] : props) {
    prop_ids.push_back(id);
    values.push_back(value);
  }
  uint32_t count = out->count_props;
  copyOut(out->count_props, out->props_ptr, prop_ids);
  copyOut(count, out->prop_values_ptr, values);
  out->encoder_id = c->crtc_id ? c->encoder_id : 0;
  out->connector_type = c->spec.type;
  out->connector_type_id = c->type_id;
  out->connection = c->connected ? DRM_MODE_CONNECTED : DRM_MODE_DISCONNECTED;
  out->mm_width = c->connected ? 527 : 0;
  out->mm_height = c->connected ? 296 : 0;
  out->subpixel = DRM_MODE_SUBPIXEL_UNKNOWN;
  return 0;
}

int Device::State::getEncoder(drm_mode_get_encoder* out) {
  for (const auto& c : connectors) {
    if (c.encoder_id != out->encoder_id) continue;
    out->encoder_type = DRM_MODE_ENCODER_TMDS;
    out->crtc_id = c.crtc_id;
    out->possible_crtcs = possibleCrtcs(c);
    out->possible_clones = 0;
    return 0;
  }
  return fail(ENOENT);
}

int Device::State::getCrtc(drm_mode_crtc* out) {
  CrtcObj* crtc = crtcById(out->crtc_id);
  if (!crtc) return fail(ENOENT);
  out->fb_id = 0;
  for (const auto& p : planes) {
    if (p.spec.type == DRM_PLANE_TYPE_PRIMARY && p.state.crtc_id == crtc->id) out->fb_id = p.state.fb_id;
  }
  out->x = out->y = 0;
  out->gamma_size = 0;
  out->mode_valid = crtc->state.active && crtc->state.mode ? 1 : 0;
  if (out->mode_valid) std::memcpy(&out->mode, &*crtc->state.mode, sizeof out->mode);
  return 0;
}

int Device::State::getPlaneResources(drm_mode_get_plane_res* out) {
  std::vector<uint32_t> ids;
  for (const auto& p : planes) {
    // Without universal planes a client sees overlays only.
    if (universal_planes || p.spec.type == DRM_PLANE_TYPE_OVERLAY) ids.push_back(p.id);
  }
  copyOut(out->count_planes, out->plane_id_ptr, ids);
  return 0;
}

int Device::State::getPlane(drm_mode_get_plane* out) {
  PlaneObj* p = planeById(out->plane_id);
  if (!p) return fail(ENOENT);
  out->crtc_id = p->state.crtc_id;
  out->fb_id = p->state.fb_id;
  out->possible_crtcs = p->spec.possible_crtcs;
  out->gamma_size = 0;
  std::vector<uint32_t> formats{DRM_FORMAT_NV12, DRM_FORMAT_ARGB8888, DRM_FORMAT_XRGB8888};
  copyOut(out->count_format_types, out->format_type_ptr, formats);
  return 0;
}

int Device::State::getProperties(drm_mode_obj_get_properties* out) {
  auto props = objectProps(out->obj_id, out->obj_type);
  if (props.size() == 1 && props[0].first == 0) return fail(ENOENT);
  std::vector<uint32_t> ids;
  std::vector<uint64_t> values;
  for (auto [id, value] : props) {
    ids.push_back(id);
    values.push_back(value);
  }
  uint32_t count = out->count_props;
  copyOut(out->count_props, out->props_ptr, ids);
  copyOut(count, out->prop_values_ptr, values);
  return 0;
}

int Device::State::getProperty(drm_mode_get_property* out) {
  auto it = propertyDefs().find(out->prop_id);
  if (it == propertyDefs().end()) return fail(ENOENT);
  const PropertyDef& def = it->second;
  std::memset(out->name, 0, sizeof out->name);
  std::strncpy(out->name, def.name, sizeof out->name - 1);
  out->flags = def.flags;
  std::vector<uint64_t> values = def.values;
  std::vector<drm_mode_property_enum> enums;
  if (def.flags & DRM_MODE_PROP_ENUM) {
    for (uint64_t v : def.values) {
      drm_mode_property_enum e{};
      e.value = v;
      std::strncpy(e.name, planeTypeName(v), sizeof e.name - 1);
      enums.push_back(e);
    }
  }
  copyOut(out->count_values, out->values_ptr, values);
  copyOut(out->count_enum_blobs, out->enum_blob_ptr, enums);
  return 0;
}

int Device::State::createBlob(drm_mode_create_blob* blob) {
  if (!blob->length) return fail(EINVAL);
  const auto* data = userPtr<const uint8_t>(blob->data);
  blob->blob_id = next_id++;
  blobs[blob->blob_id] = std::vector<uint8_t>(data, data + blob->length);
  return 0;
}

int Device::State::destroyBlob(drm_mode_destroy_blob* blob) {
  return blobs.erase(blob->blob_id) ? 0 : fail(ENOENT);
}

int Device::State::getBlob(drm_mode_get_blob* blob) {
  auto it = blobs.find(blob->blob_id);
  if (it == blobs.end()) return fail(ENOENT);
  if (blob->data && blob->length >= it->second.size()) {
    std::memcpy(userPtr<uint8_t>(blob->data), it->second.data(), it->second.size());
  }
  blob->length = static_cast<uint32_t>(it->second.size());
  return 0;
}

int Device::State::addFb2(drm_mode_fb_cmd2* cmd) {
  if (fail_addfb.fire()) return -1;
  if (!cmd->width || !cmd->height) return fail(EINVAL);
  auto dumb = dumbs.find(cmd->handles[0]);
  if (dumb == dumbs.end()) return fail(ENOENT);
  for (int i = 1; i < 4; ++i) {
    if (cmd->handles[i] && !dumbs.count(cmd->handles[i])) return fail(ENOENT);
  }
  Fb fb;
  fb.info.width = cmd->width;
  fb.info.height = cmd->height;
  fb.info.format = cmd->pixel_format;
  for (int i = 0; i < 4; ++i) {
    fb.info.handles[i] = cmd->handles[i];
    fb.info.pitches[i] = cmd->pitches[i];
    fb.info.offsets[i] = cmd->offsets[i];
  }
  if (uint64_t(cmd->pitches[0]) * cmd->height + cmd->offsets[0] > dumb->second->size) return fail(EINVAL);
  fb.dumb = dumb->second;
  cmd->fb_id = next_id++;
  fbs[cmd->fb_id] = std::move(fb);
  return 0;
}

int Device::State::rmFb(uint32_t* id) {
  if (!fbs.erase(*id)) return fail(ENOENT);
  // A plane that shows it goes dark, as the kernel does.
  for (auto& p : planes) {
    if (p.state.fb_id == *id) {
      p.state.fb_id = 0;
      p.state.crtc_id = 0;
      ++p.state.updates;
    }
  }
  return 0;
}

int Device::State::setPlane(drm_mode_set_plane* set) {
  PlaneObj* p = planeById(set->plane_id);
  if (!p) return fail(ENOENT);
  if (fail_setplane.fire()) return -1;
  if (!set->fb_id) {
    p->state.fb_id = 0;
    p->state.crtc_id = 0;
    ++p->state.updates;
    return 0;
  }
  CrtcObj* crtc = crtcById(set->crtc_id);
  if (!crtc) return fail(ENOENT);
  auto fb = fbs.find(set->fb_id);
  if (fb == fbs.end()) return fail(ENOENT);
  if (!(p->spec.possible_crtcs & (1u << crtcIndex(crtc->id)))) return fail(EINVAL);
  if (!crtc->state.active) return fail(EINVAL);
  if (uint64_t(set->src_x) + set->src_w > uint64_t(fb->second.info.width) << 16 ||
      uint64_t(set->src_y) + set->src_h > uint64_t(fb->second.info.height) << 16) {
    return fail(ENOSPC);
  }
  PlaneState& s = p->state;
  s.fb_id = set->fb_id;
  s.crtc_id = set->crtc_id;
  s.crtc_x = set->crtc_x;
  s.crtc_y = set->crtc_y;
  s.crtc_w = set->crtc_w;
  s.crtc_h = set->crtc_h;
  s.src_x = set->src_x;
  s.src_y = set->src_y;
  s.src_w = set->src_w;
  s.src_h = set->src_h;
  ++s.updates;
  return 0;
}

int Device::State::createDumb(drm_mode_create_dumb* create) {
  if (!spec.dumb_buffers) return fail(ENOSYS);
  if (fail_create_dumb.fire()) return -1;
  if (!create->width || !create->height || !create->bpp) return fail(EINVAL);
  const uint64_t pitch = (uint64_t(create->width) * ((create->bpp + 7) / 8) + 63) / 64 * 64;
  const uint64_t size = (pitch * create->height + 4095) / 4096 * 4096;
  auto dumb = std::make_shared<Dumb>();
  dumb->memfd = static_cast<int>(syscall(SYS_memfd_create, "vkms-dumb", MFD_CLOEXEC));
  if (dumb->memfd < 0 || ftruncate(dumb->memfd, static_cast<off_t>(size)) != 0) return fail(ENOMEM);
  struct stat st{};
  syscall(SYS_fstat, dumb->memfd, &st);
  dumb->inode = st.st_ino;
  dumb->size = size;
  create->handle = next_handle++;
  create->pitch = static_cast<uint32_t>(pitch);
  create->size = size;
  dumbs[create->handle] = std::move(dumb);
  return 0;
}

int Device::State::mapDumb(drm_mode_map_dumb* map) {
  if (fail_map_dumb.fire()) return -1;
  if (!dumbs.count(map->handle)) return fail(ENOENT);
  map->offset = uint64_t(map->handle) << 32;  // a key for mmap, page aligned
  return 0;
}

int Device::State::destroyDumb(drm_mode_destroy_dumb* destroy) {
  return dumbs.erase(destroy->handle) ? 0 : fail(ENOENT);
}

int Device::State::primeExport(drm_prime_handle* prime) {
  if (!spec.prime) return fail(ENOSYS);
  if (fail_prime.fire()) return -1;
  auto it = dumbs.find(prime->handle);
  if (it == dumbs.end()) return fail(ENOENT);
  int fd = fcntl(it->second->memfd, (prime->flags & DRM_CLOEXEC) ? F_DUPFD_CLOEXEC : F_DUPFD, 0);
  if (fd < 0) return -1;
  exported.emplace_back(fd, it->second->inode);
  prime->fd = fd;
  return 0;
}

int Device::State::getCap(drm_get_cap* cap) {
  switch (cap->capability) {
    case DRM_CAP_DUMB_BUFFER:
      cap->value = spec.dumb_buffers;
      return 0;
    case DRM_CAP_PRIME:
      cap->value = spec.prime ? (DRM_PRIME_CAP_IMPORT | DRM_PRIME_CAP_EXPORT) : 0;
      return 0;
    case DRM_CAP_TIMESTAMP_MONOTONIC:
      cap->value = 1;
      return 0;
    case DRM_CAP_CRTC_IN_VBLANK_EVENT:
      cap->value = spec.crtc_in_vblank_event;
      return 0;
    default:
      return fail(EINVAL);
  }
}

int Device::State::setClientCap(drm_set_client_cap* cap) {
  if (cap->value > 1) return fail(EINVAL);
  switch (cap->capability) {
    case DRM_CLIENT_CAP_UNIVERSAL_PLANES:
      if (!spec.universal_planes) return fail(EINVAL);
      universal_planes = cap->value;
      return 0;
    case DRM_CLIENT_CAP_ATOMIC:
      if (!spec.atomic) return fail(EOPNOTSUPP);
      atomic = cap->value;
      if (atomic) universal_planes = true;  // atomic implies universal planes
      return 0;
    default:
      return fail(EINVAL);
  }
}

int Device::State::atomicCommit(drm_mode_atomic* req) {
  constexpr uint32_t kKnown = DRM_MODE_PAGE_FLIP_EVENT | DRM_MODE_PAGE_FLIP_ASYNC | DRM_MODE_ATOMIC_TEST_ONLY |
                              DRM_MODE_ATOMIC_NONBLOCK | DRM_MODE_ATOMIC_ALLOW_MODESET;
  if (!atomic) return fail(EOPNOTSUPP);
  if ((req->flags & ~kKnown) || req->reserved) return fail(EINVAL);
  const bool test_only = req->flags & DRM_MODE_ATOMIC_TEST_ONLY;
  const bool want_event = req->flags & DRM_MODE_PAGE_FLIP_EVENT;
  if (test_only && want_event) return fail(EINVAL);

  // Work on copies; nothing changes unless every check passes.
  std::vector<ConnectorObj> new_connectors = connectors;
  std::vector<CrtcObj> new_crtcs = crtcs;
  std::vector<PlaneObj> new_planes = planes;
  std::set<uint32_t> touched_crtcs;  // CRTC ids this commit affects

  const auto* objs = userPtr<const uint32_t>(req->objs_ptr);
  const auto* counts = userPtr<const uint32_t>(req->count_props_ptr);
  const auto* props = userPtr<const uint32_t>(req->props_ptr);
  const auto* values = userPtr<const uint64_t>(req->prop_values_ptr);
  size_t k = 0;
  for (uint32_t o = 0; o < req->count_objs; ++o) {
    const uint32_t id = objs[o];
    ConnectorObj* conn = nullptr;
    CrtcObj* crtc = nullptr;
    PlaneObj* plane = nullptr;
    for (auto& c : new_connectors) conn = c.id == id ? &c : conn;
    for (auto& c : new_crtcs) crtc = c.id == id ? &c : crtc;
    for (auto& p : new_planes) plane = p.id == id ? &p : plane;
    if (!conn && !crtc && !plane) return fail(ENOENT);
    if (crtc) touched_crtcs.insert(crtc->id);
    if (plane && plane->state.crtc_id) touched_crtcs.insert(plane->state.crtc_id);
    if (conn && conn->crtc_id) touched_crtcs.insert(conn->crtc_id);
    for (uint32_t n = 0; n < counts[o]; ++n, ++k) {
      const uint32_t prop = props[k];
      const uint64_t value = values[k];
      if (!propertyDefs().count(prop)) return fail(ENOENT);
      if (conn) {
        if (prop != kCrtcId) return fail(EINVAL);
        if (value && !crtcById(static_cast<uint32_t>(value))) return fail(ENOENT);
        conn->crtc_id = static_cast<uint32_t>(value);
        if (value) touched_crtcs.insert(conn->crtc_id);
      } else if (crtc) {
        if (prop == kActive) {
          if (value > 1) return fail(EINVAL);
          crtc->state.active = value;
        } else if (prop == kModeId) {
          if (value) {
            auto blob = blobs.find(static_cast<uint32_t>(value));
            if (blob == blobs.end()) return fail(ENOENT);
            if (blob->second.size() != sizeof(drm_mode_modeinfo)) return fail(EINVAL);
            drmModeModeInfo mode;
            std::memcpy(&mode, blob->second.data(), sizeof mode);
            crtc->state.mode = mode;
          } else {
            crtc->state.mode.reset();
          }
          crtc->state.mode_blob = static_cast<uint32_t>(value);
        } else {
          return fail(EINVAL);
        }
      } else {
        PlaneState& s = plane->state;
        switch (prop) {
          case kFbId:
            if (value && !fbs.count(static_cast<uint32_t>(value))) return fail(ENOENT);
            s.fb_id = static_cast<uint32_t>(value);
            break;
          case kCrtcId:
            if (value && !crtcById(static_cast<uint32_t>(value))) return fail(ENOENT);
            s.crtc_id = static_cast<uint32_t>(value);
            if (value) touched_crtcs.insert(s.crtc_id);
            break;
          case kSrcX: s.src_x = value; break;
          case kSrcY: s.src_y = value; break;
          case kSrcW: s.src_w = value; break;
          case kSrcH: s.src_h = value; break;
          case kCrtcX: s.crtc_x = static_cast<int32_t>(value); break;
          case kCrtcY: s.crtc_y = static_cast<int32_t>(value); break;
          case kCrtcW: s.crtc_w = value; break;
          case kCrtcH: s.crtc_h = value; break;
          default:
            return fail(EINVAL);  // "type" is immutable
        }
      }
    }
  }

  // Whole-state checks.
  bool modeset = false;
  for (size_t i = 0; i < crtcs.size(); ++i) {
    const CrtcState& before = crtcs[i].state;
    const CrtcState& after = new_crtcs[i].state;
    if (after.active && !after.mode) return fail(EINVAL);  // a lit CRTC needs a mode
    if (before.active != after.active || before.mode_blob != after.mode_blob) modeset = true;
  }
  for (size_t i = 0; i < connectors.size(); ++i) {
    const ConnectorObj& c = new_connectors[i];
    if (c.crtc_id != connectors[i].crtc_id) modeset = true;
    if (c.crtc_id && !(possibleCrtcs(c) & (1u << crtcIndex(c.crtc_id)))) return fail(EINVAL);
  }
  if (modeset && !(req->flags & DRM_MODE_ATOMIC_ALLOW_MODESET)) return fail(EINVAL);
  for (const auto& p : new_planes) {
    const PlaneState& s = p.state;
    if (!s.fb_id != !s.crtc_id) return fail(EINVAL);  // both or neither
    if (!s.fb_id) continue;
    const int index = crtcIndex(s.crtc_id);
    if (!(p.spec.possible_crtcs & (1u << index))) return fail(EINVAL);
    if (!new_crtcs[index].state.active) return fail(EINVAL);
    const Framebuffer& fb = fbs.at(s.fb_id).info;
    if (s.src_x + s.src_w > uint64_t(fb.width) << 16 || s.src_y + s.src_h > uint64_t(fb.height) << 16) {
      return fail(ENOSPC);
    }
  }
  if (want_event) {
    if (touched_crtcs.empty()) return fail(EINVAL);
    for (uint32_t id : touched_crtcs) {
      if (!new_crtcs[crtcIndex(id)].state.active) return fail(EINVAL);
    }
  }
  if (test_only) {
    if (fail_test.fire()) return -1;
    ++test_commits;
    return 0;
  }
  if (fail_commit.fire()) return -1;
  for (uint32_t id : touched_crtcs) {
    if (!crtcById(id)->state.flip_pending) continue;
    if (req->flags & DRM_MODE_ATOMIC_NONBLOCK) return fail(EBUSY);
    vblankLocked();  // a blocking commit waits for the flip before it
  }

  // Apply, keeping what the commit does not own.
  for (size_t i = 0; i < crtcs.size(); ++i) {
    new_crtcs[i].state.flip_pending = crtcs[i].state.flip_pending;
    new_crtcs[i].state.vblank_sequence = crtcs[i].state.vblank_sequence;
    new_crtcs[i].state.flips_completed = crtcs[i].state.flips_completed;
    new_crtcs[i].flip_user_data = crtcs[i].flip_user_data;
  }
  for (size_t i = 0; i < planes.size(); ++i) {
    if (std::memcmp(&new_planes[i].state, &planes[i].state, sizeof(PlaneState)) != 0) ++new_planes[i].state.updates;
  }
  connectors = std::move(new_connectors);
  crtcs = std::move(new_crtcs);
  planes = std::move(new_planes);
  ++commits;
  if (want_event) {
    for (uint32_t id : touched_crtcs) {
      CrtcObj* crtc = crtcById(id);
      crtc->state.flip_pending = true;
      crtc->flip_user_data = req->user_data;
    }
  }
  return 0;
}

int Device::State::waitVblank(drm_wait_vblank* wait, std::unique_lock<std::mutex>& lock) {
  const uint32_t type = wait->request.type;
  if (type & (_DRM_VBLANK_EVENT | _DRM_VBLANK_SIGNAL)) return fail(EINVAL);
  int index = (type & _DRM_VBLANK_SECONDARY) ? 1 : static_cast<int>((type & _DRM_VBLANK_HIGH_CRTC_MASK) >> _DRM_VBLANK_HIGH_CRTC_SHIFT);
  if (index >= static_cast<int>(crtcs.size())) return fail(EINVAL);
  last_wait_crtc = index;
  if (!crtcs[index].state.active) return fail(EINVAL);
  const uint32_t start = crtcs[index].state.vblank_sequence;
  if (spec.vblank_interval_us == 0) {
    vblankLocked();  // time passes while a caller waits
  } else {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (crtcs[index].state.vblank_sequence == start && crtcs[index].state.active) {
      if (vblanked.wait_until(lock, limit) == std::cv_status::timeout) return fail(EBUSY);
    }
  }
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  wait->reply.sequence = crtcs[index].state.vblank_sequence;
  wait->reply.tval_sec = now.tv_sec;
  wait->reply.tval_usec = now.tv_nsec / 1000;
  return 0;
}

int Device::State::ioctl(int fd, unsigned long request, void* arg) {
  std::unique_lock<std::mutex> lock(mutex);
  if (spec.master_rule) {
    // A card gives up master when its holder closes it.
    if (master_fd >= 0 && ::fcntl(master_fd, F_GETFD) < 0) master_fd = -1;
    if (master_fd == -1 && request != DRM_IOCTL_DROP_MASTER) master_fd = fd;
    switch (request) {
      case DRM_IOCTL_SET_MASTER:
        return master_fd == fd ? 0 : fail(EBUSY);
      case DRM_IOCTL_DROP_MASTER:
        if (master_fd != fd) return fail(EINVAL);
        master_fd = -1;
        return 0;
      case DRM_IOCTL_MODE_SETPLANE:
      case DRM_IOCTL_MODE_ATOMIC:
        if (master_fd != fd) return fail(EACCES);
        break;
      default:
        break;
    }
  }
  switch (request) {
    case DRM_IOCTL_MODE_GETRESOURCES:
      return getResources(static_cast<drm_mode_card_res*>(arg));
    case DRM_IOCTL_MODE_GETCONNECTOR:
      return getConnector(static_cast<drm_mode_get_connector*>(arg));
    case DRM_IOCTL_MODE_GETENCODER:
      return getEncoder(static_cast<drm_mode_get_encoder*>(arg));
    case DRM_IOCTL_MODE_GETCRTC:
      return getCrtc(static_cast<drm_mode_crtc*>(arg));
    case DRM_IOCTL_MODE_GETPLANERESOURCES:
      return getPlaneResources(static_cast<drm_mode_get_plane_res*>(arg));
    case DRM_IOCTL_MODE_GETPLANE:
      return getPlane(static_cast<drm_mode_get_plane*>(arg));
    case DRM_IOCTL_MODE_OBJ_GETPROPERTIES:
      return getProperties(static_cast<drm_mode_obj_get_properties*>(arg));
    case DRM_IOCTL_MODE_GETPROPERTY:
      return getProperty(static_cast<drm_mode_get_property*>(arg));
    case DRM_IOCTL_MODE_CREATEPROPBLOB:
      return createBlob(static_cast<drm_mode_create_blob*>(arg));
    case DRM_IOCTL_MODE_DESTROYPROPBLOB:
      return destroyBlob(static_cast<drm_mode_destroy_blob*>(arg));
    case DRM_IOCTL_MODE_GETPROPBLOB:
      return getBlob(static_cast<drm_mode_get_blob*>(arg));
    case DRM_IOCTL_MODE_ADDFB2:
      return addFb2(static_cast<drm_mode_fb_cmd2*>(arg));
    case DRM_IOCTL_MODE_RMFB:
      return rmFb(static_cast<uint32_t*>(arg));
    case DRM_IOCTL_MODE_SETPLANE:
      return setPlane(static_cast<drm_mode_set_plane*>(arg));
    case DRM_IOCTL_MODE_CREATE_DUMB:
      return createDumb(static_cast<drm_mode_create_dumb*>(arg));
    case DRM_IOCTL_MODE_MAP_DUMB:
      return mapDumb(static_cast<drm_mode_map_dumb*>(arg));
    case DRM_IOCTL_MODE_DESTROY_DUMB:
      return destroyDumb(static_cast<drm_mode_destroy_dumb*>(arg));
    case DRM_IOCTL_PRIME_HANDLE_TO_FD:
      return primeExport(static_cast<drm_prime_handle*>(arg));
    case DRM_IOCTL_GET_CAP:
      return getCap(static_cast<drm_get_cap*>(arg));
    case DRM_IOCTL_SET_CLIENT_CAP:
      return setClientCap(static_cast<drm_set_client_cap*>(arg));
    case DRM_IOCTL_MODE_ATOMIC:
      return atomicCommit(static_cast<drm_mode_atomic*>(arg));
    case DRM_IOCTL_WAIT_VBLANK:
      return waitVblank(static_cast<drm_wait_vblank*>(arg), lock);
    default:
      return fail(EINVAL);
  }
}

bool handleIoctl(int fd, unsigned long request, void* arg, int* result) {
  std::shared_ptr<Device::State> device = lookup(fd);
  if (!device) return false;
  *result = device->ioctl(fd, request, arg);
  return true;
}

bool handleMmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset, void** out) {
  std::shared_ptr<Device::State> device = lookup(fd);
  if (!device) return false;
  std::lock_guard<std::mutex> lock(device->mutex);
  auto it = device->dumbs.find(static_cast<uint32_t>(static_cast<uint64_t>(offset) >> 32));
  if ((static_cast<uint64_t>(offset) & 0xffffffffu) || it == device->dumbs.end() || length > it->second->size) {
    errno = EINVAL;
    *out = MAP_FAILED;
    return true;
  }
  *out = reinterpret_cast<void*>(syscall(SYS_mmap, addr, length, prot, flags, it->second->memfd, 0));
  return true;
}

Device::Device(const std::string& path, Spec spec) : state_(std::make_shared<State>()) {
  State& s = *state_;
  s.path = path;
  s.spec = spec;
  ::unlink(path.c_str());
  if (mkfifo(path.c_str(), 0600) != 0) throw std::runtime_error("vkms: cannot make " + path);
  s.event_fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  struct stat st{};
  if (s.event_fd < 0 || fstat(s.event_fd, &st) != 0) throw std::runtime_error("vkms: cannot open " + path);
  s.dev = st.st_dev;
  s.inode = st.st_ino;

  for (int i = 0; i < spec.crtcs; ++i) {
    CrtcObj crtc;
    crtc.id = s.next_id++;
    s.crtcs.push_back(crtc);
  }
  std::map<uint32_t, uint32_t> type_ids;
  for (const Connector& c : spec.connectors) {
    ConnectorObj conn;
    conn.id = s.next_id++;
    conn.encoder_id = s.next_id++;
    conn.type_id = ++type_ids[c.type];
    conn.spec = c;
    conn.connected = c.connected;
    if (c.current_crtc >= 0 && c.current_crtc < spec.crtcs && !c.modes.empty()) {
      // Lit by someone before us, with its first mode.
      CrtcObj& crtc = s.crtcs[c.current_crtc];
      conn.crtc_id = crtc.id;
      drm_mode_modeinfo mode = makeMode(c.modes[0]);
      crtc.state.mode_blob = s.next_id++;
      s.blobs[crtc.state.mode_blob] =
          std::vector<uint8_t>(reinterpret_cast<uint8_t*>(&mode), reinterpret_cast<uint8_t*>(&mode) + sizeof mode);
      drmModeModeInfo info;
      std::memcpy(&info, &mode, sizeof info);
      crtc.state.mode = info;
      crtc.state.active = true;
    }
    s.connectors.push_back(conn);
  }
  std::vector<Plane> planes = spec.planes;
  if (planes.empty()) {
    for (int i = 0; i < spec.crtcs; ++i) {
      planes.push_back({DRM_PLANE_TYPE_PRIMARY, 1u << i, true});
      planes.push_back({DRM_PLANE_TYPE_OVERLAY, 1u << i, true});
    }
  }
  for (const Plane& p : planes) {
    PlaneObj plane;
    plane.id = s.next_id++;
    plane.spec = p;
    s.planes.push_back(plane);
  }

  if (spec.vblank_interval_us) {
    s.ticker = std::thread([state = state_.get()] {
      std::unique_lock<std::mutex> lock(state->mutex);
      while (!state->stopping) {
        state->vblanked.wait_for(lock, std::chrono::microseconds(state->spec.vblank_interval_us),
                                 [state] { return state->stopping; });
        if (!state->stopping) state->vblankLocked();
      }
    });
  }
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.devices.push_back(state_);
  g_device_count.fetch_add(1, std::memory_order_release);
}

Device::~Device() {
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    std::erase(r.devices, state_);
    g_device_count.fetch_sub(1, std::memory_order_release);
  }
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stopping = true;
    state_->vblanked.notify_all();
  }
  if (state_->ticker.joinable()) state_->ticker.join();
  ::close(state_->event_fd);
  ::unlink(state_->path.c_str());
}

const std::string& Device::path() const { return state_->path; }

uint32_t Device::connectorId(int index) const { return state_->connectors.at(index).id; }
uint32_t Device::encoderId(int index) const { return state_->connectors.at(index).encoder_id; }
uint32_t Device::crtcId(int index) const { return state_->crtcs.at(index).id; }
uint32_t Device::planeId(int index) const { return state_->planes.at(index).id; }

PlaneState Device::plane(uint32_t plane_id) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  PlaneObj* p = state_->planeById(plane_id);
  return p ? p->state : PlaneState{};
}

CrtcState Device::crtc(uint32_t crtc_id) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  CrtcObj* c = state_->crtcById(crtc_id);
  return c ? c->state : CrtcState{};
}

uint32_t Device::connectorCrtc(uint32_t connector_id) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  ConnectorObj* c = state_->connectorById(connector_id);
  return c ? c->crtc_id : 0;
}

std::optional<Framebuffer> Device::framebuffer(uint32_t fb_id) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  auto it = state_->fbs.find(fb_id);
  if (it == state_->fbs.end()) return std::nullopt;
  Framebuffer fb = it->second.info;
  fb.bytes.resize(it->second.dumb->size);
  if (pread(it->second.dumb->memfd, fb.bytes.data(), fb.bytes.size(), 0) != static_cast<ssize_t>(fb.bytes.size())) {
    fb.bytes.clear();
  }
  return fb;
}

Census Device::census() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  Census census;
  census.dumb_buffers = state_->dumbs.size();
  census.framebuffers = state_->fbs.size();
  census.blobs = state_->blobs.size();
  for (auto [fd, inode] : state_->exported) {
    struct stat st{};
    if (fcntl(fd, F_GETFD) != -1 && fstat(fd, &st) == 0 && st.st_ino == inode) ++census.exported_fds_open;
  }
  return census;
}

uint64_t Device::commits() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->commits;
}

uint64_t Device::testCommits() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->test_commits;
}

int Device::lastVblankWaitCrtc() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->last_wait_crtc;
}

void Device::vblank() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->vblankLocked();
}

#define VKMS_FAULT(method, member)                      \
  void Device::method(int count, int error) {           \
    std::lock_guard<std::mutex> lock(state_->mutex);    \
    state_->member = Fault{count, error};               \
  }
VKMS_FAULT(failCommits, fail_commit)
VKMS_FAULT(failTestCommits, fail_test)
VKMS_FAULT(failSetPlane, fail_setplane)
VKMS_FAULT(failCreateDumb, fail_create_dumb)
VKMS_FAULT(failMapDumb, fail_map_dumb)
VKMS_FAULT(failAddFramebuffer, fail_addfb)
VKMS_FAULT(failPrimeExport, fail_prime)
#undef VKMS_FAULT

void Device::setConnected(int index, bool connected) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->connectors.at(index).connected = connected;
}

void Device::seizeMaster(bool seized) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->master_fd = seized ? kSeized : -1;
}

}  // namespace vkms
