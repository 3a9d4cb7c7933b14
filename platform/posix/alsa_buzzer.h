#pragma once

#include <mutex>

#include "platform/buzzer.h"

struct _snd_pcm;

namespace koru {

// A sine tone on the default ALSA playback device. The device is opened at the first beep and
// kept open; where none opens, every beep waits its length in silence, and ALSA's own error
// messages are kept off the terminal.
class AlsaBuzzer final : public Buzzer {
  public:
    AlsaBuzzer() = default;
    ~AlsaBuzzer() override;
    AlsaBuzzer(const AlsaBuzzer&) = delete;
    AlsaBuzzer& operator=(const AlsaBuzzer&) = delete;

    void Beep(std::uint32_t frequencyHz, std::uint32_t ms) override;

    // Whether a device is open (after the first beep).
    bool HasDevice();

  private:
    bool OpenOnce();  // mutex_ held

    std::mutex mutex_;
    bool tried_ = false;
    _snd_pcm* pcm_ = nullptr;
};

}  // namespace koru
