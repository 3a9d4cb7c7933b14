#pragma once

// Putting an opened job into the programming image, and telling whether the image and the
// operator's selections still are the job's. Shared by koru-cli and the window.

#include <cstdint>
#include <string>

#include "operations/job_file.h"

namespace koru {

// Puts the job's image into the programming image and the address and checksum fields as a load
// of its code file would have, and names the job for the production record. Runs while no
// operation runs.
void InstallJob(const Job& job, const std::string& checksum, const std::string& jobPath);

// What the next run would do, read from the selections and the image.
struct RunSetUp {
    bool otp = false;
    std::uint32_t start = 0, end = 0;
    std::uint32_t steps = 0;           // marked and available
    std::uint32_t availableSteps = 0;  // available for this chip kind
    bool fast = true;
};

// The first difference between the set-up and the job ("the range", "the ticked steps", ...),
// with the image's bytes over the job's range compared too; empty when they agree.
std::string JobDifference(const Job& job, const RunSetUp& setUp);

// Whether typed names this checksum: its first 8 or more hexadecimal digits, in either case,
// blanks around it ignored.
bool ChecksumConfirmed(const std::string& typed, const std::string& checksum);

}  // namespace koru
