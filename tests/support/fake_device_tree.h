#pragma once

// A tree shaped like / with the sysfs and /dev/serial/by-id entries of a machine that has an
// FTDI USB adapter with a serial number (ttyUSB0), a CDC-ACM board without one (ttyACM0), a
// built-in UART (ttyS0), a UART port without hardware (ttyS1) and a virtual console (tty0).

#include <filesystem>
#include <fstream>
#include <string>

namespace koru::test {

inline constexpr char kFakeFtdiById[] = "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";
inline constexpr char kFakeAcmById[] = "usb-Arduino_Uno-if00";

// usbTarget, when given, is what root/dev/ttyUSB0 links to (a pseudo-terminal, so that a test
// can open the adapter by its by-id name).
inline void MakeFakeDeviceTree(const std::filesystem::path& root,
                               const std::string& usbTarget = {}) {
    namespace fs = std::filesystem;
    auto write = [](const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text << "\n";
    };
    auto tty = [&](const std::string& name, const std::string& device) {
        const fs::path entry = root / "sys/class/tty" / name;
        fs::create_directories(entry);
        if (!device.empty()) {
            fs::create_symlink("../../../devices/" + device, entry / "device");
        }
    };
    const fs::path devices = root / "sys/devices";
    const fs::path ftdi = devices / "pci0/usb1/1-1";
    write(ftdi / "idVendor", "0403");
    write(ftdi / "idProduct", "6001");
    write(ftdi / "manufacturer", "FTDI");
    write(ftdi / "product", "FT232R USB UART");
    write(ftdi / "serial", "A1B2C3");
    fs::create_directories(ftdi / "1-1:1.0/ttyUSB0");
    tty("ttyUSB0", "pci0/usb1/1-1/1-1:1.0/ttyUSB0");

    const fs::path acm = devices / "pci0/usb1/1-2";
    write(acm / "idVendor", "2341");
    write(acm / "idProduct", "0043");
    write(acm / "manufacturer", "Arduino");
    write(acm / "product", "Uno");
    fs::create_directories(acm / "1-2:1.0");
    tty("ttyACM0", "pci0/usb1/1-2/1-2:1.0");

    fs::create_directories(devices / "platform/serial8250");
    tty("ttyS0", "platform/serial8250");
    write(root / "sys/class/tty/ttyS0/type", "4");
    tty("ttyS1", "platform/serial8250");
    write(root / "sys/class/tty/ttyS1/type", "0");
    tty("tty0", "");

    const fs::path byId = root / "dev/serial/by-id";
    fs::create_directories(byId);
    fs::create_symlink("../../ttyUSB0", byId / kFakeFtdiById);
    fs::create_symlink("../../ttyACM0", byId / kFakeAcmById);
    if (!usbTarget.empty()) {
        fs::create_symlink(usbTarget, root / "dev/ttyUSB0");
    }
}

}  // namespace koru::test
