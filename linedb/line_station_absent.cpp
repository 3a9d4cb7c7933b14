// A build without the line database (KORU_WITH_LINEDB off): a run goes on alone, and whatever
// needs the database (a serial job, a lot's quota, a record's upload) is refused, saying so.

#include "linedb/line_station.h"

namespace koru {

struct LineStation::State {
    LineSettings settings;
};

LineStation::LineStation(LineSettings settings, std::function<void(const std::string&)>)
    : state_(std::make_unique<State>()) {
    state_->settings = std::move(settings);
}
LineStation::~LineStation() = default;
bool LineStation::Available() {
    return false;
}
std::string LineStation::Location() const {
    return state_->settings.database;
}
bool LineStation::Open(std::string& error) {
    error = kNoLineDatabaseText;
    return false;
}
bool LineStation::Connect(std::string& error) {
    error = kNoLineDatabaseText;
    return false;
}
bool LineStation::IsOpen() const {
    return false;
}
std::string LineStation::Name() const {
    return {};
}
std::optional<SerialJob> LineStation::Job(const std::string&, std::string& error) {
    error = kNoLineDatabaseText;
    return std::nullopt;
}
std::optional<std::int64_t> LineStation::ValuesLeft(const std::string&) {
    return std::nullopt;
}
void LineStation::UseSerialJob(const SerialJob&, const std::string&) {}
void LineStation::UseSerialJobWhenAsked(const std::string&, const LineSettings&) {}
std::pair<std::string, std::string> LineStation::SerialLabels() {
    return {};
}
// The record stays in the day file; there is no queue to keep it for.
void LineStation::Store(const nlohmann::json&) {}
LotPlaceResult LineStation::TakeLotPlace(const LotRun&, const std::string&, LotCount&,
                                         std::string& error) {
    error = kNoLineDatabaseText;
    return LotPlaceResult::Failed;
}
bool LineStation::HoldsLotPlace() const {
    return false;
}
bool LineStation::FinishLotPlace(bool, LotCount&, std::string& error) {
    error = kNoLineDatabaseText;
    return false;
}
void LineStation::ForgetLotPlace() {}
bool LineStation::LotRecordLines(const std::string&, std::vector<std::string>&,
                                 std::string& error) {
    error = kNoLineDatabaseText;
    return false;
}

}  // namespace koru
