// The DRM compositor: the KMS device's displays laid out on one desktop, and windows 1 to
// 127, each with its own worker, placed on the display that holds their top-left corner.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "drm_composite.h"
#include "fps_statics.h"
#include "renderer_interface.h"

class kelmf_display_t;

struct kelmf_drm_window_t {
    uint64_t video_width = 0;
    uint64_t video_height = 0;
    uint64_t x = 0, y = 0, width = 0, height = 0;
    uint32_t format = NV12;
    int32_t plane = KEL_PLANE_PRIMARY;
    ConvertThread* worker = nullptr;
    int32_t display = -1;
    FPSStatics submit;
};

constexpr int kMaxDisplays = 128;
constexpr int kMaxWindows = 128;

class kelmf_drm_compositor_t {
public:
    kelmf_drm_compositor_t() = default;
    virtual ~kelmf_drm_compositor_t();
    kelmf_drm_compositor_t(const kelmf_drm_compositor_t&) = delete;
    kelmf_drm_compositor_t& operator=(const kelmf_drm_compositor_t&) = delete;

    uint32_t init(bool master);
    uint32_t start();
    uint32_t stop();

    uint32_t get_display_number(int* n);
    uint32_t display_get_mode(unsigned index, unsigned long* width, unsigned long* height, double* refresh);
    uint32_t display_set_mode(unsigned index, unsigned long width, unsigned long height, double refresh);

    uint32_t create_window(unsigned* id, kel_plane_type_e plane);
    uint32_t window_get_geometry(unsigned id, unsigned long* x, unsigned long* y, unsigned long* width,
                                 unsigned long* height);
    uint32_t window_set_geometry(unsigned id, unsigned long x, unsigned long y, unsigned long width,
                                 unsigned long height);
    uint32_t window_set_video_property(unsigned id, unsigned long width, unsigned long height,
                                       kelmf_image_format_t format);
    uint32_t window_set_frame(unsigned id, void** planes, int* strides, kelmf_frame_release_t release, void* user);
    uint32_t window_destroy(unsigned id);

    // Dispatches pending KMS events; 0 when there is no device or nothing was pending.
    int handleKmsEvent();
    bool isRunning() const { return m_running.load(); }
    bool isMaster() const { return m_master; }

    // Makes the display server of client mode (by default the X11 display with the root
    // watched); a test stands in for the X server here.
    struct display_server_factory_t {
        kelmf_display_t* (*make)();
        void (*destroy)(kelmf_display_t*);
    };
    static void setDisplayServerFactory(const display_server_factory_t* factory);

private:
    struct display_entry_t {
        modeset_display_t* display;
        CompositeThread* thread;
    };

    using Lock = std::unique_lock<std::mutex>;
    // Structural operations run one at a time; while one waits for a worker to end it lets
    // go of the mutex, so a release callback on that worker may still call in. A worker
    // whose callback is the operation itself, or waits for this turn, is not waited for
    // but left behind (it frees itself when the callback returns).
    class Busy;

    int startLock(Lock& lock, FrameList& released);
    void stopLock(Lock& lock, FrameList& released);
    uint32_t reinit_display();
    int window_assign_display_by_geometry(Lock& lock, unsigned id, kelmf_drm_window_t* window,
                                          FrameList& released);
    // The display at index, under the mutex; 0, or the status the display operations answer.
    uint32_t findDisplay(unsigned index, const char* operation, modeset_display_t** display);
    void buildDisplayEntries();
    void freeDisplayEntries();
    // Stops and detaches a window's worker: joined first, then taken off its display.
    void stopWindow(Lock& lock, kelmf_drm_window_t* window, FrameList& released);
    static int compositor_event_loop(kelmf_drm_compositor_t* compositor, int generation);
    static void __screen_config_change(int width, int height, void* compositor);

    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_busy = false;
    std::thread m_eventThread;
    int m_clients = 0;
    bool m_master = false;
    bool m_initialized = false;
    std::atomic<bool> m_running{false};
    // Bumped by every stop: an event thread of an earlier start ends even if a new start
    // sets running again before it looked.
    std::atomic<int> m_eventGeneration{0};
    std::atomic<bool> m_screenChanged{false};
    // Event loops not yet ended, a detached one included (stopped from a release callback
    // on its own thread): the destructor waits for them.
    std::atomic<int> m_eventLoops{0};
    int m_displayCount = 0;
    std::atomic<kelmo_mf_drm_modeset_t*> m_device{nullptr};
    display_entry_t* m_displays[kMaxDisplays] = {};
    kelmf_drm_window_t* m_windows[kMaxWindows] = {};
    kelmf_display_t* m_displayServer = nullptr;
    void (*m_destroyDisplayServer)(kelmf_display_t*) = nullptr;
    void releaseDisplayServer();
    // Serialises the calls on the display server's connection (event thread and callers).
    std::mutex m_x11Mutex;
};
