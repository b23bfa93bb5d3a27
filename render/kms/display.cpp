// One output: mode choice, buffer rings, atomic modeset and flips, plane sets.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <chrono>
#include <cstring>
#include <thread>

#include <drm_fourcc.h>

#include "klmf_ipp.h"
#include "kms_internal.h"

namespace {

constexpr auto kStoppedPause = std::chrono::microseconds(3000);

// Adds one property by name; a missing one is logged and skipped.
int addProperty(drmModeAtomicReq* request, const drm_object& obj, const char* name, uint64_t value) {
  const uint32_t id = kms::propertyId(obj, name);
  if (!id) {
    KEL_LOG(true, "[KMFR]E no object property: %s\n", name);
    return 0;
  }
  return drmModeAtomicAddProperty(request, obj.id, id, value) < 0 ? -1 : 0;
}

int addPlane(drmModeAtomicReq* request, const modeset_display_t* display, const drm_object& plane,
             const buffer_object* bo) {
  const std::pair<const char*, uint64_t> props[] = {
      {"FB_ID", bo->fb_id},         {"CRTC_ID", display->crtc.id},    {"SRC_X", 0},
      {"SRC_Y", 0},                 {"SRC_W", bo->width << 16},        {"SRC_H", bo->height << 16},
      {"CRTC_X", 0},                {"CRTC_Y", 0},                     {"CRTC_W", display->mode_width},
      {"CRTC_H", display->mode_height}};
  for (const auto& [name, value] : props) {
    if (addProperty(request, plane, name, value) != 0) return -1;
  }
  return 0;
}

// Clears a new buffer to black: luma 0 and chroma 128, or ARGB 0.
void clearBuffer(buffer_object* bo) {
  const auto width = static_cast<int32_t>(bo->width);
  if (bo->format == DRM_FORMAT_NV12) {
    for (uint64_t row = 0; row < bo->height; ++row) ippsSet_8u(0, bo->map + bo->offsets[0] + row * bo->pitches[0], width);
    for (uint64_t row = 0; row < bo->height / 2; ++row) {
      ippsSet_8u(128, bo->map + bo->offsets[1] + row * bo->pitches[1], width);
    }
  } else {
    for (uint64_t row = 0; row < bo->height; ++row) {
      ippsSet_32s(0, reinterpret_cast<int32_t*>(bo->map + row * bo->pitches[0]), width);
    }
  }
}

// Pause for a caller that loops on a stopped display, without holding its mutex (the
// page-flip handler needs it meanwhile).
int stoppedPause(std::unique_lock<std::mutex>& lock) {
  lock.unlock();
  std::this_thread::sleep_for(kStoppedPause);
  return -1;
}

// A refusal for want of DRM master (beside a running X server) repeats on every frame:
// told once per display, always. Caller holds the display mutex; errno is the call's.
bool accessRefused(modeset_display_t* display) {
  if (errno != EACCES) return false;
  if (!display->access_refused) {
    display->access_refused = true;
    KEL_LOG(true, "[KMFR]E %s: plane set refused on crtc %d, not the device's master: %s\n", display->name.c_str(),
            display->crtc.id, strerror(errno));
  }
  return true;
}

// Shared settle logic of the two plane sets; true when the plane is to be set now.
bool settled(modeset_display_t* display, int32_t dst_w, int32_t dst_h) {
  if (dst_w != display->last_dst_w || dst_h != display->last_dst_h) {
    display->last_dst_w = dst_w;
    display->last_dst_h = dst_h;
    display->settle = 5;
    return false;
  }
  if (display->settle > 0) {
    --display->settle;
    return false;
  }
  return true;
}

// Source values are 16.16 fixed point, as the kernel takes them.
int setPlane(modeset_display_t* display, const drm_object& plane, buffer_object* bo, uint32_t src_x, uint32_t src_y,
             uint32_t src_w, uint32_t src_h, int32_t dst_x, int32_t dst_y, uint32_t dst_w, uint32_t dst_h) {
  std::unique_lock<std::mutex> lock(display->mutex);
  if (!display->running) return stoppedPause(lock);
  const uint32_t fb_id = bo ? bo->fb_id : 0;
  KEL_LOG(KEL_DISPLAY_ON(6), "[KMFR]I %s flip %d %d %d src %d.%d %dx%d dst %d.%d %dx%d display %dx%d\n",
          display->name.c_str(), display->crtc.id, display->connector.id, fb_id, src_x >> 16, src_y >> 16,
          src_w >> 16, src_h >> 16, dst_x, dst_y, dst_w, dst_h, display->mode_width, display->mode_height);
  if (!settled(display, static_cast<int32_t>(dst_w), static_cast<int32_t>(dst_h))) return 0;
  const int fd = display->owner->fd;
  if (drmModeSetPlane(fd, plane.id, display->crtc.id, fb_id, 0, dst_x, dst_y, dst_w, dst_h, src_x, src_y, src_w,
                      src_h) != 0) {
    if (accessRefused(display)) return -1;
    KEL_LOG(KEL_DISPLAY_ON(6), "[KMFR]I fail to setplane %s on crtc %d conn %d fb %d\n", strerror(errno),
            display->crtc.id, display->connector.id, fb_id);
    return -1;
  }
  if (&plane == &display->overlay_plane) display->overlay_fb = fb_id;
  return 0;
}

// One axis of a plane rectangle cut to the mode [0, limit): the source (16.16) loses the
// same share as the destination, so what stays visible keeps the window's scale.
void clipAxis(int64_t& dst, int64_t& dst_len, uint64_t& src16, uint64_t& src_len16, int64_t limit) {
  const int64_t lo = std::max<int64_t>(dst, 0), hi = std::min<int64_t>(dst + dst_len, limit);
  if (dst_len <= 0 || hi <= lo) {
    dst = std::clamp<int64_t>(dst, 0, std::max<int64_t>(limit, 0));
    dst_len = 0;
    src_len16 = 0;
    return;
  }
  using wide = unsigned __int128;
  const uint64_t first = static_cast<uint64_t>((wide(lo - dst) * src_len16) / wide(dst_len));
  const uint64_t last = static_cast<uint64_t>((wide(hi - dst) * src_len16) / wide(dst_len));
  src16 += first;
  src_len16 = last - first;
  dst = lo;
  dst_len = hi - lo;
}

}  // namespace

int modeset_output_select(modeset_display_t* display, int width, int height, int refresh) {
  drmModeConnector* conn = display->connector_desc;
  int index = 0;
  if (width || height || refresh) {
    for (int i = 0; i < conn->count_modes; ++i) {
      const drmModeModeInfo& m = conn->modes[i];
      if ((!width || m.hdisplay == width) && (!height || m.vdisplay == height) &&
          (!refresh || m.vrefresh == static_cast<uint32_t>(refresh))) {
        index = i;
        break;
      }
    }
  }
  const int fd = display->owner->fd;
  if (display->mode_blob_id) {
    drmModeDestroyPropertyBlob(fd, display->mode_blob_id);
    display->mode_blob_id = 0;
  }
  std::memcpy(&display->mode, &conn->modes[index], sizeof display->mode);
  display->mode_index = static_cast<uint32_t>(index);
  if (drmModeCreatePropertyBlob(fd, &display->mode, sizeof display->mode, &display->mode_blob_id) != 0) {
    KEL_LOG(true, "[KMFR]E failed to create a blob property\n");
    display->mode_blob_id = 0;
    return -1;
  }
  display->mode_width = display->mode.hdisplay;
  display->mode_height = display->mode.vdisplay;
  display->refresh = display->mode.vrefresh;
  KEL_LOG(KEL_DRM_ON(0), "[KMFR]I connector %u is mode %d %d %ux%u %u\n", conn->connector_id, index,
          display->mode_blob_id, display->mode_width, display->mode_height, display->refresh);
  return 0;
}

int modeset_atomic_prepare_commit(modeset_display_t* display, drmModeAtomicReq* request, buffer_object* primary,
                                  buffer_object* overlay) {
  if (addProperty(request, display->connector, "CRTC_ID", display->crtc.id) != 0) return -1;
  if (addProperty(request, display->crtc, "MODE_ID", display->mode_blob_id) != 0) return -1;
  if (addProperty(request, display->crtc, "ACTIVE", 1) != 0) return -1;
  if (primary && addPlane(request, display, display->plane, primary) != 0) return -1;
  if (overlay && addPlane(request, display, display->overlay_plane, overlay) != 0) return -1;
  auto w = [](const buffer_object* bo) { return bo ? static_cast<int>(bo->width) : 0; };
  auto h = [](const buffer_object* bo) { return bo ? static_cast<int>(bo->height) : 0; };
  const int mw = static_cast<int>(display->mode_width), mh = static_cast<int>(display->mode_height);
  KEL_LOG(KEL_DISPLAY_ON(1),
          "[KMFR]I crtc %d mode %d primary %d %d.%d %dx%d to %d.%d %dx%d overlay %d %d.%d %dx%d to %d.%d %dx%d\n",
          display->crtc.id, display->mode_blob_id, primary ? primary->fb_id : 0, 0, 0, w(primary), h(primary), 0, 0,
          primary ? mw : 0, primary ? mh : 0, overlay ? overlay->fb_id : 0, 0, 0, w(overlay), h(overlay), 0, 0,
          overlay ? mw : 0, overlay ? mh : 0);
  return 0;
}

int modeset_perform_modeset(kelmo_mf_drm_modeset_t* device) {
  std::lock_guard<std::mutex> lock(device->mutex);
  drmModeAtomicReq* request = drmModeAtomicAlloc();
  if (!request) return -1;
  for (modeset_display_t* display : device->displays) {
    if (int ret = modeset_atomic_prepare_commit(display, request, display->bufs[0], display->overlay_bufs[0])) {
      KEL_LOG(true, "[KMFR]E failed to prepare atomic commit: %s\n", strerror(errno));
      drmModeAtomicFree(request);
      return ret;
    }
  }
  int ret = drmModeAtomicCommit(device->fd, request, DRM_MODE_ATOMIC_TEST_ONLY | DRM_MODE_ATOMIC_ALLOW_MODESET, device);
  if (ret != 0) {
    KEL_LOG(true, "[KMFR]E failed to test atomic commit: %s\n", strerror(errno));
    drmModeAtomicFree(request);
    return ret;
  }
  ret = drmModeAtomicCommit(device->fd, request, DRM_MODE_ATOMIC_ALLOW_MODESET | DRM_MODE_PAGE_FLIP_EVENT, device);
  if (ret != 0) {
    KEL_LOG(true, "[KMFR]E failed to do atomic commit: %s\n", strerror(errno));
  } else {
    for (modeset_display_t* display : device->displays) {
      std::lock_guard<std::mutex> display_lock(display->mutex);
      display->flip_pending = true;
    }
  }
  drmModeAtomicFree(request);
  return ret;
}

int modeset_display_set_mode(kelmo_mf_drm_modeset_t* device, modeset_display_t* display, unsigned width,
                             unsigned height, unsigned refresh) {
  KEL_LOG(KEL_DRM_ON(0), "[KMFR]I set crtc %d to %ux%u %u\n", display->crtc.id, width, height, refresh);
  if (device->master) {
    if (int ret = modeset_output_select(display, static_cast<int>(width), static_cast<int>(height),
                                        static_cast<int>(refresh))) {
      KEL_LOG(true, "[KMFR]E fail to set mode for display\n");
      return ret;
    }
    if (int ret = modeset_perform_modeset(device)) {
      KEL_LOG(true, "[KMFR]E failed to mode set\n");
      return ret;
    }
  } else {
    display->mode_width = width;
    display->mode_height = height;
  }
  if (int ret = modeset_display_buffer_destroy(display)) {
    KEL_LOG(true, "[KMFR]E failed to destroy buffer\n");
    return ret;
  }
  int ret = modeset_display_buffer_create(display, width, height);
  if (ret) KEL_LOG(true, "[KMFR]E failed to create buffer\n");
  return ret;
}

int modeset_display_buffer_create(modeset_display_t* display, unsigned width, unsigned height) {
  const int fd = display->owner->fd;
  const unsigned w = std::min(width, display->mode_width), h = std::min(height, display->mode_height);
  for (int ring = 0; ring < 2; ++ring) {
    buffer_object** slots = ring == 0 ? display->bufs : display->overlay_bufs;
    const uint32_t format = ring == 0 ? DRM_FORMAT_NV12 : DRM_FORMAT_ARGB8888;
    for (int i = 0; i < kModesetRingSize; ++i) {
      buffer_object* bo = bo_create(fd, format, w, h);
      if (!bo) {
        KEL_LOG(true, "[KMFR]E failed to create buffer object\n");
        KEL_LOG(true, "[KMFR]E failed to create framebuffers for connector %u\n", display->connector.id);
        return -1;
      }
      if (drmModeAddFB2(fd, static_cast<uint32_t>(bo->width), static_cast<uint32_t>(bo->height), format, bo->handles,
                        bo->pitches, bo->offsets, &bo->fb_id, 0) != 0) {
        KEL_LOG(true, "[KMFR]E failed to add framebuffer: %s\n", strerror(errno));
        bo_destroy(bo);
        KEL_LOG(true, "[KMFR]E failed to create framebuffers for connector %u\n", display->connector.id);
        return -1;
      }
      int prime_fd = -1;
      if (drmPrimeHandleToFD(fd, bo->handle, DRM_CLOEXEC, &prime_fd) == 0) bo->dmabuf_fd = prime_fd;
      for (int p = 0; p < 4; ++p) {
        KEL_LOG(KEL_BUFFER_ON(0), "[KMFR]I bo %d %p dma %d fb %d bpp %d size %d %dx%d %d %d %d\n", p,
                static_cast<void*>(bo), bo->dmabuf_fd, bo->fb_id, bo->bpp, static_cast<int>(bo->size),
                static_cast<int>(bo->width), static_cast<int>(bo->height), bo->handles[p], bo->pitches[p],
                bo->offsets[p]);
      }
      clearBuffer(bo);
      KEL_LOG(KEL_BUFFER_ON(0), "[KMFR]I %d %dx%d %p fb_id:%d\n", ring, static_cast<int>(bo->width),
              static_cast<int>(bo->height), static_cast<void*>(bo->map), bo->fb_id);
      slots[i] = bo;
    }
  }
  return 0;
}

int modeset_display_buffer_destroy(modeset_display_t* display) {
  for (int i = 0; i < kModesetRingSize; ++i) {
    for (buffer_object** slot : {&display->bufs[i], &display->overlay_bufs[i]}) {
      buffer_object* bo = *slot;
      if (!bo) continue;
      if (bo->fb_id && drmModeRmFB(display->owner->fd, bo->fb_id) != 0) {
        KEL_LOG(true, "[KMFR]E failed to delete fb: %s\n", strerror(errno));
      }
      bo_destroy(bo);
      *slot = nullptr;
    }
  }
  return 0;
}

int modeset_display_get_next_buf(modeset_display_t* display, buffer_object** primary, buffer_object** overlay) {
  display->ring_pos = (display->ring_pos + 1) % kModesetRingSize;
  *primary = display->bufs[display->ring_pos];
  *overlay = display->overlay_bufs[display->ring_pos];
  return 0;
}

int modeset_display_flip(modeset_display_t* display, buffer_object* primary, buffer_object* overlay) {
  std::unique_lock<std::mutex> lock(display->mutex);
  display->cond.wait(lock, [display] { return display->flip_done || !display->running; });
  if (!display->running) return stoppedPause(lock);

  drmModeAtomicReq* request = drmModeAtomicAlloc();
  int ret = request ? modeset_atomic_prepare_commit(display, request, primary, overlay) : -1;
  if (ret != 0) {
    KEL_LOG(true, "[KMFR]E prepare atomic commit failed: %s\n", strerror(errno));
  } else {
    ret = drmModeAtomicCommit(display->owner->fd, request, DRM_MODE_ATOMIC_NONBLOCK | DRM_MODE_PAGE_FLIP_EVENT,
                              display->owner);
    if (ret != 0 && !accessRefused(display)) KEL_LOG(true, "[KMFR]E atomic commit failed: %s\n", strerror(errno));
  }
  if (request) drmModeAtomicFree(request);
  if (ret == 0) {
    display->flip_done = false;
    display->flip_pending = true;
    return 0;
  }
  KEL_LOG(KEL_DISPLAY_ON(1), "[KMFR]I %d %d bo %d %d failed to page flip: %s\n", display->crtc.id,
          display->connector.id, primary ? primary->fb_id : 0, overlay ? overlay->fb_id : 0, strerror(errno));
  // The failure is reported: the buffers were not shown, so the caller must not count on them.
  lock.unlock();
  std::this_thread::sleep_for(kStoppedPause);
  return ret < 0 ? ret : -1;
}

int modeset_display_set_plane(modeset_display_t* display, buffer_object* buffer) {
  const uint32_t w = buffer ? static_cast<uint32_t>(buffer->width) : 0;
  const uint32_t h = buffer ? static_cast<uint32_t>(buffer->height) : 0;
  return setPlane(display, display->plane, buffer, 0, 0, w << 16, h << 16, 0, 0, display->mode_width,
                  display->mode_height);
}

// The destination position is signed (a window may start left of or above the display);
// it comes in two's complement.
int modeset_display_set_overlay_plane(modeset_display_t* display, buffer_object* buffer, unsigned long src_x,
                                      unsigned long src_y, unsigned long src_w, unsigned long src_h,
                                      unsigned long dst_x, unsigned long dst_y, unsigned long dst_w,
                                      unsigned long dst_h) {
  int64_t dx = static_cast<int64_t>(dst_x), dy = static_cast<int64_t>(dst_y);
  int64_t dw = static_cast<int64_t>(std::min<unsigned long>(dst_w, INT32_MAX));
  int64_t dh = static_cast<int64_t>(std::min<unsigned long>(dst_h, INT32_MAX));
  const auto fixed = [](unsigned long v) { return static_cast<uint64_t>(std::min<unsigned long>(v, 0xffff)) << 16; };
  uint64_t sx = fixed(src_x), sy = fixed(src_y), sw = fixed(src_w), sh = fixed(src_h);
  clipAxis(dx, dw, sx, sw, display->mode_width);
  clipAxis(dy, dh, sy, sh, display->mode_height);
  return setPlane(display, display->overlay_plane, buffer, static_cast<uint32_t>(sx), static_cast<uint32_t>(sy),
                  static_cast<uint32_t>(sw), static_cast<uint32_t>(sh), static_cast<int32_t>(dx),
                  static_cast<int32_t>(dy), static_cast<uint32_t>(dw), static_cast<uint32_t>(dh));
}

int modeset_display_start(modeset_display_t* display) {
  std::lock_guard<std::mutex> lock(display->mutex);
  KEL_LOG(KEL_DISPLAY_ON(6), "[KMFR]I %s %d %d start running\n", display->name.c_str(), display->crtc.id,
          display->connector.id);
  display->running = true;
  display->cond.notify_all();
  return 0;
}

int modeset_display_stop(modeset_display_t* display) {
  std::lock_guard<std::mutex> lock(display->mutex);
  KEL_LOG(KEL_DISPLAY_ON(6), "[KMFR]I %s %d %d stop running\n", display->name.c_str(), display->crtc.id,
          display->connector.id);
  display->running = false;
  display->cond.notify_all();
  return 0;
}

int modeset_display_wait_next_vblank(modeset_display_t* display) {
  drmVBlank vbl{};
  // On this display's own CRTC (the high-CRTC field carries its index), and the result told.
  vbl.request.type = static_cast<drmVBlankSeqType>(
      DRM_VBLANK_NEXTONMISS | ((display->crtc_index << DRM_VBLANK_HIGH_CRTC_SHIFT) & DRM_VBLANK_HIGH_CRTC_MASK));
  vbl.request.sequence = 1;
  return drmWaitVBlank(display->owner->fd, &vbl);
}
