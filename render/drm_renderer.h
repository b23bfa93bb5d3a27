// The DRM backend (display system 4): a compositor of its own in master mode, with a KMS
// event thread; displays and windows are the compositor's, unchanged.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "renderer_interface.h"


#include "drm_compositor.h"

class kelmf_renderer_drm_t : public kelmf_renderer_interface {
public:
    kelmf_renderer_drm_t(kelmf_display_system_t display, kelmf_graphic_window_system_t window);
    ~kelmf_renderer_drm_t() override;

    uint32_t set_display_target(void*) override { return KELMF_NOT_IMPLEMENTED; }
    uint32_t set_display_property(int, int, kelmf_image_format_t) override { return KELMF_NOT_IMPLEMENTED; }
    uint32_t set_video_property(int, int, kelmf_image_format_t) override { return KELMF_NOT_IMPLEMENTED; }
    uint32_t get_background_color(unsigned long*) override { return KELMF_NOT_SUPPORTED; }
    uint32_t set_background_color(unsigned long) override { return KELMF_NOT_SUPPORTED; }
    uint32_t start() override;
    uint32_t stop() override;
    uint32_t set_video_frame(void** planes, int* strides, kelmf_frame_release_t release, void* user) override
    {
        // Nothing takes the frame, so it ends here.
        if (release)
            release(planes, strides, user);
        return KELMF_NOT_IMPLEMENTED;
    }
    uint32_t enable_hdr(bool) override { return KELMF_NOT_SUPPORTED; }
    uint32_t set_hdr_metadata(__kelmf_hdr_metadata_hdr10&) override { return KELMF_NOT_SUPPORTED; }
    uint32_t set_gpudirect(bool) override { return KELMF_NOT_SUPPORTED; }
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
    uint32_t set_display_server(void*) override { return KELMF_NOT_IMPLEMENTED; }
    uint32_t map_next_video_frame(void* (&planes)[4]) override
    {
        (void)planes;
        return KELMF_NOT_IMPLEMENTED;
    }
    uint32_t unmap_video_frame() override { return KELMF_NOT_IMPLEMENTED; }
    uint32_t render_frame_from_queue(bool) override { return KELMF_NOT_IMPLEMENTED; }

    virtual uint32_t stopLock();

private:
    static void* drm_event_loop(void* renderer);

    std::unique_ptr<kelmf_drm_compositor_t> m_compositor;
    kelmf_display_system_t m_display_system;
    kelmf_graphic_window_system_t m_window_system;
    std::mutex m_mutex;
    std::atomic<bool> m_running{false};
    bool m_threadStarted = false;
    pthread_t m_thread{};
};

