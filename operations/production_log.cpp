#include "operations/production_log.h"

#include <cstdlib>
#include <filesystem>

#include "platform/host_clock.h"
#include "platform/user_folders.h"

namespace koru {
namespace {

constexpr char kProductionSubfolder[] = "lumatrix/production";
constexpr char kDayFileSuffix[] = ".jsonl";

}  // namespace

std::string DefaultProductionFolder() {
    return (std::filesystem::path(UserStateFolder()) / kProductionSubfolder).string();
}

std::string ProductionDayFile(const std::string& folder, const std::string& date) {
    return (std::filesystem::path(folder) / (date + kDayFileSuffix)).string();
}

std::string ProductionLine(const nlohmann::json& record) {
    return record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

ProductionLog::ProductionLog(std::string fixedPath) : fixedPath_(std::move(fixedPath)) {}

std::string ProductionLog::PathFor(std::chrono::system_clock::time_point when) const {
    if (!fixedPath_.empty()) {
        return fixedPath_;
    }
    return ProductionDayFile(DefaultProductionFolder(), LocalDateText(when));
}

bool ProductionLog::OpenFor(std::chrono::system_clock::time_point when, std::string& error) {
    const std::string path = PathFor(when);
    if (file_.IsOpen() && file_.Path() == path) {
        return true;
    }
    return file_.Open(path, error);
}

bool ProductionLog::Check(std::string& error) {
    std::lock_guard lock(mutex_);
    return OpenFor(std::chrono::system_clock::now(), error);
}

bool ProductionLog::Write(const nlohmann::json& record, std::chrono::system_clock::time_point when,
                          std::string& error) {
    std::lock_guard lock(mutex_);
    if (!OpenFor(when, error)) {
        return false;
    }
    if (file_.Append(ProductionLine(record), error)) {
        return true;
    }
    file_.Close();  // the next record opens it afresh (the disk may have been remounted)
    return false;
}

}  // namespace koru
