#include "gl_context.h"

#include <GLES3/gl32.h>

#include <cstring>

#include "log.h"
#include "x11_display.h"

const gl_context_implement_t g_internal_gl_context_implement = {
    InitContext, MakeMainCurrent, MakeCopyCurrent, MakeNoCurrent, SwapBuffer, DestroyContext,
};

const gl_context_implement_t g_qt_gl_context_implement = {
    EmptyImpelment, EmptyImpelment, EmptyImpelment, EmptyImpelment, EmptyImpelment, EmptyImpelment,
};

namespace {

kelmf_egl_state_t* state(void* renderer)
{
    return static_cast<kelmf_egl_state_t*>(renderer);
}

} // namespace

int32_t EmptyImpelment(void*)
{
    return 0;
}

int32_t InitContext(void* renderer)
{
    kelmf_egl_state_t* s = state(renderer);
    if (!eglBindAPI(EGL_OPENGL_API))
        KEL_LOG(true, "[KMFR]E kel_start: fail to set API %d.\n", EGL_OPENGL_API);
    Display* x = s->display ? static_cast<Display*>(s->display->getNative()) : nullptr;
    EGLDisplay display = x ? eglGetDisplay(reinterpret_cast<EGLNativeDisplayType>(x)) : EGL_NO_DISPLAY;
    if (display == EGL_NO_DISPLAY) {
        KEL_LOG(true, "[KMFR]E kel_start: Got no EGL display.\n");
        return 1;
    }
    EGLint major = 0, minor = 0;
    if (!eglInitialize(display, &major, &minor)) {
        KEL_LOG(true, "[KMFR]E kel_start: Unable to initialize EGL\n");
        return 1;
    }
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I kel_start: Initialized EGL version %d.%d\n", major, minor);
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I kel_start: eglChooseConfig\n");
    const EGLint attributes[] = {EGL_RED_SIZE,        8,
                                 EGL_GREEN_SIZE,      8,
                                 EGL_BLUE_SIZE,       8,
                                 EGL_ALPHA_SIZE,      0,
                                 EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                 EGL_CONFIG_CAVEAT,   EGL_NONE,
                                 EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    if (!eglChooseConfig(display, attributes, &config, 1, &count)) {
        KEL_LOG(true, "[KMFR]E kel_start: Failed to choose config (eglError: %d)\n", eglGetError());
        return 1;
    }
    if (count != 1) {
        KEL_LOG(true, "[KMFR]E kel_start: Didn't get exactly one config, but %d\n", count);
        return 1;
    }
    void* native = s->window ? s->window->getEGLWindow(s->videoWidth, s->videoHeight) : nullptr;
    EGLSurface surface =
        eglCreateWindowSurface(display, config, reinterpret_cast<EGLNativeWindowType>(native), nullptr);
    if (surface == EGL_NO_SURFACE) {
        KEL_LOG(true, "[KMFR]E kel_start: Unable to create EGL surface (eglError: %d)\n", eglGetError());
        return 1;
    }
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I kel_start: eglCreateContext\n");
    const EGLint contextAttributes[] = {EGL_CONTEXT_CLIENT_VERSION, 2, EGL_NONE};
    EGLContext mainContext = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttributes);
    EGLContext copyContext = mainContext != EGL_NO_CONTEXT
                                 ? eglCreateContext(display, config, mainContext, contextAttributes)
                                 : EGL_NO_CONTEXT;
    if (mainContext == EGL_NO_CONTEXT || copyContext == EGL_NO_CONTEXT) {
        KEL_LOG(true, "[KMFR]E kel_start: Unable to create EGL context (eglError: %d)\n", eglGetError());
        if (mainContext != EGL_NO_CONTEXT)
            eglDestroyContext(display, mainContext);
        eglDestroySurface(display, surface);
        return 1;
    }
    s->eglDisplay = display;
    s->config = config;
    s->surface = surface;
    s->mainContext = mainContext;
    s->copyContext = copyContext;
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I kel_start: context %p %p\n", mainContext, copyContext);
    KEL_LOG(KEL_DISPLAY_ON(0), "[KMFR]I kel_start: eglMakeCurrent\n");
    return g_internal_gl_context_implement.makeMainCurrent(renderer);
}

int32_t MakeMainCurrent(void* renderer)
{
    kelmf_egl_state_t* s = state(renderer);
    eglBindAPI(EGL_OPENGL_API);
    return eglMakeCurrent(s->eglDisplay, s->surface, s->surface, s->mainContext) ? 0 : 1;
}

int32_t MakeCopyCurrent(void* renderer)
{
    kelmf_egl_state_t* s = state(renderer);
    eglBindAPI(EGL_OPENGL_API);
    return eglMakeCurrent(s->eglDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, s->copyContext) ? 0 : 1;
}

int32_t MakeNoCurrent(void* renderer)
{
    kelmf_egl_state_t* s = state(renderer);
    eglBindAPI(EGL_OPENGL_API);
    return eglMakeCurrent(s->eglDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT) ? 0 : 1;
}

int32_t SwapBuffer(void* renderer)
{
    kelmf_egl_state_t* s = state(renderer);
    return eglSwapBuffers(s->eglDisplay, s->surface) ? 0 : 1;
}

int32_t DestroyContext(void* renderer)
{
    kelmf_egl_state_t* s = state(renderer);
    if (s->eglDisplay == EGL_NO_DISPLAY)
        return 0;
    if (s->mainContext != EGL_NO_CONTEXT)
        eglDestroyContext(s->eglDisplay, s->mainContext);
    if (s->copyContext != EGL_NO_CONTEXT)
        eglDestroyContext(s->eglDisplay, s->copyContext);
    s->mainContext = s->copyContext = EGL_NO_CONTEXT;
    return 0;
}

GLenum CheckOpenGLError(const char* call, const char* file, int line)
{
    GLenum error = glGetError();
    if (error != GL_NO_ERROR)
        KEL_LOG(true, "[KMFR]E OpenGL error %08x, at %s:%i - for %s\n", error, file, line, call);
    return error;
}

void CheckEGLError(const char* call, const char* file, int line)
{
    EGLint error = eglGetError();
    if (error != EGL_SUCCESS)
        KEL_LOG(true, "[KMFR]E EGL error %08x, at %s:%i - for %s\n", error, file, line, call);
}

int IsExtensionSupported(const char* name)
{
    GLint count = 0;
    glGetIntegerv(GL_NUM_EXTENSIONS, &count);
    for (GLint i = 0; i < count; ++i) {
        const char* ext = reinterpret_cast<const char*>(glGetStringi(GL_EXTENSIONS, static_cast<GLuint>(i)));
        if (ext && std::strcmp(ext, name) == 0)
            return 1;
    }
    return 0;
}
