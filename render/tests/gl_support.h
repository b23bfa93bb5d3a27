// Helpers for the OpenGL renderer tests: test patterns of every format with a reference
// colour written from the definition, a context the test owns, release counting.
#pragma once

#include <EGL/egl.h>
#include <GLES3/gl32.h>
#include <X11/Xlib.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "kelmf_renderer.h"

namespace rendertest {

struct Rgb {
    int r, g, b;
};

// One picture of a format, made of 8x8 blocks of one colour each, with padded rows.
struct Frame {
    uint32_t format = 0;
    int width = 0, height = 0;
    std::vector<std::vector<uint8_t>> planes;
    int strides[4] = {0, 0, 0, 0};
    void* pointers[4] = {nullptr, nullptr, nullptr, nullptr};
    int seed = 0;

    // The colour block (bx, by) should show, from the BT.709 limited-range definition.
    Rgb expected(int bx, int by) const;
    void** data() { return pointers; }
    int* strideArray() { return strides; }
};

// padding: extra bytes after each row (filled with junk).
Frame makeFrame(uint32_t format, int width, int height, int seed, int padding = 0);

// Samples of block (bx, by): (Y, U, V) codes or (R, G, B) bytes.
void blockSamples(uint32_t format, int seed, int bx, int by, int out[3]);

// Counts release callbacks per frame.
struct ReleaseCounter {
    std::atomic<int> calls{0};
    static void release(void** planes, int* strides, void* user);
};

// A GL context the test owns (OpenGL ES 3.2 on a pbuffer), on one X display. EGL keeps
// state per connection, so tests close their connections only at the end of the suite.
class HostContext {
public:
    bool create(Display* x, int width, int height, const HostContext* share = nullptr);
    void makeCurrent() const;
    static void release(EGLDisplay display);
    ~HostContext();
    EGLDisplay display() const { return display_; }
    EGLContext context() const { return context_; }

private:
    EGLDisplay display_ = EGL_NO_DISPLAY;
    EGLContext context_ = EGL_NO_CONTEXT;
    EGLSurface surface_ = EGL_NO_SURFACE;
};

// glReadPixels of the current framebuffer, top row first.
std::vector<Rgb> readFramebuffer(int width, int height);
// XGetImage of a window, top row first; empty when it fails.
std::vector<Rgb> readWindow(Display* display, Window window, int width, int height);

// Checks every block that lies wholly inside the picture; returns a description of the
// first mismatch beyond tolerance, or "" when all match. scale: viewport / video size.
std::string compareBlocks(const Frame& frame, const std::vector<Rgb>& pixels, int viewWidth, int viewHeight,
                          int tolerance = 2);

} // namespace rendertest
