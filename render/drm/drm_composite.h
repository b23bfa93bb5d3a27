// Window workers and display composition on the DRM path: each window's worker scales the
// caller's frames into its display's plane buffers or into its intermediate frames, and the
// display's composition copies those pictures into the buffers and sets the overlay plane.
//
// Lock order: a display's composite mutex, then a worker's mutex, then an intermediate
// frame's mutex; the KMS display mutex innermost. A worker's frame queue lock is taken alone.
// Release callbacks run with none of these held: operations hand the frames they drop to
// the caller in a FrameList, which releases them once its locks are gone. On a worker's
// thread a release is the last thing it does with its display: a callback there may stop
// or destroy its own window (the stopper then leaves the worker behind instead of joining
// it, and it frees itself once the callback returns), and frames dropped by such a call
// are released after that callback, never inside it.
#pragma once

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

#include "fps_statics.h"
#include "kelmf_renderer.h"
#include "klmf_ipp.h"
#include "kms_modeset.h"

struct kelmf_drm_window_t;

struct bufinfo {
    uint32_t format = 0;
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// Position is not part of the comparison.
inline bool differs(const bufinfo& a, const bufinfo& b)
{
    return a.format != b.format || a.width != b.width || a.height != b.height;
}

struct PreviewFrame {
    void* planes[4] = {};
    int strides[4] = {};
    kelmf_frame_release_t release = nullptr;
    void* user = nullptr;

    bool empty() const { return !release && !user && !planes[0]; }

    // A caller's frame; missing plane or stride arrays read as none.
    static PreviewFrame of(void** planes, int* strides, kelmf_frame_release_t release, void* user)
    {
        PreviewFrame frame;
        for (int i = 0; i < 4; ++i) {
            frame.planes[i] = planes ? planes[i] : nullptr;
            frame.strides[i] = strides ? strides[i] : 0;
        }
        frame.release = release;
        frame.user = user;
        return frame;
    }
};

// Calls the frame's release callback (when it has one); the frame is then empty.
void releaseFrame(PreviewFrame& frame);

// Frames whose release is due once the caller holds no lock.
class FrameList {
public:
    FrameList() = default;
    FrameList(const FrameList&) = delete;
    FrameList& operator=(const FrameList&) = delete;
    ~FrameList() { releaseAll(); }
    void add(const PreviewFrame& frame)
    {
        if (!frame.empty())
            m_frames.push_back(frame);
    }
    void releaseAll();

private:
    std::vector<PreviewFrame> m_frames;
};

// Held while a thread waits for a lock that a stopper of workers may hold as it waits for
// them (the compositor's structural turn, a renderer's start/stop mutex): when the thread
// is a worker inside a release callback, it is marked, so the stopper leaves it behind
// instead of waiting for it.
class CallingIn {
public:
    CallingIn();
    ~CallingIn();
    CallingIn(const CallingIn&) = delete;
    CallingIn& operator=(const CallingIn&) = delete;

private:
    class PreviewThread* m_worker;
};

// Takes mutex; while it has to wait, a calling worker is marked as above.
template <class Mutex>
std::unique_lock<Mutex> lockCallingIn(Mutex& mutex)
{
    std::unique_lock<Mutex> lock(mutex, std::try_to_lock);
    if (!lock) {
        CallingIn mark;
        lock.lock();
    }
    return lock;
}

template <class T>
class threadsafe_queue_t {
public:
    virtual ~threadsafe_queue_t() = default;
    void push(const T& value)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(value);
        m_cond.notify_all();
    }
    // Waits for a value or the stop flag; false when stopped.
    bool pop(T& value)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cond.wait(lock, [this] { return m_stop || !m_queue.empty(); });
        if (m_stop)
            return false;
        value = m_queue.front();
        m_queue.pop_front();
        return true;
    }
    // Takes the front value only when more than one is queued (the newest stays).
    bool popOlder(T& value)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stop || m_queue.size() <= 1)
            return false;
        value = m_queue.front();
        m_queue.pop_front();
        return true;
    }
    void setStop(bool stop)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = stop;
        m_cond.notify_all();
    }
    std::deque<T> takeAll()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::deque<T> all;
        all.swap(m_queue);
        return all;
    }
    // Appends unless the accept flag is false; read under the queue lock, so a stop that
    // clears the flag and then drains the queue never misses a value.
    bool pushIf(const std::atomic<bool>& accept, const T& value)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!accept.load())
            return false;
        m_queue.push_back(value);
        m_cond.notify_all();
        return true;
    }
    std::mutex& mutex() { return m_mutex; }

private:
    std::deque<T> m_queue;
    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_stop = false;
};

// A resize plan with the sizes it was built for.
struct ResizePlan {
    ippiLanczosPlan* plan = nullptr;
    uint8_t* init = nullptr;
    uint8_t* work = nullptr;
    int32_t key[4] = {};  // source width, source height, destination width, destination height
    int32_t factor = 1;   // decimation: every factor-th source row is read

    ResizePlan() = default;
    ResizePlan(const ResizePlan&) = delete;
    ResizePlan& operator=(const ResizePlan&) = delete;
    ~ResizePlan() { clear(); }
    void clear();
    // Rebuilds when the sizes differ from the key; decimate picks the factor from the ratio.
    // True when a plan for exactly these sizes is ready.
    bool prepare(int32_t srcW, int32_t srcH, int32_t dstW, int32_t dstH, bool decimate);
    // Scales an NV12 picture, or only the dstW x dstH area at (offX, offY) of the picture at
    // the plan's size (offsets even); the source is given at its origin either way. False when
    // there is no plan or the resize failed.
    bool run(const uint8_t* srcY, int32_t srcYStep, const uint8_t* srcUV, int32_t srcUVStep, uint8_t* dstY,
             int32_t dstYStep, uint8_t* dstUV, int32_t dstUVStep, int32_t dstW, int32_t dstH, int32_t offX = 0,
             int32_t offY = 0) const;
};

// One intermediate frame of a window: the picture it shows, either the caller's frame kept
// as it is or its own buffer scaled from it.
class CompositeFrame_t {
public:
    CompositeFrame_t() = default;
    ~CompositeFrame_t();
    CompositeFrame_t(const CompositeFrame_t&) = delete;
    CompositeFrame_t& operator=(const CompositeFrame_t&) = delete;

    // The picture at width x height, of which an intermediate frame holds only the part
    // that starts at (x, y) (even); without one the picture is held whole, at dst's size.
    struct Crop {
        int32_t x = 0, y = 0;
        int32_t width = 0, height = 0;
    };
    // With a crop, dst's size is that of the part held.
    void fillVideo(const bufinfo& src, const bufinfo& dst, const PreviewFrame& frame);
    void fillVideo(const bufinfo& src, const bufinfo& dst, const PreviewFrame& frame, const Crop& crop);
    void keepVideo(const bufinfo& src, const PreviewFrame& frame);
    // Gives up the kept frame; it goes to the list for release.
    void freeSource(FrameList& released);
    void AllocateBuffer();
    void AllocateBufferLock();
    void FreeBuffer();
    void FreeBufferLock();

    std::mutex m_mutex;
    bufinfo m_src;
    bufinfo m_dst;
    PreviewFrame m_frame;
    uint8_t* m_buffer = nullptr;
    uint8_t* m_planes[4] = {};
    int32_t m_strides[4] = {};
    // Where the picture held starts in the whole one (a kept frame is read from there on).
    int32_t m_cropX = 0, m_cropY = 0;
    ResizePlan m_plan;
    // The picture is complete and may be composited (a keep, or a resize that ran).
    bool m_ready = false;
};

class compositor_t;

class preview_provider_t {
public:
    virtual void setWindow(kelmf_drm_window_t* window) = 0;
    virtual void setCompositor(compositor_t* compositor) = 0;
    virtual bool isPrimaryPlane() = 0;
    virtual bool getPreview(std::shared_ptr<CompositeFrame_t>& out) = 0;

protected:
    ~preview_provider_t() = default;
};

enum composite_type_e : int32_t { WINDOW_COMPOSITE = 1, OUTPUT_OVERLAY = 2 };

class compositor_t {
public:
    virtual int getCompositeType() const = 0;
    virtual void removeProvider(preview_provider_t* provider) = 0;
    virtual void getDisplaySize(int& width, int& height) = 0;
    virtual int getNextDisplayBuffer(buffer_object** primary, buffer_object** overlay) = 0;
    virtual void SetPlaneOnOverlay(bool changed, buffer_object* buffer, const bufinfo& src, const bufinfo& dst) = 0;
    virtual bool composite(bool overlayOnly, buffer_object* primary, buffer_object* overlay) = 0;
    virtual void stop() = 0;
    virtual void start() = 0;
    // Hands back a buffer pair from getNextDisplayBuffer that will not be put on a plane.
    virtual void returnDisplayBuffer(buffer_object* primary) = 0;

protected:
    ~compositor_t() = default;
};

class PreviewThread {
public:
    virtual bool IsPreview() { return true; }
    virtual const char* getThreadName() { return "N/A"; }
    virtual void start();
    virtual void formatChange(unsigned long width, unsigned long height, kelmf_image_format_t format);
    // False when the worker is not running: the frame was not taken and is the caller's to release.
    virtual bool pushVideo(void** planes, int* strides, kelmf_frame_release_t release, void* user);
    virtual void pushAudio() {}
    virtual void handleFrame(PreviewFrame frame) = 0;
    virtual void handleFrameLoop();
    // Stops and joins the worker; frames still queued go to the list.
    virtual void stop(FrameList& released);

    bool running() const { return m_running.load(); }
    // The worker thread has left its loop (or never ran): joining it does not block.
    bool exited() const { return m_fate.load() == kEnded; }
    // The worker is inside a release callback: it touches neither its compositor nor its
    // window again, whatever the callback does.
    bool inRelease() const { return m_inRelease.load(); }
    // Such a callback waits for a lock that a stopper may hold while it waits for this
    // worker (see CallingIn), or it is the caller itself: waiting for it would never end.
    bool blockedOnCaller() const;
    // For a worker asked to end that is inside a release callback: nobody joins it, it
    // frees itself through reap when it ends. False when it ended first (join it then).
    bool leaveBehind(void (*reap)(PreviewThread*));
    // Asks the worker to end without waiting for it.
    void requestStop();
    // Joins a worker asked to end; frames still queued go to the list.
    void joinStopped(FrameList& released);

protected:
    ~PreviewThread() = default;
    static void* HandleFrameWrapper(void* thread);
    bool startWorker();
    void stopWorker(FrameList& released);

    uint32_t m_videoWidth = 0;
    uint32_t m_videoHeight = 0;
    kelmf_image_format_t m_videoFormat = RGB24;
    std::atomic<bool> m_running{false};
    enum : int { kLive, kEnded, kLeftBehind };
    std::atomic<int> m_fate{kEnded};
    void (*m_reap)(PreviewThread*) = nullptr;
    std::atomic<bool> m_inRelease{false};
    std::atomic<int> m_callingIn{0};
    friend class CallingIn;
    // Frames dropped by calls from a release callback on this thread; released after it.
    std::vector<PreviewFrame> m_deferred;
    friend class FrameList;
    bool m_threadStarted = false;
    pthread_t m_thread{};
    std::mutex m_mutex;
    threadsafe_queue_t<PreviewFrame> m_queue;
    // Frames the worker took but must not handle (it is stopping); released by the stopper.
    std::vector<PreviewFrame> m_leftover;
};

constexpr int kPreviewRing = 6;

class ConvertThread final : public PreviewThread, public preview_provider_t {
public:
    explicit ConvertThread(kelmf_drm_window_t* window);
    ~ConvertThread();

    const char* getThreadName() override { return m_threadName; }
    void start() override;
    void start(FrameList& released);
    void start_if_stop(FrameList& released);
    // The first half of stop: previews invalid, kept frame handed on, worker asked to end.
    void stopRequest(FrameList& released);
    void formatChange(unsigned long width, unsigned long height, kelmf_image_format_t format) override;
    void handleFrame(PreviewFrame frame) override;
    void stop(FrameList& released) override;
    void setWindow(kelmf_drm_window_t* window) override;
    void setCompositor(compositor_t* compositor) override;
    bool isPrimaryPlane() override;
    bool getPreview(std::shared_ptr<CompositeFrame_t>& out) override;

    void setWindowId(int id);
    // A stopped worker for the same window, id and video property, to stand in for this one
    // when it is left behind.
    ConvertThread* successor();
    static void reap(PreviewThread* thread);
    void setDestination(int x, int y, int width, int height);
    compositor_t* compositor();
    bool previewsValid();

private:
    void handleWindowComposite(PreviewFrame& frame, FrameList& released);
    void handleFrame_outputoverlay(PreviewFrame& frame, FrameList& released);
    // Ring update shared by the paths: entry next becomes current, the old one gives up its frame.
    void advance(int next, FrameList& released);

    bool m_previewsValid = false;
    std::atomic<uint32_t> m_warnedFormat{NV12};  // last format refused, warned once
    int32_t m_windowId = 0;
    int32_t m_dstX = 0, m_dstY = 0, m_dstWidth = 0, m_dstHeight = 0;
    int32_t m_current = -1;
    char m_threadName[4096] = "convert 0";
    kelmf_drm_window_t* m_pWindow = nullptr;
    std::atomic<compositor_t*> m_pCompositor{nullptr};
    ResizePlan m_plan;
    std::shared_ptr<CompositeFrame_t> m_previews[kPreviewRing];
};

class CompositeThread final : public compositor_t {
public:
    CompositeThread(bool master, modeset_display_t* display);
    ~CompositeThread() = default;

    int getCompositeType() const override { return m_type.load(); }
    void removeProvider(preview_provider_t* provider) override;
    void addProvider(preview_provider_t* provider);
    void getDisplaySize(int& width, int& height) override;
    int getNextDisplayBuffer(buffer_object** primary, buffer_object** overlay) override;
    void SetPlaneOnOverlay(bool changed, buffer_object* buffer, const bufinfo& src, const bufinfo& dst) override;
    bool composite(bool overlayOnly, buffer_object* primary, buffer_object* overlay) override;
    void stop() override;
    void start() override;
    void returnDisplayBuffer(buffer_object* primary) override;
    // After the display's buffers were rebuilt (no worker may hold one).
    void resetRing();

    modeset_display_t* display() const { return m_display; }
    bool isRunning() const { return m_running.load(); }
    FPSStatics m_compositeStat;
    FPSStatics m_flipStat;

private:
    int slotOf(const buffer_object* primary) const;

    bool m_master;
    std::atomic<bool> m_running{false};
    std::mutex m_startStopMutex;
    std::mutex m_compositeMutex;
    modeset_display_t* m_display;
    std::atomic<int32_t> m_type{WINDOW_COMPOSITE};
    std::list<preview_provider_t*> m_providers;
    int m_busy[kModesetRingSize] = {};  // slots handed to a worker and not yet shown or returned
    int m_shownSlot = -1;               // slot on the overlay plane
};
