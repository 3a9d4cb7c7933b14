// The native Win32 port: port names, and how long a read on a silent line takes to give up
// under each time-out profile of the link.

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "link/transport.h"
#include "platform/com_ports.h"
#include "platform/serial_port.h"
#include "platform/win32/win32_port_names.h"
#include "platform/win32/win32_serial_port.h"

namespace koru {
namespace {

TEST(Win32PortNames, ComNumbersAndDevicePaths) {
    struct Case {
        const char* name;
        int number;
        const char* path;
    };
    const Case cases[] = {
        {"COM1", 1, "\\\\.\\COM1"},    {"com4", 4, "\\\\.\\COM4"},
        {"COM10", 10, "\\\\.\\COM10"}, {"Com255", 255, "\\\\.\\COM255"},
        {"COM256", 0, "COM256"},       {"COM0", 0, "COM0"},
        {"COM01", 0, "COM01"},         {"COM", 0, "COM"},
        {"COM1x", 0, "COM1x"},         {"\\\\.\\COM3", 0, "\\\\.\\COM3"},
        {"LPT1", 0, "LPT1"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WindowsComNumber(c.name), c.number) << c.name;
        EXPECT_EQ(SerialPort::DevicePathFor(c.name), c.path) << c.name;
    }
}

// The window offers COM1..COM4; a USB adapter is often COM5 or above, so each of the four
// may stand for another port, as on Linux: the environment first, then the saved mapping.
TEST(Win32PortNames, TheWindowsFourPortsCanStandForOthers) {
    SetComMapping(2, "COM7");
    ::_putenv_s("KORU_COM3", "com12");
    EXPECT_EQ(SerialPort::DevicePathFor("COM2"), "\\\\.\\COM7");
    EXPECT_EQ(SerialPort::DevicePathFor("com2"), "\\\\.\\COM7");
    EXPECT_EQ(SerialPort::DevicePathFor("COM3"), "\\\\.\\COM12");
    EXPECT_EQ(SerialPort::DevicePathFor("COM4"), "\\\\.\\COM4");  // no mapping: itself
    EXPECT_EQ(SerialPort::DevicePathFor("COM7"), "\\\\.\\COM7");  // beyond the four: itself
    EXPECT_EQ(DefaultComDevice(1), "COM1");
    EXPECT_EQ(DefaultComDevice(5), "");
    SetComMapping(2, "");
    ::_putenv_s("KORU_COM3", "");
    EXPECT_EQ(SerialPort::DevicePathFor("COM2"), "\\\\.\\COM2");
}

TEST(Win32PortNames, AMissingPortSaysSo) {
    Win32SerialPort port;
    EXPECT_FALSE(port.Open("COM200"));
    EXPECT_FALSE(port.IsOpen());
    const PortOpenError error = port.LastOpenError();
    EXPECT_EQ(error.failure, PortOpenFailure::NoSuchDevice) << error.systemText;
    EXPECT_EQ(error.path, "\\\\.\\COM200");
    EXPECT_FALSE(error.systemText.empty());
}

// The COM port of the test's own prefix, linked to a pseudo-terminal nobody writes to.
std::string SilentComPort() {
    const char* name = std::getenv("KORU_TEST_COM");
    return name != nullptr ? name : "";
}

// Wine's ntdll exports its version; Windows' does not.
bool UnderWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// What Windows does and Wine on a pseudo-terminal does not: a second open of the port is
// refused, and the line takes space parity.
TEST(Win32PortOnWindows, OpensExclusivelyAndTakesSpaceParity) {
    const std::string com = SilentComPort();
    if (com.empty()) {
        GTEST_SKIP() << "KORU_TEST_COM names no COM port";
    }
    if (UnderWine()) {
        GTEST_SKIP() << "Wine does not enforce exclusive opening of a port and a pseudo-terminal "
                        "carries no parity";
    }
    Win32SerialPort first;
    ASSERT_TRUE(first.Open(com));
    EXPECT_TRUE(first.ConfigureLine());
    Win32SerialPort second;
    EXPECT_FALSE(second.Open(com));
    first.Close();
    EXPECT_TRUE(second.Open(com));
}

struct SilenceCase {
    std::uint32_t profileMs;  // every field of the profile
    std::size_t count;        // bytes asked for
};

class Win32PortSilence : public ::testing::TestWithParam<SilenceCase> {};

// A read that gets nothing ends after constant + multiplier * count, as on Linux. The upper
// bound is generous: this checks the meaning, bench/win32_timeouts measures the figures.
TEST_P(Win32PortSilence, ReadGivesUpAfterTheProfileTotal) {
    const std::string com = SilentComPort();
    if (com.empty()) {
        GTEST_SKIP() << "KORU_TEST_COM names no silent COM port (scripts/test's Windows stage "
                        "maps one)";
    }
    const SilenceCase c = GetParam();
    Win32SerialPort port;
    ASSERT_TRUE(port.Open(com)) << com;
    ASSERT_TRUE(port.Purge());
    PortTimeouts timeouts;
    timeouts.readInterval = timeouts.readConstant = timeouts.readMultiplier = c.profileMs;
    timeouts.writeConstant = timeouts.writeMultiplier = c.profileMs;
    port.SetTimeouts(timeouts);

    const auto expected = std::chrono::milliseconds(c.profileMs + c.profileMs * c.count);
    constexpr auto kSlack = std::chrono::milliseconds(400);
    std::uint8_t buffer[64] = {};
    const auto start = std::chrono::steady_clock::now();
    const std::size_t got = port.Read(buffer, c.count);
    const auto took = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(got, 0u);
    // A millisecond of timer rounding below the total is allowed, no more.
    EXPECT_GE(took, expected - std::chrono::milliseconds(1));
    EXPECT_LT(took, expected + kSlack);
}

INSTANTIATE_TEST_SUITE_P(LinkProfiles, Win32PortSilence,
                         ::testing::Values(SilenceCase{kNormalTimeoutMs, 1},
                                           SilenceCase{kNormalTimeoutMs, 4},
                                           SilenceCase{kListenTimeoutMs, 1},
                                           SilenceCase{kNormalTimeoutMs, 32}));

}  // namespace
}  // namespace koru
