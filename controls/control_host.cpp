#include "controls/control_host.h"

#include <QObject>
#include <QVariant>

namespace koru {
namespace {

ControlHost* mainWindowHost = nullptr;
constexpr char kIdProperty[] = "koruControlId";

}  // namespace

ControlHost* MainWindowHost() {
    return mainWindowHost;
}

void SetMainWindowHost(ControlHost* host) {
    mainWindowHost = host;
}

void SetControlId(QObject* control, int id) {
    control->setProperty(kIdProperty, id);
}

int ControlId(const QObject* control) {
    if (control == nullptr) {
        return -1;
    }
    bool ok = false;
    const int id = control->property(kIdProperty).toInt(&ok);
    return ok ? id : -1;
}

}  // namespace koru
