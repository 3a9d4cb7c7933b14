#include "station/site_driver.h"

#include <nlohmann/json.hpp>

namespace koru::station {
namespace {

constexpr auto kReadPeriod = std::chrono::milliseconds(100);  // the thread's longest nap
constexpr auto kEndedPoll = std::chrono::milliseconds(20);    // pipes closed, exit awaited
constexpr auto kTerminateGrace = std::chrono::seconds(2);     // SIGTERM, then SIGKILL
constexpr auto kKilledWait = std::chrono::seconds(5);         // SIGKILL, then give up waiting
constexpr std::size_t kLongestLine = 64 * 1024;               // an event is far shorter

SiteResult ResultOfKind(const std::string& kind) {
    if (kind == "success") {
        return SiteResult::Passed;
    }
    if (kind == "chip-failed" || kind == "supply-fault") {
        return SiteResult::ChipFailed;
    }
    if (kind == "no-answer") {
        return SiteResult::NoAnswer;
    }
    if (kind == "link-lost") {
        return SiteResult::LinkLost;
    }
    if (kind == "refused") {
        return SiteResult::Refused;
    }
    return SiteResult::ProcessEnded;  // "ended", or a kind this station does not know
}

// The steps that change the chip: a process ended in one leaves a chip half done.
bool WritesChip(const std::string& step) {
    return step == "program" || step == "erase" || step == "smart" || step == "ldc-protect" ||
           step == "read-protect" || step == "hw-protect";
}

std::string Text(const nlohmann::json& event, const char* field) {
    const auto it = event.find(field);
    return it != event.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::uint64_t Number(const nlohmann::json& event, const char* field) {
    const auto it = event.find(field);
    return it != event.end() && it->is_number_unsigned() ? it->get<std::uint64_t>() : 0;
}

}  // namespace

const char* SiteResultName(SiteResult result) {
    switch (result) {
        case SiteResult::None:
            return "none";
        case SiteResult::Passed:
            return "passed";
        case SiteResult::ChipFailed:
            return "chip-failed";
        case SiteResult::NoAnswer:
            return "no-answer";
        case SiteResult::LinkLost:
            return "link-lost";
        case SiteResult::Refused:
            return "refused";
        case SiteResult::ProcessEnded:
            return "process-ended";
        case SiteResult::ProcessHung:
            return "process-hung";
    }
    return "none";
}

bool CountsAsFailed(SiteResult result) {
    // A refused run touched no chip.
    return result != SiteResult::None && result != SiteResult::Passed &&
           result != SiteResult::Refused;
}

SiteDriver::SiteDriver(std::string port, SiteSetup setup, std::function<void()> changed)
    : port_(std::move(port)), setup_(std::move(setup)), changed_(std::move(changed)) {
    snapshot_.port = port_;
    reader_ = std::thread([this] { Read(); });
}

SiteDriver::~SiteDriver() {
    Stop();
    quit_ = true;
    {
        std::lock_guard lock(mutex_);  // the thread is waiting or will see quit_ before it does
    }
    wake_.notify_all();
    reader_.join();
}

SiteSnapshot SiteDriver::Snapshot() const {
    std::lock_guard lock(mutex_);
    return snapshot_;
}

void SiteDriver::Notify() {
    if (changed_) {
        changed_();
    }
}

bool SiteDriver::StartProcessLocked(std::string& error) {
    std::vector<std::string> args{setup_.program, "--events", "jsonl", "--repeat", "--port", port_};
    args.insert(args.end(), setup_.args.begin(), setup_.args.end());
    ChildSetup childSetup;
    childSetup.ownGroup = true;  // Stop and the hang check end the chip's process with it
    childSetup.errorsApart = true;
    childSetup.inputPipe = true;
    auto child = std::make_unique<ChildProcess>();
    if (setup_.program.empty() || !child->Start(args, error, setup_.environment, childSetup)) {
        if (error.empty()) {
            error = "no program to run";
        }
        return false;
    }
    child_ = std::move(child);
    pending_.clear();
    ++generation_;
    stopping_ = false;
    return true;
}

bool SiteDriver::Start(std::string& error) {
    {
        std::lock_guard lock(mutex_);
        if (snapshot_.state == SiteState::Running || snapshot_.state == SiteState::Finishing) {
            error = port_ + ": a chip is running";
            return false;
        }
        if (stopping_) {
            error = port_ + ": the site is being stopped";
            return false;
        }
        if (!child_) {
            if (!StartProcessLocked(error)) {
                return false;
            }
        } else if (snapshot_.state != SiteState::Ready || !child_->WriteInput("\n")) {
            error = port_ + ": the site's process is ending";
            return false;
        }
        snapshot_.state = SiteState::Running;
        snapshot_.step.clear();
        snapshot_.done = snapshot_.total = 0;
        lastEvent_ = std::chrono::steady_clock::now();
    }
    wake_.notify_all();
    Notify();
    return true;
}

StopReport SiteDriver::Stop() {
    StopReport report;
    {
        std::unique_lock lock(mutex_);
        if (!child_) {
            return report;
        }
        report.wasRunning = true;
        stopping_ = true;
        // Between chips it ends at once; during a chip, once the chip is done (its input has
        // ended, so it does not wait for another).
        if (snapshot_.state == SiteState::Ready) {
            child_->WriteInput("q\n");
        }
        child_->CloseInput();
        const auto gone = [this] { return !child_; };
        if (!ended_.wait_for(lock, setup_.stopGrace, gone)) {
            report.cooperative = false;
            report.step = snapshot_.state == SiteState::Running ? snapshot_.step : "";
            report.midData = WritesChip(report.step);
            child_->Terminate();
            if (!ended_.wait_for(lock, kTerminateGrace, gone)) {
                child_->Kill();
                ended_.wait_for(lock, kKilledWait, gone);
            }
        }
    }
    Notify();
    return report;
}

void SiteDriver::TakeLine(std::string_view line) {
    const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
    if (!event.is_object()) {
        return;  // not an event: nothing of this stream's
    }
    ++snapshot_.events;
    lastEvent_ = std::chrono::steady_clock::now();
    const std::string type = Text(event, "type");
    if (type == "step") {
        snapshot_.step = Text(event, "name");
        snapshot_.done = snapshot_.total = 0;
    } else if (type == "progress") {
        snapshot_.done = Number(event, "done");
        snapshot_.total = Number(event, "total");
    } else if (type == "record") {
        const std::string serial = Text(event, "serial");
        if (!serial.empty()) {
            snapshot_.serial = serial;
        }
    } else if (type == "outcome") {
        snapshot_.result = ResultOfKind(Text(event, "kind"));
        snapshot_.failedStep = Text(event, "step");
        snapshot_.text = Text(event, "text");
        if (snapshot_.result == SiteResult::Passed) {
            ++snapshot_.passed;
        } else if (CountsAsFailed(snapshot_.result)) {
            ++snapshot_.failed;
        }
        snapshot_.state = SiteState::Finishing;
        snapshot_.step.clear();
        snapshot_.done = snapshot_.total = 0;
    } else if (type == "lot") {
        snapshot_.lot = Text(event, "name");
        snapshot_.lotPassed = Number(event, "passed");
        snapshot_.lotQuota = Number(event, "quota");
    } else if (type == "waiting") {
        if (snapshot_.state == SiteState::Finishing) {
            snapshot_.state = SiteState::Ready;
        }
    }
}

void SiteDriver::ProcessGone(int exitStatus) {
    if (snapshot_.state == SiteState::Running) {
        // No outcome came: the chip's fate is unknown, so it goes with the rejects.
        const bool hung =
            !stopping_ && std::chrono::steady_clock::now() - lastEvent_ >= setup_.silenceLimit;
        snapshot_.result = hung ? SiteResult::ProcessHung : SiteResult::ProcessEnded;
        snapshot_.failedStep = snapshot_.step;
        if (stopping_) {
            snapshot_.text = "ended by the station" +
                             (snapshot_.step.empty() ? std::string() : " during " + snapshot_.step);
        } else if (hung) {
            snapshot_.text = "the site's process fell silent and was ended";
        } else {
            snapshot_.text =
                "the site's process ended (exit status " + std::to_string(exitStatus) + ")";
        }
        ++snapshot_.failed;
        // What it had started (the chip's own process) may outlive it and hold the port.
        child_->Kill();
    }
    snapshot_.state = SiteState::Stopped;
    snapshot_.step.clear();
    snapshot_.done = snapshot_.total = 0;
    child_.reset();
    stopping_ = false;
    ended_.notify_all();
}

void SiteDriver::Read() {
    std::unique_lock lock(mutex_);
    while (!quit_) {
        if (!child_) {
            wake_.wait(lock, [this] { return quit_ || child_ != nullptr; });
            continue;
        }
        // Only this thread reads the pipes or ends child_, so the process stays while the
        // lock is let go for the wait.
        ChildProcess* const child = child_.get();
        const bool piped = child->OutputDescriptor() >= 0 || child->ErrorDescriptor() >= 0;
        lock.unlock();
        if (piped) {
            WaitForOutput({child}, kReadPeriod);
        }
        lock.lock();
        if (!piped) {
            wake_.wait_for(lock, kEndedPoll);  // its output has ended: only its exit is due
            if (quit_ || child_.get() != child) {
                continue;
            }
        }
        const SiteSnapshot before = snapshot_;
        std::string output;
        bool open = child->ReadOutput(output);
        std::string errors;  // its status lines, for people; read so that it never blocks
        open = child->ReadErrors(errors) || open;
        pending_ += output;
        std::size_t begin = 0;
        for (std::size_t end = pending_.find('\n'); end != std::string::npos;
             end = pending_.find('\n', begin)) {
            TakeLine(std::string_view(pending_).substr(begin, end - begin));
            begin = end + 1;
        }
        pending_.erase(0, begin);
        if (pending_.size() > kLongestLine) {
            pending_.clear();  // no event is this long: a flood of something else
        }
        if (snapshot_.state == SiteState::Running &&
            std::chrono::steady_clock::now() - lastEvent_ >= setup_.silenceLimit) {
            child->Kill();  // hung: it ends, and its end is reported below
        }
        bool gone = false;
        if (!open) {
            if (const std::optional<int> status = child->Ended()) {
                ProcessGone(*status);
                gone = true;
            }
        }
        const bool changed =
            gone || before.state != snapshot_.state || before.events != snapshot_.events;
        if (changed) {
            lock.unlock();
            Notify();
            lock.lock();
        }
    }
}

}  // namespace koru::station
