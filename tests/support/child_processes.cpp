#include "tests/support/child_processes.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>

namespace koru::test {
namespace {

namespace fs = std::filesystem;

std::string FileText(const fs::path& path) {
    std::ifstream file(path);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// The parent named in /proc/PID/stat, after the command name in parentheses (which may itself
// hold spaces and parentheses); -1 when it cannot be read.
pid_t ParentOf(const fs::path& dir) {
    const std::string text = FileText(dir / "stat");
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream rest(text.substr(close + 2));
    char state = 0;
    pid_t parent = -1;
    rest >> state >> parent;
    return parent;
}

}  // namespace

std::vector<pid_t> ChildProcessesForPort(const std::string& port, bool grandchildren) {
    const std::string argument = std::string("--port") + '\0' + port + '\0';
    std::vector<std::pair<pid_t, pid_t>> all;  // pid, parent
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        if (FileText(entry.path() / "cmdline").find(argument) != std::string::npos) {
            all.emplace_back(std::stoi(name), ParentOf(entry.path()));
        }
    }
    std::vector<pid_t> found;
    for (const auto& [pid, parent] : all) {
        if (parent != getpid()) {
            continue;
        }
        found.push_back(pid);
        for (const auto& [inner, innerParent] : all) {
            if (grandchildren && innerParent == pid) {
                found.push_back(inner);
            }
        }
    }
    return found;
}

}  // namespace koru::test
