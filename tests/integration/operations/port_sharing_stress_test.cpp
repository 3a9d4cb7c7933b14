// Ticks, probes and operations fired in quick succession from this thread, playing the
// window's thread, while workers and listeners come and go: the port never has two users at
// once and nothing deadlocks.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "core/shared_state.h"
#include "image/program_memory.h"
#include "link/connection.h"
#include "link/reset_listener.h"
#include "operations/one_shot.h"
#include "operations/runner.h"
#include "platform/posix/termios_serial_port.h"
#include "tests/integration/support/simulator_fixture.h"

namespace koru {
namespace {

// The real port, with a check around every primitive that no other call is inside the port.
class ExclusiveUseCheckingPort final : public SerialPort {
    template <typename F>
    auto Check(F&& call) {
        ++calls_;
        if (inside_.fetch_add(1) != 0) {
            ++overlaps_;
        }
        auto result = call();
        --inside_;
        return result;
    }

  public:
    int Overlaps() const { return overlaps_; }
    int Calls() const { return calls_; }

    bool Open(std::string_view name) override {
        return Check([&] { return port_.Open(name); });
    }
    void Close() override {
        Check([&] {
            port_.Close();
            return true;
        });
    }
    bool IsOpen() const override { return port_.IsOpen(); }
    bool SetupQueues(std::size_t in, std::size_t out) override {
        return Check([&] { return port_.SetupQueues(in, out); });
    }
    bool ClearErrors() override {
        return Check([&] { return port_.ClearErrors(); });
    }
    bool ClearBreak() override {
        return Check([&] { return port_.ClearBreak(); });
    }
    bool Purge() override {
        return Check([&] { return port_.Purge(); });
    }
    bool ConfigureLine() override {
        return Check([&] { return port_.ConfigureLine(); });
    }
    void SetTimeouts(const PortTimeouts& timeouts) override {
        Check([&] {
            port_.SetTimeouts(timeouts);
            return true;
        });
    }
    std::size_t Read(std::uint8_t* buffer, std::size_t count) override {
        return Check([&] { return port_.Read(buffer, count); });
    }
    std::size_t Write(const std::uint8_t* buffer, std::size_t count) override {
        return Check([&] { return port_.Write(buffer, count); });
    }
    bool WaitTransmitEmpty() override {
        return Check([&] { return port_.WaitTransmitEmpty(); });
    }

  private:
    TermiosSerialPort port_;
    std::atomic<int> inside_{0};
    std::atomic<int> overlaps_{0};
    std::atomic<int> calls_{0};
};

class PortSharingStressTest : public test::SimulatorTest {
  protected:
    PortSharingStressTest() { InstallPort(&port_); }
    ~PortSharingStressTest() override {
        WaitForThreads();
        port_.Close();
        InstallPort(nullptr);
    }

    ExclusiveUseCheckingPort port_;
};

TEST_F(PortSharingStressTest, WorkersListenersAndProbesNeverShareThePort) {
    Connect();
    StartAddress = 0;
    EndAddress = 0xFF;
    std::mt19937 random(12345);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(4);
    int operations = 0;
    int probes = 0;
    while (std::chrono::steady_clock::now() < until) {
        switch (random() % 6) {
            case 0:
            case 1:
                OnListenTick();
                break;
            case 2:
                if (BusyFlag == 0) {
                    ProbePort("COM1");
                    ++probes;
                }
                break;
            case 3:
                if (BusyFlag == 0) {
                    StartOperation(kReadProtect);
                    ++operations;
                }
                break;
            case 4:
                if (BusyFlag == 0) {
                    StartOperation(20);  // bookkeeping only
                    ++operations;
                }
                break;
            case 5:
                if (random() % 4 == 0) {
                    sim_.SendReset();
                }
                break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 15));
    }
    WaitForThreads();
    EXPECT_EQ(port_.Overlaps(), 0);
    EXPECT_GT(port_.Calls(), 100);
    EXPECT_GT(operations, 5);
    EXPECT_GT(probes, 2);
}

}  // namespace
}  // namespace koru
