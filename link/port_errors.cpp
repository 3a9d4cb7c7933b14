#include "link/port_errors.h"

namespace koru {
namespace {

std::string JoinGroupCommand(const std::string& group) {
    return "sudo usermod -aG " + group + " $USER";
}

}  // namespace

std::string PortOpenErrorText(const PortOpenError& error) {
    const std::string& path = error.path;
    switch (error.failure) {
        case PortOpenFailure::None:
            return {};
        case PortOpenFailure::NoSuchDevice:
            return path + ": no such device (is the programmer plugged in?)";
        case PortOpenFailure::PermissionDenied:
            if (error.group.empty()) {
                return path +
                       ": permission denied: the user must be in the group that owns the device";
            }
            return path + ": permission denied: the user must be in the group that owns the " +
                   "device, " + error.group + ": run `" + JoinGroupCommand(error.group) +
                   "`, then log in again";
        case PortOpenFailure::InUse:
            return path + ": in use by another program";
        case PortOpenFailure::NotATerminal:
            return path + ": not a serial terminal";
        case PortOpenFailure::Other:
            break;
    }
    return path + ": cannot be opened: " + error.systemText;
}

std::string PortOpenErrorLine(const PortOpenError& error) {
    const std::string& path = error.path;
    switch (error.failure) {
        case PortOpenFailure::None:
            return {};
        case PortOpenFailure::NoSuchDevice:
            return path + ": 设备不存在";
        case PortOpenFailure::PermissionDenied:
            if (error.group.empty()) {
                return path + ": 没有访问权限, 用户须属于拥有该设备的用户组";
            }
            return path + ": 没有访问权限, 用户须属于拥有该设备的用户组 " + error.group + " (" +
                   JoinGroupCommand(error.group) + ", 然后重新登录)";
        case PortOpenFailure::InUse:
            return path + ": 已被其它程序占用";
        case PortOpenFailure::NotATerminal:
            return path + ": 不是串口终端";
        case PortOpenFailure::Other:
            break;
    }
    return path + ": " + error.systemText;
}

}  // namespace koru
