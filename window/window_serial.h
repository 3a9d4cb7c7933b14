#pragma once

// The window's serial job: the job chosen in "序列号设置…" (saved with the settings as
// "serialjob") gives every auto-programming run its value from the line database; the title
// shows the value just programmed and the next one, and records also go to the database. The
// database work is the line station's; a build without the line database has none of it.

#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace koru {

class LineStation;
class RecordStore;

inline constexpr char kSerialSettingsEntryText[] = "序列号设置…";

class WindowSerial {
  public:
    // parent: the dialog's parent and the thread titleChanged runs on.
    WindowSerial(QWidget& parent, std::function<void()> titleChanged);
    ~WindowSerial();
    WindowSerial(const WindowSerial&) = delete;
    WindowSerial& operator=(const WindowSerial&) = delete;

    // Whether this build has the line database (the menu entry is offered only then).
    static bool Available();

    // Takes the job saved in the settings (none: runs without per-chip data).
    void LoadChoice();
    // Chooses job (empty: none) for the next runs and saves the choice unless save is false (a
    // production job's serial job is the job's, not the operator's lasting choice).
    void Choose(const std::string& job, bool save = true);
    // Where serial job name writes in the line database: address and size; nothing with error
    // said.
    std::optional<std::pair<std::uint32_t, std::uint32_t>> Place(const std::string& name,
                                                                 std::string& error);
    const std::string& Chosen() const;
    // The dialog, modal over the window.
    void ShowDialog();

    // Where the production recorder hands each record after the day file: the line database,
    // or the queue for sync.
    RecordStore& Records();
    // On the worker after a run's record was stored: the title's serial values brought up to
    // date.
    void AfterRecord();
    // The text the title carries after the program's name; empty without a job.
    QString TitleText();

  private:
    void Use(const std::string& job);
    QString ComposeTitleText();

    struct State;
    QWidget& m_parent;
    std::function<void()> m_titleChanged;
    std::unique_ptr<State> m_state;
};

}  // namespace koru
