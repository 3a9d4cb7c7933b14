#include "window/window_lot.h"

#include <mutex>

#include "core/settings_words.h"
#include "linedb/line_database.h"
#include "linedb/line_database_location.h"
#include "linedb/line_serial_source.h"
#include "operations/job_file.h"
#include "platform/host_clock.h"
#include "platform/settings_store.h"

namespace koru {

struct WindowLot::State {
    mutable std::mutex mutex;  // the window's thread takes, the worker finishes
    std::optional<WindowLotChoice> lot;
    std::unique_ptr<LineDatabase> database;
    std::optional<LotPlace> place;
    std::optional<LotCount> count;
};

WindowLot::WindowLot() : m_state(new State) {}
WindowLot::~WindowLot() = default;

void WindowLot::Use(std::optional<WindowLotChoice> lot) {
    std::lock_guard lock(m_state->mutex);
    m_state->lot = std::move(lot);
    m_state->place.reset();  // a place left held goes back when this process has ended
    m_state->count.reset();
}

bool WindowLot::TakePlace(const std::string& port, std::string& refusal) {
    std::lock_guard lock(m_state->mutex);
    if (!m_state->lot || m_state->place) {
        return true;
    }
    const WindowLotChoice& lot = *m_state->lot;
    std::string error;
    if (!m_state->database) {
        SettingsStore store(SettingsStore::PathForKey(kSettingsKey));
        store.Load();
        m_state->database = LineDatabase::Open(
            ChooseLineDatabase(std::nullopt, store.GetString(kValueLineDb)), error);
        if (!m_state->database) {
            refusal = "本批 " + lot.name + ": 数量记在生产线数据库中,数据库不能用: " + error +
                      "。芯片未编程。";
            return false;
        }
    }
    const LotRun run{lot.name, lot.job, lot.checksum, static_cast<std::int64_t>(lot.quota)};
    LotPlace place;
    LotCount count;
    const LotPlaceResult result = m_state->database->TakeLotPlace(
        run, SerialHolder{HostName(), port, ProcessId()},
        [](long pid) { return ProcessRunning(pid); }, place, count, error);
    m_state->count = count;
    switch (result) {
        case LotPlaceResult::Taken:
            m_state->place = place;
            return true;
        case LotPlaceResult::Full:
            refusal = std::string(count.Complete() ? kLotCompleteText : kLotFullText) + ": 本批 " +
                      lot.name + " " + std::to_string(count.passed) + "/" +
                      std::to_string(lot.quota) + "。芯片未编程。";
            return false;
        case LotPlaceResult::Refused:
        case LotPlaceResult::Failed:
            break;
    }
    m_state->database.reset();  // connect afresh for the next chip
    refusal = "本批 " + lot.name + ": " + error + "。芯片未编程。";
    return false;
}

std::string WindowLot::Finish(bool passed) {
    std::lock_guard lock(m_state->mutex);
    if (!m_state->lot || !m_state->place || !m_state->database) {
        return {};
    }
    const LotPlace place = *m_state->place;
    m_state->place.reset();
    LotCount count;
    std::string error;
    if (!m_state->database->FinishLotPlace(m_state->lot->name, place, passed, count, error)) {
        m_state->database.reset();
        return "本批 " + m_state->lot->name + ": " + error;
    }
    m_state->count = count;
    const std::string progress =
        std::to_string(count.passed) + "/" + std::to_string(m_state->lot->quota);
    if (passed && count.Complete()) {
        return std::string(kLotCompleteText) + " " + progress + " (koru-cli report --lot \"" +
               m_state->lot->name + "\")";
    }
    return "本批 " + progress;
}

QString WindowLot::TitleText() const {
    std::lock_guard lock(m_state->mutex);
    if (!m_state->lot) {
        return {};
    }
    const std::uint64_t passed =
        m_state->count ? static_cast<std::uint64_t>(m_state->count->passed) : 0;
    return QStringLiteral("   本批 %1 %2/%3")
        .arg(QString::fromStdString(m_state->lot->name))
        .arg(passed)
        .arg(m_state->lot->quota);
}

}  // namespace koru
