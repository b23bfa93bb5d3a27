// The KMS layer on the virtual KMS device: discovery, modes, buffers, flips, plane sets.
#include <algorithm>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include <drm_fourcc.h>
#include <gtest/gtest.h>

#include "kms_modeset.h"
#include "vkms.h"

namespace {

class KmsTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kms-layer-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    std::filesystem::create_directories(root_ + "/dev/dri");
    setenv("TARNVIK_ROOT", root_.c_str(), 1);
  }
  void TearDown() override {
    if (kms_) modeset_close(kms_);
    device_.reset();
    unsetenv("TARNVIK_ROOT");
    std::filesystem::remove_all(root_);
  }

  void makeDevice(vkms::Spec spec = twoOutputs()) {
    device_ = std::make_unique<vkms::Device>(root_ + "/dev/dri/card0", spec);
  }

  static vkms::Spec twoOutputs() {
    vkms::Spec spec;
    spec.connectors = {
        // Short modes keep the twelve buffers of each display small; widths are what count.
        {DRM_MODE_CONNECTOR_HDMIA, true, {{1920, 72, 60}, {1280, 40, 50}, {1920, 72, 30}}, 0, 0},
        {DRM_MODE_CONNECTOR_DisplayPort, false, {{3840, 2160, 60}}, -1, 0},
        {DRM_MODE_CONNECTOR_DisplayPort, true, {{640, 36, 60}}, -1, 0},
    };
    return spec;
  }

  modeset_display_t* display(int index) {
    modeset_display_t* d = nullptr;
    EXPECT_EQ(modeset_get_display(kms_, index, &d), 0);
    return d;
  }

  std::string root_;
  std::unique_ptr<vkms::Device> device_;
  kelmo_mf_drm_modeset_t* kms_ = nullptr;
};

}  // namespace

TEST_F(KmsTest, OpenBindsEveryConnectedOutput) {
  makeDevice();
  ASSERT_EQ(modeset_open(&kms_, false), 0);
  int n = 0;
  modeset_get_display_number(kms_, &n);
  ASSERT_EQ(n, 2);
  modeset_display_t* hdmi = display(0);
  modeset_display_t* dp = display(1);
  EXPECT_EQ(hdmi->name, "HDMI-1");
  EXPECT_EQ(dp->name, "DP-2");
  EXPECT_EQ(hdmi->connector.id, device_->connectorId(0));
  EXPECT_EQ(dp->connector.id, device_->connectorId(2));
  // The lit HDMI keeps its CRTC; the other takes the next free one.
  EXPECT_EQ(hdmi->crtc.id, device_->crtcId(0));
  EXPECT_EQ(dp->crtc.id, device_->crtcId(1));
  EXPECT_EQ(dp->crtc_index, 1u);
  EXPECT_EQ(hdmi->plane.id, device_->planeId(0));
  EXPECT_EQ(hdmi->overlay_plane.id, device_->planeId(1));
  EXPECT_EQ(dp->plane.id, device_->planeId(2));
  EXPECT_EQ(dp->overlay_plane.id, device_->planeId(3));
  EXPECT_EQ(hdmi->mode_width, 1920u);
  EXPECT_EQ(dp->mode_height, 36u);
  EXPECT_TRUE(hdmi->running);

  // Twelve dumb buffers per display, cleared to black.
  vkms::Census census = device_->census();
  EXPECT_EQ(census.dumb_buffers, 24u);
  EXPECT_EQ(census.framebuffers, 24u);
  EXPECT_EQ(census.exported_fds_open, 24u);
  for (int i = 0; i < kModesetRingSize; ++i) {
    auto nv12 = device_->framebuffer(dp->bufs[i]->fb_id);
    ASSERT_TRUE(nv12);
    EXPECT_EQ(nv12->format, uint32_t(DRM_FORMAT_NV12));
    EXPECT_EQ(nv12->width, 640u);
    const uint32_t pitch = nv12->pitches[0];
    EXPECT_EQ(nv12->offsets[1], pitch * 36);
    EXPECT_EQ(nv12->bytes[35 * pitch + 639], 0);
    EXPECT_EQ(nv12->bytes[nv12->offsets[1]], 128);
    EXPECT_EQ(nv12->bytes[nv12->offsets[1] + 17 * pitch + 639], 128);
    auto argb = device_->framebuffer(dp->overlay_bufs[i]->fb_id);
    ASSERT_TRUE(argb);
    EXPECT_EQ(argb->format, uint32_t(DRM_FORMAT_ARGB8888));
    for (size_t b = 0; b < size_t(argb->pitches[0]) * 36; b += 97) ASSERT_EQ(argb->bytes[b], 0);
  }

  // Closing returns everything to the device.
  modeset_close(kms_);
  kms_ = nullptr;
  census = device_->census();
  EXPECT_EQ(census.dumb_buffers, 0u);
  EXPECT_EQ(census.framebuffers, 0u);
  EXPECT_EQ(census.exported_fds_open, 0u);
  EXPECT_EQ(census.blobs, 1u);  // the mode the HDMI output was lit with before us
}

TEST_F(KmsTest, OpenFailures) {
  struct Case {
    const char* what;
    void (*change)(vkms::Spec&);
    int expected;  // 1: any negative
  };
  const Case cases[] = {
      {"no dumb buffers", [](vkms::Spec& s) { s.dumb_buffers = false; }, -95},
      {"no CRTC in vblank events", [](vkms::Spec& s) { s.crtc_in_vblank_event = false; }, -95},
      {"no universal planes", [](vkms::Spec& s) { s.universal_planes = false; }, 1},
      {"no atomic", [](vkms::Spec& s) { s.atomic = false; }, 1},
  };
  EXPECT_EQ(modeset_open(&kms_, false), -1);  // no node at all
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    vkms::Spec spec = twoOutputs();
    c.change(spec);
    device_.reset();
    makeDevice(spec);
    kelmo_mf_drm_modeset_t* kms = nullptr;
    const int result = modeset_open(&kms, false);
    if (c.expected == 1) {
      EXPECT_LT(result, 0);
    } else {
      EXPECT_EQ(result, c.expected);
    }
    EXPECT_EQ(kms, nullptr);
  }
}

TEST_F(KmsTest, GetDisplayRejectsIndicesOutside) {
  makeDevice();
  ASSERT_EQ(modeset_open(&kms_, false), 0);
  modeset_display_t* d = nullptr;
  EXPECT_EQ(modeset_get_display(kms_, 2, &d), -1);
  EXPECT_EQ(modeset_get_display(kms_, -1, &d), -1);
  EXPECT_EQ(d, nullptr);
}

TEST_F(KmsTest, ModeChoice) {
  makeDevice();
  ASSERT_EQ(modeset_open(&kms_, false), 0);
  modeset_display_t* hdmi = display(0);
  struct Case {
    int width, height, refresh;
    uint32_t index;
  };
  for (Case c : {Case{0, 0, 0, 0}, Case{1280, 40, 50, 1}, Case{1920, 72, 30, 2}, Case{1920, 0, 0, 0},
                 Case{0, 0, 30, 2}, Case{999, 0, 0, 0}, Case{1280, 40, 60, 0}}) {
    ASSERT_EQ(modeset_output_select(hdmi, c.width, c.height, c.refresh), 0);
    EXPECT_EQ(hdmi->mode_index, c.index) << c.width << "x" << c.height << "@" << c.refresh;
    EXPECT_EQ(hdmi->mode_width, hdmi->connector_desc->modes[c.index].hdisplay);
  }
  // Each choice replaces the display's blob: one per display, and the one the HDMI output
  // was lit with before us.
  EXPECT_EQ(device_->census().blobs, 3u);
}

TEST_F(KmsTest, SharedEncoderCrtcAndPlaneChoice) {
  vkms::Spec spec;
  // Both encoders report CRTC 0; the second can also use CRTC 1.
  spec.connectors = {{DRM_MODE_CONNECTOR_HDMIA, true, {{640, 36, 60}}, 0, 0x1},
                     {DRM_MODE_CONNECTOR_HDMIA, true, {{640, 36, 60}}, 0, 0x3},
                     {DRM_MODE_CONNECTOR_HDMIA, true, {{640, 36, 60}}, -1, 0x1}};
  // CRTC 0: two primaries before its overlay; the primary-and-overlay plane pair of CRTC 1
  // can also serve CRTC 0, so it must not be taken twice.
  spec.planes = {{DRM_PLANE_TYPE_PRIMARY, 0x1, true},
                 {DRM_PLANE_TYPE_PRIMARY, 0x1, true},
                 {DRM_PLANE_TYPE_OVERLAY, 0x1, true},
                 {DRM_PLANE_TYPE_PRIMARY, 0x3, true},
                 {DRM_PLANE_TYPE_OVERLAY, 0x3, true}};
  makeDevice(spec);
  ASSERT_EQ(modeset_open(&kms_, false), 0);
  int n = 0;
  modeset_get_display_number(kms_, &n);
  ASSERT_EQ(n, 2);  // the third finds no free CRTC
  EXPECT_EQ(display(0)->crtc.id, device_->crtcId(0));
  EXPECT_EQ(display(0)->plane.id, device_->planeId(1));  // the later primary
  EXPECT_EQ(display(0)->overlay_plane.id, device_->planeId(2));
  EXPECT_EQ(display(1)->crtc.id, device_->crtcId(1));
  EXPECT_EQ(display(1)->plane.id, device_->planeId(3));
  EXPECT_EQ(display(1)->overlay_plane.id, device_->planeId(4));
  EXPECT_EQ(device_->census().dumb_buffers, 24u);  // nothing of the discarded one is left
}

TEST_F(KmsTest, UnknownConnectorTypeIsNamedSafely) {
  EXPECT_STREQ(modeset_connector_type_name(11), "HDMI");
  EXPECT_STREQ(modeset_connector_type_name(12), "HDMI");
  EXPECT_STREQ(modeset_connector_type_name(18), "WRITEBACK");
  EXPECT_STREQ(modeset_connector_type_name(19), "Unknown");
  EXPECT_STREQ(modeset_connector_type_name(0xffffffffu), "Unknown");
}

TEST_F(KmsTest, MasterModesetFlipsAndRing) {
  makeDevice();
  ASSERT_EQ(modeset_open(&kms_, true), 0);
  EXPECT_EQ(device_->testCommits(), 1u);
  EXPECT_EQ(device_->commits(), 1u);
  modeset_display_t* hdmi = display(0);
  modeset_display_t* dp = display(1);
  EXPECT_TRUE(device_->crtc(dp->crtc.id).active);
  EXPECT_EQ(device_->connectorCrtc(dp->connector.id), dp->crtc.id);
  EXPECT_EQ(device_->plane(dp->plane.id).fb_id, dp->bufs[0]->fb_id);
  EXPECT_EQ(device_->plane(dp->overlay_plane.id).fb_id, dp->overlay_bufs[0]->fb_id);
  EXPECT_TRUE(hdmi->flip_pending);

  device_->vblank();
  EXPECT_EQ(modeset_event(kms_), 1);
  EXPECT_TRUE(hdmi->flip_done);
  EXPECT_FALSE(hdmi->flip_pending);
  EXPECT_EQ(modeset_event(kms_), 0);  // nothing pending

  // The ring: slot 1 first, slot 0 after slot 5.
  std::vector<uint32_t> slots;
  for (int i = 0; i < 7; ++i) {
    buffer_object *primary = nullptr, *overlay = nullptr;
    modeset_display_get_next_buf(hdmi, &primary, &overlay);
    slots.push_back(hdmi->ring_pos);
    ASSERT_EQ(primary, hdmi->bufs[hdmi->ring_pos]);
    ASSERT_EQ(modeset_display_flip(hdmi, primary, overlay), 0);
    EXPECT_EQ(device_->plane(hdmi->overlay_plane.id).fb_id, overlay->fb_id);
    device_->vblank();
    EXPECT_EQ(modeset_event(kms_), 1);
  }
  EXPECT_EQ(slots, (std::vector<uint32_t>{1, 2, 3, 4, 5, 0, 1}));
  EXPECT_EQ(device_->crtc(hdmi->crtc.id).flips_completed, 8u);
}

TEST_F(KmsTest, FailedFlipIsReported) {
  makeDevice();
  ASSERT_EQ(modeset_open(&kms_, true), 0);
  device_->vblank();
  modeset_event(kms_);
  modeset_display_t* hdmi = display(0);
  buffer_object *primary = nullptr, *overlay = nullptr;
  modeset_display_get_next_buf(hdmi, &primary, &overlay);
  const uint32_t shown = device_->plane(hdmi->plane.id).fb_id;
  device_->failCommits(1, EIO);
  EXPECT_EQ(modeset_display_flip(hdmi, primary, overlay), -EIO);
  EXPECT_FALSE(hdmi->flip_pending);
  EXPECT_TRUE(hdmi->flip_done);  // the next flip may go at once
  EXPECT_EQ(device_->plane(hdmi->plane.id).fb_id, shown);
  EXPECT_EQ(modeset_display_flip(hdmi, primary, overlay), 0);
}

TEST_F(KmsTest, TestOnlyFailureStopsTheModeset) {
  makeDevice();
  device_->failTestCommits(1, EINVAL);
  ASSERT_EQ(modeset_open(&kms_, true), 0);  // the open goes on without a lit output
  EXPECT_EQ(device_->commits(), 0u);
  EXPECT_FALSE(display(1)->flip_pending);
  EXPECT_EQ(modeset_perform_modeset(kms_), 0);
  EXPECT_EQ(device_->commits(), 1u);
}

TEST_F(KmsTest, StoppedDisplayFailsFastAndWakesAFlipper) {
  makeDevice();
  ASSERT_EQ(modeset_open(&kms_, true), 0);
  modeset_display_t* hdmi = display(0);
  buffer_object *primary = hdmi->bufs[1], *overlay = hdmi->overlay_bufs[1];
  // The modeset's flip is still pending: this flip waits until the display stops.
  std::atomic<int> result{1};
  std::thread flipper([&] { result = modeset_display_flip(hdmi, primary, overlay); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(result, 1);
  modeset_display_stop(hdmi);
  flipper.join();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(modeset_display_flip(hdmi, primary, overlay), -1);
  EXPECT_EQ(modeset_display_set_plane(hdmi, primary), -1);
  modeset_display_start(hdmi);
  device_->vblank();
  modeset_event(kms_);
  EXPECT_EQ(modeset_display_flip(hdmi, primary, overlay), 0);
}

TEST_F(KmsTest, PlaneSetsSettleAfterASizeChange) {
  vkms::Spec spec = twoOutputs();
  makeDevice(spec);
  ASSERT_EQ(modeset_open(&kms_, false), 0);  // the HDMI output is lit by someone else
  modeset_display_t* hdmi = display(0);
  buffer_object* overlay = hdmi->overlay_bufs[2];
  const uint64_t before = device_->plane(hdmi->overlay_plane.id).updates;
  for (int call = 1; call <= 6; ++call) {
    ASSERT_EQ(modeset_display_set_overlay_plane(hdmi, overlay, 0, 0, 400, 30, 1800, 0, 400, 30), 0);
    EXPECT_EQ(device_->plane(hdmi->overlay_plane.id).updates, before) << call;
  }
  ASSERT_EQ(modeset_display_set_overlay_plane(hdmi, overlay, 0, 0, 400, 30, 1800, 0, 400, 30), 0);
  vkms::PlaneState s = device_->plane(hdmi->overlay_plane.id);
  EXPECT_EQ(s.fb_id, overlay->fb_id);
  EXPECT_EQ(s.crtc_x, 1800);
  EXPECT_EQ(s.crtc_w, 120u);  // cut at the mode's right edge
  EXPECT_EQ(s.src_w, uint64_t(120) << 16);  // and the source with it, at the same scale

  // The overlay shows what was drawn into the buffer.
  for (uint64_t row = 0; row < overlay->height; ++row) {
    std::fill_n(reinterpret_cast<uint32_t*>(overlay->map + row * overlay->pitch), overlay->width, 0xff336699u);
  }
  auto fb = device_->framebuffer(s.fb_id);
  ASSERT_TRUE(fb);
  uint32_t pixel = 0;
  std::memcpy(&pixel, fb->bytes.data() + 20 * fb->pitches[0] + 50 * 4, 4);
  EXPECT_EQ(pixel, 0xff336699u);

  device_->failSetPlane(1, EINVAL);
  EXPECT_EQ(modeset_display_set_overlay_plane(hdmi, overlay, 0, 0, 400, 30, 1800, 0, 400, 30), -1);
}

// An overlay rectangle past an edge of the mode: the destination is cut to the mode and
// the source by the same share, so the visible part keeps the scale of the whole.
TEST_F(KmsTest, OverlayPastAnEdgeKeepsItsScale) {
  struct Case {
    const char* name;
    long sx, sy, sw, sh, dx, dy, dw, dh;  // as asked (the mode is 1920 x 72)
  } cases[] = {
      {"right", 0, 0, 400, 30, 1800, 0, 400, 30},
      {"bottom", 0, 0, 400, 30, 100, 60, 400, 30},
      {"left", 0, 0, 400, 30, -100, 10, 400, 30},
      {"top", 0, 0, 400, 30, 10, -10, 400, 30},
      {"top left, scaled down", 0, 0, 200, 16, -50, -8, 400, 32},
      {"right, scaled by a third", 0, 0, 100, 30, 1770, 0, 300, 30},
      {"inside", 0, 0, 400, 30, 20, 5, 200, 15},
  };
  makeDevice();
  ASSERT_EQ(modeset_open(&kms_, false), 0);
  modeset_display_t* hdmi = display(0);
  buffer_object* overlay = hdmi->overlay_bufs[1];
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Past the settle count of a size change.
    for (int call = 0; call < 7; ++call) {
      ASSERT_EQ(modeset_display_set_overlay_plane(hdmi, overlay, c.sx, c.sy, c.sw, c.sh,
                                                  static_cast<unsigned long>(c.dx), static_cast<unsigned long>(c.dy),
                                                  c.dw, c.dh),
                0);
    }
    const vkms::PlaneState s = device_->plane(hdmi->overlay_plane.id);
    // The visible part of the destination, and where it falls in the source.
    const double left = std::max<double>(c.dx, 0), right = std::min<double>(c.dx + c.dw, 1920);
    const double top = std::max<double>(c.dy, 0), bottom = std::min<double>(c.dy + c.dh, 72);
    const double scaleX = double(c.sw) / c.dw, scaleY = double(c.sh) / c.dh;
    EXPECT_EQ(s.crtc_x, int64_t(left));
    EXPECT_EQ(s.crtc_y, int64_t(top));
    EXPECT_EQ(s.crtc_w, uint64_t(right - left));
    EXPECT_EQ(s.crtc_h, uint64_t(bottom - top));
    EXPECT_NEAR(s.src_x / 65536.0, c.sx + (left - c.dx) * scaleX, 1 / 65536.0);
    EXPECT_NEAR(s.src_y / 65536.0, c.sy + (top - c.dy) * scaleY, 1 / 65536.0);
    EXPECT_NEAR(s.src_w / 65536.0, (right - left) * scaleX, 2 / 65536.0);
    EXPECT_NEAR(s.src_h / 65536.0, (bottom - top) * scaleY, 2 / 65536.0);
  }
}

TEST_F(KmsTest, VblankWaitUsesTheDisplaysCrtc) {
  makeDevice();
  ASSERT_EQ(modeset_open(&kms_, true), 0);
  EXPECT_EQ(modeset_display_wait_next_vblank(display(1)), 0);
  EXPECT_EQ(device_->lastVblankWaitCrtc(), 1);
  EXPECT_EQ(modeset_display_wait_next_vblank(display(0)), 0);
  EXPECT_EQ(device_->lastVblankWaitCrtc(), 0);
}

TEST_F(KmsTest, VblankWaitReportsFailure) {
  makeDevice();
  ASSERT_EQ(modeset_open(&kms_, false), 0);  // CRTC 1 is dark in client mode
  EXPECT_NE(modeset_display_wait_next_vblank(display(1)), 0);
}

TEST_F(KmsTest, ModeChangeRebuildsBuffersWithoutLeaks) {
  makeDevice();
  ASSERT_EQ(modeset_open(&kms_, true), 0);
  device_->vblank();
  modeset_event(kms_);
  modeset_display_t* hdmi = display(0);
  ASSERT_EQ(modeset_display_set_mode(kms_, hdmi, 1280, 40, 50), 0);
  EXPECT_EQ(hdmi->mode_index, 1u);
  EXPECT_EQ(device_->crtc(hdmi->crtc.id).mode->hdisplay, 1280);
  EXPECT_EQ(hdmi->bufs[0]->width, 1280u);
  vkms::Census census = device_->census();
  EXPECT_EQ(census.dumb_buffers, 24u);
  EXPECT_EQ(census.framebuffers, 24u);
  EXPECT_EQ(census.exported_fds_open, 24u);

  // Client mode: only the size changes, no KMS call.
  modeset_close(kms_);
  kms_ = nullptr;
  ASSERT_EQ(modeset_open(&kms_, false), 0);
  const uint64_t commits = device_->commits();
  ASSERT_EQ(modeset_display_set_mode(kms_, display(0), 640, 48, 60), 0);
  EXPECT_EQ(display(0)->mode_width, 640u);
  EXPECT_EQ(display(0)->bufs[5]->height, 48u);
  EXPECT_EQ(device_->commits(), commits);
}

TEST_F(KmsTest, BufferObjects) {
  makeDevice();
  ASSERT_EQ(modeset_open(&kms_, false), 0);
  buffer_object* nv12 = bo_create(kms_->fd, DRM_FORMAT_NV12, 1920, 1080);
  ASSERT_NE(nv12, nullptr);
  EXPECT_EQ(nv12->vheight, 1620u);
  EXPECT_EQ(nv12->bpp, 8u);
  EXPECT_EQ(nv12->offsets[1], nv12->pitch * 1080);
  EXPECT_EQ(nv12->handles[1], nv12->handle);
  EXPECT_GE(nv12->size, uint64_t(nv12->pitch) * 1620);
  buffer_object* yu12 = bo_create(kms_->fd, DRM_FORMAT_YUV420, 64, 32);
  ASSERT_NE(yu12, nullptr);
  EXPECT_EQ(yu12->pitches[1], yu12->pitch / 2);
  EXPECT_EQ(yu12->offsets[2], yu12->pitch * 32 + (yu12->pitch / 2) * 16);
  buffer_object* argb = bo_create(kms_->fd, DRM_FORMAT_ARGB8888, 64, 32);
  ASSERT_NE(argb, nullptr);
  EXPECT_EQ(argb->bpp, 32u);
  EXPECT_EQ(argb->handles[1], 0u);
  EXPECT_EQ(bo_create(kms_->fd, DRM_FORMAT_YUV444, 64, 32), nullptr);
  device_->failMapDumb(1, ENOMEM);
  const size_t dumbs = device_->census().dumb_buffers;
  EXPECT_EQ(bo_create(kms_->fd, DRM_FORMAT_ARGB8888, 64, 32), nullptr);
  EXPECT_EQ(device_->census().dumb_buffers, dumbs);  // the failed one is destroyed
  bo_destroy(nv12);
  bo_destroy(yu12);
  bo_destroy(argb);
  EXPECT_EQ(device_->census().dumb_buffers, dumbs - 3);
}

TEST_F(KmsTest, EventThreadAgainstAFlippingCaller) {
  vkms::Spec spec = twoOutputs();
  spec.vblank_interval_us = 1000;
  makeDevice(spec);
  ASSERT_EQ(modeset_open(&kms_, true), 0);
  std::atomic<bool> stop{false};
  std::thread events([&] {
    while (!stop) {
      if (!modeset_event(kms_)) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  modeset_display_t* hdmi = display(0);
  int flipped = 0;
  for (; flipped < 40; ++flipped) {
    buffer_object *primary = nullptr, *overlay = nullptr;
    modeset_display_get_next_buf(hdmi, &primary, &overlay);
    if (modeset_display_flip(hdmi, primary, overlay) != 0) break;
  }
  // Wait until the event thread has handled the last flip (no time limit: ctest's bounds
  // a hang, and a loaded machine may be slow).
  auto handled = [hdmi] {
    std::lock_guard<std::mutex> lock(hdmi->mutex);
    return hdmi->flip_done && !hdmi->flip_pending;
  };
  while (flipped == 40 && !handled()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  stop = true;
  events.join();
  EXPECT_EQ(flipped, 40);
  EXPECT_GE(device_->crtc(hdmi->crtc.id).flips_completed, 41u);  // the modeset's and ours
}

TEST_F(KmsTest, RediscoveryAfterADisconnect) {
  makeDevice();
  ASSERT_EQ(modeset_open(&kms_, false), 0);
  device_->setConnected(2, false);
  ASSERT_EQ(modeset_get_display_info(kms_), 0);
  int n = 0;
  modeset_get_display_number(kms_, &n);
  ASSERT_EQ(n, 1);
  EXPECT_EQ(display(0)->name, "HDMI-1");
  vkms::Census census = device_->census();
  EXPECT_EQ(census.dumb_buffers, 12u);  // the old displays' buffers are all gone
  EXPECT_EQ(census.exported_fds_open, 12u);
  EXPECT_EQ(census.blobs, 2u);
}

TEST_F(KmsTest, FailuresAreLogged) {
  makeDevice();
  ASSERT_EQ(modeset_open(&kms_, false), 0);
  modeset_display_t* d = nullptr;
  testing::internal::CaptureStdout();
  modeset_get_display(kms_, 5, &d);
  bo_create(kms_->fd, DRM_FORMAT_YUV444, 16, 16);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "[KMFR]E modeset_get_display: invalid index 5 / 2\n"
            "[KMFR]E unsupported format 0x34325559\n");
}
