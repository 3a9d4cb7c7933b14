// Times the code-file loader and the HEX writer on a whole 1 MiB image against GNU objcopy doing
// the same conversion in the same run, and prints each ratio (ours / objcopy; at most 1.0 is the
// target), of wall time and of CPU time. objcopy's time includes starting its process; ours
// runs in this process. The save is timed a second time on a RAM disk (/dev/shm, where there
// is one), without the waits for the disk.
//   hex_io [repetitions]   (default 7; the median of each is compared)

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/services.h"
#include "core/shared_state.h"
#include "image/code_loader.h"
#include "image/hex_writer.h"
#include "image/program_memory.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Answers the name field and the file dialogs with one path and ignores everything else, as a
// window that repaints nothing would.
class QuietWindow final : public koru::QuietWindowServices {
  public:
    std::string path;
    std::string last;

    std::string ReadField(koru::TextField field) override {
        return field == koru::TextField::CodeFileName ? path : std::string();
    }
    void SetStatusLine(const std::string& text) override { last = text; }
    std::optional<std::string> ShowFileDialog(koru::FileDialogKind, const std::string&) override {
        return path;
    }
};

bool RunObjcopy(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    std::vector<std::string> owned = {"objcopy"};
    owned.insert(owned.end(), arguments.begin(), arguments.end());
    for (std::string& a : owned) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, "objcopy", nullptr, nullptr, argv.data(), environ) != 0) {
        return false;
    }
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Median wall time and median CPU time (user + system, of this process and of the children
// it waited for) in seconds of repetitions runs of work. The CPU time is what a loaded machine
// does not inflate; the wall time also holds waits for the disk.
struct Timing {
    double wall = 0;
    double cpu = 0;
};

double CpuSeconds() {
    rusage self{};
    rusage children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(self.ru_utime) + seconds(self.ru_stime) + seconds(children.ru_utime) +
           seconds(children.ru_stime);
}

// Nothing when a run fails.
std::optional<Timing> MedianSeconds(int repetitions, const std::function<bool()>& work) {
    std::vector<double> walls;
    std::vector<double> cpus;
    for (int i = 0; i < repetitions; ++i) {
        const auto start = Clock::now();
        const double cpuStart = CpuSeconds();
        if (!work()) {
            return std::nullopt;
        }
        cpus.push_back(CpuSeconds() - cpuStart);
        walls.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::sort(walls.begin(), walls.end());
    std::sort(cpus.begin(), cpus.end());
    return Timing{walls[walls.size() / 2], cpus[cpus.size() / 2]};
}

bool Report(const char* what, std::optional<Timing> ours, std::optional<Timing> theirs) {
    if (!ours || !theirs) {
        std::printf("%s: a run failed\n", what);
        return false;
    }
    std::printf("%s: ours %.2f ms, objcopy %.2f ms (CPU: ours %.2f ms, objcopy %.2f ms)\n", what,
                ours->wall * 1e3, theirs->wall * 1e3, ours->cpu * 1e3, theirs->cpu * 1e3);
    std::printf("%s ratio %.3f (CPU %.3f)\n", what, ours->wall / theirs->wall,
                theirs->cpu > 0 ? ours->cpu / theirs->cpu : 0.0);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    char pattern[] = "/tmp/koru-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path dir = pattern;
    const std::string dataBin = (dir / "data.bin").string();
    const std::string dataHex = (dir / "data.hex").string();

    // A whole image of varied bytes, and its HEX form in 16-byte records made by objcopy.
    std::vector<char> data(koru::kImageSize);
    std::uint32_t seed = 2024;
    for (char& c : data) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
    }
    std::ofstream(dataBin, std::ios::binary).write(data.data(), static_cast<long>(data.size()));
    bool ok = RunObjcopy({"-I", "binary", "-O", "ihex", dataBin, dataHex});
    if (!ok) {
        std::printf("objcopy is not available\n");
        std::filesystem::remove_all(dir);
        return 1;
    }

    QuietWindow window;
    koru::InstallWindowServices(&window);

    window.path = dataHex;
    const auto loadOurs = MedianSeconds(repetitions, [] {
        koru::LoadCodeFile();
        return koru::FailureFlag == 0 && koru::EndAddress == koru::kImageSize - 1;
    });
    const bool sameImage =
        std::equal(data.begin(), data.end(), koru::ProgramMemory.begin(),
                   [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; });
    const std::string objcopyBin = (dir / "objcopy.bin").string();
    const auto loadTheirs = MedianSeconds(repetitions, [&] {
        return RunObjcopy({"-I", "ihex", "-O", "binary", dataHex, objcopyBin});
    });
    ok = Report("load 1 MiB HEX", loadOurs, loadTheirs) && sameImage && ok;

    window.path = (dir / "ours.hex").string();
    koru::StartAddress = 0;
    koru::EndAddress = koru::kImageSize - 1;
    const auto saveOurs = MedianSeconds(repetitions, [] {
        koru::SaveImageAsHex();
        return koru::FailureFlag == 0;
    });
    const std::string objcopyHex = (dir / "objcopy.hex").string();
    const auto saveTheirs = MedianSeconds(repetitions, [&] {
        return RunObjcopy({"-I", "binary", "-O", "ihex", dataBin, objcopyHex});
    });
    ok = Report("save 1 MiB HEX", saveOurs, saveTheirs) && ok;
    // Our save flushes the file to disk before it puts it in place (whole or not at all, even
    // after a power cut); objcopy does not. The same conversion followed by that flush, as a
    // second reference.
    const auto saveTheirsFlushed = MedianSeconds(repetitions, [&] {
        if (!RunObjcopy({"-I", "binary", "-O", "ihex", dataBin, objcopyHex})) {
            return false;
        }
        const int fd = ::open(objcopyHex.c_str(), O_WRONLY | O_CLOEXEC);
        const bool flushed = fd >= 0 && ::fsync(fd) == 0;
        if (fd >= 0) {
            ::close(fd);
        }
        return flushed;
    });
    ok = Report("save 1 MiB HEX (objcopy + fsync)", saveOurs, saveTheirsFlushed) && ok;
    // Both saves again on a RAM disk, where a flush costs nothing: the formatting and the
    // writing alone, which the disk's waits above can hide.
    char ramPattern[] = "/dev/shm/koru-bench-XXXXXX";
    if (::mkdtemp(ramPattern) != nullptr) {
        const std::filesystem::path ramDir = ramPattern;
        window.path = (ramDir / "ours.hex").string();
        const auto saveOursRam = MedianSeconds(repetitions, [] {
            koru::SaveImageAsHex();
            return koru::FailureFlag == 0;
        });
        const std::string objcopyRamHex = (ramDir / "objcopy.hex").string();
        const auto saveTheirsRam = MedianSeconds(repetitions, [&] {
            return RunObjcopy({"-I", "binary", "-O", "ihex", dataBin, objcopyRamHex});
        });
        ok = Report("save 1 MiB HEX on a RAM disk", saveOursRam, saveTheirsRam) && ok;
        std::filesystem::remove_all(ramDir);
    }

    koru::InstallWindowServices(nullptr);
    std::filesystem::remove_all(dir);
    if (!sameImage) {
        std::printf("the loaded image differs from the data\n");
    }
    return ok ? 0 : 1;
}
