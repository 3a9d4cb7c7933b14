// gang: how gang programming scales with the number of ports on this machine. For N = 1, 4, 8
// and 16 it starts N simulated programmers pacing a 19200-baud line and one koru-cli gang run
// over all of them (program and verify), then prints the slowest port's time against the run
// with one port, and the CPU time the gang (koru-cli and its per-port processes) spent per chip.
// The simulators run in this process; their CPU time is the devices', not the gang's. Each row
// ends with the chips that passed and the machine's one-minute load average after the run.
//
//   gang [--size BYTES] [--ports 1,4,8,16]

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "bench/support/hex_code.h"
#include "device/simulator.h"
#include "platform/child_process.h"

namespace koru {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Figures {
    int ports = 0;
    int exitStatus = -1;
    int records = 0;
    double slowestChipMs = 0;  // the longest auto-programming run, as its record gives it
    double medianChipMs = 0;
    double fastestChipMs = 0;
    double wallMs = 0;  // the whole gang run: processes, probes, loads and chips
    double cpuMsPerChip = 0;
};

double CpuMs(const rusage& usage) {
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

Figures RunGang(int ports, const fs::path& folder, const fs::path& code, std::size_t size) {
    Figures figures;
    figures.ports = ports;
    device::DeviceTiming timing;
    timing.paceLine = true;
    std::vector<std::unique_ptr<device::Simulator>> sims;
    std::string portList;
    for (int i = 0; i < ports; ++i) {
        auto sim = std::make_unique<device::Simulator>();
        if (!sim->Start(timing, true)) {
            std::fprintf(stderr, "gang: no pseudo-terminal for simulator %d\n", i);
            return figures;
        }
        sim->SetChip(device::ChipKind::Mtp,
                     static_cast<std::uint32_t>(std::max<std::size_t>(size, 0x2000)));
        portList += (portList.empty() ? "" : ",") + sim->SlavePath();
        sims.push_back(std::move(sim));
    }
    const fs::path log = folder / ("gang-" + std::to_string(ports) + ".jsonl");
    ChildProcess gang;
    std::string error;
    rusage before{};
    getrusage(RUSAGE_CHILDREN, &before);
    const auto started = Clock::now();
    if (!gang.Start({KORU_CLI_PATH, "--port", portList, "--mtp", "--verify", "--log", log.string(),
                     "program", code.string()},
                    error)) {
        std::fprintf(stderr, "gang: %s\n", error.c_str());
        return figures;
    }
    std::string output;
    while (gang.ReadOutput(output)) {
        WaitForOutput({&gang}, std::chrono::milliseconds(200));
    }
    figures.exitStatus = gang.Wait();
    figures.wallMs = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
    rusage after{};
    getrusage(RUSAGE_CHILDREN, &after);
    std::ifstream records(log);
    std::string line;
    std::vector<double> chips;
    while (std::getline(records, line)) {
        const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
        if (record.is_discarded() || !record.value("passed", false)) {
            continue;
        }
        ++figures.records;
        chips.push_back(record.value("duration_ms", 0.0));
    }
    std::sort(chips.begin(), chips.end());
    if (!chips.empty()) {
        figures.fastestChipMs = chips.front();
        figures.medianChipMs = chips[chips.size() / 2];
        figures.slowestChipMs = chips.back();
    }
    figures.cpuMsPerChip = (CpuMs(after) - CpuMs(before)) / ports;
    if (figures.exitStatus != 0 || figures.records != ports) {
        std::fprintf(stderr, "gang: N = %d exit %d, %d passed records\n%s", ports,
                     figures.exitStatus, figures.records, output.c_str());
    }
    return figures;
}

// The machine's load average over the last minute, for reading the figures beside it.
std::string LoadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string oneMinute;
    file >> oneMinute;
    return oneMinute.empty() ? "?" : oneMinute;
}

std::vector<int> ParsePorts(const std::string& text) {
    std::vector<int> counts;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        const int n = std::atoi(item.c_str());
        if (n > 0) {
            counts.push_back(n);
        }
    }
    return counts;
}

}  // namespace
}  // namespace koru

int main(int argc, char** argv) {
    using namespace koru;
    std::size_t size = 0x1000;
    std::vector<int> counts{1, 4, 8, 16};
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--size") {
            size = std::strtoul(argv[i + 1], nullptr, 0);
        } else if (option == "--ports") {
            counts = ParsePorts(argv[i + 1]);
        }
    }
    if (size == 0 || size > 0x10000 || counts.empty()) {
        std::fprintf(stderr, "usage: gang [--size BYTES (1..65536)] [--ports 1,4,8,16]\n");
        return 2;
    }
    char pattern[] = "/tmp/koru-gang-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        return 1;
    }
    const fs::path folder = pattern;
    const fs::path code = folder / "code.hex";
    bench::WriteHexCode(code, size);

    std::printf("gang programming, %zu bytes per chip (program + verify), paced 19200-baud lines\n",
                size);
    std::printf("%5s %12s %14s %10s %12s %14s %22s %8s %6s\n", "ports", "slowest chip",
                "ratio to N=1", "whole run", "ratio to N=1", "CPU per chip", "chips fastest/median",
                "passed", "load");
    double singleChip = 0, singleWall = 0;
    int status = 0;
    for (const int n : counts) {
        const Figures figures = RunGang(n, folder, code, size);
        if (singleChip == 0) {
            singleChip = figures.slowestChipMs;
            singleWall = figures.wallMs;
        }
        std::printf("%5d %9.0f ms %14.3f %7.0f ms %12.3f %11.1f ms %12.0f/%.0f ms %5d/%-2d %6s\n",
                    n, figures.slowestChipMs,
                    singleChip > 0 ? figures.slowestChipMs / singleChip : 0.0, figures.wallMs,
                    singleWall > 0 ? figures.wallMs / singleWall : 0.0, figures.cpuMsPerChip,
                    figures.fastestChipMs, figures.medianChipMs, figures.records, n,
                    LoadAverage().c_str());
        std::fflush(stdout);
        if (figures.exitStatus != 0 || figures.records != n) {
            status = 1;
        }
    }
    fs::remove_all(folder);
    return status;
}
