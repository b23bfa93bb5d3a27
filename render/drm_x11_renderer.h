// The DRM+X11 backend (display system 5, the default of kelmf_renderer_new): one window of
// the process-wide client-mode compositor, kept on the screen rectangle of an X11 window.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

#include "drm_compositor.h"
#include "renderer_interface.h"

class kelmf_x11_display_t;
class kelmf_x11_window_t;

// The compositor shared by every DRM+X11 renderer of the process, created on first use.
kelmf_drm_compositor_t* getCompositorInstance();

class kelmf_renderer_drm_x11_t : public kelmf_renderer_interface {
public:
    kelmf_renderer_drm_x11_t(kelmf_display_system_t display, kelmf_graphic_window_system_t window);
    ~kelmf_renderer_drm_x11_t() override;

    uint32_t set_display_target(void* window) override;
    uint32_t set_display_property(int, int, kelmf_image_format_t) override { return KELMF_OK; }
    uint32_t set_video_property(int width, int height, kelmf_image_format_t format) override;
    uint32_t get_background_color(unsigned long*) override { return KELMF_NOT_SUPPORTED; }
    uint32_t set_background_color(unsigned long) override { return KELMF_NOT_SUPPORTED; }
    uint32_t start() override;
    uint32_t stop() override;
    uint32_t set_video_frame(void** planes, int* strides, kelmf_frame_release_t release, void* user) override
    {
        return m_compositor->window_set_frame(m_id, planes, strides, release, user);
    }
    uint32_t enable_hdr(bool) override { return KELMF_NOT_SUPPORTED; }
    uint32_t set_hdr_metadata(__kelmf_hdr_metadata_hdr10&) override { return KELMF_NOT_SUPPORTED; }
    uint32_t set_gpudirect(bool) override { return KELMF_OK; }
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
    uint32_t set_display_server(void* display) override;
    uint32_t map_next_video_frame(void* (&planes)[4]) override
    {
        (void)planes;
        return KELMF_NOT_IMPLEMENTED;
    }
    uint32_t unmap_video_frame() override { return KELMF_NOT_IMPLEMENTED; }
    uint32_t render_frame_from_queue(bool) override { return KELMF_NOT_IMPLEMENTED; }

    virtual uint32_t stopLock();
    virtual uint32_t init_window_position();

private:
    uint32_t __start_x11_system();
    static void __window_config_change(int x, int y, int width, int height, void* user);
    static void __window_delete(void* user);
    static void drm_event_loop(kelmf_renderer_drm_x11_t* renderer);

    std::thread m_thread;
    std::atomic<bool> m_running{false};
    std::mutex m_mutex;
    // Every Xlib call on this renderer's connection, from the caller and the event thread.
    std::recursive_mutex m_x11Mutex;
    kelmf_drm_compositor_t* m_compositor;
    kelmf_display_system_t m_display_system;
    kelmf_graphic_window_system_t m_window_system;
    kelmf_image_format_t m_video_format = NV12;
    int m_video_width = 1920;
    int m_video_height = 1080;
    kelmf_image_format_t m_window_format = NV12;
    unsigned long m_x = 0, m_y = 0, m_width = 1920, m_height = 1080;
    double m_rate = 0;
    double m_vsync_interval = 0;
    uint32_t m_id = 0;
    bool m_windowAlive = false;
    kelmf_x11_display_t* m_display = nullptr;
    kelmf_x11_window_t* m_window = nullptr;
};
