#include "window/serial_settings_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "linedb/line_database.h"

namespace koru {
namespace {

constexpr char kTitle[] = "序列号设置";

std::optional<std::int64_t> DecimalOf(const QString& text, bool emptyAllowed) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() && emptyAllowed) {
        return std::nullopt;
    }
    bool ok = false;
    const qlonglong value = trimmed.toLongLong(&ok, 10);
    return ok && value >= 0 ? std::optional<std::int64_t>(value) : std::nullopt;
}

}  // namespace

SerialSettingsDialog::SerialSettingsDialog(QWidget* parent, const std::string& database,
                                           const std::string& chosen)
    : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(kTitle));
    auto* layout = new QVBoxLayout(this);
    auto* choice = new QFormLayout;
    m_jobs = new QComboBox(this);
    choice->addRow(QStringLiteral("序列号任务:"), m_jobs);
    m_counts = new QLabel(this);
    choice->addRow(m_counts);
    layout->addLayout(choice);

    auto* define = new QGroupBox(QStringLiteral("定义计数器"), this);
    auto* form = new QFormLayout(define);
    m_name = new QLineEdit(define);
    m_address = new QLineEdit(define);
    m_address->setPlaceholderText(QStringLiteral("1F00"));
    m_size = new QSpinBox(define);
    m_size->setRange(1, static_cast<int>(kSerialMaxSize));
    m_size->setValue(4);
    m_format = new QComboBox(define);
    for (const char* format : {"le", "be", "bcd", "ascii", "hex"}) {
        m_format->addItem(QString::fromLatin1(format));
    }
    m_start = new QLineEdit(QStringLiteral("1"), define);
    m_step = new QLineEdit(QStringLiteral("1"), define);
    m_last = new QLineEdit(define);
    form->addRow(QStringLiteral("名称:"), m_name);
    form->addRow(QStringLiteral("地址:"), m_address);
    form->addRow(QStringLiteral("字节数:"), m_size);
    form->addRow(QStringLiteral("格式:"), m_format);
    form->addRow(QStringLiteral("起始值:"), m_start);
    form->addRow(QStringLiteral("步长:"), m_step);
    form->addRow(QStringLiteral("结束值:"), m_last);
    auto* defineButton = new QPushButton(QStringLiteral("定义"), define);
    form->addRow(defineButton);
    layout->addWidget(define);
    connect(defineButton, &QPushButton::clicked, this, [this] { DefineCounter(); });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    std::string error;
    m_database = LineDatabase::Open(database, error);
    if (!m_database) {
        define->setEnabled(false);
        m_counts->setText(QString::fromStdString(error));
    }
    FillJobs(chosen);
    connect(m_jobs, &QComboBox::currentIndexChanged, this, [this] { ShowCounts(); });
}

SerialSettingsDialog::~SerialSettingsDialog() = default;

std::string SerialSettingsDialog::ChosenJob() const {
    return m_jobs->currentIndex() <= 0 ? std::string() : m_jobs->currentText().toStdString();
}

void SerialSettingsDialog::FillJobs(const std::string& select) {
    m_jobs->clear();
    m_jobs->addItem(QString::fromUtf8(kSerialNoJobText));
    std::vector<SerialJobStatus> jobs;
    std::string error;
    if (m_database && m_database->Status(std::nullopt, jobs, error)) {
        for (const SerialJobStatus& job : jobs) {
            m_jobs->addItem(QString::fromStdString(job.job.name));
        }
    }
    const int index = m_jobs->findText(QString::fromStdString(select));
    m_jobs->setCurrentIndex(index > 0 ? index : 0);
    ShowCounts();
}

void SerialSettingsDialog::ShowCounts() {
    const std::string job = ChosenJob();
    std::vector<SerialJobStatus> status;
    std::string error;
    if (job.empty() || !m_database) {
        if (m_database) {
            m_counts->clear();
        }
        return;
    }
    if (!m_database->Status(job, status, error) || status.empty()) {
        m_counts->setText(QString::fromStdString(error));
        return;
    }
    const SerialJobStatus& s = status[0];
    m_counts->setText(
        QStringLiteral("下一个: %1   已用: %2   合格: %3   失败: %4   剩余: %5")
            .arg(s.next.empty() ? QStringLiteral("序列号已用完") : QString::fromStdString(s.next))
            .arg(s.spent)
            .arg(s.passed)
            .arg(s.failed)
            .arg(s.left ? QString::number(*s.left) : QStringLiteral("不限")));
}

bool SerialSettingsDialog::DefineCounter() {
    SerialJob job;
    job.name = m_name->text().trimmed().toStdString();
    bool addressOk = false;
    job.address = m_address->text().trimmed().toUInt(&addressOk, 16);
    job.size = static_cast<std::size_t>(m_size->value());
    job.format =
        CounterFormatFromName(m_format->currentText().toStdString()).value_or(CounterFormat::Le);
    const auto start = DecimalOf(m_start->text(), false);
    const auto step = DecimalOf(m_step->text(), false);
    const auto last = DecimalOf(m_last->text(), true);
    std::string error;
    if (!addressOk || m_address->text().trimmed().size() > 5) {
        error = "地址: 十六进制, 例如 1F00";
    } else if (!start || !step || (!last && !m_last->text().trimmed().isEmpty())) {
        error = "起始值、步长、结束值: 十进制数";
    } else {
        job.start = *start;
        job.step = *step;
        job.last = last;
        if (m_database && m_database->DefineJob(job, {}, error)) {
            FillJobs(job.name);
            return true;
        }
    }
    m_counts->setText(QString::fromStdString(error));
    return false;
}

}  // namespace koru
