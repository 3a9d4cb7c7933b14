// Building the window's controls from the control table: one widget per entry, placed, styled
// and marked as the table says.

#include <QApplication>
#include <QHeaderView>

#include "controls/cmyedit.h"
#include "controls/cmygrp.h"
#include "controls/cmystatic.h"
#include "controls/control_ids.h"
#include "resources/dialog_texts.h"
#include "window/dialog_style.h"
#include "window/memory_page_list.h"
#include "window/programmer_dlg.h"
#include "window/window_fonts.h"

namespace koru {
namespace {

const QColor kGroupCaptionColour{0, 100, 100};
const QColor kOperationCaptionColour{0, 100, 255};

void SetEnabledTextColour(QWidget& widget, const QColor& colour) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Active, QPalette::WindowText, colour);
    palette.setColor(QPalette::Inactive, QPalette::WindowText, colour);
    widget.setPalette(palette);
}

QColor CaptionColour(int id) {
    switch (id) {
        case 107:
        case 108:
            return kOperationCaptionColour;
        default:
            return kGroupCaptionColour;
    }
}

}  // namespace

void CProgrammerDlg::CreateControls() {
    setFont(GetWindowFont(WindowFont::Controls));
    for (const ControlEntry& entry : ControlTable()) {
        QWidget* parent = entry.parent == kParentMain ? this : Control(entry.parent);
        QWidget* control = CreateControl(entry, parent);
        control->setGeometry(entry.left, entry.top, entry.right - entry.left,
                             entry.bottom - entry.top);
        if (entry.font != WindowFont::Controls) {
            control->setFont(GetWindowFont(entry.font));
        }
        if (entry.flags & kDisabledAtStart) {
            control->setEnabled(false);
        }
        if (entry.flags & kHiddenAtStart) {
            control->hide();
        }
        m_controls.emplace(entry.id, control);
        if (entry.flags & kMarkedAtStart) {
            SetMarked(entry.id, true);
        }
    }
    ApplyCaptionColours();
    Control(kIdWebLink)->installEventFilter(this);
}

QWidget* CProgrammerDlg::CreateControl(const ControlEntry& entry, QWidget* parent) {
    const QString caption = QString::fromUtf8(entry.caption);
    switch (entry.kind) {
        case ControlKind::Group:
            return new CMygrp(entry.id, caption, parent);
        case ControlKind::Radio:
        case ControlKind::Check:
        case ControlKind::Button: {
            CMybtn* button = nullptr;
            if (entry.kind == ControlKind::Radio) {
                button = new CMyRadioButton(entry.id, caption, parent);
            } else if (entry.kind == ControlKind::Check) {
                button = new CMyCheckBox(entry.id, caption, parent);
            } else {
                auto* push = new CMyPushButton(entry.id, caption, parent);
                push->setAutoDefault(false);
                button = push;
            }
            // Buttons take the focus when clicked but are no tab stops.
            button->Widget().setFocusPolicy(Qt::ClickFocus);
            button->Widget().setStyle(DialogStyle());
            return &button->Widget();
        }
        case ControlKind::Edit: {
            auto* edit = new CMyedit(entry.id, parent);
            edit->setText(caption);
            edit->setAlignment((entry.flags & kCentred) ? Qt::AlignCenter
                                                        : Qt::AlignLeft | Qt::AlignVCenter);
            edit->SetUpperCase(entry.flags & kUpperCase);
            edit->setReadOnly(entry.flags & kReadOnly);
            edit->setFocusPolicy(Qt::ClickFocus);
            return edit;
        }
        case ControlKind::Label:
            return new CMystatic(entry.id, caption, parent);
        case ControlKind::Link: {
            auto* link = new CMystatic(entry.id, WebAddress(), parent);
            link->setCursor(Qt::PointingHandCursor);
            return link;
        }
        case ControlKind::List: {
            auto* list = new MemoryPageList(parent);
            SetControlId(list, entry.id);
            list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            list->verticalHeader()->hide();
            list->horizontalHeader()->setSectionsClickable(false);
            list->horizontalHeader()->setHighlightSections(false);
            list->setEditTriggers(QAbstractItemView::NoEditTriggers);
            list->setFrameShape(QFrame::Box);
            list->setFrameShadow(QFrame::Plain);
            list->setLineWidth(1);
            list->setFocusPolicy(Qt::StrongFocus);
            connect(list, &QTableWidget::cellDoubleClicked, this, &CProgrammerDlg::EditMemoryCell);
            // Track-select: the row under the mouse becomes the selected one.
            list->setMouseTracking(true);
            connect(list, &QTableWidget::cellEntered, list, [list](int row, int) {
                if (row < MemoryPageList::kPageRows) {
                    list->selectRow(row);
                }
            });
            return list;
        }
    }
    return nullptr;
}

// Group captions take the window's caption colours; the controls inside keep the default. A
// disabled caption keeps the style's grey, so an operator sees what is unavailable.
void CProgrammerDlg::ApplyCaptionColours() {
    const QPalette defaults = QApplication::palette();
    for (const ControlEntry& entry : ControlTable()) {
        if (entry.kind != ControlKind::Group || entry.parent != kParentMain) {
            continue;
        }
        QWidget* group = Control(entry.id);
        SetEnabledTextColour(*group, CaptionColour(entry.id));
        for (QWidget* child : group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            SetEnabledTextColour(*child, defaults.color(QPalette::WindowText));
        }
    }
}

}  // namespace koru
