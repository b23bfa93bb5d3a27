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

if(BUILD_TESTING)
  add_subdirectory(tests)
endif()
