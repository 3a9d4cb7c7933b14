// The running program's side of the main window: start-up (from which commands and keys act),
// the ticks, the function keys, the about entry, the warning of a record that cannot be
// written, and the end that saves the settings.

#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QThread>
#include <QTimer>

#include "core/shared_state.h"
#include "image/program_memory.h"
#include "link/connection.h"
#include "link/reset_listener.h"
#include "operations/production_recorder.h"
#include "platform/serial_port.h"
#include "resources/dialog_texts.h"
#include "window/job_save_dialog.h"
#include "window/port_settings_dialog.h"
#include "window/programmer_dlg.h"
#include "window/record_warning.h"
#include "window/set_count_dialog.h"
#include "window/settings.h"
#include "window/station/station_window.h"
#include "window/window_job.h"
#include "window/window_serial.h"

namespace koru {
namespace {

constexpr int kVkF5 = 0x74;
constexpr int kVkF8 = 0x77;
constexpr std::uint32_t kDefaultRangeEnd = 0x1FFF;

constexpr char kAboutCaption[] = "关于KORU V2.0B";
constexpr char kAboutText[] =
    "KORU V2.0B 串行OTP/MTP芯片编程器控制程序\n"
    "支持自动编程、校验、空检查、检查和与读写保护\n"
    "支持Intel HEX与二进制代码文件\n"
    "KORU 编程器工作室 出品\n"
    "网址: koru.example\n"
    "电子邮件: support@koru.example\n"
    "版权所有 (C) KORU 编程器工作室";
constexpr char kThanksCaption[] = "亲爱的用户:";
constexpr char kThanksText[] = "感谢您选用 KORU 编程器,祝您工作顺利!";
constexpr char kContactCaption[] = "尊敬的用户";
constexpr char kContactText[] =
    "KORU 编程器工作室\n"
    "网址: koru.example\n"
    "电子邮件: support@koru.example";

}  // namespace

void CProgrammerDlg::OnInitDialog() {
    m_routing = true;
    connect(this, &CProgrammerDlg::tick, this, [] { OnListenTick(); });

    ZeroSharedFlags();
    ImageOverwrittenFlag = 0;
    CodeLoadedFlag = 0;
    m_linkPressed = false;
    m_memoryListPrepared = false;
    ShowMemoryView(false);
    BlankProgramMemory();
    StartMainTimer();

    LoadSettings(*this);
    m_serial = std::make_unique<WindowSerial>(*this, [this] { RefreshTitle(); });
    m_serial->LoadChoice();
    RecorderHandlers handlers;
    handlers.writeFailed = [this](const std::string& reason) { RecordNotWritten(reason); };
    handlers.recorded = [this](const nlohmann::json& record) {
        m_serial->AfterRecord();
        m_job->AfterRecord(record);
    };
    m_productionRecord = std::make_unique<ProductionRecorder>("", &m_serial->Records(), handlers);
    m_productionRecord->Start();

    SetFieldText(129, QStringLiteral("0000"));
    SetFieldText(131, QStringLiteral("1FFF"));
    SetFieldText(133, QStringLiteral("12.0"));
    SetFieldText(135, QStringLiteral("5.0"));
    Control(135)->setEnabled(false);
    Control(133)->setEnabled(false);
    SetMarked(116, true);
    SetMarked(117, false);
    Control(117)->setEnabled(false);
    SetMarked(118, true);
    SetMarked(119, false);
    SetMarked(120, false);
    Control(119)->setEnabled(false);
    Control(120)->setEnabled(false);
    SetMarked(200, true);
    SetChecksumRange({0, kDefaultRangeEnd});
    SuccessCount = 0;
    FailureCount = 0;
    RefreshTitle();
    m_started = true;
}

bool CProgrammerDlg::RunCounterDialog(CounterSettings& settings) {
    SetCount dialog(this, settings);
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    settings = dialog.Settings();
    return true;
}

std::optional<QString> CProgrammerDlg::AskText(const QString& caption, const QString& label,
                                               bool secret) {
    bool ok = false;
    const QString text = QInputDialog::getText(
        this, caption, label, secret ? QLineEdit::Password : QLineEdit::Normal, QString(), &ok);
    return ok ? std::optional<QString>(text) : std::nullopt;
}

bool CProgrammerDlg::RunJobSaveDialog(JobSaveChoice& choice) {
    JobSaveDialog dialog(this, choice);
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    choice = dialog.Choice();
    return true;
}

std::optional<QString> CProgrammerDlg::RunFileDialog(FileDialogKind kind, const QString& filter) {
    // Each filter's name already shows its pattern: the dialog does not repeat it.
    const QFileDialog::Options options = QFileDialog::HideNameFilterDetails;
    const QString path =
        kind == FileDialogKind::Open
            ? QFileDialog::getOpenFileName(this, QString(), QString(), filter, nullptr, options)
            : QFileDialog::getSaveFileName(this, QString(), QString(), filter, nullptr, options);
    if (path.isEmpty()) {
        return std::nullopt;
    }
    // Shown and recorded as the system writes paths (C:\code\demo.hex on Windows).
    return QDir::toNativeSeparators(path);
}

void CProgrammerDlg::ShowAbout() {
    ShowMessage(QString::fromUtf8(kAboutCaption), QString::fromUtf8(kAboutText), MessageIcon::None,
                MessageButtons::Ok);
}

void CProgrammerDlg::ShowContactBox() {
    ShowMessage(QString::fromUtf8(kContactCaption), QString::fromUtf8(kContactText),
                MessageIcon::None, MessageButtons::Ok);
}

void CProgrammerDlg::ShowThanks() {
    ShowMessage(QString::fromUtf8(kThanksCaption), QString::fromUtf8(kThanksText),
                MessageIcon::None, MessageButtons::Ok);
}

QMenu* CProgrammerDlg::CreateContextMenu() {
    auto* menu = new QMenu(this);
    menu->addAction(QString::fromUtf8(kAboutEntryText), this, &CProgrammerDlg::ShowAbout);
    menu->addAction(QString::fromUtf8(kPortSettingsEntryText), this,
                    [this] { ShowPortSettings(this); });
    if (WindowSerial::Available()) {
        menu->addAction(QString::fromUtf8(kSerialSettingsEntryText), this,
                        [this] { m_serial->ShowDialog(); })
            ->setEnabled(!m_job->InOperatorMode());
    }
    // The job entries run once the menu has closed and gone: the system's file dialog runs a
    // message loop of its own, in which the menu (deleted on close) would go while its action
    // is still being delivered.
    const auto later = [this](void (WindowJob::*entry)()) {
        return [this, entry] { QTimer::singleShot(0, this, [this, entry] { (*m_job.*entry)(); }); };
    };
    menu->addSeparator();
    menu->addAction(QString::fromUtf8(kOpenJobEntryText), this, later(&WindowJob::OpenFromDialog));
    menu->addAction(QString::fromUtf8(kSaveJobEntryText), this, later(&WindowJob::SaveFromDialog))
        ->setEnabled(!m_job->InOperatorMode());
    if (m_job->InOperatorMode()) {
        menu->addAction(QString::fromUtf8(kLeaveOperatorModeEntryText), this,
                        later(&WindowJob::LeaveOperatorMode));
    }
    menu->addAction(QString::fromUtf8(kStationEntryText), this,
                    [this] { QTimer::singleShot(0, this, [this] { OpenStation(); }); });
    return menu;
}

StationWindow* CProgrammerDlg::OpenStation() {
    if (BusyFlag.load() != 0) {
        return nullptr;
    }
    // A job's station runs the job, confirmed as a chip of this window would be.
    if (m_job->IsOpen() && !m_job->Confirmed()) {
        return nullptr;
    }
    StationSetup setup = m_job->IsOpen()
                             ? StationSetupForJob(m_job->Path().toStdString(), m_job->Checksum())
                             : StationSetupFromWindow();
    // Each site opens its programmer's port itself: the window lets go of its own.
    EndResetListener();
    Port().Close();
    ProgrammerFoundFlag = 0;
    SetStatusText(QString::fromUtf8(kPortToStationText));
    auto* station = new StationWindow(std::move(setup));
    station->setAttribute(Qt::WA_DeleteOnClose);
    station->show();
    return station;
}

void CProgrammerDlg::OnFunctionKey(int vk) {
    if (vk == kVkF8) {
        if (!m_job->InOperatorMode()) {  // it would change the job's image
            FillRandomSequence();
        }
    } else if (vk == kVkF5) {
        ShowContactBox();
    }
}

void CProgrammerDlg::accept() {}

void CProgrammerDlg::EndWindow() {
    reject();
}

void CProgrammerDlg::done(int result) {
    if (m_started && !m_settingsSaved) {
        m_settingsSaved = true;
        SaveSettings(*this);
    }
    QDialog::done(result);
}

void CProgrammerDlg::keyPressEvent(QKeyEvent* event) {
    QDialog::keyPressEvent(event);
    // A button with the focus keeps its function keys: F8 released there fills the random
    // sequence, so its press must not open a box that would take the release.
    if (event->key() == Qt::Key_F8 && dynamic_cast<CMybtn*>(focusWidget()) == nullptr) {
        ShowThanks();
    }
}

void CProgrammerDlg::contextMenuEvent(QContextMenuEvent* event) {
    // Only the window's own background: the controls keep their own menus.
    const QWidget* child = childAt(event->pos());
    if (child != nullptr && qobject_cast<const QGroupBox*>(child) == nullptr) {
        return;
    }
    QMenu* menu = CreateContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void CProgrammerDlg::RecordNotWritten(const std::string& reason) {
    const bool firstTime = !m_recordWarned.exchange(true);
    if (QThread::currentThread() == thread()) {
        ShowRecordNotWritten(reason, firstTime);
        return;
    }
    // The worker waits, as for every box it shows: the next chip starts after the operator saw it.
    QMetaObject::invokeMethod(
        this, [&] { ShowRecordNotWritten(reason, firstTime); }, Qt::BlockingQueuedConnection);
}

void CProgrammerDlg::ShowRecordNotWritten(const std::string& reason, bool firstTime) {
    constexpr int kStatusLineId = 157;
    SetStatusText(FieldText(kStatusLineId) + QString::fromUtf8(kRecordNotWrittenNote));
    if (firstTime) {
        ShowMessage(QString::fromUtf8(kRecordWarningCaption),
                    QString::fromUtf8(kRecordNotWrittenText) + "\n" +
                        QString::fromStdString(reason) + "\n" +
                        QString::fromUtf8(kRecordWarningTail),
                    MessageIcon::Warning, MessageButtons::Ok);
    }
}

}  // namespace koru
