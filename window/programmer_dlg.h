#pragma once

// CProgrammerDlg: the program's one window. Every control is built from the control table at
// construction and found by its id. The window answers the controls' requests (ControlHost),
// switches between the normal layout and the memory view, applies the chip-kind rule, and
// offers what the window services, the command router, the counters and the job need. Once the
// window is started, a click goes to the command router and a function key to OnFunctionKey;
// timer ticks leave the window as a signal, for the shell to act on.

#include <QDialog>
#include <QString>
#include <QTimer>
#include <atomic>
#include <map>
#include <memory>
#include <optional>

#include "controls/cmybtn.h"
#include "controls/control_host.h"
#include "core/services.h"
#include "window/command_router.h"
#include "window/control_table.h"
#include "window/window_job.h"

class QLineEdit;
class QTableWidget;
class QAbstractButton;
class QGroupBox;
class QMenu;

namespace koru {

class CMyedit;
class ProductionRecorder;
class WindowSerial;
class StationWindow;

// The width of the window region in window coordinates; its heights are the counters'
// (kRegionCountersHidden, kRegionCountersShown).
inline constexpr int kRegionWidth = 700;

class CProgrammerDlg : public QDialog, public ControlHost, public CommandWindow, public JobWindow {
    Q_OBJECT

  public:
    // The serial job of the runs ("序列号设置…").
    WindowSerial& Serial() override { return *m_serial; }
    // The production job open in the window, if any ("打开作业…").
    WindowJob& Job() override { return *m_job; }
    explicit CProgrammerDlg(QWidget* parent = nullptr);
    ~CProgrammerDlg() override;

    // Controls by id; nullptr for an unknown id or one of another kind.
    QWidget* Control(int id) const override;
    CMybtn* Button(int id) const;
    QAbstractButton* ButtonWidget(int id) const;
    CMyedit* Edit(int id) const;
    QGroupBox* Group(int id) const;
    QTableWidget* MemoryList() const;

    // The check mark of a radio button or check box. Unmarking works on radio buttons too.
    bool IsMarked(int id) const override;
    // Whether a control counts as enabled for the operation reading it: a control that operator
    // mode disabled counts as it was before.
    bool IsAvailable(int id) const;
    void SetMarked(int id, bool marked) override;
    QString FieldText(int id) const override;
    void SetFieldText(int id, const QString& text) override;

    // Enables and disables the controls that depend on the chip kind; id is 114 (OTP) or 115
    // (MTP).
    void ApplyChipKind(int id) override;
    // Switches between the normal layout (false) and the memory view (true).
    void ShowMemoryView(bool on) override;
    // The memory list's one-time set-up: columns, rows, the first page address.
    void PrepareMemoryList() override;
    bool IsMemoryListPrepared() const override { return m_memoryListPrepared; }

    // Clips the window to (0, 0)-(700, height) in window coordinates: the client area keeps
    // height minus the caption bar the window was designed with.
    void SetWindowRegion(int height) override;
    int WindowRegionHeight() const { return m_regionHeight; }

    // The status line: replaced as a whole and repainted at once.
    void SetStatusText(const QString& text) override;
    // Writes one page into the top sixteen rows of the memory list, in blue.
    void ShowMemoryPage(const MemoryPageText& page);
    // The cell editor: a double-click on the memory list at row, column.
    void EditMemoryCell(int row, int column);

    // Wait cursor while BusyFlag is set, the arrow otherwise.
    void RefreshCursor();
    // Locks or unlocks the three view-mode controls 165..167.
    void LockViewControls(bool locked);
    // Timer 501 runs from the start of the window; timer 0 is (re)started by failed
    // connections. Both tick once a second and are never stopped.
    void StartMainTimer();
    void RestartTick();
    bool IsTickRunning() const { return m_tickTimer.isActive(); }

    // Modal boxes owned by the window; tests answer them by overriding.
    MessageAnswer ShowMessage(const QString& caption, const QString& text, MessageIcon icon,
                              MessageButtons buttons) override;
    // Runs the cell editor dialog; returns the new value text, or nothing on cancel.
    virtual std::optional<QString> RunEditDialog(const QString& value, const QString& address);

    // The system's file dialog for opening or saving, with a Qt filter; the chosen path, or
    // nothing when cancelled. Tests answer it by overriding.
    std::optional<QString> RunFileDialog(FileDialogKind kind, const QString& filter) override;

    // A short text from the operator (a job checksum, a password shown as dots when secret);
    // nothing on cancel. Tests answer it by overriding.
    std::optional<QString> AskText(const QString& caption, const QString& label,
                                   bool secret) override;
    // The job save dialog on choice; true (with choice updated) after OK.
    bool RunJobSaveDialog(JobSaveChoice& choice) override;

    // The caption: the program's name, then the open job and the serial job, if any.
    void RefreshTitle() override;

    // Runs the counter settings dialog on settings; true (with settings updated) after OK.
    bool RunCounterDialog(CounterSettings& settings) override;

    // The start-up of the running program, after the controls exist: routes commands, function
    // keys and timer ticks from now on, zeroes the shared flags, blanks the image, starts timer
    // 501, loads the settings (probing the saved port) and sets the fixed start-up choices. From
    // then on the window saves the settings when it ends.
    void OnInitDialog();
    bool IsStarted() const { return m_started; }

    // The about box, the F5 contact box and the F8 thank-you box.
    void ShowAbout();
    void ShowContactBox();
    void ShowThanks();
    // The context menu of the window's background: the about entry and the port settings.
    QMenu* CreateContextMenu();
    // "工作站…": the station window of the open job, else of the window's set-up; the window
    // gives up its port to the sites. Nothing while an operation runs or a job is refused.
    StationWindow* OpenStation();
    // F8 fills the random sequence into the image, F5 shows the contact box.
    void OnFunctionKey(int vk);

    // Enter never closes the window.
    void accept() override;
    // Esc, the close box and "退出编程" end the window here; a started window saves the
    // settings once, before it closes.
    void done(int result) override;
    // As the close box: reject().
    void EndWindow() override;

    // ControlHost: the controls' requests. A started window hands a command to the command
    // router and a function key to OnFunctionKey; before that they do nothing.
    void Command(int id, QWidget* parent) override;
    bool RefusesCommandsOf(const QWidget* parent) override;
    bool StatusIsFailure() override;
    void LinkPressed() override;
    bool LinkReleased() override;
    void RequestSaveStop() override;
    void FunctionKey(int vk) override;
    void ShowGreeting() override;

    bool IsLinkPressed() const { return m_linkPressed; }

    // Places the frame in the middle of its screen.
    void CentreOnScreen();

    // The first showing centres the window; a shown window sits where it was put.
    void setVisible(bool visible) override;

  signals:
    // Either timer ticked.
    void tick();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void CreateControls();
    QWidget* CreateControl(const ControlEntry& entry, QWidget* parent);
    void ApplyCaptionColours();
    void SetControlsVisible(std::initializer_list<int> ids, bool visible);
    void SetControlsEnabled(std::initializer_list<int> ids, bool enabled);

    std::map<int, QWidget*> m_controls;
    bool m_linkPressed = false;
    bool m_routing = false;  // commands and function keys act: set by OnInitDialog
    bool m_memoryListPrepared = false;
    bool m_waitCursorShown = false;
    bool m_started = false;
    bool m_settingsSaved = false;
    bool m_placed = false;
    bool m_frameCentred = false;
    int m_regionHeight = kRegionCountersHidden;
    QTimer m_mainTimer;
    QTimer m_tickTimer;
    // On the auto-programming worker: the day file did not take a run's record. The status
    // line says so, and a box the first time (the worker waits for the operator).
    void RecordNotWritten(const std::string& reason);
    // The status line's note and the box, on the window's thread.
    void ShowRecordNotWritten(const std::string& reason, bool firstTime);

    // Auto-programming's record of every chip, from the start of the running program.
    std::unique_ptr<WindowSerial> m_serial;  // before the record, which stores through it
    std::unique_ptr<ProductionRecorder> m_productionRecord;
    std::atomic<bool> m_recordWarned{false};
    std::unique_ptr<WindowJob> m_job;
};

}  // namespace koru
