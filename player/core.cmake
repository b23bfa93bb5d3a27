# The player core: receiver, frame ring and conversion, audio output, status records.
# A static library so that tests drive it without the player's window.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
pkg_check_modules(SWSCALE REQUIRED IMPORTED_TARGET libswscale libavutil)
pkg_check_modules(SDL2 REQUIRED IMPORTED_TARGET sdl2)

add_library(tarnvik_player_frames STATIC
  player_state.cpp
  status_records.cpp
  frame_ring.cpp
  conversion.cpp)
target_include_directories(tarnvik_player_frames PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(tarnvik_player_frames PUBLIC tarnvik_common Threads::Threads PRIVATE PkgConfig::SWSCALE)

if(TARGET ndi::runtime)
  add_library(tarnvik_player_core STATIC audio_output.cpp receiver.cpp)
  target_link_libraries(tarnvik_player_core PUBLIC tarnvik_player_frames tarnvik_display ndi::runtime PkgConfig::SDL2)
endif()

# decode-player itself: the window, the render loop and the program around the core.
find_package(OpenGL REQUIRED)
find_package(GLEW REQUIRED)
pkg_check_modules(GLFW REQUIRED IMPORTED_TARGET glfw3)
pkg_check_modules(SDL2_IMAGE REQUIRED IMPORTED_TARGET SDL2_image)
if(TARGET tarnvik_player_core)
  add_executable(decode-player main.cpp opengl_output.cpp)
  target_link_libraries(decode-player PRIVATE tarnvik_player_core OpenGL::GL GLEW::GLEW PkgConfig::GLFW
                        PkgConfig::SDL2_IMAGE)
endif()

if(BUILD_TESTING)
  add_subdirectory(tests)
endif()
