#include "window/window_lot.h"

#include <chrono>
#include <filesystem>
#include <mutex>

#include "core/settings_words.h"
#include "linedb/line_station.h"
#include "operations/job_file.h"
#include "operations/production_log.h"
#include "platform/child_process.h"
#include "platform/settings_store.h"
#include "window/station/station_window.h"

namespace koru {
namespace {

constexpr auto kReportTimeLimit = std::chrono::seconds(60);
constexpr std::size_t kKeptOutput = 4096;

// The lot's page beside the day files, where koru-cli's chip that completes a lot puts it, made
// by koru-cli's own report from the line database (bounded in time). Its path, or nothing with
// the reason.
std::optional<std::string> WriteLotReport(const std::string& database, const std::string& lot,
                                          std::string& error) {
    const std::filesystem::path folder = DefaultProductionFolder();
    std::error_code made;
    std::filesystem::create_directories(folder, made);
    const std::string path = (folder / LotReportFileName(lot)).string();
    ChildProcess child;
    ChildSetup setup;
    setup.ownGroup = true;
    if (!child.Start({StationCliPath(), "report", "--db", database, "--lot", lot, "--html", path},
                     error, {}, setup)) {
        return std::nullopt;
    }
    const auto deadline = std::chrono::steady_clock::now() + kReportTimeLimit;
    std::string output;
    while (child.ReadOutput(output)) {
        if (output.size() > kKeptOutput) {
            output.erase(0, output.size() - kKeptOutput);  // the end says why, if anything
        }
        if (std::chrono::steady_clock::now() > deadline) {
            child.Kill();
            child.Wait();
            error = "koru-cli report did not end within 60 s";
            return std::nullopt;
        }
        WaitForOutput({&child}, std::chrono::milliseconds(200));
    }
    if (const int status = child.Wait(); status != 0) {
        error = "koru-cli report ended with " + std::to_string(status) + ": " + output;
        return std::nullopt;
    }
    return path;
}

}  // namespace

struct WindowLot::State {
    mutable std::mutex mutex;  // the window's thread takes, the worker finishes
    std::optional<WindowLotChoice> lot;
    std::unique_ptr<LineStation> station;  // made at the first chip
    std::optional<LotCount> count;
};

WindowLot::WindowLot() : m_state(new State) {}

WindowLot::~WindowLot() {
    // A place still held goes back once this process has ended: closing never waits for the
    // database.
    if (m_state->station) {
        m_state->station->ForgetLotPlace();
    }
}

void WindowLot::Use(std::optional<WindowLotChoice> lot) {
    std::lock_guard lock(m_state->mutex);
    m_state->lot = std::move(lot);
    if (m_state->station) {
        m_state->station->ForgetLotPlace();  // goes back when this process has ended
    }
    m_state->count.reset();
}

bool WindowLot::TakePlace(const std::string& port, std::string& refusal) {
    std::lock_guard lock(m_state->mutex);
    if (!m_state->lot || (m_state->station && m_state->station->HoldsLotPlace())) {
        return true;
    }
    const WindowLotChoice& lot = *m_state->lot;
    if (!m_state->station) {
        SettingsStore store(SettingsStore::PathForKey(kSettingsKey));
        store.Load();
        m_state->station = std::make_unique<LineStation>(
            LineSettings{store.GetString(kValueLineDb).value_or(""), ""});
    }
    std::string error;
    if (!m_state->station->Connect(error)) {
        refusal = "本批 " + lot.name + ": 数量记在生产线数据库中,数据库不能用: " + error +
                  "。芯片未编程。";
        return false;
    }
    const LotRun run{lot.name, lot.job, lot.checksum, static_cast<std::int64_t>(lot.quota)};
    LotCount count;
    const LotPlaceResult result = m_state->station->TakeLotPlace(run, port, count, error);
    m_state->count = count;
    switch (result) {
        case LotPlaceResult::Taken:
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
    refusal = "本批 " + lot.name + ": " + error + "。芯片未编程。";
    return false;
}

std::string WindowLot::Finish(bool passed) {
    std::string lot, database, progress;
    {
        std::lock_guard lock(m_state->mutex);
        if (!m_state->lot || !m_state->station || !m_state->station->HoldsLotPlace()) {
            return {};
        }
        LotCount count;
        std::string error;
        if (!m_state->station->FinishLotPlace(passed, count, error)) {
            return "本批 " + m_state->lot->name + ": " + error;
        }
        m_state->count = count;
        progress = std::to_string(count.passed) + "/" + std::to_string(m_state->lot->quota);
        if (!passed || !count.Complete()) {
            return "本批 " + progress;
        }
        lot = m_state->lot->name;
        database = m_state->station->Location();
    }
    // This chip completed the lot: every chip of it has stored its record by now. The page is
    // made without the lock, so the window's title never waits for it.
    std::string error;
    const std::optional<std::string> report = WriteLotReport(database, lot, error);
    return std::string(kLotCompleteText) + " " + progress +
           (report ? ", 报告 " + *report : " (报告未写成: " + error + ")");
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
