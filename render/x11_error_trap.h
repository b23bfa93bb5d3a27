// Keeps X errors of the library's own requests away from the host's error handler, whose
// default ends the process. A trap installs a handler for one connection, and on end syncs
// that connection and puts the previous handler back:
//   kelmf_x11_error_trap_t trap(display);
//   XDeleteProperty(display, window, atom);
//   if (trap.end()) ...;  // the request failed (the window is gone, say)
// Xlib's handler is process-wide, so traps of all connections are taken one at a time;
// errors of other connections during a trap go on to the handler that was there before.
// Whatever was pending on the connection when the trap began is drained without counting.
#pragma once

#include <X11/Xlib.h>

class kelmf_x11_error_trap_t {
public:
    // sync false: neither drains nor syncs, for calls whose requests all wait for their
    // replies (or that close the connection); their errors arrive inside the call.
    explicit kelmf_x11_error_trap_t(Display* display, bool sync = true);
    ~kelmf_x11_error_trap_t();
    kelmf_x11_error_trap_t(const kelmf_x11_error_trap_t&) = delete;
    kelmf_x11_error_trap_t& operator=(const kelmf_x11_error_trap_t&) = delete;

    // Syncs, restores the previous handler and returns the code of the first error caught
    // (0 when none). Later calls return the same code.
    int end();

private:
    Display* m_display;
    bool m_sync;
    bool m_ended = false;
    bool m_outer = false;  // installed the handler (not nested in another trap)
    int m_error = 0;
    Display* m_saved_display = nullptr;
    int m_saved_error = 0;
};
