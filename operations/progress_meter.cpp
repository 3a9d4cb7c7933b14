#include "operations/progress_meter.h"

#include <algorithm>
#include <cstdio>

#include "operations/progress_texts.h"

namespace koru {
namespace {

struct StepText {
    LongStep step;
    const char* text;
    const char* name;
};

constexpr StepText kStepTexts[] = {
    {LongStep::Program, kProgramText, "program"},
    {LongStep::Verify, kVerifyText, "verify"},
    {LongStep::Read, kCopyChipText, "read"},
    {LongStep::BlankCheck, kBlankCheckText, "blank check"},
    {LongStep::Checksum, kChecksumText, "checksum"},
    {LongStep::Erase, kEraseMtpText, "erase"},
};

constexpr int kSecondsPerMinute = 60;

const char* StepName(LongStep step) {
    for (const StepText& entry : kStepTexts) {
        if (entry.step == step) {
            return entry.name;
        }
    }
    return "";
}

// The hexadecimal number that ends text, after its last ':' and any spaces.
std::optional<std::uint32_t> TrailingAddress(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view digits = text.substr(colon + 1);
    digits.remove_prefix(std::min(digits.find_first_not_of(' '), digits.size()));
    constexpr std::size_t kMaxDigits = 8;
    if (digits.empty() || digits.size() > kMaxDigits) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (const char c : digits) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else {
            return std::nullopt;
        }
        value = value << 4 | digit;
    }
    return value;
}

// Bytes of start..end done when the step's text names address.
std::uint64_t BytesDone(LongStep step, std::uint32_t address, std::uint32_t start) {
    if (address < start) {
        return 0;
    }
    // The checksum's report names the last address summed; the others, the next one to do.
    return std::uint64_t{address} - start + (step == LongStep::Checksum ? 1 : 0);
}

std::string Duration(double seconds) {
    const auto whole = static_cast<long long>(seconds + 0.5);
    if (whole < kSecondsPerMinute) {
        return std::to_string(whole) + " s";
    }
    return std::to_string(whole / kSecondsPerMinute) + " min " +
           std::to_string(whole % kSecondsPerMinute) + " s";
}

}  // namespace

std::optional<StepPosition> ReadStepPosition(std::string_view text) {
    for (const StepText& entry : kStepTexts) {
        const std::string_view head = entry.text;
        if (text.substr(0, head.size()) != head) {
            continue;
        }
        StepPosition position;
        position.step = entry.step;
        const std::string_view rest = text.substr(head.size());
        if (entry.step == LongStep::Erase) {
            position.opening = rest.empty();
            return rest.empty() ? std::optional(position) : std::nullopt;
        }
        if (rest == kOpeningTail) {
            position.opening = true;
            return position;
        }
        position.address = TrailingAddress(text);
        if (!position.address) {
            return std::nullopt;
        }
        return position;
    }
    return std::nullopt;
}

std::string ProgressText(const ProgressFigures& figures) {
    const double seconds = std::chrono::duration<double>(figures.elapsed).count();
    std::string text = StepName(figures.step);
    if (figures.total == 0) {
        char elapsed[32];
        std::snprintf(elapsed, sizeof elapsed, "  %.1f s", seconds);
        return text + elapsed;
    }
    const std::uint64_t done = std::min(figures.done, figures.total);
    char head[96];
    std::snprintf(head, sizeof head, "  %llu/%llu B  %3u%%", static_cast<unsigned long long>(done),
                  static_cast<unsigned long long>(figures.total),
                  static_cast<unsigned>(done * 100 / figures.total));
    text += head;
    if (done == 0 || seconds <= 0.0) {
        return text + "  -- B/s  -- left";
    }
    const double rate = static_cast<double>(done) / seconds;
    char rateText[32];
    std::snprintf(rateText, sizeof rateText, "  %.0f B/s  ", rate);
    return text + rateText + Duration(static_cast<double>(figures.total - done) / rate) + " left";
}

std::optional<ProgressFigures> ProgressMeter::Update(std::string_view text, std::uint32_t start,
                                                     std::uint32_t end,
                                                     std::chrono::steady_clock::time_point now) {
    const std::optional<StepPosition> position = ReadStepPosition(text);
    if (!position) {
        step_.reset();
        return std::nullopt;
    }
    ProgressFigures figures;
    figures.step = position->step;
    figures.first = position->opening || step_ != position->step;
    if (figures.first) {
        step_ = position->step;
        started_ = now;
    }
    figures.elapsed = now - started_;
    if (position->step != LongStep::Erase && end >= start) {
        figures.total = std::uint64_t{end} - start + 1;
        figures.done = position->address ? BytesDone(position->step, *position->address, start) : 0;
    }
    last_ = figures;
    return figures;
}

std::optional<ProgressFigures> ProgressMeter::Current(
    std::chrono::steady_clock::time_point now) const {
    if (!step_) {
        return std::nullopt;
    }
    ProgressFigures figures = last_;
    figures.elapsed = now - started_;
    figures.first = false;
    return figures;
}

}  // namespace koru
