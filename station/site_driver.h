#pragma once

// One site of a station: a programmer on one port, driven through its own koru-cli process
// (--events jsonl --repeat), so that a site that hangs or crashes never holds up another. The
// driver starts the process, reads its events on a thread of its own, keeps the site's state,
// counts its chips, starts the next chip on request and notices a process that died or fell
// silent. Plain C++: the window only reads snapshots and is told when one changed.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/child_process.h"

namespace koru::station {

enum class SiteState : std::uint8_t {
    Stopped,    // no process: never started, ended, or ended by the driver
    Running,    // a chip is being programmed
    Finishing,  // the chip's outcome is in; the process is not yet ready for the next
    Ready,      // the process waits for the next chip
};

// The last chip's result as the station shows it.
enum class SiteResult : std::uint8_t {
    None,  // no chip yet
    Passed,
    ChipFailed,    // the chip is at fault, or the programmer reported a supply fault
    NoAnswer,      // the programmer stayed silent
    LinkLost,      // the port went away (a pulled adapter)
    Refused,       // the run was refused before any chip data (a bad file, a used-up job)
    ProcessEnded,  // the site's process ended without an outcome (a crash, a kill)
    ProcessHung,   // no event for longer than the silence limit: the process was ended
};

// Stable names for logs and tests: "none", "passed", "chip-failed", "no-answer", "link-lost",
// "refused", "process-ended", "process-hung".
const char* SiteResultName(SiteResult result);
// Whether the result counts as a failed chip (every result but None and Passed).
bool CountsAsFailed(SiteResult result);

struct SiteSnapshot {
    std::string port;
    SiteState state = SiteState::Stopped;
    std::string step;  // the running step's name; empty between steps
    std::uint64_t done = 0;
    std::uint64_t total = 0;  // 0: the step reports no bytes
    SiteResult result = SiteResult::None;
    std::string failedStep;  // the step the last chip failed in, if the site said
    std::string text;        // the last result's text for people
    std::string serial;      // the serial value of the last chip that took one
    std::uint64_t passed = 0;
    std::uint64_t failed = 0;
    std::uint64_t events = 0;  // events read so far (every process of this site)
    // The job's lot as this site last heard of it (every site of a line counts in one lot).
    std::string lot;
    std::uint64_t lotPassed = 0;
    std::uint64_t lotQuota = 0;
};

struct SiteSetup {
    std::string program;  // the koru-cli to run
    // The run's arguments without --port, --events and --repeat ("--mtp", "--verify",
    // "program", "firmware.hex", ...).
    std::vector<std::string> args;
    std::vector<std::string> environment;  // NAME=VALUE entries added to this process's
    // A running chip without an event for this long means a hung process: it is ended and the
    // chip counts as failed. Long enough for the slowest step's silence (a probe's retries).
    std::chrono::milliseconds silenceLimit{std::chrono::seconds(30)};
    // How long Stop waits for a process to end between chips before it ends it.
    std::chrono::milliseconds stopGrace{std::chrono::seconds(20)};
};

// What Stop did.
struct StopReport {
    bool wasRunning = false;  // a process was there to stop
    bool cooperative = true;  // it ended between chips as asked; false: it was ended
    bool midData = false;     // it was ended in a step that writes the chip
    std::string step;         // the step it was ended in, if any
};

class SiteDriver {
  public:
    // changed: called (on the driver's thread, or the caller's) whenever the snapshot changed;
    // it must not call back into the driver while it holds a lock of its own that Start or
    // Stop would need.
    SiteDriver(std::string port, SiteSetup setup, std::function<void()> changed = {});
    ~SiteDriver();  // Stop(), then the thread ends
    SiteDriver(const SiteDriver&) = delete;
    SiteDriver& operator=(const SiteDriver&) = delete;

    const std::string& Port() const { return port_; }

    // Starts the next chip: a new process when there is none (the first chip, or after a
    // crash), else the line that starts the next chip of the waiting process. False with the
    // reason while a chip is running (a site is never started twice) or when the process could
    // not be started.
    bool Start(std::string& error);

    // Ends the site's process: asks it to end between chips, waits up to the grace time (a
    // running chip may finish), then ends it (and says whether that was in a data step).
    StopReport Stop();

    SiteSnapshot Snapshot() const;

  private:
    void Read();
    void TakeLine(std::string_view line);
    void ProcessGone(int exitStatus);
    void Notify();
    bool StartProcessLocked(std::string& error);

    const std::string port_;
    const SiteSetup setup_;
    const std::function<void()> changed_;

    mutable std::mutex mutex_;
    std::condition_variable ended_;  // the process has gone
    SiteSnapshot snapshot_;
    std::unique_ptr<ChildProcess> child_;  // the running process; guarded by mutex_
    std::string pending_;                  // a part line of events
    std::chrono::steady_clock::time_point lastEvent_;
    std::uint64_t generation_ = 0;  // counts processes, so the thread knows a new one
    bool stopping_ = false;         // Stop is ending the process: its end is no crash

    std::atomic<bool> quit_{false};
    std::condition_variable wake_;  // a process was started, or the thread must end
    std::thread reader_;            // last: it starts once everything else is in place
};

}  // namespace koru::station
