// The DRM+X11 backend: a client of the shared compositor that follows an X11 window.
#include "drm_x11_renderer.h"

#include <chrono>
#include <system_error>

#include "log.h"
#include "x11_display.h"

namespace {

std::once_flag compositor_flag;
kelmf_drm_compositor_t* CompositorInstance = nullptr;

void init_compositor()
{
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I create compositor instance\n");
    CompositorInstance = new kelmf_drm_compositor_t;
}

}  // namespace

kelmf_drm_compositor_t* getCompositorInstance()
{
    std::call_once(compositor_flag, init_compositor);
    return CompositorInstance;
}

kelmf_renderer_drm_x11_t::kelmf_renderer_drm_x11_t(kelmf_display_system_t display,
                                                   kelmf_graphic_window_system_t window)
    : kelmf_drm_forwarding_renderer_t(getCompositorInstance()), m_display_system(display), m_window_system(window)
{
    m_compositor->init(false);
    if (m_compositor->create_window(&m_id, KEL_PLANE_PRIMARY) != KELMF_OK)
        KEL_LOG(true, "[KMFR]E init: can't allocate composite window id\n");
    else
        m_windowAlive = true;
}

kelmf_renderer_drm_x11_t::~kelmf_renderer_drm_x11_t()
{
    {
        auto lock = lockCallingIn(m_mutex);  // a release callback may be the caller
        if (m_running.load() || m_thread.joinable()) {
            stopLock();
        } else if (m_windowAlive) {
            // Never started or already stopped: the window id goes back all the same.
            m_compositor->window_destroy(m_id);
            m_windowAlive = false;
        }
    }
    dropX11();
}

void kelmf_renderer_drm_x11_t::dropX11()
{
    std::lock_guard<std::recursive_mutex> x11(m_x11Mutex);
    if (m_window) {
        if (m_display)
            m_display->unsetupWindow(m_window);
        delete m_window;
        m_window = nullptr;
    }
    if (m_display) {
        if (m_display->ownsConnection())
            m_display->close();
        delete m_display;
        m_display = nullptr;
    }
}

uint32_t kelmf_renderer_drm_x11_t::set_display_target(void* window)
{
    {
        std::lock_guard<std::recursive_mutex> x11(m_x11Mutex);
        if (!m_window)
            m_window = new kelmf_x11_window_t(reinterpret_cast<Window>(window));
        else
            m_window->setNative(window);
        m_window->setDisplay(m_display);
    }
    init_window_position();
    return KELMF_OK;
}

uint32_t kelmf_renderer_drm_x11_t::set_display_server(void* display)
{
    std::lock_guard<std::recursive_mutex> x11(m_x11Mutex);
    if (!m_display)
        m_display = new kelmf_x11_display_t(display, false);
    else
        m_display->setNative(display);
    if (m_window)
        m_window->setDisplay(m_display);
    return KELMF_OK;
}

uint32_t kelmf_renderer_drm_x11_t::set_video_property(int width, int height, kelmf_image_format_t)
{
    m_video_width = width;
    m_video_height = height;
    m_video_format = NV12;
    m_compositor->window_set_video_property(m_id, static_cast<unsigned long>(width),
                                            static_cast<unsigned long>(height), NV12);
    return KELMF_OK;
}

uint32_t kelmf_renderer_drm_x11_t::init_window_position()
{
    unsigned long x = 0, y = 0, width = 0, height = 0;
    {
        std::lock_guard<std::recursive_mutex> x11(m_x11Mutex);
        if (m_display && m_window) {
            long wx = 0, wy = 0;
            m_window->getGeometry(&wx, &wy, &width, &height);
            // As read: a window partly off the left or top edge is cropped there, not moved.
            x = static_cast<unsigned long>(wx);
            y = static_cast<unsigned long>(wy);
            m_x = x;
            m_y = y;
            m_width = width;
            m_height = height;
            m_window_format = NV12;
        }
    }
    m_compositor->window_set_geometry(m_id, x, y, width, height);
    return KELMF_OK;
}

void kelmf_renderer_drm_x11_t::__window_config_change(int, int, int, int, void* user)
{
    static_cast<kelmf_renderer_drm_x11_t*>(user)->init_window_position();
}

void kelmf_renderer_drm_x11_t::__window_delete(void*)
{
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I window delete\n");
}

uint32_t kelmf_renderer_drm_x11_t::__start_x11_system()
{
    std::lock_guard<std::recursive_mutex> x11(m_x11Mutex);
    KEL_LOG(KEL_API_ON, "[KMFR]A kelmf_renderer_start %p %p x11 \n", static_cast<void*>(m_display),
            static_cast<void*>(m_window));
    if (!m_display) {
        m_display = new kelmf_x11_display_t(nullptr, false);
        KEL_LOG(KEL_API_ON, "[KMFR]A kelmf_renderer_start: open new X11 server %p\n", static_cast<void*>(m_display));
    }
    if (!m_window)
        return KELMF_BAD_ARGUMENT;
    m_window->setDisplay(m_display);
    m_display->getRefreshRateAndVsyncInterval(m_rate, m_vsync_interval);
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I display rate:%6.2f vsync:%6.4f\n", m_rate, m_vsync_interval);
    m_display->registerWindowConfigCallback(__window_config_change, this);
    m_display->registerWindowDeleteCallback(__window_delete, this);
    return static_cast<uint32_t>(m_display->setupWindow(m_window));
}

void kelmf_renderer_drm_x11_t::drm_event_loop(kelmf_renderer_drm_x11_t* renderer)
{
    while (renderer->m_running.load()) {
        int handled;
        {
            std::lock_guard<std::recursive_mutex> x11(renderer->m_x11Mutex);
            handled = renderer->m_display ? renderer->m_display->handleEvent() : 0;
        }
        if (handled <= 0)
            std::this_thread::sleep_for(std::chrono::microseconds(3000));
    }
}

uint32_t kelmf_renderer_drm_x11_t::start()
{
    auto lock = lockCallingIn(m_mutex);  // a release callback may be the caller
    if (m_running.load())
        return KELMF_OK;
    uint32_t result = __start_x11_system();
    if (result != KELMF_OK) {
        KEL_LOG(true, "[KMFR]W start: fail to init x11\n");
        return result;
    }
    init_window_position();
    m_compositor->start();
    m_running.store(true);
    m_thread = std::thread(drm_event_loop, this);
    return KELMF_OK;
}

uint32_t kelmf_renderer_drm_x11_t::stop()
{
    auto lock = lockCallingIn(m_mutex);  // a release callback may be the caller
    return stopLock();
}

uint32_t kelmf_renderer_drm_x11_t::stopLock()
{
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I ddrm: stop internal window\n");
    if (m_windowAlive) {
        m_compositor->window_destroy(m_id);
        m_windowAlive = false;
    }
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I ddrm: stop compositor\n");
    if (m_running.load())
        m_compositor->stop();
    m_running.store(false);
    if (m_thread.joinable()) {
        KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I ddrm: stop event\n");
        m_thread.join();
        KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I ddrm: stop done\n");
    }
    // A connection the caller handed in stays the caller's: only one opened here is closed.
    dropX11();
    return KELMF_OK;
}
