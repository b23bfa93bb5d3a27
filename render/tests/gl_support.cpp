#include "gl_support.h"

#include <X11/Xutil.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

// Mesa's X11 software path drops the error of its geometry request on a drawable that is
// gone (the reply is null, the error is never freed); the destroyed-window tests meet it.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libxcb.so.1\n";
}

namespace rendertest {

namespace {

int clampByte(double v)
{
    return static_cast<int>(std::lround(std::min(1.0, std::max(0.0, v)) * 255.0));
}

bool isRgb(uint32_t format)
{
    return format == RGB24 || format == BGR24 || format == ARGB32 || format == ABGR32;
}

} // namespace

void blockSamples(uint32_t format, int seed, int bx, int by, int out[3])
{
    const int k = bx + by * 13 + seed * 7;
    if (isRgb(format)) {
        out[0] = (k * 37 + 11) % 256;
        out[1] = (k * 59 + 101) % 256;
        out[2] = (k * 83 + 23) % 256;
        return;
    }
    if (format == Y416) {
        // 16-bit limited range: the 8-bit codes times 256, with low bytes of their own.
        out[0] = 4096 + (k * 9337 + 5) % (219 * 256 + 1);
        out[1] = 4096 + (k * 5303 + 17) % (224 * 256 + 1);
        out[2] = 4096 + (k * 7121 + 3) % (224 * 256 + 1);
        return;
    }
    const int max = format == P010 ? 1023 : 255;
    const int lo = format == P010 ? 64 : 16;
    const int span = format == P010 ? 876 : 219;
    const int cspan = format == P010 ? 896 : 224;
    out[0] = lo + (k * 37 + 5) % (span + 1);
    out[1] = lo + (k * 53 + 17) % (cspan + 1);
    out[2] = lo + (k * 71 + 3) % (cspan + 1);
    (void)max;
}

Rgb Frame::expected(int bx, int by) const
{
    int s[3];
    blockSamples(format, seed, bx, by, s);
    if (isRgb(format))
        // Byte 2 of each pixel shows as red, byte 0 as blue, for every packed RGB code.
        return {s[0], s[1], s[2]};
    const bool ten = format == P010;
    const bool sixteen = format == Y416;
    const double full = ten ? 1023.0 : 255.0;
    double y0 = ten ? 64 : 16, c0 = ten ? 512 : 128;
    double ys = ten ? 876 : 219, cs = ten ? 896 : 224;
    if (sixteen) {
        y0 = 16 * 256;
        c0 = 128 * 256;
        ys = 219 * 256;
        cs = 224 * 256;
    }
    const double kr = 0.2126, kb = 0.0722, kg = 1 - kr - kb;
    const double yl = (s[0] - y0) / ys, pb = (s[1] - c0) / cs, pr = (s[2] - c0) / cs;
    (void)full;
    const double r = yl + 2 * (1 - kr) * pr;
    const double b = yl + 2 * (1 - kb) * pb;
    const double g = (yl - kr * r - kb * b) / kg;
    return {clampByte(r), clampByte(g), clampByte(b)};
}

Frame makeFrame(uint32_t format, int width, int height, int seed, int padding)
{
    Frame f;
    f.format = format;
    f.width = width;
    f.height = height;
    f.seed = seed;
    auto plane = [&](int row, int rows) {
        f.planes.emplace_back(static_cast<size_t>(row + padding) * static_cast<size_t>(rows), 0xA5);
        f.strides[f.planes.size() - 1] = row + padding;
        return f.planes.size() - 1;
    };
    auto at = [&](size_t p, int x, int y, int bytesPerSample) {
        return f.planes[p].data() + static_cast<size_t>(y) * static_cast<size_t>(f.strides[p]) +
               static_cast<size_t>(x) * static_cast<size_t>(bytesPerSample);
    };
    int s[3];
    switch (format) {
    case RGB24:
    case BGR24:
    case ARGB32:
    case ABGR32: {
        const int bpp = (format == RGB24 || format == BGR24) ? 3 : 4;
        size_t p = plane(width * bpp, height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                blockSamples(format, seed, x / 8, y / 8, s);
                uint8_t* px = at(p, x, y, bpp);
                px[0] = static_cast<uint8_t>(s[2]);
                px[1] = static_cast<uint8_t>(s[1]);
                px[2] = static_cast<uint8_t>(s[0]);
                if (bpp == 4)
                    px[3] = 0xff;
            }
        break;
    }
    case I420:
    case YV12: {
        size_t py = plane(width, height);
        size_t p1 = plane(width / 2, height / 2);
        size_t p2 = plane(width / 2, height / 2);
        // I420 is Y, U, V; YV12 is Y, V, U.
        size_t pu = format == I420 ? p1 : p2;
        size_t pv = format == I420 ? p2 : p1;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                blockSamples(format, seed, x / 8, y / 8, s);
                *at(py, x, y, 1) = static_cast<uint8_t>(s[0]);
                if (x % 2 == 0 && y % 2 == 0 && x / 2 < width / 2 && y / 2 < height / 2) {
                    *at(pu, x / 2, y / 2, 1) = static_cast<uint8_t>(s[1]);
                    *at(pv, x / 2, y / 2, 1) = static_cast<uint8_t>(s[2]);
                }
            }
        break;
    }
    case NV12:
    case P010: {
        const int b = format == P010 ? 2 : 1;
        size_t py = plane(width * b, height);
        size_t puv = plane((width / 2) * 2 * b, height / 2);
        auto put = [&](uint8_t* dst, int v) {
            if (b == 1) {
                dst[0] = static_cast<uint8_t>(v);
            } else {
                const int v16 = v << 6;  // ten bits in the high end of 16
                dst[0] = static_cast<uint8_t>(v16 & 0xff);
                dst[1] = static_cast<uint8_t>(v16 >> 8);
            }
        };
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                blockSamples(format, seed, x / 8, y / 8, s);
                put(at(py, x, y, b), s[0]);
                if (x % 2 == 0 && y % 2 == 0 && x / 2 < width / 2 && y / 2 < height / 2) {
                    put(at(puv, x / 2, y / 2, 2 * b), s[1]);
                    put(at(puv, x / 2, y / 2, 2 * b) + b, s[2]);
                }
            }
        break;
    }
    case Y416: {
        // U, Y, V, alpha: 16 bits each, little-endian.
        size_t p = plane(width * 8, height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                blockSamples(format, seed, x / 8, y / 8, s);
                const int c[4] = {s[1], s[0], s[2], 0xffff};
                uint8_t* px = at(p, x, y, 8);
                for (int i = 0; i < 4; ++i) {
                    px[2 * i] = static_cast<uint8_t>(c[i] & 0xff);
                    px[2 * i + 1] = static_cast<uint8_t>(c[i] >> 8);
                }
            }
        break;
    }
    case UYVY:
    case YUY2: {
        size_t p = plane(width * 2, height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x + 1 < width; x += 2) {
                blockSamples(format, seed, x / 8, y / 8, s);
                uint8_t* px = at(p, x, y, 2);
                if (format == YUY2) {
                    px[0] = static_cast<uint8_t>(s[0]);
                    px[1] = static_cast<uint8_t>(s[1]);
                    px[2] = static_cast<uint8_t>(s[0]);
                    px[3] = static_cast<uint8_t>(s[2]);
                } else {
                    px[0] = static_cast<uint8_t>(s[1]);
                    px[1] = static_cast<uint8_t>(s[0]);
                    px[2] = static_cast<uint8_t>(s[2]);
                    px[3] = static_cast<uint8_t>(s[0]);
                }
            }
        break;
    }
    default:
        break;
    }
    for (size_t i = 0; i < f.planes.size(); ++i)
        f.pointers[i] = f.planes[i].data();
    return f;
}

void ReleaseCounter::release(void**, int*, void* user)
{
    static_cast<ReleaseCounter*>(user)->calls.fetch_add(1);
}

bool HostContext::create(Display* x, int width, int height, const HostContext* share)
{
    eglBindAPI(EGL_OPENGL_ES_API);
    display_ = eglGetDisplay(reinterpret_cast<EGLNativeDisplayType>(x));
    if (display_ == EGL_NO_DISPLAY || !eglInitialize(display_, nullptr, nullptr))
        return false;
    const EGLint attrs[] = {EGL_RED_SIZE,        8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_ALPHA_SIZE, 8,
                            EGL_RENDERABLE_TYPE, EGL_OPENGL_ES3_BIT, EGL_SURFACE_TYPE, EGL_PBUFFER_BIT,
                            EGL_NONE};
    EGLConfig config;
    EGLint count = 0;
    if (!eglChooseConfig(display_, attrs, &config, 1, &count) || count != 1)
        return false;
    const EGLint surfaceAttrs[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
    surface_ = eglCreatePbufferSurface(display_, config, surfaceAttrs);
    const EGLint ctxAttrs[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 2, EGL_NONE};
    context_ = eglCreateContext(display_, config, share ? share->context_ : EGL_NO_CONTEXT, ctxAttrs);
    if (surface_ == EGL_NO_SURFACE || context_ == EGL_NO_CONTEXT)
        return false;
    makeCurrent();
    return true;
}

void HostContext::makeCurrent() const
{
    eglBindAPI(EGL_OPENGL_ES_API);
    eglMakeCurrent(display_, surface_, surface_, context_);
}

void HostContext::release(EGLDisplay display)
{
    eglBindAPI(EGL_OPENGL_ES_API);
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

HostContext::~HostContext()
{
    if (display_ == EGL_NO_DISPLAY)
        return;
    if (eglGetCurrentContext() == context_)
        release(display_);
    if (context_ != EGL_NO_CONTEXT)
        eglDestroyContext(display_, context_);
    if (surface_ != EGL_NO_SURFACE)
        eglDestroySurface(display_, surface_);
}

std::vector<Rgb> readFramebuffer(int width, int height)
{
    std::vector<uint8_t> raw(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, raw.data());
    std::vector<Rgb> out(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = &raw[(static_cast<size_t>(height - 1 - y) * static_cast<size_t>(width) +
                                     static_cast<size_t>(x)) *
                                    4];
            out[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = {p[0], p[1], p[2]};
        }
    return out;
}

std::vector<Rgb> readWindow(Display* display, Window window, int width, int height)
{
    XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height),
                              AllPlanes, ZPixmap);
    if (!image)
        return {};
    std::vector<Rgb> out(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            unsigned long p = XGetPixel(image, x, y);
            out[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = {
                static_cast<int>((p >> 16) & 0xff), static_cast<int>((p >> 8) & 0xff), static_cast<int>(p & 0xff)};
        }
    XDestroyImage(image);
    return out;
}

std::string compareBlocks(const Frame& frame, const std::vector<Rgb>& pixels, int viewWidth, int viewHeight,
                          int tolerance)
{
    if (pixels.size() != static_cast<size_t>(viewWidth) * static_cast<size_t>(viewHeight))
        return "no pixels";
    for (int by = 0; (by + 1) * 8 <= frame.height; ++by)
        for (int bx = 0; (bx + 1) * 8 <= frame.width; ++bx) {
            const int x = (bx * 8 + 4) * viewWidth / frame.width;
            const int y = (by * 8 + 4) * viewHeight / frame.height;
            const Rgb got = pixels[static_cast<size_t>(y) * static_cast<size_t>(viewWidth) + static_cast<size_t>(x)];
            const Rgb want = frame.expected(bx, by);
            if (std::abs(got.r - want.r) > tolerance || std::abs(got.g - want.g) > tolerance ||
                std::abs(got.b - want.b) > tolerance) {
                char text[160];
                std::snprintf(text, sizeof text, "block %d,%d at %d,%d: got %d %d %d want %d %d %d", bx, by, x, y,
                              got.r, got.g, got.b, want.r, want.g, want.b);
                return text;
            }
        }
    return "";
}

} // namespace rendertest
