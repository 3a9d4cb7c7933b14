#pragma once

// What the end of an auto-programming run tells a front end that keeps a production record.
// The observer is called on the worker, after the counters and before the worker ends, so
// the record of one chip is written before the next chip can start.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/outcome.h"

namespace koru {

struct AutoRunReport {
    std::chrono::system_clock::time_point started;
    std::chrono::milliseconds duration{0};
    std::vector<std::uint8_t> steps;  // operation codes of the steps that ran, in order
    bool succeeded = false;
    Outcome outcome;                 // the typed outcome of the run
    std::uint32_t successCount = 0;  // the counters after the run
    std::uint32_t failureCount = 0;
    std::string serialJob;    // the serial job whose value went into this chip; empty: none
    std::string serialValue;  // that value as people read it
    // The checksum over the range of what went to the chip when a serial value was stamped
    // into it (the image itself is back to the loaded bytes when the report is made).
    std::optional<std::uint16_t> chipChecksum;
};

using AutoRunObserver = std::function<void(const AutoRunReport&)>;

// Installs the observer of every run's end; an empty one removes it. Install it before a run
// starts, not while one runs.
void SetAutoRunObserver(AutoRunObserver observer);

// Called by auto-programming at the end of each run.
void ReportAutoRun(const AutoRunReport& report);

}  // namespace koru
