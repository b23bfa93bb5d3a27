/* An outside caller of libklmf, written in C. Each scenario prints "<call> <status>" lines
 * (the library's own log lines land in the same stream, in order). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kelmf_renderer.h"

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
    (void)g_released;
    fprintf(stderr, "unknown scenario\n");
    return 2;
}
