#include "tests/integration/support/simulator_fixture.h"

#include <cstdio>
#include <cstdlib>

#include "core/shared_state.h"
#include "link/connection.h"
#include "link/reset_listener.h"
#include "operations/runner.h"
#include "platform/serial_port.h"
#include "tests/support/wait.h"

namespace koru::test {

SimulatorTest::SimulatorTest() {
    // The programmer answers a command block within the engine's 80 ms; a simulator thread that a
    // loaded machine keeps off the processor that long fails a test for nothing. Real-time
    // scheduling (where the process may have it) wakes it as a device would answer.
    EXPECT_TRUE(sim_.Start({}, true));
    static bool told = false;
    if (!sim_.RealTime() && !told) {
        told = true;
        std::fprintf(stderr,
                     "note: the simulator runs without real-time scheduling here; "
                     "a heavily loaded machine can make a good chip look silent\n");
    }
    setenv("KORU_COM1", sim_.SlavePath().c_str(), 1);
    SetStartupSelections();
}

SimulatorTest::~SimulatorTest() {
    WaitForThreads();
    Port().Close();
}

void SimulatorTest::SetStartupSelections() {
    window_.SetChoice(Choice::SerialMtp, true);
    window_.SetChoice(Choice::SerialOtp, false);
    window_.SetChoice(Choice::DataSam, true);
    window_.SetChoice(Choice::DataCalmRisc, false, false);
    window_.SetChoice(Choice::DataArm, false, false);
    window_.SetChoice(Choice::Vdd50, true);
    window_.SetChoice(Choice::Vdd33, false, false);
    window_.SetChoice(Choice::FastMode, true);
    for (Choice option :
         {Choice::AutoReadProtect, Choice::AutoLdcProtect, Choice::AutoBlankCheck,
          Choice::AutoHwProtect, Choice::AutoSmart, Choice::AutoVerify, Choice::AutoEraseMtp}) {
        window_.SetChoice(option, false, true);
    }
}

void SimulatorTest::SelectOtp() {
    window_.SetChoice(Choice::SerialMtp, false);
    window_.SetChoice(Choice::SerialOtp, true);
    window_.SetChoice(Choice::DataSam, true, false);
    for (Choice mtpOnly :
         {Choice::AutoLdcProtect, Choice::AutoHwProtect, Choice::AutoSmart, Choice::AutoEraseMtp}) {
        window_.SetChoice(mtpOnly, window_.GetChoice(mtpOnly).marked, false);
    }
}

void SimulatorTest::Connect() {
    ProbePort("COM1");
    ASSERT_EQ(ProgrammerFoundFlag, 1) << window_.StatusLine();
}

void SimulatorTest::RunAndWait(std::uint8_t code) {
    StartOperation(code);
    ASSERT_TRUE(WaitUntil([] { return LiveOperationWorkers() == 0; }, std::chrono::seconds(60)));
}

void SimulatorTest::WaitForThreads() {
    EndResetListener();
    EXPECT_TRUE(WaitUntil([] { return LiveOperationWorkers() == 0 && LiveListenerThreads() == 0; },
                          std::chrono::seconds(60)));
}

}  // namespace koru::test
