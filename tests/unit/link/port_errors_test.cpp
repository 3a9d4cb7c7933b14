#include "link/port_errors.h"

#include <gtest/gtest.h>

#include <string>

namespace koru {
namespace {

// Each cause names the device path and what the operator can do; a denied user is told the
// group that owns the device and the command that joins it.
TEST(PortErrors, EachCauseIsNamedWithThePath) {
    using F = PortOpenFailure;
    struct Case {
        PortOpenError error;
        std::string text;  // for koru-cli
        std::string line;  // below the window's box
    };
    const Case cases[] = {
        {{F::None, "/dev/x", "", ""}, "", ""},
        {{F::NoSuchDevice, "/dev/ttyUSB0", "", "No such file or directory"},
         "/dev/ttyUSB0: no such device (is the programmer plugged in?)",
         "/dev/ttyUSB0: 设备不存在"},
        {{F::PermissionDenied, "/dev/ttyUSB0", "dialout", "Permission denied"},
         "/dev/ttyUSB0: permission denied: the user must be in the group that owns the device, "
         "dialout: run `sudo usermod -aG dialout $USER`, then log in again",
         "/dev/ttyUSB0: 没有访问权限, 用户须属于拥有该设备的用户组 dialout (sudo usermod -aG "
         "dialout $USER, 然后重新登录)"},
        {{F::PermissionDenied, "/dev/ttyS1", "", "Permission denied"},
         "/dev/ttyS1: permission denied: the user must be in the group that owns the device",
         "/dev/ttyS1: 没有访问权限, 用户须属于拥有该设备的用户组"},
        {{F::InUse, "/dev/ttyACM0", "", "Device or resource busy"},
         "/dev/ttyACM0: in use by another program",
         "/dev/ttyACM0: 已被其它程序占用"},
        {{F::NotATerminal, "/dev/null", "", "Inappropriate ioctl for device"},
         "/dev/null: not a serial terminal",
         "/dev/null: 不是串口终端"},
        {{F::Other, "/dev/ttyS2", "", "Input/output error"},
         "/dev/ttyS2: cannot be opened: Input/output error",
         "/dev/ttyS2: Input/output error"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PortOpenErrorText(c.error), c.text);
        EXPECT_EQ(PortOpenErrorLine(c.error), c.line);
    }
}

}  // namespace
}  // namespace koru
