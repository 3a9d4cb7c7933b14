#pragma once

// koru-cli's production jobs: job create and job show, and a program run under --job.

#include <cstdint>
#include <optional>
#include <string>

#include "cli/options.h"
#include "operations/job_file.h"

namespace koru::cli {

// job create|show. savedMarks: the window's ticked steps, for a job made without step options.
int RunJobCommand(const Options& options, std::uint32_t savedMarks,
                  const std::string& savedDatabase);

// A job opened for a program run.
struct OpenedJob {
    Job job;
    std::string checksum;  // whole
};

// --job: loads the job and checks it against --confirm and the line database's serial job, all
// before any traffic; then fixes options as the job says (chip kind, steps, speed, range, serial
// job). Nothing, with status set, after saying why on standard error.
std::optional<OpenedJob> OpenJobForRun(Options& options, const std::string& savedDatabase,
                                       int& status);

// What job show prints: every setting, both checksums and whether a lock is set.
std::string JobSummary(const Job& job, const std::string& checksum);

}  // namespace koru::cli
