#include "report/report_record.h"

#include <fstream>
#include <nlohmann/json.hpp>

namespace koru {
namespace {

using nlohmann::json;

RecordResult ResultOf(bool passed, const std::string& kind) {
    if (passed) {
        return RecordResult::Passed;
    }
    if (kind == "link-lost") {
        return RecordResult::LinkLost;
    }
    if (kind == "no-answer") {
        return RecordResult::NoAnswer;
    }
    if (kind == "refused") {
        return RecordResult::Refused;
    }
    return RecordResult::ChipFailed;
}

// Reads the fields the reports use while the parser walks the line, without building the
// whole document: a month of records parses in a fraction of the time. A key given twice
// counts with its last value, as in a parsed document; a field of another type reads as absent.
class RecordFields : public json::json_sax_t {
  public:
    bool null() override { return Scalar(); }
    bool boolean(bool value) override {
        if (AtTop("passed")) {
            passed_ = value;
            return true;
        }
        return Scalar();
    }
    bool number_integer(json::number_integer_t) override { return Scalar(); }
    bool number_unsigned(json::number_unsigned_t value) override {
        if (AtTop("duration_ms")) {
            record_.duration = value;
            return true;
        }
        return Scalar();
    }
    bool number_float(json::number_float_t, const json::string_t&) override { return Scalar(); }
    bool binary(json::binary_t&) override { return Scalar(); }
    bool string(json::string_t& value) override {
        if (std::string* field = TextField()) {
            *field = std::move(value);
            return true;
        }
        return Scalar();
    }
    bool start_object(std::size_t) override { return Open(true); }
    bool end_object() override { return Close(); }
    bool start_array(std::size_t) override { return Open(false); }
    bool end_array() override { return Close(); }
    bool key(json::string_t& key) override {
        if (open_.size() == 1) {
            top_ = std::move(key);
        } else if (open_.size() == 2) {
            inner_ = std::move(key);
        }
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

    // The record, when the line was an object with a true or false "passed".
    std::optional<ReportRecord> Take() {
        if (!isObject_ || !passed_) {
            return std::nullopt;
        }
        record_.passed = *passed_;
        record_.result = ResultOf(record_.passed, kind_);
        record_.touchedNoChip = !record_.passed && stepsEmpty_.value_or(false);
        return std::move(record_);
    }

  private:
    bool AtTop(const char* key) const { return open_.size() == 1 && top_ == key; }
    bool In(const char* object, const char* key) const {
        return open_.size() == 2 && open_[1] && top_ == object && inner_ == key;
    }

    // The field a string goes to where the parser is.
    std::string* TextField() {
        if (open_.size() == 1) {
            for (auto [key, field] : {std::pair{"time", &record_.time},
                                      {"host", &record_.host},
                                      {"port", &record_.port},
                                      {"device", &record_.device},
                                      {"lot", &record_.lot},
                                      {"failed_step", &record_.failedStep}}) {
                if (top_ == key) {
                    return field;
                }
            }
        }
        if (In("file", "path")) {
            return &record_.filePath;
        }
        if (In("file", "sha256")) {
            return &record_.sha256;
        }
        if (In("job", "name")) {
            return &record_.jobName;
        }
        if (In("job", "checksum")) {
            return &record_.jobChecksum;
        }
        return In("outcome", "kind") ? &kind_ : nullptr;
    }

    // Inside the top-level "steps" array, where each value is one step.
    bool InSteps() const { return open_.size() == 2 && !open_[1] && top_ == "steps"; }

    // A value where a field was expected that is not of the field's type: the field is absent.
    bool Scalar() {
        if (InSteps()) {
            stepsEmpty_ = false;
        } else if (open_.size() == 1) {
            Absent(top_);
        } else if (In("file", "path")) {
            record_.filePath = kNoFile;
        } else if (In("file", "sha256")) {
            record_.sha256.clear();
        } else if (In("outcome", "kind")) {
            kind_.clear();
        } else if (In("job", "name")) {
            record_.jobName.clear();
        } else if (In("job", "checksum")) {
            record_.jobChecksum.clear();
        }
        return true;
    }

    void Absent(const std::string& key) {
        if (key == "passed") {
            passed_.reset();
        } else if (key == "duration_ms") {
            record_.duration.reset();
        } else if (key == "file") {
            record_.hasFile = false;
            record_.filePath.clear();
            record_.sha256.clear();
        } else if (key == "outcome") {
            kind_.clear();
        } else if (key == "job") {
            record_.jobName.clear();
            record_.jobChecksum.clear();
        } else if (key == "steps") {
            stepsEmpty_.reset();
        } else if (std::string* field = TextField()) {
            field->clear();
        }
    }

    bool Open(bool object) {
        if (open_.empty()) {
            isObject_ = object;
        } else if (InSteps()) {
            stepsEmpty_ = false;
        } else if (open_.size() == 1) {
            Absent(top_);
            if (!object && top_ == "steps") {
                stepsEmpty_ = true;
            }
            if (object && top_ == "file") {
                record_.hasFile = true;
                record_.filePath = kNoFile;
                record_.sha256.clear();
            }
        }
        open_.push_back(object);
        return true;
    }

    bool Close() {
        open_.pop_back();
        return true;
    }

    static constexpr char kNoFile[] = "(no file)";
    ReportRecord record_;
    std::optional<bool> passed_;
    std::string kind_;
    std::optional<bool> stepsEmpty_;  // a "steps" array was read, and whether it held nothing
    bool isObject_ = false;
    std::vector<bool> open_;   // the containers the parser is in: true for an object
    std::string top_, inner_;  // the last key at the first and second level
};

// Hands one line to sink: a record, nothing when blank, else its place as not a record.
void ReadLine(const std::string& line, const std::string& source, std::uint64_t number,
              RecordSink& sink) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) {
        return;
    }
    if (auto record = ParseRecordLine(line)) {
        sink.Record(*record);
    } else {
        sink.Unparsable(source + ":" + std::to_string(number));
    }
}

}  // namespace

std::optional<ReportRecord> ParseRecordLine(std::string_view line) {
    RecordFields fields;
    if (!json::sax_parse(line, &fields)) {
        return std::nullopt;
    }
    return fields.Take();
}

SourceResult RecordFiles::ReadInto(RecordSink& sink) {
    SourceResult result;
    for (const std::string& path : paths_) {
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            result.problems.push_back("cannot read " + path);
            continue;
        }
        ++result.opened;
        std::string line;
        std::uint64_t number = 0;
        while (std::getline(file, line)) {
            ReadLine(line, path, ++number, sink);
        }
    }
    return result;
}

SourceResult RecordLines::ReadInto(RecordSink& sink) {
    std::uint64_t number = 0;
    for (const std::string& line : lines_) {
        ReadLine(line, name_, ++number, sink);
    }
    return {1, {}};
}

}  // namespace koru
