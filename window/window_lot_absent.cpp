// A build without the line database: a job with a quota cannot count its lot here.

#include "window/window_lot.h"

namespace koru {

struct WindowLot::State {
    std::optional<WindowLotChoice> lot;
};

WindowLot::WindowLot() : m_state(new State) {}
WindowLot::~WindowLot() = default;
void WindowLot::Use(std::optional<WindowLotChoice> lot) {
    m_state->lot = std::move(lot);
}
bool WindowLot::TakePlace(const std::string&, std::string& refusal) {
    if (m_state->lot) {
        refusal =
            "本批 " + m_state->lot->name + ": 这个版本没有生产线数据库,不能计批数量。芯片未编程。";
        return false;
    }
    return true;
}
std::string WindowLot::Finish(bool) {
    return {};
}
QString WindowLot::TitleText() const {
    return {};
}

}  // namespace koru
