#pragma once

// What gang programming shows: a live line per port on a terminal (redrawn in place), one line
// per port as it ends otherwise, and the table of a round.

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace koru::cli {

// How one port's run ended.
struct PortResult {
    std::string port;
    int exitStatus = 0;
    std::chrono::milliseconds duration{0};
    std::string lastStatus;  // the last line the port's run printed
};

// "passed", "chip failed", "no programmer or link lost", "bad usage or file",
// "ended by signal N" (exit status 128 + N), "exit N" for anything else.
std::string ResultName(int exitStatus);

// The last non-empty line of output (a run's status lines end with '\n' or '\r').
std::string LastLine(const std::string& output);

// The table of one round: port, result, duration and last status, one row per port.
std::string RoundTable(const std::vector<PortResult>& results);

class GangDisplay {
  public:
    // live: out is a terminal, so the port lines are redrawn in place.
    GangDisplay(std::vector<std::string> ports, std::FILE* out, bool live);

    // The port's run printed a new status.
    void Status(std::size_t port, const std::string& status);
    // The port's run ended.
    void Finished(const PortResult& result, std::size_t port);
    // Redraws the live lines when something changed; call it after a batch of updates.
    void Draw();

  private:
    std::vector<std::string> ports_;
    std::vector<std::string> lines_;
    std::FILE* out_;
    bool live_;
    bool drawn_ = false;
    bool changed_ = true;
};

}  // namespace koru::cli
