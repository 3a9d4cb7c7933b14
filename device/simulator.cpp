#include "device/simulator.h"

#include <pthread.h>
#include <sched.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <deque>
#include <thread>

#include "device/device_line.h"
#include "device/exchange_player.h"
#include "device/pseudo_terminal.h"

namespace koru::device {
namespace {

using Clock = DeviceLine::Clock;

constexpr std::uint8_t kBlockMagic[] = {'Z', 'E', 'P', 'H'};
constexpr std::size_t kMagicSize = sizeof kBlockMagic;
// A block whose bytes stop coming for this long is dropped and the device waits for a new one.
constexpr auto kBlockGap = std::chrono::milliseconds(200);
constexpr int kRealTimePriority = 50;
// Before a hang-up the device lets the program read what it has sent, for at most this long.
constexpr auto kHangUpGrace = std::chrono::milliseconds(500);
constexpr auto kHangUpPoll = std::chrono::milliseconds(1);
constexpr auto kHangUpSettle = std::chrono::milliseconds(10);

const std::string kResetAnnouncement = "ZEPHRESET";

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

}  // namespace

std::uint32_t ReceivedExchange::Start() const {
    return BlockField24(block, 9);
}
std::uint32_t ReceivedExchange::End() const {
    return BlockField24(block, 12);
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
                TakeBlock(block);
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

    void TakeBlock(const Block& block) {
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
        PlayExchange({*line_, mutex_, changed_, chip_, exchanges_}, block, script, timing);
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

bool Simulator::WaitForHangUp(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(engine_->mutex_);
    return engine_->changed_.wait_for(lock, timeout, [&] { return engine_->hungUp_; });
}

bool Simulator::WaitForOutputSent(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(engine_->mutex_);
    return engine_->changed_.wait_for(lock, timeout, [&] {
        return (engine_->output_.empty() && !engine_->outputBusy_) || engine_->hungUp_;
    });
}

}  // namespace koru::device
