#include "linedb/line_serial_source.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/child_process.h"

namespace koru {
namespace {

constexpr auto kCommandPoll = std::chrono::milliseconds(50);
constexpr std::size_t kShownText = 200;  // of the program's own words in a refusal
// What a command job's program gets of this process's environment: nothing that may hold a
// password (KORU_DB, PGPASSWORD and the like stay here).
constexpr const char* kPassedEnvironment[] = {"PATH", "HOME", "LANG"};

std::string LastLine(const std::string& text) {
    std::string line;
    std::size_t end = text.find_last_not_of("\r\n \t");
    if (end == std::string::npos) {
        return line;
    }
    const std::size_t begin = text.find_last_of('\n', end);
    return text.substr(begin == std::string::npos ? 0 : begin + 1,
                       end - (begin == std::string::npos ? 0 : begin + 1) + 1);
}

std::string Shown(const std::string& line) {
    return line.size() > kShownText ? line.substr(0, kShownText) + "..." : line;
}

// "10 s", "0.3 s".
std::string SecondsText(std::chrono::milliseconds limit) {
    char text[32];
    if (limit.count() % 1000 == 0) {
        std::snprintf(text, sizeof text, "%lld s", static_cast<long long>(limit.count() / 1000));
    } else {
        std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(limit.count()) / 1000.0);
    }
    return text;
}

}  // namespace

std::vector<std::string> AllowedSerialCommands(const std::string& setting) {
    std::vector<std::string> paths;
    std::size_t begin = 0;
    while (begin <= setting.size()) {
        std::size_t end = setting.find_first_of(";\n", begin);
        if (end == std::string::npos) {
            end = setting.size();
        }
        std::string path = setting.substr(begin, end - begin);
        path.erase(0, path.find_first_not_of(" \t\r"));
        path.erase(path.find_last_not_of(" \t\r") + 1);
        if (!path.empty()) {
            paths.push_back(path);
        }
        begin = end + 1;
    }
    return paths;
}

bool SerialCommandAllowed(const std::string& command, const std::vector<std::string>& allowed) {
    const std::vector<std::string> words = CommandWords(command);
    return !words.empty() &&
           std::any_of(allowed.begin(), allowed.end(),
                       [&](const std::string& entry) { return CommandWords(entry) == words; });
}

std::string SerialJobPlacementProblem(const SerialJob& job, std::uint32_t start,
                                      std::uint32_t end) {
    return SerialPlacementProblem(job.address, job.size, start, end);
}

LineSerialSource::LineSerialSource(std::shared_ptr<LineDatabase> database, SerialJob job,
                                   SerialHolder holder, std::vector<std::string> allowedCommands,
                                   std::function<void(const std::string&)> warn,
                                   std::chrono::milliseconds commandTimeLimit)
    : database_(std::move(database)),
      job_(std::move(job)),
      holder_(std::move(holder)),
      allowedCommands_(std::move(allowedCommands)),
      warn_(std::move(warn)),
      commandTimeLimit_(commandTimeLimit) {
    if (holder_.id.empty()) {
        holder_.id = NewSerialHolderId();
    }
}

bool LineSerialSource::RunCommand(SerialReservation& reservation, std::string& error) {
    const std::vector<std::string> words = CommandWords(job_.command);
    if (const std::string missing = ChildProcessesUnavailable(); !missing.empty()) {
        error = "serial job " + job_.name + ": a command job cannot run here (" + missing +
                "); use a counter or list job on this PC";
        return false;
    }
    // A job from a shared database never makes this PC run a program, or give it arguments,
    // that this PC does not allow.
    if (!SerialCommandAllowed(job_.command, allowedCommands_)) {
        error = "serial job " + job_.name + ": the command line " +
                (words.empty() ? std::string("(none)") : Shown(job_.command)) +
                " is not listed, as it stands, in this PC's \"serialcommands\" setting";
        return false;
    }
    ChildProcess child;
    std::vector<std::string> environment{"KORU_SERIAL_JOB=" + job_.name,
                                         "KORU_SERIAL_INDEX=" + std::to_string(reservation.index),
                                         "KORU_HOST=" + holder_.host, "KORU_PORT=" + holder_.port};
    for (const char* name : kPassedEnvironment) {
        if (const char* value = std::getenv(name)) {
            environment.push_back(std::string(name) + "=" + value);
        }
    }
    // Its value comes on standard output, its own words on standard error; its own group lets
    // a program past its time be ended with whatever it started.
    if (!child.Start(words, error, environment,
                     {.ownGroup = true, .errorsApart = true, .extraEnvironmentOnly = true})) {
        error = "serial job " + job_.name + ": " + error;
        return false;
    }
    std::string output, errors;
    const auto deadline = std::chrono::steady_clock::now() + commandTimeLimit_;
    std::optional<int> status;
    bool flooded = false;
    for (;;) {
        const bool outputOpen = child.ReadOutput(output);
        const bool errorsOpen = child.ReadErrors(errors);
        if (output.size() + errors.size() > kSerialCommandOutputCap) {
            flooded = true;
            break;
        }
        if (!outputOpen && !errorsOpen && (status = child.Ended())) {
            break;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            break;
        }
        const auto pause =
            std::min<std::chrono::steady_clock::duration>(kCommandPoll, deadline - now);
        if (outputOpen || errorsOpen) {
            WaitForOutput({&child}, std::chrono::duration_cast<std::chrono::milliseconds>(pause) +
                                        std::chrono::milliseconds(1));
        } else {
            std::this_thread::sleep_for(pause);
        }
    }
    const std::string said = LastLine(output);
    const std::string complaint = LastLine(errors);
    if (!status) {
        // A chance to clean up first, then the end of it and of everything it started.
        child.Terminate();
        const auto graceEnd = std::chrono::steady_clock::now() + kSerialCommandGrace;
        while (!child.Ended() && std::chrono::steady_clock::now() < graceEnd) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        child.Kill();
        child.Wait();
        error = "serial job " + job_.name + ": " + words[0] +
                (flooded ? " printed more than " + std::to_string(kSerialCommandOutputCap / 1024) +
                               " KiB"
                         : " took more than " + SecondsText(commandTimeLimit_)) +
                (complaint.empty() || flooded ? "" : ": " + Shown(complaint));
        return false;
    }
    if (*status != 0) {
        const std::string& why = complaint.empty() ? said : complaint;
        error = "serial job " + job_.name + ": " + words[0] + " failed (exit " +
                std::to_string(*status) + ")" + (why.empty() ? "" : ": " + Shown(why));
        return false;
    }
    const auto bytes = ParseHexBytes(said);
    if (!bytes || bytes->size() != job_.size) {
        error = "serial job " + job_.name + ": " + words[0] + " did not print " +
                std::to_string(job_.size) +
                " hexadecimal bytes: " + Shown(said.empty() ? complaint : said);
        return false;
    }
    reservation.bytes = *bytes;
    reservation.label = HexBytes(*bytes);
    return database_->SetValue(job_.name, reservation, error);
}

ChipSerialGrant LineSerialSource::Reserve() {
    ChipSerialGrant grant;
    SerialReservation reservation;
    std::string error;
    const ReserveResult result = database_->Reserve(job_, holder_, reservation, error);
    if (result == ReserveResult::UsedUp) {
        grant.usedUp = true;
        return grant;
    }
    if (result == ReserveResult::Failed) {
        grant.refusal = "the line database " + database_->Name() + ": " + error;
        return grant;
    }
    // A released command value comes back with its bytes: it goes out as it was, without
    // asking the program again.
    if (job_.source == SerialSource::Command && reservation.bytes.empty() &&
        !RunCommand(reservation, error)) {
        std::string ignored;
        database_->Release(job_.name, reservation.index, reservation.holderId, ignored);
        grant.refusal = error;
        return grant;
    }
    held_ = reservation;
    grant.granted = true;
    grant.value = {job_.name, job_.address, reservation.bytes, reservation.label};
    return grant;
}

bool LineSerialSource::StartSending(const ChipSerialValue& value, std::string& refusal) {
    if (!held_) {
        refusal = "serial value " + value.label + " of job " + job_.name + " is not held";
        return false;
    }
    std::string error;
    if (!database_->MarkSending(job_.name, held_->index, held_->holderId, error)) {
        refusal = "the line database " + database_->Name() + ": serial value " + value.label +
                  " of job " + job_.name + " could not be marked as sending: " + error;
        return false;
    }
    return true;
}

void LineSerialSource::Finish(const ChipSerialValue& value, bool spent, const Outcome& outcome) {
    if (!held_) {
        return;
    }
    std::string error;
    const bool done = spent ? database_->Spend(job_.name, held_->index, held_->holderId,
                                               OutcomeName(outcome.kind), error)
                            : database_->Release(job_.name, held_->index, held_->holderId, error);
    if (!done && warn_) {
        // It stays reserved or sending: never handed out again by itself, and serial status
        // shows it.
        warn_("serial value " + value.label + " of job " + job_.name + " could not be marked " +
              (spent ? "spent" : "released") + ": " + error);
    }
    if (spent) {
        lastLabel_ = value.label;
    }
    held_.reset();
}

std::string LineSerialSource::NextLabel() {
    std::vector<SerialJobStatus> status;
    std::string error;
    if (!database_->Status(job_.name, status, error) || status.empty()) {
        return {};
    }
    return status[0].next;
}

}  // namespace koru
