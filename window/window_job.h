#pragma once

// The window's production job: "打开作业…" puts a job's image and settings into the window,
// "保存为作业…" makes one of what the window holds. A locked job opens in operator mode, where
// the controls that would change the job are disabled until its password is given. Before the
// first chip of a job the operator may have to type the job checksum from the work order.

#include <QObject>
#include <QString>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "core/services.h"
#include "operations/job_file.h"
#include "window/window_lot.h"

class QWidget;

namespace koru {

class WindowSerial;

inline constexpr char kOpenJobEntryText[] = "打开作业…";
inline constexpr char kSaveJobEntryText[] = "保存为作业…";
inline constexpr char kLeaveOperatorModeEntryText[] = "退出操作员模式…";
inline constexpr char kJobFileFilter[] = "作业文件 (*.korujob)";
inline constexpr char kJobCaption[] = "作业";
inline constexpr char kJobChecksumPrompt[] = "请输入工作单上的作业检查和:";
inline constexpr char kJobPasswordPrompt[] = "请输入作业密码:";

// The setting "jobconfirm": when the job checksum must be typed before a job's first chip.
enum class JobConfirmRule : std::uint32_t { Never = 0, LockedJobs = 1, EveryJob = 2 };
inline constexpr char kValueJobConfirm[] = "jobconfirm";

// What the operator chose in the job save dialog.
struct JobSaveChoice {
    QString name;
    QString description;
    QString quota;     // passed chips per lot; empty for none
    QString password;  // empty: no lock
    QString repeated;
};

// What a job needs of the window: its boxes and dialogs, the serial job, the controls a job
// sets or locks, the chip-kind rule, the status line and the caption. The main window
// implements it.
class JobWindow {
  public:
    virtual MessageAnswer ShowMessage(const QString& caption, const QString& text, MessageIcon icon,
                                      MessageButtons buttons) = 0;
    // A short text from the operator; nothing on cancel.
    virtual std::optional<QString> AskText(const QString& caption, const QString& label,
                                           bool secret) = 0;
    // The chosen path, or nothing when cancelled.
    virtual std::optional<QString> RunFileDialog(FileDialogKind kind, const QString& filter) = 0;
    // True (with choice updated) after OK.
    virtual bool RunJobSaveDialog(JobSaveChoice& choice) = 0;
    virtual WindowSerial& Serial() = 0;
    // nullptr for an unknown id.
    virtual QWidget* Control(int id) const = 0;
    virtual bool IsMarked(int id) const = 0;
    virtual void SetMarked(int id, bool marked) = 0;
    // id is 114 (OTP) or 115 (MTP).
    virtual void ApplyChipKind(int id) = 0;
    virtual void SetStatusText(const QString& text) = 0;
    virtual void RefreshTitle() = 0;

  protected:
    ~JobWindow() = default;
};

class WindowJob {
  public:
    explicit WindowJob(JobWindow& window);

    // The context menu's entries.
    void OpenFromDialog();
    void SaveFromDialog();
    void LeaveOperatorMode();

    // Opens the job at path: refused with a box unless the whole job loads and its serial job
    // matches the line database's. True when it is open.
    bool Open(const QString& path);
    bool IsOpen() const { return m_job.has_value(); }
    bool InOperatorMode() const { return m_operatorMode; }
    const std::optional<Job>& OpenJob() const { return m_job; }
    const std::string& Checksum() const { return m_checksum; }
    const QString& Path() const { return m_path; }

    // In operator mode: whether a command of control id is refused.
    bool Refuses(int id) const;
    // The availability a control locked by operator mode had before; nothing for others.
    std::optional<bool> LockedAvailability(int id) const;

    // Before auto-programming: true when no job is open, or when the window still holds the
    // job's set-up, the checksum is confirmed as the settings ask and the chip has its place in
    // a lot with a quota. Otherwise says why and refuses (a changed set-up also closes the job,
    // so the next run is plainly not a job run).
    bool ReadyForRun();
    // ReadyForRun without the lot's place: for runs that other processes make (the station's
    // sites take their own places).
    bool Confirmed();

    // After each record (on the worker): settles the chip's place in the lot and counts the
    // job's passed chips for the title.
    void AfterRecord(const nlohmann::json& record);
    QString TitleText() const;

  private:
    bool Install(Job job, const std::string& checksum, const QString& path, bool operatorMode);
    void Close();
    void SetOperatorMode(bool on);
    bool PasswordGiven();
    bool ChecksumConfirmedNow();
    std::optional<Job> JobOfWindow(const JobSaveChoice& choice);
    void Refuse(const QString& text);

    JobWindow& m_window;
    // Where the title's update after a record runs: the thread that made the job (the window's).
    QObject m_context;
    std::optional<Job> m_job;
    std::string m_checksum;
    QString m_path;
    bool m_operatorMode = false;
    bool m_confirmed = false;
    std::map<int, bool> m_lockedControls;  // id -> enabled before operator mode
    std::uint64_t m_passed = 0;            // the job's passed chips in this window
    WindowLot m_lot;
};

}  // namespace koru
