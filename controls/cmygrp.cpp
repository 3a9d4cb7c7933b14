#include "controls/cmygrp.h"

#include <QChildEvent>
#include <QEvent>
#include <QWidget>

#include "controls/control_host.h"
#include "controls/control_ids.h"

namespace koru {

CMygrp::CMygrp(int id, const QString& title, QWidget* parent) : QGroupBox(title, parent) {
    SetControlId(this, id);
}

void CMygrp::childEvent(QChildEvent* event) {
    QGroupBox::childEvent(event);
    if (event->added() && event->child()->isWidgetType()) {
        event->child()->installEventFilter(this);
    }
}

bool CMygrp::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Paint) {
        return false;
    }
    auto* child = static_cast<QWidget*>(watched);
    QColor colour;
    switch (ControlId(child)) {
        case kIdChecksum:
            colour = kStatusNormalColour;
            break;
        case kIdStatusLine: {
            ControlHost* host = MainWindowHost();
            colour = host != nullptr && host->StatusIsFailure() ? kStatusFailureColour
                                                                : kStatusNormalColour;
            break;
        }
        default:
            return false;  // every other child keeps its own colours
    }
    if (child->palette().color(QPalette::Text) != colour) {
        QPalette palette = child->palette();
        palette.setColor(QPalette::Text, colour);
        child->setPalette(palette);
    }
    return false;
}

}  // namespace koru
