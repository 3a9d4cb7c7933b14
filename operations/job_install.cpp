#include "operations/job_install.h"

#include <algorithm>
#include <cctype>

#include "core/services.h"
#include "core/shared_state.h"
#include "image/code_file_identity.h"
#include "image/numbers.h"
#include "image/program_memory.h"

namespace koru {
namespace {

constexpr std::uint8_t kFieldDigits = 4;

}  // namespace

void InstallJob(const Job& job, const std::string& checksum, const std::string& jobPath) {
    BlankProgramMemory();
    std::copy(job.image.begin(), job.image.end(), ProgramMemory.begin() + job.start);
    StartAddress = job.start;
    EndAddress = job.end;
    ImageOverwrittenFlag = 0;
    CodeLoadedFlag = 1;
    RememberLoadedCodeFile(job.sourceName, job.sourceSize, job.sourceSha256);
    Window().WriteField(TextField::CodeFileName, jobPath);
    Window().WriteField(TextField::StartAddress, Hex(job.start, kFieldDigits));
    Window().WriteField(TextField::EndAddress, Hex(job.end, kFieldDigits));
    Window().WriteField(TextField::Checksum, Hex(SumImageRange(job.start, job.end), kFieldDigits));
    SetChecksumRange({job.start, job.end});
    SetRunningJob(JobStamp{job.name, checksum});
}

std::string JobDifference(const Job& job, const RunSetUp& setUp) {
    if (setUp.otp != job.otp) {
        return "the chip kind";
    }
    if (setUp.start != job.start || setUp.end != job.end) {
        return "the range";
    }
    if (setUp.steps != (job.steps & setUp.availableSteps)) {
        return "the ticked steps";
    }
    if (setUp.fast != job.fast) {
        return "the mode";
    }
    if (CodeLoadedFlag.load() == 0 || ImageOverwrittenFlag.load() != 0 ||
        !std::equal(job.image.begin(), job.image.end(), ProgramMemory.begin() + job.start)) {
        return "the image";
    }
    return {};
}

bool ChecksumConfirmed(const std::string& typed, const std::string& checksum) {
    const auto first = typed.find_first_not_of(" \t");
    const auto last = typed.find_last_not_of(" \t");
    std::string lower = first == std::string::npos ? "" : typed.substr(first, last - first + 1);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.size() >= kJobShortChecksumDigits && lower.size() <= checksum.size() &&
           AllCharsIn(lower, "0123456789abcdef") && checksum.compare(0, lower.size(), lower) == 0;
}

}  // namespace koru
