#pragma once

// Byte-level transport to the programmer over Port(): line set-up, the two time-out profiles
// and the blocking read and write routines every exchange is built from. It knows nothing of
// commands; a reply that never came sets FailureFlag, which only the caller clears.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/delay.h"

namespace koru {

// All five time-out fields of a profile hold the same number of milliseconds.
inline constexpr std::uint32_t kNormalTimeoutMs = 9;  // every exchange
inline constexpr std::uint32_t kListenTimeoutMs = 5;  // the reset listener

inline constexpr std::size_t kReceiveChunk = 256;  // largest single read
inline constexpr std::size_t kSendChunk = 255;     // largest single write (not 256)

// Attempts for the first byte of a reply (about 18 ms each under the normal profile).
inline constexpr std::uint32_t kWordReplyAttempts = 30;      // sums, three-byte reports
inline constexpr std::uint32_t kDataStatusAttempts = 50;     // first status after a data command
inline constexpr std::uint32_t kOneShotReplyAttempts = 100;  // one-shot status, final "OK"

// Clears the port's error state (before every transfer; the break state is cleared only by
// ConfigurePort); retries for a bounded time on a port that has gone away, then sets FailureFlag.
void ClearLineErrors();
// The same without touching FailureFlag: false when the port has gone away.
bool TryClearLineErrors();

enum class LineSetup {
    Ready,
    PortGone,  // FailureFlag set: the port failed to clear, purge or read back its settings
    Refused,   // FailureFlag set: the driver would not take the line; see LineSetupRefusal()
};

// Once per exchange: clear errors and break, purge both directions, 19200 baud space parity.
LineSetup ConfigurePort();
// The driver's reason when the last ConfigurePort gave Refused.
std::string LineSetupRefusal();

void SetPortTimeouts(std::uint32_t interval, std::uint32_t readConstant,
                     std::uint32_t readMultiplier, std::uint32_t writeConstant,
                     std::uint32_t writeMultiplier);
void ApplyNormalTimeouts();
void ApplyListenTimeouts();

// Reads count bytes in chunks of at most 256 under the normal profile. A chunk that brings
// nothing sets FailureFlag and ends the read; received tells how many bytes came.
void ReceiveBytes(std::uint8_t* buffer, std::uint32_t count, std::uint32_t& received);

// Writes count bytes in chunks of at most 255 under the normal profile. A write that makes no
// progress within the write time-out sets FailureFlag and ends.
void SendBytes(const std::uint8_t* buffer, std::uint32_t count, std::uint32_t& sent);

// Zeroes buffer[0..bufferSize), waits up to attempts one-byte reads for the first byte (sets
// FailureFlag when none comes), then reads the other replyLength - 1 bytes in one read; bytes
// that do not come stay zero. Callers compare the expected text with its terminating zero.
void ReadReply(std::uint8_t* buffer, std::size_t bufferSize, std::uint32_t replyLength,
               std::uint32_t attempts);
// ReadReply without touching FailureFlag: true when the first byte came and the port was still
// there for the rest.
bool TryReadReply(std::uint8_t* buffer, std::size_t bufferSize, std::uint32_t replyLength,
                  std::uint32_t attempts);

// ReadReply for a binary reply whose every byte counts (a sum, an address): sets FailureFlag
// unless all replyLength bytes came, since a missing byte read as zero would give a wrong
// figure and put the following reads out of step. Returns how many bytes came (0 when not even
// the first did).
std::size_t ReadWholeReply(std::uint8_t* buffer, std::size_t bufferSize, std::uint32_t replyLength,
                           std::uint32_t attempts);

// A two-byte reply, most significant byte first; 0 when FailureFlag is set afterwards (also
// when it was set before the call or the reply came short).
std::uint16_t ReadWordReply();

}  // namespace koru
