/* An outside caller of libklmf, written in C. Each scenario prints "<call> <status>" lines
#define _DEFAULT_SOURCE
 * (the library's own log lines land in the same stream, in order). */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "kelmf_renderer.h"

/* Mesa's X11 software path drops the error of its geometry request on a drawable that is
 * gone; the destroyed-window scenario meets it in sanitizer builds. */
const char* __lsan_default_suppressions(void);
const char* __lsan_default_suppressions(void)
{
    return "leak:libxcb.so.1\n";
}

static int g_released = 0;

static void count_release(void** planes, int* strides, void* user)
{
    (void)planes;
    (void)strides;
    ++*(int*)user;
}

#define SHOW(name, call) printf("%s %u\n", name, (unsigned)(call))

/* Every exported function on one handle (null or not). */
static void every_function(kelmf_renderer_handle_t* h)
{
    unsigned char y[64 * 64], uv[64 * 32];
    void* planes[4] = {y, uv, NULL, NULL};
    int strides[4] = {64, 64, 0, 0};
    void* mapped[4];
    unsigned long color = 0, w = 0, hh = 0, x = 0, yy = 0;
    double rate = 0;
    int count = 0;
    unsigned id = 0;
    __kelmf_hdr_metadata_hdr10 hdr = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    int released = 0;

    SHOW("set_display_server", kelmf_renderer_set_display_server(h, NULL));
    SHOW("set_display_target", kelmf_renderer_set_display_target(h, NULL));
    SHOW("set_display_property", kelmf_renderer_set_display_property(h, 1280, 720, ARGB32));
    SHOW("set_video_property", kelmf_renderer_set_video_property(h, 64, 64, NV12));
    SHOW("get_background_color", kelmf_renderer_get_background_color(h, &color));
    SHOW("set_background_color", kelmf_renderer_set_background_color(h, 0x80402010UL));
    SHOW("enable_hdr", kelmf_renderer_enable_hdr(h, true));
    SHOW("set_hdr_metadata", kelmf_renderer_set_hdr_metadata(h, &hdr));
    SHOW("set_gpudirect", kelmf_renderer_set_gpudirect(h, false));
    SHOW("get_display_number", kelmf_renderer_get_display_number(h, &count));
    SHOW("display_get_mode", kelmf_renderer_display_get_mode(h, 0, &w, &hh, &rate));
    SHOW("display_set_mode", kelmf_renderer_display_set_mode(h, 0, 1920, 1080, 60.0));
    SHOW("create_window", kelmf_renderer_create_window(h, &id, KEL_PLANE_OVERLAY));
    SHOW("window_get_geometry", kelmf_renderer_window_get_geometry(h, 1, &x, &yy, &w, &hh));
    SHOW("window_set_geometry", kelmf_renderer_window_set_geometry(h, 1, 10, 20, 300, 200));
    SHOW("window_set_frame", kelmf_renderer_window_set_frame(h, 1, planes, strides, count_release, &released));
    printf("window_set_frame_released %d\n", released);
    SHOW("window_set_video_property", kelmf_renderer_window_set_video_property(h, 1, 64, 64, NV12));
    SHOW("window_destroy", kelmf_renderer_window_destroy(h, 1));
    SHOW("map_next_video_frame", kelmf_renderer_map_next_video_frame(h, mapped));
    SHOW("unmap_video_frame", kelmf_renderer_unmap_video_frame(h));
    SHOW("render_frame_from_queue", kelmf_renderer_render_frame_from_queue(h, false));
    SHOW("set_video_frame", kelmf_renderer_set_video_frame(h, planes, strides));
    SHOW("start", kelmf_renderer_start(h));
    SHOW("stop", kelmf_renderer_stop(h));
}

/* The client's own X error handler: counts what reaches it. */
static int g_x_errors = 0;

static int count_x_error(Display* display, XErrorEvent* event)
{
    (void)display;
    (void)event;
    ++g_x_errors;
    return 0;
}

/* After the renderer is gone: is the client's handler (or Xlib's default) still in place,
 * and do its connections still work? */
static void client_goes_on(Display* own, Display* other, XErrorHandler mine)
{
    XErrorHandler now = XSetErrorHandler(mine);
    printf("handler %s\n", now == mine ? "kept" : "changed");
    if (own)
        XSync(own, False);
    if (other)
        XSync(other, False);
    printf("x_errors %d\n", g_x_errors);
    printf("alive\n");
}

/* connection: "caller" hands the client's connection in, "library" lets the library open
 * its own. handler: "counting" installs the client's handler, "default" keeps Xlib's. */
static int bad_window(const char* connection, const char* handler)
{
    kelmf_renderer_handle_t* h = NULL;
    Display* own = XOpenDisplay(NULL);
    XErrorHandler mine = NULL;
    if (!own) {
        printf("no display\n");
        return 1;
    }
    if (strcmp(handler, "counting") == 0)
        XSetErrorHandler(count_x_error);
    mine = XSetErrorHandler(NULL);
    XSetErrorHandler(mine);
    SHOW("new2", kelmf_renderer_new2(&h, KELMF_DISPLAY_X11, KELMF_WINDOW_SYSTEM_DEFAULT));
    if (strcmp(connection, "caller") == 0)
        SHOW("set_display_server", kelmf_renderer_set_display_server(h, own));
    /* An id no client created. */
    SHOW("set_display_target", kelmf_renderer_set_display_target(h, (void*)(unsigned long)0x3fffff0));
    SHOW("set_video_property", kelmf_renderer_set_video_property(h, 64, 48, NV12));
    SHOW("start", kelmf_renderer_start(h));
    SHOW("stop", kelmf_renderer_stop(h));
    SHOW("delete", kelmf_renderer_delete(h));
    client_goes_on(own, NULL, mine);
    XCloseDisplay(own);
    return 0;
}

/* A target that another connection destroys while the renderer draws into it. */
static int destroyed_window(const char* connection)
{
    static unsigned char y[64 * 48], uv[64 * 24];
    void* planes[4] = {y, uv, NULL, NULL};
    int strides[4] = {64, 64, 0, 0};
    kelmf_renderer_handle_t* h = NULL;
    Display* own = XOpenDisplay(NULL);
    Display* other = XOpenDisplay(NULL);
    XErrorHandler mine;
    Window window;
    unsigned status = 0;
    int accepted = 0, refused = 0, i;
    if (!own || !other) {
        printf("no display\n");
        return 1;
    }
    memset(y, 120, sizeof y);
    memset(uv, 128, sizeof uv);
    XSetErrorHandler(count_x_error);
    mine = count_x_error;
    window = XCreateSimpleWindow(own, DefaultRootWindow(own), 0, 0, 64, 48, 0, 0, 0);
    XMapWindow(own, window);
    XSync(own, False);

    SHOW("new2", kelmf_renderer_new2(&h, KELMF_DISPLAY_X11, KELMF_WINDOW_SYSTEM_DEFAULT));
    if (strcmp(connection, "caller") == 0)
        SHOW("set_display_server", kelmf_renderer_set_display_server(h, own));
    SHOW("set_display_target", kelmf_renderer_set_display_target(h, (void*)window));
    SHOW("set_video_property", kelmf_renderer_set_video_property(h, 64, 48, NV12));
    SHOW("start", kelmf_renderer_start(h));
    /* Drawing has begun once the grey shows. */
    for (i = 0; i < 500; ++i) {
        XImage* image;
        unsigned long pixel = 0;
        kelmf_renderer_set_video_frame(h, planes, strides);
        usleep(20000);
        image = XGetImage(other, window, 10, 10, 1, 1, AllPlanes, ZPixmap);
        if (image) {
            pixel = XGetPixel(image, 0, 0);
            XDestroyImage(image);
        }
        if (pixel != 0)
            break;
    }
    printf("shown %d\n", i < 500 ? 1 : 0);
    {
        /* The window property of modes 1 and 2 is there to be deleted at stop. */
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = NULL;
        const char* name = getenv("KELMF_USING_X11_DRM");
        const char* atom = name && strcmp(name, "1") == 0   ? "_NET_KVIX_VIDEO_SEETHROUGH"
                           : name && strcmp(name, "2") == 0 ? "_NET_KVIX_VIDEO_OSD"
                                                            : NULL;
        if (atom && XGetWindowProperty(other, window, XInternAtom(other, atom, False), 0, 1, False, XA_CARDINAL,
                                       &type, &format, &count, &after, &data) == Success)
            printf("property %lu\n", count);
        if (data)
            XFree(data);
    }
    XDestroyWindow(other, window);
    XSync(other, False);
    /* From now on frames fill the pool, then meet 3, and 3 stays (a drawing thread would
     * free a slot within a few frames). */
    for (i = 0, refused = 0; i < 2000 && refused < 40; ++i) {
        status = kelmf_renderer_set_video_frame(h, planes, strides);
        if (status == 0) {
            ++accepted;
            refused = 0;
        } else {
            ++refused;
        }
        usleep(5000);
    }
    printf("accepted_after_destroy %d\n", accepted);
    SHOW("status_after_destroy", status);
    SHOW("stop", kelmf_renderer_stop(h));
    SHOW("delete", kelmf_renderer_delete(h));
    client_goes_on(own, other, mine);
    XCloseDisplay(other);
    XCloseDisplay(own);
    return 0;
}

static kelmf_display_system_t display_system(const char* name)
{
    return (kelmf_display_system_t)atoi(name);
}

int main(int argc, char** argv)
{
    const char* scenario = argc > 1 ? argv[1] : "";
    kelmf_renderer_handle_t* h = NULL;

    if (strcmp(scenario, "null") == 0) {
        /* Null handles: 6 everywhere, after the API line. */
        SHOW("global_init", kelmf_renderer_global_init());
        SHOW("new2", kelmf_renderer_new2(NULL, KELMF_DISPLAY_X11, KELMF_WINDOW_SYSTEM_DEFAULT));
        SHOW("new", kelmf_renderer_new(NULL));
        SHOW("delete", kelmf_renderer_delete(NULL));
        every_function(NULL);
        SHOW("set_hdr_metadata_null", kelmf_renderer_set_hdr_metadata(NULL, NULL));
        return 0;
    }
    if (strcmp(scenario, "outptr") == 0) {
        /* Null out-pointers with a real handle: 5. */
        kelmf_display_system_t ds = display_system(argv[2]);
        SHOW("new2", kelmf_renderer_new2(&h, ds, KELMF_WINDOW_SYSTEM_DEFAULT));
        SHOW("get_background_color", kelmf_renderer_get_background_color(h, NULL));
        SHOW("get_display_number", kelmf_renderer_get_display_number(h, NULL));
        SHOW("create_window", kelmf_renderer_create_window(h, NULL, KEL_PLANE_PRIMARY));
        SHOW("set_hdr_metadata", kelmf_renderer_set_hdr_metadata(h, NULL));
        SHOW("map_next_video_frame", kelmf_renderer_map_next_video_frame(h, NULL));
        SHOW("delete", kelmf_renderer_delete(h));
        return 0;
    }
    if (strcmp(scenario, "slots") == 0) {
        /* Every function on a stopped renderer of one backend. */
        kelmf_display_system_t ds = display_system(argv[2]);
        kelmf_graphic_window_system_t ws = (kelmf_graphic_window_system_t)(argc > 3 ? atoi(argv[3]) : 0);
        SHOW("new2", kelmf_renderer_new2(&h, ds, ws));
        every_function(h);
        SHOW("delete", kelmf_renderer_delete(h));
        return 0;
    }
    if (strcmp(scenario, "new") == 0) {
        /* Which backend kelmf_renderer_new chose: only OpenGL keeps a background colour. */
        unsigned long color = 0;
        SHOW("new", kelmf_renderer_new(&h));
        SHOW("get_background_color", kelmf_renderer_get_background_color(h, &color));
        SHOW("delete", kelmf_renderer_delete(h));
        return 0;
    }
    if (strcmp(scenario, "background") == 0) {
        unsigned long color = 0;
        SHOW("new2", kelmf_renderer_new2(&h, KELMF_DISPLAY_X11, KELMF_WINDOW_SYSTEM_DEFAULT));
        SHOW("set_background_color", kelmf_renderer_set_background_color(h, 0x80402010UL));
        SHOW("get_background_color", kelmf_renderer_get_background_color(h, &color));
        printf("color %08lx\n", color);
        SHOW("delete", kelmf_renderer_delete(h));
        return 0;
    }
    if (strcmp(scenario, "init_twice") == 0) {
        /* The environment is read once: a change after the first call has no effect. */
        SHOW("global_init", kelmf_renderer_global_init());
        setenv("KELMF_DEBUG_API", "1", 1);
        SHOW("global_init", kelmf_renderer_global_init());
        SHOW("new2", kelmf_renderer_new2(&h, KELMF_DISPLAY_X11, KELMF_WINDOW_SYSTEM_DEFAULT));
        SHOW("delete", kelmf_renderer_delete(h));
        return 0;
    }
    if (strcmp(scenario, "bad_window") == 0 && argc > 3)
        return bad_window(argv[2], argv[3]);
    if (strcmp(scenario, "destroyed_window") == 0 && argc > 2)
        return destroyed_window(argv[2]);
    (void)g_released;
    fprintf(stderr, "unknown scenario\n");
    return 2;
}
