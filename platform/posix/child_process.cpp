#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
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
namespace {

// Moves what is waiting in the pipe *descriptor into out; closes it at its end (and sets it
// to -1). False once it is closed.
bool ReadPipe(int& descriptor, std::string& out) {
    if (descriptor < 0) {
        return false;
    }
    std::array<char, 4096> chunk{};
    for (std::size_t taken = 0;;) {
        if (taken >= kChildReadLimit) {
            return true;  // more may wait: the caller decides before reading on
        }
        const ssize_t got = ::read(descriptor, chunk.data(), chunk.size());
        if (got > 0) {
            out.append(chunk.data(), static_cast<std::size_t>(got));
            taken += static_cast<std::size_t>(got);
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return true;
        }
        ::close(descriptor);  // end of output, or an error that ends it
        descriptor = -1;
        return false;
    }
}

int StatusOf(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

}  // namespace

ChildProcess::~ChildProcess() {
    CloseInput();  // a child waiting for input sees its end instead of waiting on
    Wait();
    for (const int descriptor : {output_, errors_}) {
        if (descriptor >= 0) {
            ::close(descriptor);
        }
    }
}

void ChildProcess::Kill() {
    // The group outlives its first process while something it started still runs.
    if (group_ > 0) {
        ::kill(-group_, SIGKILL);
    } else if (pid_ >= 0) {
        ::kill(pid_, SIGKILL);
    }
}

void ChildProcess::Terminate() {
    if (group_ > 0) {
        ::kill(-group_, SIGTERM);
    } else if (pid_ >= 0) {
        ::kill(pid_, SIGTERM);
    }
}

bool ChildProcess::Start(const std::vector<std::string>& args, std::string& error,
                         const std::vector<std::string>& extraEnvironment, ChildSetup setup) {
    if (pid_ >= 0 || args.empty()) {
        error = "nothing to start";
        return false;
    }
    std::array<int, 2> pipeEnds{-1, -1};
    std::array<int, 2> errorEnds{-1, -1};
    std::array<int, 2> inputEnds{-1, -1};
    const auto closeAll = [&] {
        for (const int end :
             {pipeEnds[0], pipeEnds[1], errorEnds[0], errorEnds[1], inputEnds[0], inputEnds[1]}) {
            if (end >= 0) {
                ::close(end);
            }
        }
    };
    if (::pipe2(pipeEnds.data(), O_CLOEXEC) != 0 ||
        (setup.errorsApart && ::pipe2(errorEnds.data(), O_CLOEXEC) != 0) ||
        (setup.inputPipe && ::pipe2(inputEnds.data(), O_CLOEXEC) != 0)) {
        error = std::strerror(errno);
        closeAll();
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (setup.inputPipe) {
        posix_spawn_file_actions_adddup2(&actions, inputEnds[0], 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, setup.errorsApart ? errorEnds[1] : pipeEnds[1], 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (setup.ownGroup) {
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
    }
    std::vector<std::string> copies(args);
    std::vector<char*> argv;
    for (std::string& arg : copies) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> entries(extraEnvironment);
    std::vector<char*> envp;
    for (char** entry = environ; !setup.extraEnvironmentOnly && *entry != nullptr; ++entry) {
        envp.push_back(*entry);
    }
    for (std::string& entry : entries) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int result =
        ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) {
        closeAll();
        error = args[0] + ": " + std::strerror(result);
        return false;
    }
    for (int* end : {&pipeEnds[1], &errorEnds[1], &inputEnds[0]}) {
        if (*end >= 0) {
            ::close(*end);  // the child's ends
        }
    }
    for (const int end : {pipeEnds[0], errorEnds[0]}) {
        if (end >= 0) {
            ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
        }
    }
    pid_ = pid;
    output_ = pipeEnds[0];
    errors_ = errorEnds[0];
    input_ = inputEnds[1];
    group_ = setup.ownGroup ? pid : -1;
    return true;
}

bool ChildProcess::ReadOutput(std::string& out) {
    return ReadPipe(output_, out);
}

bool ChildProcess::ReadErrors(std::string& out) {
    return ReadPipe(errors_, out);
}

bool ChildProcess::WriteInput(std::string_view text) {
    if (input_ < 0) {
        return false;
    }
    // A child that has gone would raise SIGPIPE: it is held back on this thread for the write
    // and taken away again if it came, so the caller learns of it as a false.
    sigset_t pipeSignal;
    sigset_t before;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    sigset_t pendingBefore;
    sigpending(&pendingBefore);
    const bool alreadyPending = sigismember(&pendingBefore, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &before);
    bool written = true;
    while (!text.empty()) {
        const ssize_t put = ::write(input_, text.data(), text.size());
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            written = false;
            break;
        }
        text.remove_prefix(static_cast<std::size_t>(put));
    }
    if (!written && !alreadyPending) {
        const timespec none{0, 0};
        while (sigtimedwait(&pipeSignal, nullptr, &none) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return written;
}

void ChildProcess::CloseInput() {
    if (input_ >= 0) {
        ::close(input_);
        input_ = -1;
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
    status_ = done < 0 ? 128 : StatusOf(status);
    return status_;
}

std::optional<int> ChildProcess::Ended() {
    if (pid_ < 0) {
        return status_;
    }
    int status = 0;
    pid_t done = -1;
    do {
        done = ::waitpid(pid_, &status, WNOHANG);
    } while (done < 0 && errno == EINTR);
    if (done == 0) {
        return std::nullopt;
    }
    pid_ = -1;
    status_ = done < 0 ? 128 : StatusOf(status);
    return status_;
}

void WaitForOutput(const std::vector<ChildProcess*>& children, std::chrono::milliseconds timeout) {
    std::vector<pollfd> watched;
    for (const ChildProcess* child : children) {
        for (const int descriptor : {child->OutputDescriptor(), child->ErrorDescriptor()}) {
            if (descriptor >= 0) {
                watched.push_back({descriptor, POLLIN, 0});
            }
        }
    }
    if (watched.empty()) {
        return;
    }
    ::poll(watched.data(), watched.size(), static_cast<int>(timeout.count()));
}

std::string ChildProcessesUnavailable() {
    return {};
}

std::string OwnProgramPath() {
    std::error_code error;
    const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

}  // namespace koru
