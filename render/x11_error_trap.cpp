#include "x11_error_trap.h"

#include <atomic>
#include <mutex>

namespace {

// Held for the whole life of a trap: one thread traps at a time (a trap may nest in another
// on the same thread).
std::recursive_mutex g_trap_mutex;
std::atomic<Display*> g_trapped{nullptr};
std::atomic<int> g_error{0};
// The handler that was in place before the outermost trap; read by trapHandler on any
// thread that reads a connection.
std::atomic<XErrorHandler> g_previous{nullptr};

int trapHandler(Display* display, XErrorEvent* event)
{
    if (display == g_trapped.load()) {
        int expected = 0;
        g_error.compare_exchange_strong(expected, event->error_code ? event->error_code : -1);
        return 0;
    }
    // Not ours: the handler that was in place decides, as it would have without the trap.
    const XErrorHandler previous = g_previous.load();
    return previous ? previous(display, event) : 0;
}

} // namespace

kelmf_x11_error_trap_t::kelmf_x11_error_trap_t(Display* display, bool sync) : m_display(display), m_sync(sync)
{
    if (!m_display) {
        m_ended = true;
        return;
    }
    g_trap_mutex.lock();
    XErrorHandler previous = XSetErrorHandler(trapHandler);
    m_outer = previous != trapHandler;
    if (m_outer)
        g_previous = previous;
    m_saved_display = g_trapped.exchange(m_display);
    m_saved_error = g_error.load();
    // Whatever is still pending on a connection the library works on came from its own
    // earlier requests (EGL's among them): drained here, not counted against this trap.
    if (m_sync)
        XSync(m_display, False);
    g_error = 0;
}

kelmf_x11_error_trap_t::~kelmf_x11_error_trap_t()
{
    end();
}

int kelmf_x11_error_trap_t::end()
{
    if (m_ended)
        return m_error;
    m_ended = true;
    if (m_sync)
        XSync(m_display, False);
    m_error = g_error.load();
    g_trapped = m_saved_display;
    g_error = m_saved_error;
    // g_previous stays: an error of another connection caught in the instant before the
    // next trap stores its own still goes to the host's handler.
    if (m_outer)
        XSetErrorHandler(g_previous.load());
    g_trap_mutex.unlock();
    return m_error;
}
