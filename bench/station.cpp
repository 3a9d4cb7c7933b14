// station: chips per hour of a line with one operator, lockstep rounds against independent
// starts. For N = 4 and 8 simulated programmers pacing a 19200-baud line (8 KiB chips, program
// and verify) and a scripted operator who needs 3 s to swap one chip, each mode runs for the
// same time:
//   lockstep     one koru-cli gang with --repeat --events jsonl: when every port has finished
//                its chip the operator swaps all N chips, one after another, then starts the
//                next round (as --repeat works today);
//   independent  the station window (offscreen) with a site driver per port: whenever a site
//                has finished, its chip joins the operator's queue; each swapped site starts at
//                once on its own.
// Chips per hour count the chips that passed within the run's time. While the independent run
// of the largest N goes on, a 10 ms timer on the window's thread measures the event loop's
// lateness (p99 and worst).
//
//   station [--seconds S] [--swap-ms MS] [--sites 4,8]

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/hex_code.h"
#include "device/simulator.h"
#include "platform/child_process.h"
#include "window/station/station_window.h"

namespace koru {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kChipBytes = 0x2000;
constexpr int kTimerMs = 10;

struct Options {
    int seconds = 40;
    int swapMs = 3000;
    std::vector<int> sites{4, 8};
};

std::vector<std::unique_ptr<device::Simulator>> StartSimulators(int count) {
    std::vector<std::unique_ptr<device::Simulator>> sims;
    device::DeviceTiming timing;
    timing.paceLine = true;
    for (int i = 0; i < count; ++i) {
        auto sim = std::make_unique<device::Simulator>();
        if (!sim->Start(timing, true)) {
            std::fprintf(stderr, "station: no pseudo-terminal for simulator %d\n", i);
            return {};
        }
        sim->SetChip(device::ChipKind::Mtp, kChipBytes);
        sims.push_back(std::move(sim));
    }
    return sims;
}

std::vector<std::string> RunArgs(const fs::path& folder, const fs::path& code,
                                 const std::string& mode) {
    return {"--mtp",     "--verify",   "--range",
            "0000-1FFF", "--log",      (folder / (mode + ".jsonl")).string(),
            "program",   code.string()};
}

std::vector<std::string> Environment(const fs::path& folder) {
    return {"XDG_CONFIG_HOME=" + (folder / "config").string(),
            "XDG_STATE_HOME=" + (folder / "state").string()};
}

// Lockstep rounds of a --repeat gang; the chips that passed within the time.
int RunLockstep(int count, const Options& options, const fs::path& folder, const fs::path& code) {
    const auto sims = StartSimulators(count);
    if (sims.empty()) {
        return -1;
    }
    std::vector<std::string> args{KORU_CLI_PATH, "--events", "jsonl", "--repeat", "--port"};
    std::string ports;
    for (const auto& sim : sims) {
        ports += (ports.empty() ? "" : ",") + sim->SlavePath();
    }
    args.push_back(ports);
    for (const std::string& arg : RunArgs(folder, code, "lockstep-" + std::to_string(count))) {
        args.push_back(arg);
    }
    ChildSetup setup;
    setup.ownGroup = true;
    setup.errorsApart = true;
    setup.inputPipe = true;
    ChildProcess gang;
    std::string error;
    if (!gang.Start(args, error, Environment(folder), setup)) {
        std::fprintf(stderr, "station: %s\n", error.c_str());
        return -1;
    }
    const auto deadline = Clock::now() + std::chrono::seconds(options.seconds);
    int passed = 0;
    int waiting = 0;
    std::string pending;
    std::string errors;
    bool swapping = false;  // the operator is swapping the round's chips until swapsDone
    Clock::time_point swapsDone{};
    bool open = true;
    while (open && Clock::now() < deadline) {
        WaitForOutput({&gang}, std::chrono::milliseconds(kTimerMs));
        open = gang.ReadOutput(pending);
        gang.ReadErrors(errors);
        errors.clear();
        std::size_t begin = 0;
        for (std::size_t end = pending.find('\n'); end != std::string::npos;
             end = pending.find('\n', begin)) {
            const nlohmann::json event =
                nlohmann::json::parse(pending.substr(begin, end - begin), nullptr, false);
            begin = end + 1;
            if (!event.is_object()) {
                continue;
            }
            if (event.value("type", "") == "outcome" && event.value("kind", "") == "success" &&
                Clock::now() < deadline) {
                ++passed;
            } else if (event.value("type", "") == "waiting" && ++waiting == count) {
                // The round is over: the operator swaps every chip, one after another.
                swapping = true;
                swapsDone = Clock::now() + std::chrono::milliseconds(options.swapMs) * count;
                waiting = 0;
            }
        }
        pending.erase(0, begin);
        if (swapping && Clock::now() >= swapsDone) {
            swapping = false;
            gang.WriteInput("\n");
        }
    }
    gang.Kill();
    gang.Wait();
    return passed;
}

struct IndependentFigures {
    int passed = 0;
    double p99LatenessMs = 0;
    double worstLatenessMs = 0;
};

// Independent starts through the station window; the chips that passed within the time and
// the event loop's lateness.
IndependentFigures RunIndependent(int count, const Options& options, const fs::path& folder,
                                  const fs::path& code) {
    IndependentFigures figures;
    const auto sims = StartSimulators(count);
    if (sims.empty()) {
        figures.passed = -1;
        return figures;
    }
    StationSetup setup;
    for (const auto& sim : sims) {
        setup.ports.push_back(sim->SlavePath());
    }
    setup.site.program = KORU_CLI_PATH;
    setup.site.args = RunArgs(folder, code, "independent-" + std::to_string(count));
    setup.site.environment = Environment(folder);
    auto window = std::make_unique<StationWindow>(setup);
    window->show();

    // The operator: a queue of finished sites, one swap at a time.
    std::deque<int> queue;
    std::vector<bool> queued(static_cast<std::size_t>(count), false);
    std::optional<std::pair<int, Clock::time_point>> swapping;
    std::vector<double> lateness;
    QElapsedTimer sinceTick;
    QTimer operatorTimer;
    operatorTimer.setTimerType(Qt::PreciseTimer);
    const auto deadline = Clock::now() + std::chrono::seconds(options.seconds);
    QEventLoop loop;
    QObject::connect(&operatorTimer, &QTimer::timeout, [&] {
        if (sinceTick.isValid()) {
            lateness.push_back(std::max(0.0, sinceTick.nsecsElapsed() / 1e6 - kTimerMs));
        }
        sinceTick.start();
        const auto now = Clock::now();
        if (now >= deadline) {
            loop.quit();
            return;
        }
        for (int i = 0; i < count; ++i) {
            const SiteSnapshot site = window->Tile(i).Driver().Snapshot();
            const bool done = site.state == SiteState::Ready || site.state == SiteState::Stopped;
            if (done && !queued[static_cast<std::size_t>(i)] &&
                !(swapping && swapping->first == i)) {
                queue.push_back(i);
                queued[static_cast<std::size_t>(i)] = true;
            }
        }
        if (!swapping && !queue.empty()) {
            swapping =
                std::make_pair(queue.front(), now + std::chrono::milliseconds(options.swapMs));
            queue.pop_front();
        }
        if (swapping && now >= swapping->second) {
            const int site = swapping->first;
            swapping.reset();
            if (window->Tile(site).StartSite()) {
                queued[static_cast<std::size_t>(site)] = false;
            } else {
                queue.push_back(site);  // not ready after all: try again later
            }
        }
    });
    window->StartAll();  // every socket holds a chip at the start, as in the lockstep run
    for (int i = 0; i < count; ++i) {
        queued[static_cast<std::size_t>(i)] = false;
    }
    operatorTimer.start(kTimerMs);
    loop.exec();
    operatorTimer.stop();
    for (int i = 0; i < count; ++i) {
        figures.passed += static_cast<int>(window->Tile(i).Driver().Snapshot().passed);
    }
    window.reset();  // ends the sites
    std::sort(lateness.begin(), lateness.end());
    if (!lateness.empty()) {
        figures.p99LatenessMs = lateness[lateness.size() * 99 / 100];
        figures.worstLatenessMs = lateness.back();
    }
    return figures;
}

}  // namespace
}  // namespace koru

int main(int argc, char** argv) {
    using namespace koru;
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--seconds") {
            options.seconds = std::max(5, std::atoi(value.c_str()));
        } else if (name == "--swap-ms") {
            options.swapMs = std::max(0, std::atoi(value.c_str()));
        } else if (name == "--sites") {
            options.sites.clear();
            std::size_t begin = 0;
            while (begin < value.size()) {
                const std::size_t comma = std::min(value.find(',', begin), value.size());
                options.sites.push_back(std::atoi(value.substr(begin, comma - begin).c_str()));
                begin = comma + 1;
            }
        } else {
            std::fprintf(stderr, "usage: station [--seconds S] [--swap-ms MS] [--sites 4,8]\n");
            return 3;
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    char pattern[] = "/tmp/koru-bench-station-XXXXXX";
    const fs::path folder = mkdtemp(pattern);
    const fs::path code = folder / "code.hex";
    bench::WriteHexCode(code, kChipBytes);
    std::printf(
        "station: %d s per run, 8 KiB chips (program, verify) on paced lines, one operator "
        "taking %.1f s a chip\n",
        options.seconds, options.swapMs / 1000.0);
    std::printf("%5s  %14s  %14s  %7s  %12s  %12s\n", "sites", "lockstep /h", "independent /h",
                "ratio", "loop p99 ms", "loop worst ms");
    int status = 0;
    for (const int count : options.sites) {
        const int lockstep = RunLockstep(count, options, folder, code);
        const IndependentFigures independent = RunIndependent(count, options, folder, code);
        if (lockstep < 0 || independent.passed < 0) {
            status = 1;
            continue;
        }
        const double hour = 3600.0 / options.seconds;
        std::printf("%5d  %14.0f  %14.0f  %7.2f  %12.1f  %12.1f\n", count, lockstep * hour,
                    independent.passed * hour,
                    lockstep > 0 ? static_cast<double>(independent.passed) / lockstep : 0.0,
                    independent.p99LatenessMs, independent.worstLatenessMs);
        std::fflush(stdout);
    }
    std::error_code error;
    fs::remove_all(folder, error);
    return status;
}
