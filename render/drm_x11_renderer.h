// The DRM+X11 backend (display system 5, the default of kelmf_renderer_new): one window of
// the process-wide client-mode compositor, kept on the screen rectangle of an X11 window.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

#include "drm_forwarding_renderer.h"

class kelmf_x11_display_t;
class kelmf_x11_window_t;

// The compositor shared by every DRM+X11 renderer of the process, created on first use.
kelmf_drm_compositor_t* getCompositorInstance();

class kelmf_renderer_drm_x11_t : public kelmf_drm_forwarding_renderer_t {
public:
    kelmf_renderer_drm_x11_t(kelmf_display_system_t display, kelmf_graphic_window_system_t window);
    ~kelmf_renderer_drm_x11_t() override;

    uint32_t set_display_target(void* window) override;
    uint32_t set_display_property(int, int, kelmf_image_format_t) override { return KELMF_OK; }
    uint32_t set_video_property(int width, int height, kelmf_image_format_t format) override;
    uint32_t start() override;
    uint32_t stop() override;
    uint32_t set_video_frame(void** planes, int* strides, kelmf_frame_release_t release, void* user) override
    {
        return m_compositor->window_set_frame(m_id, planes, strides, release, user);
    }
    uint32_t set_gpudirect(bool) override { return KELMF_OK; }
    uint32_t set_display_server(void* display) override;

    virtual uint32_t stopLock();
    virtual uint32_t init_window_position();

private:
    uint32_t __start_x11_system();
    // Gives up the X11 window and display; only a connection opened here is closed, one the
    // caller handed in stays the caller's.
    void dropX11();
    static void __window_config_change(int x, int y, int width, int height, void* user);
    static void __window_delete(void* user);
    static void drm_event_loop(kelmf_renderer_drm_x11_t* renderer);

    std::thread m_thread;
    std::atomic<bool> m_running{false};
    std::mutex m_mutex;
    // Every Xlib call on this renderer's connection, from the caller and the event thread.
    std::recursive_mutex m_x11Mutex;
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
