// The DRM backend (display system 4): a compositor of its own in master mode, with a KMS
// event thread; displays and windows are the compositor's, unchanged.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "drm_forwarding_renderer.h"

class kelmf_renderer_drm_t : public kelmf_drm_forwarding_renderer_t {
public:
    kelmf_renderer_drm_t(kelmf_display_system_t display, kelmf_graphic_window_system_t window);
    ~kelmf_renderer_drm_t() override;

    uint32_t set_display_target(void*) override { return KELMF_NOT_IMPLEMENTED; }
    uint32_t set_display_property(int, int, kelmf_image_format_t) override { return KELMF_NOT_IMPLEMENTED; }
    uint32_t set_video_property(int, int, kelmf_image_format_t) override { return KELMF_NOT_IMPLEMENTED; }
    uint32_t start() override;
    uint32_t stop() override;
    uint32_t set_video_frame(void** planes, int* strides, kelmf_frame_release_t release, void* user) override
    {
        // Nothing takes the frame, so it ends here.
        if (release)
            release(planes, strides, user);
        return KELMF_NOT_IMPLEMENTED;
    }
    uint32_t set_gpudirect(bool) override { return KELMF_NOT_SUPPORTED; }
    uint32_t set_display_server(void*) override { return KELMF_NOT_IMPLEMENTED; }

    virtual uint32_t stopLock();

private:
    static void* drm_event_loop(void* renderer);

    // The compositor of this renderer alone; the base class forwards to it.
    std::unique_ptr<kelmf_drm_compositor_t> m_ownCompositor;
    kelmf_display_system_t m_display_system;
    kelmf_graphic_window_system_t m_window_system;
    std::mutex m_mutex;
    std::atomic<bool> m_running{false};
    bool m_threadStarted = false;
    pthread_t m_thread{};
};

