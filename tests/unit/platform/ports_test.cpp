// Port names and the devices behind them: the listing read from a fake sysfs tree, the COM
// mapping's order of precedence, and the real-time priority asked for under an rtprio limit.
// (The mapping's trip through the settings is shown by the window and koru-cli tests.)

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdlib>

#include "platform/com_ports.h"
#include "platform/port_list.h"
#include "platform/thread_priority.h"
#include "tests/support/fake_device_tree.h"
#include "tests/unit/image/temp_dir.h"

namespace koru {
namespace {

TEST(PortListTest, ListsHardwarePortsWithTheirByIdLinksAndUsbDescriptions) {
    test::TempDir dir;
    const std::string root = dir.Path("root");
    test::MakeFakeDeviceTree(root);

    const auto ports = ListSerialPorts(root);

    const struct {
        std::string device;
        std::string byId;
        std::string line;  // DescribePort, without the root
    } expected[] = {
        {"/dev/ttyACM0", std::string("/dev/serial/by-id/") + test::kFakeAcmById,
         "2341:0043 Arduino Uno"},
        {"/dev/ttyS0", "", ""},
        {"/dev/ttyUSB0", std::string("/dev/serial/by-id/") + test::kFakeFtdiById,
         "0403:6001 FTDI FT232R USB UART serial A1B2C3"},
    };
    ASSERT_EQ(ports.size(), std::size(expected));
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const auto& want = expected[i];
        EXPECT_EQ(ports[i].device, root + want.device);
        EXPECT_EQ(ports[i].byId, want.byId.empty() ? "" : root + want.byId);
        EXPECT_EQ(PreferredPath(ports[i]), want.byId.empty() ? ports[i].device : ports[i].byId);
        EXPECT_EQ(ports[i].usb.has_value(), !want.line.empty()) << want.device;
        const std::string line = DescribePort(ports[i]);
        EXPECT_EQ(line.substr(line.size() - want.line.size()), want.line) << line;
    }
    EXPECT_TRUE(ports[0].usb && ports[0].usb->serial.empty());
}

TEST(PortListTest, AMissingTreeListsNothing) {
    test::TempDir dir;
    EXPECT_TRUE(ListSerialPorts(dir.Path("nothing-here")).empty());
}

TEST(ComPortsTest, EnvironmentThenSavedMappingThenTheDefault) {
    const struct {
        const char* name;
        const char* environment;  // KORU_COM2, nullptr: unset
        const char* saved;        // the saved mapping of COM2
        std::string device;
    } cases[] = {
        {"COM2", nullptr, "", "/dev/ttyS1"},
        {"com2", nullptr, "/dev/serial/by-id/usb-x", "/dev/serial/by-id/usb-x"},
        {"COM2", "/dev/ttyUSB7", "/dev/serial/by-id/usb-x", "/dev/ttyUSB7"},
        {"COM2", "", "/dev/serial/by-id/usb-x", "/dev/serial/by-id/usb-x"},
        {"COM5", nullptr, "", "COM5"},
        {"/dev/ttyACM0", "/dev/ttyUSB7", "", "/dev/ttyACM0"},
    };
    for (const auto& c : cases) {
        if (c.environment != nullptr) {
            setenv("KORU_COM2", c.environment, 1);
        } else {
            unsetenv("KORU_COM2");
        }
        SetComMapping(2, c.saved);
        EXPECT_EQ(ResolvePortName(c.name), c.device) << c.name << " " << c.saved;
    }
    unsetenv("KORU_COM2");
    SetComMapping(2, "");
}

TEST(ThreadPriorityTest, RealTimePriorityStaysWithinTheRtprioLimit) {
    const struct {
        unsigned long long limit;
        int priority;
    } cases[] = {{RLIM_INFINITY, 99}, {99, 99}, {200, 99}, {50, 50}, {1, 1}, {0, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(RealTimePriorityWithin(99, c.limit), c.priority) << c.limit;
    }
}

}  // namespace
}  // namespace koru
