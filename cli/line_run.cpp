#include "cli/line_run.h"

#include <cstdio>
#include <filesystem>

#include "cli/safety.h"
#include "operations/chip_serial.h"
#include "operations/job_file.h"
#include "operations/production_log.h"
#include "report/report_page.h"
#include "report/report_record.h"

namespace koru::cli {
namespace {

void Say(const std::string& text) {
    std::fprintf(stderr, "koru-cli: %s\n", text.c_str());
}

void Warn(const std::string& text) {
    Say("warning: " + text);
}

}  // namespace

std::optional<SerialPlace> FindSerialPlace(const Options& options, const std::string& savedDatabase,
                                           const std::string& name) {
    if (!LineStation::Available()) {
        Say(std::string("--serial: ") + kNoLineDatabaseText);
        return std::nullopt;
    }
    LineStation station({options.db.value_or(savedDatabase), ""});
    std::string error;
    if (!station.Connect(error)) {
        Say("the line database cannot be used: " + error);
        return std::nullopt;
    }
    const auto job = station.Job(name, error);
    if (!job) {
        Say(error);
        return std::nullopt;
    }
    return SerialPlace{job->address, static_cast<std::uint32_t>(job->size)};
}

LineRun::LineRun(const Options& options, const LineSettings& settings)
    : station_({options.db.value_or(settings.database), settings.serialCommands}, Warn) {}

int LineRun::Start(const Options& options, const std::string& port, std::uint32_t start,
                   std::uint32_t end) {
    if (!LineStation::Available()) {
        if (options.serialJob || options.db) {
            Say((options.serialJob ? "--serial: " : "--db: ") + std::string(kNoLineDatabaseText));
            return kBadUsage;
        }
        return kSuccess;
    }
    LineStation& station = station_;
    std::string error;
    if (!station.Open(error)) {
        if (options.serialJob) {
            Say("serial job " + *options.serialJob +
                ": the line database cannot be used: " + error);
            return kBadUsage;
        }
        Warn("the line database cannot be used (records are kept for koru-cli sync): " + error);
        return kSuccess;
    }
    if (!options.serialJob) {
        return kSuccess;
    }
    const auto job = station.Job(*options.serialJob, error);
    if (!job) {
        Say(error);
        return kBadUsage;
    }
    if (const std::string problem = SerialPlacementProblem(job->address, job->size, start, end);
        !problem.empty()) {
        Say("serial job " + job->name + ": " + problem);
        return kBadUsage;
    }
    if (station.ValuesLeft(job->name) == 0) {
        Say(std::string(kSerialUsedUpText) + ": serial job " + job->name);
        return kBadUsage;
    }
    station.UseSerialJob(*job, port);
    return kSuccess;
}

void LineRun::NoteRecord(const nlohmann::json& record) {
    if (station_.HoldsLotPlace()) {
        const auto passed = record.find("passed");
        passed_ = passed != record.end() && passed->is_boolean() && passed->get<bool>();
    }
}

int LineRun::TakeLotPlace(const LotOfRun& lot, const std::string& port) {
    const auto refuse = [this](const std::string& text) {
        lotRefusal_ = text;
        Say(text);
        return kBadUsage;
    };
    if (!lot.quota) {
        return kSuccess;  // a lot without a quota has nothing to hold
    }
    if (!station_.IsOpen()) {
        return refuse("lot " + lot.name +
                      (LineStation::Available()
                           ? ": its quota is counted in the line database, which cannot be used"
                           : ": its quota is counted in the line database, and this build has "
                             "none") +
                      "; nothing was sent");
    }
    lot_ = lot;
    const LotRun run{lot.name, lot.job, lot.checksum, static_cast<std::int64_t>(*lot.quota)};
    LotCount count;
    std::string error;
    switch (station_.TakeLotPlace(run, port, count, error)) {
        case LotPlaceResult::Taken:
            return kSuccess;
        case LotPlaceResult::Full:
            if (count.Complete()) {
                return refuse(std::string(kLotCompleteText) + ": lot " + lot.name + " has its " +
                              std::to_string(count.passed) + " passed chips; nothing was sent");
            }
            // Not complete yet: a chip under way that fails gives its place back.
            return refuse(std::string(kLotFullText) + ": lot " + lot.name + " has " +
                          std::to_string(count.passed) + " of " + std::to_string(*count.quota) +
                          " chips passed and " + std::to_string(count.held) +
                          " under way for the rest; nothing was sent");
        case LotPlaceResult::Refused:
        case LotPlaceResult::Failed:
            break;
    }
    return refuse(error + "; nothing was sent");
}

std::optional<LotProgress> LineRun::LastLotProgress() const {
    if (!lastCount_) {
        return std::nullopt;
    }
    return LotProgress{lot_.name, lastCount_->passed, lastCount_->quota.value_or(0)};
}

std::string LineRun::FinishLot() {
    if (!station_.HoldsLotPlace()) {
        return {};
    }
    LotCount count;
    std::string error;
    if (!station_.FinishLotPlace(passed_, count, error)) {
        // The place stays held until a later chip of this PC finds this process ended.
        Warn("lot " + lot_.name + ": " +
             (passed_ ? "this chip passed but the lot has not counted it: "
                      : "this chip's place did not go back: ") +
             error);
        return {};
    }
    lastCount_ = count;
    const std::string progress =
        std::to_string(count.passed) + "/" + std::to_string(count.quota.value_or(0));
    if (!passed_ || !count.Complete()) {
        return "本批 " + progress;
    }
    // This chip completed the lot: every chip of it has stored its record by now (a place
    // counts only after its record went in), unless the database missed one.
    std::vector<std::string> lines;
    if (!station_.LotRecordLines(lot_.name, lines, error)) {
        Warn("lot " + lot_.name + ": the lot report was not written: " + error);
        return std::string(kLotCompleteText) + " " + progress;
    }
    const std::filesystem::path folder = DefaultProductionFolder();
    std::error_code made;
    std::filesystem::create_directories(folder, made);  // a run with --log may not have made it
    const std::string path = (folder / LotReportFileName(lot_.name)).string();
    const std::string database = station_.Name();
    RecordLines source(database + ", lot " + lot_.name, std::move(lines));
    std::uint64_t passed = 0;
    if (!WriteReportPage(source, "lot " + lot_.name + " (" + database + ")", path, passed, error)) {
        Warn("lot " + lot_.name + ": the lot report was not written: " + error);
        return std::string(kLotCompleteText) + " " + progress;
    }
    if (passed != static_cast<std::uint64_t>(count.passed)) {
        Warn("lot " + lot_.name + ": the report names " + std::to_string(passed) +
             " passed chips of " + std::to_string(count.passed) +
             "; the others' records have not reached the line database (koru-cli sync)");
    }
    Say("lot " + lot_.name + " complete; its report: " + path);
    return std::string(kLotCompleteText) + " " + progress + ", 报告 " + path;
}

std::string LineRun::SerialText() {
    const auto [last, next] = station_.SerialLabels();
    if (last.empty()) {
        return {};
    }
    return "序列号 " + last + ", 下一个 " + (next.empty() ? std::string(kSerialUsedUpText) : next);
}

}  // namespace koru::cli
