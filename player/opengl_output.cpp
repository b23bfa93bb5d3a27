#include "player/opengl_output.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>
#include <SDL2/SDL.h>
#include <SDL2/SDL_image.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "common/fixed_path.h"
#include "common/helpers.h"
#include "player/frame_ring.h"
#include "player/player_state.h"

GLFWwindow* window = nullptr;

namespace {

GLuint vao = 0;
GLuint vbo = 0;
GLuint program_progressive = 0;
GLuint program_field0 = 0;
GLuint program_field1 = 0;
GLuint textures[3] = {0, 0, 0};
GLuint field_textures[2][3] = {{0, 0, 0}, {0, 0, 0}};
GLuint bg_texture = 0;
// Size of the frame textures, so that a slot of another size is never uploaded.
int texture_width = 0;
int texture_height = 0;
// The video rectangle that setViewport set last.
int viewport_rect[4] = {0, 0, 0, 0};

const char* vs = R"(#version 300 es
layout(location = 0) in vec2 position;
layout(location = 1) in vec2 texcoord;
out vec2 v_texcoord;
void main()
{
    gl_Position = vec4(position, 0.0, 1.0);
    v_texcoord = texcoord;
}
)";

#define I420_HEAD                                                                   \
    "#version 300 es\n"                                                             \
    "precision mediump float;\n"                                                    \
    "in vec2 v_texcoord;\n"                                                         \
    "uniform sampler2D texy;\n"                                                     \
    "uniform sampler2D texu;\n"                                                     \
    "uniform sampler2D texv;\n"                                                     \
    "out vec4 fragColor;\n"                                                         \
    "vec4 convert(vec2 coord)\n"                                                    \
    "{\n"                                                                           \
    "    vec3 yuv;\n"                                                               \
    "    yuv.x = texture(texy, coord).r;\n"                                         \
    "    yuv.y = texture(texu, coord).r - 0.5;\n"                                   \
    "    yuv.z = texture(texv, coord).r - 0.5;\n"                                   \
    "    vec3 rgb = mat3(1.0, 1.0, 1.0, 0.0, -0.39465, 2.03211, 1.13983, -0.58060, 0.0) * yuv;\n" \
    "    return vec4(rgb, 1.0);\n"                                                  \
    "}\n"

const char* fragI420ForProgressive = I420_HEAD R"(
void main()
{
    fragColor = convert(v_texcoord);
}
)";

const char* fragI420ForInterlacedField0 = I420_HEAD R"(
uniform float texWidth;
uniform float texHeight;
void main()
{
    int yy = int(v_texcoord.t * texHeight);
    if (yy % 2 == 1)
        fragColor = vec4(1.0, 0.0, 0.0, 0.0);
    else if (yy == 0 || yy == int(texHeight) - 2)
        fragColor = vec4(0.0, 0.0, 0.0, 1.0);
    else
        fragColor = convert(vec2(v_texcoord.s, v_texcoord.t / 2.0));
}
)";

const char* fragI420ForInterlacedField1 = I420_HEAD R"(
uniform float texWidth;
uniform float texHeight;
void main()
{
    int yy = int(v_texcoord.t * texHeight);
    if (yy % 2 == 0)
        fragColor = vec4(0.0, 0.0, 1.0, 0.0);
    else if (yy == 1 || yy == int(texHeight) - 1)
        fragColor = vec4(0.0, 0.0, 0.0, 1.0);
    else
        fragColor = convert(vec2(v_texcoord.s, (v_texcoord.t - 1.0 / 1080.0) / 2.0));
}
)";

GLuint compileShader(GLenum type, const char* text)
{
    GLuint shader = glCreateShader(type);
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char info[512] = {0};
        glGetShaderInfoLog(shader, sizeof info, nullptr, info);
        DebugLog(type == GL_VERTEX_SHADER ? "vertex shader: %s\n" : "fragment shader: %s\n", info);
    }
    return shader;
}

GLuint linkProgram(GLuint vertex, const char* fragment_text, const char* failure_format)
{
    GLuint fragment = compileShader(GL_FRAGMENT_SHADER, fragment_text);
    GLuint program = glCreateProgram();
    glAttachShader(program, vertex);
    glAttachShader(program, fragment);
    glLinkProgram(program);
    GLint ok = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok) {
        char info[512] = {0};
        glGetProgramInfoLog(program, sizeof info, nullptr, info);
        DebugLog(failure_format, info);
    }
    glDeleteShader(fragment);
    return program;
}

void makeLuminanceTexture(GLuint& texture, int unit, int width, int height)
{
    if (texture != 0)
        glDeleteTextures(1, &texture);
    glActiveTexture(GL_TEXTURE0 + unit);
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE, width, height, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE, nullptr);
}

void bindSamplers(GLuint program)
{
    glUseProgram(program);
    glUniform1i(glGetUniformLocation(program, "texy"), 0);
    glUniform1i(glGetUniformLocation(program, "texu"), 1);
    glUniform1i(glGetUniformLocation(program, "texv"), 2);
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A mode switch by xrandr leaves a full-screen window at the old mode's size where no
// window manager resizes it: the window takes the monitor's current mode, which GLFW
// finds already set and so leaves as it is.
void fitWindowToScreen()
{
    GLFWmonitor* monitor = glfwGetWindowMonitor(window);
    const GLFWvidmode* mode = monitor != nullptr ? glfwGetVideoMode(monitor) : nullptr;
    if (mode == nullptr)
        return;
    int width = 0;
    int height = 0;
    glfwGetWindowSize(window, &width, &height);
    if (width == mode->width && height == mode->height)
        return;
    DebugLog("window: %d, %d\n", mode->width, mode->height);
    glfwSetWindowMonitor(window, monitor, 0, 0, mode->width, mode->height, mode->refreshRate);
}

} // namespace

int initOpengl()
{
    if (!glfwInit())
        return -1;
    GLFWmonitor* monitor = glfwGetPrimaryMonitor();
    const GLFWvidmode* mode = monitor != nullptr ? glfwGetVideoMode(monitor) : nullptr;
    if (mode == nullptr) {
        glfwTerminate();
        return -1;
    }
    glfwWindowHint(GLFW_RED_BITS, mode->redBits);
    glfwWindowHint(GLFW_GREEN_BITS, mode->greenBits);
    glfwWindowHint(GLFW_BLUE_BITS, mode->blueBits);
    glfwWindowHint(GLFW_REFRESH_RATE, mode->refreshRate);
    glfwWindowHint(GLFW_DOUBLEBUFFER, GLFW_TRUE);
    window = glfwCreateWindow(mode->width, mode->height, "NDI Video Player", monitor, nullptr);
    if (window == nullptr) {
        glfwTerminate();
        return -1;
    }
    glfwFocusWindow(window);
    // A press and release within one poll still counts as ESC pressed.
    glfwSetInputMode(window, GLFW_STICKY_KEYS, GLFW_TRUE);
    glfwMakeContextCurrent(window);
    glfwSwapInterval(1);
    DebugLog("OpenGL version is (%s)\n", reinterpret_cast<const char*>(glGetString(GL_VERSION)));
    glewExperimental = GL_TRUE;
    if (glewInit() != GLEW_OK) {
        DebugLog("Failed to initialize GLEW\n");
        glfwDestroyWindow(window);
        window = nullptr;
        glfwTerminate();
        return -1;
    }
    initVBO(1, 1);
    initProgram();
    setBGTexture();
    setViewport(screen_width.load(), screen_height.load(), 1);
    return 0;
}

void initVBO(float a, float b)
{
    if (vao != 0)
        glDeleteVertexArrays(1, &vao);
    if (vbo != 0)
        glDeleteBuffers(1, &vbo);
    // x, y, s, t; t = 0 is the top of the picture.
    const float vertices[16] = {-a, -b, 0, 1, a, -b, 1, 1, -a, b, 0, 0, a, b, 1, 0};
    glGenVertexArrays(1, &vao);
    glBindVertexArray(vao);
    glGenBuffers(1, &vbo);
    glBindBuffer(GL_ARRAY_BUFFER, vbo);
    glBufferData(GL_ARRAY_BUFFER, sizeof vertices, vertices, GL_STATIC_DRAW);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 16, reinterpret_cast<void*>(0));
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 16, reinterpret_cast<void*>(8));
    glEnableVertexAttribArray(1);
    glBindVertexArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void initProgram()
{
    if (program_progressive != 0)
        glDeleteProgram(program_progressive);
    GLuint vertex = compileShader(GL_VERTEX_SHADER, vs);
    program_progressive = linkProgram(vertex, fragI420ForProgressive, "program for progressive: %s\n");
    program_field0 = linkProgram(vertex, fragI420ForInterlacedField0, "program for interlaced field 0: %s\n");
    program_field1 = linkProgram(vertex, fragI420ForInterlacedField1, "program: %s\n");
    glDeleteShader(vertex);
}

void setMainTextures()
{
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_SCISSOR_TEST);
    glEnable(GL_TEXTURE_2D);
    const int w = outvideo_width.load(std::memory_order_acquire);
    const int h = outvideo_height.load(std::memory_order_acquire);
    // Chroma textures hold every chroma row of the planes, also of an odd height.
    const int ch = (h + 1) / 2;
    if (interlaced_render_mode == 1 || video_frame_type.load() == 1) {
        makeLuminanceTexture(textures[0], 0, w, h);
        makeLuminanceTexture(textures[1], 1, w / 2, ch);
        makeLuminanceTexture(textures[2], 2, w / 2, ch);
        bindSamplers(program_progressive);
    } else {
        const GLuint programs[2] = {program_field0, program_field1};
        for (int f = 0; f < 2; ++f) {
            makeLuminanceTexture(field_textures[f][0], 0, w, 2 * h);
            makeLuminanceTexture(field_textures[f][1], 1, w / 2, h);
            makeLuminanceTexture(field_textures[f][2], 2, w / 2, h);
            bindSamplers(programs[f]);
            glUniform1f(glGetUniformLocation(programs[f], "texWidth"), static_cast<float>(w));
            glUniform1f(glGetUniformLocation(programs[f], "texHeight"), static_cast<float>(2 * h));
        }
    }
    glUseProgram(0);
    texture_width = w;
    texture_height = h;
}

void setBGTexture()
{
    if ((IMG_Init(IMG_INIT_PNG) & IMG_INIT_PNG) == 0) {
        DebugLog("[ DEBUG ] Failed to init sdl_image: %s\n", IMG_GetError());
        return;
    }
    const int w = screen_width.load();
    const int h = screen_height.load();
    const char* name = nullptr;
    if (h < w)
        name = w < 1981 ? "/opt/tarnvik/bg_1920x1080.png" : "/opt/tarnvik/bg_3840x2160.png";
    else
        name = h < 1981 ? "/opt/tarnvik/bg_1080x1920.png" : "/opt/tarnvik/bg_2160x3840.png";
    const std::string path = tarnvik::fixedPath(name);
    SDL_Surface* loaded = IMG_Load(path.c_str());
    // Any PNG (alpha, palette, grey, padded rows) becomes packed 24-bit RGB first.
    SDL_Surface* rgb = loaded != nullptr ? SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_RGB24, 0) : nullptr;
    if (rgb != nullptr) {
        if (bg_texture != 0)
            glDeleteTextures(1, &bg_texture);
        glActiveTexture(GL_TEXTURE0);
        glGenTextures(1, &bg_texture);
        glBindTexture(GL_TEXTURE_2D, bg_texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        std::vector<uint8_t> packed(static_cast<size_t>(rgb->w) * rgb->h * 3);
        SDL_LockSurface(rgb);
        for (int y = 0; y < rgb->h; ++y)
            std::memcpy(packed.data() + static_cast<size_t>(y) * rgb->w * 3,
                        static_cast<const uint8_t*>(rgb->pixels) + static_cast<size_t>(y) * rgb->pitch,
                        static_cast<size_t>(rgb->w) * 3);
        SDL_UnlockSurface(rgb);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, rgb->w, rgb->h, 0, GL_RGB, GL_UNSIGNED_BYTE, packed.data());
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        glBindTexture(GL_TEXTURE_2D, 0);
        isNoBGImage = 0;
    } else {
        isNoBGImage = 1;
        DebugLog("[ DEBUG ] IMG_Load: %s\n", IMG_GetError());
    }
    if (rgb != nullptr)
        SDL_FreeSurface(rgb);
    if (loaded != nullptr)
        SDL_FreeSurface(loaded);
    IMG_Quit();
}

void setViewport(int w, int h, int progressive)
{
    if (interlaced_render_mode != 1 && !progressive)
        h *= 2;
    const int sw = screen_width.load();
    const int sh = screen_height.load();
    viewport_rect[0] = (sw - w) / 2;
    viewport_rect[1] = (sh - h) / 2;
    viewport_rect[2] = w;
    viewport_rect[3] = h;
    glViewport(viewport_rect[0], viewport_rect[1], w, h);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho((sw - w) / 2, w, (sh - h) / 2, h, 0, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    DebugLog("viewport: %d, %d\n", w, h);
}

void drawBackgroundWithOpengl()
{
    const int sw = screen_width.load();
    const int sh = screen_height.load();
    // Screen pixels over the whole screen, whatever rectangle the video set.
    glViewport(0, 0, sw, sh);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, sw, 0, sh, 0, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glDisable(GL_BLEND);
    glActiveTexture(GL_TEXTURE0);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, bg_texture);
    glColor4f(1, 1, 1, 1);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 1);
    glVertex2f(0, 0);
    glTexCoord2f(0, 0);
    glVertex2f(0, static_cast<float>(sh));
    glTexCoord2f(1, 0);
    glVertex2f(static_cast<float>(sw), static_cast<float>(sh));
    glTexCoord2f(1, 1);
    glVertex2f(static_cast<float>(sw), 0);
    glEnd();
    glBindTexture(GL_TEXTURE_2D, 0);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glViewport(viewport_rect[0], viewport_rect[1], viewport_rect[2], viewport_rect[3]);
}

void showWithOpengl()
{
    glClearColor(0, 0, 0, 0);
    while (window != nullptr && !glfwWindowShouldClose(window)) {
        if (isNeededOpenglReset.exchange(0, std::memory_order_acq_rel)) {
            fitWindowToScreen();
            setMainTextures();
            setViewport(outvideo_width.load(), outvideo_height.load(), video_frame_type.load());
        }
        CONVERTER_BUFFER* slot = acquireNewestSlot();
        if (slot != nullptr && (slot->width != texture_width || slot->height != texture_height)) {
            releaseSlot(slot, false);  // its textures come with the pending reset
            slot = nullptr;
        }
        if (slot == nullptr) {
            if (!isInitUploaded.load(std::memory_order_acquire)) {
                glClear(GL_COLOR_BUFFER_BIT);
                glUseProgram(0);
                if (!isNoBGImage.load())
                    drawBackgroundWithOpengl();
                glfwSwapBuffers(window);
            }
        } else {
            auto start = std::chrono::steady_clock::now();
            glClear(GL_COLOR_BUFFER_BIT);
            glEnable(GL_BLEND);
            const bool field_mode = interlaced_render_mode != 1 && video_frame_type.load() == 0;
            const GLuint* set = textures;
            GLuint program = program_progressive;
            if (field_mode) {
                const int f = slot->frame_format == 2 ? 0 : 1;
                set = field_textures[f];
                program = f == 0 ? program_field0 : program_field1;
            }
            glUseProgram(program);
            const int w = slot->width;
            const int h = slot->height;
            const int sizes[3][2] = {{w, h}, {w / 2, (h + 1) / 2}, {w / 2, (h + 1) / 2}};
            for (int i = 0; i < 3; ++i) {
                glActiveTexture(GL_TEXTURE0 + i);
                glBindTexture(GL_TEXTURE_2D, set[i]);
                glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, sizes[i][0], sizes[i][1], GL_LUMINANCE, GL_UNSIGNED_BYTE,
                                slot->planes[i]);
            }
            const int64_t captured_ns = slot->captured_ns;
            // glTexSubImage2D has taken the planes: the receiver may have the slot back.
            releaseSlot(slot, true);
            glBindVertexArray(vao);
            glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
            glBindVertexArray(0);
            glUseProgram(0);
            glDisable(GL_BLEND);
            rendered_frames.fetch_add(1, std::memory_order_relaxed);
            DebugLog("[ DEBUG ] Opengl render time : %f\n", secondsSince(start));
            glfwSwapBuffers(window);
            const int64_t now_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                       std::chrono::steady_clock::now().time_since_epoch())
                                       .count();
            DebugLog("[ DEBUG ] capture to swap : %f\n", static_cast<double>(now_ns - captured_ns) / 1e9);
        }
        glfwPollEvents();
        if (glfwGetKey(window, GLFW_KEY_ESCAPE) == GLFW_PRESS || exit_loop.load(std::memory_order_acquire)) {
            glfwSetWindowShouldClose(window, GLFW_TRUE);
            DebugLog("closing by esc...\n");
        }
    }
}

void terminateOpengl()
{
    DebugLog("terminating opengl...\n");
    if (window == nullptr)
        return;
    glUseProgram(0);
    glDeleteProgram(program_progressive);
    glDeleteProgram(program_field0);
    glDeleteProgram(program_field1);
    program_progressive = program_field0 = program_field1 = 0;
    glBindVertexArray(0);
    glBindTexture(GL_TEXTURE_2D, 0);
    glDeleteTextures(1, &bg_texture);
    glDeleteTextures(3, textures);
    glDeleteTextures(6, &field_textures[0][0]);
    glDeleteVertexArrays(1, &vao);
    glDeleteBuffers(1, &vbo);
    vao = vbo = bg_texture = 0;
    glfwDestroyWindow(window);
    window = nullptr;
    glfwTerminate();
    DebugLog("terminated opengl\n");
}
