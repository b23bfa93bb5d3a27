#include "log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

kelmf_debug_masks_t g_kelmf_debug = {0, 0, 0, 0, 0, 0};
int32_t g_kelmf_using_x11_drm = -1;
bool g_kelmf_debug_initialized = false;

namespace {

uint64_t readHex(const char* name)
{
    const char* text = std::getenv(name);
    if (!text)
        return 0;
    return static_cast<uint64_t>(std::strtol(text, nullptr, 16));
}

} // namespace

void initDebug()
{
    g_kelmf_debug_initialized = true;
    g_kelmf_debug.api = readHex("KELMF_DEBUG_API");
    g_kelmf_debug.ogl = readHex("KELMF_DEBUG_OGL");
    g_kelmf_debug.drm = readHex("KELMF_DEBUG_DRM");
    g_kelmf_debug.buffer = readHex("KELMF_DEBUG_BUFFER");
    g_kelmf_debug.display = readHex("KELMF_DEBUG_DISPLAY");
    g_kelmf_debug.window = readHex("KELMF_DEBUG_WINDOW");
    const char* drm = std::getenv("KELMF_USING_X11_DRM");
    g_kelmf_using_x11_drm = drm ? static_cast<int32_t>(std::strtol(drm, nullptr, 16)) : -1;
    const kelmf_debug_masks_t& m = g_kelmf_debug;
    if (m.api || m.ogl || m.drm || m.buffer || m.display || m.window)
        KEL_LOG(true, "[KMFR]I Debug init %08x %08x %08x %08x %08x %08x\n", static_cast<uint32_t>(m.api),
                static_cast<uint32_t>(m.ogl), static_cast<uint32_t>(m.drm), static_cast<uint32_t>(m.buffer),
                static_cast<uint32_t>(m.display), static_cast<uint32_t>(m.window));
}

void KEL_LOG(bool enable, const char* format, ...)
{
    if (!enable)
        return;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n < 0) {
        va_end(args);
        return;
    }
    char* buffer = static_cast<char*>(std::malloc(static_cast<size_t>(n) + 1));
    if (buffer) {
        std::vsnprintf(buffer, static_cast<size_t>(n) + 1, format, args);
        std::printf("%s", buffer);
        std::free(buffer);
    }
    va_end(args);
}
