#include "linedb/line_station.h"

#include <mutex>

#include "linedb/line_database_location.h"
#include "linedb/line_serial_source.h"
#include "linedb/record_upload.h"
#include "link/connection.h"
#include "platform/host_clock.h"

namespace koru {
namespace {

SerialHolder ThisProcessOn(const std::string& port) {
    return SerialHolder{HostName(), port, ProcessId()};
}

// A job's values behind the chips' serial source: the job found before (koru-cli), or found
// when a chip asks (the window). Labels: the value just programmed and the next one.
class StationSerial : public ChipSerialSource {
  public:
    virtual std::pair<std::string, std::string> Labels() = 0;
};

class FoundJobSerial final : public StationSerial {
  public:
    explicit FoundJobSerial(std::shared_ptr<LineSerialSource> inner) : m_inner(std::move(inner)) {}
    ChipSerialGrant Reserve() override { return m_inner->Reserve(); }
    bool StartSending(const ChipSerialValue& value, std::string& refusal) override {
        return m_inner->StartSending(value, refusal);
    }
    void Finish(const ChipSerialValue& value, bool spent, const Outcome& outcome) override {
        m_inner->Finish(value, spent, outcome);
    }
    std::pair<std::string, std::string> Labels() override {
        const std::string last = m_inner->LastLabel();
        return {last, last.empty() ? std::string() : m_inner->NextLabel()};
    }

  private:
    std::shared_ptr<LineSerialSource> m_inner;
};

class JobSerialWhenAsked final : public StationSerial {
  public:
    JobSerialWhenAsked(std::string job, LineSettings settings)
        : m_job(std::move(job)), m_settings(std::move(settings)) {}

    ChipSerialGrant Reserve() override {
        std::lock_guard lock(m_mutex);
        const std::string port = OpenPortName();
        if (!m_inner || m_port != port) {
            std::string error;
            std::shared_ptr<LineDatabase> database = LineDatabase::Open(m_settings.database, error);
            std::optional<SerialJob> job;
            if (database) {
                job = database->Job(m_job, error);
                if (!job && error.empty()) {
                    error = "no serial job named " + m_job + " in " + database->Name();
                }
            }
            if (!job) {
                ChipSerialGrant refused;
                refused.refusal = "序列号: " + error;
                return refused;
            }
            m_port = port;
            m_inner = std::make_shared<LineSerialSource>(
                database, *job, ThisProcessOn(port),
                AllowedSerialCommands(m_settings.serialCommands), nullptr);
        }
        ChipSerialGrant grant = m_inner->Reserve();
        if (!grant.granted && !grant.usedUp) {
            m_last = m_inner->LastLabel();
            m_inner.reset();  // connect afresh for the next chip
        }
        return grant;
    }

    bool StartSending(const ChipSerialValue& value, std::string& refusal) override {
        std::lock_guard lock(m_mutex);
        if (!m_inner) {
            refusal = "序列号: " + value.label + " is not held";
            return false;
        }
        return m_inner->StartSending(value, refusal);
    }

    void Finish(const ChipSerialValue& value, bool spent, const Outcome& outcome) override {
        std::lock_guard lock(m_mutex);
        if (m_inner) {
            m_inner->Finish(value, spent, outcome);
            m_last = m_inner->LastLabel();
        }
    }

    std::pair<std::string, std::string> Labels() override {
        std::lock_guard lock(m_mutex);
        return {m_last, m_inner ? m_inner->NextLabel() : std::string()};
    }

  private:
    std::mutex m_mutex;
    std::string m_job;
    LineSettings m_settings;
    std::string m_port;
    std::shared_ptr<LineSerialSource> m_inner;
    std::string m_last;
};

}  // namespace

struct LineStation::State {
    LineSettings settings;
    std::function<void(const std::string&)> warn;
    mutable std::mutex mutex;  // the window takes lot places on its thread, the worker stores
    std::shared_ptr<LineDatabase> database;
    bool openTried = false;  // since the last failure: a record never waits on a second try
    bool reconnect = false;  // an upload failed: the next record connects afresh
    std::shared_ptr<StationSerial> serial;
    std::string lot;
    std::optional<LotPlace> place;

    // Chosen when asked: an empty setting means the default of the environment then.
    std::string Location() const { return ChooseLineDatabase(std::nullopt, settings.database); }

    void Warn(const std::string& text) const {
        if (warn) {
            warn(text);
        }
    }

    // drain: sends the queued records once the database is open.
    bool OpenLocked(bool drain, std::string& error) {
        openTried = true;
        reconnect = false;
        database = LineDatabase::Open(Location(), error);
        if (!database) {
            return false;
        }
        std::size_t sent = 0, left = 0;
        if (drain && !UploadQueuedRecords(*database, sent, left, error) && left != 0) {
            Warn(std::to_string(left) + " records still wait for the line database: " + error);
        }
        return true;
    }

    // A connection for the lot and the jobs: the one open, else a fresh one.
    bool EnsureOpen(std::string& error) {
        return (database && !reconnect) || OpenLocked(false, error);
    }

    void Install(std::shared_ptr<StationSerial> source) {
        serial = std::move(source);
        SetChipSerialSource(serial);
    }
};

LineStation::LineStation(LineSettings settings, std::function<void(const std::string&)> warn)
    : state_(std::make_unique<State>()) {
    state_->settings = std::move(settings);
    state_->warn = std::move(warn);
}

LineStation::~LineStation() {
    if (state_->serial) {
        SetChipSerialSource(nullptr);
    }
    if (state_->place && state_->database) {
        // The run ended before its chip was judged (no programmer, a refusal): the place goes
        // back to the lot.
        LotCount count;
        std::string error;
        if (!state_->database->FinishLotPlace(state_->lot, *state_->place, false, count, error)) {
            state_->Warn("lot " + state_->lot + ": the chip's place did not go back: " + error);
        }
    }
}

bool LineStation::Available() {
    return true;
}

std::string LineStation::Location() const {
    return state_->Location();
}

bool LineStation::Open(std::string& error) {
    std::lock_guard lock(state_->mutex);
    return state_->OpenLocked(true, error);
}

bool LineStation::Connect(std::string& error) {
    std::lock_guard lock(state_->mutex);
    return state_->EnsureOpen(error);
}

bool LineStation::IsOpen() const {
    std::lock_guard lock(state_->mutex);
    return state_->database != nullptr;
}

std::string LineStation::Name() const {
    std::lock_guard lock(state_->mutex);
    return state_->database ? state_->database->Name() : std::string();
}

std::optional<SerialJob> LineStation::Job(const std::string& name, std::string& error) {
    std::lock_guard lock(state_->mutex);
    if (!state_->EnsureOpen(error)) {
        return std::nullopt;
    }
    auto job = state_->database->Job(name, error);
    if (!job && error.empty()) {
        error = "no serial job named " + name + " in " + state_->database->Name();
    }
    return job;
}

std::optional<std::int64_t> LineStation::ValuesLeft(const std::string& job) {
    std::lock_guard lock(state_->mutex);
    std::vector<SerialJobStatus> status;
    std::string error;
    if (!state_->EnsureOpen(error) || !state_->database->Status(job, status, error) ||
        status.empty()) {
        return std::nullopt;
    }
    return status[0].left;
}

void LineStation::UseSerialJob(const SerialJob& job, const std::string& port) {
    std::lock_guard lock(state_->mutex);
    auto inner =
        std::make_shared<LineSerialSource>(state_->database, job, ThisProcessOn(port),
                                           AllowedSerialCommands(state_->settings.serialCommands),
                                           [this](const std::string& text) { state_->Warn(text); });
    state_->Install(std::make_shared<FoundJobSerial>(std::move(inner)));
}

void LineStation::UseSerialJobWhenAsked(const std::string& job, const LineSettings& settings) {
    LineSettings chosen = settings;
    chosen.database = ChooseLineDatabase(std::nullopt, settings.database);
    std::lock_guard lock(state_->mutex);
    state_->Install(job.empty() ? nullptr
                                : std::make_shared<JobSerialWhenAsked>(job, std::move(chosen)));
}

std::pair<std::string, std::string> LineStation::SerialLabels() {
    std::shared_ptr<StationSerial> serial;
    {
        std::lock_guard lock(state_->mutex);
        serial = state_->serial;
    }
    return serial ? serial->Labels() : std::pair<std::string, std::string>();
}

void LineStation::Store(const nlohmann::json& record) {
    std::lock_guard lock(state_->mutex);
    std::string error;
    if (state_->reconnect || (!state_->database && !state_->openTried)) {
        state_->OpenLocked(true, error);
    }
    if (!UploadOrQueue(state_->database.get(), record, error)) {
        state_->Warn("the record did not reach the line database (kept for koru-cli sync): " +
                     error);
        state_->reconnect = true;
    }
}

LotPlaceResult LineStation::TakeLotPlace(const LotRun& run, const std::string& port,
                                         LotCount& count, std::string& error) {
    std::lock_guard lock(state_->mutex);
    if (!state_->EnsureOpen(error)) {
        return LotPlaceResult::Failed;
    }
    LotPlace place;
    const LotPlaceResult result = state_->database->TakeLotPlace(
        run, ThisProcessOn(port), [](long pid) { return ProcessRunning(pid); }, place, count,
        error);
    if (result == LotPlaceResult::Taken) {
        state_->lot = run.name;
        state_->place = place;
    } else if (result != LotPlaceResult::Full) {
        state_->database.reset();  // connect afresh for the next chip
        state_->openTried = false;
    }
    return result;
}

bool LineStation::HoldsLotPlace() const {
    std::lock_guard lock(state_->mutex);
    return state_->place.has_value();
}

bool LineStation::FinishLotPlace(bool passed, LotCount& count, std::string& error) {
    std::lock_guard lock(state_->mutex);
    if (!state_->place || !state_->database) {
        error = "no place held in a lot";
        return false;
    }
    const LotPlace place = *state_->place;
    state_->place.reset();
    if (!state_->database->FinishLotPlace(state_->lot, place, passed, count, error)) {
        state_->reconnect = true;
        return false;
    }
    return true;
}

void LineStation::ForgetLotPlace() {
    std::lock_guard lock(state_->mutex);
    state_->place.reset();
}

bool LineStation::LotRecordLines(const std::string& lot, std::vector<std::string>& lines,
                                 std::string& error) {
    std::lock_guard lock(state_->mutex);
    if (!state_->EnsureOpen(error)) {
        return false;
    }
    return state_->database->LotRecordLines(lot, lines, error);
}

}  // namespace koru
