#include "core/services.h"

#include <atomic>

namespace koru {

MessageAnswer QuietWindowServices::ShowMessageBox(const std::string&, const std::string&,
                                                  MessageIcon, MessageButtons buttons) {
    switch (buttons) {
        case MessageButtons::Ok:
            return MessageAnswer::Ok;
        case MessageButtons::OkCancel:
            return MessageAnswer::Cancel;
        case MessageButtons::YesNo:
            return MessageAnswer::No;
    }
    return MessageAnswer::Cancel;
}

namespace {

QuietWindowServices silentServices;
std::atomic<WindowServices*> installed{nullptr};

}  // namespace

WindowServices& Window() {
    WindowServices* services = installed.load();
    return services != nullptr ? *services : silentServices;
}

void InstallWindowServices(WindowServices* services) {
    installed = services;
}

}  // namespace koru
