// Window workers, intermediate frames and display composition.
#include "drm_composite.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "drm_compositor.h"
#include "log.h"

namespace {

#define KEL_DRM_LOG_ON(bit) ((g_kelmf_debug.drm >> (bit)) & 1)

// The worker whose thread this is, if any.
thread_local PreviewThread* t_worker = nullptr;

int32_t even(int32_t v) { return v & ~1; }

// Row step of a caller's plane: its stride when it gives one, else the packed width.
int32_t stepOf(int stride, int32_t width) { return stride > 0 ? stride : width; }

// One axis of a window on its display's buffer. A window that fits the buffer is drawn
// whole and the plane crops it at the display's edges. A larger one is drawn only where it
// shows, still at the scale of its whole length: the part drawn starts at an even place of
// the window (4:2:0 chroma comes in pairs), and the plane's source one pixel into it when
// the visible part starts at an odd place.
struct Span {
    int32_t whole = 0;   // the window's length as drawn (even): the picture's scale
    int32_t offset = 0;  // where the part drawn starts in the window (even)
    int32_t length = 0;  // the part drawn, from the buffer's edge on (even)
    int32_t source = 0;  // the plane's source start in the buffer
    int32_t place = 0;   // the plane's destination start on the display
    int32_t shown = 0;   // the plane's length (0: nothing to show)
};

Span spanOf(int32_t position, int32_t length, int32_t limit)
{
    Span s;
    s.whole = even(std::max(length, 0));
    if (s.whole <= limit) {
        s.length = s.shown = s.whole;
        s.place = position;
        return s;
    }
    const int64_t lo = std::max<int64_t>(position, 0);
    const int64_t hi = std::min<int64_t>(int64_t(position) + length, limit);
    if (hi <= lo)
        return Span{};
    const auto into = static_cast<int32_t>(lo - position);
    s.offset = even(into);
    s.source = into - s.offset;
    const auto visible = static_cast<int32_t>(hi - lo);
    // Past the even end of the window or, at an odd start, one pixel short of the buffer.
    s.length = std::min({even(s.source + visible + 1), even(limit), s.whole - s.offset});
    s.shown = std::min(visible, s.length - s.source);
    if (s.length < 2 || s.shown <= 0)
        return Span{};
    s.place = static_cast<int32_t>(lo);
    return s;
}

}  // namespace

void releaseFrame(PreviewFrame& frame)
{
    if (frame.release) {
        // The callback gets arrays of its own: it may keep or change them.
        void* planes[4] = {frame.planes[0], frame.planes[1], frame.planes[2], frame.planes[3]};
        int strides[4] = {frame.strides[0], frame.strides[1], frame.strides[2], frame.strides[3]};
        frame.release(planes, strides, frame.user);
    }
    frame = PreviewFrame{};
}

CallingIn::CallingIn() : m_worker(t_worker && t_worker->inRelease() ? t_worker : nullptr)
{
    if (m_worker)
        m_worker->m_callingIn.fetch_add(1);
}

CallingIn::~CallingIn()
{
    if (m_worker)
        m_worker->m_callingIn.fetch_sub(1);
}

bool PreviewThread::blockedOnCaller() const
{
    return m_inRelease.load() && (m_callingIn.load() > 0 || t_worker == this);
}

void FrameList::releaseAll()
{
    std::vector<PreviewFrame> frames;
    frames.swap(m_frames);
    if (frames.empty())
        return;
    PreviewThread* worker = t_worker;
    if (!worker) {
        for (PreviewFrame& frame : frames)
            releaseFrame(frame);
        return;
    }
    if (worker->m_inRelease.load()) {
        // A callback on this worker called in: its frames wait until it has returned.
        worker->m_deferred.insert(worker->m_deferred.end(), frames.begin(), frames.end());
        return;
    }
    worker->m_inRelease.store(true);
    for (;;) {
        for (PreviewFrame& frame : frames)
            releaseFrame(frame);
        frames.clear();
        if (worker->m_deferred.empty())
            break;
        frames.swap(worker->m_deferred);
    }
    worker->m_inRelease.store(false);
}

// ---- Resize plan ----

void ResizePlan::clear()
{
    ippsFree(init);
    ippsFree(plan);
    ippsFree(work);
    init = nullptr;
    plan = nullptr;
    work = nullptr;
}

bool ResizePlan::prepare(int32_t srcW, int32_t srcH, int32_t dstW, int32_t dstH, bool decimate)
{
    if (key[0] == srcW && key[1] == srcH && key[2] == dstW && key[3] == dstH)
        return plan != nullptr;
    clear();
    key[0] = srcW;
    key[1] = srcH;
    key[2] = dstW;
    key[3] = dstH;
    if (decimate) {
        // From the current ratio every time, so a later 1:1 picture reads every row again.
        const int32_t ratio = dstH > 0 ? srcH / dstH : 1;
        factor = ratio > 7 ? 8 : ratio > 3 ? 4 : ratio > 1 ? 2 : 1;
    }
    // Odd sizes only draw the size query's warning and would leave no plan: use even ones.
    const ippiPlaneSize src{even(srcW), even(srcH / factor)};
    const ippiPlaneSize dst{even(dstW), even(dstH)};
    int32_t planSize = 0, initSize = 0;
    if (ippiResizeYUV420GetSize(src, dst, ippiFilterLanczos, 0, &planSize, &initSize) != 0)
        return false;
    plan = reinterpret_cast<ippiLanczosPlan*>(ippsMalloc_8u(planSize));
    init = ippsMalloc_8u(std::max(initSize, 1));
    int32_t workSize = 0;
    if (!plan || !init || ippiResizeYUV420LanczosInit(src, dst, 2, plan, init) != 0 ||
        ippiResizeYUV420GetBufferSize(plan, dst, &workSize) != 0 || !(work = ippsMalloc_8u(std::max(workSize, 1)))) {
        clear();
        return false;
    }
    return true;
}

bool ResizePlan::run(const uint8_t* srcY, int32_t srcYStep, const uint8_t* srcUV, int32_t srcUVStep, uint8_t* dstY,
                     int32_t dstYStep, uint8_t* dstUV, int32_t dstUVStep, int32_t dstW, int32_t dstH, int32_t offX,
                     int32_t offY) const
{
    if (!plan || !srcY || !srcUV || !dstY || !dstUV || offX < 0 || offY < 0 || (offX & 1) || (offY & 1))
        return false;
    const int32_t yStep = srcYStep * factor, uvStep = srcUVStep * factor;
    if (offX || offY) {
        // The resize reads an area's source from the pixel under the area's corner, at the
        // plan's ratio of its (even) lengths: luma on even places, chroma in pairs.
        const int32_t planW = even(key[2]), planH = even(key[3]);
        if (planW <= 0 || planH <= 0)
            return false;
        const double rx = static_cast<double>(even(key[0])) / planW;
        const double ry = static_cast<double>(even(key[1] / factor)) / planH;
        const int64_t lx = static_cast<int64_t>(std::floor(rx * offX)) & ~int64_t{1};
        const int64_t ly = static_cast<int64_t>(std::floor(ry * offY)) & ~int64_t{1};
        const int64_t cx = static_cast<int64_t>(std::floor(rx * (offX / 2)));
        const int64_t cy = static_cast<int64_t>(std::floor(ry * (offY / 2)));
        srcY += ly * yStep + lx;
        srcUV += cy * uvStep + 2 * cx;
    }
    const uint8_t border = 0;
    return ippiResizeYUV420Lanczos_8u_P2R(srcY, yStep, srcUV, uvStep, dstY, dstYStep, dstUV, dstUVStep,
                                          ippiPlaneOffset{offX, offY}, ippiPlaneSize{even(dstW), even(dstH)},
                                          ippiEdgeReplicate, &border, plan, work) >= 0;
}

// ---- CompositeFrame_t ----

CompositeFrame_t::~CompositeFrame_t()
{
    FreeBuffer();
    // Owners hand the kept frame on before they let go; one left here still gets its release.
    releaseFrame(m_frame);
}

void CompositeFrame_t::fillVideo(const bufinfo& src, const bufinfo& dst, const PreviewFrame& frame)
{
    fillVideo(src, dst, frame, Crop{0, 0, dst.width, dst.height});
}

void CompositeFrame_t::fillVideo(const bufinfo& src, const bufinfo& dst, const PreviewFrame& frame, const Crop& crop)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_src = src;
    const bool resized = differs(dst, m_dst);
    m_dst = dst;
    if (resized)
        AllocateBufferLock();
    const bool nv12 = m_src.format == NV12 && m_dst.format == NV12;
    int scaled = 0;
    if (!nv12 || (m_src.width == crop.width && m_src.height == crop.height)) {
        // Kept as it is (never shown larger than the frame is), from the crop's corner on.
        const int32_t bpp = m_src.format == ARGB32 ? 4 : 1;
        const int32_t cx = std::clamp(crop.x, 0, std::max(m_src.width, 0));
        const int32_t cy = std::clamp(crop.y, 0, std::max(m_src.height, 0));
        for (int i = 0; i < 4; ++i) {
            m_planes[i] = static_cast<uint8_t*>(frame.planes[i]);
            m_strides[i] = frame.strides[i];
        }
        m_strides[0] = stepOf(frame.strides[0], m_src.width * bpp);
        if (m_planes[0])
            m_planes[0] += ptrdiff_t(cy) * m_strides[0] + ptrdiff_t(cx) * bpp;
        if (m_src.format == NV12) {
            m_strides[1] = stepOf(frame.strides[1], m_src.width);
            if (m_planes[1])
                m_planes[1] += ptrdiff_t(cy / 2) * m_strides[1] + (cx & ~1);
        }
        m_cropX = cx;
        m_cropY = cy;
        m_ready = true;
    } else {
        scaled = 1;
        m_ready = false;
        m_cropX = m_cropY = 0;
        if (m_buffer) {
            m_planes[0] = m_buffer;
            m_planes[1] = m_buffer + size_t(m_dst.width) * m_dst.height;
            m_planes[2] = m_planes[3] = nullptr;
            m_strides[0] = m_strides[1] = m_dst.width;
            m_strides[2] = m_strides[3] = 0;
            if (m_plan.prepare(m_src.width, m_src.height, crop.width, crop.height, true)) {
                const auto* y = static_cast<const uint8_t*>(frame.planes[0]);
                const auto* uv = static_cast<const uint8_t*>(frame.planes[1]);
                m_ready = m_plan.run(y, stepOf(frame.strides[0], m_src.width), uv,
                                     stepOf(frame.strides[1], m_src.width), m_planes[0], m_dst.width, m_planes[1],
                                     m_dst.width, m_dst.width, m_dst.height, crop.x, crop.y);
            }
        } else {
            std::fill(std::begin(m_planes), std::end(m_planes), nullptr);
        }
    }
    m_frame = frame;
    KEL_LOG(KEL_BUFFER_ON(1), "[KMFR]I buf %p %d from %d.%d %dx%d(%08x) to %d.%d %dx%d(%08x) by %d\n", frame.user,
            scaled, m_src.x, m_src.y, m_src.width, m_src.height, m_src.format, m_dst.x, m_dst.y, m_dst.width,
            m_dst.height, m_dst.format, m_plan.factor);
}

void CompositeFrame_t::keepVideo(const bufinfo& src, const PreviewFrame& frame)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_src = src;
    m_frame = frame;
    for (int i = 0; i < 4; ++i) {
        m_planes[i] = static_cast<uint8_t*>(frame.planes[i]);
        m_strides[i] = frame.strides[i];
    }
    m_cropX = m_cropY = 0;
    // Already on the display buffer: nothing here for the composition to copy.
    m_ready = false;
    KEL_LOG(KEL_BUFFER_ON(1), "[KMFR]I buf %p %d from %d.%d %dx%d(%08x)\n", frame.user, 0, m_src.x, m_src.y,
            m_src.width, m_src.height, m_src.format);
}

void CompositeFrame_t::freeSource(FrameList& released)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_buffer || m_planes[0] != m_buffer) {
        // The planes were the frame's own.
        std::fill(std::begin(m_planes), std::end(m_planes), nullptr);
        m_ready = false;
    }
    released.add(m_frame);
    m_frame = PreviewFrame{};
}

void CompositeFrame_t::AllocateBuffer()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    AllocateBufferLock();
}

void CompositeFrame_t::AllocateBufferLock()
{
    if (m_dst.width <= 0 || m_dst.height <= 0)
        return;
    FreeBufferLock();
    const size_t area = size_t(m_dst.width) * size_t(m_dst.height);
    const size_t bytes = m_dst.format == NV12 ? area + area / 2 : area * 4;
    m_buffer = static_cast<uint8_t*>(malloc(bytes));
    std::fill(std::begin(m_planes), std::end(m_planes), nullptr);
    m_ready = false;
    if (m_buffer) {
        m_planes[0] = m_buffer;
        if (m_dst.format == NV12)
            m_planes[1] = m_buffer + area;
    }
}

void CompositeFrame_t::FreeBuffer()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    FreeBufferLock();
}

void CompositeFrame_t::FreeBufferLock()
{
    if (m_buffer && m_planes[0] == m_buffer) {
        std::fill(std::begin(m_planes), std::end(m_planes), nullptr);
        m_ready = false;
    }
    free(m_buffer);
    m_buffer = nullptr;
}

// ---- PreviewThread ----

void* PreviewThread::HandleFrameWrapper(void* thread)
{
    auto* self = static_cast<PreviewThread*>(thread);
    t_worker = self;
    self->handleFrameLoop();
    t_worker = nullptr;
    int live = kLive;
    if (self->m_fate.compare_exchange_strong(live, kEnded))
        return nullptr;  // the stopper joins it
    // Left behind inside a release callback: nobody joins this thread, and the object is
    // no longer anybody's but its own. It goes before the frames it still held come back,
    // so a caller that has seen all of them back sees nothing of this worker left.
    pthread_detach(pthread_self());
    self->m_threadStarted = false;
    FrameList left;
    self->joinStopped(left);
    self->m_reap(self);
    left.releaseAll();
    return nullptr;
}

bool PreviewThread::startWorker()
{
    m_running.store(true);
    m_fate.store(kLive);
    if (pthread_create(&m_thread, nullptr, HandleFrameWrapper, this) != 0) {
        m_running.store(false);
        m_fate.store(kEnded);
        m_threadStarted = false;
        return false;
    }
    m_threadStarted = true;
    return true;
}

bool PreviewThread::leaveBehind(void (*reap)(PreviewThread*))
{
    m_reap = reap;
    int live = kLive;
    return m_fate.compare_exchange_strong(live, kLeftBehind);
}

void PreviewThread::requestStop()
{
    {
        // Cleared under the queue lock: a push either sees it or lands before the drain.
        std::lock_guard<std::mutex> lock(m_queue.mutex());
        m_running.store(false);
    }
    m_queue.setStop(true);
}

void PreviewThread::joinStopped(FrameList& released)
{
    if (m_threadStarted) {
        pthread_join(m_thread, nullptr);
        m_threadStarted = false;
    }
    for (const PreviewFrame& frame : m_queue.takeAll())
        released.add(frame);
    for (const PreviewFrame& frame : m_leftover)
        released.add(frame);
    m_leftover.clear();
    m_queue.setStop(false);
}

void PreviewThread::stopWorker(FrameList& released)
{
    requestStop();
    joinStopped(released);
}

void PreviewThread::start()
{
    FrameList released;
    if (m_running.load())
        stop(released);
    startWorker();
}

void PreviewThread::stop(FrameList& released) { stopWorker(released); }

void PreviewThread::formatChange(unsigned long width, unsigned long height, kelmf_image_format_t format)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_videoWidth = static_cast<uint32_t>(width);
    m_videoHeight = static_cast<uint32_t>(height);
    m_videoFormat = format;
}

bool PreviewThread::pushVideo(void** planes, int* strides, kelmf_frame_release_t release, void* user)
{
    return m_queue.pushIf(m_running, PreviewFrame::of(planes, strides, release, user));
}

void PreviewThread::handleFrameLoop()
{
    while (m_running.load()) {
        PreviewFrame frame;
        if (IsPreview()) {
            FrameList dropped;  // released as callbacks on this worker
            while (m_queue.popOlder(frame)) {
                KEL_LOG(KEL_DRM_LOG_ON(4), "[KMFR]I %s drop display frame\n", getThreadName());
                dropped.add(frame);
            }
            dropped.releaseAll();
        }
        if (!m_queue.pop(frame))
            continue;
        if (!m_running.load()) {
            // Popped while stopping: the stopper releases it.
            std::lock_guard<std::mutex> lock(m_queue.mutex());
            m_leftover.push_back(frame);
            continue;
        }
        handleFrame(frame);
    }
}

// ---- ConvertThread ----

ConvertThread::ConvertThread(kelmf_drm_window_t* window) : m_pWindow(window) {}

ConvertThread::~ConvertThread()
{
    FrameList released;
    stop(released);
}

ConvertThread* ConvertThread::successor()
{
    auto* next = new ConvertThread(m_pWindow);
    std::lock_guard<std::mutex> lock(m_mutex);
    next->m_windowId = m_windowId;
    next->m_videoWidth = m_videoWidth;
    next->m_videoHeight = m_videoHeight;
    next->m_videoFormat = m_videoFormat;
    next->m_dstX = m_dstX;
    next->m_dstY = m_dstY;
    next->m_dstWidth = m_dstWidth;
    next->m_dstHeight = m_dstHeight;
    return next;
}

void ConvertThread::reap(PreviewThread* thread) { delete static_cast<ConvertThread*>(thread); }

void ConvertThread::setWindow(kelmf_drm_window_t* window) { m_pWindow = window; }

void ConvertThread::setCompositor(compositor_t* compositor) { m_pCompositor.store(compositor); }

compositor_t* ConvertThread::compositor() { return m_pCompositor.load(); }

bool ConvertThread::isPrimaryPlane() { return !m_pWindow || m_pWindow->plane != KEL_PLANE_OVERLAY; }

void ConvertThread::setWindowId(int id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_windowId = id;
}

void ConvertThread::setDestination(int x, int y, int width, int height)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_dstX = x;
    m_dstY = y;
    m_dstWidth = width;
    m_dstHeight = height;
}

bool ConvertThread::previewsValid()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_previewsValid;
}

void ConvertThread::formatChange(unsigned long width, unsigned long height, kelmf_image_format_t format)
{
    PreviewThread::formatChange(width, height, format);
}

bool ConvertThread::getPreview(std::shared_ptr<CompositeFrame_t>& out)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_previewsValid || m_current < 0)
        return false;
    out = m_previews[m_current];
    return out->m_src.width && out->m_src.height && out->m_dst.width && out->m_dst.height;
}

void ConvertThread::start()
{
    FrameList released;
    start(released);
}

void ConvertThread::start(FrameList& released)
{
    assert(m_pCompositor.load() && m_pWindow);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_previewsValid) {
            m_previewsValid = false;
            if (m_current >= 0)
                m_previews[m_current]->freeSource(released);
            m_current = -1;
        }
    }
    // Joined without the mutex: the worker takes it for every frame.
    if (m_running.load() || m_threadStarted)
        stopWorker(released);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& preview : m_previews) {
            if (preview) {
                // The composition may still hold the old one; its frame is handed on now.
                preview->freeSource(released);
            }
            preview = std::make_shared<CompositeFrame_t>();
        }
        m_previewsValid = true;
        snprintf(m_threadName, sizeof m_threadName, "convert %d", m_windowId);
    }
    startWorker();
}

void ConvertThread::start_if_stop(FrameList& released)
{
    if (previewsValid() && m_running.load())
        return;
    start(released);
}

void ConvertThread::stopRequest(FrameList& released)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_previewsValid = false;
        if (m_current >= 0)
            m_previews[m_current]->freeSource(released);
        m_current = -1;
    }
    requestStop();
}

void ConvertThread::stop(FrameList& released)
{
    stopRequest(released);
    joinStopped(released);
}

void ConvertThread::advance(int next, FrameList& released)
{
    const int old = m_current;
    m_current = next;
    if (old >= 0 && old != next)
        m_previews[old]->freeSource(released);
}

void ConvertThread::handleFrame(PreviewFrame frame)
{
    FrameList released;
    compositor_t* comp = m_pCompositor.load();
    bool primaryPlane = isPrimaryPlane();
    kelmf_image_format_t format;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        format = m_videoFormat;
        if (!m_previewsValid || !comp) {
            released.add(frame);
            return;
        }
    }
    if (primaryPlane && format != NV12) {
        // The primary plane's paths read NV12 planes; anything else would be read past its end.
        if (m_warnedFormat.exchange(format) != format)
            KEL_LOG(true, "[KMFR]W %s: primary window only support NV12\n", getThreadName());
        released.add(frame);
        return;
    }
    if (comp->getCompositeType() == OUTPUT_OVERLAY)
        handleFrame_outputoverlay(frame, released);
    else
        handleWindowComposite(frame, released);
}

void ConvertThread::handleWindowComposite(PreviewFrame& frame, FrameList& released)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // Tested inside the ring update, so a stop in between never leaves this frame behind.
    if (!m_previewsValid) {
        released.add(frame);
        return;
    }
    const bufinfo src{static_cast<uint32_t>(m_videoFormat), 0, 0, static_cast<int32_t>(m_videoWidth),
                      static_cast<int32_t>(m_videoHeight)};
    bufinfo dst{static_cast<uint32_t>(m_videoFormat), m_dstX, m_dstY, m_dstWidth, m_dstHeight};
    if (dst.width <= 0 || dst.height <= 0) {
        released.add(frame);
        return;
    }
    if (m_videoFormat == NV12) {
        dst.width = even(dst.width);
        dst.height = even(dst.height);
    }
    KEL_LOG(KEL_BUFFER_ON(1), "[KMFR]I src %08x %d.%d %dx%d dst %08x %d.%d %dx%d\n", src.format, src.x, src.y,
            src.width, src.height, dst.format, dst.x, dst.y, dst.width, dst.height);
    const int next = (m_current + 1) % kPreviewRing;
    m_previews[next]->fillVideo(src, dst, frame);
    advance(next, released);
}

void ConvertThread::handleFrame_outputoverlay(PreviewFrame& frame, FrameList& released)
{
    compositor_t* comp = m_pCompositor.load();
    buffer_object* primary = nullptr;
    buffer_object* overlay = nullptr;
    if (comp->getNextDisplayBuffer(&primary, &overlay) != 0 || !primary || !overlay) {
        // No slot free of the screen and of other workers: this frame is dropped.
        released.add(frame);
        return;
    }
    bool changed = false;
    bool shown = false;
    bufinfo src, dst;
    int32_t videoWidth = 0, videoHeight = 0;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        // The frame is not shown: it goes for release and the slot back, without the mutex.
        const auto drop = [&] {
            lock.unlock();
            released.add(frame);
            comp->returnDisplayBuffer(primary);
        };
        if (!m_previewsValid)
            return drop();
        const auto vw = static_cast<int32_t>(m_videoWidth), vh = static_cast<int32_t>(m_videoHeight);
        videoWidth = vw;
        videoHeight = vh;
        // Clipped to the buffer: nothing is written past its mapping. W x H is what is
        // drawn at the buffer's top-left: the window, or the part of it that shows.
        const int32_t bw = static_cast<int32_t>(std::min<uint64_t>(primary->width, INT32_MAX));
        const int32_t bh = static_cast<int32_t>(std::min<uint64_t>(primary->height, INT32_MAX));
        const Span sx = spanOf(m_dstX, m_dstWidth, bw), sy = spanOf(m_dstY, m_dstHeight, bh);
        const int32_t W = sx.length, H = sy.length;
        const uint32_t fmt = static_cast<uint32_t>(m_videoFormat);
        src = {fmt, sx.source, sy.source, sx.shown, sy.shown};
        dst = {fmt, sx.place, sy.place, sx.shown, sy.shown};
        const int old = m_current;
        const int next = (old + 1) % kPreviewRing;
        if (W <= 0 || H <= 0 || sx.shown <= 0 || sy.shown <= 0 || vw <= 0 || vh <= 0)
            return drop();
        if (vw > m_dstWidth || vh > m_dstHeight) {
            bool ran = false;
            if (m_plan.prepare(vw, vh, sx.whole, sy.whole, false)) {
                ran = m_plan.run(static_cast<const uint8_t*>(frame.planes[0]), stepOf(frame.strides[0], vw),
                                 static_cast<const uint8_t*>(frame.planes[1]), stepOf(frame.strides[1], vw),
                                 primary->map + primary->offsets[0], static_cast<int32_t>(primary->pitches[0]),
                                 primary->map + primary->offsets[1], static_cast<int32_t>(primary->pitches[1]), W, H,
                                 sx.offset, sy.offset);
            }
            if (!ran)
                return drop();
            m_previews[next]->keepVideo({fmt, 0, 0, W, H}, frame);
            advance(next, released);
            lock.unlock();
            changed = comp->composite(true, primary, overlay);
            shown = true;
        } else {
            m_previews[next]->fillVideo({fmt, 0, 0, vw, vh}, {fmt, 0, 0, W, H}, frame,
                                        {sx.offset, sy.offset, sx.whole, sy.whole});
            advance(next, released);
            std::shared_ptr<CompositeFrame_t> preview = m_previews[next];
            lock.unlock();
            {
                std::lock_guard<std::mutex> previewLock(preview->m_mutex);
                shown = preview->m_ready;
            }
            changed = comp->composite(false, primary, overlay);
        }
    }
    KEL_LOG(KEL_BUFFER_ON(1), "[KMFR]I video %dx%d src %08x %d.%d %dx%d dst %08x %d.%d %dx%d\n", videoWidth,
            videoHeight, src.format, src.x, src.y, src.width, src.height, dst.format, dst.x, dst.y, dst.width,
            dst.height);
    if (!shown) {
        comp->returnDisplayBuffer(primary);
        return;
    }
    comp->SetPlaneOnOverlay(changed, primary, src, dst);
}

// ---- CompositeThread ----

CompositeThread::CompositeThread(bool master, modeset_display_t* display) : m_master(master), m_display(display) {}

void CompositeThread::start()
{
    std::lock_guard<std::mutex> lock(m_startStopMutex);
    if (m_running.load()) {
        KEL_LOG(KEL_DISPLAY_ON(2), "[KMFR]I CompThread: start to waiting on %s\n", m_display->name.c_str());
        KEL_LOG(KEL_DISPLAY_ON(2), "[KMFR]I CompThread: waiting done on %s\n", m_display->name.c_str());
    }
    m_type.store(OUTPUT_OVERLAY);
    m_running.store(true);
}

void CompositeThread::stop()
{
    std::lock_guard<std::mutex> lock(m_startStopMutex);
    if (m_running.load()) {
        m_running.store(false);
        KEL_LOG(KEL_DISPLAY_ON(2), "[KMFR]I CompThread: start to waiting on %s\n", m_display->name.c_str());
        KEL_LOG(KEL_DISPLAY_ON(2), "[KMFR]I CompThread: waiting done on %s\n", m_display->name.c_str());
    }
}

void CompositeThread::addProvider(preview_provider_t* provider)
{
    std::lock_guard<std::mutex> lock(m_compositeMutex);
    m_providers.push_back(provider);
}

void CompositeThread::removeProvider(preview_provider_t* provider)
{
    {
        std::lock_guard<std::mutex> lock(m_compositeMutex);
        m_providers.remove(provider);
    }
    provider->setCompositor(nullptr);
}

void CompositeThread::getDisplaySize(int& width, int& height)
{
    width = static_cast<int>(m_display->mode_width);
    height = static_cast<int>(m_display->mode_height);
}

int CompositeThread::slotOf(const buffer_object* primary) const
{
    for (int i = 0; i < kModesetRingSize; ++i) {
        if (primary && m_display->bufs[i] == primary)
            return i;
    }
    return -1;
}

int CompositeThread::getNextDisplayBuffer(buffer_object** primary, buffer_object** overlay)
{
    std::lock_guard<std::mutex> lock(m_compositeMutex);
    // Skip the slot on screen (the overlay plane's, and in master mode slot 0, which the
    // modeset put on the planes) and the slots other workers are still drawing into.
    for (int tries = 0; tries < kModesetRingSize; ++tries) {
        buffer_object* p = nullptr;
        buffer_object* o = nullptr;
        modeset_display_get_next_buf(m_display, &p, &o);
        const int slot = static_cast<int>(m_display->ring_pos);
        if (!p || !o || m_busy[slot] || slot == m_shownSlot || (m_master && slot == 0))
            continue;
        ++m_busy[slot];
        *primary = p;
        *overlay = o;
        return 0;
    }
    return -1;
}

void CompositeThread::returnDisplayBuffer(buffer_object* primary)
{
    std::lock_guard<std::mutex> lock(m_compositeMutex);
    const int slot = slotOf(primary);
    if (slot >= 0 && m_busy[slot] > 0)
        --m_busy[slot];
}

void CompositeThread::resetRing()
{
    std::lock_guard<std::mutex> lock(m_compositeMutex);
    std::fill(std::begin(m_busy), std::end(m_busy), 0);
    m_shownSlot = -1;
}

void CompositeThread::SetPlaneOnOverlay(bool, buffer_object* buffer, const bufinfo& src, const bufinfo& dst)
{
    std::lock_guard<std::mutex> lock(m_compositeMutex);
    m_flipStat.begin();
    auto widen = [](int32_t v) { return static_cast<unsigned long>(std::max(v, 0)); };
    // A window may start left of or above its display: the KMS layer crops it there.
    auto position = [](int32_t v) { return static_cast<unsigned long>(static_cast<long>(v)); };
    modeset_display_set_overlay_plane(m_display, buffer, widen(src.x), widen(src.y), widen(src.width),
                                      widen(src.height), position(dst.x), position(dst.y), widen(dst.width),
                                      widen(dst.height));
    const int slot = slotOf(buffer);
    if (slot >= 0) {
        if (m_busy[slot] > 0)
            --m_busy[slot];
        uint32_t onPlane;
        {
            std::lock_guard<std::mutex> displayLock(m_display->mutex);
            onPlane = m_display->overlay_fb;
        }
        if (buffer && onPlane == buffer->fb_id)
            m_shownSlot = slot;
    }
    m_flipStat.addSample(KEL_OGL_ON(0));
}

bool CompositeThread::composite(bool overlayOnly, buffer_object* primary, buffer_object* overlay)
{
    std::lock_guard<std::mutex> lock(m_compositeMutex);
    m_compositeStat.begin();
    bool changed = false;
    for (preview_provider_t* p : m_providers) {
        if (overlayOnly && p->isPrimaryPlane())
            continue;
        std::shared_ptr<CompositeFrame_t> preview;
        buffer_object* target = p->isPrimaryPlane() ? primary : overlay;
        if (!p->getPreview(preview) || !target)
            continue;
        std::lock_guard<std::mutex> previewLock(preview->m_mutex);
        if (!preview->m_ready || !preview->m_planes[0])
            continue;
        const bool argb = preview->m_src.format == ARGB32;
        const bool nv12 = preview->m_src.format == NV12;
        if (nv12 && !preview->m_planes[1])
            continue;
        const int64_t bw = static_cast<int64_t>(target->width), bh = static_cast<int64_t>(target->height);
        int64_t x = preview->m_dst.x, y = preview->m_dst.y;
        int64_t w = preview->m_dst.width, h = preview->m_dst.height;
        if (preview->m_planes[0] != preview->m_buffer) {
            // A kept frame is never read beyond its own size (from where its part starts).
            w = std::min<int64_t>(w, int64_t(preview->m_src.width) - preview->m_cropX);
            h = std::min<int64_t>(h, int64_t(preview->m_src.height) - preview->m_cropY);
        }
        if (nv12)
            x &= ~int64_t(1);
        KEL_LOG(KEL_DISPLAY_ON(5), "[KMFR]I %s composite %p from %d.%d %dx%d/%d(%08x) to %d.%d %dx%d/%d(%08x) on %d %p %d\n",
                m_display->name.c_str(), preview->m_frame.user, preview->m_src.x, preview->m_src.y,
                preview->m_dst.width, preview->m_dst.height, preview->m_dst.width, preview->m_src.format,
                preview->m_dst.x, preview->m_dst.y, static_cast<int>(target->width), static_cast<int>(target->height),
                target->pitches[1], preview->m_dst.format, target->fb_id, static_cast<void*>(target->map),
                target->offsets[1]);
        if (x < 0 || y < 0 || x >= bw || y >= bh || w <= 0 || h <= 0)
            continue;
        const int64_t bpp = argb ? 4 : 1;
        const int64_t copyWidth = std::min(bw - x, w) * bpp;
        const int64_t rows = std::min(bh - y, h);
        const int64_t step0 = stepOf(preview->m_strides[0], static_cast<int32_t>(w * bpp));
        for (int64_t r = 0; r < rows; ++r) {
            ippsCopy_8u(preview->m_planes[0] + r * step0,
                        target->map + target->offsets[0] + (y + r) * target->pitches[0] + x * bpp,
                        static_cast<int32_t>(copyWidth));
        }
        if (target == primary && nv12) {
            const int64_t step1 = stepOf(preview->m_strides[1], static_cast<int32_t>(w));
            const int64_t chromaRows = std::min(bh / 2 - y / 2, h / 2);
            for (int64_t r = 0; r < chromaRows; ++r) {
                ippsCopy_8u(preview->m_planes[1] + r * step1,
                            target->map + target->offsets[1] + (y / 2 + r) * target->pitches[1] + x,
                            static_cast<int32_t>(copyWidth));
            }
        }
        changed = true;
    }
    m_compositeStat.addSample(KEL_OGL_ON(0));
    return changed;
}
