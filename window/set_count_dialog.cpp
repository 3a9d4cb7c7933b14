#include "window/set_count_dialog.h"

#include <QCheckBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QStyleOptionFrame>

#include "controls/cmygrp.h"
#include "resources/dialog_texts.h"
#include "window/window_fonts.h"

namespace koru {
namespace {

// Dialog units of the 8-point dialog font in pixels: 3/2 across, 13/8 down.
QRect DialogUnitsToPixels(int x, int y, int width, int height) {
    return QRect(x * 3 / 2, y * 13 / 8, width * 3 / 2, height * 13 / 8);
}

constexpr int kTextLimit = 15;  // characters kept of each count text (16-character buffers)
// The edits' own font: "MS Shell Dlg", height 16, width 7, weight 550.
constexpr int kEditFontPixels = 16;
constexpr int kEditFontWeight = 550;

// The widest start value an edit must show whole, and how narrow its digits may be set to fit.
constexpr char kWidestStartValue[] = "000000";
constexpr int kNarrowestStretch = 60;  // percent of the font's normal width
constexpr int kStretchStep = 2;
constexpr int kLineEditMargin = 2;  // a line edit's own gap on each side of its text
constexpr int kCursorWidth = 1;

QFont EditFont() {
    QFont font(QStringLiteral("MS Shell Dlg"));
    font.setPixelSize(kEditFontPixels);
    font.setWeight(static_cast<QFont::Weight>(kEditFontWeight));
    return font;
}

// The width a line edit's text may take before the edit scrolls it.
int TextAreaWidth(const QLineEdit& edit) {
    QStyleOptionFrame option;
    option.initFrom(&edit);
    option.lineWidth = edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &edit);
    const QRect contents =
        edit.style()->subElementRect(QStyle::SE_LineEditContents, &option, &edit);
    return contents.width() - 2 * kLineEditMargin - kCursorWidth;
}

// The edits were laid out for a narrow dialog font; where the installed font is wider, its
// digits are narrowed until the widest start value fits, so no digit is cut off.
void FitWidestValue(QLineEdit& edit) {
    QFont font = edit.font();
    const QString widest = QString::fromLatin1(kWidestStartValue);
    const int available = TextAreaWidth(edit);
    int stretch = QFont::Unstretched;
    while (QFontMetrics(font).horizontalAdvance(widest) > available &&
           stretch - kStretchStep >= kNarrowestStretch) {
        stretch -= kStretchStep;
        font.setStretch(stretch);
    }
    edit.setFont(font);
}

struct CheckBit {
    int id;
    std::uint32_t bit;
};
constexpr CheckBit kCheckBits[] = {{1000, 0x20}, {1001, 0x10}, {1002, 0x04},
                                   {1003, 0x01}, {1004, 0x02}, {1005, 0x08}};

constexpr int kIdSuccessEdit = 1006;
constexpr int kIdFailureEdit = 1007;

}  // namespace

std::uint32_t CounterDialogBit(int id) {
    for (const CheckBit& check : kCheckBits) {
        if (check.id == id) {
            return check.bit;
        }
    }
    return 0;
}

SetCount::SetCount(QWidget* parent, const CounterSettings& settings)
    : QDialog(parent), m_settings(settings) {
    setWindowTitle(QString::fromUtf8(kCounterDialogCaption));
    setFont(GetWindowFont(WindowFont::Controls));
    const QRect frame = DialogUnitsToPixels(0, 0, kCounterDialogWidthDlu, kCounterDialogHeightDlu);
    setFixedSize(frame.size());

    // Created in template order, so the tab order follows it.
    for (const CounterDialogControl& entry : kCounterDialogControls) {
        const QString caption = QString::fromUtf8(entry.caption);
        QWidget* control = nullptr;
        switch (entry.kind) {
            case CounterDialogKind::DefaultButton:
            case CounterDialogKind::Button: {
                auto* button = new QPushButton(caption, this);
                const bool isDefault = entry.kind == CounterDialogKind::DefaultButton;
                button->setDefault(isDefault);
                button->setAutoDefault(isDefault);
                connect(button, &QPushButton::clicked, this,
                        isDefault ? &SetCount::accept : &SetCount::reject);
                control = button;
                break;
            }
            case CounterDialogKind::Check: {
                auto* check = new QCheckBox(caption, this);
                check->setChecked((m_settings.flags & CounterDialogBit(entry.id)) != 0);
                control = check;
                break;
            }
            case CounterDialogKind::Group:
                control = new CMygrp(entry.id, caption, this);  // the classic frame
                control->setFocusPolicy(Qt::NoFocus);
                break;
            case CounterDialogKind::Label:
                control = new QLabel(caption, this);
                break;
            case CounterDialogKind::Edit: {
                auto* edit = new QLineEdit(this);
                edit->setFont(EditFont());
                edit->setMaxLength(kTextLimit);
                // Typed text takes digits only; pasted text is checked again after OK.
                edit->setValidator(new QRegularExpressionValidator(
                    QRegularExpression(QStringLiteral("[0-9]*")), edit));
                edit->setText(entry.id == kIdSuccessEdit ? m_settings.successText
                                                         : m_settings.failureText);
                control = edit;
                break;
            }
        }
        control->setGeometry(DialogUnitsToPixels(entry.x, entry.y, entry.width, entry.height));
        if (entry.kind == CounterDialogKind::Edit) {
            FitWidestValue(*static_cast<QLineEdit*>(control));
        }
        if (entry.kind == CounterDialogKind::Group) {
            control->lower();  // the group frames stay behind the controls they frame
        }
        if (entry.id >= 0) {
            m_controls.emplace(entry.id, control);
        }
    }
}

QWidget* SetCount::Control(int id) const {
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

void SetCount::accept() {
    QDialog::accept();
    m_settings.successText =
        static_cast<QLineEdit*>(Control(kIdSuccessEdit))->text().left(kTextLimit);
    m_settings.failureText =
        static_cast<QLineEdit*>(Control(kIdFailureEdit))->text().left(kTextLimit);
    std::uint32_t flags = 0;
    for (const CheckBit& check : kCheckBits) {
        if (static_cast<QCheckBox*>(Control(check.id))->isChecked()) {
            flags |= check.bit;
        }
    }
    m_settings.flags = flags;
}

}  // namespace koru
