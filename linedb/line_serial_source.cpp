#include "linedb/line_serial_source.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/child_process.h"

namespace koru {
namespace {

constexpr auto kCommandTimeLimit = std::chrono::seconds(10);
constexpr auto kCommandPoll = std::chrono::milliseconds(50);

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

std::string SerialJobPlacementProblem(const SerialJob& job, std::uint32_t start,
                                      std::uint32_t end) {
    return SerialPlacementProblem(job.address, job.size, start, end);
}

LineSerialSource::LineSerialSource(std::shared_ptr<LineDatabase> database, SerialJob job,
                                   SerialHolder holder, std::vector<std::string> allowedCommands,
                                   std::function<void(const std::string&)> warn)
    : database_(std::move(database)),
      job_(std::move(job)),
      holder_(std::move(holder)),
      allowedCommands_(std::move(allowedCommands)),
      warn_(std::move(warn)) {}

bool LineSerialSource::RunCommand(SerialReservation& reservation, std::string& error) {
    const std::vector<std::string> words = CommandWords(job_.command);
    // A job from a shared database never makes this PC run a program it does not allow.
    if (words.empty() || std::find(allowedCommands_.begin(), allowedCommands_.end(), words[0]) ==
                             allowedCommands_.end()) {
        error = "serial job " + job_.name + ": the program " +
                (words.empty() ? std::string("(none)") : words[0]) +
                " is not listed in this PC's \"serialcommands\" setting";
        return false;
    }
    ChildProcess child;
    const std::vector<std::string> environment{
        "KORU_SERIAL_JOB=" + job_.name, "KORU_SERIAL_INDEX=" + std::to_string(reservation.index),
        "KORU_HOST=" + holder_.host, "KORU_PORT=" + holder_.port};
    if (!child.Start(words, error, environment)) {
        error = "serial job " + job_.name + ": " + error;
        return false;
    }
    std::string output;
    const auto deadline = std::chrono::steady_clock::now() + kCommandTimeLimit;
    bool overtime = false;
    while (child.ReadOutput(output)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            child.Kill();
            overtime = true;
            break;
        }
        WaitForOutput({&child}, kCommandPoll);
    }
    const int status = child.Wait();
    const std::string said = LastLine(output);
    if (overtime) {
        error = "serial job " + job_.name + ": " + words[0] + " took more than 10 s";
        return false;
    }
    if (status != 0) {
        error = "serial job " + job_.name + ": " + words[0] + " failed (exit " +
                std::to_string(status) + ")" + (said.empty() ? "" : ": " + said);
        return false;
    }
    const auto bytes = ParseHexBytes(said);
    if (!bytes || bytes->size() != job_.size) {
        error = "serial job " + job_.name + ": " + words[0] + " did not print " +
                std::to_string(job_.size) + " hexadecimal bytes: " + said;
        return false;
    }
    reservation.bytes = *bytes;
    reservation.label = HexBytes(*bytes);
    return database_->SetValue(job_.name, reservation.index, reservation.bytes, reservation.label,
                               error);
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
    if (job_.source == SerialSource::Command && !RunCommand(reservation, error)) {
        std::string ignored;
        database_->Release(job_.name, reservation.index, ignored);
        grant.refusal = error;
        return grant;
    }
    index_ = reservation.index;
    grant.granted = true;
    grant.value = {job_.name, job_.address, reservation.bytes, reservation.label};
    return grant;
}

void LineSerialSource::Finish(const ChipSerialValue& value, bool spent, const Outcome& outcome) {
    if (!index_) {
        return;
    }
    std::string error;
    const bool done = spent ? database_->Spend(job_.name, *index_, OutcomeName(outcome.kind), error)
                            : database_->Release(job_.name, *index_, error);
    if (!done && warn_) {
        // It stays reserved: never handed out again by itself, and serial status shows it.
        warn_("serial value " + value.label + " of job " + job_.name + " could not be marked " +
              (spent ? "spent" : "released") + ": " + error);
    }
    if (spent) {
        lastLabel_ = value.label;
    }
    index_.reset();
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
