#pragma once

// What every operation does when the programmer cannot be reached or reports a supply fault.

namespace koru {

// ConnectAndSend failed: FailureFlag = 1, the run is not counted as a bad chip
// (CountFailureFlag = 0), timer 0 restarts so the reset listener watches the port, and the
// status line shows the busy text.
void HandleLinkFailure();

// The programmer answered "EV": FailureFlag = 1, three beeps when the buzzer is on, the
// warning box (the worker waits for the operator), then the voltage-error text.
void HandleVddVppFault();

inline constexpr char kSupplyFaultCaption[] = "警  告";
inline constexpr char kSupplyFaultText[] =
    "检测到Vdd或Vpp错误!请检查烧写适配座或\n芯片引脚或PCB板是否有短路故障!";
inline constexpr char kSupplyFaultStatus[] = "编程电压错误,编程失败";

}  // namespace koru
