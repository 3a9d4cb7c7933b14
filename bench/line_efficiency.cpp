// line_efficiency: how close auto-programming comes to what the serial line allows.
// Auto-programs an 8 KiB image (blank check, program, verify by chip checksum) against the
// simulated programmer pacing a 19200-baud line in both directions, and compares the time
// taken with the ideal: every byte on the line at 11 bits per byte, plus the pauses the
// protocol mandates, plus the simulator's own set reply delays.
//
//   line_efficiency [--size BYTES] [--no-fifo]

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>

#include "bench/support/auto_program_window.h"
#include "core/services.h"
#include "core/shared_state.h"
#include "device/simulator.h"
#include "image/numbers.h"
#include "image/program_memory.h"
#include "link/connection.h"
#include "operations/runner.h"
#include "platform/posix/termios_serial_port.h"

namespace koru {
namespace {

using Clock = std::chrono::steady_clock;

// The pauses of one run with these steps, in milliseconds: 80 ms after each command block,
// 50 ms before the program data, and the fast-mode step pause before program and verify.
constexpr double kConnectPauseMs = 80;
constexpr double kBeforeDataMs = 50;
constexpr double kFastStepPauseMs = 300;
constexpr int kExchanges = 3;  // blank check, program, chip checksum
constexpr int kStepPauses = 2;

// The real port, counting the bytes that cross it.
class CountingPort final : public SerialPort {
  public:
    std::size_t Bytes() const { return bytes_; }
    void Reset() { bytes_ = 0; }

    bool Open(std::string_view name) override { return port_.Open(name); }
    void Close() override { port_.Close(); }
    bool IsOpen() const override { return port_.IsOpen(); }
    bool SetupQueues(std::size_t in, std::size_t out) override {
        return port_.SetupQueues(in, out);
    }
    bool ClearErrors() override { return port_.ClearErrors(); }
    bool ClearBreak() override { return port_.ClearBreak(); }
    bool Purge() override { return port_.Purge(); }
    bool ConfigureLine() override { return port_.ConfigureLine(); }
    void SetTimeouts(const PortTimeouts& timeouts) override { port_.SetTimeouts(timeouts); }
    std::size_t Read(std::uint8_t* buffer, std::size_t count) override {
        const std::size_t n = port_.Read(buffer, count);
        bytes_ += n;
        return n;
    }
    std::size_t Write(const std::uint8_t* buffer, std::size_t count) override {
        const std::size_t n = port_.Write(buffer, count);
        bytes_ += n;
        return n;
    }
    bool WaitTransmitEmpty() override { return port_.WaitTransmitEmpty(); }

  private:
    TermiosSerialPort port_;
    std::atomic<std::size_t> bytes_{0};
};

// The window of this run, blank check ticked; every message box is printed and answered Ok.
class BenchWindow final : public bench::AutoProgramWindow {
  public:
    BenchWindow() : AutoProgramWindow(true) {}
    MessageAnswer ShowMessageBox(const std::string&, const std::string& text, MessageIcon,
                                 MessageButtons) override {
        std::fprintf(stderr, "box: %s\n", text.c_str());
        return MessageAnswer::Ok;
    }
};

double Ms(std::chrono::nanoseconds d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

int Run(std::uint32_t size, bool fifo) {
    device::DeviceTiming timing;
    timing.paceLine = true;
    device::Simulator sim;
    if (!sim.Start(timing, fifo)) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    sim.SetChip(device::ChipKind::Mtp, size);

    CountingPort port;
    InstallPort(&port);
    BenchWindow window;
    InstallWindowServices(&window);

    for (std::uint32_t a = 0; a < size; ++a) {
        ProgramMemory[a] = static_cast<std::uint8_t>(a * 37 + 11);
    }
    StartAddress = 0;
    EndAddress = size - 1;
    window.checksum = Hex(SumImageRange(0, size - 1), 4);

    ProbePort(sim.SlavePath());
    if (ProgrammerFoundFlag == 0) {
        std::fprintf(stderr, "no programmer: %s\n", window.status.c_str());
        return 1;
    }
    port.Reset();
    const auto started = Clock::now();
    RunOperationToEnd(kAutoProgram);
    const double measuredMs = Ms(Clock::now() - started);
    if (window.status != "自动编程已成功完成") {
        std::fprintf(stderr, "the run failed: %s\n", window.status.c_str());
        return 1;
    }

    const auto steps = (size + timing.stepBytes - 1) / timing.stepBytes;
    const double lineMs = static_cast<double>(port.Bytes()) * Ms(device::kFrameTime);
    const double pausesMs =
        kExchanges * kConnectPauseMs + kBeforeDataMs + kStepPauses * kFastStepPauseMs;
    const double delaysMs =
        kExchanges * Ms(timing.answerDelay) + kExchanges * Ms(timing.statusDelay) +
        2.0 * static_cast<double>(steps) * Ms(timing.stepDelay) + Ms(timing.programDelay);
    const double idealMs = lineMs + pausesMs + delaysMs;
    std::printf(
        "image %u bytes, %zu bytes on the line (%.1f ms), pauses %.1f ms, device delays %.1f ms\n",
        size, port.Bytes(), lineMs, pausesMs, delaysMs);
    std::printf("measured %.1f ms, ideal %.1f ms\n", measuredMs, idealMs);
    std::printf("ratio measured/ideal: %.3f (target at most 1.03)\n", measuredMs / idealMs);
    InstallWindowServices(nullptr);
    port.Close();
    InstallPort(nullptr);
    return 0;
}

}  // namespace
}  // namespace koru

int main(int argc, char** argv) {
    std::uint32_t size = 0x2000;
    bool fifo = true;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--size" && i + 1 < argc) {
            size = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 0));
        } else if (arg == "--no-fifo") {
            fifo = false;
        } else {
            std::fprintf(stderr, "usage: line_efficiency [--size BYTES] [--no-fifo]\n");
            return 3;
        }
    }
    if (size == 0 || size > 0x10000) {
        std::fprintf(stderr, "--size takes 1..65536\n");
        return 3;
    }
    return koru::Run(size, fifo);
}
