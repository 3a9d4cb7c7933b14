#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/buzzer.h"

namespace koru::test {

// Records each beep instead of sounding it, and installs itself for its lifetime.
class RecordingBuzzer final : public Buzzer {
  public:
    struct Tone {
        std::uint32_t hz;
        std::uint32_t ms;
        bool operator==(const Tone&) const = default;
    };

    RecordingBuzzer() { InstallBuzzer(this); }
    ~RecordingBuzzer() override { InstallBuzzer(nullptr); }

    void Beep(std::uint32_t hz, std::uint32_t ms) override {
        std::lock_guard lock(mutex_);
        tones_.push_back({hz, ms});
    }
    std::vector<Tone> Tones() const {
        std::lock_guard lock(mutex_);
        return tones_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<Tone> tones_;
};

}  // namespace koru::test
