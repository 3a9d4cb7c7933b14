#pragma once

// The programmer's short replies are judged by comparing a zero-filled buffer with the
// expected text and its terminating zero, so a reply with a missing or an extra byte matches
// nothing.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace koru {

inline constexpr std::string_view kReplyOk = "OK";
inline constexpr std::string_view kReplyRefused = "NO";
inline constexpr std::string_view kReplySupplyFault = "EV";   // Vdd or Vpp fault
inline constexpr std::string_view kReplyReset = "ZEPHRESET";  // sent unprompted after a restart

// True when buffer holds text followed by a zero byte. bufferSize must exceed text.size().
inline bool ReplyIs(const std::uint8_t* buffer, std::size_t bufferSize, std::string_view text) {
    return bufferSize > text.size() && std::memcmp(buffer, text.data(), text.size()) == 0 &&
           buffer[text.size()] == 0;
}

}  // namespace koru
