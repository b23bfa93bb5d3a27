// What the two DRM backends share: displays and windows are the compositor's, passed on
// unchanged, and the calls neither backend takes answer the same.
#pragma once

#include "drm_compositor.h"
#include "renderer_interface.h"

class kelmf_drm_forwarding_renderer_t : public kelmf_renderer_interface {
public:
    uint32_t get_background_color(unsigned long*) override { return KELMF_NOT_SUPPORTED; }
    uint32_t set_background_color(unsigned long) override { return KELMF_NOT_SUPPORTED; }
    uint32_t enable_hdr(bool) override { return KELMF_NOT_SUPPORTED; }
    uint32_t set_hdr_metadata(__kelmf_hdr_metadata_hdr10&) override { return KELMF_NOT_SUPPORTED; }
    uint32_t get_display_number(int* count) override { return m_compositor->get_display_number(count); }
    uint32_t display_get_mode(unsigned index, unsigned long* width, unsigned long* height, double* rate) override
    {
        return m_compositor->display_get_mode(index, width, height, rate);
    }
    uint32_t display_set_mode(unsigned index, unsigned long width, unsigned long height, double rate) override
    {
        return m_compositor->display_set_mode(index, width, height, rate);
    }
    uint32_t create_window(unsigned* id, kel_plane_type_e plane) override
    {
        return m_compositor->create_window(id, plane);
    }
    uint32_t window_get_geometry(unsigned id, unsigned long* x, unsigned long* y, unsigned long* width,
                                 unsigned long* height) override
    {
        return m_compositor->window_get_geometry(id, x, y, width, height);
    }
    uint32_t window_set_geometry(unsigned id, unsigned long x, unsigned long y, unsigned long width,
                                 unsigned long height) override
    {
        return m_compositor->window_set_geometry(id, x, y, width, height);
    }
    uint32_t window_set_frame(unsigned id, void** planes, int* strides, kelmf_frame_release_t release,
                              void* user) override
    {
        return m_compositor->window_set_frame(id, planes, strides, release, user);
    }
    uint32_t window_set_video_property(unsigned id, unsigned long width, unsigned long height,
                                       kelmf_image_format_t format) override
    {
        return m_compositor->window_set_video_property(id, width, height, format);
    }
    uint32_t window_destroy(unsigned id) override { return m_compositor->window_destroy(id); }
    uint32_t map_next_video_frame(void* (&planes)[4]) override
    {
        (void)planes;
        return KELMF_NOT_IMPLEMENTED;
    }
    uint32_t unmap_video_frame() override { return KELMF_NOT_IMPLEMENTED; }
    uint32_t render_frame_from_queue(bool) override { return KELMF_NOT_IMPLEMENTED; }

protected:
    // The compositor is not owned here: the caller keeps it alive while this object lives.
    explicit kelmf_drm_forwarding_renderer_t(kelmf_drm_compositor_t* compositor) : m_compositor(compositor) {}

    kelmf_drm_compositor_t* const m_compositor;
};
