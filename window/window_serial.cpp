#include "window/window_serial.h"

#include <QMetaObject>
#include <mutex>

#include "core/settings_words.h"
#include "linedb/line_database_location.h"
#include "linedb/line_serial_source.h"
#include "linedb/record_upload.h"
#include "link/connection.h"
#include "platform/host_clock.h"
#include "platform/settings_store.h"
#include "window/programmer_dlg.h"
#include "window/serial_settings_dialog.h"

namespace koru {
namespace {

struct LineSettingsNow {
    std::string database;
    std::string commands;
    std::string job;
};

LineSettingsNow ReadLineSettings() {
    SettingsStore store(SettingsStore::PathForKey(kSettingsKey));
    store.Load();
    return {ChooseLineDatabase(std::nullopt, store.GetString(kValueLineDb)),
            store.GetString(kValueSerialCommands).value_or(""),
            store.GetString(kValueSerialJob).value_or("")};
}

// The chosen job's values, reached when a run asks: a database that is down refuses that chip
// with its reason and is tried again for the next one.
class LazyLineSource final : public ChipSerialSource {
  public:
    LazyLineSource(std::string job, LineSettingsNow settings)
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
                database, *job, SerialHolder{HostName(), port, ProcessId()},
                AllowedSerialCommands(m_settings.commands), nullptr);
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

    // The value just programmed and the next one (empty when unknown).
    std::pair<std::string, std::string> Labels() {
        std::lock_guard lock(m_mutex);
        return {m_last, m_inner ? m_inner->NextLabel() : std::string()};
    }

  private:
    std::mutex m_mutex;
    std::string m_job;
    LineSettingsNow m_settings;
    std::string m_port;
    std::shared_ptr<LineSerialSource> m_inner;
    std::string m_last;
};

}  // namespace

struct WindowSerial::State {
    std::mutex mutex;
    std::string job;
    std::shared_ptr<LazyLineSource> source;
    std::unique_ptr<LineDatabase> uploads;  // used on the worker only
    QString titleText;  // made on the worker after each record, shown by the window
};

WindowSerial::WindowSerial(CProgrammerDlg& window) : m_window(window), m_state(new State) {}

WindowSerial::~WindowSerial() {
    if (m_state->source) {
        SetChipSerialSource(nullptr);
    }
}

bool WindowSerial::Available() {
    return true;
}

void WindowSerial::LoadChoice() {
    Use(ReadLineSettings().job);
}

void WindowSerial::Use(const std::string& job) {
    LineSettingsNow settings = ReadLineSettings();
    settings.job = job;
    {
        std::lock_guard lock(m_state->mutex);
        m_state->job = job;
        m_state->source = job.empty() ? nullptr : std::make_shared<LazyLineSource>(job, settings);
        SetChipSerialSource(m_state->source);
    }
    const QString text = ComposeTitleText();
    std::lock_guard lock(m_state->mutex);
    m_state->titleText = text;
}

void WindowSerial::Choose(const std::string& job, bool save) {
    if (save) {
        SettingsStore store(SettingsStore::PathForKey(kSettingsKey));
        store.Load();
        store.SetString(kValueSerialJob, job);
        store.Save();
    }
    Use(job);
    m_window.RefreshTitle();
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> WindowSerial::Place(const std::string& name,
                                                                           std::string& error) {
    const auto database = LineDatabase::Open(ReadLineSettings().database, error);
    if (!database) {
        return std::nullopt;
    }
    const auto job = database->Job(name, error);
    if (!job) {
        if (error.empty()) {
            error = "no serial job named " + name + " in " + database->Name();
        }
        return std::nullopt;
    }
    return std::pair{job->address, static_cast<std::uint32_t>(job->size)};
}

const std::string& WindowSerial::Chosen() const {
    return m_state->job;
}

void WindowSerial::ShowDialog() {
    SerialSettingsDialog dialog(&m_window, ReadLineSettings().database, Chosen());
    if (dialog.exec() == QDialog::Accepted) {
        Choose(dialog.ChosenJob());
    }
}

void WindowSerial::AfterRecord(const nlohmann::json& record) {
    std::string error;
    if (!m_state->uploads) {
        m_state->uploads = LineDatabase::Open(ReadLineSettings().database, error);
        std::size_t sent = 0, left = 0;
        if (m_state->uploads) {
            UploadQueuedRecords(*m_state->uploads, sent, left, error);
        }
    }
    if (!UploadOrQueue(m_state->uploads.get(), record, error)) {
        m_state->uploads.reset();  // connect afresh next time
    }
    const QString text = ComposeTitleText();
    {
        std::lock_guard lock(m_state->mutex);
        m_state->titleText = text;
    }
    QMetaObject::invokeMethod(
        &m_window, [this] { m_window.RefreshTitle(); }, Qt::QueuedConnection);
}

QString WindowSerial::TitleText() {
    std::lock_guard lock(m_state->mutex);
    return m_state->titleText;
}

QString WindowSerial::ComposeTitleText() {
    std::shared_ptr<LazyLineSource> source;
    std::string job;
    {
        std::lock_guard lock(m_state->mutex);
        source = m_state->source;
        job = m_state->job;
    }
    if (!source) {
        return {};
    }
    const auto [last, next] = source->Labels();
    QString text = QStringLiteral("   序列号 ") + QString::fromStdString(job);
    if (!last.empty()) {
        text += QStringLiteral(": ") + QString::fromStdString(last);
    }
    if (!next.empty()) {
        text += QStringLiteral(", 下一个 ") + QString::fromStdString(next);
    }
    return text;
}

}  // namespace koru
