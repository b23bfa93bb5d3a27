// Debug masks read once from the environment, and the gated log function.
#pragma once

#include <cstdint>

struct kelmf_debug_masks_t {
    uint64_t api;
    uint64_t ogl;
    uint64_t drm;
    uint64_t buffer;
    uint64_t display;
    uint64_t window;
};

extern kelmf_debug_masks_t g_kelmf_debug;
extern int32_t g_kelmf_using_x11_drm;
extern bool g_kelmf_debug_initialized;

void initDebug();
void KEL_LOG(bool enable, const char* format, ...) __attribute__((format(printf, 2, 3)));

#define KEL_API_ON (g_kelmf_debug.api & 1)
#define KEL_DISPLAY_ON(bit) ((g_kelmf_debug.display >> (bit)) & 1)
#define KEL_OGL_ON(bit) ((g_kelmf_debug.ogl >> (bit)) & 1)
#define KEL_BUFFER_ON(bit) ((g_kelmf_debug.buffer >> (bit)) & 1)
