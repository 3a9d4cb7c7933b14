// The buzzer on Windows: the system's own Beep, which plays the tone and returns when it ends.

#include <windows.h>

#include <atomic>

#include "platform/buzzer.h"

namespace koru {
namespace {

class Win32Buzzer final : public Buzzer {
  public:
    void Beep(std::uint32_t frequencyHz, std::uint32_t ms) override { ::Beep(frequencyHz, ms); }
};

std::atomic<Buzzer*> installed{nullptr};

}  // namespace

Buzzer& TheBuzzer() {
    // Never destroyed: a worker may still be beeping while the process exits.
    static Win32Buzzer* const system = new Win32Buzzer;
    Buzzer* buzzer = installed.load();
    return buzzer != nullptr ? *buzzer : *system;
}

void InstallBuzzer(Buzzer* buzzer) {
    installed = buzzer;
}

}  // namespace koru
