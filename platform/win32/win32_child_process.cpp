// Child processes are not built for Windows: starting one says so, the gang run reports it for
// every port instead of programming, and a command serial job is refused before it tries.

#include <windows.h>

#include <thread>

#include "platform/child_process.h"

namespace koru {

ChildProcess::~ChildProcess() = default;

bool ChildProcess::Start(const std::vector<std::string>&, std::string& error,
                         const std::vector<std::string>&, ChildSetup) {
    error = "gang programming is not available on Windows; program one port at a time";
    return false;
}

void ChildProcess::Kill() {}

void ChildProcess::Terminate() {}

bool ChildProcess::ReadOutput(std::string&) {
    return false;
}

bool ChildProcess::ReadErrors(std::string&) {
    return false;
}

int ChildProcess::Wait() {
    return status_;
}

std::optional<int> ChildProcess::Ended() {
    return status_;
}

void WaitForOutput(const std::vector<ChildProcess*>&, std::chrono::milliseconds timeout) {
    std::this_thread::sleep_for(timeout);
}

std::string ChildProcessesUnavailable() {
    return "this Windows build cannot start other programs";
}

std::string OwnProgramPath() {
    char path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
    return length == 0 || length == sizeof path ? std::string() : std::string(path, length);
}

}  // namespace koru
