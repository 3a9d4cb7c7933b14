#include "window/services.h"

#include <atomic>

namespace koru {
namespace {

class SilentWindowServices final : public WindowServices {
  public:
    ChoiceState GetChoice(Choice) override { return {}; }
    std::string ReadField(TextField) override { return {}; }
    void WriteField(TextField, const std::string&) override {}
    void SetStatusLine(const std::string&) override {}
    void RefreshCursor() override {}
    void LockViewControls(bool) override {}
    void RestartTick() override {}
    MessageAnswer ShowMessageBox(const std::string&, const std::string&, MessageIcon,
                                 MessageButtons buttons) override {
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
    std::optional<std::string> ShowFileDialog(FileDialogKind, const std::string&) override {
        return std::nullopt;
    }
    void ShowMemoryPage(const MemoryPageText&) override {}
};

SilentWindowServices silentServices;
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
