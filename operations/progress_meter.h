#pragma once

// Figures for a long chip step (bytes done of total, rate, time left) read from the status
// texts the engine shows while the step runs: the step from the text, the bytes from the
// address in it and the operation's range. Nothing here counts bytes of its own.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace koru {

enum class LongStep { Program, Verify, Read, BlankCheck, Checksum, Erase };

// Where a long step stands according to one status text.
struct StepPosition {
    LongStep step = LongStep::Program;
    bool opening = false;                  // the step's first text
    std::optional<std::uint32_t> address;  // the address the text names, if any
};

// The long step a status text belongs to and where it stands; nothing for any other text.
std::optional<StepPosition> ReadStepPosition(std::string_view text);

struct ProgressFigures {
    LongStep step = LongStep::Program;
    std::uint64_t done = 0;
    std::uint64_t total = 0;  // 0: the step reports no bytes (erase)
    std::chrono::steady_clock::duration elapsed{};
    bool first = false;  // the first figures of their step
};

// One line without control characters: "program  2048/8192 B  25%  1745 B/s  4 s left", or
// "erase  3.2 s" for a step that reports no bytes. Rate and time left show "--" until bytes
// have been done.
std::string ProgressText(const ProgressFigures& figures);

// Follows the status texts of one process's operations, step after step.
class ProgressMeter {
  public:
    // The figures for a progress text of the range start..end seen at now; nothing for any
    // other text, which also ends the step being followed.
    std::optional<ProgressFigures> Update(std::string_view text, std::uint32_t start,
                                          std::uint32_t end,
                                          std::chrono::steady_clock::time_point now);
    // The figures of the step being followed as they stand at now (its last text's bytes, the
    // time since it started); nothing between steps.
    std::optional<ProgressFigures> Current(std::chrono::steady_clock::time_point now) const;
    // The step being followed has ended (its result was shown).
    void End() { step_.reset(); }

  private:
    std::optional<LongStep> step_;
    std::chrono::steady_clock::time_point started_;
    ProgressFigures last_;
};

}  // namespace koru
