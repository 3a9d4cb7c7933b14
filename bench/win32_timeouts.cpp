// win32_timeouts: how closely the native Win32 port keeps the link's read time-outs: the
// give-up time of a read on a silent line under each profile, against the profile's own total
// (constant + multiplier * count), which is the reference. Under Wine, scripts/test maps the
// silent COM port to a pseudo-terminal and prints these figures.
//
//   win32_timeouts COMn [--reads N]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "link/transport.h"
#include "platform/thread_priority.h"
#include "platform/win32/win32_serial_port.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Profile {
    const char* name;
    std::uint32_t ms;  // every field
    std::size_t count;
};

double Percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[index];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: win32_timeouts COMn [--reads N]\n");
        return 2;
    }
    const std::string com = argv[1];
    int reads = 200;
    if (argc == 4 && std::string_view(argv[2]) == "--reads") {
        reads = std::max(1, std::atoi(argv[3]));
    }
    koru::Win32SerialPort port;
    if (!port.Open(com)) {
        std::fprintf(stderr, "win32_timeouts: cannot open %s\n", com.c_str());
        return 1;
    }
    port.ConfigureLine();
    port.Purge();
    koru::RaiseToTimeCritical();  // as the worker that reads the programmer's replies

    const Profile profiles[] = {
        {"normal, 1 byte", koru::kNormalTimeoutMs, 1},
        {"listen, 1 byte", koru::kListenTimeoutMs, 1},
        {"normal, 32 bytes", koru::kNormalTimeoutMs, 32},
    };
    std::printf("%-18s %9s %8s %8s %8s %9s\n", "profile", "total ms", "p50 ms", "p99 ms", "max ms",
                "p50/total");
    for (const Profile& profile : profiles) {
        koru::PortTimeouts timeouts;
        timeouts.readInterval = timeouts.readConstant = timeouts.readMultiplier = profile.ms;
        timeouts.writeConstant = timeouts.writeMultiplier = profile.ms;
        port.SetTimeouts(timeouts);
        const double total = profile.ms + profile.ms * static_cast<double>(profile.count);
        // A long total takes a third of a second per read: fewer of them.
        const int rounds = total > 100 ? std::max(1, reads / 10) : reads;
        std::vector<std::uint8_t> buffer(profile.count);
        std::vector<double> took;
        for (int i = 0; i < rounds; ++i) {
            const auto start = Clock::now();
            if (port.Read(buffer.data(), buffer.size()) != 0) {
                std::fprintf(stderr, "win32_timeouts: %s is not silent\n", com.c_str());
                return 1;
            }
            took.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        const double p50 = Percentile(took, 0.5);
        std::printf("%-18s %9.1f %8.2f %8.2f %8.2f %9.3f\n", profile.name, total, p50,
                    Percentile(took, 0.99), *std::max_element(took.begin(), took.end()),
                    p50 / total);
    }
    return 0;
}
