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
    QString baseTitle;
};

WindowSerial::WindowSerial(CProgrammerDlg& window) : m_window(window), m_state(new State) {
    m_state->baseTitle = window.windowTitle();
}

WindowSerial::~WindowSerial() {
    if (m_state->source) {
        SetChipSerialSource(nullptr);
    }
}

bool WindowSerial::Available() {
    return true;
}

void WindowSerial::LoadChoice() {
    const LineSettingsNow settings = ReadLineSettings();
    std::lock_guard lock(m_state->mutex);
    m_state->job = settings.job;
    m_state->source =
        settings.job.empty() ? nullptr : std::make_shared<LazyLineSource>(settings.job, settings);
    SetChipSerialSource(m_state->source);
}

void WindowSerial::Choose(const std::string& job) {
    {
        SettingsStore store(SettingsStore::PathForKey(kSettingsKey));
        store.Load();
        store.SetString(kValueSerialJob, job);
        store.Save();
    }
    LoadChoice();
    m_window.setWindowTitle(m_state->baseTitle + TitleText());
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
    const QString title = m_state->baseTitle + TitleText();
    QMetaObject::invokeMethod(
        &m_window, [this, title] { m_window.setWindowTitle(title); }, Qt::QueuedConnection);
}

QString WindowSerial::TitleText() {
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
