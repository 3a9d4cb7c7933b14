#include "window/job_save_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QIntValidator>
#include <QLineEdit>
#include <QVBoxLayout>

namespace koru {

JobSaveDialog::JobSaveDialog(QWidget* parent, const JobSaveChoice& start) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(kSaveJobEntryText).remove(u'…'));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    m_name = new QLineEdit(start.name, this);
    m_description = new QLineEdit(start.description, this);
    m_quota = new QLineEdit(start.quota, this);
    m_quota->setPlaceholderText(QStringLiteral("不限"));
    m_quota->setValidator(new QIntValidator(1, 1000000000, m_quota));
    m_password = new QLineEdit(this);
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setPlaceholderText(QStringLiteral("不加锁"));
    m_repeated = new QLineEdit(this);
    m_repeated->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("作业名称:"), m_name);
    form->addRow(QStringLiteral("说明:"), m_description);
    form->addRow(QStringLiteral("每批合格数:"), m_quota);
    form->addRow(QStringLiteral("操作员模式密码:"), m_password);
    form->addRow(QStringLiteral("再输入一次:"), m_repeated);
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

JobSaveChoice JobSaveDialog::Choice() const {
    return {m_name->text(), m_description->text(), m_quota->text(), m_password->text(),
            m_repeated->text()};
}

}  // namespace koru
