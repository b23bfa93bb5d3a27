// The KMS layer: the DRM device, its displays (connector, CRTC, primary and overlay
// plane), atomic modesets, page flips, plane sets and the CPU-mapped dumb buffers the
// window workers draw into. Results are 0 on success and negative on failure: -1 in
// general, -95 for a missing device capability, or the negative result of libdrm.
//
// Lock order: the device mutex, then a display mutex. Flips and plane sets take only the
// display mutex; modeset_event releases the device mutex before it dispatches, since the
// page-flip handler takes it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <xf86drm.h>
#include <xf86drmMode.h>

constexpr int kModesetRingSize = 6;

struct drm_object {
  drmModeObjectProperties* props = nullptr;
  drmModePropertyRes** props_info = nullptr;
  uint32_t id = 0;
};

struct buffer_object {
  int fd = -1;
  uint64_t width = 0;
  uint64_t height = 0;
  uint64_t vheight = 0;  // rows asked of the kernel
  uint32_t bpp = 0;
  uint32_t format = 0;
  uint32_t pitch = 0;
  uint64_t size = 0;
  uint32_t handles[4] = {};
  uint32_t pitches[4] = {};
  uint32_t offsets[4] = {};
  uint32_t handle = 0;
  int32_t dmabuf_fd = 0;  // 0 when the export failed
  uint8_t* map = nullptr;
  uint32_t fb_id = 0;
};

struct kelmo_mf_drm_modeset_t;

struct modeset_display_t {
  kelmo_mf_drm_modeset_t* owner = nullptr;
  bool enabled = false;  // the compositor's
  int32_t x = 0, y = 0, width = 0, height = 0;  // place on the common desktop
  uint32_t mode_width = 0, mode_height = 0, refresh = 0;
  drm_object connector, crtc, plane, overlay_plane;
  drmModeModeInfo mode{};
  drmModeConnector* connector_desc = nullptr;
  std::string name;
  uint32_t mode_index = 0;
  uint32_t mode_blob_id = 0;
  uint32_t crtc_index = 0;
  uint32_t ring_pos = 0;
  buffer_object* bufs[kModesetRingSize] = {};          // primary ring, NV12
  buffer_object* overlay_bufs[kModesetRingSize] = {};  // overlay ring, AR24
  uint32_t flip_sequence = 0, flip_sec = 0, flip_usec = 0;
  std::mutex mutex;  // guards the flags and the plane-set state
  std::condition_variable cond;
  bool running = false;
  bool flip_done = false;
  bool flip_pending = false;
  int32_t last_dst_w = 0, last_dst_h = 0;
  int32_t settle = 0;
  uint32_t overlay_fb = 0;  // framebuffer the overlay plane shows since the last plane set that reached it
  bool access_refused = false;  // a plane set or commit was refused for want of master (logged once)
};

struct kelmo_mf_drm_modeset_t {
  bool master = false;
  int fd = -1;
  drmEventContext ev{};
  std::mutex mutex;  // guards the display list
  std::vector<modeset_display_t*> displays;
};

int modeset_open(kelmo_mf_drm_modeset_t** out, bool master);
int modeset_close(kelmo_mf_drm_modeset_t* device);
int modeset_get_display_info(kelmo_mf_drm_modeset_t* device);
int modeset_get_display_number(kelmo_mf_drm_modeset_t* device, int* n);
int modeset_get_display(kelmo_mf_drm_modeset_t* device, int index, modeset_display_t** out);
int modeset_perform_modeset(kelmo_mf_drm_modeset_t* device);
int modeset_event(kelmo_mf_drm_modeset_t* device);

int modeset_output_select(modeset_display_t* display, int width, int height, int refresh);
int modeset_display_set_mode(kelmo_mf_drm_modeset_t* device, modeset_display_t* display, unsigned width,
                             unsigned height, unsigned refresh);
int modeset_display_buffer_create(modeset_display_t* display, unsigned width, unsigned height);
int modeset_display_buffer_destroy(modeset_display_t* display);
int modeset_display_get_next_buf(modeset_display_t* display, buffer_object** primary, buffer_object** overlay);
int modeset_display_flip(modeset_display_t* display, buffer_object* primary, buffer_object* overlay);
int modeset_display_set_plane(modeset_display_t* display, buffer_object* buffer);
int modeset_display_set_overlay_plane(modeset_display_t* display, buffer_object* buffer, unsigned long src_x,
                                      unsigned long src_y, unsigned long src_w, unsigned long src_h,
                                      unsigned long dst_x, unsigned long dst_y, unsigned long dst_w,
                                      unsigned long dst_h);
int modeset_display_start(modeset_display_t* display);
int modeset_display_stop(modeset_display_t* display);
int modeset_display_wait_next_vblank(modeset_display_t* display);

buffer_object* bo_create(int fd, unsigned format, unsigned width, unsigned height);
void bo_destroy(buffer_object* bo);

// Internal, open for tests.
int modeset_get_object_properties(int fd, drm_object* obj, unsigned type);
int modeset_atomic_prepare_commit(modeset_display_t* display, drmModeAtomicReq* request, buffer_object* primary,
                                  buffer_object* overlay);
void modeset_page_flip_handler(int fd, unsigned sequence, unsigned seconds, unsigned microseconds, unsigned crtc_id,
                               void* user_data);
// Connector type name ("HDMI" for both HDMI types; "Unknown" past the table).
const char* modeset_connector_type_name(uint32_t type);
