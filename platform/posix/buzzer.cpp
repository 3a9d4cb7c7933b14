#include "platform/buzzer.h"

#include <atomic>

#include "platform/posix/alsa_buzzer.h"

namespace koru {
namespace {

std::atomic<Buzzer*> installed{nullptr};

}  // namespace

Buzzer& TheBuzzer() {
    // Never destroyed: a worker may still be beeping while the process exits.
    static AlsaBuzzer* const soundDevice = new AlsaBuzzer;
    Buzzer* buzzer = installed.load();
    return buzzer != nullptr ? *buzzer : *soundDevice;
}

void InstallBuzzer(Buzzer* buzzer) {
    installed = buzzer;
}

}  // namespace koru
