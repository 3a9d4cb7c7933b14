#include "controls/cmygrp.h"

#include <qdrawutil.h>
#include <QChildEvent>
#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QWidget>

#include "controls/control_host.h"
#include "controls/control_ids.h"

namespace koru {
namespace {

constexpr int kCaptionIndent = 8;   // from the frame's left edge to the caption's gap
constexpr int kCaptionPadding = 2;  // the gap in the line on each side of the caption

}  // namespace

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

void CMygrp::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QFontMetrics metrics = fontMetrics();
    // An etched line (dark, then light), its top through the middle of the caption. Drawn here
    // rather than by the style, which would put the line below the caption.
    qDrawShadeRect(&painter, rect().adjusted(0, metrics.height() / 2, 0, 0), palette(), true, 1);
    if (title().isEmpty()) {
        return;
    }
    const QRect gap(kCaptionIndent, 0, metrics.horizontalAdvance(title()) + 2 * kCaptionPadding,
                    metrics.height());
    painter.fillRect(gap, palette().brush(backgroundRole()));
    style()->drawItemText(&painter, gap, Qt::AlignCenter, palette(), isEnabled(), title(),
                          QPalette::WindowText);
}

}  // namespace koru
