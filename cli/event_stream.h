#pragma once

// koru-cli's machine interface (--events jsonl): one JSON object a line on standard output,
// written whole and flushed at once, so a reader never waits for a line or sees half of one.
// Every event has "v" (the stream's version), "type", "port" and "t" (milliseconds on the
// monotonic clock, which all processes of one machine share). Human texts go elsewhere.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "core/outcome.h"
#include "operations/progress_meter.h"

namespace koru::cli {

// The stream's version: a field's meaning changes or one goes away only with a new version.
inline constexpr int kEventStreamVersion = 1;
// The one format --events takes.
inline constexpr char kEventFormat[] = "jsonl";

// The programmer the link speaks to; it reports no version of its own on the wire.
inline constexpr char kProgrammerVersion[] = "KORU V2.0B";

// Progress events of one step come at most this often; a step's first and its last bytes
// always come.
inline constexpr auto kProgressEventPeriod = std::chrono::milliseconds(250);

// An event keeps its fields in the order they were set: v, type, port and t lead every line.
using Event = nlohmann::ordered_json;

// The monotonic time of events, in milliseconds.
std::int64_t EventTime();

// An event of type for port with the common fields in place.
Event MakeEvent(std::string_view type, const std::string& port);

// An "outcome" event: kind is an outcome name (OutcomeName), or "ended" where a port's process
// ended without stating one (a crash, a signal, a program that could not start); step: the
// failed step's name, empty for none; exitStatus: what the port's process ends with.
Event OutcomeEvent(const std::string& port, const std::string& kind, const std::string& step,
                   const std::string& text, int exitStatus);

// The parsed event of one line, when the line is one (an object with "type" and "v"); nothing
// for anything else.
std::optional<nlohmann::json> ParseEvent(std::string_view line);

// Writes the events of one port's run to out. Safe to call from any thread.
class EventStream {
  public:
    EventStream(std::FILE* out, std::string port);

    void Write(const Event& event);

    // The events made from what the engine shows, in the order it shows them:
    void Connected();
    // A status text as the console shows it; result: the text states a step's result;
    // stepFailed: the engine's outcome is a failure. Makes "step" when a step begins (step is
    // its operation code) and "progress" for its progress texts; its "step-result" (its last
    // result; a failure stays) comes once the next step begins or the outcome comes.
    void Status(const std::string& text, bool result, std::uint8_t step, bool stepFailed);
    // The record of a chip: its id and the serial value it holds (empty: none); outcome: the
    // run's, which settles the result of the step it ended in.
    void Record(const std::string& id, const std::string& serialValue,
                const koru::Outcome& outcome);
    // A job's lot after the chip's place in it was settled: its passed chips and quota.
    void Lot(const std::string& name, std::int64_t passed, std::int64_t quota);
    // The run's outcome and the exit status the process ends with.
    void Outcome(const koru::Outcome& outcome, int exitStatus);

    const std::string& Port() const { return port_; }

  private:
    struct StepResult {
        bool ok = true;
        std::string text;
    };

    void BeginStepLocked(std::uint8_t step);
    // Writes the result held for the step being followed, if any.
    void FlushResultLocked();
    // The run is over with outcome: the step it ended in gets its result now.
    void SettleLocked(const koru::Outcome& outcome);
    void WriteLocked(const Event& event);

    std::mutex mutex_;
    std::FILE* out_;
    std::string port_;
    std::optional<std::uint8_t> step_;  // the step whose "step" event was written
    bool resultWritten_ = false;        // its "step-result" was written
    std::optional<StepResult> result_;  // its result, written once the step is over
    ProgressMeter meter_;
    std::chrono::steady_clock::time_point lastProgress_;
    std::uint64_t lastDone_ = 0;
};

}  // namespace koru::cli
