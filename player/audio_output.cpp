#include "player/audio_output.h"

#include <vector>

#include "common/helpers.h"
#include "player/player_state.h"

SDL_AudioSpec wanted_spec{};
SDL_AudioSpec obtained_spec{};
SDL_AudioDeviceID audio_device = 0;
bool isInitAudio = false;

namespace {

void logSpec(const char* label, const SDL_AudioSpec& spec)
{
    DebugLog("[SDL] %s\t - frequency: %d format: f %d s %d be %d sz %d channels: %d samples: %d\n", label, spec.freq,
             SDL_AUDIO_ISFLOAT(spec.format) ? 1 : 0, SDL_AUDIO_ISSIGNED(spec.format) ? 1 : 0,
             SDL_AUDIO_ISBIGENDIAN(spec.format) ? 1 : 0, static_cast<int>(SDL_AUDIO_BITSIZE(spec.format)),
             spec.channels, spec.samples);
}

} // namespace

bool audioFormatChanged(const NDIlib_audio_frame_v2_t& frame)
{
    // Senders at 29.97 fps alternate 1601 and 1602 samples: the sample count alone is no
    // change of format, and reopening would clear the queue on almost every frame.
    return frame.no_channels != wanted_spec.channels || frame.sample_rate != wanted_spec.freq;
}

void initAudio(const NDIlib_audio_frame_v2_t& frame)
{
    SDL_zero(wanted_spec);
    wanted_spec.freq = frame.sample_rate;
    wanted_spec.format = AUDIO_S16LSB;
    wanted_spec.channels = static_cast<Uint8>(frame.no_channels);
    wanted_spec.samples = static_cast<Uint16>(frame.no_samples);
    wanted_spec.callback = nullptr;
    logSpec("Desired", wanted_spec);

    if (audio_device != 0)
        SDL_LockAudioDevice(audio_device);
    int devices = SDL_GetNumAudioDevices(0);
    for (int i = 0; i < devices; ++i) {
        const char* name = SDL_GetAudioDeviceName(i, 0);
        DebugLog("Audio device %d: %s\n", i, name != nullptr ? name : "");
    }
    if (audio_device != 0) {
        SDL_UnlockAudioDevice(audio_device);
        SDL_ClearQueuedAudio(audio_device);
        SDL_CloseAudioDevice(audio_device);
        audio_device = 0;
    }

    SDL_zero(obtained_spec);
    // Only the buffer size may differ: the queued samples are S16 at the frame's channels
    // and rate, so any other change would play noise.
    audio_device = SDL_OpenAudioDevice(nullptr, 0, &wanted_spec, &obtained_spec, SDL_AUDIO_ALLOW_SAMPLES_CHANGE);
    if (audio_device == 0) {
        DebugLog("SDL_OpenAudioDevice failed: %s\n", SDL_GetError());
        return;
    }
    SDL_PauseAudioDevice(audio_device, 0);

    logSpec("Obtained", obtained_spec);
    DebugLog("[SDL] Obtained\t - silence: %d \n", obtained_spec.silence);
    if (obtained_spec.channels != wanted_spec.channels || obtained_spec.freq != wanted_spec.freq ||
        obtained_spec.format != wanted_spec.format)
        DebugLog("Unsupported the wanted audio spec.\n");
}

void ProcessAudioFrameS16LSB(const NDIlib_audio_frame_v2_t& frame)
{
    if (frame.no_samples <= 0 || frame.no_channels <= 0 || frame.p_data == nullptr)
        return;
    if (audio_device != 0) {
        // Bounded latency: a sender whose clock runs ahead would grow the queue for ever.
        Uint64 limit = static_cast<Uint64>(wanted_spec.freq) * wanted_spec.channels * 2 * kAudioQueueLimitMs / 1000;
        Uint32 queued = SDL_GetQueuedAudioSize(audio_device);
        if (queued > limit) {
            DebugLog("[SDL] Audio queue holds %u bytes, frame dropped\n", queued);
            return;
        }
    }
    size_t n = static_cast<size_t>(frame.no_samples) * static_cast<size_t>(frame.no_channels);
    std::vector<int16_t> samples(n);
    NDIlib_audio_frame_interleaved_16s_t interleaved{};
    interleaved.reference_level = iAudioInGain.load(std::memory_order_relaxed);
    interleaved.p_data = samples.data();
    NDIlib_util_audio_to_interleaved_16s_v2(&frame, &interleaved);
    SDL_QueueAudio(audio_device, samples.data(), static_cast<Uint32>(2 * n));
}

void closeAudio()
{
    if (audio_device != 0) {
        SDL_ClearQueuedAudio(audio_device);
        SDL_CloseAudioDevice(audio_device);
        audio_device = 0;
    }
    SDL_zero(wanted_spec);  // the next frame opens a device again
}
