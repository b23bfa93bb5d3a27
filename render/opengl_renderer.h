// The OpenGL backend: frames are copied into a pool of six texture sets on the producer's
// thread, fenced and queued; the drawing side (its own render thread on an X11 window, or
// the host's GL thread) shows only the newest queued frame.
//
// Lock order: m_free_mutex before m_ready_mutex. Only set_video_property, init_opengl and
// stop hold both; every other path holds one at a time.
#pragma once

#include <GLES3/gl32.h>
#include <X11/Xlib.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "color_matrix.h"
#include "fps_statics.h"
#include "gl_context.h"
#include "pixel_format.h"
#include "renderer_interface.h"

class kelmf_x11_display_t;
class kelmf_x11_window_t;

// One pool slot. Its GL objects match the video property of its generation, so a slot
// uploaded before a property change is still drawn with its own sizes.
struct _kelmf_video_texture_t {
    uint64_t frame = 0;
    GLuint textures[4] = {0, 0, 0, 0};
    GLuint buffers[4] = {0, 0, 0, 0};
    GLsync fence = nullptr;
    uint64_t generation = 0;
    bool created = false;
    int width = 0;
    int height = 0;
    const kelmf_pixel_data_t* pixel = nullptr;
};

class kelmf_renderer_opengl_t : public kelmf_renderer_interface {
public:
    static constexpr int kPoolSize = 6;

    kelmf_renderer_opengl_t(kelmf_display_system_t display_system, kelmf_graphic_window_system_t window_system);
    ~kelmf_renderer_opengl_t() override;

    uint32_t set_display_target(void* window) override;
    uint32_t set_display_property(int width, int height, kelmf_image_format_t format) override;
    uint32_t set_video_property(int width, int height, kelmf_image_format_t format) override;
    uint32_t get_background_color(unsigned long* color) override;
    uint32_t set_background_color(unsigned long color) override;
    uint32_t start() override;
    uint32_t stop() override;
    uint32_t set_video_frame(void** planes, int* strides, kelmf_frame_release_t release, void* user) override;
    uint32_t enable_hdr(bool enable) override;
    uint32_t set_hdr_metadata(__kelmf_hdr_metadata_hdr10& metadata) override;
    uint32_t set_gpudirect(bool enable) override;
    uint32_t get_display_number(int*) override { return KELMF_NOT_IMPLEMENTED; }
    uint32_t display_get_mode(unsigned, unsigned long*, unsigned long*, double*) override
    {
        return KELMF_NOT_IMPLEMENTED;
    }
    uint32_t display_set_mode(unsigned, unsigned long, unsigned long, double) override
    {
        return KELMF_NOT_IMPLEMENTED;
    }
    uint32_t create_window(unsigned*, kel_plane_type_e) override { return KELMF_NOT_IMPLEMENTED; }
    uint32_t window_get_geometry(unsigned, unsigned long*, unsigned long*, unsigned long*, unsigned long*) override
    {
        return KELMF_NOT_IMPLEMENTED;
    }
    uint32_t window_set_geometry(unsigned, unsigned long, unsigned long, unsigned long, unsigned long) override
    {
        return KELMF_NOT_IMPLEMENTED;
    }
    uint32_t window_set_frame(unsigned, void** planes, int* strides, kelmf_frame_release_t release,
                              void* user) override;
    uint32_t window_set_video_property(unsigned, unsigned long, unsigned long, kelmf_image_format_t) override
    {
        return KELMF_NOT_IMPLEMENTED;
    }
    uint32_t window_destroy(unsigned) override { return KELMF_NOT_IMPLEMENTED; }
    uint32_t set_display_server(void* display) override;
    uint32_t map_next_video_frame(void* (&planes)[4]) override;
    uint32_t unmap_video_frame() override;
    uint32_t render_frame_from_queue(bool wait) override;

    virtual uint32_t __set_video_frame(void** planes, int* strides);

    // Upload method from the GL vendor and the gpudirect flag.
    static int choose_upload_method(const char* vendor, bool gpudirect);

protected:
    bool host_context() const { return m_display_system == 3 && m_window_system == 3; }

    static void recreateSurface(int x, int y, int width, int height, void* user);
    static void windowDelete(void* user);
    void recreate_surface();
    void window_being_destroy();
    void render_thread();

    uint32_t init_opengl();
    uint32_t init_shader(const kelmf_pixel_data_t* pixel);
    void init_quad();
    uint32_t create_texture_lock();
    uint32_t video_resize_lock();
    // The X connection in X11 mode, else null.
    Display* xDisplay() const;
    void destroy_texture_lock();
    bool create_slot(_kelmf_video_texture_t& slot, int width, int height, const kelmf_pixel_data_t* pixel,
                     uint64_t generation);
    void delete_slot(_kelmf_video_texture_t& slot);
    int pop_next_video_frame(uint32_t& status);
    uint32_t transfer_texture(_kelmf_video_texture_t& slot, void** planes, int* strides);
    void finish_video_frame(int index);
    void received_texture(_kelmf_video_texture_t& slot);
    void recycle_texture(int index);
    void recycle_textures(const int* indices, int count);
    void surface_size_line(bool enable, bool locked = false);

    kelmf_display_system_t m_display_system;
    kelmf_graphic_window_system_t m_window_system;

    // Video property; written under both list locks, read under either.
    kelmf_image_format_t m_video_format = BGR24;
    int m_video_width = 1920;
    int m_video_height = 1080;
    const kelmf_pixel_data_t* m_pixel = nullptr;
    uint64_t m_generation = 1;

    kelmf_image_format_t m_output_format = ARGB32;
    int m_output_width = 1920;
    int m_output_height = 1080;

    bool m_gpudirect = false;
    std::atomic<bool> m_started{false};
    bool m_vendor_intel = false;
    double m_rate = 0;
    double m_vsync_interval = 0;
    std::atomic<int> m_method{0};

    // Drawing side only.
    GLuint m_program = 0;
    uint32_t m_program_format = 0;
    bool m_program_valid = false;
    GLint m_loc_y = -1, m_loc_u = -1, m_loc_v = -1, m_loc_conv = -1;
    GLuint m_vao = 0, m_vbo = 0, m_ebo = 0;
    float m_background[4] = {0, 0, 0, 0};
    // Written by the drawing side on a surface change, read by the producer's log line.
    std::atomic<int> m_viewport_width{1920};
    std::atomic<int> m_viewport_height{1080};

    kelmf_x11_display_t* m_display = nullptr;
    kelmf_x11_window_t* m_window = nullptr;
    const gl_context_implement_t* m_context = &g_internal_gl_context_implement;
    kelmf_egl_state_t m_egl;

    int m_mapped = -1;
    int m_mapped_sizes[4] = {0, 0, 0, 0};
    bool m_skip_draw = false;

    _kelmf_video_texture_t m_pool[kPoolSize];
    bool m_pool_created = false;
    std::thread m_render_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_torn_down{false};

    std::deque<int> m_ready;
    std::mutex m_ready_mutex;
    std::condition_variable m_ready_cv;
    std::deque<int> m_free;
    std::mutex m_free_mutex;

    uint64_t m_frame_counter = 0;  // producer side only
    FPSStatics m_display_stat;     // producer side only
    FPSStatics m_preview_stat;     // drawing side only
};
