#include "cli/safety.h"

#include "image/numbers.h"
#include "image/program_memory.h"
#include "operations/one_shot.h"

namespace koru::cli {
namespace {

// The window's box when the range no longer matches the one the image checksum was taken over.
constexpr char kAddressChangedText[] =
    "编程地址已改变,请首先点击[缓冲区检查和]按钮\n以得到编程内存检查和!";

}  // namespace

int ExitStatusFor(OutcomeKind kind) {
    switch (kind) {
        case OutcomeKind::Success:
            return kSuccess;
        case OutcomeKind::ChipFailed:
        case OutcomeKind::SupplyFault:
            return kChipFailed;
        case OutcomeKind::LinkLost:
        case OutcomeKind::NoAnswer:
            return kNoProgrammer;
        case OutcomeKind::Refused:
            return kBadUsage;
    }
    return kBadUsage;
}

std::optional<std::string> RefusalBeforeTraffic(const Options& options, bool otp) {
    // read overwrites the image only after the operator's yes, which a script gives up front.
    if (options.command == Command::Read && !options.yes) {
        return "read replaces the programming memory with the chip's contents: confirm with "
               "--yes; nothing was sent";
    }
    if (otp) {
        const bool mtpOnly =
            options.command == Command::Erase ||
            (options.command == Command::Protect &&
             (options.protectCode == kLdcProtect || options.protectCode == kHwWriteProtect));
        if (mtpOnly) {
            return "this command is for MTP chips only, and the chip kind is OTP (--otp or the "
                   "saved setting); nothing was sent";
        }
    }
    if (options.rangeStart) {
        const auto start = ParseAddressText(*options.rangeStart);
        const auto end = ParseAddressText(*options.rangeEnd);
        if (start && end && *start > *end) {
            return "--range " + *options.rangeStart + "-" + *options.rangeEnd +
                   " is reversed: its start " + Hex(*start, 4) + " lies above its end " +
                   Hex(*end, 4);
        }
    }
    return std::nullopt;
}

std::optional<std::string> RefusalForLoadedRange(const Options& options, AddressRange loaded,
                                                 AddressRange read) {
    const bool overFile = options.command == Command::Program || options.command == Command::Verify;
    if (!overFile || options.rangeStart || loaded == read) {
        return std::nullopt;
    }
    return std::string(kAddressChangedText) + "\n(the file's range " + Hex(loaded.start, 4) + "-" +
           Hex(loaded.end, 4) + " does not fit the four-digit address fields, which read " +
           Hex(read.start, 4) + "-" + Hex(read.end, 4) + "; name the range with --range START-END)";
}

}  // namespace koru::cli
