// Intermediate frames and display composition on their own, with a display of the virtual
// KMS device underneath; the resize library's own output is the oracle.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <vector>

#include <drm_fourcc.h>
#include <gtest/gtest.h>

#include "drm_composite.h"
#include "klmf_ipp.h"
#include "kms_modeset.h"
#include "drm_test_support.h"
#include "vkms.h"

namespace {

int g_releases = 0;
void countRelease(void**, int*, void*) { ++g_releases; }

std::vector<uint8_t> pattern(size_t bytes, unsigned seed)
{
    std::vector<uint8_t> v(bytes);
    for (size_t i = 0; i < bytes; ++i)
        v[i] = static_cast<uint8_t>((i * 7 + seed * 13 + (i / 97)) & 0xFF);
    return v;
}

// The resize library's output for a source read with the given row step.
void reference(const uint8_t* y, const uint8_t* uv, int step, int srcW, int srcH, int dstW, int dstH,
               std::vector<uint8_t>& outY, std::vector<uint8_t>& outUV)
{
    const ippiPlaneSize src{srcW, srcH}, dst{dstW, dstH};
    int32_t planSize = 0, initSize = 0, workSize = 0;
    ASSERT_EQ(ippiResizeYUV420GetSize(src, dst, ippiFilterLanczos, 0, &planSize, &initSize), 0);
    uint8_t* plan = ippsMalloc_8u(planSize);
    uint8_t* init = ippsMalloc_8u(std::max(initSize, 1));
    ASSERT_EQ(ippiResizeYUV420LanczosInit(src, dst, 2, reinterpret_cast<ippiLanczosPlan*>(plan), init), 0);
    ASSERT_EQ(ippiResizeYUV420GetBufferSize(reinterpret_cast<ippiLanczosPlan*>(plan), dst, &workSize), 0);
    uint8_t* work = ippsMalloc_8u(std::max(workSize, 1));
    outY.assign(size_t(dstW) * dstH, 0);
    outUV.assign(size_t(dstW) * dstH / 2, 0);
    const uint8_t border = 0;
    ippiResizeYUV420Lanczos_8u_P2R(y, step, uv, step, outY.data(), dstW, outUV.data(), dstW, {0, 0}, dst,
                                   ippiEdgeReplicate, &border, reinterpret_cast<ippiLanczosPlan*>(plan), work);
    ippsFree(work);
    ippsFree(init);
    ippsFree(plan);
}

PreviewFrame frameOf(void* p0, void* p1, int stride0, int stride1)
{
    PreviewFrame f;
    f.planes[0] = p0;
    f.planes[1] = p1;
    f.strides[0] = stride0;
    f.strides[1] = stride1;
    f.release = countRelease;
    return f;
}

TEST(CompositeFrame, DecimationFollowsTheCurrentRatio)
{
    ippInit();
    const int w = 640;
    auto tallY = pattern(size_t(w) * 4320, 1), tallUV = pattern(size_t(w) * 2160, 2);
    CompositeFrame_t frame;
    // 4320 rows into 540: ratio 8, every eighth row.
    frame.fillVideo({NV12, 0, 0, w, 4320}, {NV12, 0, 0, 320, 540},
                    frameOf(tallY.data(), tallUV.data(), w, w));
    EXPECT_EQ(frame.m_plan.factor, 8);
    ASSERT_TRUE(frame.m_ready);
    std::vector<uint8_t> wantY, wantUV;
    reference(tallY.data(), tallUV.data(), w * 8, w, 540, 320, 540, wantY, wantUV);
    EXPECT_EQ(0, std::memcmp(frame.m_planes[0], wantY.data(), wantY.size()));
    EXPECT_EQ(0, std::memcmp(frame.m_planes[1], wantUV.data(), wantUV.size()));
    FrameList released;
    frame.freeSource(released);

    // Then 540 rows into 540: every row again.
    auto y = pattern(size_t(w) * 540, 3), uv = pattern(size_t(w) * 270, 4);
    frame.fillVideo({NV12, 0, 0, w, 540}, {NV12, 0, 0, 320, 540}, frameOf(y.data(), uv.data(), w, w));
    EXPECT_EQ(frame.m_plan.factor, 1);
    reference(y.data(), uv.data(), w, w, 540, 320, 540, wantY, wantUV);
    EXPECT_EQ(0, std::memcmp(frame.m_planes[0], wantY.data(), wantY.size()));
    EXPECT_EQ(0, std::memcmp(frame.m_planes[1], wantUV.data(), wantUV.size()));
    frame.freeSource(released);
    g_releases = 0;
    released.releaseAll();
    EXPECT_EQ(g_releases, 2);
}

TEST(CompositeFrame, PaddedSourceRowsAreHonoured)
{
    ippInit();
    const int w = 200, h = 100, stride = 256;
    auto y = pattern(size_t(stride) * h, 5), uv = pattern(size_t(stride) * h / 2, 6);
    CompositeFrame_t frame;
    frame.fillVideo({NV12, 0, 0, w, h}, {NV12, 0, 0, 300, 150}, frameOf(y.data(), uv.data(), stride, stride));
    ASSERT_TRUE(frame.m_ready);
    std::vector<uint8_t> wantY, wantUV;
    reference(y.data(), uv.data(), stride, w, h, 300, 150, wantY, wantUV);
    EXPECT_EQ(0, std::memcmp(frame.m_planes[0], wantY.data(), wantY.size()));
    EXPECT_EQ(0, std::memcmp(frame.m_planes[1], wantUV.data(), wantUV.size()));
    FrameList released;
    frame.freeSource(released);
    g_releases = 0;
}

// A provider standing in for a window worker.
class FakeProvider : public preview_provider_t {
public:
    explicit FakeProvider(bool primary) : m_primary(primary) {}
    void setWindow(kelmf_drm_window_t*) override {}
    void setCompositor(compositor_t* c) override { compositor = c; }
    bool isPrimaryPlane() override { return m_primary; }
    bool getPreview(std::shared_ptr<CompositeFrame_t>& out) override
    {
        out = preview;
        return preview && preview->m_src.width && preview->m_src.height && preview->m_dst.width &&
               preview->m_dst.height;
    }
    std::shared_ptr<CompositeFrame_t> preview = std::make_shared<CompositeFrame_t>();
    compositor_t* compositor = reinterpret_cast<compositor_t*>(1);

private:
    bool m_primary;
};

class CompositeTest : public testing::Test {
protected:
    void SetUp() override
    {
        ippInit();
        m_root = drmtest::makeDeviceRoot("drm-unit-test");
        ASSERT_FALSE(m_root.empty());
        vkms::Spec spec;
        spec.connectors = {{DRM_MODE_CONNECTOR_HDMIA, true, {{1000, 64, 60}}, 0, 0}};
        m_device = std::make_unique<vkms::Device>(drmtest::cardPath(m_root), spec);
        ASSERT_EQ(modeset_open(&m_kms, true), 0);
        ASSERT_EQ(modeset_get_display(m_kms, 0, &m_display), 0);
        m_thread = std::make_unique<CompositeThread>(true, m_display);
    }
    void TearDown() override
    {
        m_thread.reset();
        if (m_kms)
            modeset_close(m_kms);
        m_device.reset();
        drmtest::removeDeviceRoot(m_root);
    }
    std::string m_root;
    std::unique_ptr<vkms::Device> m_device;
    kelmo_mf_drm_modeset_t* m_kms = nullptr;
    modeset_display_t* m_display = nullptr;
    std::unique_ptr<CompositeThread> m_thread;
};

TEST_F(CompositeTest, NextBufferSkipsTheScreenAndBusySlots)
{
    std::set<buffer_object*> taken;
    buffer_object *p = nullptr, *o = nullptr;
    // Master mode: slot 0 is on the planes since the modeset.
    for (int i = 0; i < kModesetRingSize - 1; ++i) {
        ASSERT_EQ(m_thread->getNextDisplayBuffer(&p, &o), 0);
        EXPECT_NE(p, m_display->bufs[0]);
        EXPECT_TRUE(taken.insert(p).second);
    }
    EXPECT_EQ(m_thread->getNextDisplayBuffer(&p, &o), -1);
    for (buffer_object* b : taken)
        m_thread->returnDisplayBuffer(b);
    // A buffer that reaches the overlay plane stays out of the ring while it is there.
    modeset_display_start(m_display);
    buffer_object* shown = nullptr;
    for (int call = 0; call < 7; ++call) {
        ASSERT_EQ(m_thread->getNextDisplayBuffer(&p, &o), 0);
        m_thread->SetPlaneOnOverlay(true, p, {NV12, 0, 0, 64, 32}, {NV12, 10, 10, 64, 32});
        shown = p;
    }
    ASSERT_EQ(m_device->plane(m_display->overlay_plane.id).fb_id, shown->fb_id);
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(m_thread->getNextDisplayBuffer(&p, &o), 0);
        EXPECT_NE(p, shown);
        EXPECT_NE(p, m_display->bufs[0]);
        m_thread->returnDisplayBuffer(p);
    }
}

TEST_F(CompositeTest, CopiesAreClippedAndOnlyTheKeptPictureIsRead)
{
    buffer_object *primary = nullptr, *overlay = nullptr;
    ASSERT_EQ(m_thread->getNextDisplayBuffer(&primary, &overlay), 0);
    const int bw = static_cast<int>(primary->width);

    // An ARGB picture of 40 x 10 kept in a preview meant for 80 x 20: only 40 x 10 is read
    // (the sanitizer sees any read past the frame).
    FakeProvider argb(false);
    std::vector<uint8_t> pixels = pattern(40 * 10 * 4, 7);
    argb.preview->fillVideo({ARGB32, 0, 0, 40, 10}, {ARGB32, 100, 4, 80, 20},
                            frameOf(pixels.data(), nullptr, 40 * 4, 0));
    // An NV12 picture at x = 5, 60 wide, near the right edge of the NV12 buffer.
    FakeProvider nv12(true);
    std::vector<uint8_t> y = pattern(60 * 20, 8), uv = pattern(60 * 10, 9);
    nv12.preview->fillVideo({NV12, 0, 0, 60, 20}, {NV12, bw - 25, 5, 60, 20},
                            frameOf(y.data(), uv.data(), 60, 60));
    m_thread->addProvider(&argb);
    m_thread->addProvider(&nv12);
    m_thread->addProvider(&nv12);

    // Overlay-only composition copies the overlay-plane window alone.
    std::vector<uint8_t> before(primary->map, primary->map + primary->size);
    EXPECT_TRUE(m_thread->composite(true, primary, overlay));
    EXPECT_EQ(0, std::memcmp(before.data(), primary->map, primary->size));
    for (int r = 0; r < 20; ++r) {
        const uint8_t* row = overlay->map + size_t(4 + r) * overlay->pitches[0] + 100 * 4;
        for (int c = 0; c < 80 * 4; ++c) {
            const uint8_t want = (r < 10 && c < 40 * 4) ? pixels[size_t(r) * 160 + c] : 0;
            ASSERT_EQ(row[c], want) << r << " " << c;
        }
    }
    EXPECT_TRUE(m_thread->composite(false, primary, overlay));
    // x rounds down to even; the copy stops at the buffer's edge (24 of 60 columns).
    const int x = (bw - 25) & ~1;
    for (int r = 0; r < 20; ++r) {
        for (int c = 0; c < bw - x; ++c)
            ASSERT_EQ(primary->map[size_t(5 + r) * primary->pitches[0] + x + c], y[size_t(r) * 60 + c]);
    }
    for (int r = 0; r < 10; ++r) {
        for (int c = 0; c < bw - x; ++c)
            ASSERT_EQ(primary->map[primary->offsets[1] + size_t(2 + r) * primary->pitches[1] + x + c],
                      uv[size_t(r) * 60 + c]);
    }
    // Listed twice, removed at once, and left without a compositor.
    m_thread->removeProvider(&nv12);
    EXPECT_EQ(nv12.compositor, nullptr);
    m_thread->removeProvider(&argb);
    EXPECT_FALSE(m_thread->composite(false, primary, overlay));
    m_thread->returnDisplayBuffer(primary);
    FrameList released;
    argb.preview->freeSource(released);
    nv12.preview->freeSource(released);
    g_releases = 0;
    released.releaseAll();
    EXPECT_EQ(g_releases, 2);
}

TEST_F(CompositeTest, StartAndStopSwitchTheType)
{
    EXPECT_EQ(m_thread->getCompositeType(), WINDOW_COMPOSITE);
    m_thread->stop();
    EXPECT_EQ(m_thread->getCompositeType(), WINDOW_COMPOSITE);
    m_thread->start();
    m_thread->start();
    EXPECT_EQ(m_thread->getCompositeType(), OUTPUT_OVERLAY);
    EXPECT_TRUE(m_thread->isRunning());
    m_thread->stop();
    EXPECT_FALSE(m_thread->isRunning());
    EXPECT_EQ(m_thread->getCompositeType(), OUTPUT_OVERLAY);
}

}  // namespace
