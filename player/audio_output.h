// Sound of decode-player: NDI audio frames converted to interleaved 16-bit samples at the
// configured gain and queued to one SDL audio device in queue mode.
#pragma once

#include <SDL2/SDL.h>

#include "Processing.NDI.Lib.h"

// Receiver thread (and shutdown once the receivers are gone).
extern SDL_AudioSpec wanted_spec;
extern SDL_AudioSpec obtained_spec;
extern SDL_AudioDeviceID audio_device;  // 0 when none is open
extern bool isInitAudio;

// More than this much sound queued drops incoming frames until the queue drains.
constexpr int kAudioQueueLimitMs = 200;

// True when the frame's channel count or sample rate differs from the open format.
bool audioFormatChanged(const NDIlib_audio_frame_v2_t& frame);

// (Re)opens the default playback device for the frame's format.
void initAudio(const NDIlib_audio_frame_v2_t& frame);
// Converts one frame at iAudioInGain and queues it; dropped while the queue is full.
void ProcessAudioFrameS16LSB(const NDIlib_audio_frame_v2_t& frame);
// Clears the queue and closes the device.
void closeAudio();
