#include "operations/production_record.h"

#include <random>
#include <string>

#include "image/code_file_identity.h"
#include "image/numbers.h"
#include "image/program_memory.h"
#include "link/command_block.h"
#include "link/connection.h"
#include "operations/job_file.h"
#include "operations/one_shot.h"
#include "operations/runner.h"
#include "platform/host_clock.h"
#include "platform/serial_port.h"

namespace koru {
namespace {

constexpr std::uint8_t kAddressDigits = 5;
constexpr std::uint8_t kChecksumDigits = 4;

const std::string& CachedHostName() {
    static const std::string name = HostName();
    return name;
}

}  // namespace

std::string NewRecordId() {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::random_device random;
    std::string id;
    for (int word = 0; word < 4; ++word) {
        std::uint32_t bits = random();
        for (int digit = 0; digit < 8; ++digit, bits >>= 4) {
            id += kDigits[bits & 0xF];
        }
    }
    return id;
}

std::string StepName(std::uint8_t code) {
    switch (code) {
        case kProbeCode:
            return "probe";
        case kBlankCheck:
            return "blank-check";
        case kEraseMtp:
            return "erase";
        case kProgramChip:
            return "program";
        case kChipChecksum:
            return "verify";
        case kEnableSmart:
            return "smart";
        case kLdcProtect:
            return "ldc-protect";
        case kReadProtect:
            return "read-protect";
        case kHwWriteProtect:
            return "hw-protect";
        default:
            return "step-" + std::to_string(code);
    }
}

nlohmann::json ProductionRecord(const AutoRunReport& report) {
    using nlohmann::json;
    json record;
    record["id"] = NewRecordId();
    record["time"] = LocalTimeText(report.started);
    record["host"] = CachedHostName();
    const std::string port = OpenPortName();
    record["port"] = port;
    record["device"] = port.empty() ? std::string() : SerialPort::DevicePathFor(port);
    record["chip"] = CommandBlock[kBlockChipKind] == kChipMtp ? "mtp" : "otp";

    json file = json::object();
    if (const std::optional<CodeFileIdentity> loaded = LoadedCodeFile()) {
        file["path"] = loaded->path;
        file["size"] = loaded->size;
        file["sha256"] = loaded->sha256;
        // The image was changed after the load (cell editor, F8, a chip read): the file alone
        // no longer says what went into the chip; the image checksum still does.
        file["image_changed_since_load"] = !ImageStillHolds(*loaded);
    }
    record["file"] = file;

    const std::uint32_t start = StartAddress;
    const std::uint32_t end = EndAddress;
    record["range"] = {{"start", Hex(start, kAddressDigits)}, {"end", Hex(end, kAddressDigits)}};
    record["image_checksum"] = Hex(SumImageRange(start, end), kChecksumDigits);
    if (report.chipChecksum) {
        // A serial value made the chip's bytes differ from the image's.
        record["chip_checksum"] = Hex(*report.chipChecksum, kChecksumDigits);
    }

    json steps = json::array();
    for (const std::uint8_t code : report.steps) {
        steps.push_back(StepName(code));
    }
    record["steps"] = steps;
    record["passed"] = report.succeeded;
    // The step that failed is the last one that ran: the run stops at the first failure.
    record["failed_step"] = report.succeeded || report.steps.empty()
                                ? json(nullptr)
                                : json(StepName(report.steps.back()));

    const Outcome& outcome = report.outcome;
    json result{{"kind", OutcomeName(outcome.kind)},
                {"fault", ChipFaultName(outcome.fault)},
                {"status", outcome.status}};
    result["address"] = outcome.address ? json(Hex(*outcome.address, kAddressDigits)) : json();
    result["step"] = outcome.step != 0 ? json(StepName(outcome.step)) : json();
    record["outcome"] = result;

    // A job run: the approved set-up the chip was programmed under.
    if (const std::optional<JobStamp> job = RunningJob()) {
        record["job"] = {{"name", job->name}, {"checksum", job->checksum}};
        if (!job->lot.empty()) {
            record["lot"] = job->lot;
        }
    }
    if (!report.serialJob.empty()) {
        record["serial"] = {{"job", report.serialJob}, {"value", report.serialValue}};
    }
    record["duration_ms"] = report.duration.count();
    record["counters"] = {{"success", report.successCount}, {"failure", report.failureCount}};
    return record;
}

}  // namespace koru
