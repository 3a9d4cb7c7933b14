#include "device/exchange_player.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>

namespace koru::device {
namespace {

using Clock = DeviceLine::Clock;

// Programming data: the first byte must come within this time after the status, and no gap
// between data bytes may be longer than the second.
constexpr auto kDataFirstByteWait = std::chrono::seconds(2);
constexpr auto kDataGap = std::chrono::seconds(1);
constexpr std::size_t kProgramUnit = 8;  // data come in whole units of 8 bytes

const std::string kOk = "OK";
const std::string kRefused = "NO";
const std::string kSupplyFault = "EV";

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::vector<std::uint8_t> Address24(std::uint32_t address) {
    return {static_cast<std::uint8_t>(address >> 16), static_cast<std::uint8_t>(address >> 8),
            static_cast<std::uint8_t>(address)};
}

std::vector<std::uint8_t> Word16(std::uint16_t value) {
    return {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

// Number of bytes of an inclusive range; a range whose end lies before its start has none.
std::uint64_t RangeLength(std::uint32_t start, std::uint32_t end) {
    return end < start ? 0 : std::uint64_t{end} - start + 1;
}

// Plays the device's side of one exchange after its block was taken: the answer, then the
// command's own replies and data, as scripted.
class ExchangePlayer {
  public:
    explicit ExchangePlayer(const ExchangeContext& context)
        : line_(context.line),
          mutex_(context.mutex),
          changed_(context.changed),
          chip_(context.chip),
          exchanges_(context.exchanges) {}

    void Play(const Block& block, const CommandScript& script, const DeviceTiming& timing) {
        if (!line_.WaitFor(timing.answerDelay)) {
            return;
        }
        if (script.silentFrom == Silence::InsteadOfAnswer) {
            FallSilent(script);
            return;
        }
        const std::size_t answerLength =
            std::min<std::size_t>(script.answerLength.value_or(kBlockSize), kBlockSize);
        if (!line_.Emit(block.data(), answerLength)) {
            return;
        }
        if (script.silentFrom == Silence::AfterAnswer) {
            FallSilent(script);
            return;
        }
        if (!script.garbage.empty() && !Emit(script.garbage)) {
            return;
        }
        const std::uint32_t start = BlockField24(block, 9);
        const std::uint32_t end = BlockField24(block, 12);
        switch (block[4]) {
            case kCodeChecksum:
                PlayChecksum(script, timing, start, end);
                break;
            case kCodeBlankCheck:
                PlayBlankCheck(script, timing, start, end);
                break;
            case kCodeErase:
            case kCodeSmart:
            case kCodeReadProtect:
            case kCodeLdcProtect:
            case kCodeHwWriteProtect:
                PlayOneShot(script, timing, block[4]);
                break;
            case kCodeReadChip:
                PlayReadChip(script, timing, start, end);
                break;
            case kCodeProgram:
                PlayProgram(script, timing, block);
                break;
            default:
                break;  // the probe and unknown codes: nothing after the answer
        }
    }

  private:
    bool Emit(const std::vector<std::uint8_t>& bytes) {
        return line_.Emit(bytes.data(), bytes.size());
    }

    // The device stops answering here: it goes back to waiting for a block, or hangs up.
    void FallSilent(const CommandScript& script) {
        if (script.hangUpWhenSilent) {
            line_.hangUpRequested = true;
        }
    }

    // Sends the first status of a data command after its pause. False when the exchange ends
    // there (silence, "EV", or an interrupted line).
    bool SendFirstStatus(const CommandScript& script, const DeviceTiming& timing) {
        const std::string status = script.firstStatus.empty() ? kOk : script.firstStatus;
        if (!line_.WaitFor(timing.statusDelay) || !Emit(Bytes(status))) {
            return false;
        }
        if (script.silentFrom == Silence::AfterStatus) {
            FallSilent(script);
            return false;
        }
        return status != kSupplyFault;
    }

    std::uint16_t SumOfChip(std::uint32_t start, std::uint32_t end) {
        std::lock_guard lock(mutex_);
        std::uint16_t sum = 0;
        for (std::uint64_t a = start; a < std::uint64_t{start} + RangeLength(start, end); ++a) {
            sum = static_cast<std::uint16_t>(sum +
                                             ReadChipByte(chip_, static_cast<std::uint32_t>(a)));
        }
        return sum;
    }

    // The 16-bit sum at the end of a checksum or a read, as scripted. False when it ends there.
    bool SendSum(const CommandScript& script, std::uint16_t sum) {
        if (script.sum == SumFault::Missing) {
            return false;
        }
        if (script.sum == SumFault::Wrong) {
            sum = static_cast<std::uint16_t>(sum + 1);
        }
        if (script.sum == SumFault::Cut) {
            Emit({Word16(sum)[0]});
            FallSilent(script);
            return false;
        }
        return Emit(Word16(sum));
    }

    // A progress report as scripted: false when it was cut short and the exchange ends there.
    bool SendReport(const CommandScript& script, std::uint64_t stepFirst, std::uint64_t stepLast,
                    std::uint32_t address) {
        std::vector<std::uint8_t> report = Address24(address);
        if (script.reportCutAt && *script.reportCutAt >= stepFirst &&
            *script.reportCutAt <= stepLast) {
            report.pop_back();
            Emit(report);
            FallSilent(script);
            return false;
        }
        return Emit(report);
    }

    // Checksum (2): a progress report after each step, the last one at the end address (even for
    // a one-byte range), then the sum.
    void PlayChecksum(const CommandScript& script, const DeviceTiming& timing, std::uint32_t start,
                      std::uint32_t end) {
        if (!SendFirstStatus(script, timing)) {
            return;
        }
        const std::uint32_t step = std::max<std::uint32_t>(timing.stepBytes, 1);
        std::uint64_t a = start;
        for (;;) {
            const std::uint64_t last = std::min<std::uint64_t>(a + step - 1, std::max(start, end));
            if (!line_.WaitFor(timing.stepDelay)) {
                return;
            }
            if (script.silentAfterReport && *script.silentAfterReport >= a &&
                *script.silentAfterReport <= last) {
                Emit(Address24(*script.silentAfterReport));
                FallSilent(script);
                return;
            }
            if (!SendReport(script, a, last, static_cast<std::uint32_t>(last))) {
                return;
            }
            if (last >= end) {
                break;
            }
            a = last + 1;
        }
        SendSum(script, SumOfChip(start, end));
    }

    // Blank check (3): after each blank step the next address to check; past the end address
    // the chip is blank. At a byte that is not blank it reports that address and falls silent.
    void PlayBlankCheck(const CommandScript& script, const DeviceTiming& timing,
                        std::uint32_t start, std::uint32_t end) {
        if (!SendFirstStatus(script, timing)) {
            return;
        }
        const std::uint32_t step = std::max<std::uint32_t>(timing.stepBytes, 1);
        std::uint64_t a = start;
        while (a <= end) {
            const std::uint64_t last = std::min<std::uint64_t>(a + step - 1, end);
            if (!line_.WaitFor(timing.stepDelay)) {
                return;
            }
            std::optional<std::uint64_t> notBlank;
            {
                std::lock_guard lock(mutex_);
                for (std::uint64_t at = a; at <= last; ++at) {
                    if (ReadChipByte(chip_, static_cast<std::uint32_t>(at)) != kChipBlank) {
                        notBlank = at;
                        break;
                    }
                }
            }
            if (script.silentAfterReport && *script.silentAfterReport >= a &&
                *script.silentAfterReport <= last) {
                notBlank =
                    std::min<std::uint64_t>(notBlank.value_or(last), *script.silentAfterReport);
            }
            if (notBlank) {
                Emit(Address24(static_cast<std::uint32_t>(*notBlank)));
                if (script.silentAfterReport) {
                    FallSilent(script);
                }
                return;
            }
            if (!SendReport(script, a, last, static_cast<std::uint32_t>(last + 1))) {
                return;
            }
            a = last + 1;
        }
        if (start > end) {
            Emit(Address24(start));  // nothing to check: report past the end at once
        }
    }

    void PlayOneShot(const CommandScript& script, const DeviceTiming& timing, std::uint8_t code) {
        if (!line_.WaitFor(timing.oneShotDelay)) {
            return;
        }
        std::string status = script.firstStatus;
        if (status.empty()) {
            std::lock_guard lock(mutex_);
            status = ApplyOneShot(chip_, code);
        }
        Emit(Bytes(status));
    }

    // Read (10): status, the range's bytes back to back, their 16-bit sum.
    void PlayReadChip(const CommandScript& script, const DeviceTiming& timing, std::uint32_t start,
                      std::uint32_t end) {
        if (!SendFirstStatus(script, timing)) {
            return;
        }
        std::vector<std::uint8_t> data;
        std::uint16_t sum = 0;
        {
            std::lock_guard lock(mutex_);
            const std::uint64_t length = RangeLength(start, end);
            data.reserve(static_cast<std::size_t>(length));
            for (std::uint64_t i = 0; i < length; ++i) {
                const std::uint8_t byte =
                    ReadChipByte(chip_, static_cast<std::uint32_t>(start + i));
                data.push_back(byte);
                sum = static_cast<std::uint16_t>(sum + byte);
            }
        }
        if (script.dataCutAfter && *script.dataCutAfter < data.size()) {
            data.resize(*script.dataCutAfter);
            Emit(data);
            FallSilent(script);
            return;
        }
        if (Emit(data)) {
            SendSum(script, sum);
        }
    }

    // Program (11): status, then 8 * ceil(length / 8) data bytes back to back; the range's bytes
    // are programmed and the reply is "OK" when their sum matches the block's checksum, "NO"
    // otherwise (or when the chip is write protected). Data that stop short get no reply.
    void PlayProgram(const CommandScript& script, const DeviceTiming& timing, const Block& block) {
        if (!SendFirstStatus(script, timing)) {
            return;
        }
        const std::uint32_t start = BlockField24(block, 9);
        const std::uint64_t length = RangeLength(start, BlockField24(block, 12));
        const std::uint64_t expected = (length + kProgramUnit - 1) / kProgramUnit * kProgramUnit;
        std::vector<std::uint8_t> data;
        auto deadline = Clock::now() + kDataFirstByteWait;
        while (data.size() < expected) {
            std::uint8_t byte = 0;
            if (line_.NextByte(byte, deadline, false) != DeviceLine::Event::Byte) {
                break;
            }
            data.push_back(byte);
            deadline = Clock::now() + kDataGap;
        }
        {
            std::lock_guard lock(mutex_);
            exchanges_.back().data = data;
        }
        changed_.notify_all();
        if (data.size() < expected) {
            return;
        }
        std::vector<std::uint8_t> range(data.begin(), data.begin() + static_cast<long>(length));
        std::uint16_t sum = 0;
        for (std::uint8_t byte : range) {
            sum = static_cast<std::uint16_t>(sum + byte);
        }
        bool programmed = false;
        {
            std::lock_guard lock(mutex_);
            programmed = ProgramChip(chip_, start, range);
        }
        const std::uint16_t wanted = static_cast<std::uint16_t>(block[15] << 8 | block[16]);
        std::string reply = programmed && sum == wanted ? kOk : kRefused;
        if (!script.finalReply.empty()) {
            reply = script.finalReply;
        }
        if (line_.WaitFor(timing.programDelay)) {
            Emit(Bytes(reply));
        }
    }

    DeviceLine& line_;
    std::mutex& mutex_;  // guards chip_ and exchanges_
    std::condition_variable& changed_;
    ChipState& chip_;
    std::vector<ReceivedExchange>& exchanges_;
};

}  // namespace

void PlayExchange(const ExchangeContext& context, const Block& block, const CommandScript& script,
                  const DeviceTiming& timing) {
    ExchangePlayer(context).Play(block, script, timing);
}

}  // namespace koru::device
