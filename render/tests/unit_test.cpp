// The renderer's building blocks that need no X server.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string>

#include "color_matrix.h"
#include "fps_statics.h"
#include "log.h"
#include "opengl_renderer.h"
#include "pixel_format.h"
#include "x11_display.h"

namespace {

// Reference from the definition: limited-range YCbCr with luma scale 219/255 and chroma 224/255.
void referenceRgb(double kr, double kb, double y, double u, double v, double rgb[3])
{
    const double kg = 1 - kr - kb;
    const double yl = (y - 16.0 / 255) * 255.0 / 219;
    const double pb = (u - 128.0 / 255) * 255.0 / 224;
    const double pr = (v - 128.0 / 255) * 255.0 / 224;
    rgb[0] = yl + 2 * (1 - kr) * pr;
    rgb[2] = yl + 2 * (1 - kb) * pb;
    rgb[1] = (yl - kr * rgb[0] - kb * rgb[2]) / kg;
}

TEST(RenderColorMatrix, Bt709LimitedMatchesTheDefinition)
{
    const kelmf_matrix4_t m = YUV2RGBMatrix(0.2126f, 0.7152f, 0.0722f, false, true);
    const double samples[][3] = {{16, 128, 128}, {235, 128, 128}, {81, 90, 240}, {145, 54, 34},
                                 {41, 240, 110}, {126, 128, 128}, {200, 16, 200}};
    for (const auto& s : samples) {
        const double in[4] = {s[0] / 255, s[1] / 255, s[2] / 255, 1};
        double ref[3];
        referenceRgb(0.2126, 0.0722, in[0], in[1], in[2], ref);
        for (int r = 0; r < 3; ++r) {
            double out = 0;
            for (int c = 0; c < 4; ++c)
                out += m.m[r * 4 + c] * in[c];
            EXPECT_NEAR(out, ref[r], 2e-5) << "row " << r << " sample " << s[0] << "," << s[1] << "," << s[2];
        }
    }
    EXPECT_FLOAT_EQ(m.m[12], 0);
    EXPECT_FLOAT_EQ(m.m[15], 1);
}

TEST(RenderColorMatrix, BlackAndWhite)
{
    const kelmf_matrix4_t m = YUV2RGBMatrix(0.2126f, 0.7152f, 0.0722f, false, true);
    const struct {
        float y;
        float expect;
    } cases[] = {{16.0f / 255, 0.0f}, {235.0f / 255, 1.0f}};
    for (const auto& c : cases)
        for (int r = 0; r < 3; ++r)
            EXPECT_NEAR(m.m[r * 4] * c.y + m.m[r * 4 + 1] * (128.0f / 255) + m.m[r * 4 + 2] * (128.0f / 255) +
                            m.m[r * 4 + 3],
                        c.expect, 1e-5);
}

TEST(RenderColorMatrix, TenBitConstants)
{
    const kelmf_matrix4_t m = YUV2RGBMatrix(0.2126f, 0.7152f, 0.0722f, true, true);
    EXPECT_FLOAT_EQ(m.m[0], 1.1678082f);
    EXPECT_FLOAT_EQ(m.m[2], 1.1417410f * 2 * (1 - 0.2126f));
    // 10-bit black (64) and white (940) codes.
    for (int r = 0; r < 3; ++r) {
        const float black = m.m[r * 4] * (64.0f / 1023) + (m.m[r * 4 + 1] + m.m[r * 4 + 2]) * (512.0f / 1023) +
                            m.m[r * 4 + 3];
        const float white = m.m[r * 4] * (940.0f / 1023) + (m.m[r * 4 + 1] + m.m[r * 4 + 2]) * (512.0f / 1023) +
                            m.m[r * 4 + 3];
        EXPECT_NEAR(black, 0, 1e-5);
        EXPECT_NEAR(white, 1, 1e-5);
    }
}

TEST(RenderColorMatrix, Rgb2XyzIsTheIdentityWithALine)
{
    testing::internal::CaptureStdout();
    const kelmf_matrix4_t m = RGB2XYZMatrix(DisplayChromaticities{});
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[KMFR]E Not implement");
    for (int i = 0; i < 16; ++i)
        EXPECT_FLOAT_EQ(m.m[i], i % 5 == 0 ? 1 : 0);
}

TEST(RenderPixelData, TableOrderAndFourCharacterCodes)
{
    const struct {
        uint32_t format;
        const char* fourcc;  // null for the RGB codes
        uint32_t planes, textures, chroma, depth;
        uint64_t bpp0, bpp1;
        uint64_t div1w, div1h;
    } rows[] = {
        {ARGB32, nullptr, 1, 1, 0, 8, 4, 0, 0, 0}, {ABGR32, nullptr, 1, 1, 0, 8, 4, 0, 0, 0},
        {RGB24, nullptr, 1, 1, 0, 8, 3, 0, 0, 0},  {BGR24, nullptr, 1, 1, 0, 8, 3, 0, 0, 0},
        {YV12, "YV12", 3, 3, 3, 8, 1, 1, 2, 2},    {I420, "I420", 3, 3, 3, 8, 1, 1, 2, 2},
        {NV12, "NV12", 2, 2, 3, 8, 1, 2, 2, 2},    {P010, "P010", 2, 2, 3, 10, 2, 4, 2, 2},
        {Y416, "Y416", 1, 1, 1, 16, 4, 0, 0, 0},   {UYVY, "UYVY", 1, 2, 2, 8, 2, 0, 2, 1},
        {YUY2, "YUY2", 1, 2, 2, 8, 2, 0, 2, 1},
    };
    ASSERT_EQ(sizeof rows / sizeof rows[0], static_cast<size_t>(kPixelDataCount));
    for (int i = 0; i < kPixelDataCount; ++i) {
        const auto& r = rows[i];
        const kelmf_pixel_data_t& d = g_PixelData[i];
        EXPECT_EQ(d.format, r.format) << i;
        if (r.fourcc) {
            EXPECT_EQ(d.format, KELMF_FOURCC(r.fourcc[0], r.fourcc[1], r.fourcc[2], r.fourcc[3])) << r.fourcc;
        }
        EXPECT_EQ(d.planes, r.planes) << i;
        EXPECT_EQ(d.textures, r.textures) << i;
        EXPECT_EQ(d.chroma, r.chroma) << i;
        EXPECT_EQ(d.depth, r.depth) << i;
        EXPECT_EQ(d.bytesPerPixel[0], r.bpp0) << i;
        EXPECT_EQ(d.bytesPerPixel[1], r.bpp1) << i;
        EXPECT_EQ(d.divisor[1][0], r.div1w) << i;
        EXPECT_EQ(d.divisor[1][1], r.div1h) << i;
        EXPECT_EQ(d.divisor[0][0], 1u) << i;
        EXPECT_EQ(findPixelData(r.format), &d);
        for (uint32_t j = d.textures; j < 4; ++j)
            EXPECT_EQ(d.glFormat[j], 0u) << i;
    }
    EXPECT_STREQ(findPixelData(NV12)->define, "#define NV12\n");
    EXPECT_EQ(findPixelData(KELMF_FOURCC('Y', 'U', 'Y', 'V')), nullptr);
}

TEST(RenderPixelData, HdrRecordIs28Bytes)
{
    EXPECT_EQ(sizeof(__kelmf_hdr_metadata_hdr10), 28u);
    EXPECT_EQ(offsetof(__kelmf_hdr_metadata_hdr10, max_luminance), 16u);
    EXPECT_EQ(offsetof(__kelmf_hdr_metadata_hdr10, max_content_light_level), 24u);
}

TEST(RenderFpsStatics, NameAndFirstSample)
{
    FPSStatics stat;
    EXPECT_EQ(stat.name(), nullptr);
    stat.setName("w %d submit", 7);
    EXPECT_STREQ(stat.name(), "w 7 submit");
    stat.setName("%s", "preview");
    EXPECT_STREQ(stat.name(), "preview");
    // Samples inside one period never report.
    testing::internal::CaptureStdout();
    for (int i = 0; i < 100; ++i) {
        stat.begin();
        stat.addSample(true);
    }
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(RenderKelLog, GatedAndUnchanged)
{
    testing::internal::CaptureStdout();
    KEL_LOG(false, "[KMFR]I hidden %d\n", 1);
    KEL_LOG(true, "[KMFR]W shown %s %d", "x", 2);
    KEL_LOG(true, "%s", std::string(5000, 'a').c_str());
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[KMFR]W shown x 2" + std::string(5000, 'a'));
}

TEST(RenderUploadMethod, FromVendorAndGpudirect)
{
    const struct {
        const char* vendor;
        bool gpudirect;
        int method;
    } cases[] = {{"Intel", false, 2}, {"intel", false, 2}, {"INTEL", true, 3}, {"Mesa/X.org", false, 0},
                 {"Mesa/X.org", true, 3}, {"NVIDIA Corporation", false, 0}, {"Intel Open Source", false, 0},
                 {nullptr, false, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(kelmf_renderer_opengl_t::choose_upload_method(c.vendor, c.gpudirect), c.method)
            << (c.vendor ? c.vendor : "null") << " " << c.gpudirect;
}

TEST(RenderRefreshRate, ModeTimings)
{
    const struct {
        unsigned long clock;
        unsigned h, v;
        bool match;
        double rate;
    } cases[] = {{148500000, 2200, 1125, true, 60.0}, {74250000, 2200, 1125, true, 30.0},
                 {0, 0, 0, false, 0},                  {148500000, 0, 0, false, 0},
                 {0, 2200, 1125, false, 0}};
    for (const auto& c : cases) {
        double rate = -1;
        EXPECT_EQ(kelmf_x11_display_t::modeRate(c.clock, c.h, c.v, rate), c.match) << c.clock;
        if (c.match) {
            EXPECT_DOUBLE_EQ(rate, c.rate);
        }
    }
}

TEST(RenderX11Display, InertWithoutAServer)
{
    setenv("DISPLAY", ":4095", 1);
    kelmf_x11_display_t display(nullptr, true);
    EXPECT_EQ(display.getNative(), nullptr);
    EXPECT_EQ(display.handleEvent(), 0);
    double rate = 0, interval = 0;
    display.getRefreshRateAndVsyncInterval(rate, interval);
    EXPECT_DOUBLE_EQ(rate, 60.0);
    EXPECT_DOUBLE_EQ(interval, 1.0 / 60);
    int x = 0, y = 0, w = 0, h = 0;
    EXPECT_EQ(display.GetOutputGeometry("screen", x, y, w, h), -1);
    kelmf_x11_window_t window(42);
    EXPECT_EQ(display.setupWindow(&window), 0);
    long wx = 0, wy = 0;
    unsigned long ww = 0, wh = 0;
    window.getGeometry(&wx, &wy, &ww, &wh);
    EXPECT_EQ(wx, -1);
    EXPECT_EQ(wy, -1);
    EXPECT_EQ(display.unsetupWindow(&window), 0);
    display.close();
}

} // namespace
