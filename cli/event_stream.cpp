#include "cli/event_stream.h"

#include <algorithm>

#include "image/program_memory.h"
#include "link/connection.h"
#include "operations/production_record.h"
#include "operations/runner.h"

namespace koru::cli {
namespace {

// The name of a step in events: the record's names for the steps of auto-programming and the
// probe, and names of their own for the other operations koru-cli runs.
std::string EventStepName(std::uint8_t code) {
    switch (code) {
        case 0:  // nothing ran yet: the probe, which is no operation of the runner
            return StepName(kProbeCode);
        case kVerifyChip:
            return "verify-data";
        case kBufferChecksum:
            return "image-checksum";
        case kAutoProgram:
            return "auto-program";
        case kSaveHexFile:
            return "save";
        case kCopyChipToImage:
            return "read";
        default:
            return StepName(code);
    }
}

}  // namespace

std::int64_t EventTime() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

Event MakeEvent(std::string_view type, const std::string& port) {
    return {{"v", kEventStreamVersion}, {"type", type}, {"port", port}, {"t", EventTime()}};
}

Event OutcomeEvent(const std::string& port, const std::string& kind, const std::string& step,
                   const std::string& text, int exitStatus) {
    Event event = MakeEvent("outcome", port);
    event["kind"] = kind;
    event["step"] = step.empty() ? Event() : Event(step);
    event["text"] = text;
    event["exit"] = exitStatus;
    return event;
}

std::optional<nlohmann::json> ParseEvent(std::string_view line) {
    nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
    if (event.is_discarded() || !event.is_object() || !event.contains("type") ||
        !event["type"].is_string() || !event.contains("v")) {
        return std::nullopt;
    }
    return event;
}

EventStream::EventStream(std::FILE* out, std::string port) : out_(out), port_(std::move(port)) {}

void EventStream::WriteLocked(const Event& event) {
    // Invalid UTF-8 in a text (a file name, a driver's message) is replaced, never thrown on.
    const std::string line = event.dump(-1, ' ', false, Event::error_handler_t::replace) + "\n";
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fflush(out_);
}

void EventStream::Write(const Event& event) {
    std::lock_guard lock(mutex_);
    WriteLocked(event);
}

void EventStream::Connected() {
    std::lock_guard lock(mutex_);
    FlushResultLocked();  // the probe's
    Event event = MakeEvent("connected", port_);
    event["programmer"] = kProgrammerVersion;
    WriteLocked(event);
}

void EventStream::FlushResultLocked() {
    if (!step_ || !result_) {
        return;
    }
    Event event = MakeEvent("step-result", port_);
    event["name"] = EventStepName(*step_);
    event["ok"] = result_->ok;
    event["text"] = result_->text;
    WriteLocked(event);
    result_.reset();
    resultWritten_ = true;
}

void EventStream::BeginStepLocked(std::uint8_t step) {
    if (step_ == step) {
        return;
    }
    FlushResultLocked();
    step_ = step;
    resultWritten_ = false;
    meter_.End();
    Event event = MakeEvent("step", port_);
    event["name"] = EventStepName(step);
    WriteLocked(event);
}

void EventStream::Status(const std::string& text, bool result, std::uint8_t step, bool stepFailed) {
    std::lock_guard lock(mutex_);
    BeginStepLocked(step);
    if (result) {
        // A step may state several results (a checksum, then the verdict on it; a lost link's
        // text after either): its last one is its result, written when the step is over.
        meter_.End();
        if (!result_ || result_->ok) {
            result_ = StepResult{!stepFailed, text};
        }
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    const auto figures = meter_.Update(text, StartAddress, EndAddress, now);
    if (!figures || figures->total == 0) {
        return;
    }
    const bool last = figures->done >= figures->total;
    if (!figures->first && !last && now - lastProgress_ < kProgressEventPeriod) {
        return;
    }
    if (!figures->first && figures->done == lastDone_) {
        return;
    }
    lastProgress_ = now;
    lastDone_ = figures->done;
    Event event = MakeEvent("progress", port_);
    event["step"] = EventStepName(step);
    event["done"] = std::min(figures->done, figures->total);
    event["total"] = figures->total;
    WriteLocked(event);
}

void EventStream::Record(const std::string& id, const std::string& serialValue,
                         const koru::Outcome& outcome) {
    std::lock_guard lock(mutex_);
    SettleLocked(outcome);
    Event event = MakeEvent("record", port_);
    event["id"] = id;
    event["serial"] = serialValue.empty() ? Event() : Event(serialValue);
    WriteLocked(event);
}

void EventStream::Lot(const std::string& name, std::int64_t passed, std::int64_t quota) {
    std::lock_guard lock(mutex_);
    Event event = MakeEvent("lot", port_);
    event["name"] = name;
    event["passed"] = passed;
    event["quota"] = quota;
    WriteLocked(event);
}

void EventStream::Outcome(const koru::Outcome& outcome, int exitStatus) {
    const bool failed = outcome.kind != OutcomeKind::Success;
    const std::string step = failed && outcome.step != 0 ? EventStepName(outcome.step) : "";
    std::lock_guard lock(mutex_);
    SettleLocked(outcome);
    WriteLocked(OutcomeEvent(port_, OutcomeName(outcome.kind), step, outcome.status, exitStatus));
}

void EventStream::SettleLocked(const koru::Outcome& outcome) {
    const bool failed = outcome.kind != OutcomeKind::Success;
    const std::string step = failed && outcome.step != 0 ? EventStepName(outcome.step) : "";
    if (step_ && !resultWritten_) {
        // The step the run ended in: a failure the engine recorded without a text of its own
        // (a silence) overrides what the step said before; a step that said nothing gets the
        // run's word.
        const bool endedHere = step.empty() || step == EventStepName(*step_);
        if (failed && endedHere && (!result_ || result_->ok)) {
            result_ = StepResult{false, outcome.status};
        } else if (!result_) {
            result_ = StepResult{!failed, outcome.status};
        }
        FlushResultLocked();
    }
}

}  // namespace koru::cli
