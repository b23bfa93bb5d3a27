// The exported C functions: handle checks, API trace lines, and the backend choice.
#include <cstdlib>
#include <new>

#include "drm_renderer.h"
#include "drm_x11_renderer.h"
#include "kelmf_renderer.h"
#include "log.h"
#include "opengl_renderer.h"

namespace {

const char* const kVersion = "1.5.14-0-g9e53462";

kelmf_renderer_interface* object(kelmf_renderer_handle_t* handle)
{
    return static_cast<kelmf_renderer_interface*>(*handle);
}

void ensureDebug()
{
    if (!g_kelmf_debug_initialized)
        initDebug();
}

} // namespace

#define KELMF_CHECK(handle)                 \
    do {                                    \
        if (!(handle))                      \
            return KELMF_NULL_HANDLE;       \
        if (!*(handle))                     \
            return KELMF_NULL_HANDLE;       \
    } while (0)

extern "C" {

uint32_t kelmf_renderer_global_init(void)
{
    ensureDebug();
    return KELMF_OK;
}

uint32_t kelmf_renderer_new2(kelmf_renderer_handle_t** handle, kelmf_display_system_t display_system,
                             kelmf_graphic_window_system_t window_system)
{
    KEL_LOG(KEL_API_ON, "[KMFR]A new()\n");
    if (!handle)
        return KELMF_NULL_HANDLE;
    ensureDebug();
    auto* cell = static_cast<kelmf_renderer_handle_t*>(std::malloc(sizeof(kelmf_renderer_handle_t)));
    if (!cell)
        return KELMF_NO_MEMORY;
    kelmf_renderer_interface* renderer = nullptr;
    if (display_system == KELMF_DISPLAY_DRM)
        renderer = new (std::nothrow) kelmf_renderer_drm_t(display_system, window_system);
    else if (display_system == KELMF_DISPLAY_DRM_X11)
        renderer = new (std::nothrow) kelmf_renderer_drm_x11_t(display_system, window_system);
    else
        renderer = new (std::nothrow) kelmf_renderer_opengl_t(display_system, window_system);
    if (!renderer) {
        std::free(cell);
        return KELMF_NO_MEMORY;
    }
    *cell = renderer;
    *handle = cell;
    return KELMF_OK;
}

uint32_t kelmf_renderer_new(kelmf_renderer_handle_t** handle)
{
    ensureDebug();
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I version:%s\n", kVersion);
    if (g_kelmf_using_x11_drm != 0) {
        KEL_LOG(true, "[KMFR]I using enhanced X11\n");
        return kelmf_renderer_new2(handle, KELMF_DISPLAY_DRM_X11, KELMF_WINDOW_SYSTEM_DEFAULT);
    }
    return kelmf_renderer_new2(handle, KELMF_DISPLAY_X11, KELMF_WINDOW_SYSTEM_DEFAULT);
}

uint32_t kelmf_renderer_delete(kelmf_renderer_handle_t* handle)
{
    KEL_LOG(KEL_API_ON, "[KMFR]A delete()\n");
    if (!handle)
        return KELMF_NULL_HANDLE;
    delete object(handle);
    std::free(handle);
    return KELMF_OK;
}

uint32_t kelmf_renderer_start(kelmf_renderer_handle_t* handle)
{
    KEL_LOG(KEL_API_ON, "[KMFR]A start()\n");
    KELMF_CHECK(handle);
    return object(handle)->start();
}

uint32_t kelmf_renderer_stop(kelmf_renderer_handle_t* handle)
{
    KEL_LOG(KEL_API_ON, "[KMFR]A stop()\n");
    KELMF_CHECK(handle);
    return object(handle)->stop();
}

uint32_t kelmf_renderer_map_next_video_frame(kelmf_renderer_handle_t* handle, void* planes[4])
{
    KELMF_CHECK(handle);
    if (!planes)
        return KELMF_BAD_ARGUMENT;
    return object(handle)->map_next_video_frame(*reinterpret_cast<void* (*)[4]>(planes));
}

uint32_t kelmf_renderer_unmap_video_frame(kelmf_renderer_handle_t* handle)
{
    KELMF_CHECK(handle);
    return object(handle)->unmap_video_frame();
}

uint32_t kelmf_renderer_set_video_frame(kelmf_renderer_handle_t* handle, void** planes, int* strides)
{
    KELMF_CHECK(handle);
    return object(handle)->set_video_frame(planes, strides, nullptr, nullptr);
}

uint32_t kelmf_renderer_set_display_server(kelmf_renderer_handle_t* handle, void* display)
{
    KEL_LOG(KEL_API_ON, "[KMFR]A set_display_server(%p)\n", display);
    KELMF_CHECK(handle);
    return object(handle)->set_display_server(display);
}

uint32_t kelmf_renderer_set_display_target(kelmf_renderer_handle_t* handle, void* window)
{
    KEL_LOG(KEL_API_ON, "[KMFR]A set_display_target(%p)\n", window);
    KELMF_CHECK(handle);
    return object(handle)->set_display_target(window);
}

uint32_t kelmf_renderer_set_display_property(kelmf_renderer_handle_t* handle, int width, int height,
                                             kelmf_image_format_t format)
{
    KEL_LOG(KEL_API_ON, "[KMFR]A set_display_property(%dx%d %08x)\n", width, height, static_cast<unsigned>(format));
    KELMF_CHECK(handle);
    return object(handle)->set_display_property(width, height, format);
}

uint32_t kelmf_renderer_set_video_property(kelmf_renderer_handle_t* handle, int width, int height,
                                           kelmf_image_format_t format)
{
    KEL_LOG(KEL_API_ON, "[KMFR]A set_video_property(%dx%d %08x)\n", width, height, static_cast<unsigned>(format));
    KELMF_CHECK(handle);
    return object(handle)->set_video_property(width, height, format);
}

uint32_t kelmf_renderer_get_background_color(kelmf_renderer_handle_t* handle, unsigned long* color)
{
    KELMF_CHECK(handle);
    if (!color)
        return KELMF_BAD_ARGUMENT;
    return object(handle)->get_background_color(color);
}

uint32_t kelmf_renderer_set_background_color(kelmf_renderer_handle_t* handle, unsigned long color)
{
    KEL_LOG(KEL_API_ON, "[KMFR]A set_background_color(%08x)\n", static_cast<unsigned>(color & 0xffffffffUL));
    KELMF_CHECK(handle);
    return object(handle)->set_background_color(color);
}

uint32_t kelmf_renderer_enable_hdr(kelmf_renderer_handle_t* handle, bool enable)
{
    KEL_LOG(KEL_API_ON, "[KMFR]A enable_hdr(%d)\n", enable ? 1 : 0);
    KELMF_CHECK(handle);
    return object(handle)->enable_hdr(enable);
}

uint32_t kelmf_renderer_set_hdr_metadata(kelmf_renderer_handle_t* handle, __kelmf_hdr_metadata_hdr10* m)
{
    // A null record is refused before anything reads it.
    if (!m) {
        KEL_LOG(KEL_API_ON, "[KMFR]A set_hdr_metadata(null)\n");
        KELMF_CHECK(handle);
        return KELMF_BAD_ARGUMENT;
    }
    KEL_LOG(KEL_API_ON, "[KMFR]A set_hdr_metadata(r%d.%d g%d.%d b%d.%d w%d.%d l%d.%d.%d.%d)\n", m->red_x, m->red_y,
            m->green_x, m->green_y, m->blue_x, m->blue_y, m->white_x, m->white_y, static_cast<int>(m->max_luminance),
            static_cast<int>(m->min_luminance), m->max_content_light_level, m->max_frame_average_light_level);
    KELMF_CHECK(handle);
    return object(handle)->set_hdr_metadata(*m);
}

uint32_t kelmf_renderer_set_gpudirect(kelmf_renderer_handle_t* handle, bool enable)
{
    KEL_LOG(KEL_API_ON, "[KMFR]A set_gpudirect( %d )\n", enable ? 1 : 0);
    KELMF_CHECK(handle);
    return object(handle)->set_gpudirect(enable);
}

uint32_t kelmf_renderer_render_frame_from_queue(kelmf_renderer_handle_t* handle, bool wait)
{
    KELMF_CHECK(handle);
    return object(handle)->render_frame_from_queue(wait);
}

uint32_t kelmf_renderer_get_display_number(kelmf_renderer_handle_t* handle, int* count)
{
    KELMF_CHECK(handle);
    if (!count)
        return KELMF_BAD_ARGUMENT;
    return object(handle)->get_display_number(count);
}

uint32_t kelmf_renderer_display_get_mode(kelmf_renderer_handle_t* handle, unsigned index, unsigned long* width,
                                         unsigned long* height, double* rate)
{
    KELMF_CHECK(handle);
    return object(handle)->display_get_mode(index, width, height, rate);
}

uint32_t kelmf_renderer_display_set_mode(kelmf_renderer_handle_t* handle, unsigned index, unsigned long width,
                                         unsigned long height, double rate)
{
    KEL_LOG(KEL_API_ON, "[KMFR]A display_set_mode(%dx%d %lf)\n", static_cast<int>(width), static_cast<int>(height),
            rate);
    KELMF_CHECK(handle);
    return object(handle)->display_set_mode(index, width, height, rate);
}

uint32_t kelmf_renderer_create_window(kelmf_renderer_handle_t* handle, unsigned* id, kel_plane_type_e plane)
{
    KEL_LOG(KEL_API_ON, "[KMFR]A create_window(%d)\n", static_cast<int>(plane));
    KELMF_CHECK(handle);
    if (!id)
        return KELMF_BAD_ARGUMENT;
    return object(handle)->create_window(id, plane);
}

uint32_t kelmf_renderer_window_get_geometry(kelmf_renderer_handle_t* handle, unsigned id, unsigned long* x,
                                            unsigned long* y, unsigned long* width, unsigned long* height)
{
    KELMF_CHECK(handle);
    return object(handle)->window_get_geometry(id, x, y, width, height);
}

uint32_t kelmf_renderer_window_set_geometry(kelmf_renderer_handle_t* handle, unsigned id, unsigned long x,
                                            unsigned long y, unsigned long width, unsigned long height)
{
    KEL_LOG(KEL_API_ON, "[KMFR]A window_set_geometry(%d: %d,%d %dx%d)\n", static_cast<int>(id), static_cast<int>(x),
            static_cast<int>(y), static_cast<int>(width), static_cast<int>(height));
    KELMF_CHECK(handle);
    return object(handle)->window_set_geometry(id, x, y, width, height);
}

uint32_t kelmf_renderer_window_set_frame(kelmf_renderer_handle_t* handle, unsigned id, void** planes, int* strides,
                                         kelmf_frame_release_t release, void* user)
{
    if (!handle || !*handle) {
        // A refused frame still ends its life here.
        if (release)
            release(planes, strides, user);
        return KELMF_NULL_HANDLE;
    }
    return object(handle)->window_set_frame(id, planes, strides, release, user);
}

uint32_t kelmf_renderer_window_set_video_property(kelmf_renderer_handle_t* handle, unsigned id, unsigned long width,
                                                  unsigned long height, kelmf_image_format_t format)
{
    KEL_LOG(KEL_API_ON, "[KMFR]A window_set_video_property(%d: %dx%d %08x)\n", static_cast<int>(id),
            static_cast<int>(width), static_cast<int>(height), static_cast<unsigned>(format));
    KELMF_CHECK(handle);
    return object(handle)->window_set_video_property(id, width, height, format);
}

uint32_t kelmf_renderer_window_destroy(kelmf_renderer_handle_t* handle, unsigned id)
{
    KEL_LOG(KEL_API_ON, "[KMFR]A window_destroy(%d)\n", static_cast<int>(id));
    KELMF_CHECK(handle);
    return object(handle)->window_destroy(id);
}

} // extern "C"
