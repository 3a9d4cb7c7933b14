// The Linux listing, read straight from sysfs: /sys/class/tty/<name> exists for every terminal,
// and has a "device" link only where hardware stands behind it; the USB device is the first
// folder above that with an idVendor file. Nothing here opens a terminal.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

#include "platform/port_list.h"

namespace koru {
namespace {

namespace fs = std::filesystem;

// The first line of a sysfs attribute, without its line end; empty when unreadable.
std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
        line.pop_back();
    }
    return line;
}

std::optional<UsbDescription> UsbAbove(const fs::path& device, const fs::path& sysRoot) {
    std::error_code error;
    fs::path folder = fs::canonical(device, error);
    if (error) {
        return std::nullopt;
    }
    const fs::path top = fs::weakly_canonical(sysRoot, error);
    for (; !folder.empty() && folder != top && folder != folder.root_path();
         folder = folder.parent_path()) {
        if (fs::exists(folder / "idVendor", error)) {
            return UsbDescription{
                ReadAttribute(folder / "idVendor"), ReadAttribute(folder / "idProduct"),
                ReadAttribute(folder / "manufacturer"), ReadAttribute(folder / "product"),
                ReadAttribute(folder / "serial")};
        }
    }
    return std::nullopt;
}

}  // namespace

std::string DeviceRoot() {
    const char* root = std::getenv("KORU_DEVICE_ROOT");
    return root != nullptr && *root != '\0' ? root : "/";
}

std::vector<DetectedPort> ListSerialPorts(const std::string& root) {
    const fs::path base(root);
    std::map<std::string, DetectedPort> byName;  // sysfs name -> port, sorted
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(base / "sys/class/tty", error)) {
        const fs::path tty = entry.path();
        const fs::path device = tty / "device";
        std::error_code missing;
        if (!fs::exists(device, missing)) {
            continue;  // a virtual terminal or a pseudo-terminal
        }
        if (fs::exists(tty / "type", missing) && ReadAttribute(tty / "type") == "0") {
            continue;  // a built-in UART port without hardware
        }
        const std::string name = tty.filename().string();
        DetectedPort port;
        port.device = (base / "dev" / name).lexically_normal().string();
        port.usb = UsbAbove(device, base / "sys");
        byName.emplace(name, std::move(port));
    }

    std::map<std::string, DetectedPort> linkedOnly;  // by-id links to devices sysfs did not show
    const fs::path byIdFolder = base / "dev/serial/by-id";
    for (const auto& entry : fs::directory_iterator(byIdFolder, error)) {
        std::error_code linkError;
        const fs::path target = fs::read_symlink(entry.path(), linkError);
        if (linkError) {
            continue;
        }
        const std::string link = (byIdFolder / entry.path().filename()).lexically_normal().string();
        const auto found = byName.find(target.filename().string());
        if (found != byName.end()) {
            if (found->second.byId.empty() || link < found->second.byId) {
                found->second.byId = link;
            }
            continue;
        }
        const fs::path resolved = fs::weakly_canonical(entry.path(), linkError);
        DetectedPort port;
        port.device = resolved.string();
        port.byId = link;
        linkedOnly.emplace(port.device, std::move(port));
    }

    std::vector<DetectedPort> ports;
    for (auto& [name, port] : byName) {
        ports.push_back(std::move(port));
    }
    for (auto& [device, port] : linkedOnly) {
        ports.push_back(std::move(port));
    }
    return ports;
}

bool IsSystemPortName(const std::string&) {
    return false;
}

const std::string& PreferredPath(const DetectedPort& port) {
    return port.byId.empty() ? port.device : port.byId;
}

std::string DescribePort(const DetectedPort& port) {
    std::string line = port.device;
    if (!port.byId.empty()) {
        line += "  " + port.byId;
    }
    if (port.usb) {
        const UsbDescription& usb = *port.usb;
        line += "  " + usb.vendorId + ":" + usb.productId;
        for (const std::string* text : {&usb.manufacturer, &usb.product}) {
            if (!text->empty()) {
                line += " " + *text;
            }
        }
        if (!usb.serial.empty()) {
            line += " serial " + usb.serial;
        }
    }
    return line;
}

}  // namespace koru
