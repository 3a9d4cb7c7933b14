// A build without the line database (KORU_WITH_LINEDB off): what needs it is refused, saying so.

#include <cstdio>

#include "cli/line_link.h"
#include "cli/safety.h"

namespace koru::cli {
namespace {

constexpr char kNoDatabase[] =
    "koru-cli: %s: this build has no line database (built without SQLite and PostgreSQL)\n";

}  // namespace

struct LineLink::State {};

int RunSerialCommand(const Options&, const std::string&) {
    std::fprintf(stderr, kNoDatabase, "serial");
    return kBadUsage;
}

int RunSync(const Options&, const std::string&) {
    std::fprintf(stderr, kNoDatabase, "sync");
    return kBadUsage;
}

int RunDatabaseReport(const Options&) {
    std::fprintf(stderr, kNoDatabase, "--db");
    return kBadUsage;
}

LineLink::LineLink() = default;
LineLink::~LineLink() = default;

std::optional<SerialPlace> FindSerialPlace(const Options&, const std::string&, const std::string&) {
    std::fprintf(stderr, kNoDatabase, "--serial");
    return std::nullopt;
}

int LineLink::Start(const Options& options, const LineSettings&, const std::string&, std::uint32_t,
                    std::uint32_t) {
    if (options.serialJob || options.db) {
        std::fprintf(stderr, kNoDatabase, options.serialJob ? "--serial" : "--db");
        return kBadUsage;
    }
    return kSuccess;
}

int LineLink::TakeLotPlace(const LotOfRun& lot, const std::string&) {
    if (lot.quota) {
        std::fprintf(stderr, kNoDatabase, "a lot's quota");
        return kBadUsage;
    }
    return kSuccess;
}

std::string LineLink::LotRefusal() const {
    return {};
}

std::string LineLink::FinishLot() {
    return {};
}

std::optional<LotProgress> LineLink::LastLotProgress() const {
    return std::nullopt;
}

void LineLink::Store(const nlohmann::json&) {}

std::string LineLink::SerialText() {
    return {};
}

}  // namespace koru::cli
