#include "controls/cmystatic.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

#include "controls/control_host.h"
#include "controls/control_ids.h"

namespace koru {
namespace {

// The address with every character code raised by one, so that it does not stand in the
// binary as plain text: "http://koru.example/".
constexpr char kEncodedAddress[] = "iuuq;00lpsv/fybnqmf0";

}  // namespace

QString WebAddress() {
    std::string address(kEncodedAddress);
    for (char& c : address) {
        c = static_cast<char>(c - 1);
    }
    return QString::fromStdString(address);
}

CMystatic::CMystatic(int id, const QString& text, QWidget* parent) : QLabel(text, parent) {
    SetControlId(this, id);
}

bool CMystatic::IsLink() const {
    return ControlId(this) == kIdWebLink;
}

void CMystatic::mousePressEvent(QMouseEvent* event) {
    if (!IsLink() || event->button() != Qt::LeftButton) {
        QLabel::mousePressEvent(event);
        return;
    }
    // The press keeps the mouse on the link until the release.
    if (ControlHost* host = MainWindowHost()) {
        host->LinkPressed();
    }
    update();
    event->accept();
}

void CMystatic::mouseReleaseEvent(QMouseEvent* event) {
    if (!IsLink() || event->button() != Qt::LeftButton) {
        QLabel::mouseReleaseEvent(event);
        return;
    }
    event->accept();
    ControlHost* host = MainWindowHost();
    if (host == nullptr || !host->LinkReleased()) {
        return;
    }
    update();
    const QPoint pos = event->position().toPoint();
    if (pos.x() > 0 && pos.x() < width() && pos.y() > 0 && pos.y() < height()) {
        QDesktopServices::openUrl(QUrl(WebAddress()));
    }
}

}  // namespace koru
