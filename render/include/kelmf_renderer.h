/* libklmf video renderer: the C interface for callers outside the system.
 *
 * Every function returns a status: 0 success, 1 failure, 2 out of memory,
 * 3 no free frame buffer or window id, 4 KMS failure, 5 bad argument or
 * unsupported format, 6 null handle, 7 not supported by this backend,
 * 8 not implemented by this backend.
 *
 * A frame handed in with a release callback is released exactly once by
 * whoever ends its life (shown, dropped or refused). */
#ifndef KELMF_RENDERER_H
#define KELMF_RENDERER_H

#include <stdbool.h>
#include <stdint.h>

#if defined(KELMF_BUILDING_LIBRARY)
#define KELMF_API __attribute__((visibility("default")))
#else
#define KELMF_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define KELMF_FOURCC(a, b, c, d) \
    ((uint32_t)(a) | ((uint32_t)(b) << 8) | ((uint32_t)(c) << 16) | ((uint32_t)(d) << 24))

typedef enum kelmf_image_format_t {
    RGB24 = 0,
    BGR24 = 1,
    ARGB32 = 2,
    ABGR32 = 3,
    YV12 = 0x32315659,
    I420 = 0x30323449,
    NV12 = 0x3231564E,
    P010 = 0x30313050,
    Y416 = 0x36313459,
    UYVY = 0x59565955,
    YUY2 = 0x32595559
} kelmf_image_format_t;

typedef enum kelmf_display_system_t {
    KELMF_DISPLAY_X11 = 0,
    KELMF_DISPLAY_QT = 3,
    KELMF_DISPLAY_DRM = 4,
    KELMF_DISPLAY_DRM_X11 = 5
} kelmf_display_system_t;

typedef enum kelmf_graphic_window_system_t {
    KELMF_WINDOW_SYSTEM_DEFAULT = 0,
    KELMF_WINDOW_SYSTEM_QT = 3
} kelmf_graphic_window_system_t;

typedef enum kel_plane_type_e {
    KEL_PLANE_PRIMARY = 0,
    KEL_PLANE_OVERLAY = 1
} kel_plane_type_e;

typedef struct __kelmf_hdr_metadata_hdr10 {
    uint16_t red_x, red_y;
    uint16_t green_x, green_y;
    uint16_t blue_x, blue_y;
    uint16_t white_x, white_y;
    uint32_t max_luminance;
    uint32_t min_luminance;
    uint16_t max_content_light_level;
    uint16_t max_frame_average_light_level;
} __kelmf_hdr_metadata_hdr10;

/* Called exactly once per frame that carries it, from the thread that ends the frame's life. */
typedef void (*kelmf_frame_release_t)(void** planes, int* strides, void* user);

/* The cell that holds one renderer object. */
typedef void* kelmf_renderer_handle_t;

KELMF_API uint32_t kelmf_renderer_global_init(void);
KELMF_API uint32_t kelmf_renderer_new(kelmf_renderer_handle_t** handle);
KELMF_API uint32_t kelmf_renderer_new2(kelmf_renderer_handle_t** handle, kelmf_display_system_t display_system,
                                       kelmf_graphic_window_system_t window_system);
KELMF_API uint32_t kelmf_renderer_delete(kelmf_renderer_handle_t* handle);
KELMF_API uint32_t kelmf_renderer_start(kelmf_renderer_handle_t* handle);
KELMF_API uint32_t kelmf_renderer_stop(kelmf_renderer_handle_t* handle);
KELMF_API uint32_t kelmf_renderer_map_next_video_frame(kelmf_renderer_handle_t* handle, void* planes[4]);
KELMF_API uint32_t kelmf_renderer_unmap_video_frame(kelmf_renderer_handle_t* handle);
KELMF_API uint32_t kelmf_renderer_set_video_frame(kelmf_renderer_handle_t* handle, void** planes, int* strides);
KELMF_API uint32_t kelmf_renderer_set_display_server(kelmf_renderer_handle_t* handle, void* display);
KELMF_API uint32_t kelmf_renderer_set_display_target(kelmf_renderer_handle_t* handle, void* window);
KELMF_API uint32_t kelmf_renderer_set_display_property(kelmf_renderer_handle_t* handle, int width, int height,
                                                       kelmf_image_format_t format);
KELMF_API uint32_t kelmf_renderer_set_video_property(kelmf_renderer_handle_t* handle, int width, int height,
                                                     kelmf_image_format_t format);
KELMF_API uint32_t kelmf_renderer_get_background_color(kelmf_renderer_handle_t* handle, unsigned long* color);
KELMF_API uint32_t kelmf_renderer_set_background_color(kelmf_renderer_handle_t* handle, unsigned long color);
KELMF_API uint32_t kelmf_renderer_enable_hdr(kelmf_renderer_handle_t* handle, bool enable);
KELMF_API uint32_t kelmf_renderer_set_hdr_metadata(kelmf_renderer_handle_t* handle,
                                                   __kelmf_hdr_metadata_hdr10* metadata);
KELMF_API uint32_t kelmf_renderer_set_gpudirect(kelmf_renderer_handle_t* handle, bool enable);
KELMF_API uint32_t kelmf_renderer_render_frame_from_queue(kelmf_renderer_handle_t* handle, bool wait);
KELMF_API uint32_t kelmf_renderer_get_display_number(kelmf_renderer_handle_t* handle, int* count);
KELMF_API uint32_t kelmf_renderer_display_get_mode(kelmf_renderer_handle_t* handle, unsigned index,
                                                   unsigned long* width, unsigned long* height, double* rate);
KELMF_API uint32_t kelmf_renderer_display_set_mode(kelmf_renderer_handle_t* handle, unsigned index,
                                                   unsigned long width, unsigned long height, double rate);
KELMF_API uint32_t kelmf_renderer_create_window(kelmf_renderer_handle_t* handle, unsigned* id,
                                                kel_plane_type_e plane);
KELMF_API uint32_t kelmf_renderer_window_get_geometry(kelmf_renderer_handle_t* handle, unsigned id,
                                                      unsigned long* x, unsigned long* y, unsigned long* width,
                                                      unsigned long* height);
KELMF_API uint32_t kelmf_renderer_window_set_geometry(kelmf_renderer_handle_t* handle, unsigned id,
                                                      unsigned long x, unsigned long y, unsigned long width,
                                                      unsigned long height);
KELMF_API uint32_t kelmf_renderer_window_set_frame(kelmf_renderer_handle_t* handle, unsigned id, void** planes,
                                                   int* strides, kelmf_frame_release_t release, void* user);
KELMF_API uint32_t kelmf_renderer_window_set_video_property(kelmf_renderer_handle_t* handle, unsigned id,
                                                            unsigned long width, unsigned long height,
                                                            kelmf_image_format_t format);
KELMF_API uint32_t kelmf_renderer_window_destroy(kelmf_renderer_handle_t* handle, unsigned id);

#ifdef __cplusplus
}
#endif

#endif
