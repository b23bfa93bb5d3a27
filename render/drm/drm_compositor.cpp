// The DRM compositor: displays, windows, start and stop, screen changes.
#include "drm_compositor.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <mutex>
#include <string>
#include <vector>

#include "klmf_ipp.h"
#include "log.h"
#include "x11_display.h"

namespace {

constexpr auto kIdlePause = std::chrono::microseconds(3000);
constexpr unsigned long kMaxModeSide = 16384;

bool fitsInt32(unsigned long v) { return v <= static_cast<unsigned long>(INT32_MAX); }
// A position may be left of or above the desktop: it comes in two's complement.
bool fitsSignedInt32(unsigned long v)
{
    const auto s = static_cast<long>(v);
    return s >= INT32_MIN && s <= INT32_MAX;
}

kelmf_display_t* makeX11DisplayServer() { return new kelmf_x11_display_t(nullptr, true); }
void destroyX11DisplayServer(kelmf_display_t* d) { delete static_cast<kelmf_x11_display_t*>(d); }

const kelmf_drm_compositor_t::display_server_factory_t kX11DisplayServer{makeX11DisplayServer,
                                                                          destroyX11DisplayServer};
std::atomic<const kelmf_drm_compositor_t::display_server_factory_t*> g_displayServerFactory{&kX11DisplayServer};

}  // namespace

class kelmf_drm_compositor_t::Busy {
public:
    Busy(kelmf_drm_compositor_t& c, Lock& lock) : m_c(c)
    {
        if (c.m_busy) {
            CallingIn mark;
            c.m_cond.wait(lock, [&c] { return !c.m_busy; });
        }
        c.m_busy = true;
    }
    ~Busy()
    {
        m_c.m_busy = false;
        m_c.m_cond.notify_all();
    }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    kelmf_drm_compositor_t& m_c;
};

void kelmf_drm_compositor_t::setDisplayServerFactory(const display_server_factory_t* factory)
{
    g_displayServerFactory.store(factory ? factory : &kX11DisplayServer);
}

void kelmf_drm_compositor_t::releaseDisplayServer()
{
    if (!m_displayServer)
        return;
    // Its own connection, opened by the first start.
    m_displayServer->close();
    m_destroyDisplayServer(m_displayServer);
    m_displayServer = nullptr;
}

kelmf_drm_compositor_t::~kelmf_drm_compositor_t()
{
    FrameList released;
    std::thread eventThread;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running.store(false);
        ++m_eventGeneration;
        eventThread = std::move(m_eventThread);
    }
    // Joined outside the mutex: a screen change in flight takes it.
    if (eventThread.joinable())
        eventThread.join();
    while (m_eventLoops.load() > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Lock lock(m_mutex);
    Busy busy(*this, lock);
    stopLock(lock, released);
    for (auto& window : m_windows) {
        if (!window)
            continue;
        delete window->worker;
        delete window;
        window = nullptr;
    }
    freeDisplayEntries();
    releaseDisplayServer();
    if (kelmo_mf_drm_modeset_t* device = m_device.exchange(nullptr))
        modeset_close(device);
}

uint32_t kelmf_drm_compositor_t::init(bool master)
{
    Lock lock(m_mutex);
    Busy busy(*this, lock);
    m_master = master;
    if (m_initialized)
        return KELMF_OK;
    // The variant words are plain process-wide words that other compositors' workers may be
    // reading: chosen once, before the first worker of the process starts.
    static std::once_flag variantChosen;
    std::call_once(variantChosen, [] { ippInit(); });
    kelmo_mf_drm_modeset_t* device = nullptr;
    if (modeset_open(&device, master) != 0) {
        KEL_LOG(true, "[KMFR]E drm_init: failed to init modeset\n");
        return KELMF_KMS_FAIL;
    }
    m_device.store(device);
    modeset_get_display_number(device, &m_displayCount);
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I kelmf_renderer: display %d\n", m_displayCount);
    buildDisplayEntries();
    m_initialized = true;
    return KELMF_OK;
}

void kelmf_drm_compositor_t::buildDisplayEntries()
{
    kelmo_mf_drm_modeset_t* device = m_device.load();
    if (!device)
        return;
    if (m_displayCount > kMaxDisplays)
        m_displayCount = kMaxDisplays;
    int built = 0;
    for (int i = 0; i < m_displayCount; ++i) {
        modeset_display_t* display = nullptr;
        if (modeset_get_display(device, i, &display) != 0)
            break;
        auto* entry = new display_entry_t{display, new CompositeThread(m_master, display)};
        entry->thread->m_compositeStat.setName("%s comp", display->name.c_str());
        entry->thread->m_flipStat.setName("%s flip", display->name.c_str());
        m_displays[i] = entry;
        built = i + 1;
    }
    m_displayCount = built;
}

void kelmf_drm_compositor_t::freeDisplayEntries()
{
    for (auto& entry : m_displays) {
        if (!entry)
            continue;
        delete entry->thread;
        delete entry;
        entry = nullptr;
    }
}

uint32_t kelmf_drm_compositor_t::start()
{
    FrameList released;
    uint32_t result = KELMF_OK;
    {
        Lock lock(m_mutex);
        Busy busy(*this, lock);
        ++m_clients;
        KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I start: client %d\n", m_clients);
        if (m_clients == 1) {
            // Master mode drives the outputs itself and needs no X server.
            if (!m_master && !m_displayServer) {
                const display_server_factory_t* factory = g_displayServerFactory.load();
                m_displayServer = factory->make();
                m_destroyDisplayServer = factory->destroy;
            }
            result = static_cast<uint32_t>(startLock(lock, released));
            if (result == 0) {
                m_running.store(true);
                if (!m_master) {
                    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I start: start event loop\n");
                    const int generation = m_eventGeneration;
                    ++m_eventLoops;
                    m_eventThread = std::thread([this, generation] {
                        compositor_event_loop(this, generation);
                        --m_eventLoops;  // the last touch of the compositor
                    });
                }
            }
        }
    }
    released.releaseAll();
    return result;
}

uint32_t kelmf_drm_compositor_t::stop()
{
    FrameList released;
    std::thread eventThread;
    {
        Lock lock(m_mutex);
        Busy busy(*this, lock);
        KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I stop: client %d\n", m_clients);
        --m_clients;
        if (m_clients > 0)
            return KELMF_OK;
        if (m_clients < 0) {
            KEL_LOG(true, "[KMFR]W stop: start and stop don't pair!!\n");
            m_clients = 0;
        }
        m_running.store(false);
        ++m_eventGeneration;
        stopLock(lock, released);
        eventThread = std::move(m_eventThread);
    }
    if (eventThread.joinable()) {
        KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I stop: stop event\n");
        // From a release callback on the event thread itself: it ends once that returns.
        if (eventThread.get_id() == std::this_thread::get_id())
            eventThread.detach();
        else
            eventThread.join();
        KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I stop: stop done\n");
    }
    {
        Lock lock(m_mutex);
        Busy busy(*this, lock);
        // Only when no start came in meanwhile and no event thread uses it.
        if (m_clients == 0 && !m_eventThread.joinable())
            releaseDisplayServer();
    }
    released.releaseAll();
    return KELMF_OK;
}

int kelmf_drm_compositor_t::startLock(Lock& lock, FrameList& released)
{
    kelmo_mf_drm_modeset_t* device = m_device.load();
    if (m_master) {
        int32_t x = 0;
        for (int i = 0; i < m_displayCount; ++i) {
            modeset_display_t* d = m_displays[i]->display;
            d->x = x;
            d->y = 0;
            d->width = static_cast<int32_t>(d->mode_width);
            d->height = static_cast<int32_t>(d->mode_height);
            // Enabled, so the composition runs on every display of the layout.
            d->enabled = true;
            x += d->width;
        }
    } else if (m_displayServer) {
        {
            std::lock_guard<std::mutex> x11(m_x11Mutex);
            m_displayServer->registerScreenConfigCallback(__screen_config_change, this);
        }
        for (int i = 0; i < m_displayCount; ++i) {
            modeset_display_t* d = m_displays[i]->display;
            KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I startLock: m_display_server %d / %d %p %s\n", i, m_displayCount,
                    static_cast<void*>(m_displayServer), d->name.c_str());
            int gx = 0, gy = 0, gw = 0, gh = 0;
            int found;
            {
                std::lock_guard<std::mutex> x11(m_x11Mutex);
                found = m_displayServer->GetOutputGeometry(d->name, gx, gy, gw, gh);
            }
            if (found != 0)
                gx = gy = gw = gh = 0;
            d->x = gx;
            d->y = gy;
            d->width = gw;
            d->height = gh;
            d->enabled = found == 0;
            KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I startLock: display %d %d,%d %dx%d %s\n", i, gx, gy, gw, gh,
                    d->enabled ? "Enable" : "Disable");
            if (d->enabled && gw > 0 && gh > 0 &&
                (static_cast<uint32_t>(gw) != d->mode_width || static_cast<uint32_t>(gh) != d->mode_height)) {
                KEL_LOG(true, "[KMFR]W startLock: x11 geometry mistach %d %s %dx%d != %dx%d\n", i, d->name.c_str(),
                        gw, gh, d->mode_width, d->mode_height);
                if (modeset_display_set_mode(device, d, static_cast<unsigned>(gw), static_cast<unsigned>(gh), 0) != 0)
                    KEL_LOG(true, "[KMFR]W startLock: set_mode display %d %dx%d fail\n", i, gw, gh);
                m_displays[i]->thread->resetRing();
            }
        }
    }
    for (unsigned id = 1; id < kMaxWindows; ++id) {
        if (!m_windows[id])
            continue;
        m_windows[id]->worker->setWindowId(static_cast<int>(id));
        window_assign_display_by_geometry(lock, id, m_windows[id], released);
    }
    for (int i = 0; i < m_displayCount; ++i) {
        display_entry_t* entry = m_displays[i];
        KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I startLock: display %d composite %d %s\n", i,
                entry->thread->getCompositeType(), entry->display->enabled ? "Enable" : "Disable");
        if (entry->display->enabled) {
            entry->thread->start();
            modeset_display_start(entry->display);
        }
    }
    return 0;
}

void kelmf_drm_compositor_t::stopWindow(Lock& lock, kelmf_drm_window_t* window, FrameList& released)
{
    ConvertThread* worker = window->worker;
    // Joined first: the worker reads its compositor pointer while it runs. The mutex is let
    // go while it ends, since a release callback on it may call in.
    worker->stopRequest(released);
    for (;;) {
        if (worker->exited()) {
            worker->joinStopped(released);
            if (compositor_t* comp = worker->compositor())
                comp->removeProvider(worker);
            return;
        }
        if (worker->blockedOnCaller()) {
            // Inside a release callback that is this very call, or that waits for a turn
            // this call holds: it is done with its display, so it is not waited for. It ends
            // and frees itself once the callback returns; the window gets a stopped worker.
            if (compositor_t* comp = worker->compositor())
                comp->removeProvider(worker);
            ConvertThread* next = worker->successor();
            if (worker->leaveBehind(ConvertThread::reap)) {
                window->worker = next;
                return;
            }
            delete next;  // it ended first: joined on the next round
            continue;
        }
        m_cond.wait_for(lock, std::chrono::milliseconds(1));
    }
}

void kelmf_drm_compositor_t::stopLock(Lock& lock, FrameList& released)
{
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I stopLock: stop convert\n");
    for (unsigned id = 1; id < kMaxWindows; ++id) {
        if (!m_windows[id])
            continue;
        if (m_windows[id]) {
            stopWindow(lock, m_windows[id], released);
            m_windows[id]->display = -1;
        }
    }
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I stopLock: stop composite\n");
    for (int i = 0; i < m_displayCount; ++i) {
        if (!m_displays[i])
            continue;
        modeset_display_stop(m_displays[i]->display);
        m_displays[i]->thread->stop();
    }
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I stopLock: stop composite done\n");
}

uint32_t kelmf_drm_compositor_t::reinit_display()
{
    FrameList released;
    {
        Lock lock(m_mutex);
        Busy busy(*this, lock);
        if (m_master) {
            KEL_LOG(true, "[KMFR]W reinit: should not call this on master mode\n");
            return KELMF_KMS_FAIL;
        }
        // A stop got here first: nothing runs any more.
        if (!m_running.load())
            return KELMF_OK;
        KEL_LOG(KEL_DISPLAY_ON(3), "[KMFR]I reinit: client:%d ++ master:%d\n", m_clients, 0);
        KEL_LOG(KEL_DISPLAY_ON(3), "[KMFR]I reinit: stop\n");
        m_running.store(false);
        stopLock(lock, released);
        freeDisplayEntries();
        KEL_LOG(KEL_DISPLAY_ON(3), "[KMFR]I reinit: get new info\n");
        kelmo_mf_drm_modeset_t* device = m_device.load();
        m_displayCount = 0;
        if (device) {
            modeset_get_display_info(device);
            modeset_get_display_number(device, &m_displayCount);
        }
        KEL_LOG(KEL_DISPLAY_ON(3), "[KMFR]I reinit: display %d\n", m_displayCount);
        buildDisplayEntries();
        KEL_LOG(KEL_DISPLAY_ON(3), "[KMFR]I reinit: start\n");
        startLock(lock, released);
        m_running.store(true);
        KEL_LOG(KEL_DISPLAY_ON(3), "[KMFR]I reinit: client:%d --\n", m_clients);
    }
    released.releaseAll();
    return KELMF_OK;
}

void kelmf_drm_compositor_t::__screen_config_change(int width, int height, void* compositor)
{
    KEL_LOG(KEL_DISPLAY_ON(3), "[KMFR]I screen resize event %dx%d\n", width, height);
    // Handled by the event loop once the X connection is free again.
    static_cast<kelmf_drm_compositor_t*>(compositor)->m_screenChanged.store(true);
}

int kelmf_drm_compositor_t::handleKmsEvent()
{
    kelmo_mf_drm_modeset_t* device = m_device.load();
    if (!device)
        return 0;
    // Only when an event is there to read: the read would block otherwise.
    pollfd pfd{device->fd, POLLIN, 0};
    if (poll(&pfd, 1, 0) <= 0 || !(pfd.revents & POLLIN))
        return 0;
    return modeset_event(device);
}

int kelmf_drm_compositor_t::compositor_event_loop(kelmf_drm_compositor_t* c, int generation)
{
    while (c->m_running.load() && c->m_eventGeneration.load() == generation) {
        const int r1 = c->handleKmsEvent();
        int r2 = 0;
        {
            std::lock_guard<std::mutex> x11(c->m_x11Mutex);
            if (c->m_displayServer)
                r2 = c->m_displayServer->handleEvent();
        }
        if (c->m_screenChanged.exchange(false))
            c->reinit_display();
        if (r1 <= 0 && r2 <= 0)
            std::this_thread::sleep_for(kIdlePause);
    }
    return 0;
}

uint32_t kelmf_drm_compositor_t::get_display_number(int* n)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (n)
        *n = m_device.load() ? m_displayCount : 0;
    return KELMF_OK;
}

uint32_t kelmf_drm_compositor_t::findDisplay(unsigned index, const char* operation, modeset_display_t** display)
{
    kelmo_mf_drm_modeset_t* device = m_device.load();
    if (!device || index > static_cast<unsigned>(m_displayCount))
        return KELMF_KMS_FAIL;
    if (modeset_get_display(device, static_cast<int>(index), display) != 0) {
        KEL_LOG(true, "[KMFR]E %s: bad display %d\n", operation, index);
        return KELMF_BAD_ARGUMENT;
    }
    return KELMF_OK;
}

uint32_t kelmf_drm_compositor_t::display_get_mode(unsigned index, unsigned long* width, unsigned long* height,
                                                  double* refresh)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    modeset_display_t* display = nullptr;
    if (const uint32_t status = findDisplay(index, "display_get_mode", &display))
        return status;
    if (width)
        *width = display->mode_width;
    if (height)
        *height = display->mode_height;
    if (refresh)
        *refresh = display->refresh;
    return KELMF_OK;
}

uint32_t kelmf_drm_compositor_t::display_set_mode(unsigned index, unsigned long width, unsigned long height,
                                                  double refresh)
{
    FrameList released;
    uint32_t result = KELMF_OK;
    {
        Lock lock(m_mutex);
        Busy busy(*this, lock);
        modeset_display_t* display = nullptr;
        if (const uint32_t status = findDisplay(index, "display_set_mode", &display))
            return status;
        kelmo_mf_drm_modeset_t* device = m_device.load();
        if (width == 0 || height == 0 || width > kMaxModeSide || height > kMaxModeSide || !(refresh >= 0) ||
            refresh > 1000) {
            KEL_LOG(true, "[KMFR]E display_set_mode: fail to set mode of display %d\n", index);
            return KELMF_BAD_ARGUMENT;
        }
        // The display's windows and composition stop around the rebuild: no worker may draw
        // into buffers that are being replaced.
        CompositeThread* thread = m_displays[index]->thread;
        const bool compositing = thread->isRunning();
        std::vector<unsigned> windows;
        for (unsigned id = 1; id < kMaxWindows; ++id) {
            if (m_windows[id] && m_windows[id]->display == static_cast<int32_t>(index)) {
                windows.push_back(id);
                stopWindow(lock, m_windows[id], released);
                m_windows[id]->display = -1;
            }
        }
        thread->stop();
        modeset_display_stop(display);
        const uint32_t oldWidth = display->mode_width, oldHeight = display->mode_height,
                       oldRefresh = display->refresh;
        if (modeset_display_set_mode(device, display, static_cast<unsigned>(width), static_cast<unsigned>(height),
                                     static_cast<unsigned>(refresh)) != 0) {
            KEL_LOG(true, "[KMFR]E display_set_mode: fail to set mode of display %d\n", index);
            result = KELMF_KMS_FAIL;
            // Back to the old mode and buffers.
            if (m_master) {
                if (modeset_output_select(display, static_cast<int>(oldWidth), static_cast<int>(oldHeight),
                                          static_cast<int>(oldRefresh)) == 0)
                    modeset_perform_modeset(device);
            } else {
                display->mode_width = oldWidth;
                display->mode_height = oldHeight;
            }
            modeset_display_buffer_destroy(display);
            modeset_display_buffer_create(display, display->mode_width, display->mode_height);
        }
        thread->resetRing();
        if (m_running.load()) {
            if (m_master) {
                // The layout follows the new sizes.
                int32_t x = 0;
                for (int i = 0; i < m_displayCount; ++i) {
                    modeset_display_t* d = m_displays[i]->display;
                    d->x = x;
                    d->width = static_cast<int32_t>(d->mode_width);
                    d->height = static_cast<int32_t>(d->mode_height);
                    x += d->width;
                }
            }
            if (compositing)
                thread->start();
            modeset_display_start(display);
            for (unsigned id : windows) {
                if (m_windows[id])
                    window_assign_display_by_geometry(lock, id, m_windows[id], released);
            }
        } else {
            modeset_display_start(display);
        }
    }
    released.releaseAll();
    return result;
}

uint32_t kelmf_drm_compositor_t::create_window(unsigned* id, kel_plane_type_e plane)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (unsigned i = 1; i < kMaxWindows; ++i) {
        if (m_windows[i])
            continue;
        auto* window = new kelmf_drm_window_t;
        window->format = plane == KEL_PLANE_PRIMARY ? static_cast<uint32_t>(NV12) : static_cast<uint32_t>(ARGB32);
        window->plane = plane;
        window->submit.setName("w %d submit", i);
        window->worker = new ConvertThread(window);
        window->worker->setWindowId(static_cast<int>(i));
        m_windows[i] = window;
        if (id)
            *id = i;
        return KELMF_OK;
    }
    return KELMF_NO_BUFFER;
}

uint32_t kelmf_drm_compositor_t::window_get_geometry(unsigned id, unsigned long* x, unsigned long* y,
                                                     unsigned long* width, unsigned long* height)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (id >= kMaxWindows || !m_windows[id])
        return KELMF_BAD_ARGUMENT;
    const kelmf_drm_window_t* w = m_windows[id];
    if (x)
        *x = w->x;
    if (y)
        *y = w->y;
    if (width)
        *width = w->width;
    if (height)
        *height = w->height;
    return KELMF_OK;
}

uint32_t kelmf_drm_compositor_t::window_set_geometry(unsigned id, unsigned long x, unsigned long y,
                                                     unsigned long width, unsigned long height)
{
    FrameList released;
    {
        Lock lock(m_mutex);
        Busy busy(*this, lock);
        if (!m_device.load())
            return KELMF_KMS_FAIL;
        if (id >= kMaxWindows || !m_windows[id])
            return KELMF_BAD_ARGUMENT;
        if (!fitsSignedInt32(x) || !fitsSignedInt32(y) || !fitsInt32(width) || !fitsInt32(height))
            return KELMF_BAD_ARGUMENT;
        kelmf_drm_window_t* window = m_windows[id];
        window->x = x;
        window->y = y;
        window->width = width;
        window->height = height;
        if (m_running.load())
            window_assign_display_by_geometry(lock, id, window, released);
        else
            KEL_LOG(KEL_DISPLAY_ON(3), "[KMFR]I set_geometry: set window %d to %d,%d %dx%d\n", id,
                    static_cast<int>(x), static_cast<int>(y), static_cast<int>(width), static_cast<int>(height));
    }
    released.releaseAll();
    return KELMF_OK;
}

int kelmf_drm_compositor_t::window_assign_display_by_geometry(Lock& lock, unsigned id,
                                                              kelmf_drm_window_t* window, FrameList& released)
{
    const int64_t x = static_cast<int64_t>(window->x), y = static_cast<int64_t>(window->y);
    const auto displayAt = [this](int64_t cx, int64_t cy) {
        for (int i = 0; i < m_displayCount; ++i) {
            const modeset_display_t* d = m_displays[i]->display;
            if (d->x <= cx && cx < int64_t(d->x) + d->width && d->y <= cy && cy < int64_t(d->y) + d->height)
                return i;
        }
        return -1;
    };
    int index = displayAt(x, y);
    // Partly left of or above the desktop: the display under the first visible corner.
    if (index < 0 && (x < 0 || y < 0)) {
        const int64_t cx = std::max<int64_t>(x, 0), cy = std::max<int64_t>(y, 0);
        if (cx < x + static_cast<int64_t>(window->width) && cy < y + static_cast<int64_t>(window->height))
            index = displayAt(cx, cy);
    }
    if (index < 0) {
        KEL_LOG(KEL_DISPLAY_ON(3), "[KMFR]I window %d not on any display \n", id);
        return 0;
    }
    display_entry_t* entry = m_displays[index];
    const auto px = static_cast<int32_t>(x - entry->display->x), py = static_cast<int32_t>(y - entry->display->y);
    const auto w = static_cast<int32_t>(window->width), h = static_cast<int32_t>(window->height);
    ConvertThread* worker = window->worker;
    if (index == window->display) {
        worker->setDestination(px, py, w, h);
    } else {
        KEL_LOG(KEL_DISPLAY_ON(3), "[KMFR]I window switch %d from %d to %d\n", id, window->display, index);
        stopWindow(lock, window, released);
        worker = window->worker;  // a new one when the old was left behind in a callback
        window->display = index;
        entry->thread->addProvider(worker);
        worker->setCompositor(entry->thread);
        worker->setDestination(px, py, w, h);
    }
    worker->start_if_stop(released);
    const modeset_display_t* d = entry->display;
    KEL_LOG(KEL_DISPLAY_ON(3), "[KMFR]I window %d is %s pos %d.%d %dx%d to %d.%d on display %d %d.%d %dx%d\n", id,
            window->plane != KEL_PLANE_PRIMARY ? "overlay" : "primary", static_cast<int>(x), static_cast<int>(y), w,
            h, px, py, index, d->x, d->y, d->width, d->height);
    return 0;
}

uint32_t kelmf_drm_compositor_t::window_set_video_property(unsigned id, unsigned long width, unsigned long height,
                                                           kelmf_image_format_t format)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (id >= kMaxWindows || !m_windows[id])
        return KELMF_BAD_ARGUMENT;
    kelmf_drm_window_t* window = m_windows[id];
    window->video_width = width;
    window->video_height = height;
    if (window->plane == KEL_PLANE_PRIMARY) {
        if (format != NV12)
            KEL_LOG(true, "[KMFR]W window_set_video_property: primary window only support NV12\n");
    } else if (window->plane == KEL_PLANE_OVERLAY) {
        if (format != ARGB32)
            KEL_LOG(true, "[KMFR]W window_set_video_property: overlay window only support ARGB32\n");
    } else {
        KEL_LOG(true, "[KMFR]W window_set_video_property: unknow plane type\n");
    }
    window->worker->formatChange(width, height, format);
    return KELMF_OK;
}

uint32_t kelmf_drm_compositor_t::window_set_frame(unsigned id, void** planes, int* strides,
                                                  kelmf_frame_release_t release, void* user)
{
    FrameList released;
    uint32_t result = KELMF_OK;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        PreviewFrame frame = PreviewFrame::of(planes, strides, release, user);
        if (id >= kMaxWindows || !m_windows[id]) {
            released.add(frame);
            result = KELMF_BAD_ARGUMENT;
        } else if (!m_running.load()) {
            released.add(frame);
        } else {
            kelmf_drm_window_t* window = m_windows[id];
            window->submit.begin();
            if (!window->worker->pushVideo(frame.planes, frame.strides, release, user))
                released.add(frame);
            window->submit.addSample(KEL_OGL_ON(0));
        }
    }
    // Outside the lock: a release callback may call back in.
    released.releaseAll();
    return result;
}

uint32_t kelmf_drm_compositor_t::window_destroy(unsigned id)
{
    FrameList released;
    {
        Lock lock(m_mutex);
        Busy busy(*this, lock);
        if (id >= kMaxWindows || !m_windows[id])
            return KELMF_BAD_ARGUMENT;
        kelmf_drm_window_t* window = m_windows[id];
        stopWindow(lock, window, released);
        delete window->worker;
        delete window;
        m_windows[id] = nullptr;
    }
    released.releaseAll();
    return KELMF_OK;
}
