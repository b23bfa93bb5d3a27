// The picture of decode-player: one full-screen GLFW window; the render loop uploads the
// ring slot written last into three luminance textures and draws one quad whose fragment
// shader converts YUV to RGB. Main thread only.
#pragma once

struct GLFWwindow;

extern GLFWwindow* window;

// Window, GL state, quad, programs, background, viewport. 0, or -1 when no window.
int initOpengl();
// Quad of half-size a x b in normalised coordinates.
void initVBO(float a, float b);
// Compiles and links the progressive and the two field programs.
void initProgram();
// (Re)creates the textures at the output size and binds the sampler uniforms.
void setMainTextures();
// Loads the background picture chosen by the screen size.
void setBGTexture();
// Centres the output rectangle of w x h on the screen.
void setViewport(int w, int h, int progressive);
// The background over the whole screen.
void drawBackgroundWithOpengl();
// The render loop, until ESC, exit_loop or the window closes.
void showWithOpengl();
// Deletes programs, textures, the window.
void terminateOpengl();
