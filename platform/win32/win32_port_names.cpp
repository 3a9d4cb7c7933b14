#include "platform/win32/win32_port_names.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <string>
#include <vector>

#include "platform/com_ports.h"
#include "platform/win32/win32_serial_port.h"

namespace koru {
namespace {

constexpr int kHighestComNumber = 255;
constexpr const char kSerialCommKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

std::atomic<SerialPort*> installedPort{nullptr};

SerialPort& NativePort() {
    static Win32SerialPort port;
    return port;
}

}  // namespace

int WindowsComNumber(std::string_view name) {
    if (name.size() < 4 || name.size() > 6) {
        return 0;
    }
    for (int i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) {
            return 0;
        }
    }
    if (name[3] == '0') {
        return 0;  // no leading zeros: "COM01" is not a port name
    }
    int number = 0;
    for (const char c : name.substr(3)) {
        if (c < '0' || c > '9') {
            return 0;
        }
        number = number * 10 + (c - '0');
    }
    return number <= kHighestComNumber ? number : 0;
}

namespace {

// The COM names the system has a DOS device for (ports that exist, whoever made them), asked
// name by name: the full list of names leaves out some that each answers for (Wine's).
void AddDosDeviceComNames(std::vector<std::string>& names) {
    char target[1024];
    for (int number = 1; number <= kHighestComNumber; ++number) {
        const std::string name = "COM" + std::to_string(number);
        if (::QueryDosDeviceA(name.c_str(), target, sizeof target) != 0) {
            names.push_back(name);
        }
    }
}

}  // namespace

std::vector<std::string> SystemSerialPortNames() {
    std::vector<std::string> names;
    AddDosDeviceComNames(names);
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        key = nullptr;
    }
    for (DWORD index = 0; key != nullptr; ++index) {
        char valueName[256];
        DWORD valueNameSize = sizeof valueName;
        char data[64];
        DWORD dataSize = sizeof data - 1;
        DWORD type = 0;
        const LONG status = ::RegEnumValueA(key, index, valueName, &valueNameSize, nullptr, &type,
                                            reinterpret_cast<BYTE*>(data), &dataSize);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (status != ERROR_SUCCESS || type != REG_SZ) {
            continue;  // too long or not a text: not a port name
        }
        data[dataSize] = '\0';
        const std::string name(data);
        if (WindowsComNumber(name) != 0) {
            names.push_back(name);
        }
    }
    if (key != nullptr) {
        ::RegCloseKey(key);
    }
    // One entry per port, in number order, whatever case each list spelled it in.
    for (std::string& name : names) {
        name = "COM" + std::to_string(WindowsComNumber(name));
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return WindowsComNumber(a) < WindowsComNumber(b);
    });
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

std::string DefaultComDevice(int number) {
    return number >= 1 && number <= kComPortCount ? "COM" + std::to_string(number) : std::string();
}

std::string SerialPort::DevicePathFor(std::string_view name) {
    // COM1..COM4 may stand for another port (the environment, the saved mapping).
    const std::string resolved = ResolvePortName(name);
    // The device namespace prefix is what makes COM10 and above openable at all.
    const int number = WindowsComNumber(resolved);
    return number != 0 ? "\\\\.\\COM" + std::to_string(number) : resolved;
}

SerialPort& Port() {
    SerialPort* port = installedPort.load();
    return port != nullptr ? *port : NativePort();
}

void InstallPort(SerialPort* port) {
    installedPort.store(port);
}

}  // namespace koru
