#include "x11_display.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>

#include <cmath>

#include "log.h"
#include "x11_error_trap.h"

kelmf_x11_display_t::kelmf_x11_display_t(void* display, bool watch_root)
{
    m_display = display ? static_cast<Display*>(display) : XOpenDisplay(nullptr);
    m_owned = !display && m_display;
    // Without an X server the object stays inert: no events, no geometry, 60 Hz.
    if (!m_display) {
        m_width = m_height = static_cast<unsigned long>(-1);
        return;
    }
    m_wm_delete = XInternAtom(m_display, "WM_DELETE_WINDOW", False);
    int screen = DefaultScreen(m_display);
    m_width = static_cast<unsigned long>(DisplayWidth(m_display, screen));
    m_height = static_cast<unsigned long>(DisplayHeight(m_display, screen));
    if (watch_root)
        XSelectInput(m_display, DefaultRootWindow(m_display), StructureNotifyMask);
}

void kelmf_x11_display_t::setNative(void* display)
{
    if (m_owned && m_display && m_display != display)
        XCloseDisplay(m_display);
    m_owned = false;
    m_display = static_cast<Display*>(display);
}

void kelmf_x11_display_t::getGeometry(unsigned long* width, unsigned long* height)
{
    if (width)
        *width = m_width;
    if (height)
        *height = m_height;
}

bool kelmf_x11_display_t::modeRate(unsigned long dotClock, unsigned hTotal, unsigned vTotal, double& rate)
{
    const double r = static_cast<double>(dotClock) / (static_cast<double>(hTotal) * static_cast<double>(vTotal));
    if (!std::isfinite(r) || r <= 0)
        return false;
    rate = r;
    return true;
}

void kelmf_x11_display_t::getRefreshRateAndVsyncInterval(double& rate, double& interval)
{
    rate = 60.0;
    if (m_display) {
        XRRScreenResources* res = XRRGetScreenResources(m_display, DefaultRootWindow(m_display));
        if (res) {
            RRMode mode = 0;
            for (int i = 0; i < res->ncrtc; ++i) {
                XRRCrtcInfo* crtc = XRRGetCrtcInfo(m_display, res, res->crtcs[i]);
                if (!crtc)
                    continue;
                if (crtc->mode != 0)
                    mode = crtc->mode;
                XRRFreeCrtcInfo(crtc);
            }
            for (int i = 0; mode != 0 && i < res->nmode; ++i) {
                const XRRModeInfo& info = res->modes[i];
                if (info.id == mode) {
                    // Zero timings (as Xvfb reports them) give no rate: keep 60 Hz.
                    modeRate(info.dotClock, info.hTotal, info.vTotal, rate);
                    break;
                }
            }
            XRRFreeScreenResources(res);
        }
    }
    interval = 1.0 / rate;
}

int kelmf_x11_display_t::GetOutputGeometry(std::string name, int& x, int& y, int& width, int& height)
{
    if (!m_display)
        return -1;
    XRRScreenResources* res = XRRGetScreenResourcesCurrent(m_display, DefaultRootWindow(m_display));
    if (!res) {
        KEL_LOG(true, "[KMFR]W get_output_geometry: no resources\n");
        return -1;
    }
    int result = -1;
    bool found = false;
    for (int i = 0; i < res->noutput && !found; ++i) {
        XRROutputInfo* out = XRRGetOutputInfo(m_display, res, res->outputs[i]);
        if (!out)
            continue;
        if (name == out->name && out->connection == RR_Connected) {
            found = true;
            KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I get_output_geometry: this output %s has %d crtc %d clone %d mode\n",
                    name.c_str(), out->ncrtc, out->nclone, out->nmode);
            XRRCrtcInfo* crtc = (out->ncrtc > 0 && out->crtc) ? XRRGetCrtcInfo(m_display, res, out->crtc) : nullptr;
            if (!crtc) {
                KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I get_output_geometry: this output %s no crtc\n", name.c_str());
            } else {
                x = crtc->x;
                y = crtc->y;
                width = static_cast<int>(crtc->width);
                height = static_cast<int>(crtc->height);
                KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I %s\t%dx%d+%d+%d\n", name.c_str(), width, height, x, y);
                XRRFreeCrtcInfo(crtc);
                result = 0;
            }
        }
        XRRFreeOutputInfo(out);
    }
    if (!found)
        KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I get_output_geometry: can't find crtc of this output %s\n", name.c_str());
    XRRFreeScreenResources(res);
    return result;
}

void kelmf_x11_display_t::registerScreenConfigCallback(kelmf_screen_config_cb callback, void* user)
{
    m_screen_cb = callback;
    m_screen_user = user;
}

void kelmf_x11_display_t::registerWindowConfigCallback(kelmf_window_config_cb callback, void* user)
{
    m_window_cb = callback;
    m_window_user = user;
}

void kelmf_x11_display_t::registerWindowDeleteCallback(kelmf_window_delete_cb callback, void* user)
{
    m_delete_cb = callback;
    m_delete_user = user;
}

namespace {

const char* propertyName(int mode)
{
    if (mode == 1)
        return "_NET_KVIX_VIDEO_SEETHROUGH";
    if (mode == 2)
        return "_NET_KVIX_VIDEO_OSD";
    return nullptr;
}

} // namespace

int kelmf_x11_display_t::setupWindow(kelmf_window_t* window)
{
    if (!window)
        return 5;
    window->setDisplay(this);
    if (!m_display)
        return 0;
    Window video = reinterpret_cast<Window>(window->getNative());
    // A window id that names no window must not reach the host's error handler.
    kelmf_x11_error_trap_t trap(m_display);
    XWindowAttributes attrs;
    if (video == 0 || !XGetWindowAttributes(m_display, video, &attrs)) {
        trap.end();
        KEL_LOG(true, "[KMFR]E setupWindow: bad window %p\n", reinterpret_cast<void*>(video));
        return 5;
    }
    m_video = video;
    m_video_gone = false;
    XSetWMProtocols(m_display, video, &m_wm_delete, 1);
    XSelectInput(m_display, video, StructureNotifyMask | KeyPressMask | KeyReleaseMask);

    // Every ancestor up to the root reports its moves, so a frame move reaches us.
    Window current = video;
    while (current != 0) {
        Window root = 0, parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(m_display, current, &root, &parent, &children, &count))
            break;
        if (children)
            XFree(children);
        KEL_LOG(KEL_DISPLAY_ON(3), "[KMFR]I window %p parent %p root %p\n", reinterpret_cast<void*>(current),
                reinterpret_cast<void*>(parent), reinterpret_cast<void*>(root));
        if (parent == 0)
            break;
        XSelectInput(m_display, parent, StructureNotifyMask);
        if (parent == root)
            break;
        current = parent;
    }

    if (const char* name = propertyName(g_kelmf_using_x11_drm)) {
        KEL_LOG(KEL_DISPLAY_ON(3), g_kelmf_using_x11_drm == 1 ? "[KMFR]I window set seethrough\n"
                                                               : "[KMFR]I window set osd\n");
        Atom atom = XInternAtom(m_display, name, False);
        long value = 1;
        XChangeProperty(m_display, video, atom, XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(&value), 1);
    }
    // The window can still go between the check and here; it is then handled as destroyed.
    if (trap.end()) {
        KEL_LOG(true, "[KMFR]E setupWindow: bad window %p\n", reinterpret_cast<void*>(video));
        return 5;
    }
    return 0;
}

int kelmf_x11_display_t::unsetupWindow(kelmf_window_t* window)
{
    const char* name = propertyName(g_kelmf_using_x11_drm);
    if (!window || !m_display || !name)
        return 0;
    KEL_LOG(KEL_DISPLAY_ON(3), g_kelmf_using_x11_drm == 1 ? "[KMFR]I window set seethrough\n"
                                                           : "[KMFR]I window set osd\n");
    Window video = reinterpret_cast<Window>(window->getNative());
    // A destroyed window has no property left to delete.
    if (video == m_video && m_video_gone)
        return 0;
    kelmf_x11_error_trap_t trap(m_display);
    XDeleteProperty(m_display, video, XInternAtom(m_display, name, False));
    trap.end();
    return 0;
}

int kelmf_x11_display_t::handleEvent()
{
    if (!m_display)
        return 0;
    // What the event asks of the callbacks; they run after the trap has ended, since they
    // take the renderers' own locks and the trap's lock must never be held under those.
    enum class Call { none, screen, window, close } call = Call::none;
    int x = 0, y = 0, width = 0, height = 0;
    {
        // Reading the queue also reads errors, of EGL's requests too; the requests below wait
        // for their replies, so no sync is needed to catch theirs.
        kelmf_x11_error_trap_t trap(m_display, false);
        if (XPending(m_display) == 0)
            return 0;
        XEvent event;
        XNextEvent(m_display, &event);
        if (event.type == ConfigureNotify) {
            const XConfigureEvent& ev = event.xconfigure;
            Window root = DefaultRootWindow(m_display);
            KEL_LOG(KEL_DISPLAY_ON(4), "[KMFR]I has window config event %d win %d root %d\n", event.type,
                    static_cast<int>(ev.window), static_cast<int>(root));
            XWindowAttributes attrs;
            if (ev.window == root) {
                if (XGetWindowAttributes(m_display, root, &attrs)) {
                    KEL_LOG(KEL_DISPLAY_ON(4), "[KMFR]I screen config %dx%d callback %p\n", attrs.width,
                            attrs.height, reinterpret_cast<void*>(m_screen_cb));
                    call = Call::screen;
                    width = attrs.width;
                    height = attrs.height;
                }
            } else {
                Window child;
                XTranslateCoordinates(m_display, ev.window, root, 0, 0, &x, &y, &child);
                if (XGetWindowAttributes(m_display, ev.window, &attrs)) {
                    KEL_LOG(KEL_DISPLAY_ON(4), "[KMFR]I window config %d.%d %dx%d\n", x, y, attrs.width,
                            attrs.height);
                    call = Call::window;
                    width = attrs.width;
                    height = attrs.height;
                }
            }
        } else if (event.type == ClientMessage && static_cast<Atom>(event.xclient.data.l[0]) == m_wm_delete) {
            KEL_LOG(KEL_DISPLAY_ON(4), "[KMFR]I has quit event %d\n", event.type);
            call = Call::close;
        } else if (event.type == DestroyNotify && m_video != 0 && event.xdestroywindow.window == m_video) {
            // A destroyed video window ends drawing as a closed one does.
            m_video_gone = true;
            KEL_LOG(KEL_DISPLAY_ON(4), "[KMFR]I has quit event %d\n", event.type);
            call = Call::close;
        }
    }
    switch (call) {
    case Call::screen:
        if (m_screen_cb)
            m_screen_cb(width, height, m_screen_user);
        break;
    case Call::window:
        if (m_window_cb)
            m_window_cb(x, y, width, height, m_window_user);
        break;
    case Call::close:
        if (m_delete_cb)
            m_delete_cb(m_delete_user);
        break;
    case Call::none:
        break;
    }
    return 1;
}

void kelmf_x11_display_t::close()
{
    if (m_display) {
        // Errors still pending on the connection are read while it closes.
        kelmf_x11_error_trap_t trap(m_display, false);
        XCloseDisplay(m_display);
    }
    m_display = nullptr;
    m_owned = false;
}

void kelmf_x11_window_t::getGeometry(long* x, long* y, unsigned long* width, unsigned long* height)
{
    Display* display = m_display ? static_cast<Display*>(m_display->getNative()) : nullptr;
    if (!display) {
        if (x)
            *x = -1;
        if (y)
            *y = -1;
        if (width)
            *width = static_cast<unsigned long>(-1);
        if (height)
            *height = static_cast<unsigned long>(-1);
        return;
    }
    Window root = DefaultRootWindow(display);
    int rx = 0, ry = 0;
    Window child;
    XWindowAttributes attrs{};
    {
        kelmf_x11_error_trap_t trap(display, false);
        XTranslateCoordinates(display, m_window, root, 0, 0, &rx, &ry, &child);
        XGetWindowAttributes(display, m_window, &attrs);
    }
    if (x)
        *x = rx;
    if (y)
        *y = ry;
    if (width)
        *width = static_cast<unsigned long>(attrs.width);
    if (height)
        *height = static_cast<unsigned long>(attrs.height);
}
