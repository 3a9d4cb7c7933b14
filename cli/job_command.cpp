#include "cli/job_command.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "cli/console_window_services.h"
#include "cli/line_run.h"
#include "cli/safety.h"
#include "core/services.h"
#include "core/shared_state.h"
#include "image/code_file_identity.h"
#include "image/code_loader.h"
#include "image/numbers.h"
#include "image/program_memory.h"
#include "operations/job_install.h"
#include "platform/host_clock.h"
#include "platform/terminal.h"

namespace koru::cli {
namespace {

constexpr std::uint8_t kFieldDigits = 4;
constexpr std::uint32_t kLargestFieldAddress = 0xFFFF;  // the address fields count four digits

void Say(const std::string& text) {
    std::fprintf(stderr, "koru-cli: %s\n", text.c_str());
}

// The password of --lock: the first line of --password-file, else typed twice on the terminal.
std::optional<std::string> LockPassword(const JobCreation& creation) {
    if (creation.passwordFile) {
        std::ifstream file(*creation.passwordFile, std::ios::binary);
        std::string line;
        if (!file || !std::getline(file, line)) {
            Say("cannot read the password from " + *creation.passwordFile);
            return std::nullopt;
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            Say(*creation.passwordFile + " holds no password on its first line");
            return std::nullopt;
        }
        return line;
    }
    const std::optional<std::string> first = ReadHiddenLine("job password: ");
    if (!first) {
        Say("--lock needs a password typed on a terminal (or --password-file for scripts)");
        return std::nullopt;
    }
    if (first->empty()) {
        Say("an empty password locks nothing");
        return std::nullopt;
    }
    const std::optional<std::string> again = ReadHiddenLine("the same password again: ");
    if (!again || *again != *first) {
        Say("the two passwords differ; no job was made");
        return std::nullopt;
    }
    return first;
}

std::string MadeBy(const JobCreation& creation) {
    if (creation.madeBy) {
        return *creation.madeBy;
    }
    for (const char* variable : {"USER", "USERNAME", "LOGNAME"}) {
        if (const char* value = std::getenv(variable); value != nullptr && *value != '\0') {
            return value;
        }
    }
    return "";
}

// The code file's bytes over the range, read as program reads them, into job. False after
// saying why.
bool ReadJobImage(const Options& options, Job& job) {
    ConsoleSelections selections;
    selections.otp = *options.otp;
    ConsoleWindowServices console(selections, stderr, DisplayFor(stderr, true, false));
    InstallWindowServices(&console);
    struct Uninstall {
        ~Uninstall() { InstallWindowServices(nullptr); }
    } uninstall;
    console.WriteField(TextField::StartAddress, "0000");
    console.WriteField(TextField::EndAddress, "1FFF");
    console.WriteField(TextField::CodeFileName, *options.creation.code);
    LoadCodeFile();
    if (FailureFlag != 0) {
        Say(*options.creation.code + ": " + console.LastStatus());
        return false;
    }
    const AddressRange loaded = GetChecksumRange();
    if (options.rangeStart) {
        console.WriteField(TextField::StartAddress, *options.rangeStart);
        console.WriteField(TextField::EndAddress, *options.rangeEnd);
    }
    ReadAddressRange();
    Options asProgram = options;
    asProgram.command = Command::Program;
    std::optional<std::string> refusal = RefusalBeforeTraffic(asProgram, *options.otp);
    if (!refusal) {
        refusal = RefusalForLoadedRange(asProgram, loaded, {StartAddress, EndAddress});
    }
    if (refusal) {
        Say(*refusal);
        return false;
    }
    const std::optional<CodeFileIdentity> identity = LoadedCodeFile();
    job.start = StartAddress;
    job.end = EndAddress;
    job.image.assign(ProgramMemory.begin() + job.start, ProgramMemory.begin() + job.end + 1);
    job.sourceName = identity ? identity->path : *options.creation.code;
    job.sourceSize = identity ? identity->size : 0;
    job.sourceSha256 = identity ? identity->sha256 : "";
    return true;
}

int CreateJob(const Options& options, std::uint32_t savedMarks, const std::string& savedDatabase) {
    const std::string& path = options.jobArgs[1];
    const JobCreation& creation = options.creation;
    Job job;
    job.otp = *options.otp;
    job.steps = options.stepsGiven ? options.steps : savedMarks;
    job.fast = options.fast;
    job.quota = creation.quota;
    job.name = creation.name.value_or(std::filesystem::path(path).stem().string());
    job.description = creation.description.value_or("");
    job.madeBy = MadeBy(creation);
    job.madeAt = LocalTimeText(std::chrono::system_clock::now());
    if (!ReadJobImage(options, job)) {
        return kBadUsage;
    }
    if (options.serialJob) {
        const auto place = FindSerialPlace(options, savedDatabase, *options.serialJob);
        if (!place) {
            return kBadUsage;
        }
        if (place->address < job.start || place->address > job.end ||
            job.end - place->address + 1 < place->size) {
            Say("serial job " + *options.serialJob + " writes at " + Hex(place->address, 4) +
                ", outside the job's range " + Hex(job.start, 4) + "-" + Hex(job.end, 4));
            return kBadUsage;
        }
        job.serial = JobSerial{*options.serialJob, place->address, place->size};
    }
    if (creation.lock) {
        const std::optional<std::string> password = LockPassword(creation);
        if (!password) {
            return kBadUsage;
        }
        if (!LockJob(job, *password)) {
            Say("the system's cryptography failed; no job was made");
            return kBadUsage;
        }
    }
    std::string error;
    if (!SaveJobFile(job, path, error)) {
        Say("cannot write " + path + ": " + error);
        return kBadUsage;
    }
    const std::optional<std::string> checksum = JobChecksum(job);
    std::fputs(JobSummary(job, checksum.value_or("")).c_str(), stdout);
    return kSuccess;
}

int ShowJob(const std::string& path) {
    const JobLoad load = LoadJobFile(path);
    if (!load.job) {
        Say(path + ": " + load.reason);
        return kBadUsage;
    }
    std::fputs(JobSummary(*load.job, load.checksum).c_str(), stdout);
    return kSuccess;
}

}  // namespace

int RunJobCommand(const Options& options, std::uint32_t savedMarks,
                  const std::string& savedDatabase) {
    return options.jobArgs[0] == "create" ? CreateJob(options, savedMarks, savedDatabase)
                                          : ShowJob(options.jobArgs[1]);
}

std::string JobSummary(const Job& job, const std::string& checksum) {
    std::string text;
    const auto line = [&text](const char* label, const std::string& value) {
        text += std::string(label) + value + "\n";
    };
    line("job:            ", job.name);
    line("job checksum:   ", checksum.substr(0, kJobShortChecksumDigits) + "  (" + checksum + ")");
    line("image checksum: ", Hex(JobImageChecksum(job), kFieldDigits) +
                                 (job.serial ? "  (serial bytes left out)" : ""));
    line("description:    ", job.description);
    line("made by:        ", (job.madeBy.empty() ? "(not named)" : job.madeBy) + ", " + job.madeAt);
    line("code file:      ", job.sourceName);
    line("  size, SHA-256:", " " + std::to_string(job.sourceSize) + " bytes, " + job.sourceSha256);
    line("chip:           ", job.otp ? "OTP" : "MTP");
    line("range:          ", Hex(job.start, kFieldDigits) + "-" + Hex(job.end, kFieldDigits) +
                                 " (" + std::to_string(job.image.size()) + " bytes)");
    line("steps:          ", JobStepsText(job.steps));
    line("mode:           ", job.fast ? "fast" : "slow");
    line("serial job:     ", job.serial ? job.serial->job + " at " + Hex(job.serial->address, 4) +
                                              ", " + std::to_string(job.serial->size) + " bytes"
                                        : "none");
    line("lot quota:      ", job.quota ? std::to_string(*job.quota) + " passed chips" : "none");
    line("lock:           ", job.lock ? "set" : "none");
    return text;
}

std::optional<OpenedJob> OpenJobForRun(Options& options, const std::string& savedDatabase,
                                       int& status) {
    status = kBadUsage;
    const JobLoad load = LoadJobFile(*options.job);
    if (!load.job) {
        Say(*options.job + ": " + load.reason + "; nothing was sent");
        return std::nullopt;
    }
    const Job& job = *load.job;
    const std::string shown = load.checksum.substr(0, kJobShortChecksumDigits);
    if (options.confirm && !ChecksumConfirmed(*options.confirm, load.checksum)) {
        Say("the job checksum is " + shown + ", not " + *options.confirm +
            ": this is not the job of the work order; nothing was sent");
        return std::nullopt;
    }
    if (job.end > kLargestFieldAddress) {
        Say(*options.job + ": the job's range does not fit the four-digit address fields");
        return std::nullopt;
    }
    if (job.serial) {
        const auto place = FindSerialPlace(options, savedDatabase, job.serial->job);
        if (!place) {
            return std::nullopt;
        }
        if (place->address != job.serial->address || place->size != job.serial->size) {
            Say("serial job " + job.serial->job + " now writes " + std::to_string(place->size) +
                " bytes at " + Hex(place->address, 4) + ", but the job was approved for " +
                std::to_string(job.serial->size) + " bytes at " + Hex(job.serial->address, 4) +
                "; nothing was sent");
            return std::nullopt;
        }
        options.serialJob = job.serial->job;
    }
    options.otp = job.otp;
    options.steps = job.steps;
    options.stepsGiven = true;
    options.fast = job.fast;
    options.rangeStart = Hex(job.start, kFieldDigits);
    options.rangeEnd = Hex(job.end, kFieldDigits);
    options.file = *options.job;
    if (!options.lot) {
        options.lot = DefaultLotName(job.name, LocalDateText(std::chrono::system_clock::now()));
        if (const std::string problem = LotNameProblem(*options.lot); !problem.empty()) {
            Say("the job's own lot name \"" + *options.lot + "\" cannot be used (" + problem +
                "): name the lot with --lot; nothing was sent");
            return std::nullopt;
        }
    }
    status = kSuccess;
    return OpenedJob{job, load.checksum, *options.lot};
}

}  // namespace koru::cli
