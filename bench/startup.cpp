// startup: how fast the programs start, each against a reference measured in the same run.
//  - the window program: from starting its process to its first frame handed to the platform
//    (offscreen, or a display such as Xvfb's), and its resident memory once shown; the
//    reference is a bare Qt window built beside it. The first frame is seen through Qt's own
//    painting log (the first "Flushing" of a top-level region), switched on for both alike.
//  - koru-cli: from start to exit for --help and for a command refused before the port is
//    opened (erase for an OTP chip); the reference is /bin/true.
// Build it Release (the release preset) to measure what is shipped. Targets: window first frame
// at most 100 ms and at most 40 MiB resident; koru-cli at most 20 ms.
//
//   startup [--runs N]   (default 9 for the windows, 31 for koru-cli; medians compared)

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kFrameLimit = std::chrono::seconds(20);
constexpr auto kSettle = std::chrono::milliseconds(300);  // after the first frame, for memory
constexpr char kFirstFrameMark[] = "Flushing QRegion(";

struct Spawned {
    pid_t pid = -1;
    int err = -1;  // the read end of its standard error, or -1
};

// Starts argv with extra environment entries; its standard output goes to /dev/null and its
// standard error to a pipe when pipeErr, else to /dev/null.
Spawned Spawn(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv,
              bool pipeErr) {
    Spawned spawned;
    int ends[2] = {-1, -1};
    if (pipeErr && ::pipe2(ends, O_CLOEXEC) != 0) {
        return spawned;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (pipeErr) {
        posix_spawn_file_actions_adddup2(&actions, ends[1], 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    std::vector<std::string> owned(args);
    std::vector<char*> argv;
    for (std::string& a : owned) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> env(extraEnv);
    std::vector<char*> envp;
    for (std::string& e : env) {
        envp.push_back(e.data());
    }
    for (char** e = environ; *e != nullptr; ++e) {
        envp.push_back(*e);
    }
    envp.push_back(nullptr);
    if (::posix_spawn(&spawned.pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
        spawned.pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    if (pipeErr) {
        ::close(ends[1]);
        spawned.err = ends[0];
    }
    return spawned;
}

// Resident memory of pid in KiB, from /proc.
long ResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string word;
    while (status >> word) {
        if (word == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
    }
    return -1;
}

void Stop(pid_t pid) {
    ::kill(pid, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

struct WindowStart {
    double firstFrameMs = 0;
    double residentMiB = 0;
};

// Starts a window program and waits for its first frame; nothing when none came in time.
std::optional<WindowStart> StartWindow(const std::string& program,
                                       const std::vector<std::string>& env) {
    const auto started = Clock::now();
    const Spawned child = Spawn({program}, env, true);
    if (child.pid < 0) {
        return std::nullopt;
    }
    std::string seen;
    std::optional<WindowStart> result;
    while (Clock::now() - started < kFrameLimit) {
        pollfd readable{child.err, POLLIN, 0};
        if (::poll(&readable, 1, 100) <= 0) {
            continue;
        }
        char chunk[8192];
        const ssize_t got = ::read(child.err, chunk, sizeof chunk);
        if (got <= 0) {
            break;  // it ended without a frame
        }
        seen.append(chunk, static_cast<std::size_t>(got));
        if (seen.find(kFirstFrameMark) != std::string::npos) {
            result = WindowStart{
                std::chrono::duration<double, std::milli>(Clock::now() - started).count(), 0};
            break;
        }
        // Keep only the tail, where a mark cut between two reads would start.
        if (seen.size() > sizeof kFirstFrameMark) {
            seen.erase(0, seen.size() - sizeof kFirstFrameMark);
        }
    }
    if (result) {
        // Keep draining its log while it settles, so that it never blocks on a full pipe.
        const auto settleEnd = Clock::now() + kSettle;
        while (Clock::now() < settleEnd) {
            pollfd readable{child.err, POLLIN, 0};
            if (::poll(&readable, 1, 20) > 0) {
                char chunk[8192];
                if (::read(child.err, chunk, sizeof chunk) <= 0) {
                    break;
                }
            }
        }
        result->residentMiB = static_cast<double>(ResidentKiB(child.pid)) / 1024.0;
    }
    Stop(child.pid);
    ::close(child.err);
    return result;
}

// Start-to-exit of a command in milliseconds, and its exit status.
std::optional<std::pair<double, int>> TimeCommand(const std::vector<std::string>& args,
                                                  const std::vector<std::string>& env) {
    const auto started = Clock::now();
    const Spawned child = Spawn(args, env, false);
    if (child.pid < 0) {
        return std::nullopt;
    }
    int status = 0;
    if (::waitpid(child.pid, &status, 0) != child.pid || !WIFEXITED(status)) {
        return std::nullopt;
    }
    return std::pair{std::chrono::duration<double, std::milli>(Clock::now() - started).count(),
                     WEXITSTATUS(status)};
}

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string Beside(const std::string& self, const std::string& relative) {
    return (std::filesystem::path(self).parent_path() / relative).lexically_normal().string();
}

}  // namespace

int main(int argc, char** argv) {
    int windowRuns = 9;
    int cliRuns = 31;
    if (argc > 2 && std::string(argv[1]) == "--runs") {
        windowRuns = cliRuns = std::max(1, std::atoi(argv[2]));
    }
    const std::string self = std::filesystem::canonical("/proc/self/exe").string();
    const std::string koru = Beside(self, "../app/koru");
    const std::string bare = Beside(self, "bare_window");
    const std::string cli = Beside(self, "../cli/koru-cli");

    char pattern[] = "/tmp/koru-startup-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string folder = pattern;
    // Fresh settings (no saved port, so no probe) and no serial device reachable by name.
    const std::vector<std::string> env{"XDG_CONFIG_HOME=" + folder,
                                       "XDG_STATE_HOME=" + folder,
                                       "KORU_COM1=/dev/null",
                                       "KORU_COM2=/dev/null",
                                       "KORU_COM3=/dev/null",
                                       "KORU_COM4=/dev/null",
                                       "QT_LOGGING_RULES=qt.widgets.painting=true"};
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    std::printf("platform %s%s\n", platform != nullptr ? platform : "default",
                std::getenv("DISPLAY") != nullptr
                    ? (std::string(", DISPLAY ") + std::getenv("DISPLAY")).c_str()
                    : "");

    bool ok = true;
    std::vector<double> koruFrame, bareFrame, koruMemory, bareMemory;
    for (int i = 0; i < windowRuns; ++i) {
        const auto ours = StartWindow(koru, env);
        const auto theirs = StartWindow(bare, env);
        if (!ours || !theirs) {
            std::printf("a window showed no frame within %lld s\n",
                        static_cast<long long>(kFrameLimit.count()));
            ok = false;
            break;
        }
        koruFrame.push_back(ours->firstFrameMs);
        koruMemory.push_back(ours->residentMiB);
        bareFrame.push_back(theirs->firstFrameMs);
        bareMemory.push_back(theirs->residentMiB);
    }
    if (ok) {
        std::printf("window first frame: koru %.1f ms, bare Qt window %.1f ms (medians of %d)\n",
                    Median(koruFrame), Median(bareFrame), windowRuns);
        std::printf("window resident after showing: koru %.1f MiB, bare Qt window %.1f MiB\n",
                    Median(koruMemory), Median(bareMemory));
    }

    const struct {
        const char* what;
        std::vector<std::string> args;
        int status;
    } commands[] = {
        {"koru-cli --help", {cli, "--help"}, 0},
        {"koru-cli refused (--otp erase)", {cli, "--port", "COM1", "--otp", "erase"}, 3},
        {"/bin/true (reference)", {"/bin/true"}, 0},
    };
    std::vector<std::vector<double>> times(std::size(commands));
    for (int i = 0; i < cliRuns && ok; ++i) {
        for (std::size_t c = 0; c < std::size(commands); ++c) {
            const auto timed = TimeCommand(commands[c].args, env);
            if (!timed || timed->second != commands[c].status) {
                std::printf("%s: did not exit with %d\n", commands[c].what, commands[c].status);
                ok = false;
                break;
            }
            times[c].push_back(timed->first);
        }
    }
    if (ok) {
        for (std::size_t c = 0; c < std::size(commands); ++c) {
            std::printf("%-32s start to exit %.2f ms (median of %d)\n", commands[c].what,
                        Median(times[c]), cliRuns);
        }
    }
    std::filesystem::remove_all(folder);
    return ok ? 0 : 1;
}
