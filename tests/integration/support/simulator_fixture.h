#pragma once

// A test with fresh process state, a recording window and the programmer simulator on a
// pseudo-terminal that "COM1" maps to. The window's selections start as after start-up: MTP
// chip, SAM4/SAM8, 5.0V, fast mode, the MTP-only controls enabled.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

#include "device/simulator.h"
#include "tests/support/process_state.h"

namespace koru::test {

class SimulatorTest : public ProcessStateTest {
  protected:
    SimulatorTest();
    ~SimulatorTest() override;

    void SetStartupSelections();
    // Selects the OTP kind as the window does: the MTP-only controls become unavailable.
    void SelectOtp();
    // Probes COM1 and asserts that the programmer answered.
    void Connect();
    // Starts an operation as the window does and waits for its worker to end.
    void RunAndWait(std::uint8_t code);
    // Ends the listener and waits for every worker and listener thread to return.
    static void WaitForThreads();

    device::Simulator sim_;
};

// Milliseconds the call took.
template <typename F>
long long MillisecondsOf(F&& call) {
    const auto start = std::chrono::steady_clock::now();
    call();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

}  // namespace koru::test
