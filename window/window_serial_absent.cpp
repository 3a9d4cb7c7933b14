// A build without the line database (the Windows toolchains have neither SQLite nor libpq).

#include "window/window_serial.h"

namespace koru {

struct WindowSerial::State {
    std::string none;
};

WindowSerial::WindowSerial(CProgrammerDlg& window) : m_window(window), m_state(new State) {}
WindowSerial::~WindowSerial() = default;
bool WindowSerial::Available() {
    return false;
}
void WindowSerial::LoadChoice() {}
void WindowSerial::Choose(const std::string&, bool) {}
std::optional<std::pair<std::uint32_t, std::uint32_t>> WindowSerial::Place(const std::string&,
                                                                           std::string& error) {
    error = "this build has no line database";
    return std::nullopt;
}
const std::string& WindowSerial::Chosen() const {
    return m_state->none;
}
void WindowSerial::ShowDialog() {}
void WindowSerial::AfterRecord(const nlohmann::json&) {}
QString WindowSerial::TitleText() {
    return {};
}

}  // namespace koru
