// koru-sim: a simulated KORU programmer on a pseudo-terminal, for running the program without
// the device. It prints the path to put in KORU_COM1, logs every command block it takes and
// serves until SIGINT or SIGTERM.
//
//   koru-sim [--fast] [--otp | --mtp] [--size BYTES] [--fill HEX] [--bin FILE] [--own-terminal]
//   koru-sim --help

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "device/simulator.h"
#include "image/numbers.h"

namespace {

using koru::device::ChipKind;

constexpr std::uint32_t kLargestChip = 0x100000;  // the program's image holds no more

struct Options {
    bool fast = false;
    ChipKind kind = ChipKind::Mtp;
    std::uint32_t size = koru::device::kDefaultChipSize;
    std::uint8_t fill = koru::device::kChipBlank;
    std::string binFile;
    bool ownTerminal = false;
    bool help = false;
};

void PrintUsage(std::ostream& out) {
    out << "usage: koru-sim [--fast] [--otp | --mtp] [--size BYTES] [--fill HEX] [--bin FILE]"
           " [--own-terminal]\n"
           "  --fast       no 19200-baud pacing of the line\n"
           "  --otp/--mtp  kind of the chip in the socket (default MTP)\n"
           "  --size       chip size in bytes, decimal or 0x-prefixed hexadecimal"
           " (default 0x10000)\n"
           "  --fill       value of every chip byte at start, hexadecimal (default FF)\n"
           "  --bin        raw image loaded into the chip from address 0\n"
           "  --own-terminal  make the pseudo-terminal this process's controlling terminal (in a\n"
           "               session of its own), so that no program opening it later takes it\n"
           "               and gets a hang-up when the simulator ends\n"
           "  --help       this text\n";
}

// A size in decimal or with a 0x prefix in hexadecimal; 0 when it is not a number.
std::uint32_t ParseSize(std::string_view text) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    if (hex) {
        text.remove_prefix(2);
    }
    const unsigned radix = hex ? 16 : 10;
    const std::uint32_t value = koru::ParseNumber(text, radix);
    return value == 0xFFFFFFFF ? 0 : value;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--fast") {
            options.fast = true;
        } else if (argument == "--otp") {
            options.kind = ChipKind::Otp;
        } else if (argument == "--mtp") {
            options.kind = ChipKind::Mtp;
        } else if (argument == "--size" && hasValue) {
            options.size = ParseSize(argv[++i]);
            if (options.size == 0 || options.size > kLargestChip) {
                std::cerr << "koru-sim: the size must be 1 to " << kLargestChip << " bytes\n";
                return false;
            }
        } else if (argument == "--fill" && hasValue) {
            const std::string_view text = argv[++i];
            const std::uint32_t value = koru::ParseNumber(text, 16);
            if (text.empty() || text.size() > 2 || value > 0xFF) {
                std::cerr << "koru-sim: --fill takes one hexadecimal byte\n";
                return false;
            }
            options.fill = static_cast<std::uint8_t>(value);
        } else if (argument == "--own-terminal") {
            options.ownTerminal = true;
        } else if (argument == "--bin" && hasValue) {
            options.binFile = argv[++i];
        } else {
            PrintUsage(std::cerr);
            return false;
        }
    }
    return true;
}

bool LoadBin(const std::string& path, std::uint32_t chipSize, std::vector<std::uint8_t>& bytes) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::cerr << "koru-sim: cannot open " << path << "\n";
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (bytes.size() > chipSize) {
        std::cerr << "koru-sim: " << path << " holds " << bytes.size() << " bytes; only the first "
                  << chipSize << " fit the chip\n";
        bytes.resize(chipSize);
    }
    return true;
}

// Makes the terminal at path the controlling terminal of a session this process leads (a new
// one unless it leads one already, as under setsid(1)).
bool TakeAsControllingTerminal(const std::string& path, int& fd) {
    if (::getsid(0) != ::getpid() && ::setsid() < 0) {
        return false;
    }
    // The terminal's controlling process gets SIGHUP when the master closes, which Stop does.
    ::signal(SIGHUP, SIG_IGN);
    fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    return fd >= 0 && ::ioctl(fd, TIOCSCTTY, 0) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        return 2;
    }
    if (options.help) {
        PrintUsage(std::cout);
        return 0;
    }
    std::vector<std::uint8_t> image;
    if (!options.binFile.empty() && !LoadBin(options.binFile, options.size, image)) {
        return 1;
    }

    // The serving thread inherits this mask, so only sigwait below sees the two signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    koru::device::Simulator simulator;
    simulator.SetBlockLog([](const std::string& line) { std::cout << line << std::endl; });
    koru::device::DeviceTiming timing;
    timing.paceLine = !options.fast;
    if (!simulator.Start(timing)) {
        std::cerr << "koru-sim: cannot create a pseudo-terminal\n";
        return 1;
    }
    // Kept open to the end: the session's hold on its terminal.
    int ownTerminal = -1;
    if (options.ownTerminal && !TakeAsControllingTerminal(simulator.SlavePath(), ownTerminal)) {
        std::cerr << "koru-sim: cannot make " << simulator.SlavePath()
                  << " the controlling terminal\n";
        simulator.Stop();
        return 1;
    }
    simulator.SetChip(options.kind, options.size, options.fill);
    if (!image.empty()) {
        simulator.WriteChip(0, image);
    }

    std::cout << "KORU programmer simulator on " << simulator.SlavePath() << "\n"
              << "  export KORU_COM1=" << simulator.SlavePath() << "\n"
              << "  chip: " << (options.kind == ChipKind::Otp ? "OTP" : "MTP") << ", "
              << options.size << " bytes"
              << (options.fast ? ", line not paced" : ", paced like a 19200-baud line")
              << "\nServing until interrupted (Ctrl+C).\n"
              << std::flush;

    int signal = 0;
    sigwait(&stopSignals, &signal);
    simulator.Stop();
    if (ownTerminal >= 0) {
        ::close(ownTerminal);
    }
    std::cout << "koru-sim: stopped\n";
    return 0;
}
