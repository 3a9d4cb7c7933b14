#pragma once

// A child program whose standard output and error come back through one pipe (or, asked, its
// error through a second one): what gang programming runs once per port, and a serial job's
// program.

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace koru {

inline constexpr std::size_t kChildReadLimit = 64 * 1024;

struct ChildSetup {
    // The child and whatever it starts get a process group of their own, so Kill ends them
    // all (a script's own children too). They then no longer see the terminal's Ctrl-C.
    bool ownGroup = false;
    // Standard error comes back apart from standard output, through ReadErrors.
    bool errorsApart = false;
    // The child's environment is the extra entries only, nothing of this process's (which
    // may hold passwords).
    bool extraEnvironmentOnly = false;
    // Its standard input is a pipe this process writes through WriteInput (else /dev/null).
    bool inputPipe = false;
};

class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();  // waits for a child still running (it is never killed here)
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts args[0] (a path) with args and this process's environment plus the NAME=VALUE
    // entries of extraEnvironment; its standard input is /dev/null unless setup asks for a pipe.
    // False with the reason in error when it could not be started.
    bool Start(const std::vector<std::string>& args, std::string& error,
               const std::vector<std::string>& extraEnvironment = {}, ChildSetup setup = {});

    // Ends a child that overstayed its time (it is waited for by Wait); with its own group,
    // everything in that group.
    void Kill();
    // Asks it (its group, with its own) to end: SIGTERM, a chance to clean up before Kill.
    void Terminate();

    // Moves what the child has written so far into out (appending) without waiting, at most
    // kChildReadLimit bytes a call, so that a flood cannot hold the caller. False once its
    // output has ended and everything was read.
    bool ReadOutput(std::string& out);
    // The same for its standard error when it comes apart; false at once otherwise.
    bool ReadErrors(std::string& out);

    // Writes text whole to its standard input pipe (blocking while the pipe is full). False
    // when there is no pipe or the child has closed its end (never a signal to this process).
    bool WriteInput(std::string_view text);
    // Closes its standard input pipe: the child reads the end of its input.
    void CloseInput();

    // Waits for the child to end. Its exit status, or 128 + the signal that ended it.
    int Wait();
    // Its exit status as Wait gives it when it has ended; nothing, without waiting, while it
    // runs.
    std::optional<int> Ended();

    int OutputDescriptor() const { return output_; }
    int ErrorDescriptor() const { return errors_; }

  private:
    int pid_ = -1;
    int output_ = -1;
    int errors_ = -1;
    int input_ = -1;  // the write end of its standard input pipe
    int status_ = -1;
    int group_ = -1;  // the child's own process group, when it has one
    // Windows: the child's process handle, and the job object that holds it and everything it
    // starts when it has its own group (what Kill ends).
    void* process_ = nullptr;
    void* job_ = nullptr;
};

// Returns once one of the children has output (or error output) or has closed it, or after
// timeout.
void WaitForOutput(const std::vector<ChildProcess*>& children, std::chrono::milliseconds timeout);

// Empty where this build starts child programs; else the reason it cannot, for callers to
// refuse with before they try.
std::string ChildProcessesUnavailable();

// The path of the running program, to start another copy of it.
std::string OwnProgramPath();

}  // namespace koru
