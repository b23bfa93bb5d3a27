// The virtual KMS device, driven through the real libdrm as the KMS layer drives a card.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include <drm_fourcc.h>
#include <gtest/gtest.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

#include "vkms.h"

namespace {

class VkmsTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vkms-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    if (fd_ >= 0) close(fd_);
    device_.reset();
    std::filesystem::remove_all(dir_);
  }

  void start(vkms::Spec spec = {}) {
    device_ = std::make_unique<vkms::Device>(dir_ + "/card0", spec);
    fd_ = open(device_->path().c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd_, 0);
  }

  void caps() {
    ASSERT_EQ(drmSetClientCap(fd_, DRM_CLIENT_CAP_UNIVERSAL_PLANES, 1), 0);
    ASSERT_EQ(drmSetClientCap(fd_, DRM_CLIENT_CAP_ATOMIC, 1), 0);
  }

  // Property id by name on an object.
  uint32_t prop(uint32_t object, uint32_t type, const char* name) {
    drmModeObjectProperties* props = drmModeObjectGetProperties(fd_, object, type);
    EXPECT_NE(props, nullptr);
    uint32_t id = 0;
    for (uint32_t i = 0; props && i < props->count_props; ++i) {
      drmModePropertyRes* p = drmModeGetProperty(fd_, props->props[i]);
      if (p && std::strcmp(p->name, name) == 0) id = p->prop_id;
      drmModeFreeProperty(p);
    }
    drmModeFreeObjectProperties(props);
    return id;
  }

  struct Buffer {
    uint32_t handle = 0, pitch = 0, fb = 0;
    uint64_t size = 0;
    uint8_t* map = nullptr;
  };

  Buffer makeBuffer(uint32_t width, uint32_t height, uint32_t format = DRM_FORMAT_ARGB8888, uint32_t bpp = 32) {
    Buffer b;
    drm_mode_create_dumb create{};
    create.width = width;
    create.height = height;
    create.bpp = bpp;
    EXPECT_EQ(drmIoctl(fd_, DRM_IOCTL_MODE_CREATE_DUMB, &create), 0);
    b.handle = create.handle;
    b.pitch = create.pitch;
    b.size = create.size;
    drm_mode_map_dumb map{};
    map.handle = b.handle;
    EXPECT_EQ(drmIoctl(fd_, DRM_IOCTL_MODE_MAP_DUMB, &map), 0);
    void* p = mmap(nullptr, b.size, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, static_cast<off_t>(map.offset));
    EXPECT_NE(p, MAP_FAILED);
    b.map = static_cast<uint8_t*>(p);
    uint32_t handles[4] = {b.handle}, pitches[4] = {b.pitch}, offsets[4] = {0};
    EXPECT_EQ(drmModeAddFB2(fd_, width, height, format, handles, pitches, offsets, &b.fb, 0), 0);
    return b;
  }

  void dropBuffer(Buffer& b) {
    EXPECT_EQ(drmModeRmFB(fd_, b.fb), 0);
    munmap(b.map, b.size);
    drm_mode_destroy_dumb destroy{};
    destroy.handle = b.handle;
    EXPECT_EQ(drmIoctl(fd_, DRM_IOCTL_MODE_DESTROY_DUMB, &destroy), 0);
  }

  uint32_t modeBlob(const drmModeModeInfo& mode) {
    uint32_t blob = 0;
    EXPECT_EQ(drmModeCreatePropertyBlob(fd_, &mode, sizeof mode, &blob), 0);
    return blob;
  }

  drmModeModeInfo firstMode(int connector) {
    drmModeConnector* c = drmModeGetConnector(fd_, device_->connectorId(connector));
    drmModeModeInfo mode = c->modes[0];
    drmModeFreeConnector(c);
    return mode;
  }

  // Lights CRTC 0 for connector 0 with both planes showing the given buffers.
  int lightUp(const Buffer& primary, const Buffer& overlay, uint32_t flags, uint32_t blob) {
    const drmModeModeInfo mode = firstMode(0);
    drmModeAtomicReq* req = drmModeAtomicAlloc();
    const uint32_t conn = device_->connectorId(0), crtc = device_->crtcId(0);
    drmModeAtomicAddProperty(req, conn, prop(conn, DRM_MODE_OBJECT_CONNECTOR, "CRTC_ID"), crtc);
    drmModeAtomicAddProperty(req, crtc, prop(crtc, DRM_MODE_OBJECT_CRTC, "MODE_ID"), blob);
    drmModeAtomicAddProperty(req, crtc, prop(crtc, DRM_MODE_OBJECT_CRTC, "ACTIVE"), 1);
    for (auto [plane, buffer] : {std::pair{device_->planeId(0), &primary}, std::pair{device_->planeId(1), &overlay}}) {
      auto add = [&](const char* name, uint64_t value) {
        drmModeAtomicAddProperty(req, plane, prop(plane, DRM_MODE_OBJECT_PLANE, name), value);
      };
      add("FB_ID", buffer->fb);
      add("CRTC_ID", crtc);
      add("SRC_X", 0);
      add("SRC_Y", 0);
      add("SRC_W", uint64_t(64) << 16);
      add("SRC_H", uint64_t(32) << 16);
      add("CRTC_X", 0);
      add("CRTC_Y", 0);
      add("CRTC_W", mode.hdisplay);
      add("CRTC_H", mode.vdisplay);
    }
    int result = drmModeAtomicCommit(fd_, req, flags, this);
    drmModeAtomicFree(req);
    return result;
  }

  std::string dir_;
  std::unique_ptr<vkms::Device> device_;
  int fd_ = -1;
};

}  // namespace

TEST_F(VkmsTest, ResourcesConnectorsAndPlanes) {
  vkms::Spec spec;
  spec.connectors = {{DRM_MODE_CONNECTOR_HDMIA, true, {{1920, 1080, 60}, {1280, 720, 50}}, 0, 0x1},
                     {DRM_MODE_CONNECTOR_DisplayPort, false, {{3840, 2160, 30}}, -1, 0x3},
                     {DRM_MODE_CONNECTOR_HDMIA, true, {{3840, 2160, 30}}, -1, 0}};
  start(spec);
  drmModeRes* res = drmModeGetResources(fd_);
  ASSERT_NE(res, nullptr);
  EXPECT_EQ(res->count_crtcs, 2);
  EXPECT_EQ(res->count_connectors, 3);
  EXPECT_EQ(res->count_encoders, 3);
  EXPECT_EQ(res->crtcs[1], device_->crtcId(1));

  drmModeConnector* hdmi = drmModeGetConnector(fd_, res->connectors[0]);
  ASSERT_NE(hdmi, nullptr);
  EXPECT_EQ(hdmi->connection, DRM_MODE_CONNECTED);
  EXPECT_EQ(hdmi->connector_type, uint32_t(DRM_MODE_CONNECTOR_HDMIA));
  EXPECT_EQ(hdmi->connector_type_id, 1u);
  ASSERT_EQ(hdmi->count_modes, 2);
  EXPECT_EQ(hdmi->modes[1].hdisplay, 1280);
  EXPECT_EQ(hdmi->modes[1].vdisplay, 720);
  EXPECT_EQ(hdmi->modes[1].vrefresh, 50u);
  EXPECT_EQ(hdmi->encoder_id, device_->encoderId(0));  // lit at start on CRTC 0
  drmModeEncoder* encoder = drmModeGetEncoder(fd_, hdmi->encoder_id);
  ASSERT_NE(encoder, nullptr);
  EXPECT_EQ(encoder->crtc_id, device_->crtcId(0));
  EXPECT_EQ(encoder->possible_crtcs, 0x1u);
  drmModeFreeEncoder(encoder);
  drmModeFreeConnector(hdmi);

  drmModeConnector* dp = drmModeGetConnector(fd_, res->connectors[1]);
  EXPECT_EQ(dp->connection, DRM_MODE_DISCONNECTED);
  EXPECT_EQ(dp->count_modes, 0);
  EXPECT_EQ(dp->encoder_id, 0u);
  drmModeFreeConnector(dp);
  drmModeConnector* second = drmModeGetConnector(fd_, res->connectors[2]);
  EXPECT_EQ(second->connector_type_id, 2u);  // the second HDMI
  drmModeFreeConnector(second);
  drmModeFreeResources(res);

  // Primary planes appear only to a client with universal planes.
  drmModePlaneRes* planes = drmModeGetPlaneResources(fd_);
  EXPECT_EQ(planes->count_planes, 2u);
  drmModeFreePlaneResources(planes);
  caps();
  planes = drmModeGetPlaneResources(fd_);
  ASSERT_EQ(planes->count_planes, 4u);
  std::vector<uint64_t> types;
  for (uint32_t i = 0; i < planes->count_planes; ++i) {
    drmModePlane* plane = drmModeGetPlane(fd_, planes->planes[i]);
    EXPECT_EQ(plane->possible_crtcs, 1u << (i / 2));
    drmModeFreePlane(plane);
    drmModeObjectProperties* props = drmModeObjectGetProperties(fd_, planes->planes[i], DRM_MODE_OBJECT_PLANE);
    for (uint32_t k = 0; k < props->count_props; ++k) {
      drmModePropertyRes* p = drmModeGetProperty(fd_, props->props[k]);
      if (std::strcmp(p->name, "type") == 0) {
        types.push_back(props->prop_values[k]);
        ASSERT_EQ(p->count_enums, 3);
        EXPECT_STREQ(p->enums[1].name, "Primary");
      }
      drmModeFreeProperty(p);
    }
    drmModeFreeObjectProperties(props);
  }
  drmModeFreePlaneResources(planes);
  EXPECT_EQ(types, (std::vector<uint64_t>{DRM_PLANE_TYPE_PRIMARY, DRM_PLANE_TYPE_OVERLAY, DRM_PLANE_TYPE_PRIMARY,
                                          DRM_PLANE_TYPE_OVERLAY}));
  EXPECT_EQ(drmModeObjectGetProperties(fd_, device_->crtcId(0), DRM_MODE_OBJECT_PLANE), nullptr);  // wrong type
}

TEST_F(VkmsTest, Capabilities) {
  struct Case {
    bool dumb, vblank_crtc, universal, atomic;
  };
  for (Case c : {Case{true, true, true, true}, Case{false, true, true, true}, Case{true, false, true, true},
                 Case{true, true, false, true}, Case{true, true, true, false}}) {
    vkms::Spec spec;
    spec.dumb_buffers = c.dumb;
    spec.crtc_in_vblank_event = c.vblank_crtc;
    spec.universal_planes = c.universal;
    spec.atomic = c.atomic;
    if (fd_ >= 0) close(fd_);
    device_.reset();
    start(spec);
    uint64_t value = 99;
    ASSERT_EQ(drmGetCap(fd_, DRM_CAP_DUMB_BUFFER, &value), 0);
    EXPECT_EQ(value, c.dumb);
    ASSERT_EQ(drmGetCap(fd_, DRM_CAP_CRTC_IN_VBLANK_EVENT, &value), 0);
    EXPECT_EQ(value, c.vblank_crtc);
    EXPECT_EQ(drmSetClientCap(fd_, DRM_CLIENT_CAP_UNIVERSAL_PLANES, 1) == 0, c.universal);
    EXPECT_EQ(drmSetClientCap(fd_, DRM_CLIENT_CAP_ATOMIC, 1) == 0, c.atomic);
  }
}

TEST_F(VkmsTest, DumbBuffersShowTheirPixelsAndAreCounted) {
  start();
  caps();
  Buffer b = makeBuffer(64, 32);
  EXPECT_EQ(b.pitch, 256u);
  for (uint32_t y = 0; y < 32; ++y) {
    for (uint32_t x = 0; x < 64; ++x) {
      const uint32_t value = y * 64 + x;
      std::memcpy(b.map + y * b.pitch + x * 4, &value, 4);
    }
  }
  drm_prime_handle prime{};
  prime.handle = b.handle;
  prime.flags = DRM_CLOEXEC;
  ASSERT_EQ(drmIoctl(fd_, DRM_IOCTL_PRIME_HANDLE_TO_FD, &prime), 0);
  EXPECT_EQ(device_->census().exported_fds_open, 1u);

  std::optional<vkms::Framebuffer> fb = device_->framebuffer(b.fb);
  ASSERT_TRUE(fb);
  EXPECT_EQ(fb->width, 64u);
  EXPECT_EQ(fb->format, uint32_t(DRM_FORMAT_ARGB8888));
  EXPECT_EQ(fb->pitches[0], 256u);
  uint32_t pixel = 0;
  std::memcpy(&pixel, fb->bytes.data() + 5 * 256 + 7 * 4, 4);
  EXPECT_EQ(pixel, 5u * 64 + 7);

  vkms::Census census = device_->census();
  EXPECT_EQ(census.dumb_buffers, 1u);
  EXPECT_EQ(census.framebuffers, 1u);
  dropBuffer(b);
  close(prime.fd);
  census = device_->census();
  EXPECT_EQ(census.dumb_buffers, 0u);
  EXPECT_EQ(census.framebuffers, 0u);
  EXPECT_EQ(census.exported_fds_open, 0u);

  // A map at an offset nobody handed out fails.
  EXPECT_EQ(mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd_, off_t(77) << 32), MAP_FAILED);
}

TEST_F(VkmsTest, AtomicModesetFlipAndEvent) {
  start();
  caps();
  Buffer primary = makeBuffer(64, 32, DRM_FORMAT_NV12, 8), overlay = makeBuffer(64, 32);
  const uint32_t blob = modeBlob(firstMode(0));

  // The checks of a commit, each with the kernel's answer.
  EXPECT_EQ(lightUp(primary, overlay, DRM_MODE_PAGE_FLIP_EVENT, blob), -EINVAL);  // a modeset needs permission
  EXPECT_EQ(lightUp(primary, overlay, DRM_MODE_ATOMIC_ALLOW_MODESET, 0), -EINVAL);  // lit without a mode
  EXPECT_EQ(lightUp(primary, overlay, DRM_MODE_ATOMIC_ALLOW_MODESET, 12345), -ENOENT);  // no such blob
  EXPECT_EQ(lightUp(primary, overlay, DRM_MODE_ATOMIC_TEST_ONLY | DRM_MODE_PAGE_FLIP_EVENT, blob), -EINVAL);
  device_->failTestCommits(1, EINVAL);
  EXPECT_EQ(lightUp(primary, overlay, DRM_MODE_ATOMIC_TEST_ONLY | DRM_MODE_ATOMIC_ALLOW_MODESET, blob), -EINVAL);
  EXPECT_EQ(device_->commits(), 0u);

  EXPECT_EQ(lightUp(primary, overlay, DRM_MODE_ATOMIC_TEST_ONLY | DRM_MODE_ATOMIC_ALLOW_MODESET, blob), 0);
  EXPECT_EQ(device_->testCommits(), 1u);
  EXPECT_EQ(device_->commits(), 0u);
  EXPECT_EQ(lightUp(primary, overlay, DRM_MODE_ATOMIC_ALLOW_MODESET | DRM_MODE_PAGE_FLIP_EVENT, blob), 0);
  EXPECT_EQ(device_->commits(), 1u);

  const uint32_t crtc = device_->crtcId(0);
  vkms::CrtcState state = device_->crtc(crtc);
  EXPECT_TRUE(state.active);
  EXPECT_EQ(state.mode_blob, blob);
  EXPECT_TRUE(state.flip_pending);
  EXPECT_EQ(device_->connectorCrtc(device_->connectorId(0)), crtc);
  vkms::PlaneState shown = device_->plane(device_->planeId(1));
  EXPECT_EQ(shown.fb_id, overlay.fb);
  EXPECT_EQ(shown.src_w, uint64_t(64) << 16);
  EXPECT_EQ(shown.crtc_w, 1920u);

  // A second flip while the first is pending.
  EXPECT_EQ(lightUp(primary, overlay, DRM_MODE_ATOMIC_NONBLOCK | DRM_MODE_PAGE_FLIP_EVENT, blob), -EBUSY);

  // The vertical blank completes it; libdrm reads the event with the CRTC.
  pollfd p{fd_, POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 0), 0);
  device_->vblank();
  ASSERT_EQ(poll(&p, 1, 1000), 1);
  struct Seen {
    int count = 0;
    unsigned crtc = 0;
    void* data = nullptr;
  } seen;
  static Seen* current;
  current = &seen;
  drmEventContext events{};
  events.version = 3;
  events.page_flip_handler2 = [](int, unsigned, unsigned, unsigned, unsigned crtc_id, void* data) {
    ++current->count;
    current->crtc = crtc_id;
    current->data = data;
  };
  ASSERT_EQ(drmHandleEvent(fd_, &events), 0);
  EXPECT_EQ(seen.count, 1);
  EXPECT_EQ(seen.crtc, crtc);
  EXPECT_EQ(seen.data, this);
  EXPECT_FALSE(device_->crtc(crtc).flip_pending);
  EXPECT_EQ(device_->crtc(crtc).flips_completed, 1u);

  // Faults on demand give their error.
  device_->failCommits(1, EIO);
  EXPECT_EQ(lightUp(primary, overlay, DRM_MODE_ATOMIC_NONBLOCK | DRM_MODE_PAGE_FLIP_EVENT, blob), -EIO);
  EXPECT_EQ(lightUp(primary, overlay, DRM_MODE_ATOMIC_NONBLOCK | DRM_MODE_PAGE_FLIP_EVENT, blob), 0);
  dropBuffer(primary);
  EXPECT_EQ(device_->plane(device_->planeId(0)).fb_id, 0u);  // removing a shown framebuffer darkens its plane
  dropBuffer(overlay);
  EXPECT_EQ(drmModeDestroyPropertyBlob(fd_, blob), 0);
  EXPECT_EQ(drmModeDestroyPropertyBlob(fd_, blob), -ENOENT);
}

TEST_F(VkmsTest, LegacyPlaneSetShowsTheBuffer) {
  start();  // connector 0 is not lit: light it through a commit first
  caps();
  Buffer primary = makeBuffer(64, 32, DRM_FORMAT_NV12, 8), overlay = makeBuffer(64, 32);
  ASSERT_EQ(lightUp(primary, overlay, DRM_MODE_ATOMIC_ALLOW_MODESET, modeBlob(firstMode(0))), 0);
  Buffer picture = makeBuffer(64, 32);
  std::memset(picture.map, 0xab, picture.size);
  const uint32_t plane = device_->planeId(1), crtc = device_->crtcId(0);
  ASSERT_EQ(drmModeSetPlane(fd_, plane, crtc, picture.fb, 0, 100, 50, 120, 60, 0, 0, 64 << 16, 32 << 16), 0);
  vkms::PlaneState s = device_->plane(plane);
  EXPECT_EQ(s.fb_id, picture.fb);
  EXPECT_EQ(s.crtc_x, 100);
  EXPECT_EQ(s.crtc_w, 120u);
  EXPECT_EQ(device_->framebuffer(s.fb_id)->bytes[100], 0xab);

  EXPECT_EQ(drmModeSetPlane(fd_, plane, crtc, picture.fb, 0, 0, 0, 64, 32, 0, 0, 65 << 16, 32 << 16), -ENOSPC);
  EXPECT_EQ(drmModeSetPlane(fd_, plane, device_->crtcId(1), picture.fb, 0, 0, 0, 64, 32, 0, 0, 64 << 16, 32 << 16),
            -EINVAL);  // the plane cannot reach CRTC 1
  device_->failSetPlane(1, EACCES);
  EXPECT_EQ(drmModeSetPlane(fd_, plane, crtc, picture.fb, 0, 0, 0, 64, 32, 0, 0, 64 << 16, 32 << 16), -EACCES);
  EXPECT_EQ(drmModeSetPlane(fd_, plane, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0), 0);
  EXPECT_EQ(device_->plane(plane).fb_id, 0u);
}

TEST_F(VkmsTest, OnlyTheMasterSetsPlanesAndCommits) {
  vkms::Spec spec;
  spec.master_rule = true;
  start(spec);  // fd_ calls in first: it holds master
  caps();
  Buffer primary = makeBuffer(64, 32, DRM_FORMAT_NV12, 8), overlay = makeBuffer(64, 32);
  const uint32_t blob = modeBlob(firstMode(0));
  ASSERT_EQ(lightUp(primary, overlay, DRM_MODE_ATOMIC_ALLOW_MODESET, blob), 0);
  const uint32_t plane = device_->planeId(1), crtc = device_->crtcId(0);
  const uint64_t updates = device_->plane(plane).updates;

  const int other = open(device_->path().c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(drmSetClientCap(other, DRM_CLIENT_CAP_UNIVERSAL_PLANES, 1), 0);
  ASSERT_EQ(drmSetClientCap(other, DRM_CLIENT_CAP_ATOMIC, 1), 0);
  EXPECT_EQ(drmModeSetPlane(other, plane, crtc, overlay.fb, 0, 0, 0, 64, 32, 0, 0, 64 << 16, 32 << 16), -EACCES);
  drmModeAtomicReq* req = drmModeAtomicAlloc();
  ASSERT_NE(req, nullptr);
  drmModeAtomicAddProperty(req, plane, prop(plane, DRM_MODE_OBJECT_PLANE, "FB_ID"), overlay.fb);
  EXPECT_EQ(drmModeAtomicCommit(other, req, DRM_MODE_ATOMIC_TEST_ONLY, nullptr), -EACCES);
  EXPECT_EQ(drmModeAtomicCommit(other, req, 0, nullptr), -EACCES);
  EXPECT_EQ(device_->plane(plane).updates, updates);
  // Queries stay open to every descriptor, and master moves only once dropped.
  drmModeRes* res = drmModeGetResources(other);
  EXPECT_NE(res, nullptr);
  drmModeFreeResources(res);
  EXPECT_EQ(drmSetMaster(other), -1);
  EXPECT_EQ(errno, EBUSY);
  EXPECT_EQ(drmDropMaster(other), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(drmDropMaster(fd_), 0);
  EXPECT_EQ(drmSetMaster(other), 0);
  EXPECT_EQ(drmModeSetPlane(other, plane, crtc, overlay.fb, 0, 0, 0, 64, 32, 0, 0, 64 << 16, 32 << 16), 0);
  EXPECT_EQ(drmModeSetPlane(fd_, plane, crtc, overlay.fb, 0, 0, 0, 64, 32, 0, 0, 64 << 16, 32 << 16), -EACCES);
  // A client elsewhere takes master: nobody here may set planes until it gives it up.
  device_->seizeMaster(true);
  EXPECT_EQ(drmModeSetPlane(other, plane, crtc, overlay.fb, 0, 0, 0, 64, 32, 0, 0, 64 << 16, 32 << 16), -EACCES);
  device_->seizeMaster(false);
  EXPECT_EQ(drmModeSetPlane(fd_, plane, crtc, overlay.fb, 0, 0, 0, 64, 32, 0, 0, 64 << 16, 32 << 16), 0);
  drmModeAtomicFree(req);
  close(other);
}

TEST_F(VkmsTest, VblankWaitNamesItsCrtc) {
  vkms::Spec spec;
  spec.connectors = {{DRM_MODE_CONNECTOR_HDMIA, true, {{1920, 1080, 60}}, 0, 0},
                     {DRM_MODE_CONNECTOR_HDMIA, true, {{1920, 1080, 60}}, 1, 0}};
  start(spec);
  for (int index : {0, 1}) {
    drmVBlank vbl{};
    vbl.request.type = static_cast<drmVBlankSeqType>(DRM_VBLANK_RELATIVE | (index << DRM_VBLANK_HIGH_CRTC_SHIFT));
    vbl.request.sequence = 1;
    const uint32_t before = device_->crtc(device_->crtcId(index)).vblank_sequence;
    ASSERT_EQ(drmWaitVBlank(fd_, &vbl), 0);
    EXPECT_EQ(device_->lastVblankWaitCrtc(), index);
    EXPECT_GT(vbl.reply.sequence, before);
  }
  drmVBlank vbl{};
  vbl.request.type = static_cast<drmVBlankSeqType>(DRM_VBLANK_RELATIVE | (5 << DRM_VBLANK_HIGH_CRTC_SHIFT));
  EXPECT_NE(drmWaitVBlank(fd_, &vbl), 0);  // no CRTC 5
}

TEST_F(VkmsTest, HotPlugAndFaultsOnBuffers) {
  start();
  caps();
  device_->setConnected(0, false);
  drmModeConnector* c = drmModeGetConnector(fd_, device_->connectorId(0));
  EXPECT_EQ(c->connection, DRM_MODE_DISCONNECTED);
  EXPECT_EQ(c->count_modes, 0);
  drmModeFreeConnector(c);

  drm_mode_create_dumb create{};
  create.width = 16;
  create.height = 16;
  create.bpp = 32;
  device_->failCreateDumb(1, ENOMEM);
  EXPECT_EQ(drmIoctl(fd_, DRM_IOCTL_MODE_CREATE_DUMB, &create), -1);
  EXPECT_EQ(errno, ENOMEM);
  ASSERT_EQ(drmIoctl(fd_, DRM_IOCTL_MODE_CREATE_DUMB, &create), 0);
  drm_mode_map_dumb map{};
  map.handle = create.handle;
  device_->failMapDumb(1, EFAULT);
  EXPECT_EQ(drmIoctl(fd_, DRM_IOCTL_MODE_MAP_DUMB, &map), -1);
  uint32_t handles[4] = {create.handle}, pitches[4] = {create.pitch}, offsets[4] = {0}, fb = 0;
  device_->failAddFramebuffer(1, EINVAL);
  EXPECT_NE(drmModeAddFB2(fd_, 16, 16, DRM_FORMAT_ARGB8888, handles, pitches, offsets, &fb, 0), 0);
  handles[0] = 999;
  EXPECT_NE(drmModeAddFB2(fd_, 16, 16, DRM_FORMAT_ARGB8888, handles, pitches, offsets, &fb, 0), 0);
  drm_mode_destroy_dumb destroy{};
  destroy.handle = create.handle;
  EXPECT_EQ(drmIoctl(fd_, DRM_IOCTL_MODE_DESTROY_DUMB, &destroy), 0);
  EXPECT_EQ(drmIoctl(fd_, DRM_IOCTL_MODE_DESTROY_DUMB, &destroy), -1);
  EXPECT_EQ(errno, ENOENT);
}

TEST_F(VkmsTest, OtherDescriptorsReachTheKernel) {
  start();
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  ASSERT_EQ(write(pipe_fds[1], "abc", 3), 3);
  int waiting = 0;
  ASSERT_EQ(ioctl(pipe_fds[0], FIONREAD, &waiting), 0);
  EXPECT_EQ(waiting, 3);
  close(pipe_fds[0]);
  close(pipe_fds[1]);
  void* anon = mmap(nullptr, 8192, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(anon, MAP_FAILED);
  static_cast<char*>(anon)[8191] = 1;
  munmap(anon, 8192);
  // A DRM request on a descriptor that is not the device: the kernel refuses it.
  int null_fd = open("/dev/null", O_RDWR);
  uint64_t value = 0;
  EXPECT_NE(drmGetCap(null_fd, DRM_CAP_DUMB_BUFFER, &value), 0);
  close(null_fd);
}

TEST_F(VkmsTest, EventThreadAgainstAFlippingCaller) {
  vkms::Spec spec;
  spec.vblank_interval_us = 2000;
  start(spec);
  caps();
  Buffer primary = makeBuffer(64, 32, DRM_FORMAT_NV12, 8), overlay = makeBuffer(64, 32);
  const uint32_t blob = modeBlob(firstMode(0));
  ASSERT_EQ(lightUp(primary, overlay, DRM_MODE_ATOMIC_ALLOW_MODESET | DRM_MODE_PAGE_FLIP_EVENT, blob), 0);

  static std::atomic<int> flips;
  flips = 0;
  std::atomic<bool> stop{false};
  std::thread events([&] {
    drmEventContext context{};
    context.version = 3;
    context.page_flip_handler2 = [](int, unsigned, unsigned, unsigned, unsigned, void*) { ++flips; };
    while (!stop) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 20) == 1) drmHandleEvent(fd_, &context);
    }
  });
  int committed = 1;
  while (committed < 30) {
    int seen = flips;
    if (seen < committed) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      continue;
    }
    ASSERT_EQ(lightUp(primary, overlay, DRM_MODE_ATOMIC_NONBLOCK | DRM_MODE_PAGE_FLIP_EVENT, blob), 0);
    ++committed;
  }
  while (flips < committed) std::this_thread::sleep_for(std::chrono::microseconds(200));
  stop = true;
  events.join();
  EXPECT_EQ(flips, 30);
  EXPECT_EQ(device_->crtc(device_->crtcId(0)).flips_completed, 30u);
  dropBuffer(primary);
  dropBuffer(overlay);
}
