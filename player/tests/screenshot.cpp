#include "player/tests/screenshot.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace playertest {

Screenshot::Screenshot(const std::string& display)
{
    Display* dpy = XOpenDisplay(display.c_str());
    if (dpy == nullptr)
        return;
    Window root = DefaultRootWindow(dpy);
    XWindowAttributes attributes{};
    XGetWindowAttributes(dpy, root, &attributes);
    width = attributes.width;
    height = attributes.height;
    XImage* image = XGetImage(dpy, root, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height), AllPlanes,
                              ZPixmap);
    if (image != nullptr) {
        pixels.resize(static_cast<size_t>(width) * height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                unsigned long p = XGetPixel(image, x, y);
                pixels[static_cast<size_t>(y) * width + x] = Rgb{static_cast<int>((p >> 16) & 0xff),
                                                                 static_cast<int>((p >> 8) & 0xff),
                                                                 static_cast<int>(p & 0xff)};
            }
        XDestroyImage(image);
    }
    XCloseDisplay(dpy);
}

} // namespace playertest
