#include "cli/line_commands.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "cli/report_command.h"
#include "cli/safety.h"
#include "linedb/line_database.h"
#include "linedb/line_database_location.h"
#include "linedb/line_serial_source.h"
#include "linedb/record_upload.h"
#include "operations/chip_serial.h"
#include "operations/job_file.h"
#include "operations/production_log.h"
#include "platform/host_clock.h"
#include "report/report_page.h"

namespace koru::cli {
namespace {

void Say(const std::string& text) {
    std::fprintf(stderr, "koru-cli: %s\n", text.c_str());
}

std::unique_ptr<LineDatabase> OpenDatabase(const Options& options, const std::string& saved) {
    std::string error;
    auto database = LineDatabase::Open(ChooseLineDatabase(options.db, saved), error);
    if (!database) {
        Say("the line database cannot be used: " + error);
    }
    return database;
}

std::optional<std::int64_t> Decimal(const std::optional<std::string>& text) {
    if (!text || text->empty() || text->size() > 18 ||
        text->find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return std::stoll(*text);
}

// serial define's fields as a job; nothing after saying what is wrong.
std::optional<SerialJob> DefinedJob(const Options& options, const std::string& name,
                                    std::vector<std::vector<std::uint8_t>>& list) {
    const SerialDefinition& define = options.define;
    SerialJob job;
    job.name = name;
    if (!define.at || define.at->empty() || define.at->size() > 5 ||
        define.at->find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos) {
        Say("serial define needs --at ADDR in hexadecimal, for example 1F00");
        return std::nullopt;
    }
    job.address = static_cast<std::uint32_t>(std::stoul(*define.at, nullptr, 16));
    const auto size = Decimal(define.size);
    if (!size || *size < 1 || *size > static_cast<std::int64_t>(kSerialMaxSize)) {
        Say("serial define needs --size N, 1 to 16 bytes");
        return std::nullopt;
    }
    job.size = static_cast<std::size_t>(*size);
    const int sources = (define.list ? 1 : 0) + (define.command ? 1 : 0) + (define.start ? 1 : 0);
    if (sources != 1) {
        Say("serial define takes one of --start (a counter), --list FILE or --command PROGRAM");
        return std::nullopt;
    }
    if (define.list) {
        job.source = SerialSource::List;
        std::ifstream file(*define.list, std::ios::binary);
        if (!file) {
            Say("cannot read " + *define.list);
            return std::nullopt;
        }
        std::ostringstream text;
        text << file.rdbuf();
        std::string error;
        auto values = ParseSerialList(text.str(), job.size, error);
        if (!values) {
            Say(*define.list + ": " + error);
            return std::nullopt;
        }
        list = std::move(*values);
    } else if (define.command) {
        job.source = SerialSource::Command;
        job.command = *define.command;
    } else {
        job.source = SerialSource::Counter;
        const auto format = CounterFormatFromName(define.format.value_or(""));
        const auto start = Decimal(define.start);
        const auto step = define.step ? Decimal(define.step) : std::optional<std::int64_t>(1);
        const auto last = Decimal(define.last);
        if (!format || !start || !step || (define.last && !last)) {
            Say("a counter needs --format le|be|bcd|ascii|hex and --start V, with --step and "
                "--last in decimal");
            return std::nullopt;
        }
        job.format = *format;
        job.start = *start;
        job.step = *step;
        job.last = last;
    }
    return job;
}

std::string JobText(const SerialJob& job) {
    std::ostringstream text;
    char address[16];
    std::snprintf(address, sizeof address, "%05X", job.address);
    text << job.name << ": " << SerialSourceName(job.source);
    if (job.source == SerialSource::Counter) {
        text << " " << CounterFormatName(job.format) << " from " << job.start << " step "
             << job.step;
        if (job.last) {
            text << " to " << *job.last;
        }
    } else if (job.source == SerialSource::Command) {
        text << " " << job.command;
    }
    text << ", " << job.size << " bytes at " << address;
    return text.str();
}

int Define(LineDatabase& database, const Options& options) {
    if (options.serialArgs.size() != 2) {
        Say("serial define needs the job's name");
        return kBadUsage;
    }
    std::vector<std::vector<std::uint8_t>> list;
    const auto job = DefinedJob(options, options.serialArgs[1], list);
    if (!job) {
        return kBadUsage;
    }
    std::string error;
    if (!database.DefineJob(*job, list, error)) {
        Say(error);
        return kBadUsage;
    }
    std::printf("defined %s%s\n", JobText(*job).c_str(),
                list.empty() ? "" : (", " + std::to_string(list.size()) + " values").c_str());
    return kSuccess;
}

nlohmann::json ValueJson(const SerialValueRow& row) {
    return {{"value", row.label}, {"state", row.state}, {"host", row.host},
            {"port", row.port},   {"pid", row.pid},     {"time", row.time}};
}

int Status(LineDatabase& database, const Options& options) {
    if (options.serialArgs.size() > 2) {
        Say("serial status takes one job at most");
        return kBadUsage;
    }
    const std::optional<std::string> name =
        options.serialArgs.size() == 2 ? std::optional(options.serialArgs[1]) : std::nullopt;
    std::vector<SerialJobStatus> jobs;
    std::string error;
    if (!database.Status(name, jobs, error)) {
        Say(error);
        return kBadUsage;
    }
    if (options.json) {
        nlohmann::json out = nlohmann::json::array();
        for (const SerialJobStatus& job : jobs) {
            nlohmann::json entry{{"job", job.job.name},
                                 {"source", SerialSourceName(job.job.source)},
                                 {"next", job.next},
                                 {"spent", job.spent},
                                 {"passed", job.passed},
                                 {"failed", job.failed},
                                 {"left", job.left ? nlohmann::json(*job.left) : nlohmann::json()},
                                 {"reserved", nlohmann::json::array()}};
            for (const SerialValueRow& row : job.reserved) {
                entry["reserved"].push_back(ValueJson(row));
            }
            out.push_back(entry);
        }
        std::printf("%s\n", out.dump(2).c_str());
        return kSuccess;
    }
    for (const SerialJobStatus& job : jobs) {
        std::printf("%s\n  next %s, spent %lld (passed %lld, failed %lld), left %s\n",
                    JobText(job.job).c_str(), job.next.empty() ? "(used up)" : job.next.c_str(),
                    static_cast<long long>(job.spent), static_cast<long long>(job.passed),
                    static_cast<long long>(job.failed),
                    job.left ? std::to_string(*job.left).c_str() : "no end");
        for (const SerialValueRow& row : job.reserved) {
            std::printf("  %s %s by %s %s process %s since %s\n", row.state.c_str(),
                        row.label.c_str(), row.host.c_str(), row.port.c_str(), row.pid.c_str(),
                        row.time.c_str());
        }
    }
    return kSuccess;
}

int Release(LineDatabase& database, const Options& options) {
    if (options.serialArgs.size() != 3) {
        Say("serial release needs JOB VALUE");
        return kBadUsage;
    }
    std::string error;
    const auto job = database.Job(options.serialArgs[1], error);
    if (!job) {
        Say(error.empty() ? "no serial job named " + options.serialArgs[1] : error);
        return kBadUsage;
    }
    const auto label = SerialLabelOf(*job, options.serialArgs[2]);
    if (!label) {
        Say("not a value of " + job->name + ": " + options.serialArgs[2] +
            (job->source == SerialSource::Counter ? " (decimal)" : " (hexadecimal bytes)"));
        return kBadUsage;
    }
    const std::string here = HostName();
    const ReleaseResult released = database.ReleaseByPerson(
        job->name, *label, options.force, SerialHolder{here, "", ProcessId(), ""},
        [&here](const SerialValueRow& row) {
            // Only a process on this PC can be asked; one elsewhere is the person's to check.
            return row.host == here && !row.pid.empty() &&
                   ProcessRunning(std::strtol(row.pid.c_str(), nullptr, 10));
        },
        error);
    if (released != ReleaseResult::Released) {
        Say(error);
        return kBadUsage;
    }
    std::printf("released %s of %s%s: the next chip gets it\n", label->c_str(), job->name.c_str(),
                options.force ? " by force (logged)" : "");
    return kSuccess;
}

int Find(LineDatabase& database, const Options& options) {
    if (options.serialArgs.size() != 2) {
        Say("serial find needs VALUE");
        return kBadUsage;
    }
    const std::string& value = options.serialArgs[1];
    std::set<std::string> labels{value};
    if (const auto bytes = ParseHexBytes(value)) {
        labels.insert(HexBytes(*bytes));
    }
    // A counter's value as printed zero-padded (the ascii and bcd formats' digits).
    if (const auto number = Decimal(value)) {
        labels.insert(std::to_string(*number));
    }
    std::size_t found = 0;
    for (const std::string& label : labels) {
        std::vector<StoredRecord> records;
        std::vector<SerialValueRow> reserved;
        std::string error;
        if (!database.Find(label, records, reserved, error)) {
            Say(error);
            return kBadUsage;
        }
        for (const StoredRecord& record : records) {
            std::printf("%s  %s  %s  %s  %s  file %s  %s\n", record.serialJob.c_str(),
                        record.serialValue.c_str(), record.host.c_str(), record.port.c_str(),
                        record.time.c_str(), record.fileSha256.c_str(),
                        record.passed ? "passed" : record.kind.c_str());
        }
        for (const SerialValueRow& row : reserved) {
            std::printf("%s  %s  %s  %s  %s  %s, no record yet (process %s)\n", row.job.c_str(),
                        row.label.c_str(), row.host.c_str(), row.port.c_str(), row.time.c_str(),
                        row.state.c_str(), row.pid.c_str());
        }
        std::vector<SerialReleaseEvent> releases;
        if (!database.ReleaseEvents(label, releases, error)) {
            Say(error);
            return kBadUsage;
        }
        for (const SerialReleaseEvent& event : releases) {
            std::printf("%s  %s  %s  %s  released %sby a person (process %s) while %s%s\n",
                        event.job.c_str(), event.label.c_str(), event.host.c_str(),
                        event.time.c_str(), event.forced ? "by force " : "", event.pid.c_str(),
                        event.stateBefore.c_str(),
                        event.note.empty() ? "" : (": " + event.note).c_str());
        }
        found += records.size() + reserved.size() + releases.size();
    }
    if (found == 0) {
        Say("no record of " + options.serialArgs[1]);
        return kChipFailed;
    }
    return kSuccess;
}

int RunSerialCommand(const Options& options, const std::string& savedDatabase) {
    const auto database = OpenDatabase(options, savedDatabase);
    if (!database) {
        return kBadUsage;
    }
    const std::string& what = options.serialArgs.at(0);
    if (what == "define") {
        return Define(*database, options);
    }
    if (what == "status") {
        return Status(*database, options);
    }
    if (what == "release") {
        return Release(*database, options);
    }
    return Find(*database, options);
}

int RunSync(const Options& options, const std::string& savedDatabase) {
    const auto database = OpenDatabase(options, savedDatabase);
    if (!database) {
        return kBadUsage;
    }
    std::size_t sent = 0, left = 0;
    std::string error;
    const bool done = UploadQueuedRecords(*database, sent, left, error);
    std::printf("uploaded %zu records to %s; %zu still waiting\n", sent, database->Name().c_str(),
                left);
    if (!done) {
        Say(error);
        return kBadUsage;
    }
    return kSuccess;
}

int RunDatabaseReport(const Options& options) {
    if (!options.reportArgs.empty()) {
        Say("report --db summarises every record of the database: it takes no files or days");
        return kBadUsage;
    }
    const auto database = OpenDatabase(options, "");
    if (!database) {
        return kBadUsage;
    }
    std::vector<std::string> lines;
    std::string error;
    if (!(options.lot ? database->LotRecordLines(*options.lot, lines, error)
                      : database->RecordLines(lines, error))) {
        Say(error);
        return kBadUsage;
    }
    const std::string sources =
        database->Name() + (options.lot ? ", lot " + *options.lot : std::string());
    RecordLines source(database->Name(), std::move(lines));
    return WriteReport(source, sources, options.csv, options.html, true, options.lot);
}

}  // namespace

int RunLineCommand(const Options& options, const std::string& savedDatabase) {
    switch (options.command) {
        case Command::Serial:
            return RunSerialCommand(options, savedDatabase);
        case Command::Sync:
            return RunSync(options, savedDatabase);
        default:
            return RunDatabaseReport(options);
    }
}

}  // namespace koru::cli
