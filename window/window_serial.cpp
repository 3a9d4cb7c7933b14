#include "window/window_serial.h"

#include <QMetaObject>
#include <mutex>

#include "core/settings_words.h"
#include "linedb/line_station.h"
#include "platform/settings_store.h"
#if KORU_WITH_LINEDB
#include "window/serial_settings_dialog.h"
#endif

namespace koru {
namespace {

struct SavedLineChoice {
    LineSettings line;
    std::string job;
};

SavedLineChoice ReadLineSettings() {
    SettingsStore store(SettingsStore::PathForKey(kSettingsKey));
    store.Load();
    return {{store.GetString(kValueLineDb).value_or(""),
             store.GetString(kValueSerialCommands).value_or("")},
            store.GetString(kValueSerialJob).value_or("")};
}

}  // namespace

struct WindowSerial::State {
    std::mutex mutex;
    std::string job;
    LineStation station{ReadLineSettings().line};  // stores on the worker, its own lock
    QString titleText;  // made on the worker after each record, shown by the window
};

WindowSerial::WindowSerial(QWidget& parent, std::function<void()> titleChanged)
    : m_parent(parent), m_titleChanged(std::move(titleChanged)), m_state(new State) {}

WindowSerial::~WindowSerial() = default;

bool WindowSerial::Available() {
    return LineStation::Available();
}

void WindowSerial::LoadChoice() {
    Use(ReadLineSettings().job);
}

void WindowSerial::Use(const std::string& job) {
    {
        std::lock_guard lock(m_state->mutex);
        m_state->job = job;
    }
    m_state->station.UseSerialJobWhenAsked(job, ReadLineSettings().line);
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
    m_titleChanged();
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> WindowSerial::Place(const std::string& name,
                                                                           std::string& error) {
    // A connection of its own: the worker may be storing a record meanwhile.
    LineStation station(ReadLineSettings().line);
    const auto job = station.Job(name, error);
    if (!job) {
        return std::nullopt;
    }
    return std::pair{job->address, static_cast<std::uint32_t>(job->size)};
}

const std::string& WindowSerial::Chosen() const {
    return m_state->job;
}

void WindowSerial::ShowDialog() {
#if KORU_WITH_LINEDB
    SerialSettingsDialog dialog(&m_parent, m_state->station.Location(), Chosen());
    if (dialog.exec() == QDialog::Accepted) {
        Choose(dialog.ChosenJob());
    }
#endif
}

RecordStore& WindowSerial::Records() {
    return m_state->station;
}

void WindowSerial::AfterRecord() {
    const QString text = ComposeTitleText();
    {
        std::lock_guard lock(m_state->mutex);
        m_state->titleText = text;
    }
    QMetaObject::invokeMethod(&m_parent, m_titleChanged, Qt::QueuedConnection);
}

QString WindowSerial::TitleText() {
    std::lock_guard lock(m_state->mutex);
    return m_state->titleText;
}

QString WindowSerial::ComposeTitleText() {
    std::string job;
    {
        std::lock_guard lock(m_state->mutex);
        job = m_state->job;
    }
    if (job.empty()) {
        return {};
    }
    const auto [last, next] = m_state->station.SerialLabels();
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
