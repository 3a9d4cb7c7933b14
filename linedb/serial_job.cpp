#include "linedb/serial_job.h"

#include <algorithm>
#include <array>
#include <limits>
#include <map>
#include <sstream>

#include "operations/chip_serial.h"

namespace koru {
namespace {

constexpr std::array<const char*, 3> kSourceNames{"counter", "list", "command"};
constexpr std::array<const char*, 5> kFormatNames{"le", "be", "bcd", "ascii", "hex"};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

const char* SerialSourceName(SerialSource source) {
    return kSourceNames[static_cast<std::size_t>(source)];
}

std::optional<SerialSource> SerialSourceFromName(const std::string& name) {
    for (std::size_t i = 0; i < kSourceNames.size(); ++i) {
        if (name == kSourceNames[i]) {
            return static_cast<SerialSource>(i);
        }
    }
    return std::nullopt;
}

const char* CounterFormatName(CounterFormat format) {
    return kFormatNames[static_cast<std::size_t>(format)];
}

std::optional<CounterFormat> CounterFormatFromName(const std::string& name) {
    for (std::size_t i = 0; i < kFormatNames.size(); ++i) {
        if (name == kFormatNames[i]) {
            return static_cast<CounterFormat>(i);
        }
    }
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> EncodeCounter(std::int64_t signedValue,
                                                       CounterFormat format, std::size_t size) {
    if (signedValue < 0 || size == 0 || size > kSerialMaxSize) {
        return std::nullopt;
    }
    auto value = static_cast<std::uint64_t>(signedValue);
    std::vector<std::uint8_t> bytes(size, 0);
    switch (format) {
        case CounterFormat::Le:
        case CounterFormat::Be:
            for (std::size_t i = 0; i < size && value != 0; ++i, value >>= 8) {
                bytes[i] = static_cast<std::uint8_t>(value & 0xFF);
            }
            if (value != 0) {
                return std::nullopt;
            }
            if (format == CounterFormat::Be) {
                std::reverse(bytes.begin(), bytes.end());
            }
            return bytes;
        case CounterFormat::Bcd: {
            const std::string digits = std::to_string(value);
            if (digits.size() > 2 * size) {
                return std::nullopt;
            }
            const std::string padded = std::string(2 * size - digits.size(), '0') + digits;
            for (std::size_t i = 0; i < size; ++i) {
                bytes[i] = static_cast<std::uint8_t>(((padded[2 * i] - '0') << 4) |
                                                     (padded[2 * i + 1] - '0'));
            }
            return bytes;
        }
        case CounterFormat::Ascii:
        case CounterFormat::Hex: {
            std::ostringstream text;
            if (format == CounterFormat::Hex) {
                text << std::uppercase << std::hex;
            }
            text << value;
            const std::string digits = text.str();
            if (digits.size() > size) {
                return std::nullopt;
            }
            const std::string padded = std::string(size - digits.size(), '0') + digits;
            return std::vector<std::uint8_t>(padded.begin(), padded.end());
        }
    }
    return std::nullopt;
}

std::string HexBytes(const std::vector<std::uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (const std::uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    return text;
}

std::optional<std::vector<std::uint8_t>> ParseHexBytes(const std::string& text) {
    std::string digits;
    for (const char c : text) {
        if (c == ' ' || c == ':' || c == '\t') {
            continue;
        }
        if (HexDigit(c) < 0) {
            return std::nullopt;
        }
        digits += c;
    }
    if (digits.empty() || digits.size() % 2 != 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        bytes.push_back(
            static_cast<std::uint8_t>(HexDigit(digits[i]) * 16 + HexDigit(digits[i + 1])));
    }
    return bytes;
}

std::optional<std::vector<std::vector<std::uint8_t>>> ParseSerialList(const std::string& text,
                                                                      std::size_t size,
                                                                      std::string& error) {
    std::vector<std::vector<std::uint8_t>> values;
    std::map<std::vector<std::uint8_t>, std::size_t> lineOf;
    std::istringstream lines(text);
    std::string line;
    for (std::size_t number = 1; std::getline(lines, line); ++number) {
        const std::string value = Trimmed(line);
        if (value.empty() || value[0] == '#') {
            continue;
        }
        const auto bytes = ParseHexBytes(value);
        if (!bytes || bytes->size() != size) {
            error = "line " + std::to_string(number) + ": not " + std::to_string(size) +
                    " hexadecimal bytes: " + value;
            return std::nullopt;
        }
        const auto [first, fresh] = lineOf.emplace(*bytes, number);
        if (!fresh) {
            error = "line " + std::to_string(number) + " repeats the value of line " +
                    std::to_string(first->second) + ": " + HexBytes(*bytes) +
                    " (a value goes into one chip only)";
            return std::nullopt;
        }
        values.push_back(*bytes);
    }
    if (values.empty()) {
        error = "the list holds no value";
        return std::nullopt;
    }
    return values;
}

std::string RepeatedListValue(const std::vector<std::vector<std::uint8_t>>& values) {
    std::map<std::vector<std::uint8_t>, std::size_t> entryOf;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const auto [first, fresh] = entryOf.emplace(values[i], i + 1);
        if (!fresh) {
            return "list entry " + std::to_string(i + 1) + " repeats entry " +
                   std::to_string(first->second) + ": " + HexBytes(values[i]) +
                   " (a value goes into one chip only)";
        }
    }
    return {};
}

std::string SerialJobProblem(const SerialJob& job) {
    if (job.name.empty()) {
        return "a serial job needs a name";
    }
    if (job.size == 0 || job.size > kSerialMaxSize) {
        return "--size takes 1 to 16 bytes";
    }
    if (std::string problem = SerialOverBlockBytesProblem(job.address, job.size);
        !problem.empty()) {
        return problem;
    }
    if (job.source != SerialSource::Counter) {
        return job.source == SerialSource::Command && CommandWords(job.command).empty()
                   ? "--command needs a program"
                   : "";
    }
    if (job.step <= 0) {
        return "--step must be at least 1";
    }
    if (!EncodeCounter(job.start, job.format, job.size)) {
        return "the start value " + std::to_string(job.start) + " does not fit " +
               std::to_string(job.size) + " bytes as " + CounterFormatName(job.format);
    }
    if (job.last && (*job.last < job.start || !EncodeCounter(*job.last, job.format, job.size))) {
        return "the last value " + std::to_string(*job.last) +
               " is below the start or does not fit " + std::to_string(job.size) + " bytes as " +
               CounterFormatName(job.format);
    }
    return {};
}

std::optional<std::int64_t> CounterValueAt(const SerialJob& job, std::int64_t index) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    if (index < 0 || job.step <= 0 || index > (kMax - job.start) / job.step) {
        return std::nullopt;
    }
    const std::int64_t value = job.start + index * job.step;
    if (job.last && value > *job.last) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> SerialLabelOf(const SerialJob& job, const std::string& typed) {
    if (job.source == SerialSource::Counter) {
        if (typed.empty() || typed.size() > 18 ||
            typed.find_first_not_of("0123456789") != std::string::npos) {
            return std::nullopt;
        }
        return std::to_string(std::stoll(typed));
    }
    const auto bytes = ParseHexBytes(typed);
    if (!bytes || bytes->size() != job.size) {
        return std::nullopt;
    }
    return HexBytes(*bytes);
}

std::vector<std::string> CommandWords(const std::string& command) {
    std::vector<std::string> words;
    std::istringstream stream(command);
    std::string word;
    while (stream >> word) {
        words.push_back(word);
    }
    return words;
}

}  // namespace koru
