// A virtual KMS device for tests: a node in the file system that libdrm talks to as if it
// were a DRM card. The library answers the DRM ioctls and maps dumb buffers for the
// descriptors opened on that node; every other descriptor reaches the kernel unchanged.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <xf86drmMode.h>

namespace vkms {

struct Mode {
  uint32_t width = 1920;
  uint32_t height = 1080;
  uint32_t refresh = 60;
  bool preferred = false;
};

struct Connector {
  uint32_t type = DRM_MODE_CONNECTOR_HDMIA;
  bool connected = true;
  std::vector<Mode> modes{Mode{}};
  int current_crtc = -1;        // CRTC index its encoder drives now; -1: no current encoder
  uint32_t possible_crtcs = 0;  // mask of CRTC indices its encoder can drive; 0: all
};

struct Plane {
  uint32_t type = DRM_PLANE_TYPE_PRIMARY;  // DRM_PLANE_TYPE_OVERLAY, _PRIMARY, _CURSOR
  uint32_t possible_crtcs = 1;
  bool has_type = true;                    // false: no "type" property
};

struct Spec {
  std::vector<Connector> connectors{Connector{}};
  int crtcs = 2;
  // Empty: a primary and an overlay plane for each CRTC, in that order.
  std::vector<Plane> planes;
  // Device capabilities.
  bool dumb_buffers = true;
  bool crtc_in_vblank_event = true;
  bool prime = true;
  // Client capabilities the device accepts.
  bool universal_planes = true;
  bool atomic = true;
  // The master rule: the first descriptor that calls in becomes the device's master (as the
  // first opener of a card does) until it drops it (DROP_MASTER); SETPLANE and ATOMIC on any
  // other descriptor give EACCES, as the kernel answers a client beside a running X server.
  // Off: every descriptor may set planes and commit.
  bool master_rule = false;
  // Vertical blanks: 0 means they happen only when a caller waits for one
  // (DRM_IOCTL_WAIT_VBLANK) or the test calls vblank(); otherwise every this many µs.
  uint32_t vblank_interval_us = 0;
};

struct PlaneState {
  uint32_t crtc_id = 0;
  uint32_t fb_id = 0;
  int64_t crtc_x = 0, crtc_y = 0;
  uint64_t crtc_w = 0, crtc_h = 0;
  uint64_t src_x = 0, src_y = 0, src_w = 0, src_h = 0;  // 16.16 fixed point
  uint64_t updates = 0;                                  // commits and plane sets that changed it
};

struct CrtcState {
  bool active = false;
  uint32_t mode_blob = 0;
  std::optional<drmModeModeInfo> mode;  // the blob's mode while active
  bool flip_pending = false;
  uint32_t vblank_sequence = 0;
  uint64_t flips_completed = 0;
};

struct Framebuffer {
  uint32_t width = 0, height = 0, format = 0;
  uint32_t handles[4] = {}, pitches[4] = {}, offsets[4] = {};
  std::vector<uint8_t> bytes;  // the dumb buffer behind handles[0], as it is now
};

// Counts of what is alive on the device, to see leaks.
struct Census {
  size_t dumb_buffers = 0;
  size_t framebuffers = 0;
  size_t blobs = 0;
  size_t exported_fds_open = 0;  // PRIME descriptors handed out and not yet closed
};

#if defined(__GNUC__)
#define VKMS_API __attribute__((visibility("default")))
#else
#define VKMS_API
#endif

class VKMS_API Device {
 public:
  // Makes the node at path (its folder must exist) and serves it until destroyed.
  Device(const std::string& path, Spec spec);
  ~Device();
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  const std::string& path() const;

  uint32_t connectorId(int index) const;
  uint32_t encoderId(int index) const;
  uint32_t crtcId(int index) const;
  uint32_t planeId(int index) const;

  PlaneState plane(uint32_t plane_id) const;
  CrtcState crtc(uint32_t crtc_id) const;
  uint32_t connectorCrtc(uint32_t connector_id) const;  // CRTC_ID of the connector
  std::optional<Framebuffer> framebuffer(uint32_t fb_id) const;
  Census census() const;
  uint64_t commits() const;       // applied atomic commits
  uint64_t testCommits() const;   // TEST_ONLY commits that passed
  int lastVblankWaitCrtc() const; // CRTC index of the last DRM_IOCTL_WAIT_VBLANK; -1: none

  // A vertical blank on every active CRTC: completes pending flips with their events.
  void vblank();

  // Faults on demand: the next `count` calls of that kind fail with error (an errno).
  void failCommits(int count, int error);      // atomic commits without TEST_ONLY
  void failTestCommits(int count, int error);  // TEST_ONLY commits
  void failSetPlane(int count, int error);
  void failCreateDumb(int count, int error);
  void failMapDumb(int count, int error);
  void failAddFramebuffer(int count, int error);
  void failPrimeExport(int count, int error);
  // Hot-plug: the connector's state as the next GETCONNECTOR reports it.
  void setConnected(int index, bool connected);
  // Under the master rule: a client outside the process (an X server) takes master, so
  // every descriptor here is refused; false gives it up again (the next caller takes it).
  void seizeMaster(bool seized);

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace vkms
