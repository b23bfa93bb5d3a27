// The window-system layer: one X server connection that pumps events into callbacks and
// answers geometry and refresh-rate questions, and one native X11 window.
#pragma once

#include <X11/Xlib.h>

#include <string>

class kelmf_window_t;

using kelmf_screen_config_cb = void (*)(int width, int height, void* user);
using kelmf_window_config_cb = void (*)(int x, int y, int width, int height, void* user);
using kelmf_window_delete_cb = void (*)(void* user);

class kelmf_display_t {
public:
    virtual void setNative(void* display) = 0;
    virtual void* getNative() = 0;
    virtual void getGeometry(unsigned long* width, unsigned long* height) = 0;
    virtual int GetOutputGeometry(std::string name, int& x, int& y, int& width, int& height) = 0;
    virtual void getRefreshRateAndVsyncInterval(double& rate, double& interval) = 0;
    virtual void registerScreenConfigCallback(kelmf_screen_config_cb callback, void* user) = 0;
    virtual void registerWindowConfigCallback(kelmf_window_config_cb callback, void* user) = 0;
    virtual void registerWindowDeleteCallback(kelmf_window_delete_cb callback, void* user) = 0;
    virtual int setupWindow(kelmf_window_t* window) = 0;
    virtual int unsetupWindow(kelmf_window_t* window) = 0;
    virtual int handleEvent() = 0;
    virtual void close() = 0;
};

class kelmf_window_t {
public:
    virtual void setDisplay(kelmf_display_t* display) = 0;
    virtual void setNative(void* window) = 0;
    virtual void* getNative() = 0;
    virtual void getGeometry(long* x, long* y, unsigned long* width, unsigned long* height) = 0;
    virtual void* getEGLWindow(int width, int height) = 0;
};

class kelmf_x11_display_t : public kelmf_display_t {
public:
    // Opens the default display when none is given. Without a server the object is inert.
    kelmf_x11_display_t(void* display, bool watch_root);
    virtual ~kelmf_x11_display_t() = default;

    void setNative(void* display) override;
    void* getNative() override { return m_display; }
    // True when this object opened its connection itself (none was given).
    bool ownsConnection() const { return m_owned; }
    void getGeometry(unsigned long* width, unsigned long* height) override;
    int GetOutputGeometry(std::string name, int& x, int& y, int& width, int& height) override;
    void getRefreshRateAndVsyncInterval(double& rate, double& interval) override;
    void registerScreenConfigCallback(kelmf_screen_config_cb callback, void* user) override;
    void registerWindowConfigCallback(kelmf_window_config_cb callback, void* user) override;
    void registerWindowDeleteCallback(kelmf_window_delete_cb callback, void* user) override;
    int setupWindow(kelmf_window_t* window) override;
    int unsetupWindow(kelmf_window_t* window) override;
    int handleEvent() override;
    void close() override;

    // The refresh rate of one mode; a rate that is not finite and positive counts as none.
    static bool modeRate(unsigned long dotClock, unsigned hTotal, unsigned vTotal, double& rate);

private:
    Display* m_display = nullptr;
    bool m_owned = false;
    Atom m_wm_delete = 0;
    kelmf_screen_config_cb m_screen_cb = nullptr;
    void* m_screen_user = nullptr;
    kelmf_window_config_cb m_window_cb = nullptr;
    void* m_window_user = nullptr;
    kelmf_window_delete_cb m_delete_cb = nullptr;
    void* m_delete_user = nullptr;
    unsigned long m_width = 0;
    unsigned long m_height = 0;
    // The window of the last setupWindow, and whether its DestroyNotify came.
    Window m_video = 0;
    bool m_video_gone = false;
};

class kelmf_x11_window_t : public kelmf_window_t {
public:
    explicit kelmf_x11_window_t(Window window) : m_window(window) {}
    virtual ~kelmf_x11_window_t() = default;

    void setDisplay(kelmf_display_t* display) override { m_display = display; }
    void setNative(void* window) override { m_window = reinterpret_cast<Window>(window); }
    void* getNative() override { return reinterpret_cast<void*>(m_window); }
    void getGeometry(long* x, long* y, unsigned long* width, unsigned long* height) override;
    void* getEGLWindow(int, int) override { return reinterpret_cast<void*>(m_window); }

private:
    kelmf_display_t* m_display = nullptr;
    Window m_window = 0;
};
