#include "opengl_renderer.h"

#include <sys/select.h>

#include <strings.h>

#include <cstdlib>
#include <cstring>

#include "log.h"
#include "nvtx.h"
#include "x11_display.h"
#include "x11_error_trap.h"

namespace {

// Bytes of one pixel of plane i. The table counts Y416's four 16-bit components (U, Y, V,
// alpha); each takes two bytes.
uint64_t pixelBytes(const kelmf_pixel_data_t* p, int i)
{
    return p->format == Y416 ? 2 * p->bytesPerPixel[i] : p->bytesPerPixel[i];
}

// Samples of one texture, per texel, in bytes (the packed formats' second texture reads
// two pixels per texel).
uint64_t texelBytes(const kelmf_pixel_data_t* p, int j)
{
    return p->bytesPerPixel[j] ? pixelBytes(p, j) : p->bytesPerPixel[0] * p->divisor[j][0];
}

// How texture j is stored and uploaded.
struct TextureFormat {
    GLint internal;
    GLenum format;
    GLenum type;
};

TextureFormat textureFormat(const kelmf_pixel_data_t* p, int j)
{
    // P010 is uploaded as bytes (low, high) and put together in the shader.
    if (p->format == P010)
        return j == 0 ? TextureFormat{GL_RG, GL_RG, GL_UNSIGNED_BYTE} : TextureFormat{GL_RGBA, GL_RGBA, GL_UNSIGNED_BYTE};
    // Y416's components are unsigned 16-bit integers: a signed texture would read the upper
    // half of the range as negative.
    if (p->format == Y416)
        return {GL_RGBA16UI, GL_RGBA_INTEGER, GL_UNSIGNED_SHORT};
    return {static_cast<GLint>(p->glFormat[j]), p->glFormat[j], GL_UNSIGNED_BYTE};
}

int texWidth(const kelmf_pixel_data_t* p, int j, int width)
{
    return width / static_cast<int>(p->divisor[j][0]);
}

int texHeight(const kelmf_pixel_data_t* p, int j, int height)
{
    return height / static_cast<int>(p->divisor[j][1]);
}

size_t rowBytes(const kelmf_pixel_data_t* p, int i, int width)
{
    return static_cast<size_t>(texWidth(p, i, width)) * pixelBytes(p, i);
}

size_t planeSize(const kelmf_pixel_data_t* p, int i, int width, int height)
{
    return rowBytes(p, i, width) * static_cast<size_t>(texHeight(p, i, height));
}

// Copies rows of a plane with its stride into tightly packed memory.
void copyRows(uint8_t* dst, const uint8_t* src, size_t row, size_t stride, int rows)
{
    if (stride == row) {
        std::memcpy(dst, src, row * static_cast<size_t>(rows));
        return;
    }
    for (int r = 0; r < rows; ++r)
        std::memcpy(dst + row * static_cast<size_t>(r), src + stride * static_cast<size_t>(r), row);
}

const char* const kVertexBody =
    "precision mediump float;\n"
    "layout(location = 0) in vec2 i_position;\n"
    "layout(location = 1) in vec2 i_texcord;\n"
    "out vec2 v_texcord;\n"
    "void main() {\n"
    "    v_texcord = i_texcord;\n"
    "    gl_Position = vec4(i_position, 0.0, 1.0);\n"
    "}\n";

const char* const kFragmentBody =
    "precision mediump float;\n"
    "in vec2 v_texcord;\n"
    "#if defined(Y416)\n"
    "uniform highp usampler2D textureY;\n"
    "#else\n"
    "uniform sampler2D textureY;\n"
    "#endif\n"
    "uniform sampler2D textureU;\n"
    "uniform sampler2D textureV;\n"
    "uniform mat4 colorConv;\n"
    "out vec4 o_color;\n"
    "void main() {\n"
    "#if defined(NV12)\n"
    "    vec3 yuv = vec3(texture(textureY, v_texcord).r, texture(textureU, v_texcord).rg);\n"
    "#elif defined(YUY2)\n"
    "    vec4 c = texture(textureU, v_texcord);\n"
    "    vec3 yuv = vec3(texture(textureY, v_texcord).r, c.g, c.a);\n"
    "#elif defined(UYVY)\n"
    "    vec4 c = texture(textureU, v_texcord);\n"
    "    vec3 yuv = vec3(texture(textureY, v_texcord).g, c.r, c.b);\n"
    "#elif defined(YV12)\n"
    "    // YV12 carries its V plane before its U plane.\n"
    "    vec3 yuv = vec3(texture(textureY, v_texcord).r, texture(textureV, v_texcord).r,\n"
    "                    texture(textureU, v_texcord).r);\n"
    "#elif defined(I420)\n"
    "    vec3 yuv = vec3(texture(textureY, v_texcord).r, texture(textureU, v_texcord).r,\n"
    "                    texture(textureV, v_texcord).r);\n"
    "#elif defined(P010)\n"
    "    vec2 l = texture(textureY, v_texcord).rg;\n"
    "    vec4 c = texture(textureU, v_texcord);\n"
    // 255 / 65535 written out: 65535 itself is beyond mediump range.
    "    highp vec3 yuv = vec3(l.r + l.g * 256.0, c.r + c.g * 256.0, c.b + c.a * 256.0) * 0.0038910506;\n"
    "#elif defined(Y416)\n"
    // U, Y, V, alpha. 16-bit codes are the 8-bit ones times 256: 1 / (255 * 256) maps them
    // onto the 8-bit matrix.
    "    highp vec4 t = vec4(texture(textureY, v_texcord)) * 1.5318627e-5;\n"
    "    highp vec3 yuv = vec3(t.g, t.r, t.b);\n"
    "#endif\n"
    "#if defined(NV12) || defined(YUY2) || defined(UYVY) || defined(YV12) || defined(I420) || defined(P010) || \\\n"
    "    defined(Y416)\n"
    "    o_color = colorConv * vec4(yuv, 1.0);\n"
    "    o_color.a = 1.0;\n"
    "#else\n"
    "    vec4 t = texture(textureY, v_texcord);\n"
    "    o_color = vec4(t.b, t.g, t.r, 1.0);\n"
    "#endif\n"
    "}\n";

GLuint compile(GLenum type, const kelmf_pixel_data_t* pixel, const char* body, const char* failure)
{
    const char* sources[3] = {"#version 320 es\n", pixel->define, body};
    GLuint shader = glCreateShader(type);
    glShaderSource(shader, 3, sources, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[512] = {0};
        glGetShaderInfoLog(shader, sizeof log, nullptr, log);
        KEL_LOG(true, "%s", failure);
        KEL_LOG(true, "[KMFR]E %s\n", log);
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

} // namespace

kelmf_renderer_opengl_t::kelmf_renderer_opengl_t(kelmf_display_system_t display_system,
                                                 kelmf_graphic_window_system_t window_system)
    : m_display_system(display_system), m_window_system(window_system)
{
    m_pixel = findPixelData(m_video_format);
    const char* skip = std::getenv("KELMF_SKIP_DRAW_COMMAND_FOR_TESTING");
    m_skip_draw = skip && std::strtol(skip, nullptr, 10) == 1;
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I skip draw command :%d\n", m_skip_draw ? 1 : 0);
    m_display_stat.setName("display");
    m_preview_stat.setName("preview");
}

kelmf_renderer_opengl_t::~kelmf_renderer_opengl_t()
{
    // The caller stops first; a render thread still running would use what is freed here.
    if (m_render_thread.joinable())
        stop();
    delete m_window;
    // A caller's connection stays open; one the library opened itself would otherwise leak.
    if (m_display && m_display->ownsConnection())
        m_display->close();
    delete m_display;
}

uint32_t kelmf_renderer_opengl_t::set_display_target(void* window)
{
    if (!m_window)
        m_window = new kelmf_x11_window_t(reinterpret_cast<Window>(window));
    else
        m_window->setNative(window);
    return KELMF_OK;
}

Display* kelmf_renderer_opengl_t::xDisplay() const
{
    return m_display ? static_cast<Display*>(m_display->getNative()) : nullptr;
}

uint32_t kelmf_renderer_opengl_t::set_display_server(void* display)
{
    if (!m_display)
        m_display = new kelmf_x11_display_t(display, false);
    else
        m_display->setNative(display);
    return KELMF_OK;
}

void kelmf_renderer_opengl_t::surface_size_line(bool enable, bool locked)
{
    if (!enable)
        return;
    int width, height;
    if (locked) {
        width = m_video_width;
        height = m_video_height;
    } else {
        std::lock_guard<std::mutex> lock(m_free_mutex);
        width = m_video_width;
        height = m_video_height;
    }
    KEL_LOG(true, "[KMFR]I Surface size viewport %dx%d window %dx%d video %dx%d %d\n", m_viewport_width.load(),
            m_viewport_height.load(), m_output_width, m_output_height, width, height, host_context() ? 1 : 0);
}

uint32_t kelmf_renderer_opengl_t::set_display_property(int width, int height, kelmf_image_format_t format)
{
    if (format != ARGB32)
        return KELMF_BAD_ARGUMENT;
    m_output_format = format;
    m_output_width = width;
    m_output_height = height;
    if (host_context()) {
        m_viewport_width = width;
        m_viewport_height = height;
        surface_size_line(KEL_DISPLAY_ON(0));
        GL_CHECK(glViewport(0, 0, width, height));
    }
    return KELMF_OK;
}

uint32_t kelmf_renderer_opengl_t::set_video_property(int width, int height, kelmf_image_format_t format)
{
    if (width == 0 || height == 0) {
        width = 1920;
        height = 1080;
    }
    {
        std::lock_guard<std::mutex> freeLock(m_free_mutex);
        if (format == m_video_format && width == m_video_width && height == m_video_height)
            return KELMF_OK;
    }
    const kelmf_pixel_data_t* pixel = findPixelData(format);
    if (!pixel || width < 0 || height < 0) {
        KEL_LOG(true, "[KMFR]E set_video_property: pixel format is invalid\n");
        return KELMF_BAD_ARGUMENT;
    }
    std::lock_guard<std::mutex> freeLock(m_free_mutex);
    {
        // The render thread reads the property under the ready lock; the rebuild below
        // touches only free slots, which it never holds, so it keeps the free lock alone.
        std::lock_guard<std::mutex> readyLock(m_ready_mutex);
        m_video_width = width;
        m_video_height = height;
        m_video_format = format;
        m_pixel = pixel;
        ++m_generation;
    }
    if (!m_started)
        return KELMF_OK;
    surface_size_line(KEL_OGL_ON(1), true);
    m_context->makeCopyCurrent(&m_egl);
    const uint32_t status = video_resize_lock();
    // A mapped frame keeps the copy context current until it is unmapped.
    if (m_mapped < 0)
        m_context->makeNoCurrent(&m_egl);
    if (status != KELMF_OK) {
        KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I kelmf_renderer_set_video_property: fail to create texture\n");
        return status;
    }
    return KELMF_OK;
}

uint32_t kelmf_renderer_opengl_t::video_resize_lock()
{
    // Only the free slots are rebuilt here: a queued slot keeps its frame and the one being
    // drawn stays valid; both are rebuilt when the producer next takes them.
    KEL_LOG(KEL_BUFFER_ON(0), "[KMFR]I create_texture_lock( %dx%d %08x )\n", m_video_width, m_video_height,
            static_cast<unsigned>(m_video_format));
    for (int index : m_free) {
        if (!create_slot(m_pool[index], m_video_width, m_video_height, m_pixel, m_generation)) {
            delete_slot(m_pool[index]);
            KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I video_resize_lock: fail to create texture\n");
            return KELMF_NO_MEMORY;
        }
    }
    return KELMF_OK;
}

uint32_t kelmf_renderer_opengl_t::get_background_color(unsigned long* color)
{
    if (!color)
        return KELMF_BAD_ARGUMENT;
    unsigned long value = 0;
    for (int i = 0; i < 4; ++i)
        value = (value << 8) | (static_cast<unsigned long>(m_background[i] * 255.0f) & 0xff);
    *color = value;
    return KELMF_OK;
}

uint32_t kelmf_renderer_opengl_t::set_background_color(unsigned long color)
{
    for (int i = 0; i < 4; ++i)
        m_background[i] = static_cast<float>((color >> (24 - 8 * i)) & 0xff) / 255.0f;
    return KELMF_OK;
}

uint32_t kelmf_renderer_opengl_t::enable_hdr(bool)
{
    KEL_LOG(KEL_API_ON, "[KMFR]A enable_hdr: not yet implement\n");
    return KELMF_NOT_IMPLEMENTED;
}

uint32_t kelmf_renderer_opengl_t::set_hdr_metadata(__kelmf_hdr_metadata_hdr10&)
{
    KEL_LOG(KEL_API_ON, "[KMFR]A set_hdr_metadata: not yet implement\n");
    return KELMF_NOT_IMPLEMENTED;
}

uint32_t kelmf_renderer_opengl_t::set_gpudirect(bool enable)
{
    KEL_LOG(KEL_API_ON, "[KMFR]A set_gpudirect: %d\n", enable ? 1 : 0);
    if (m_started) {
        KEL_LOG(true, "[KMFR]W Can't call kelmf_renderer_set_gpudirect after renderer_start\n");
        return KELMF_FAIL;
    }
    m_gpudirect = enable;
    return KELMF_OK;
}

uint32_t kelmf_renderer_opengl_t::window_set_frame(unsigned, void** planes, int* strides,
                                                   kelmf_frame_release_t release, void* user)
{
    // Not a window backend, but the frame handed in still ends its life here.
    if (release)
        release(planes, strides, user);
    return KELMF_NOT_IMPLEMENTED;
}

int kelmf_renderer_opengl_t::choose_upload_method(const char* vendor, bool gpudirect)
{
    if (gpudirect)
        return 3;
    return vendor && strcasecmp(vendor, "Intel") == 0 ? 2 : 0;
}

// ---- start and stop -------------------------------------------------------------------

uint32_t kelmf_renderer_opengl_t::start()
{
    if (m_started || m_torn_down)
        return KELMF_FAIL;
    if (host_context()) {
        m_context = &g_qt_gl_context_implement;
        uint32_t status = init_opengl();
        if (status != KELMF_OK) {
            KEL_LOG(true, "[KMFR]E Init opengl fail\n");
            return status;
        }
        m_started = true;
        return KELMF_OK;
    }
    m_context = &g_internal_gl_context_implement;
    KEL_LOG(KEL_API_ON, "[KMFR]A kelmf_renderer_start %p %p x11 \n", static_cast<void*>(m_display),
            static_cast<void*>(m_window));
    if (!m_display) {
        KEL_LOG(KEL_API_ON, "[KMFR]A kelmf_renderer_start: no display open a new display\n");
        m_display = new kelmf_x11_display_t(nullptr, false);
    }
    if (!m_window)
        return KELMF_BAD_ARGUMENT;
    m_display->getRefreshRateAndVsyncInterval(m_rate, m_vsync_interval);
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I display rate:%6.2f vsync:%6.4f\n", m_rate, m_vsync_interval);
    m_display->registerWindowConfigCallback(recreateSurface, this);
    m_display->registerWindowDeleteCallback(windowDelete, this);
    // A window id that names no window is a bad target (setupWindow wrote why).
    if (m_display->setupWindow(m_window) != 0)
        return KELMF_BAD_ARGUMENT;
    m_egl.display = m_display;
    m_egl.window = m_window;
    m_egl.videoWidth = m_video_width;
    m_egl.videoHeight = m_video_height;
    int32_t init;
    {
        kelmf_x11_error_trap_t trap(xDisplay());
        init = m_context->init(&m_egl);
    }
    if (init != 0) {
        KEL_LOG(true, "[KMFR]E Init egl fail\n");
        m_display->unsetupWindow(m_window);
        return KELMF_FAIL;
    }
    m_context->makeMainCurrent(&m_egl);
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I Window Size %ldx%ld\n", static_cast<long>(m_output_width),
            static_cast<long>(m_output_height));
    uint32_t status = init_opengl();
    if (status != KELMF_OK) {
        KEL_LOG(true, "[KMFR]E Init opengl fail\n");
        destroy_texture_lock();
        m_context->makeNoCurrent(&m_egl);
        m_context->destroy(&m_egl);
        eglDestroySurface(m_egl.eglDisplay, m_egl.surface);
        m_egl.surface = EGL_NO_SURFACE;
        m_display->unsetupWindow(m_window);
        return status;
    }
    m_context->makeNoCurrent(&m_egl);
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I Start render thread\n");
    m_started = true;
    m_render_thread = std::thread(&kelmf_renderer_opengl_t::render_thread, this);
    return KELMF_OK;
}

uint32_t kelmf_renderer_opengl_t::stop()
{
    {
        // Under the ready-list mutex, so a waiter cannot miss it between its check and its wait.
        std::lock_guard<std::mutex> lock(m_ready_mutex);
        m_stop = true;
    }
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I Start waiting render quit...\n");
    m_ready_cv.notify_all();
    if (m_render_thread.joinable())
        m_render_thread.join();
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I render quit\n");
    // After the join: the X connection is the render thread's while it runs.
    if (!host_context() && m_display && m_window)
        m_display->unsetupWindow(m_window);
    if (!m_started && !m_pool_created)
        return KELMF_OK;
    // EGL's requests on a window that is gone fail; their errors stay here.
    kelmf_x11_error_trap_t trap(host_context() ? nullptr : xDisplay());
    // GL objects go with a context current: the copy context in X11 mode, the host's otherwise.
    m_context->makeCopyCurrent(&m_egl);
    {
        std::lock_guard<std::mutex> freeLock(m_free_mutex);
        std::lock_guard<std::mutex> readyLock(m_ready_mutex);
        m_started = false;
        m_torn_down = true;
        destroy_texture_lock();
        if (m_program)
            glDeleteProgram(m_program);
        m_program = 0;
        m_program_valid = false;
        // A vertex array is not shared between contexts: in X11 mode it goes with the main one.
        if (m_vao && host_context())
            glDeleteVertexArrays(1, &m_vao);
        if (m_vbo)
            glDeleteBuffers(1, &m_vbo);
        if (m_ebo)
            glDeleteBuffers(1, &m_ebo);
        m_vao = m_vbo = m_ebo = 0;
    }
    m_context->makeNoCurrent(&m_egl);
    m_context->destroy(&m_egl);
    if (!host_context() && m_egl.eglDisplay != EGL_NO_DISPLAY) {
        if (m_egl.surface != EGL_NO_SURFACE)
            eglDestroySurface(m_egl.eglDisplay, m_egl.surface);
        m_egl.surface = EGL_NO_SURFACE;
        // EGL keeps per-connection state: on a connection the library opened (and closes) it
        // must go first. A caller's connection keeps the caller's EGL state.
        if (m_display && m_display->ownsConnection())
            eglTerminate(m_egl.eglDisplay);
        m_egl.eglDisplay = EGL_NO_DISPLAY;
    }
    return KELMF_OK;
}

void kelmf_renderer_opengl_t::render_thread()
{
    m_context->makeMainCurrent(&m_egl);
    while (!m_stop) {
        render_frame_from_queue(true);
        m_display->handleEvent();
    }
    m_context->makeNoCurrent(&m_egl);
}

void kelmf_renderer_opengl_t::recreateSurface(int, int, int, int, void* user)
{
    static_cast<kelmf_renderer_opengl_t*>(user)->recreate_surface();
}

void kelmf_renderer_opengl_t::windowDelete(void* user)
{
    static_cast<kelmf_renderer_opengl_t*>(user)->window_being_destroy();
}

void kelmf_renderer_opengl_t::recreate_surface()
{
    kelmf_x11_error_trap_t trap(xDisplay());
    m_context->makeNoCurrent(&m_egl);
    if (!eglDestroySurface(m_egl.eglDisplay, m_egl.surface))
        KEL_LOG(true, "[KMFR]E _recreateSurface: destroy EGL surface (eglError: %d)\n", eglGetError());
    m_egl.surface = eglCreateWindowSurface(
        m_egl.eglDisplay, m_egl.config,
        reinterpret_cast<EGLNativeWindowType>(m_window->getEGLWindow(m_viewport_width, m_viewport_height)), nullptr);
    if (m_egl.surface == EGL_NO_SURFACE)
        KEL_LOG(true, "[KMFR]E _recreateSurface: Unable to create EGL surface (eglError: %d)\n", eglGetError());
    m_context->makeMainCurrent(&m_egl);
    EGLint w = 0, h = 0;
    if (m_egl.surface != EGL_NO_SURFACE && eglQuerySurface(m_egl.eglDisplay, m_egl.surface, EGL_WIDTH, &w) &&
        eglQuerySurface(m_egl.eglDisplay, m_egl.surface, EGL_HEIGHT, &h)) {
        m_viewport_width = w;
        m_viewport_height = h;
    }
    surface_size_line(KEL_DISPLAY_ON(0));
    GL_CHECK(glViewport(0, 0, m_viewport_width, m_viewport_height));
}

void kelmf_renderer_opengl_t::window_being_destroy()
{
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I window be deleted, stop rendering\n");
    std::lock_guard<std::mutex> lock(m_ready_mutex);
    m_stop = true;
}

// ---- GL set-up ------------------------------------------------------------------------

uint32_t kelmf_renderer_opengl_t::init_shader(const kelmf_pixel_data_t* pixel)
{
    GLuint vertex = compile(GL_VERTEX_SHADER, pixel, kVertexBody, "[KMFR]E vertex shader compilation failed\n");
    if (!vertex)
        return KELMF_FAIL;
    GLuint fragment =
        compile(GL_FRAGMENT_SHADER, pixel, kFragmentBody, "[KMFR]E fragment shader compilation failed\n");
    if (!fragment) {
        glDeleteShader(vertex);
        return KELMF_FAIL;
    }
    GLuint program = glCreateProgram();
    glAttachShader(program, vertex);
    glAttachShader(program, fragment);
    glLinkProgram(program);
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    GLint ok = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok) {
        char log[512] = {0};
        glGetProgramInfoLog(program, sizeof log, nullptr, log);
        KEL_LOG(true, "[KMFR]E program link failed\n");
        KEL_LOG(true, "[KMFR]E %s\n", log);
        glDeleteProgram(program);
        return KELMF_FAIL;
    }
    if (m_program)
        glDeleteProgram(m_program);
    m_program = program;
    GL_CHECK(glUseProgram(program));
    m_loc_y = glGetUniformLocation(program, "textureY");
    m_loc_u = glGetUniformLocation(program, "textureU");
    m_loc_v = glGetUniformLocation(program, "textureV");
    m_loc_conv = glGetUniformLocation(program, "colorConv");
    const kelmf_matrix4_t conv = YUV2RGBMatrix(0.2126f, 0.7152f, 0.0722f, pixel->format == P010, true);
    GL_CHECK(glUniformMatrix4fv(m_loc_conv, 1, GL_TRUE, conv.m));
    GL_CHECK(glUniform1i(m_loc_y, 0));
    GL_CHECK(glUniform1i(m_loc_u, 1));
    GL_CHECK(glUniform1i(m_loc_v, 2));
    m_program_format = pixel->format;
    m_program_valid = true;
    return KELMF_OK;
}

void kelmf_renderer_opengl_t::init_quad()
{
    const float vertices[4 * 8] = {
        0, 0, 0, 0, -1, 1,  0, 0,  //
        0, 0, 0, 0, 1,  1,  1, 0,  //
        0, 0, 0, 0, 1,  -1, 1, 1,  //
        0, 0, 0, 0, -1, -1, 0, 1,  //
    };
    const GLuint indices[6] = {0, 1, 2, 0, 2, 3};
    glGenVertexArrays(1, &m_vao);
    glBindVertexArray(m_vao);
    glGenBuffers(1, &m_vbo);
    glBindBuffer(GL_ARRAY_BUFFER, m_vbo);
    glBufferData(GL_ARRAY_BUFFER, sizeof vertices, vertices, GL_STATIC_DRAW);
    glGenBuffers(1, &m_ebo);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, m_ebo);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, sizeof indices, indices, GL_STATIC_DRAW);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 8 * sizeof(float), reinterpret_cast<void*>(4 * sizeof(float)));
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 8 * sizeof(float), reinterpret_cast<void*>(6 * sizeof(float)));
    glEnableVertexAttribArray(1);
    GL_CHECK(glBindBuffer(GL_ARRAY_BUFFER, 0));
}

uint32_t kelmf_renderer_opengl_t::init_opengl()
{
    const kelmf_pixel_data_t* pixel;
    {
        std::lock_guard<std::mutex> freeLock(m_free_mutex);
        pixel = m_pixel;
    }
    if (init_shader(pixel) != KELMF_OK)
        return KELMF_FAIL;
    const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    const char* vendor = reinterpret_cast<const char*>(glGetString(GL_VENDOR));
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I GL_RENDERER   = %s\n", renderer ? renderer : "");
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I GL_VERSION    = %s\n", version ? version : "");
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I GL_VENDOR     = %s\n", vendor ? vendor : "");
    m_vendor_intel = vendor && strcasecmp(vendor, "Intel") == 0;
    m_method = choose_upload_method(vendor, m_gpudirect);
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I tex transfer method: %d gpu direct: %d arch: %d\n", m_method.load(),
            m_gpudirect ? 1 : 0, m_vendor_intel ? 1 : 0);
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I Support AMD_pinned_memory: %d\n",
            IsExtensionSupported("GL_AMD_pinned_memory"));
    GL_CHECK(glDisable(GL_DEPTH_TEST));
    GL_CHECK(glClearColor(m_background[0], m_background[1], m_background[2], m_background[3]));
    if (!host_context()) {
        EGLint w = 0, h = 0;
        if (eglQuerySurface(m_egl.eglDisplay, m_egl.surface, EGL_WIDTH, &w) &&
            eglQuerySurface(m_egl.eglDisplay, m_egl.surface, EGL_HEIGHT, &h)) {
            m_viewport_width = w;
            m_viewport_height = h;
        }
        surface_size_line(KEL_DISPLAY_ON(0));
    }
    GL_CHECK(glViewport(0, 0, m_viewport_width, m_viewport_height));
    // Rows of 1366-wide luma or 683-wide chroma are not multiples of 4 bytes.
    GL_CHECK(glPixelStorei(GL_UNPACK_ALIGNMENT, 1));
    init_quad();
    std::lock_guard<std::mutex> freeLock(m_free_mutex);
    std::lock_guard<std::mutex> readyLock(m_ready_mutex);
    return create_texture_lock();
}

// ---- the pool ---------------------------------------------------------------------------

bool kelmf_renderer_opengl_t::create_slot(_kelmf_video_texture_t& slot, int width, int height,
                                          const kelmf_pixel_data_t* pixel, uint64_t generation)
{
    delete_slot(slot);
    slot.width = width;
    slot.height = height;
    slot.pixel = pixel;
    slot.generation = generation;
    const int n = static_cast<int>(pixel->textures);
    glGenTextures(n, slot.textures);
    glGenBuffers(n, slot.buffers);
    // Combined bytes and integer textures cannot be filtered.
    const GLint filter = pixel->format == P010 || pixel->format == Y416 ? GL_NEAREST : GL_LINEAR;
    bool ok = true;
    for (int j = 0; j < n; ++j) {
        const TextureFormat tf = textureFormat(pixel, j);
        const int w = texWidth(pixel, j, width), h = texHeight(pixel, j, height);
        glBindTexture(GL_TEXTURE_2D, slot.textures[j]);
        glTexImage2D(GL_TEXTURE_2D, 0, tf.internal, w, h, 0, tf.format, tf.type, nullptr);
        // A size beyond the GL's limits or its memory leaves no texture to draw from.
        ok = CheckOpenGLError("glTexImage2D", __FILE__, __LINE__) == GL_NO_ERROR && ok;
        // Linear filtering at the picture's edge reads the border colour otherwise.
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, slot.buffers[j]);
        glBufferData(GL_PIXEL_UNPACK_BUFFER,
                     static_cast<GLsizeiptr>(pixelBytes(pixel, j) * static_cast<uint64_t>(w) * static_cast<uint64_t>(h)),
                     nullptr, GL_DYNAMIC_DRAW);
        ok = CheckOpenGLError("glBufferData", __FILE__, __LINE__) == GL_NO_ERROR && ok;
    }
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    slot.created = true;
    return ok;
}

void kelmf_renderer_opengl_t::delete_slot(_kelmf_video_texture_t& slot)
{
    if (slot.fence)
        glDeleteSync(slot.fence);
    slot.fence = nullptr;
    if (slot.created) {
        glDeleteTextures(4, slot.textures);
        glDeleteBuffers(4, slot.buffers);
    }
    std::memset(slot.textures, 0, sizeof slot.textures);
    std::memset(slot.buffers, 0, sizeof slot.buffers);
    slot.created = false;
}

uint32_t kelmf_renderer_opengl_t::create_texture_lock()
{
    KEL_LOG(KEL_BUFFER_ON(0), "[KMFR]I create_texture_lock( %dx%d %08x )\n", m_video_width, m_video_height,
            static_cast<unsigned>(m_video_format));
    m_free.clear();
    m_ready.clear();
    for (int i = 0; i < kPoolSize; ++i) {
        if (!create_slot(m_pool[i], m_video_width, m_video_height, m_pixel, m_generation)) {
            KEL_LOG(true, "[KMFR]E out of memory\n");
            for (int k = 0; k <= i; ++k)
                delete_slot(m_pool[k]);
            m_free.clear();
            return KELMF_NO_MEMORY;
        }
        m_free.push_back(i);
    }
    m_pool_created = true;
    return KELMF_OK;
}

void kelmf_renderer_opengl_t::destroy_texture_lock()
{
    KEL_LOG(KEL_BUFFER_ON(0), "[KMFR]I destroy_texture_lock\n");
    m_free.clear();
    m_ready.clear();
    for (auto& slot : m_pool)
        delete_slot(slot);
    m_pool_created = false;
}

// ---- producer side ---------------------------------------------------------------------

int kelmf_renderer_opengl_t::pop_next_video_frame(uint32_t& status)
{
    KELMF_RANGE_PUSH("take texture");
    m_context->makeCopyCurrent(&m_egl);
    int width, height;
    const kelmf_pixel_data_t* pixel;
    uint64_t generation;
    int index = -1;
    {
        std::lock_guard<std::mutex> lock(m_free_mutex);
        if (!m_free.empty()) {
            index = m_free.front();
            m_free.pop_front();
        }
        width = m_video_width;
        height = m_video_height;
        pixel = m_pixel;
        generation = m_generation;
    }
    if (index < 0) {
        KEL_LOG(KEL_OGL_ON(2), "[KMFR]I Out of texture to playback\n");
        // The copy context must not stay current on the caller's thread.
        m_context->makeNoCurrent(&m_egl);
        status = KELMF_NO_BUFFER;
        KELMF_RANGE_POP();
        return -1;
    }
    _kelmf_video_texture_t& slot = m_pool[index];
    // The producer holds this slot alone, so a property change can rebuild it here.
    if (!slot.created || slot.generation != generation) {
        KEL_LOG(KEL_BUFFER_ON(0), "[KMFR]I create_texture_lock( %dx%d %08x )\n", width, height,
                static_cast<unsigned>(pixel->format));
        if (!create_slot(slot, width, height, pixel, generation)) {
            KEL_LOG(true, "[KMFR]E out of memory\n");
            recycle_texture(index);
            m_context->makeNoCurrent(&m_egl);
            status = KELMF_NO_MEMORY;
            KELMF_RANGE_POP();
            return -1;
        }
    }
    status = KELMF_OK;
    KELMF_RANGE_POP();
    return index;
}

uint32_t kelmf_renderer_opengl_t::transfer_texture(_kelmf_video_texture_t& slot, void** planes, int* strides)
{
    const kelmf_pixel_data_t* p = slot.pixel;
    const int nplanes = static_cast<int>(p->planes);
    for (int i = 0; i < nplanes; ++i) {
        if (!planes[i])
            return KELMF_BAD_ARGUMENT;
        const size_t row = rowBytes(p, i, slot.width);
        // A stride of 0 (or no strides) means tightly packed rows.
        if (strides && strides[i] != 0 && (strides[i] < 0 || static_cast<size_t>(strides[i]) < row))
            return KELMF_BAD_ARGUMENT;
    }
    const int method = m_method;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (method == 2) {
        for (int j = 0; j < static_cast<int>(p->textures); ++j) {
            const int src = j < nplanes ? j : 0;
            const size_t texel = texelBytes(p, j);
            const size_t row = rowBytes(p, src, slot.width);
            const size_t stride = strides && strides[src] ? static_cast<size_t>(strides[src]) : row;
            const int w = texWidth(p, j, slot.width), h = texHeight(p, j, slot.height);
            const TextureFormat tf = textureFormat(p, j);
            glBindTexture(GL_TEXTURE_2D, slot.textures[j]);
            if (stride % texel == 0) {
                glPixelStorei(GL_UNPACK_ROW_LENGTH, static_cast<GLint>(stride / texel));
                GL_CHECK(glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w, h, tf.format, tf.type, planes[src]));
            } else {
                // A stride that is no whole number of texels: one row at a time.
                glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
                for (int r = 0; r < h; ++r)
                    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, r, w, 1, tf.format, tf.type,
                                    static_cast<const uint8_t*>(planes[src]) + stride * static_cast<size_t>(r));
            }
            glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        }
        glBindTexture(GL_TEXTURE_2D, 0);
        return KELMF_OK;
    }
    for (int i = 0; i < nplanes; ++i) {
        const size_t row = rowBytes(p, i, slot.width);
        const size_t stride = strides && strides[i] ? static_cast<size_t>(strides[i]) : row;
        const int rows = texHeight(p, i, slot.height);
        const size_t size = row * static_cast<size_t>(rows);
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, slot.buffers[i]);
        if (method != 1 && stride == row) {
            GL_CHECK(glBufferData(GL_PIXEL_UNPACK_BUFFER, static_cast<GLsizeiptr>(size), planes[i], GL_STREAM_DRAW));
        } else {
            if (method != 1)
                glBufferData(GL_PIXEL_UNPACK_BUFFER, static_cast<GLsizeiptr>(size), nullptr, GL_STREAM_DRAW);
            void* dst = glMapBufferRange(GL_PIXEL_UNPACK_BUFFER, 0, static_cast<GLsizeiptr>(size),
                                         GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_BUFFER_BIT |
                                             GL_MAP_UNSYNCHRONIZED_BIT);
            if (dst) {
                copyRows(static_cast<uint8_t*>(dst), static_cast<const uint8_t*>(planes[i]), row, stride, rows);
                GL_CHECK(glUnmapBuffer(GL_PIXEL_UNPACK_BUFFER));
            }
        }
    }
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    return KELMF_OK;
}

void kelmf_renderer_opengl_t::finish_video_frame(int index)
{
    _kelmf_video_texture_t& slot = m_pool[index];
    slot.fence = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    GL_CHECK(glFlush());
    slot.frame = m_frame_counter;
    bool queued = false;
    {
        std::lock_guard<std::mutex> lock(m_ready_mutex);
        if (!m_torn_down) {
            m_ready.push_back(index);
            queued = true;
        }
    }
    if (queued)
        m_ready_cv.notify_one();
    else if (slot.fence) {
        glDeleteSync(slot.fence);
        slot.fence = nullptr;
    }
    m_context->makeNoCurrent(&m_egl);
}

uint32_t kelmf_renderer_opengl_t::__set_video_frame(void** planes, int* strides)
{
    KELMF_RANGE_INIT();
    KELMF_RANGE_PUSH("render_add");
    m_display_stat.begin();
    ++m_frame_counter;
    if (!planes) {
        m_display_stat.addSample(KEL_OGL_ON(0));
        KELMF_RANGE_POP();
        return KELMF_BAD_ARGUMENT;
    }
    uint32_t status = KELMF_OK;
    const int index = pop_next_video_frame(status);
    if (index < 0) {
        m_display_stat.addSample(KEL_OGL_ON(0));
        KELMF_RANGE_POP();
        return status;
    }
    KELMF_RANGE_PUSHF("%ld %d", static_cast<long>(m_frame_counter), index);
    status = transfer_texture(m_pool[index], planes, strides);
    KELMF_RANGE_POP();
    if (status != KELMF_OK) {
        recycle_texture(index);
        m_context->makeNoCurrent(&m_egl);
    } else {
        finish_video_frame(index);
    }
    m_display_stat.addSample(KEL_OGL_ON(0));
    KELMF_RANGE_POP();
    return status;
}

uint32_t kelmf_renderer_opengl_t::set_video_frame(void** planes, int* strides, kelmf_frame_release_t release,
                                                  void* user)
{
    const uint32_t status = __set_video_frame(planes, strides);
    if (release)
        release(planes, strides, user);
    return status;
}

uint32_t kelmf_renderer_opengl_t::map_next_video_frame(void* (&planes)[4])
{
    KELMF_RANGE_INIT();
    for (auto& plane : planes)
        plane = nullptr;
    if (m_mapped >= 0)
        return KELMF_BAD_ARGUMENT;
    m_method = 1;
    m_display_stat.begin();
    ++m_frame_counter;
    uint32_t status = KELMF_OK;
    const int index = pop_next_video_frame(status);
    if (index < 0) {
        m_display_stat.addSample(KEL_OGL_ON(0));
        return status;
    }
    _kelmf_video_texture_t& slot = m_pool[index];
    const kelmf_pixel_data_t* p = slot.pixel;
    for (int i = 0; i < static_cast<int>(p->planes); ++i) {
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, slot.buffers[i]);
        planes[i] = glMapBufferRange(GL_PIXEL_UNPACK_BUFFER, 0,
                                     static_cast<GLsizeiptr>(planeSize(p, i, slot.width, slot.height)),
                                     GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_BUFFER_BIT | GL_MAP_UNSYNCHRONIZED_BIT);
        CheckOpenGLError("glMapBufferRange", __FILE__, __LINE__);
    }
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    m_mapped = index;
    // The mapping belongs to the copy context; it stays current until unmap on this thread.
    return KELMF_OK;
}

uint32_t kelmf_renderer_opengl_t::unmap_video_frame()
{
    if (m_mapped < 0)
        return KELMF_BAD_ARGUMENT;
    const int index = m_mapped;
    _kelmf_video_texture_t& slot = m_pool[index];
    for (int i = 0; i < static_cast<int>(slot.pixel->planes); ++i) {
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, slot.buffers[i]);
        glUnmapBuffer(GL_PIXEL_UNPACK_BUFFER);
    }
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    m_mapped = -1;
    finish_video_frame(index);
    return KELMF_OK;
}

// ---- drawing side ----------------------------------------------------------------------

void kelmf_renderer_opengl_t::recycle_texture(int index)
{
    recycle_textures(&index, 1);
}

void kelmf_renderer_opengl_t::recycle_textures(const int* indices, int count)
{
    if (count == 0)
        return;
    std::lock_guard<std::mutex> lock(m_free_mutex);
    for (int i = 0; i < count; ++i)
        m_free.push_back(indices[i]);
}

void kelmf_renderer_opengl_t::received_texture(_kelmf_video_texture_t& slot)
{
    const kelmf_pixel_data_t* p = slot.pixel;
    const int method = m_method;
    const bool fromBuffer = method != 2;  // gpudirect (3) has no direct path yet: drawn as method 0
    for (int j = 0; j < static_cast<int>(p->textures); ++j) {
        glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(j));
        glBindTexture(GL_TEXTURE_2D, slot.textures[j]);
        if (fromBuffer) {
            const int src = j < static_cast<int>(p->planes) ? j : 0;
            glBindBuffer(GL_PIXEL_UNPACK_BUFFER, slot.buffers[src]);
            const TextureFormat tf = textureFormat(p, j);
            GL_CHECK(glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, texWidth(p, j, slot.width), texHeight(p, j, slot.height),
                                     tf.format, tf.type, nullptr));
        }
    }
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
}

uint32_t kelmf_renderer_opengl_t::render_frame_from_queue(bool wait)
{
    KELMF_RANGE_INIT();
    KELMF_RANGE_PUSH("render texture");
    const double delay = m_vsync_interval - 0.007;
    if (delay > 0) {
        KELMF_RANGE_PUSH("DelayBeforeSwap");
        timeval tv;
        tv.tv_sec = static_cast<time_t>(delay);
        tv.tv_usec = static_cast<suseconds_t>((delay - static_cast<double>(tv.tv_sec)) * 1e6);
        select(0, nullptr, nullptr, nullptr, &tv);
        KELMF_RANGE_POP();
    }

    // Dropped slots are collected under the ready lock and returned under the free lock
    // afterwards: the two are never held together here.
    int dropped[kPoolSize];
    GLsync droppedFences[kPoolSize];
    int ndropped = 0;
    int index = -1;
    {
        KELMF_RANGE_PUSH("wait texture");
        std::unique_lock<std::mutex> lock(m_ready_mutex);
        for (;;) {
            while (m_ready.size() > 1) {
                const int old = m_ready.front();
                m_ready.pop_front();
                KEL_LOG(KEL_OGL_ON(2), "[KMFR]I Drop %d\n", static_cast<int>(m_pool[old].frame));
                KELMF_RANGE_PUSHF("Drop %ld %d", static_cast<long>(m_pool[old].frame), old);
                KELMF_RANGE_POP();
                droppedFences[ndropped] = m_pool[old].fence;
                m_pool[old].fence = nullptr;
                dropped[ndropped++] = old;
            }
            if (!m_ready.empty())
                break;
            if (!wait || m_stop)
                break;
            m_ready_cv.wait(lock, [this] { return m_stop || !m_ready.empty(); });
        }
        if (!m_ready.empty()) {
            index = m_ready.front();
            m_ready.pop_front();
        }
        KELMF_RANGE_POP();
    }
    for (int i = 0; i < ndropped; ++i)
        if (droppedFences[i])
            glDeleteSync(droppedFences[i]);
    recycle_textures(dropped, ndropped);
    if (index < 0) {
        KELMF_RANGE_POP();
        return KELMF_FAIL;
    }

    _kelmf_video_texture_t& slot = m_pool[index];
    m_preview_stat.begin();
    if (slot.fence) {
        // The upload came from another context: the GPU waits for it before drawing.
        KELMF_RANGE_PUSH("sync");
        glWaitSync(slot.fence, 0, GL_TIMEOUT_IGNORED);
        KELMF_RANGE_POP();
    }
    KELMF_RANGE_PUSH("draw texture");
    if (!m_program_valid || m_program_format != slot.pixel->format)
        init_shader(slot.pixel);
    glUseProgram(m_program);
    GL_CHECK(glClear(GL_COLOR_BUFFER_BIT));
    received_texture(slot);
    glBindVertexArray(m_vao);
    if (!m_skip_draw)
        GL_CHECK(glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_INT, nullptr));
    if (slot.fence)
        glDeleteSync(slot.fence);
    slot.fence = nullptr;
    KELMF_RANGE_POP();

    KELMF_RANGE_PUSH("Swap buffer");
    int32_t swapped;
    int xError;
    {
        kelmf_x11_error_trap_t trap(host_context() ? nullptr : xDisplay());
        swapped = m_context->swapBuffers(&m_egl);
        xError = trap.end();
    }
    KELMF_RANGE_POP();
    if (swapped != 0 || xError != 0) {
        // The window is gone (or unusable): nothing drawn from here on would show.
        KEL_LOG(true, "[KMFR]E render: swap buffers failed (eglError: %d, X error: %d)\n",
                swapped != 0 ? eglGetError() : EGL_SUCCESS, xError);
        window_being_destroy();
    }
    KELMF_RANGE_PUSH("recycle texture");
    recycle_texture(index);
    KELMF_RANGE_POP();
    m_preview_stat.addSample(KEL_OGL_ON(0));
    KELMF_RANGE_POP();
    return KELMF_OK;
}
