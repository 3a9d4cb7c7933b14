// serial_alloc: what the line database adds to each chip. Times reserving a serial value
// (with marking it spent) and storing a production record, on SQLite and on a PostgreSQL
// server started here (Unix socket), as p50 and p99 over many chips, against the time of one
// 4 KiB chip auto-programmed on the paced simulator in the same run.
//
//   serial_alloc [--count N]

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/auto_program_window.h"
#include "core/services.h"
#include "core/shared_state.h"
#include "device/simulator.h"
#include "image/numbers.h"
#include "image/program_memory.h"
#include "linedb/line_database.h"
#include "link/connection.h"
#include "operations/runner.h"
#include "platform/posix/termios_serial_port.h"
#include "support/postgres_server.h"

namespace koru {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kChipBytes = 4096;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// One 4 KiB chip (program and verify) on the simulator pacing a 19200-baud line; ms or < 0.
double ChipTimeMs() {
    device::DeviceTiming timing;
    timing.paceLine = true;
    device::Simulator sim;
    if (!sim.Start(timing)) {
        return -1;
    }
    sim.SetChip(device::ChipKind::Mtp, kChipBytes);
    TermiosSerialPort port;
    InstallPort(&port);
    bench::AutoProgramWindow window(false);  // program and verify
    InstallWindowServices(&window);
    for (std::uint32_t a = 0; a < kChipBytes; ++a) {
        ProgramMemory[a] = static_cast<std::uint8_t>(a * 37 + 11);
    }
    StartAddress = 0;
    EndAddress = kChipBytes - 1;
    window.checksum = Hex(SumImageRange(0, kChipBytes - 1), 4);
    ProbePort(sim.SlavePath());
    double ms = -1;
    if (ProgrammerFoundFlag != 0) {
        const auto started = Clock::now();
        StartOperation(kAutoProgram);
        while (LiveOperationWorkers() != 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ms = window.status == "自动编程已成功完成" ? Ms(Clock::now() - started) : -1;
    }
    InstallWindowServices(nullptr);
    port.Close();
    InstallPort(nullptr);
    return ms;
}

double Percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[index];
}

void Report(const char* what, const std::vector<double>& ms, double chipMs) {
    const double p50 = Percentile(ms, 0.5);
    const double p99 = Percentile(ms, 0.99);
    std::printf("  %-26s p50 %8.3f ms  p99 %8.3f ms  p99/chip %.4f%% (target at most 1%%)\n", what,
                p50, p99, 100.0 * p99 / chipMs);
}

bool Measure(const char* engine, const std::string& name, int count, double chipMs) {
    std::string error;
    auto database = LineDatabase::Open(name, error);
    SerialJob job;
    job.name = "BENCH";
    job.address = 0x0F00;
    job.size = 4;
    job.format = CounterFormat::Bcd;
    if (!database || !database->DefineJob(job, {}, error)) {
        std::fprintf(stderr, "%s: %s\n", engine, error.c_str());
        return false;
    }
    std::vector<double> reserve, sending, spend, store;
    for (int i = 0; i < count; ++i) {
        SerialReservation value;
        auto started = Clock::now();
        if (database->Reserve(job, {"bench", "COM1", ::getpid()}, value, error) !=
            ReserveResult::Reserved) {
            std::fprintf(stderr, "%s: %s\n", engine, error.c_str());
            return false;
        }
        reserve.push_back(Ms(Clock::now() - started));
        started = Clock::now();
        if (!database->MarkSending(job.name, value.index, value.holderId, error)) {
            std::fprintf(stderr, "%s: %s\n", engine, error.c_str());
            return false;
        }
        sending.push_back(Ms(Clock::now() - started));
        started = Clock::now();
        if (!database->Spend(job.name, value.index, value.holderId, "success", error)) {
            std::fprintf(stderr, "%s: %s\n", engine, error.c_str());
            return false;
        }
        spend.push_back(Ms(Clock::now() - started));
        const nlohmann::json record{{"id", "bench-" + std::to_string(i)},
                                    {"time", "2026-12-08T03:00:00.000+00:00"},
                                    {"host", "bench"},
                                    {"passed", true},
                                    {"serial", {{"job", job.name}, {"value", value.label}}}};
        started = Clock::now();
        if (!database->StoreRecord(record, error)) {
            std::fprintf(stderr, "%s: %s\n", engine, error.c_str());
            return false;
        }
        store.push_back(Ms(Clock::now() - started));
    }
    std::printf("%s, %d chips:\n", engine, count);
    Report("reserve a value", reserve, chipMs);
    Report("mark it sending", sending, chipMs);
    Report("mark it spent", spend, chipMs);
    Report("store a record", store, chipMs);
    return true;
}

}  // namespace
}  // namespace koru

int main(int argc, char** argv) {
    int count = 500;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--count" && i + 1 < argc) {
            count = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: serial_alloc [--count N]\n");
            return 3;
        }
    }
    const double chipMs = koru::ChipTimeMs();
    if (chipMs <= 0) {
        std::fprintf(stderr, "the reference chip could not be programmed\n");
        return 1;
    }
    std::printf("one 4 KiB chip (program, verify) on the paced line: %.1f ms\n", chipMs);
    char pattern[] = "/tmp/koru-bench-XXXXXX";
    const std::string folder = ::mkdtemp(pattern);
    bool ok = koru::Measure("SQLite (WAL)", folder + "/line.sqlite", count, chipMs);
    {
        koru::test::PostgresServer server(true);
        if (server.Start()) {
            ok = koru::Measure("PostgreSQL (Unix socket)", server.Uri(), count, chipMs) && ok;
        } else {
            std::printf("PostgreSQL skipped: %s\n", server.SkipReason().c_str());
        }
    }
    std::filesystem::remove_all(folder);
    return ok ? 0 : 1;
}
