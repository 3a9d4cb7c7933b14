#include "window/edit_dialog.h"

#include <QLabel>
#include <QPushButton>

#include "controls/cmyedit.h"
#include "resources/dialog_texts.h"
#include "window/window_fonts.h"

namespace koru {
namespace {

// The template's 186 x 95 dialog units and its controls, in pixels of the 8-point dialog font.
constexpr int kWidth = 279;
constexpr int kHeight = 154;
constexpr QRect kOkRect{30, 96, 75, 23};
constexpr QRect kCancelRect{165, 96, 75, 23};
constexpr QRect kPromptRect{33, 33, 188, 13};
constexpr QRect kValueRect{30, 60, 140, 25};  // (30, 60)-(170, 85)
constexpr int kValueLimit = 99;               // characters of the value that are kept

}  // namespace

EditDialog::EditDialog(QWidget* parent, const QString& value, const QString& address)
    : QDialog(parent), m_value(value) {
    setWindowTitle(QString::fromUtf8(kEditDialogCaption));
    setFont(GetWindowFont(WindowFont::Controls));
    setFixedSize(kWidth, kHeight);

    m_ok = new QPushButton(QString::fromUtf8(kEditDialogOk), this);
    m_ok->setGeometry(kOkRect);
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &EditDialog::accept);
    m_cancel = new QPushButton(QString::fromUtf8(kEditDialogCancel), this);
    m_cancel->setGeometry(kCancelRect);
    m_cancel->setAutoDefault(false);
    connect(m_cancel, &QPushButton::clicked, this, &EditDialog::reject);
    m_prompt = new QLabel(QString::fromUtf8(kEditDialogLabelTemplate), this);
    m_prompt->setGeometry(kPromptRect);

    m_edit = new CMyedit(kIdCellValueEdit, this);
    m_edit->setGeometry(kValueRect);
    m_edit->SetUpperCase(true);
    m_prompt->setText(QString::fromUtf8(kEditDialogPromptBegin) + address +
                      QString::fromUtf8(kEditDialogPromptEnd));
    m_edit->setText(value);
    m_edit->setFocus();
}

void EditDialog::accept() {
    QDialog::accept();
    m_value = m_edit->text().left(kValueLimit);
}

}  // namespace koru
