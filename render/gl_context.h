// GL-context operations: the renderer drives either its own EGL context pair or a context
// that its host owns through one of two tables.
#pragma once

#include <EGL/egl.h>
#include <GLES3/gl32.h>

#include <cstdint>

class kelmf_display_t;
class kelmf_window_t;

// The EGL state of one renderer: the main context draws into the window surface, the copy
// context (sharing objects with it) uploads frames on the producer thread.
struct kelmf_egl_state_t {
    kelmf_display_t* display = nullptr;
    kelmf_window_t* window = nullptr;
    int videoWidth = 0;
    int videoHeight = 0;
    EGLDisplay eglDisplay = EGL_NO_DISPLAY;
    EGLConfig config = nullptr;
    EGLSurface surface = EGL_NO_SURFACE;
    EGLContext mainContext = EGL_NO_CONTEXT;
    EGLContext copyContext = EGL_NO_CONTEXT;
};

struct gl_context_implement_t {
    int32_t (*init)(void* renderer);
    int32_t (*makeMainCurrent)(void* renderer);
    int32_t (*makeCopyCurrent)(void* renderer);
    int32_t (*makeNoCurrent)(void* renderer);
    int32_t (*swapBuffers)(void* renderer);
    int32_t (*destroy)(void* renderer);
};

// Argument of both tables: a kelmf_egl_state_t*.
extern const gl_context_implement_t g_internal_gl_context_implement;
extern const gl_context_implement_t g_qt_gl_context_implement;

int32_t InitContext(void* renderer);
int32_t MakeMainCurrent(void* renderer);
int32_t MakeCopyCurrent(void* renderer);
int32_t MakeNoCurrent(void* renderer);
int32_t SwapBuffer(void* renderer);
int32_t DestroyContext(void* renderer);
int32_t EmptyImpelment(void* renderer);

// Returns the error read (GL_NO_ERROR when none).
GLenum CheckOpenGLError(const char* call, const char* file, int line);
void CheckEGLError(const char* call, const char* file, int line);
int IsExtensionSupported(const char* name);

#define GL_CHECK(call)                                  \
    do {                                                \
        call;                                           \
        CheckOpenGLError(#call, __FILE__, __LINE__);    \
    } while (0)
