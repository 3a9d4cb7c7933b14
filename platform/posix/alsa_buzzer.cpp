#include "platform/posix/alsa_buzzer.h"

#include <alsa/asoundlib.h>

#include <chrono>
#include <cmath>
#include <cstdarg>
#include <numbers>
#include <vector>

#include "platform/delay.h"

namespace koru {
namespace {

constexpr unsigned kSampleRate = 48000;
constexpr unsigned kLatencyUs = 50000;  // small, so a beep starts without a long lag
constexpr double kAmplitude = 0.4 * 32767;

void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

AlsaBuzzer::~AlsaBuzzer() {
    if (pcm_ != nullptr) {
        snd_pcm_close(pcm_);
    }
}

bool AlsaBuzzer::OpenOnce() {
    if (tried_) {
        return pcm_ != nullptr;
    }
    tried_ = true;
    snd_lib_error_set_handler(IgnoreAlsaError);
    if (snd_pcm_open(&pcm_, "default", SND_PCM_STREAM_PLAYBACK, 0) < 0) {
        pcm_ = nullptr;
        return false;
    }
    if (snd_pcm_set_params(pcm_, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1,
                           kSampleRate, 1, kLatencyUs) < 0) {
        snd_pcm_close(pcm_);
        pcm_ = nullptr;
        return false;
    }
    return true;
}

bool AlsaBuzzer::HasDevice() {
    std::lock_guard lock(mutex_);
    return OpenOnce();
}

void AlsaBuzzer::Beep(std::uint32_t frequencyHz, std::uint32_t ms) {
    const auto started = std::chrono::steady_clock::now();
    std::unique_lock lock(mutex_);
    bool played = false;
    if (OpenOnce()) {
        const std::size_t frames = std::size_t{kSampleRate} * ms / 1000;
        std::vector<std::int16_t> samples(frames);
        const double step = 2 * std::numbers::pi * frequencyHz / kSampleRate;
        for (std::size_t i = 0; i < frames; ++i) {
            samples[i] = static_cast<std::int16_t>(kAmplitude * std::sin(step * i));
        }
        snd_pcm_prepare(pcm_);
        std::size_t done = 0;
        played = true;
        while (done < frames) {
            const snd_pcm_sframes_t n = snd_pcm_writei(pcm_, samples.data() + done, frames - done);
            if (n < 0 && snd_pcm_recover(pcm_, static_cast<int>(n), 1) < 0) {
                played = false;
                break;
            }
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            }
        }
        if (played) {
            snd_pcm_drain(pcm_);  // returns when the tone has been heard
        }
    }
    lock.unlock();
    // Whatever happened, the beep takes its length: the patterns' pauses count on it.
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    if (elapsed.count() < ms) {
        DelayMs(static_cast<std::uint32_t>(ms - elapsed.count()));
    }
}

}  // namespace koru
