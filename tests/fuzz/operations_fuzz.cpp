// libFuzzer target for the chip operations: any input is one operation run against a port whose
// answers are scripted by the input (bytes, silences, short and long replies, a port that goes
// away or stops taking data). Every run must end, without a crash, with a typed outcome that
// agrees with FailureFlag.
//
// Input: [operation] [chip and auto options] [range: 2 bytes] [script ...]; see FuzzPlan.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string_view>
#include <vector>

#include "core/outcome.h"
#include "core/services.h"
#include "core/shared_state.h"
#include "core/step_report.h"
#include "image/program_memory.h"
#include "link/command_block.h"
#include "link/connection.h"
#include "operations/runner.h"
#include "platform/delay.h"
#include "platform/serial_port.h"
#include "tests/support/recording_window_services.h"

namespace koru {

// The pauses give a real programmer time; a scripted one needs none, and a run that waited
// them out would make a few runs a second.
void DelayMs(std::uint32_t) {}

}  // namespace koru

namespace {

using koru::Outcome;
using koru::OutcomeKind;

void Check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// One step of the port's script, taken by the reads in order.
struct Event {
    enum Kind { Bytes, Silence, BlockAnswer, RangeSum, Gone, StopWrites } kind;
    std::vector<std::uint8_t> bytes;
};

// A port whose reads follow the script. When the script is used up every read comes back
// empty, as a silent programmer does.
class FuzzPort final : public koru::SerialPort {
  public:
    std::deque<Event> script;
    bool gone = false;
    bool writesStopped = false;
    std::vector<std::uint8_t> lastBlock;  // the last 21 bytes written that began "ZEPH"

    bool Open(std::string_view) override { return !gone; }
    void Close() override {}
    bool IsOpen() const override { return true; }
    bool Gone() const override { return gone; }
    bool SetupQueues(std::size_t, std::size_t) override { return !gone; }
    bool ClearErrors() override { return !gone; }
    bool ClearBreak() override { return !gone; }
    bool Purge() override { return !gone; }
    bool ConfigureLine() override { return !gone; }
    void SetTimeouts(const koru::PortTimeouts&) override {}
    bool WaitTransmitEmpty() override { return !gone; }

    std::size_t Read(std::uint8_t* buffer, std::size_t count) override {
        while (!gone && !script.empty()) {
            Event& event = script.front();
            switch (event.kind) {
                case Event::Gone:
                    gone = true;
                    script.pop_front();
                    return 0;
                case Event::StopWrites:
                    writesStopped = true;
                    script.pop_front();
                    continue;
                case Event::Silence:
                    script.pop_front();
                    return 0;
                case Event::BlockAnswer:
                case Event::RangeSum:
                    Expand(event);
                    continue;
                case Event::Bytes:
                    break;
            }
            const std::size_t taken = std::min(count, event.bytes.size());
            std::copy_n(event.bytes.begin(), taken, buffer);
            event.bytes.erase(event.bytes.begin(), event.bytes.begin() + static_cast<long>(taken));
            if (event.bytes.empty()) {
                script.pop_front();
            }
            return taken;
        }
        return 0;
    }

    std::size_t Write(const std::uint8_t* buffer, std::size_t count) override {
        if (gone || writesStopped) {
            return 0;
        }
        if (count == koru::kCommandBlockSize &&
            std::string_view(reinterpret_cast<const char*>(buffer), 4) == "ZEPH") {
            lastBlock.assign(buffer, buffer + count);
        }
        return count;
    }

  private:
    // The range of the last command block, clipped to the image.
    bool LastRange(std::uint32_t& first, std::uint32_t& last) const {
        if (lastBlock.size() != koru::kCommandBlockSize) {
            return false;
        }
        auto at = [this](std::size_t i) {
            return std::uint32_t{lastBlock[i]} << 16 | std::uint32_t{lastBlock[i + 1]} << 8 |
                   lastBlock[i + 2];
        };
        first = at(koru::kBlockStart);
        last = at(koru::kBlockEnd);
        return first <= last && last < koru::kImageSize;
    }

    // A block read's honest answer (the image's bytes and their sum), or the image's sum over
    // the range: what a programmer with a chip equal to the image would send.
    void Expand(Event& event) {
        std::vector<std::uint8_t> bytes;
        std::uint32_t first = 0;
        std::uint32_t last = 0;
        if (LastRange(first, last)) {
            std::uint16_t sum = 0;
            for (std::uint32_t a = first; a <= last; ++a) {
                sum = static_cast<std::uint16_t>(sum + koru::ProgramMemory[a]);
                if (event.kind == Event::BlockAnswer) {
                    bytes.push_back(koru::ProgramMemory[a]);
                }
            }
            bytes.push_back(static_cast<std::uint8_t>(sum >> 8));
            bytes.push_back(static_cast<std::uint8_t>(sum));
        }
        event.kind = Event::Bytes;
        event.bytes = std::move(bytes);
        if (event.bytes.empty()) {
            event.kind = Event::Silence;
        }
    }
};

enum class Operation { Probe, BlankCheck, Program, Verify, Checksum, Read, AutoProgram };
constexpr int kOperations = 7;

// Canned replies a programmer may send, so short inputs reach deep into each exchange.
const std::vector<std::vector<std::uint8_t>>& CannedReplies() {
    static const std::vector<std::vector<std::uint8_t>> replies = [] {
        std::vector<std::vector<std::uint8_t>> r;
        r.emplace_back(koru::kCommandBlockSize, 'A');  // an answer to the command block
        for (std::string_view text : {"OK", "NO", "EV", "ZEPHRESET", "O", "OKX"}) {
            r.emplace_back(text.begin(), text.end());
        }
        r.push_back({0x00, 0x10, 0x00});  // a progress report beyond a small range's end
        r.push_back({0x00, 0x00, 0x00});
        r.push_back({0xFF, 0xFF, 0xFF});
        r.emplace_back(300, 0xFF);  // longer than any reply
        return r;
    }();
    return replies;
}

// Control byte c: c >> 6 picks the event, c & 0x3F its size or choice.
//   0: the next (c & 0x3F) + 1 input bytes as one piece    2: a canned reply, or an honest
//   1: (c & 0x3F) + 1 silent reads                           block answer or range sum
//   3: the port goes away (c & 1) or stops taking data
std::deque<Event> ParseScript(const std::uint8_t* data, std::size_t size) {
    std::deque<Event> script;
    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t c = data[i++];
        const std::size_t n = (c & 0x3F) + 1u;
        switch (c >> 6) {
            case 0: {
                const std::size_t take = std::min(n, size - i);
                script.push_back({Event::Bytes, {data + i, data + i + take}});
                i += take;
                break;
            }
            case 1:
                for (std::size_t k = 0; k < n; ++k) {
                    script.push_back({Event::Silence, {}});
                }
                break;
            case 2: {
                const auto& canned = CannedReplies();
                const std::size_t pick = (c & 0x3F) % (canned.size() + 2);
                if (pick == canned.size()) {
                    script.push_back({Event::BlockAnswer, {}});
                } else if (pick == canned.size() + 1) {
                    script.push_back({Event::RangeSum, {}});
                } else {
                    script.push_back({Event::Bytes, canned[pick]});
                }
                break;
            }
            default:
                script.push_back({(c & 1) != 0 ? Event::Gone : Event::StopWrites, {}});
                break;
        }
    }
    return script;
}

void SetUpProcess(koru::test::RecordingWindowServices& window, std::uint8_t options,
                  std::uint32_t start, std::uint32_t end) {
    koru::ZeroSharedFlags();
    koru::ResetOutcome();
    koru::SuccessCount = 0;
    koru::FailureCount = 0;
    koru::AutoFunc = koru::kFuncAlwaysSet;
    const bool otp = (options & 1) != 0;
    window.SetChoice(koru::Choice::SerialOtp, otp);
    window.SetChoice(koru::Choice::SerialMtp, !otp);
    window.SetChoice(koru::Choice::DataSam, true);
    window.SetChoice(koru::Choice::Vdd50, true);
    window.SetChoice(koru::Choice::FastMode, true);
    for (std::size_t i = 0; i < koru::kAutoOptionBoxes.size(); ++i) {
        window.SetChoice(koru::kAutoOptionBoxes[i].choice, (options >> (i + 1) & 1) != 0);
    }
    // A recognisable image over the range, so an honest chip and a wrong one differ.
    for (std::uint32_t a = start; a <= end; ++a) {
        koru::ProgramMemory[a] = static_cast<std::uint8_t>(a * 7 + 3);
    }
    koru::CodeLoadedFlag = 1;
    koru::PortSelectedFlag = 1;
    koru::StartAddress = start;
    koru::EndAddress = end;
    koru::RefreshCommandBlock();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    const auto operation = static_cast<Operation>(data[0] % kOperations);
    const bool probeFirst = (data[0] & 0x80) != 0;
    // Ranges up to 4 KiB keep one run short; the start may sit above small ends only clipped.
    const std::uint32_t end = std::uint32_t{data[2] & 0x0Fu} << 8 | data[3];
    const std::uint32_t start = std::min<std::uint32_t>(end, data[2] >> 4);

    koru::test::RecordingWindowServices window;
    SetUpProcess(window, data[1], start, end);
    FuzzPort port;
    port.script = ParseScript(data + 4, size - 4);
    koru::InstallPort(&port);

    bool ran = true;
    if (operation == Operation::Probe || probeFirst) {
        koru::ProbePort("/dev/fuzz");
        Check((koru::ProgrammerFoundFlag != 0) ==
              (koru::LastOutcome().kind == OutcomeKind::Success));
        ran = operation != Operation::Probe && koru::ProgrammerFoundFlag != 0;
        koru::StartAddress = start;
        koru::EndAddress = end;
    }
    if (ran) {
        switch (operation) {
            case Operation::Probe:
                break;
            case Operation::BlankCheck:
                koru::RunOperation(koru::kBlankCheck);
                break;
            case Operation::Program:
                koru::RunOperation(koru::kProgramChip);
                break;
            case Operation::Verify:
                koru::RunOperation(koru::kVerifyChip);
                break;
            case Operation::Checksum:
                koru::RunOperation(koru::kChipChecksum);
                break;
            case Operation::Read:
                koru::RunOperation(koru::kCopyChipToImage);
                break;
            case Operation::AutoProgram:
                koru::RunOperation(koru::kBufferChecksum);
                koru::RunOperation(koru::kAutoProgram);
                break;
        }
        const Outcome outcome = koru::LastOutcome();
        Check(outcome.kind <= OutcomeKind::Refused);
        // The typed outcome and the flag tell the same story.
        Check((outcome.kind == OutcomeKind::Success) == (koru::FailureFlag == 0));
        // A chip failure names its fault; nothing else does.
        Check((outcome.kind == OutcomeKind::ChipFailed) ==
              (outcome.fault != koru::ChipFault::None));
        // A lost link needs a port that went away or stopped taking data.
        Check(outcome.kind != OutcomeKind::LinkLost || port.gone || port.writesStopped);
        Check(outcome.kind != OutcomeKind::Refused);  // every range here fits the image
    }
    Check(koru::BusyFlag == 0 && koru::AutoRunFlag == 0);
    koru::InstallPort(nullptr);
    return 0;
}
