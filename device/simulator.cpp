#include "device/simulator.h"

#include <pthread.h>
#include <sched.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <deque>
#include <thread>

#include "device/device_line.h"
#include "device/pseudo_terminal.h"

namespace koru::device {
namespace {

using Clock = DeviceLine::Clock;
using Block = std::array<std::uint8_t, kBlockSize>;

constexpr std::uint8_t kBlockMagic[] = {'Z', 'E', 'P', 'H'};
constexpr std::size_t kMagicSize = sizeof kBlockMagic;
// A block whose bytes stop coming for this long is dropped and the device waits for a new one.
constexpr auto kBlockGap = std::chrono::milliseconds(200);
// Programming data: the first byte must come within this time after the status, and no gap
// between data bytes may be longer than the second.
constexpr auto kDataFirstByteWait = std::chrono::seconds(2);
constexpr auto kDataGap = std::chrono::seconds(1);
constexpr std::size_t kProgramUnit = 8;  // data come in whole units of 8 bytes
constexpr int kRealTimePriority = 50;
// Before a hang-up the device lets the program read what it has sent, for at most this long.
constexpr auto kHangUpGrace = std::chrono::milliseconds(500);
constexpr auto kHangUpPoll = std::chrono::milliseconds(1);
constexpr auto kHangUpSettle = std::chrono::milliseconds(10);

const std::string kOk = "OK";
const std::string kRefused = "NO";
const std::string kSupplyFault = "EV";
const std::string kResetAnnouncement = "ZEPHRESET";

std::uint32_t Read24(const Block& block, std::size_t at) {
    return std::uint32_t{block[at]} << 16 | std::uint32_t{block[at + 1]} << 8 | block[at + 2];
}

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

}  // namespace

std::uint32_t ReceivedExchange::Start() const {
    return Read24(block, 9);
}
std::uint32_t ReceivedExchange::End() const {
    return Read24(block, 12);
}
std::uint16_t ReceivedExchange::Checksum() const {
    return static_cast<std::uint16_t>(block[15] << 8 | block[16]);
}

class Simulator::Engine {
  public:
    Engine() = default;
    ~Engine() { Stop(); }

    // Serves on a new pseudo-terminal; false when none could be made.
    bool Start(const DeviceTiming& timing, bool realTime) {
        Stop();
        auto terminal = PseudoTerminal::Create();
        if (!terminal) {
            return false;
        }
        pty_ = std::move(*terminal);
        line_ = std::make_unique<DeviceLine>(pty_.master.Get(),
                                             [this](std::uint8_t byte) { Record(byte); });
        if (!line_->Ready()) {
            line_.reset();
            pty_ = {};
            return false;
        }
        {
            std::lock_guard lock(mutex_);
            timing_ = timing;
            hungUp_ = false;
            realTime_ = false;
        }
        serving_ = false;
        thread_ = std::thread([this, realTime] {
            bool granted = false;
            if (realTime) {
                sched_param parameter{};
                parameter.sched_priority = kRealTimePriority;
                granted = pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameter) == 0;
            }
            {
                std::lock_guard lock(mutex_);
                realTime_ = granted;
                serving_ = true;
            }
            changed_.notify_all();
            Serve();
        });
        // Whoever asks RealTime next gets the answer, not the state before the thread ran.
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return serving_; });
        return true;
    }

    void Stop() {
        if (thread_.joinable()) {
            line_->stopRequested = true;
            line_->Notify();
            thread_.join();
        }
        line_.reset();
        pty_ = {};
    }

    bool Running() const { return thread_.joinable(); }
    const std::string& SlavePath() const { return pty_.slavePath; }

    // From any thread: wakes the serving thread, if it runs.
    void Wake() {
        if (line_) {
            line_->Notify();
        }
    }

    std::int64_t TakeMaxLateness() { return line_ ? line_->maxLatenessNs.exchange(0) : 0; }

    void RequestHangUp() {
        if (!line_) {
            return;
        }
        line_->hangUpRequested = true;
        line_->Notify();
    }

    // --- shared state, guarded by mutex_ ---
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    DeviceTiming timing_;
    std::map<std::uint8_t, CommandScript> scripts_;
    std::optional<CommandScript> scriptAll_;
    ChipState chip_;
    std::vector<ReceivedExchange> exchanges_;
    std::vector<std::uint8_t> received_;
    std::vector<std::uint8_t> stray_;
    struct OutputItem {
        std::vector<std::uint8_t> bytes;
        std::chrono::milliseconds pause;
        bool hangUp;
    };
    std::deque<OutputItem> output_;
    bool outputBusy_ = false;
    bool hungUp_ = false;
    bool realTime_ = false;
    bool serving_ = false;
    std::function<void(const std::string&)> blockLog_;

  private:
    void Record(std::uint8_t byte) {
        {
            std::lock_guard lock(mutex_);
            received_.push_back(byte);
        }
        changed_.notify_all();
    }

    void AddStray(const std::vector<std::uint8_t>& bytes) {
        if (bytes.empty()) {
            return;
        }
        std::lock_guard lock(mutex_);
        stray_.insert(stray_.end(), bytes.begin(), bytes.end());
    }

    void Serve() {
        std::vector<std::uint8_t> partial;
        Clock::time_point lastPartialByte{};
        while (!line_->stopRequested) {
            if (line_->hangUpRequested && !IsHungUp()) {
                CloseLine();
                continue;
            }
            if (IsHungUp()) {
                line_->WaitForNotify();
                continue;
            }
            line_->SetPaced(Timing().paceLine);
            if (SendQueuedOutput()) {
                continue;
            }
            std::optional<Clock::time_point> deadline;
            if (!partial.empty()) {
                deadline = lastPartialByte + kBlockGap;
            }
            std::uint8_t byte = 0;
            const DeviceLine::Event event = line_->NextByte(byte, deadline, true);
            if (event == DeviceLine::Event::Deadline) {
                AddStray(partial);
                partial.clear();
                continue;
            }
            if (event != DeviceLine::Event::Byte) {
                continue;
            }
            lastPartialByte = Clock::now();
            if (partial.size() < kMagicSize && byte != kBlockMagic[partial.size()]) {
                // Not a block after all: keep what came as stray bytes, and start anew on 'Z'.
                AddStray(partial);
                partial.clear();
                if (byte != kBlockMagic[0]) {
                    AddStray({byte});
                    continue;
                }
            }
            partial.push_back(byte);
            if (partial.size() == kBlockSize) {
                Block block{};
                std::copy(partial.begin(), partial.end(), block.begin());
                partial.clear();
                PlayExchange(block);
            }
        }
    }

    bool IsHungUp() {
        std::lock_guard lock(mutex_);
        return hungUp_;
    }

    DeviceTiming Timing() {
        std::lock_guard lock(mutex_);
        return timing_;
    }

    // Waits a little for the program to take what is already on its side, as bytes on the
    // wire still arrive before the cable comes out; a hang-up discards unread input.
    void LetPendingInputDrain() {
        const auto giveUp = Clock::now() + kHangUpGrace;
        // Bytes just written reach the program's input queue a moment later.
        std::this_thread::sleep_for(kHangUpSettle);
        while (!line_->stopRequested && Clock::now() < giveUp) {
            int queued = 0;
            if (::ioctl(pty_.spareSlave.Get(), FIONREAD, &queued) != 0 || queued == 0) {
                return;
            }
            std::this_thread::sleep_for(kHangUpPoll);
        }
    }

    void CloseLine() {
        LetPendingInputDrain();
        line_->Detach();
        line_->DropPending();
        pty_.master.Reset();
        pty_.spareSlave.Reset();
        {
            std::lock_guard lock(mutex_);
            hungUp_ = true;
            output_.clear();
            outputBusy_ = false;
        }
        changed_.notify_all();
    }

    // Sends one item of raw output if there is one; true when it did.
    bool SendQueuedOutput() {
        OutputItem item;
        {
            std::lock_guard lock(mutex_);
            if (output_.empty()) {
                return false;
            }
            item = std::move(output_.front());
            output_.pop_front();
            outputBusy_ = true;
        }
        if (line_->WaitFor(item.pause)) {
            if (item.hangUp) {
                line_->hangUpRequested = true;
            } else {
                line_->Emit(item.bytes.data(), item.bytes.size());
            }
        }
        {
            std::lock_guard lock(mutex_);
            outputBusy_ = false;
        }
        changed_.notify_all();
        return true;
    }

    CommandScript TakeScript(std::uint8_t code) {
        // Called with mutex_ held.
        auto own = scripts_.find(code);
        if (own != scripts_.end()) {
            CommandScript script = own->second;
            if (script.once) {
                scripts_.erase(own);
            }
            return script;
        }
        if (scriptAll_) {
            CommandScript script = *scriptAll_;
            if (script.once) {
                scriptAll_.reset();
            }
            return script;
        }
        return {};
    }

    bool Emit(const std::vector<std::uint8_t>& bytes) {
        return line_->Emit(bytes.data(), bytes.size());
    }

    // The device stops answering here: it goes back to waiting for a block, or hangs up.
    void FallSilent(const CommandScript& script) {
        if (script.hangUpWhenSilent) {
            line_->hangUpRequested = true;
        }
    }

    // Sends the first status of a data command after its pause. False when the exchange ends
    // there (silence, "EV", or an interrupted line).
    bool SendFirstStatus(const CommandScript& script, const DeviceTiming& timing) {
        const std::string status = script.firstStatus.empty() ? kOk : script.firstStatus;
        if (!line_->WaitFor(timing.statusDelay) || !Emit(Bytes(status))) {
            return false;
        }
        if (script.silentFrom == Silence::AfterStatus) {
            FallSilent(script);
            return false;
        }
        return status != kSupplyFault;
    }

    void PlayExchange(const Block& block) {
        CommandScript script;
        DeviceTiming timing;
        std::function<void(const std::string&)> log;
        {
            std::lock_guard lock(mutex_);
            ReceivedExchange exchange;
            exchange.block = block;
            exchanges_.push_back(std::move(exchange));
            script = TakeScript(block[4]);
            timing = timing_;
            log = blockLog_;
        }
        changed_.notify_all();
        if (log) {
            log(DescribeBlock(block));
        }
        if (!line_->WaitFor(timing.answerDelay)) {
            return;
        }
        if (script.silentFrom == Silence::InsteadOfAnswer) {
            FallSilent(script);
            return;
        }
        const std::size_t answerLength =
            std::min<std::size_t>(script.answerLength.value_or(kBlockSize), kBlockSize);
        if (!line_->Emit(block.data(), answerLength)) {
            return;
        }
        if (script.silentFrom == Silence::AfterAnswer) {
            FallSilent(script);
            return;
        }
        if (!script.garbage.empty() && !Emit(script.garbage)) {
            return;
        }
        const std::uint32_t start = Read24(block, 9);
        const std::uint32_t end = Read24(block, 12);
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
        return Emit(Word16(sum));
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
            if (!line_->WaitFor(timing.stepDelay)) {
                return;
            }
            if (script.silentAfterReport && *script.silentAfterReport >= a &&
                *script.silentAfterReport <= last) {
                Emit(Address24(*script.silentAfterReport));
                FallSilent(script);
                return;
            }
            if (!Emit(Address24(static_cast<std::uint32_t>(last)))) {
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
            if (!line_->WaitFor(timing.stepDelay)) {
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
            if (!Emit(Address24(static_cast<std::uint32_t>(last + 1)))) {
                return;
            }
            a = last + 1;
        }
        if (start > end) {
            Emit(Address24(start));  // nothing to check: report past the end at once
        }
    }

    void PlayOneShot(const CommandScript& script, const DeviceTiming& timing, std::uint8_t code) {
        if (!line_->WaitFor(timing.oneShotDelay)) {
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
        const std::uint32_t start = Read24(block, 9);
        const std::uint64_t length = RangeLength(start, Read24(block, 12));
        const std::uint64_t expected = (length + kProgramUnit - 1) / kProgramUnit * kProgramUnit;
        std::vector<std::uint8_t> data;
        auto deadline = Clock::now() + kDataFirstByteWait;
        while (data.size() < expected) {
            std::uint8_t byte = 0;
            if (line_->NextByte(byte, deadline, false) != DeviceLine::Event::Byte) {
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
        if (line_->WaitFor(timing.programDelay)) {
            Emit(Bytes(reply));
        }
    }

    PseudoTerminal pty_;
    std::unique_ptr<DeviceLine> line_;
    std::thread thread_;
};

Simulator::Simulator() : engine_(std::make_unique<Engine>()) {}

Simulator::~Simulator() {
    Stop();
}

bool Simulator::Start(const DeviceTiming& timing, bool realTime) {
    const bool started = engine_->Start(timing, realTime);
    slavePath_ = started ? engine_->SlavePath() : std::string();
    return started;
}

void Simulator::Stop() {
    engine_->Stop();
}

bool Simulator::RealTime() const {
    std::lock_guard lock(engine_->mutex_);
    return engine_->realTime_;
}

std::chrono::nanoseconds Simulator::TakeMaxOutputLateness() {
    return std::chrono::nanoseconds(engine_->TakeMaxLateness());
}

void Simulator::SetTiming(const DeviceTiming& timing) {
    {
        std::lock_guard lock(engine_->mutex_);
        engine_->timing_ = timing;
    }
    engine_->Wake();
}

DeviceTiming Simulator::Timing() const {
    std::lock_guard lock(engine_->mutex_);
    return engine_->timing_;
}

void Simulator::SetBlockLog(std::function<void(const std::string&)> log) {
    std::lock_guard lock(engine_->mutex_);
    engine_->blockLog_ = std::move(log);
}

void Simulator::Script(std::uint8_t code, const CommandScript& script) {
    std::lock_guard lock(engine_->mutex_);
    engine_->scripts_[code] = script;
}

void Simulator::ScriptAll(const CommandScript& script) {
    std::lock_guard lock(engine_->mutex_);
    engine_->scriptAll_ = script;
}

void Simulator::ClearScripts() {
    std::lock_guard lock(engine_->mutex_);
    engine_->scripts_.clear();
    engine_->scriptAll_.reset();
}

void Simulator::SetChip(ChipKind kind, std::uint32_t size, std::uint8_t fill) {
    std::lock_guard lock(engine_->mutex_);
    engine_->chip_ = ChipState{kind, {}, std::vector<std::uint8_t>(size, fill)};
}

void Simulator::WriteChip(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
    std::lock_guard lock(engine_->mutex_);
    auto& contents = engine_->chip_.contents;
    for (std::size_t i = 0; i < bytes.size() && address + i < contents.size(); ++i) {
        contents[address + i] = bytes[i];
    }
}

std::vector<std::uint8_t> Simulator::ChipContents() const {
    std::lock_guard lock(engine_->mutex_);
    return engine_->chip_.contents;
}

ChipState Simulator::Chip() const {
    std::lock_guard lock(engine_->mutex_);
    return engine_->chip_;
}

void Simulator::SetProtection(const ChipProtection& protection) {
    std::lock_guard lock(engine_->mutex_);
    engine_->chip_.protection = protection;
}

std::vector<ReceivedExchange> Simulator::Exchanges() const {
    std::lock_guard lock(engine_->mutex_);
    return engine_->exchanges_;
}

std::vector<std::uint8_t> Simulator::ReceivedBytes() const {
    std::lock_guard lock(engine_->mutex_);
    return engine_->received_;
}

std::vector<std::uint8_t> Simulator::StrayBytes() const {
    std::lock_guard lock(engine_->mutex_);
    return engine_->stray_;
}

void Simulator::ClearRecords() {
    std::lock_guard lock(engine_->mutex_);
    engine_->exchanges_.clear();
    engine_->received_.clear();
    engine_->stray_.clear();
}

bool Simulator::WaitForExchanges(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(engine_->mutex_);
    return engine_->changed_.wait_for(lock, timeout,
                                      [&] { return engine_->exchanges_.size() >= count; });
}

bool Simulator::WaitForReceivedBytes(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(engine_->mutex_);
    return engine_->changed_.wait_for(lock, timeout,
                                      [&] { return engine_->received_.size() >= count; });
}

void Simulator::Send(std::vector<std::uint8_t> bytes, std::chrono::milliseconds pause) {
    {
        std::lock_guard lock(engine_->mutex_);
        engine_->output_.push_back({std::move(bytes), pause, false});
    }
    engine_->Wake();
}

void Simulator::SendReset() {
    Send(Bytes(kResetAnnouncement));
}

void Simulator::QueueHangUp(std::chrono::milliseconds pause) {
    {
        std::lock_guard lock(engine_->mutex_);
        engine_->output_.push_back({{}, pause, true});
    }
    engine_->Wake();
}

void Simulator::HangUp() {
    if (!engine_->Running()) {
        return;
    }
    engine_->RequestHangUp();
    std::unique_lock lock(engine_->mutex_);
    engine_->changed_.wait(lock, [&] { return engine_->hungUp_; });
}

bool Simulator::HungUp() const {
    std::lock_guard lock(engine_->mutex_);
    return engine_->hungUp_;
}

bool Simulator::WaitForOutputSent(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(engine_->mutex_);
    return engine_->changed_.wait_for(lock, timeout, [&] {
        return (engine_->output_.empty() && !engine_->outputBusy_) || engine_->hungUp_;
    });
}

}  // namespace koru::device
