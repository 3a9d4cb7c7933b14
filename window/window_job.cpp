#include "window/window_job.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QWidget>
#include <chrono>
#include <cstdlib>

#include "core/settings_words.h"
#include "core/shared_state.h"
#include "image/code_file_identity.h"
#include "image/numbers.h"
#include "image/program_memory.h"
#include "link/command_block.h"
#include "link/connection.h"
#include "operations/job_install.h"
#include "platform/host_clock.h"
#include "platform/settings_store.h"
#include "window/control_table.h"
#include "window/window_serial.h"

namespace koru {
namespace {

constexpr int kIdChipOtp = 114;
constexpr int kIdChipMtp = 115;
constexpr int kIdFastMode = 200;
constexpr std::uint32_t kLargestFieldAddress = 0xFFFF;  // the address fields hold four digits

// What operator mode disables: the file, range, kind, data, voltage and step controls, the
// operations that change a chip outside the job, the memory view (its cell editor changes the
// image) and the counter settings. Auto-programming, verify, blank check, both checksums, the
// counters' reset, the port and the exit stay.
constexpr int kOperatorModeLocks[] = {114, 115, 116, 117, 118, 119, 120, 121, 122, 123,
                                      124, 125, 126, 127, 200, 129, 131, 139, 142, 143,
                                      144, 145, 146, 147, 148, 149, 151, 173, 175};

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

int TickId(const char* tick) {
    for (const ControlEntry& entry : ControlTable()) {
        if (std::string_view(entry.caption) == tick) {
            return entry.id;
        }
    }
    return -1;
}

std::string MadeBy() {
    for (const char* variable : {"USER", "USERNAME", "LOGNAME"}) {
        if (const char* value = std::getenv(variable); value != nullptr && *value != '\0') {
            return value;
        }
    }
    return "";
}

JobConfirmRule ConfirmRule() {
    SettingsStore store(SettingsStore::PathForKey(kSettingsKey));
    store.Load();
    const std::uint32_t value =
        store.GetNumber(kValueJobConfirm)
            .value_or(static_cast<std::uint32_t>(JobConfirmRule::LockedJobs));
    return value > static_cast<std::uint32_t>(JobConfirmRule::EveryJob)
               ? JobConfirmRule::LockedJobs
               : static_cast<JobConfirmRule>(value);
}

}  // namespace

WindowJob::WindowJob(JobWindow& window) : m_window(window) {}

void WindowJob::Refuse(const QString& text) {
    m_window.ShowMessage(QString::fromUtf8(kJobCaption), text, MessageIcon::Warning,
                         MessageButtons::Ok);
}

bool WindowJob::PasswordGiven() {
    const std::optional<QString> typed = m_window.AskText(
        QString::fromUtf8(kJobCaption), QString::fromUtf8(kJobPasswordPrompt), true);
    if (!typed) {
        return false;
    }
    if (!m_job || !JobLockOpens(*m_job, typed->toStdString())) {
        Refuse(QStringLiteral("密码不对,仍在操作员模式。"));
        return false;
    }
    return true;
}

void WindowJob::OpenFromDialog() {
    if (BusyFlag.load() != 0 || (m_operatorMode && !PasswordGiven())) {
        return;
    }
    const std::optional<QString> path =
        m_window.RunFileDialog(FileDialogKind::Open, QString::fromUtf8(kJobFileFilter));
    if (path) {
        Open(*path);
    }
}

bool WindowJob::Open(const QString& path) {
    const JobLoad load = LoadJobFile(path.toStdString());
    if (!load.job) {
        Refuse(path + QStringLiteral(": ") + Text(load.reason) + QStringLiteral("\n作业未打开。"));
        return false;
    }
    const Job& job = *load.job;
    if (job.serial) {
        std::string error;
        const auto place = m_window.Serial().Place(job.serial->job, error);
        if (!place) {
            Refuse(QStringLiteral("序列号 ") + Text(job.serial->job) + QStringLiteral(": ") +
                   Text(error) + QStringLiteral("\n作业未打开。"));
            return false;
        }
        if (place->first != job.serial->address || place->second != job.serial->size) {
            Refuse(QStringLiteral(
                       "序列号 %1 现在写在 %2 (%3 字节),作业批准的是 %4 (%5 字节)。\n作业未打开。")
                       .arg(Text(job.serial->job), Text(Hex(place->first, 4)))
                       .arg(place->second)
                       .arg(Text(Hex(job.serial->address, 4)))
                       .arg(job.serial->size));
            return false;
        }
    }
    return Install(job, load.checksum, path, true);
}

bool WindowJob::Install(Job job, const std::string& checksum, const QString& path,
                        bool operatorMode) {
    // Everything that can refuse the job comes before anything of it reaches the window.
    if (job.end > kLargestFieldAddress) {
        Refuse(QStringLiteral("作业的地址范围超出四位地址栏。作业未打开。"));
        return false;
    }
    const std::string lot =
        DefaultLotName(job.name, LocalDateText(std::chrono::system_clock::now()));
    if (const std::string problem = LotNameProblem(lot); !problem.empty()) {
        Refuse(QStringLiteral("作业名称不能作为批名 (%1)。作业未打开。").arg(Text(problem)));
        return false;
    }
    if (m_operatorMode) {
        SetOperatorMode(false);
    }
    const int kind = job.otp ? kIdChipOtp : kIdChipMtp;
    m_window.SetMarked(job.otp ? kIdChipMtp : kIdChipOtp, false);
    m_window.SetMarked(kind, true);
    m_window.ApplyChipKind(kind);
    for (const JobStep& step : JobSteps()) {
        m_window.SetMarked(TickId(step.tick), (job.steps & step.mark) != 0);
    }
    m_window.SetMarked(kIdFastMode, job.fast);
    InstallJob(job, checksum, path.toStdString(), lot);
    m_lot.Use(job.quota ? std::optional<WindowLotChoice>(
                              WindowLotChoice{lot, job.name, checksum, *job.quota})
                        : std::nullopt);
    m_window.Serial().Choose(job.serial ? job.serial->job : std::string(), false);
    m_confirmed = false;
    m_passed = 0;
    m_checksum = checksum;
    m_path = path;
    const bool locked = job.lock.has_value();
    m_job = std::move(job);
    if (locked && operatorMode) {
        SetOperatorMode(true);
    }
    m_window.SetStatusText(
        QStringLiteral("作业 %1 已打开,作业检查和 %2")
            .arg(Text(m_job->name), Text(m_checksum.substr(0, kJobShortChecksumDigits))));
    m_window.RefreshTitle();
    return true;
}

void WindowJob::Close() {
    if (m_operatorMode) {
        SetOperatorMode(false);
    }
    m_job.reset();
    m_checksum.clear();
    m_path.clear();
    m_lot.Use(std::nullopt);
    m_confirmed = false;
    SetRunningJob(std::nullopt);
    m_window.Serial().LoadChoice();
    m_window.RefreshTitle();
}

void WindowJob::SetOperatorMode(bool on) {
    if (on == m_operatorMode) {
        return;
    }
    if (on) {
        for (const int id : kOperatorModeLocks) {
            if (QWidget* control = m_window.Control(id)) {
                m_lockedControls[id] = control->isEnabled();
                control->setEnabled(false);
            }
        }
    } else {
        for (const auto& [id, enabled] : m_lockedControls) {
            m_window.Control(id)->setEnabled(enabled);
        }
        m_lockedControls.clear();
    }
    m_operatorMode = on;
}

void WindowJob::LeaveOperatorMode() {
    if (m_operatorMode && BusyFlag.load() == 0 && PasswordGiven()) {
        SetOperatorMode(false);
        m_window.SetStatusText(QStringLiteral("已退出操作员模式"));
    }
}

bool WindowJob::Refuses(int id) const {
    return m_lockedControls.count(id) != 0;
}

std::optional<bool> WindowJob::LockedAvailability(int id) const {
    const auto found = m_lockedControls.find(id);
    return found == m_lockedControls.end() ? std::nullopt : std::optional<bool>(found->second);
}

bool WindowJob::ChecksumConfirmedNow() {
    const JobConfirmRule rule = ConfirmRule();
    if (m_confirmed || rule == JobConfirmRule::Never ||
        (rule == JobConfirmRule::LockedJobs && !m_job->lock)) {
        return true;
    }
    const std::optional<QString> typed = m_window.AskText(
        QString::fromUtf8(kJobCaption), QString::fromUtf8(kJobChecksumPrompt), false);
    if (!typed) {
        return false;
    }
    if (!ChecksumConfirmed(typed->toStdString(), m_checksum)) {
        Refuse(QStringLiteral("作业检查和是 %1,不是 %2:这不是工作单上的作业,芯片未编程。")
                   .arg(Text(m_checksum.substr(0, kJobShortChecksumDigits)), typed->trimmed()));
        return false;
    }
    m_confirmed = true;
    return true;
}

bool WindowJob::ReadyForRun() {
    if (!m_job) {
        return true;
    }
    if (!Confirmed()) {
        return false;
    }
    std::string refusal;
    if (!m_lot.TakePlace(OpenPortName(), refusal)) {
        Refuse(Text(refusal));
        m_window.RefreshTitle();
        return false;
    }
    return true;
}

bool WindowJob::Confirmed() {
    if (!m_job) {
        return true;
    }
    RunSetUp setUp;
    setUp.otp = m_window.IsMarked(kIdChipOtp);
    ReadAddressRange();
    setUp.start = StartAddress;
    setUp.end = EndAddress;
    for (const AutoOptionBox& box : kAutoOptionBoxes) {
        const ChoiceState state = Window().GetChoice(box.choice);
        if (state.available) {
            setUp.availableSteps |= box.bit;
            if (state.marked) {
                setUp.steps |= box.bit;
            }
        }
    }
    setUp.fast = m_window.IsMarked(kIdFastMode);
    const std::string difference = JobDifference(*m_job, setUp);
    if (!difference.empty()) {
        const QString name = Text(m_job->name);
        Close();
        Refuse(QStringLiteral("窗口的设置已不是作业 %1 的 (%2),作业已关闭,芯片未编程。")
                   .arg(name, Text(difference)));
        return false;
    }
    return ChecksumConfirmedNow();
}

void WindowJob::AfterRecord(const nlohmann::json& record) {
    const auto job = record.find("job");
    if (job == record.end() || !job->is_object()) {
        return;
    }
    const bool passed = record.value("passed", false);
    const std::string checksum = job->value("checksum", std::string());
    // The record is in the database by now: a passed chip's place in the lot counts, a failed
    // chip's goes back.
    const std::string lot = m_lot.Finish(passed);
    QMetaObject::invokeMethod(
        &m_context,
        [this, checksum, lot, passed] {
            if (!m_job || checksum != m_checksum) {
                return;
            }
            m_passed += passed ? 1 : 0;
            m_window.RefreshTitle();
            if (lot.rfind(kLotCompleteText, 0) == 0) {
                m_window.ShowMessage(QString::fromUtf8(kJobCaption), Text(lot),
                                     MessageIcon::Information, MessageButtons::Ok);
            }
        },
        Qt::QueuedConnection);
}

QString WindowJob::TitleText() const {
    if (!m_job) {
        return {};
    }
    QString text = QStringLiteral("   作业 %1 [%2]")
                       .arg(Text(m_job->name), Text(m_checksum.substr(0, kJobShortChecksumDigits)));
    const QString lot = m_lot.TitleText();
    text += lot.isEmpty() ? QStringLiteral(" %1").arg(m_passed) : lot;
    if (m_operatorMode) {
        text += QStringLiteral("   操作员模式");
    }
    return text;
}

std::optional<Job> WindowJob::JobOfWindow(const JobSaveChoice& choice) {
    ReadAddressRange();
    const AddressRange checked = GetChecksumRange();
    if (CodeLoadedFlag.load() == 0 || ImageOverwrittenFlag.load() != 0) {
        Refuse(QStringLiteral("编程内存中没有载入的代码,无法保存为作业。"));
        return std::nullopt;
    }
    if (StartAddress.load() != checked.start || EndAddress.load() != checked.end) {
        Refuse(QStringLiteral("地址范围已改变:请先重新载入代码文件。"));
        return std::nullopt;
    }
    Job job;
    job.name = choice.name.trimmed().toStdString();
    job.description = choice.description.toStdString();
    job.madeBy = MadeBy();
    job.madeAt = LocalTimeText(std::chrono::system_clock::now());
    job.otp = m_window.IsMarked(kIdChipOtp);
    job.start = StartAddress;
    job.end = EndAddress;
    for (const AutoOptionBox& box : kAutoOptionBoxes) {
        const ChoiceState state = Window().GetChoice(box.choice);
        if (state.available && state.marked) {
            job.steps |= box.bit;
        }
    }
    job.fast = m_window.IsMarked(kIdFastMode);
    job.image.assign(ProgramMemory.begin() + job.start, ProgramMemory.begin() + job.end + 1);
    if (const std::optional<CodeFileIdentity> identity = LoadedCodeFile()) {
        job.sourceName = identity->path;
        job.sourceSize = identity->size;
        job.sourceSha256 = identity->sha256;
    }
    if (!choice.quota.trimmed().isEmpty()) {
        bool number = false;
        const qulonglong quota = choice.quota.trimmed().toULongLong(&number);
        if (!number || quota == 0) {
            Refuse(QStringLiteral("批数量必须是正整数。"));
            return std::nullopt;
        }
        job.quota = quota;
    }
    if (const std::string& serial = m_window.Serial().Chosen(); !serial.empty()) {
        std::string error;
        const auto place = m_window.Serial().Place(serial, error);
        if (!place) {
            Refuse(QStringLiteral("序列号 ") + Text(serial) + QStringLiteral(": ") + Text(error));
            return std::nullopt;
        }
        if (place->first < job.start || place->first > job.end ||
            job.end - place->first + 1 < place->second) {
            Refuse(QStringLiteral("序列号 %1 写在 %2,不在作业的地址范围内。")
                       .arg(Text(serial), Text(Hex(place->first, 4))));
            return std::nullopt;
        }
        job.serial = JobSerial{serial, place->first, place->second};
    }
    if (!choice.password.isEmpty()) {
        if (choice.password != choice.repeated) {
            Refuse(QStringLiteral("两次输入的密码不同,作业未保存。"));
            return std::nullopt;
        }
        if (!LockJob(job, choice.password.toStdString())) {
            Refuse(QStringLiteral("系统的加密功能失败,作业未保存。"));
            return std::nullopt;
        }
    }
    return job;
}

void WindowJob::SaveFromDialog() {
    if (BusyFlag.load() != 0 || m_operatorMode) {
        return;
    }
    JobSaveChoice choice;
    const std::optional<CodeFileIdentity> identity = LoadedCodeFile();
    choice.name = m_job
                      ? Text(m_job->name)
                      : (identity ? QFileInfo(Text(identity->path)).completeBaseName() : QString());
    if (!m_window.RunJobSaveDialog(choice)) {
        return;
    }
    if (choice.name.trimmed().isEmpty()) {
        Refuse(QStringLiteral("作业需要一个名称。"));
        return;
    }
    std::optional<Job> job = JobOfWindow(choice);
    if (!job) {
        return;
    }
    const std::optional<QString> path =
        m_window.RunFileDialog(FileDialogKind::Save, QString::fromUtf8(kJobFileFilter));
    if (!path) {
        return;
    }
    QString target = *path;
    if (!target.endsWith(QStringLiteral(".korujob"), Qt::CaseInsensitive)) {
        target += QStringLiteral(".korujob");
    }
    std::string error;
    if (!SaveJobFile(*job, target.toStdString(), error)) {
        Refuse(target + QStringLiteral(": ") + Text(error) + QStringLiteral("\n作业未保存。"));
        return;
    }
    const std::optional<std::string> checksum = JobChecksum(*job);
    // The engineer who just made it stays out of operator mode.
    Install(std::move(*job), checksum.value_or(""), target, false);
}

}  // namespace koru
