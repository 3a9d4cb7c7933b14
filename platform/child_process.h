#pragma once

// A child program whose standard output and error come back through one pipe: what gang
// programming runs once per port.

#include <chrono>
#include <string>
#include <vector>

namespace koru {

class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();  // waits for a child still running (it is never killed here)
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts args[0] (a path) with args and this process's environment plus the NAME=VALUE
    // entries of extraEnvironment; its standard input is /dev/null. False with the reason in
    // error when it could not be started.
    bool Start(const std::vector<std::string>& args, std::string& error,
               const std::vector<std::string>& extraEnvironment = {});

    // Ends a child that overstayed its time (it is waited for by Wait).
    void Kill();

    // Moves what the child has written so far into out (appending) without waiting. False once
    // its output has ended and everything was read.
    bool ReadOutput(std::string& out);

    // Waits for the child to end. Its exit status, or 128 + the signal that ended it.
    int Wait();

    int OutputDescriptor() const { return output_; }

  private:
    int pid_ = -1;
    int output_ = -1;
    int status_ = -1;
};

// Returns once one of the children has output or has closed it, or after timeout.
void WaitForOutput(const std::vector<ChildProcess*>& children, std::chrono::milliseconds timeout);

// The path of the running program, to start another copy of it.
std::string OwnProgramPath();

}  // namespace koru
