#include "link/transport.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>

#include "core/shared_state.h"
#include "core/step_report.h"
#include "platform/serial_port.h"

namespace koru {
namespace {

using Clock = std::chrono::steady_clock;

// A port that refuses to clear or purge has usually gone away (a removed USB adapter); it is
// retried this long before the exchange is given up as failed.
constexpr auto kGonePortRetry = std::chrono::milliseconds(100);
constexpr std::uint32_t kGonePortRetryPauseMs = 1;

constexpr std::size_t kWordReplyBufferSize = 8;
constexpr std::uint32_t kWordReplyLength = 2;

// Repeats step until it succeeds or the retry time has passed.
template <typename Step>
bool RetryBounded(Step step) {
    const auto giveUp = Clock::now() + kGonePortRetry;
    while (!step()) {
        if (Clock::now() >= giveUp) {
            return false;
        }
        DelayMs(kGonePortRetryPauseMs);
    }
    return true;
}

// A failed primitive on a port the operating system reports gone loses the link; silence on a
// port that is still there keeps the meaning its exchange gives it.
void NoteIfPortGone() {
    if (Port().Gone()) {
        RecordLinkLost();
    }
}

// ClearLineErrors with its outcome: false (and FailureFlag set) when the port has gone away.
bool ClearLineErrorsChecked() {
    if (!TryClearLineErrors()) {
        FailureFlag = 1;
        NoteIfPortGone();
        return false;
    }
    return true;
}

void ApplyProfile(std::uint32_t ms) {
    SetPortTimeouts(ms, ms, ms, ms, ms);
}

}  // namespace

bool TryClearLineErrors() {
    SerialPort& port = Port();
    return RetryBounded([&port] { return port.ClearErrors(); });
}

void ClearLineErrors() {
    ClearLineErrorsChecked();
}

LineSetup ConfigurePort() {
    if (!ClearLineErrorsChecked()) {
        return LineSetup::PortGone;
    }
    SerialPort& port = Port();
    // The program never sends a break and holds the port alone, so a break can only be left
    // over from before the exchange: one clear here is enough. On a USB adapter each clear is a
    // synchronous control transfer, and one per transfer made an adapter pulled during one of
    // them take seconds to be reported.
    if (!RetryBounded([&port] { return port.ClearBreak(); }) ||
        !RetryBounded([&port] { return port.Purge(); })) {
        FailureFlag = 1;
        NoteIfPortGone();
        return LineSetup::PortGone;
    }
    if (port.ConfigureLine()) {
        return LineSetup::Ready;
    }
    FailureFlag = 1;
    if (!port.LineRefusal().empty()) {
        return LineSetup::Refused;
    }
    NoteIfPortGone();
    return LineSetup::PortGone;
}

std::string LineSetupRefusal() {
    return Port().LineRefusal();
}

void SetPortTimeouts(std::uint32_t interval, std::uint32_t readConstant,
                     std::uint32_t readMultiplier, std::uint32_t writeConstant,
                     std::uint32_t writeMultiplier) {
    PortTimeouts timeouts;
    timeouts.readInterval = interval;
    timeouts.readConstant = readConstant;
    timeouts.readMultiplier = readMultiplier;
    timeouts.writeConstant = writeConstant;
    timeouts.writeMultiplier = writeMultiplier;
    Port().SetTimeouts(timeouts);
}

void ApplyNormalTimeouts() {
    ApplyProfile(kNormalTimeoutMs);
}

void ApplyListenTimeouts() {
    ApplyProfile(kListenTimeoutMs);
}

namespace {

// Moves count bytes through the port in chunks of at most chunkLimit, clearing the line errors
// before each. A chunk that moves nothing ends the transfer after onStall has said why.
// Returns the bytes moved.
template <typename MoveChunk, typename OnStall>
std::uint32_t TransferInChunks(std::uint32_t count, std::size_t chunkLimit, MoveChunk moveChunk,
                               OnStall onStall) {
    ApplyNormalTimeouts();
    std::uint32_t total = 0;
    while (total < count) {
        if (!ClearLineErrorsChecked()) {
            break;
        }
        const std::uint32_t chunk =
            std::min<std::uint32_t>(count - total, static_cast<std::uint32_t>(chunkLimit));
        const std::size_t moved = moveChunk(total, chunk);
        if (moved == 0) {
            onStall();
            break;
        }
        total += static_cast<std::uint32_t>(moved);
    }
    return total;
}

}  // namespace

void ReceiveBytes(std::uint8_t* buffer, std::uint32_t count, std::uint32_t& received) {
    received = TransferInChunks(
        count, kReceiveChunk,
        [buffer](std::uint32_t done, std::uint32_t chunk) {
            return Port().Read(buffer + done, chunk);
        },
        [] {
            FailureFlag = 1;
            NoteIfPortGone();
        });
}

void SendBytes(const std::uint8_t* buffer, std::uint32_t count, std::uint32_t& sent) {
    sent = TransferInChunks(
        count, kSendChunk,
        [buffer](std::uint32_t done, std::uint32_t chunk) {
            return Port().Write(buffer + done, chunk);
        },
        [] {
            // Nothing went out within the write time-out: the port is stuck or gone, and either
            // way the programmer cannot be reached.
            FailureFlag = 1;
            RecordLinkLost();
        });
}

namespace {

// Zeroes the buffer and reads a reply into it: how many bytes came, or nothing when the first
// did not come or the port went away before the rest. Never past the buffer's end.
std::optional<std::size_t> ReplyBytes(std::uint8_t* buffer, std::size_t bufferSize,
                                      std::uint32_t replyLength, std::uint32_t attempts) {
    if (bufferSize == 0) {
        return std::nullopt;  // nowhere to put even the first byte
    }
    std::memset(buffer, 0, bufferSize);
    bool gotFirst = false;
    for (std::uint32_t attempt = 0; attempt < attempts && !gotFirst; ++attempt) {
        if (!TryClearLineErrors()) {
            NoteIfPortGone();
            return std::nullopt;  // the port has gone away; further attempts cannot succeed
        }
        gotFirst = Port().Read(buffer, 1) == 1;
    }
    if (!gotFirst) {
        NoteIfPortGone();
        return std::nullopt;
    }
    if (replyLength < 2) {
        return 1;
    }
    // The rest in one read; whatever does not come stays zero.
    const std::size_t rest = std::min<std::size_t>(replyLength - 1, bufferSize - 1);
    std::size_t got = 0;
    if (rest > 0) {
        if (!TryClearLineErrors()) {
            NoteIfPortGone();
            return std::nullopt;  // gone between the first byte and the rest
        }
        got = Port().Read(buffer + 1, rest);
        if (got < rest) {
            NoteIfPortGone();
        }
    }
    return 1 + got;
}

}  // namespace

bool TryReadReply(std::uint8_t* buffer, std::size_t bufferSize, std::uint32_t replyLength,
                  std::uint32_t attempts) {
    return ReplyBytes(buffer, bufferSize, replyLength, attempts).has_value();
}

void ReadReply(std::uint8_t* buffer, std::size_t bufferSize, std::uint32_t replyLength,
               std::uint32_t attempts) {
    if (!TryReadReply(buffer, bufferSize, replyLength, attempts)) {
        FailureFlag = 1;
    }
}

std::size_t ReadWholeReply(std::uint8_t* buffer, std::size_t bufferSize, std::uint32_t replyLength,
                           std::uint32_t attempts) {
    const auto got = ReplyBytes(buffer, bufferSize, replyLength, attempts);
    if (!got || *got < std::min<std::size_t>(replyLength, bufferSize)) {
        FailureFlag = 1;
    }
    return got.value_or(0);
}

std::uint16_t ReadWordReply() {
    std::uint8_t reply[kWordReplyBufferSize];
    ReadWholeReply(reply, sizeof reply, kWordReplyLength, kWordReplyAttempts);
    if (FailureFlag != 0) {
        return 0;
    }
    return static_cast<std::uint16_t>(reply[0] << 8 | reply[1]);
}

}  // namespace koru
