#pragma once

// The three-byte progress reports of a blank check and a chip checksum.

#include <cstdint>
#include <string>

namespace koru {

inline constexpr std::uint32_t kProgressReportLength = 3;  // a 24-bit address, high byte first

struct ProgressReport {
    enum Kind {
        Address,     // address holds the chip address reached
        Silence,     // no report came: FailureFlag is set, the caller judges the silence
        NoProgress,  // cut short or no address in the image: the step has ended as no answer
    } kind;
    std::uint32_t address = 0;
};

// Reads one report. What came is no progress when it is cut short or no address inside the
// image: then the programmer restarted (its announcement "ZEPHRESET" begins with bytes that
// read as 5A4550) or the line garbled or cut the report, and the step ends as no answer, never
// as a verdict: with the restart notice when the announcement is recognised, else with
// failedText.
ProgressReport ReadProgressReport(const std::string& failedText);

}  // namespace koru
