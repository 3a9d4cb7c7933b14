// The termios port and the transport against the simulated programmer on a pseudo-terminal:
// the time-outs as the program relies on them, whole and broken replies, hang-ups.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <numeric>
#include <string>
#include <vector>

#include "core/outcome.h"
#include "core/shared_state.h"
#include "device/pseudo_terminal.h"
#include "device/simulator.h"
#include "link/transport.h"
#include "platform/posix/termios_serial_port.h"
#include "platform/serial_port.h"
#include "tests/support/process_state.h"

namespace koru {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

double MsSince(Clock::time_point begin) {
    return std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
}

// Bytes without a 'Z', so that the simulator never takes them for the start of a block.
std::vector<std::uint8_t> Payload(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        const auto value = static_cast<std::uint8_t>(i * 7 + 3);
        bytes[i] = value == 'Z' ? 0 : value;
    }
    return bytes;
}

class SerialLinkTest : public test::ProcessStateTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(sim_.Start(Timing()));
        ASSERT_TRUE(Port().Open(sim_.SlavePath()));
        ConfigurePort();
        ApplyNormalTimeouts();  // as every exchange starts; a fresh port has none
        ASSERT_EQ(FailureFlag, 0);
    }
    void TearDown() override { Port().Close(); }
    virtual device::DeviceTiming Timing() const { return {}; }

    device::Simulator sim_;
};

// The same, with the line paced like a real 19200-baud line.
class PacedSerialLinkTest : public SerialLinkTest {
  protected:
    device::DeviceTiming Timing() const override {
        device::DeviceTiming timing;
        timing.paceLine = true;
        return timing;
    }
};

TEST_F(SerialLinkTest, ASilentPeerEndsAOneByteReadAfterConstantPlusMultiplier) {
    std::uint8_t byte = 0;
    ApplyNormalTimeouts();
    auto begin = Clock::now();
    EXPECT_EQ(Port().Read(&byte, 1), 0u);
    const double normal = MsSince(begin);
    EXPECT_GE(normal, 17.5);
    EXPECT_LT(normal, 80.0);

    ApplyListenTimeouts();
    begin = Clock::now();
    EXPECT_EQ(Port().Read(&byte, 1), 0u);
    const double listen = MsSince(begin);
    EXPECT_GE(listen, 9.5);
    EXPECT_LT(listen, 50.0);

    // Two attempts under the listen profile: about 20 ms, then the flag.
    std::uint8_t reply[16];
    begin = Clock::now();
    ReadReply(reply, sizeof reply, 9, 2);
    EXPECT_GE(MsSince(begin), 19.0);
    EXPECT_EQ(FailureFlag, 1);
}

TEST_F(SerialLinkTest, ATotalTimeOutCountsFromTheStartEvenWhileBytesKeepComing) {
    // Interval off; 20 + 1 * 30 = 50 ms in all, while the peer sends a byte every 5 ms.
    PortTimeouts timeouts;
    timeouts.readConstant = 20;
    timeouts.readMultiplier = 1;
    Port().SetTimeouts(timeouts);
    for (int i = 0; i < 30; ++i) {
        sim_.Send({static_cast<std::uint8_t>('a' + i % 20)}, milliseconds(5));
    }
    std::uint8_t buffer[30];
    const auto begin = Clock::now();
    const std::size_t got = Port().Read(buffer, sizeof buffer);
    const double took = MsSince(begin);
    EXPECT_GE(took, 49.0);
    EXPECT_LT(took, 120.0);
    EXPECT_GT(got, 0u);
    EXPECT_LT(got, 30u);
}

TEST_F(PacedSerialLinkTest, TheAnswerToACommandBlockArrivesWhole) {
    std::uint8_t block[device::kBlockSize] = {'Z', 'E', 'P', 'H', device::kCodeProbe};
    std::uint32_t count = 0;
    SendBytes(block, sizeof block, count);
    ASSERT_EQ(count, sizeof block);
    EXPECT_TRUE(Port().WaitTransmitEmpty());
    DelayMs(80);
    std::uint8_t answer[device::kBlockSize] = {};
    ReceiveBytes(answer, sizeof answer, count);
    EXPECT_EQ(count, sizeof answer);
    EXPECT_EQ(FailureFlag, 0);
    EXPECT_TRUE(std::equal(std::begin(block), std::end(block), answer));  // the device echoes
}

TEST_F(PacedSerialLinkTest, ReceiveBytesOf600ArriveWholeAtLineSpeed) {
    const auto payload = Payload(600);
    sim_.Send(payload);
    std::vector<std::uint8_t> buffer(600);
    std::uint32_t received = 0;
    const auto begin = Clock::now();
    ReceiveBytes(buffer.data(), 600, received);
    EXPECT_EQ(received, 600u);
    EXPECT_EQ(FailureFlag, 0);
    EXPECT_EQ(buffer, payload);
    // 600 frames of 11 bits at 19200 baud take about 344 ms.
    EXPECT_GE(MsSince(begin), 320.0);
}

TEST_F(SerialLinkTest, APeerThatStopsAfter300LeavesThoseAndTheFlag) {
    const auto payload = Payload(300);
    sim_.Send(payload);
    std::vector<std::uint8_t> buffer(600);
    std::uint32_t received = 0;
    ReceiveBytes(buffer.data(), 600, received);
    EXPECT_EQ(received, 300u);
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), buffer.begin()));
}

TEST_F(SerialLinkTest, APauseLongerThanTheIntervalEndsTheReadWithTheBytesBeforeIt) {
    // The pause is long, so that a reader slowed down by a loaded machine still sees it.
    sim_.Send(Payload(10));
    sim_.Send(Payload(11), milliseconds(100));
    std::uint8_t buffer[21] = {};
    ApplyNormalTimeouts();
    const auto begin = Clock::now();
    EXPECT_EQ(Port().Read(buffer, sizeof buffer), 10u);
    EXPECT_LT(MsSince(begin), 95.0);

    // A reset announcement broken after "ZEPHRES": the rest stays zero and no flag is set.
    ASSERT_TRUE(sim_.WaitForOutputSent(milliseconds(1000)));
    Port().Purge();
    sim_.Send({'Z', 'E', 'P', 'H', 'R', 'E', 'S'});
    sim_.Send({'E', 'T'}, milliseconds(100));
    ApplyListenTimeouts();
    std::uint8_t reply[16];
    ReadReply(reply, sizeof reply, 9, 5);
    EXPECT_EQ(FailureFlag, 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(reply)), "ZEPHRES");
}

TEST_F(SerialLinkTest, SendBytesOf600ReachThePeerInOrder) {
    const auto payload = Payload(600);
    std::uint32_t sent = 0;
    SendBytes(payload.data(), 600, sent);
    EXPECT_EQ(sent, 600u);
    EXPECT_EQ(FailureFlag, 0);
    ASSERT_TRUE(sim_.WaitForReceivedBytes(600, milliseconds(2000)));
    EXPECT_EQ(sim_.ReceivedBytes(), payload);
}

TEST_F(SerialLinkTest, ReadWordReplyAndShortRepliesFromThePeer) {
    sim_.Send({0x12, 0x34});
    EXPECT_EQ(ReadWordReply(), 0x1234);
    EXPECT_EQ(FailureFlag, 0);

    sim_.Send({'O'});
    std::uint8_t reply[8];
    ReadReply(reply, sizeof reply, 2, 5);
    EXPECT_EQ(reply[0], 'O');
    EXPECT_EQ(reply[1], 0);
    EXPECT_EQ(FailureFlag, 0);

    FailureFlag = 1;
    sim_.Send({0x56, 0x78});
    EXPECT_EQ(ReadWordReply(), 0);
}

TEST_F(SerialLinkTest, AHangUpMidReadEndsInBoundedTimeWithTheFlag) {
    sim_.Send(Payload(300));
    sim_.QueueHangUp(milliseconds(30));
    std::vector<std::uint8_t> buffer(600);
    std::uint32_t count = 0;
    auto begin = Clock::now();
    EXPECT_FALSE(Port().Gone());
    ReceiveBytes(buffer.data(), 600, count);
    EXPECT_LT(MsSince(begin), 1500.0);
    EXPECT_EQ(count, 300u);
    EXPECT_EQ(FailureFlag, 1);
    ASSERT_TRUE(sim_.WaitForHangUp(milliseconds(1000)));
    // The system said so: the link is lost, not merely silent.
    EXPECT_TRUE(Port().Gone());
    EXPECT_EQ(LastOutcome().kind, OutcomeKind::LinkLost);

    // The port is gone: every step fails within the bounded retry instead of spinning.
    EXPECT_FALSE(Port().SetupQueues(1024, 1024));
    FailureFlag = 0;
    begin = Clock::now();
    ConfigurePort();
    EXPECT_EQ(FailureFlag, 1);
    FailureFlag = 0;
    SendBytes(buffer.data(), 21, count);
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_EQ(count, 0u);
    FailureFlag = 0;
    std::uint8_t reply[8];
    ReadReply(reply, sizeof reply, 2, 100);
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_LT(MsSince(begin), 2000.0);
}

TEST_F(SerialLinkTest, TheOpenIsExclusiveUntilClosed) {
    TermiosSerialPort second;
    EXPECT_FALSE(second.Open(sim_.SlavePath()));
    EXPECT_EQ(second.LastOpenError().failure, PortOpenFailure::InUse);
    EXPECT_EQ(second.LastOpenError().path, sim_.SlavePath());
    Port().Close();
    EXPECT_TRUE(second.Open(sim_.SlavePath()));
    EXPECT_FALSE(Port().Open(sim_.SlavePath()));
    second.Close();
    EXPECT_TRUE(Port().Open(sim_.SlavePath()));
}

TEST(SerialPortTest, OpeningWhatIsNotATerminalFailsWithItsCause) {
    TermiosSerialPort port;
    const std::pair<const char*, PortOpenFailure> cases[] = {
        {"/nonexistent/koru-port", PortOpenFailure::NoSuchDevice},
        {"/dev/null", PortOpenFailure::NotATerminal},
        {"/", PortOpenFailure::Other},  // a folder: EISDIR
    };
    for (const auto& [path, failure] : cases) {
        EXPECT_FALSE(port.Open(path));
        EXPECT_EQ(port.LastOpenError().failure, failure) << path;
        EXPECT_EQ(port.LastOpenError().path, path);
        EXPECT_FALSE(port.LastOpenError().systemText.empty());
    }
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Read(nullptr, 0), 0u);
    EXPECT_FALSE(port.ClearErrors());
}

TEST(SerialPortTest, ComNamesMapToDevicesOrTheirOverride) {
    ::setenv("KORU_COM2", "/dev/ttyUSB7", 1);
    ::unsetenv("KORU_COM3");
    ::setenv("KORU_COM4", "", 1);
    EXPECT_EQ(SerialPort::DevicePathFor("COM2"), "/dev/ttyUSB7");
    EXPECT_EQ(SerialPort::DevicePathFor("com2"), "/dev/ttyUSB7");
    EXPECT_EQ(SerialPort::DevicePathFor("COM3"), "/dev/ttyS2");
    EXPECT_EQ(SerialPort::DevicePathFor("COM4"), "/dev/ttyS3");  // empty: the default
    EXPECT_EQ(SerialPort::DevicePathFor("Com1").substr(0, 5), "/dev/");
    EXPECT_EQ(SerialPort::DevicePathFor("COM5"), "COM5");
    EXPECT_EQ(SerialPort::DevicePathFor("/dev/pts/9"), "/dev/pts/9");
    ::unsetenv("KORU_COM2");
    ::unsetenv("KORU_COM4");
}

TEST(SerialPortTest, TheLineIsRawAt19200WithParityAcceptedOnAPseudoTerminal) {
    auto terminal = device::PseudoTerminal::Create();
    ASSERT_TRUE(terminal);
    TermiosSerialPort port;
    ASSERT_TRUE(port.Open(terminal->slavePath));
    EXPECT_TRUE(port.ConfigureLine());
    EXPECT_TRUE(port.ClearErrors());
    EXPECT_TRUE(port.ClearBreak());
    EXPECT_TRUE(port.Purge());
}

TEST(SerialPortTest, AWriteNobodyTakesEndsAfterTheWriteTimeOut) {
    auto terminal = device::PseudoTerminal::Create();  // nobody reads its master
    ASSERT_TRUE(terminal);
    test::ResetProcessState();
    ASSERT_TRUE(Port().Open(terminal->slavePath));
    // Fill the line until it takes nothing more.
    PortTimeouts shortWrites;
    shortWrites.writeConstant = 50;
    Port().SetTimeouts(shortWrites);
    const std::vector<std::uint8_t> bytes(4096, 0x41);
    int pieces = 0;
    while (Port().Write(bytes.data(), bytes.size()) > 0 && ++pieces < 1000) {
    }
    ASSERT_LT(pieces, 1000);

    std::uint32_t sent = 99;
    const auto begin = Clock::now();
    SendBytes(bytes.data(), 21, sent);
    const double took = MsSince(begin);
    const bool gone = Port().Gone();
    Port().Close();
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_EQ(sent, 0u);
    // A write that moves nothing loses the link, though the port itself is still there.
    EXPECT_FALSE(gone);
    EXPECT_EQ(LastOutcome().kind, OutcomeKind::LinkLost);
    // 9 + 9 * 21 ms without progress.
    EXPECT_GE(took, 190.0);
    EXPECT_LT(took, 1000.0);
}

}  // namespace
}  // namespace koru
