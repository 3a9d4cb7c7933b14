// serial_timing: how well the termios port keeps the read time-outs when the line is paced
// like a real 19200-baud line by the simulated programmer.
//   (a) give-up time of a one-byte read on a silent line (nominal 9 + 9 * 1 = 18 ms);
//   (b) how many 256-byte blocks are cut short by a gap that is not on the line (the device
//       sends each block without a pause; the read gives up after a 9 ms gap).
// Each is measured once on an idle machine and once with every core kept busy by spinning
// threads of this program. The reading thread asks for SCHED_FIFO unless --no-fifo.
//
//   serial_timing [--blocks N] [--giveups N] [--no-fifo]

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <thread>
#include <vector>

#include "device/simulator.h"
#include "link/transport.h"
#include "platform/serial_port.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kBlockBytes = 256;
constexpr double kNominalGiveUpMs = koru::kNormalTimeoutMs * 2.0;  // constant + multiplier * 1
constexpr int kReaderPriority = 60;  // above the simulator's serving thread
constexpr auto kBlockWait = std::chrono::seconds(5);

struct Options {
    int blocks = 300;
    int giveUps = 200;
    bool fifo = true;
};

struct PhaseResult {
    double giveUpP50 = 0;
    double giveUpP99 = 0;
    double giveUpMax = 0;
    int cutShort = 0;
    int blocks = 0;
    // Of the blocks cut short, how many had a gap the simulator itself put on the line (a byte
    // sent more than the interval time-out late), and the largest such lateness.
    int cutBySimulator = 0;
    double maxSimulatorLatenessMs = 0;
};

double Percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[index];
}

// Keeps one core busy until stopped.
class Spinners {
  public:
    explicit Spinners(unsigned count) {
        for (unsigned i = 0; i < count; ++i) {
            threads_.emplace_back([this, i] {
                // A new thread inherits the creator's policy: the load must never be real-time,
                // or it would starve the machine.
                sched_param parameter{};
                if (pthread_setschedparam(pthread_self(), SCHED_OTHER, &parameter) != 0) {
                    return;
                }
                std::uint64_t x = i + 1;
                while (!stop_.load(std::memory_order_relaxed)) {
                    x = x * 6364136223846793005ULL + 1442695040888963407ULL;
                }
                sink_.fetch_add(x, std::memory_order_relaxed);
            });
        }
    }
    ~Spinners() {
        stop_ = true;
        for (auto& thread : threads_) {
            thread.join();
        }
    }

  private:
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> sink_{0};
    std::vector<std::thread> threads_;
};

PhaseResult RunPhase(koru::device::Simulator& sim, const Options& options) {
    PhaseResult result;
    std::vector<double> giveUps;
    std::uint8_t byte = 0;
    for (int i = 0; i < options.giveUps; ++i) {
        koru::ApplyNormalTimeouts();
        const auto begin = Clock::now();
        koru::Port().Read(&byte, 1);
        giveUps.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
    }
    result.giveUpP50 = Percentile(giveUps, 0.50);
    result.giveUpP99 = Percentile(giveUps, 0.99);
    result.giveUpMax = *std::max_element(giveUps.begin(), giveUps.end());

    std::vector<std::uint8_t> block(kBlockBytes);
    for (std::size_t i = 0; i < kBlockBytes; ++i) {
        block[i] = static_cast<std::uint8_t>(i == 'Z' ? 0 : i);
    }
    std::uint8_t buffer[kBlockBytes];
    for (int i = 0; i < options.blocks; ++i) {
        koru::ApplyNormalTimeouts();
        sim.TakeMaxOutputLateness();
        sim.Send(block);
        const std::size_t got = koru::Port().Read(buffer, kBlockBytes);
        ++result.blocks;
        sim.WaitForOutputSent(kBlockWait);
        const double lateMs =
            std::chrono::duration<double, std::milli>(sim.TakeMaxOutputLateness()).count();
        result.maxSimulatorLatenessMs = std::max(result.maxSimulatorLatenessMs, lateMs);
        if (got < kBlockBytes) {
            ++result.cutShort;
            if (lateMs >= koru::kNormalTimeoutMs) {
                ++result.cutBySimulator;
            }
            std::printf("  block %d cut short after %zu bytes (simulator at most %.2f ms late)\n",
                        i, got, lateMs);
            // Let the rest of the block arrive and drop it before the next one.
            sim.WaitForOutputSent(kBlockWait);
            koru::DelayMs(20);
            koru::Port().Purge();
        }
    }
    return result;
}

void Print(const char* name, const PhaseResult& r) {
    std::printf(
        "%-6s give-up p50 %6.2f ms  p99 %6.2f ms  max %6.2f ms (nominal %.0f ms, p99 %+.2f)"
        "  |  blocks cut short %d of %d (%d by the simulator's own lateness;"
        " its largest %.2f ms)\n",
        name, r.giveUpP50, r.giveUpP99, r.giveUpMax, kNominalGiveUpMs,
        r.giveUpP99 - kNominalGiveUpMs, r.cutShort, r.blocks, r.cutBySimulator,
        r.maxSimulatorLatenessMs);
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if ((argument == "--blocks" || argument == "--giveups") && i + 1 < argc) {
            const int value = std::atoi(argv[++i]);
            if (value <= 0) {
                return false;
            }
            (argument == "--blocks" ? options.blocks : options.giveUps) = value;
        } else if (argument == "--no-fifo") {
            options.fifo = false;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: serial_timing [--blocks N] [--giveups N] [--no-fifo]\n");
        return 2;
    }
    koru::device::Simulator sim;
    koru::device::DeviceTiming timing;
    timing.paceLine = true;
    if (!sim.Start(timing, options.fifo)) {
        std::fprintf(stderr, "serial_timing: cannot create a pseudo-terminal\n");
        return 1;
    }
    if (!koru::Port().Open(sim.SlavePath())) {
        std::fprintf(stderr, "serial_timing: cannot open %s\n", sim.SlavePath().c_str());
        return 1;
    }
    koru::ConfigurePort();

    bool readerFifo = false;
    if (options.fifo) {
        sched_param parameter{};
        parameter.sched_priority = kReaderPriority;
        readerFifo = pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameter) == 0;
    }
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::printf(
        "serial_timing: %d blocks of %zu bytes, %d give-ups per phase; paced line %.1f us"
        " per byte; reader SCHED_FIFO %s, simulator SCHED_FIFO %s; %u cores\n",
        options.blocks, kBlockBytes, options.giveUps,
        std::chrono::duration<double, std::micro>(koru::device::kFrameTime).count(),
        readerFifo ? "yes" : "no", sim.RealTime() ? "yes" : "no", cores);

    const PhaseResult idle = RunPhase(sim, options);
    Print("idle", idle);
    PhaseResult loaded;
    {
        Spinners spinners(cores);
        loaded = RunPhase(sim, options);
    }
    Print("loaded", loaded);

    const bool met =
        idle.cutShort == 0 && loaded.cutShort == 0 && loaded.giveUpP99 - kNominalGiveUpMs <= 3.0;
    std::printf("target (no block cut short, loaded p99 give-up within 3 ms of nominal): %s\n",
                met ? "met" : "NOT met");
    koru::Port().Close();
    return 0;
}
