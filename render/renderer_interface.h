// The one interface behind the exported kelmf_renderer_* functions; each backend implements it.
#pragma once

#include "kelmf_renderer.h"

// Status codes of every operation.
enum : uint32_t {
    KELMF_OK = 0,
    KELMF_FAIL = 1,
    KELMF_NO_MEMORY = 2,
    KELMF_NO_BUFFER = 3,
    KELMF_KMS_FAIL = 4,
    KELMF_BAD_ARGUMENT = 5,
    KELMF_NULL_HANDLE = 6,
    KELMF_NOT_SUPPORTED = 7,
    KELMF_NOT_IMPLEMENTED = 8,
};

class kelmf_renderer_interface {
public:
    virtual uint32_t set_display_target(void* window) = 0;
    virtual uint32_t set_display_property(int width, int height, kelmf_image_format_t format) = 0;
    virtual uint32_t set_video_property(int width, int height, kelmf_image_format_t format) = 0;
    virtual uint32_t get_background_color(unsigned long* color) = 0;
    virtual uint32_t set_background_color(unsigned long color) = 0;
    virtual uint32_t start() = 0;
    virtual uint32_t stop() = 0;
    virtual uint32_t set_video_frame(void** planes, int* strides, kelmf_frame_release_t release, void* user) = 0;
    virtual uint32_t enable_hdr(bool enable) = 0;
    virtual uint32_t set_hdr_metadata(__kelmf_hdr_metadata_hdr10& metadata) = 0;
    virtual uint32_t set_gpudirect(bool enable) = 0;
    virtual uint32_t get_display_number(int* count) = 0;
    virtual uint32_t display_get_mode(unsigned index, unsigned long* width, unsigned long* height, double* rate) = 0;
    virtual uint32_t display_set_mode(unsigned index, unsigned long width, unsigned long height, double rate) = 0;
    virtual uint32_t create_window(unsigned* id, kel_plane_type_e plane) = 0;
    virtual uint32_t window_get_geometry(unsigned id, unsigned long* x, unsigned long* y, unsigned long* width,
                                         unsigned long* height) = 0;
    virtual uint32_t window_set_geometry(unsigned id, unsigned long x, unsigned long y, unsigned long width,
                                         unsigned long height) = 0;
    virtual uint32_t window_set_frame(unsigned id, void** planes, int* strides, kelmf_frame_release_t release,
                                      void* user) = 0;
    virtual uint32_t window_set_video_property(unsigned id, unsigned long width, unsigned long height,
                                               kelmf_image_format_t format) = 0;
    virtual uint32_t window_destroy(unsigned id) = 0;
    virtual uint32_t set_display_server(void* display) = 0;
    virtual uint32_t map_next_video_frame(void* (&planes)[4]) = 0;
    virtual uint32_t unmap_video_frame() = 0;
    virtual uint32_t render_frame_from_queue(bool wait) = 0;
    virtual ~kelmf_renderer_interface() = default;
};
