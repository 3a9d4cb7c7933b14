#pragma once

// Opening an exchange with the programmer, selecting and probing a COM port.

#include <cstdint>
#include <string>
#include <string_view>

namespace koru {

// The operation code of a probe exchange.
inline constexpr std::uint8_t kProbeCode = 1;

// Sends CommandBlock on the open port and takes the programmer's 21-byte answer. True: the
// operation may go on with its own exchange under the normal time-out profile. False:
// FailureFlag is 1 and the status line says why.
bool ConnectAndSend();

// True when the last ConnectAndSend failed because the port's driver would not take the line
// (its reason: LineSetupRefusal()). Nothing was sent, and trying again cannot help.
bool LineRefusedAtConnect();

// Replaces the open port by the named one ("COM1".."COM4" or a device path) and runs a probe
// exchange (code 1) with a block of 0x55 fillers. False when the port cannot be opened (the
// command block is then untouched) or the programmer does not answer.
bool OpenPort(std::string_view name);

// The name OpenPort last opened successfully ("COM1", a device path), or empty.
std::string OpenPortName();

// The whole port selection as the operator sees it, on the window's thread: announces the
// probe, ends a running reset listener, opens and probes (one retry after 100 ms) and reports
// the outcome in the status line, ProgrammerFoundFlag and FailureFlag.
void ProbePort(std::string_view name);

// Status texts of the connection.
inline constexpr char kProbeAnnounceText[] = "初始化 KORU V2.0B,请稍候......";
inline constexpr char kProbeFoundText[] = "OK, 已检测到 KORU V2.0B 连接在端口 ";
inline constexpr char kLinkBusyText[] = "编程器连接错误,编程器可能正忙,请稍候再试!";
inline constexpr char kConnectFailedText[] = "编程器连接错误! 编程器可能正忙,请稍候再试!";
inline constexpr char kPortHardwareErrorText[] = "连接烧写器端口硬件错误!";
inline constexpr char kNoPortText[] = "请点击相应的COM端口以启动编程器连接";

}  // namespace koru
