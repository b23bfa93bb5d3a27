// The DRM backend (display system 4). Until the compositor exists, the operations that
// forward to it answer 8; the slots the backend never supports already answer as final.
#pragma once

#include "renderer_interface.h"

class kelmf_renderer_drm_t : public kelmf_renderer_interface {
public:
    kelmf_renderer_drm_t(kelmf_display_system_t display, kelmf_graphic_window_system_t window)
        : m_display_system(display), m_window_system(window)
    {
    }
    ~kelmf_renderer_drm_t() override = default;

    uint32_t set_display_target(void*) override { return KELMF_NOT_IMPLEMENTED; }
    uint32_t set_display_property(int, int, kelmf_image_format_t) override { return KELMF_NOT_IMPLEMENTED; }
    uint32_t set_video_property(int, int, kelmf_image_format_t) override { return KELMF_NOT_IMPLEMENTED; }
    uint32_t get_background_color(unsigned long*) override { return KELMF_NOT_SUPPORTED; }
    uint32_t set_background_color(unsigned long) override { return KELMF_NOT_SUPPORTED; }
    uint32_t start() override { return KELMF_NOT_IMPLEMENTED; }
    uint32_t stop() override { return KELMF_NOT_IMPLEMENTED; }
    uint32_t set_video_frame(void**, int*, kelmf_frame_release_t, void*) override { return KELMF_NOT_IMPLEMENTED; }
    uint32_t enable_hdr(bool) override { return KELMF_NOT_SUPPORTED; }
    uint32_t set_hdr_metadata(__kelmf_hdr_metadata_hdr10&) override { return KELMF_NOT_SUPPORTED; }
    uint32_t set_gpudirect(bool) override { return KELMF_NOT_SUPPORTED; }
    // Forwarded to the compositor once it exists.
    uint32_t get_display_number(int*) override { return KELMF_NOT_IMPLEMENTED; }
    uint32_t display_get_mode(unsigned, unsigned long*, unsigned long*, double*) override
    {
        return KELMF_NOT_IMPLEMENTED;
    }
    uint32_t display_set_mode(unsigned, unsigned long, unsigned long, double) override
    {
        return KELMF_NOT_IMPLEMENTED;
    }
    uint32_t create_window(unsigned*, kel_plane_type_e) override { return KELMF_NOT_IMPLEMENTED; }
    uint32_t window_get_geometry(unsigned, unsigned long*, unsigned long*, unsigned long*, unsigned long*) override
    {
        return KELMF_NOT_IMPLEMENTED;
    }
    uint32_t window_set_geometry(unsigned, unsigned long, unsigned long, unsigned long, unsigned long) override
    {
        return KELMF_NOT_IMPLEMENTED;
    }
    uint32_t window_set_frame(unsigned, void** planes, int* strides, kelmf_frame_release_t release,
                              void* user) override
    {
        // Nothing takes the frame, so it ends here.
        if (release)
            release(planes, strides, user);
        return KELMF_NOT_IMPLEMENTED;
    }
    uint32_t window_set_video_property(unsigned, unsigned long, unsigned long, kelmf_image_format_t) override
    {
        return KELMF_NOT_IMPLEMENTED;
    }
    uint32_t window_destroy(unsigned) override { return KELMF_NOT_IMPLEMENTED; }
    uint32_t set_display_server(void*) override { return KELMF_NOT_IMPLEMENTED; }
    uint32_t map_next_video_frame(void* (&planes)[4]) override
    {
        (void)planes;
        return KELMF_NOT_IMPLEMENTED;
    }
    uint32_t unmap_video_frame() override { return KELMF_NOT_IMPLEMENTED; }
    uint32_t render_frame_from_queue(bool) override { return KELMF_NOT_IMPLEMENTED; }

private:
    kelmf_display_system_t m_display_system;
    kelmf_graphic_window_system_t m_window_system;
};
