#include "player/player_state.h"

std::atomic<int> video_width{0};
std::atomic<int> video_height{0};
std::atomic<float> video_fps{0.0f};
std::atomic<int> video_frame_type{1};

std::atomic<int> outvideo_width{0};
std::atomic<int> outvideo_height{0};

std::atomic<int> inLineSize{0};
int outLineSize[3] = {0, 0, 0};

std::atomic<int> isInitVideo{0};
std::atomic<int> isRendered{1};
std::atomic<int> isInitUploaded{0};
std::atomic<int> isNeededOpenglReset{0};
std::atomic<int> isNoBGImage{0};

SwsContext* sws_ctx = nullptr;

int ndi_color_format = 100;

std::atomic<int> iAudioInGain{20};

std::atomic<int> received_frames{0};
std::atomic<int> rendered_frames{0};

std::atomic<bool> exit_loop{false};

std::atomic<int> screen_width{0};
std::atomic<int> screen_height{0};
std::atomic<int> screen_rate{0};
