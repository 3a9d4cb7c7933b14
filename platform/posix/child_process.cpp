#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>

extern char** environ;

namespace koru {

ChildProcess::~ChildProcess() {
    Wait();
    if (output_ >= 0) {
        ::close(output_);
    }
}

void ChildProcess::Kill() {
    if (pid_ >= 0) {
        ::kill(pid_, SIGKILL);
    }
}

bool ChildProcess::Start(const std::vector<std::string>& args, std::string& error,
                         const std::vector<std::string>& extraEnvironment) {
    if (pid_ >= 0 || args.empty()) {
        error = "nothing to start";
        return false;
    }
    std::array<int, 2> pipeEnds{-1, -1};
    if (::pipe2(pipeEnds.data(), O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
    std::vector<std::string> copies(args);
    std::vector<char*> argv;
    for (std::string& arg : copies) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> entries(extraEnvironment);
    std::vector<char*> envp;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        envp.push_back(*entry);
    }
    for (std::string& entry : entries) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int result = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    if (result != 0) {
        ::close(pipeEnds[0]);
        error = args[0] + ": " + std::strerror(result);
        return false;
    }
    ::fcntl(pipeEnds[0], F_SETFL, ::fcntl(pipeEnds[0], F_GETFL) | O_NONBLOCK);
    pid_ = pid;
    output_ = pipeEnds[0];
    return true;
}

bool ChildProcess::ReadOutput(std::string& out) {
    if (output_ < 0) {
        return false;
    }
    std::array<char, 4096> chunk{};
    for (;;) {
        const ssize_t got = ::read(output_, chunk.data(), chunk.size());
        if (got > 0) {
            out.append(chunk.data(), static_cast<std::size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return true;
        }
        ::close(output_);  // end of output, or an error that ends it
        output_ = -1;
        return false;
    }
}

int ChildProcess::Wait() {
    if (pid_ < 0) {
        return status_;
    }
    int status = 0;
    pid_t done = -1;
    do {
        done = ::waitpid(pid_, &status, 0);
    } while (done < 0 && errno == EINTR);
    pid_ = -1;
    if (done < 0) {
        status_ = 128;
    } else if (WIFEXITED(status)) {
        status_ = WEXITSTATUS(status);
    } else {
        status_ = 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    }
    return status_;
}

void WaitForOutput(const std::vector<ChildProcess*>& children, std::chrono::milliseconds timeout) {
    std::vector<pollfd> watched;
    for (const ChildProcess* child : children) {
        if (child->OutputDescriptor() >= 0) {
            watched.push_back({child->OutputDescriptor(), POLLIN, 0});
        }
    }
    if (watched.empty()) {
        return;
    }
    ::poll(watched.data(), watched.size(), static_cast<int>(timeout.count()));
}

std::string OwnProgramPath() {
    std::error_code error;
    const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

}  // namespace koru
