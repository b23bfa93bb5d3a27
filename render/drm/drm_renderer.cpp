// The DRM backend: master-mode compositor and its KMS event thread.
#include "drm_renderer.h"

#include <chrono>
#include <thread>

#include "log.h"

kelmf_renderer_drm_t::kelmf_renderer_drm_t(kelmf_display_system_t display, kelmf_graphic_window_system_t window)
    : kelmf_drm_forwarding_renderer_t(new kelmf_drm_compositor_t),
      m_ownCompositor(m_compositor),
      m_display_system(display),
      m_window_system(window)
{
    m_compositor->init(true);
}

kelmf_renderer_drm_t::~kelmf_renderer_drm_t()
{
    // A renderer deleted while started stops fully first; the compositor then closes the
    // device, giving up the descriptor and DRM master.
    {
        auto lock = lockCallingIn(m_mutex);  // a release callback may be the caller
        if (m_running.load() || m_threadStarted)
            stopLock();
    }
    m_ownCompositor.reset();
}

void* kelmf_renderer_drm_t::drm_event_loop(void* renderer)
{
    auto* self = static_cast<kelmf_renderer_drm_t*>(renderer);
    while (self->m_running.load()) {
        // With no device (or nothing pending) this is only the pause.
        if (self->m_compositor->handleKmsEvent() <= 0)
            std::this_thread::sleep_for(std::chrono::microseconds(3000));
    }
    return nullptr;
}

uint32_t kelmf_renderer_drm_t::start()
{
    auto lock = lockCallingIn(m_mutex);  // a release callback may be the caller
    if (m_running.load())
        return KELMF_OK;
    m_compositor->start();
    m_running.store(true);
    if (pthread_create(&m_thread, nullptr, drm_event_loop, this) == 0)
        m_threadStarted = true;
    else
        m_running.store(false);
    return KELMF_OK;
}

uint32_t kelmf_renderer_drm_t::stop()
{
    auto lock = lockCallingIn(m_mutex);  // a release callback may be the caller
    return stopLock();
}

uint32_t kelmf_renderer_drm_t::stopLock()
{
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I ddrm: stop compositor\n");
    m_compositor->stop();
    m_running.store(false);
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I ddrm: stop event\n");
    if (m_threadStarted) {
        pthread_join(m_thread, nullptr);
        m_threadStarted = false;
    }
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I ddrm: stop done\n");
    return KELMF_OK;
}
