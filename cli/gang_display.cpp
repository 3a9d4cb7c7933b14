#include "cli/gang_display.h"

#include <algorithm>

#include "report/html_text.h"

namespace koru::cli {
namespace {

constexpr std::size_t kLiveStatusBytes = 90;  // keeps a live line on one terminal row
constexpr std::size_t kTableStatusBytes = 120;

std::string Seconds(std::chrono::milliseconds duration) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(duration.count()) / 1000.0);
    return text;
}

std::string PadRight(std::string text, std::size_t width) {
    if (text.size() < width) {
        text.append(width - text.size(), ' ');
    }
    return text;
}

}  // namespace

std::string ResultName(int exitStatus) {
    switch (exitStatus) {
        case 0:
            return "passed";
        case 1:
            return "chip failed";
        case 2:
            return "no programmer or link lost";
        case 3:
            return "bad usage or file";
        default:
            break;
    }
    if (exitStatus > 128) {
        return "ended by signal " + std::to_string(exitStatus - 128);
    }
    return "exit " + std::to_string(exitStatus);
}

std::string LastLine(const std::string& output) {
    std::size_t end = output.size();
    while (end > 0) {
        const std::size_t begin = output.find_last_of("\r\n", end - 1);
        const std::size_t start = begin == std::string::npos ? 0 : begin + 1;
        if (end > start) {
            return output.substr(start, end - start);
        }
        if (begin == std::string::npos) {
            break;
        }
        end = begin;
    }
    return {};
}

std::string RoundTable(const std::vector<PortResult>& results) {
    std::size_t portWidth = 4;
    for (const PortResult& result : results) {
        portWidth = std::max(portWidth, result.port.size());
    }
    constexpr std::size_t kResultWidth = 28;
    constexpr std::size_t kTimeWidth = 10;
    std::string table = PadRight("port", portWidth + 2) + PadRight("result", kResultWidth) +
                        PadRight("time", kTimeWidth) + "last status\n";
    for (const PortResult& result : results) {
        table += PadRight(result.port, portWidth + 2) +
                 PadRight(ResultName(result.exitStatus), kResultWidth) +
                 PadRight(Seconds(result.duration), kTimeWidth) +
                 Clip(result.lastStatus, kTableStatusBytes) + "\n";
    }
    return table;
}

GangDisplay::GangDisplay(std::vector<std::string> ports, std::FILE* out, bool live)
    : ports_(std::move(ports)), lines_(ports_.size()), out_(out), live_(live) {}

void GangDisplay::Status(std::size_t port, const std::string& status) {
    if (status != lines_[port]) {
        lines_[port] = status;
        changed_ = true;
    }
}

void GangDisplay::Finished(const PortResult& result, std::size_t port) {
    lines_[port] = ResultName(result.exitStatus) + ": " + result.lastStatus;
    changed_ = true;
    if (!live_) {
        std::fprintf(out_, "%s: %s in %s: %s\n", result.port.c_str(),
                     ResultName(result.exitStatus).c_str(), Seconds(result.duration).c_str(),
                     result.lastStatus.c_str());
        std::fflush(out_);
    }
}

void GangDisplay::Draw() {
    if (!live_ || !changed_) {
        return;
    }
    if (drawn_) {
        std::fprintf(out_, "\x1b[%zuA", ports_.size());  // back to the first port's line
    }
    for (std::size_t i = 0; i < ports_.size(); ++i) {
        std::fprintf(out_, "\r\x1b[K%s  %s\n", ports_[i].c_str(),
                     Clip(lines_[i], kLiveStatusBytes).c_str());
    }
    std::fflush(out_);
    drawn_ = true;
    changed_ = false;
}

}  // namespace koru::cli
