#pragma once

// A serial job's values for auto-programming, taken from the line database: reserved before a
// chip's first step, spent or released after it. A command job's program runs here, and only
// when this PC lists it in its own settings.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "linedb/line_database.h"
#include "operations/chip_serial.h"

namespace koru {

// How long a command job's program may take to print its value before the chip is refused.
inline constexpr std::chrono::milliseconds kSerialCommandTimeLimit{10000};

// The command lines of the "serialcommands" setting, separated by ';' or new lines: each a
// program and the arguments it may be given, as a job's command line must be.
std::vector<std::string> AllowedSerialCommands(const std::string& setting);

// Whether command (a job's, from the shared database) is one of allowed word for word, its
// arguments included; blanks between words do not count.
bool SerialCommandAllowed(const std::string& command, const std::vector<std::string>& allowed);

// What a command job's program may print (standard output and error together) before it is
// ended and the chip refused.
inline constexpr std::size_t kSerialCommandOutputCap = 64 * 1024;
// After its time, how long the program has between SIGTERM and SIGKILL.
inline constexpr std::chrono::milliseconds kSerialCommandGrace{1000};

class LineSerialSource final : public ChipSerialSource {
  public:
    // warn: where problems after a run go (a value that could not be marked spent, say).
    // commandTimeLimit: how long a command job's program may run; past it, it is ended with
    // everything it started.
    LineSerialSource(std::shared_ptr<LineDatabase> database, SerialJob job, SerialHolder holder,
                     std::vector<std::string> allowedCommands,
                     std::function<void(const std::string&)> warn,
                     std::chrono::milliseconds commandTimeLimit = kSerialCommandTimeLimit);

    ChipSerialGrant Reserve() override;
    bool StartSending(const ChipSerialValue& value, std::string& refusal) override;
    void Finish(const ChipSerialValue& value, bool spent, const Outcome& outcome) override;

    const SerialJob& Job() const { return job_; }
    // The value of the last run; the value the next chip gets (empty when used up or unknown).
    std::string LastLabel() const { return lastLabel_; }
    std::string NextLabel();

  private:
    // Runs the command job's program for the reserved value: false with its reason.
    bool RunCommand(SerialReservation& reservation, std::string& error);

    std::shared_ptr<LineDatabase> database_;
    SerialJob job_;
    SerialHolder holder_;
    std::vector<std::string> allowedCommands_;
    std::function<void(const std::string&)> warn_;
    std::chrono::milliseconds commandTimeLimit_;
    std::optional<SerialReservation> held_;  // the reservation of the run in progress
    std::string lastLabel_;
};

// Why a job's value cannot go into a run over start..end of an image; empty when it can.
std::string SerialJobPlacementProblem(const SerialJob& job, std::uint32_t start, std::uint32_t end);

}  // namespace koru
