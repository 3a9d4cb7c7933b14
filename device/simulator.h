#pragma once

// A KORU programmer played on the master side of a pseudo-terminal: it takes each 21-byte
// command block, answers it with 21 bytes (an echo of the block) and then plays that command's
// exchange against a virtual chip. Tests drive it in-process; koru-sim runs it for a person.
//
//   device::Simulator sim;
//   if (!sim.Start()) { ... }                         // a pseudo-terminal and a serving thread
//   setenv("KORU_COM1", sim.SlavePath().c_str(), 1);  // or open SlavePath() directly
//   sim.SetChip(device::ChipKind::Mtp, 0x2000);       // 8 KiB, blank (0xFF)
//   sim.WriteChip(0x100, {0x12, 0x34});
//   device::CommandScript fault;
//   fault.firstStatus = "EV";
//   sim.Script(device::kCodeErase, fault);            // every erase now answers "EV"
//   ... the program under test talks to SlavePath() ...
//   sim.Exchanges();       // each block taken, with the data bytes of its exchange
//   sim.ReceivedBytes();   // every byte taken, in order
//   sim.ChipContents();
//   sim.SendReset();       // "ZEPHRESET", unprompted
//   sim.HangUp();          // the adapter is removed: the master side closes
//
// Every member may be called from any thread, except that Start and Stop belong to the owner
// (not concurrently with other calls). Scripts, chip and timing may be changed while
// it serves; a change takes effect with the next command block.

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/chip.h"

namespace koru::device {

inline constexpr std::size_t kBlockSize = 21;  // command block and its answer

// Command codes (byte 4 of the block).
inline constexpr std::uint8_t kCodeProbe = 1;
inline constexpr std::uint8_t kCodeChecksum = 2;
inline constexpr std::uint8_t kCodeBlankCheck = 3;
inline constexpr std::uint8_t kCodeErase = 4;
inline constexpr std::uint8_t kCodeSmart = 6;
inline constexpr std::uint8_t kCodeReadProtect = 7;
inline constexpr std::uint8_t kCodeLdcProtect = 8;
inline constexpr std::uint8_t kCodeHwWriteProtect = 9;
inline constexpr std::uint8_t kCodeReadChip = 10;
inline constexpr std::uint8_t kCodeProgram = 11;

// One frame on the line: start bit, 8 data bits, parity bit, stop bit at 19200 baud.
inline constexpr std::uint32_t kLineBaud = 19200;
inline constexpr std::uint32_t kFrameBits = 11;
inline constexpr std::chrono::nanoseconds kFrameTime{1'000'000'000LL * kFrameBits / kLineBaud};

// Time that count bytes take on a paced line.
constexpr std::chrono::nanoseconds LineTime(std::size_t count) {
    return kFrameTime * static_cast<std::int64_t>(count);
}

// How the device paces itself. With paceLine the device's bytes come out one frame time apart,
// and a byte it receives counts as taken only one frame time after the previous one (as on a
// real line). The delays are the device's own working times; an exchange's ideal duration is
// its bytes times kFrameTime plus the delays it passes through.
struct DeviceTiming {
    bool paceLine = false;
    std::chrono::microseconds answerDelay{1000};   // last block byte taken -> answer
    std::chrono::microseconds statusDelay{1000};   // answer sent -> first status
    std::chrono::microseconds stepDelay{1000};     // work per progress step (checksum, blank check)
    std::uint32_t stepBytes = 256;                 // chip bytes per progress report
    std::chrono::microseconds oneShotDelay{2000};  // answer sent -> one-shot status
    std::chrono::microseconds programDelay{2000};  // last data byte taken -> final reply
};

// Where the device stops answering within an exchange.
enum class Silence {
    Never,
    InsteadOfAnswer,  // takes the block, sends nothing
    AfterAnswer,      // sends the 21-byte answer, then nothing
    AfterStatus,      // sends the first status, then nothing
};

enum class SumFault { None, Wrong, Missing, Cut };  // Cut: the high byte only, then nothing

// Faults for one command code (or for every code without its own script).
struct CommandScript {
    Silence silentFrom = Silence::Never;
    bool hangUpWhenSilent = false;  // at the point of silence the adapter is removed instead
    std::optional<std::uint32_t> answerLength;  // send only this many bytes of the answer
    std::vector<std::uint8_t> garbage;          // sent right after the answer, before anything else
    // The first status (codes 2, 3, 10, 11) or the one-shot status (4, 6 to 9), sent as given.
    // A scripted one-shot status leaves the chip unchanged. After "EV" the exchange ends;
    // after any other status it goes on as usual.
    std::string firstStatus;
    // Codes 2 and 3: report this address (when inside the range) and fall silent after it.
    std::optional<std::uint32_t> silentAfterReport;
    // Codes 2 and 3: the report after the step holding this address loses its last byte, and
    // nothing follows.
    std::optional<std::uint32_t> reportCutAt;
    std::optional<std::uint32_t> dataCutAfter;  // code 10: send only this many data bytes
    SumFault sum = SumFault::None;              // codes 2 and 10
    std::string finalReply;                     // code 11: instead of the device's verdict
    bool once = false;                          // drop the script after one exchange
};

// A command block the device took, with the bytes of its data phase (code 11).
struct ReceivedExchange {
    std::array<std::uint8_t, kBlockSize> block{};
    std::vector<std::uint8_t> data;

    std::uint8_t Code() const { return block[4]; }
    std::uint32_t Start() const;
    std::uint32_t End() const;
    std::uint16_t Checksum() const;  // bytes 15 and 16
};

// The block in readable form, for logs: code and name, chip kind, data type, Vdd, auto bits,
// range, checksum and the four image bytes.
std::string DescribeBlock(const std::array<std::uint8_t, kBlockSize>& block);

class Simulator {
  public:
    Simulator();
    ~Simulator();  // stops serving and closes the pseudo-terminal
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Creates the pseudo-terminal and starts serving. realTime asks for SCHED_FIFO for the
    // serving thread (see RealTime). False when no pseudo-terminal could be made.
    bool Start(const DeviceTiming& timing = {}, bool realTime = false);
    void Stop();
    const std::string& SlavePath() const { return slavePath_; }
    // The serving thread got SCHED_FIFO.
    bool RealTime() const;
    // With a paced line: the longest delay of a byte behind its time on the line since the last
    // call (a gap the device's own scheduling put on the line). Resets it.
    std::chrono::nanoseconds TakeMaxOutputLateness();

    void SetTiming(const DeviceTiming& timing);
    DeviceTiming Timing() const;

    // Called on the serving thread with DescribeBlock of every block taken.
    void SetBlockLog(std::function<void(const std::string&)> log);

    void Script(std::uint8_t code, const CommandScript& script);
    void ScriptAll(const CommandScript& script);  // codes without a script of their own
    void ClearScripts();

    // A fresh chip: every byte fill, no protection.
    void SetChip(ChipKind kind, std::uint32_t size, std::uint8_t fill = kChipBlank);
    void WriteChip(std::uint32_t address, const std::vector<std::uint8_t>& bytes);
    std::vector<std::uint8_t> ChipContents() const;
    ChipState Chip() const;
    void SetProtection(const ChipProtection& protection);

    std::vector<ReceivedExchange> Exchanges() const;
    std::vector<std::uint8_t> ReceivedBytes() const;
    // Bytes taken outside any block, e.g. the "0000" that closes a verification.
    std::vector<std::uint8_t> StrayBytes() const;
    void ClearRecords();
    // Wait until so many blocks / bytes were taken in all; false on time-out.
    bool WaitForExchanges(std::size_t count, std::chrono::milliseconds timeout) const;
    bool WaitForReceivedBytes(std::size_t count, std::chrono::milliseconds timeout) const;

    // Raw output, sent in order between exchanges, each after its pause.
    void Send(std::vector<std::uint8_t> bytes, std::chrono::milliseconds pause = {});
    void SendReset();  // "ZEPHRESET"
    // Hangs up once the raw output queued before it is out, after the pause.
    void QueueHangUp(std::chrono::milliseconds pause = {});
    // Hangs up now, whatever the device is doing (after letting the program read what it has
    // already been sent, for at most 500 ms).
    void HangUp();
    bool HungUp() const;
    // Wait until the device has hung up (the master side is closed); false on time-out.
    bool WaitForHangUp(std::chrono::milliseconds timeout) const;
    // Wait until the queued raw output is out; false on time-out.
    bool WaitForOutputSent(std::chrono::milliseconds timeout) const;

  private:
    class Engine;
    friend class Engine;

    std::string slavePath_;
    std::unique_ptr<Engine> engine_;
};

}  // namespace koru::device
