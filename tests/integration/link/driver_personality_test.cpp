// The termios port over drivers as they really behave, played through its OS table on top of
// the simulator's pseudo-terminal: each personality runs a probe and an 8 KiB auto-programming
// and must end in success, a clear refusal of the port, or a lost link, never a hang.

#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <thread>

#include "core/outcome.h"
#include "core/shared_state.h"
#include "image/numbers.h"
#include "image/program_memory.h"
#include "link/connection.h"
#include "operations/auto_program.h"
#include "operations/runner.h"
#include "platform/posix/termios_serial_port.h"
#include "tests/integration/support/simulator_fixture.h"

namespace koru {
namespace {

constexpr std::uint32_t kProgramEnd = 0x1FFF;  // 8 KiB

// What a driver does, built on the real calls to the pseudo-terminal.
struct DriverPlay {
    std::optional<int> breakErrno;               // TIOCCBRK fails with this
    bool realTerminal = false;                   // reads back what was set, parity included
    tcflag_t droppedFlags = 0;                   // ... except these bits
    std::optional<speed_t> speedTaken;           // ... and this speed instead of the one asked for
    std::size_t writeLimit = 0;                  // a write takes at most this much (0: all)
    bool eagainEveryOtherWrite = false;          // every other write: EAGAIN
    bool drainTakesLineTime = false;             // tcdrain waits for the bytes on a 19200-baud line
    std::optional<std::size_t> unplugAfterRead;  // bytes read after the probe, then EIO
    std::optional<std::size_t> unplugAfterWrite;  // bytes written after the probe, then EIO
    // Bytes written after the probe, then no write takes anything: the driver still reports
    // the port there (a stuck adapter, a flow control that never releases).
    std::optional<std::size_t> stallAfterWrite;
};

enum class Expect { Works, Refused, LinkLost };

struct Personality {
    const char* name;
    DriverPlay play;
    Expect expect;
};

// The driver a personality plays, and the state it keeps between calls.
class PlayedDriver {
  public:
    explicit PlayedDriver(const DriverPlay& play) : play_(play) {}

    void ArmUnplug() { armed_ = true; }
    // TIOCCBRK requests since ArmUnplug: on a USB adapter each one is a control transfer.
    std::size_t BreakClearsAfterArm() const { return breakClearsAfterArm_; }

    TermiosDriver Table() {
        const TermiosDriver& os = SystemTermiosDriver();
        TermiosDriver t = os;
        t.ioctl = [this, &os](int fd, unsigned long request) {
            if (Gone()) {
                return Fail(EIO);
            }
            if (request == TIOCCBRK && armed_) {
                ++breakClearsAfterArm_;
            }
            if (request == TIOCCBRK && play_.breakErrno) {
                return Fail(*play_.breakErrno);
            }
            return os.ioctl(fd, request);
        };
        t.tcgetattr = [this, &os](int fd, termios* settings) {
            if (Gone()) {
                return Fail(EIO);
            }
            std::lock_guard lock(mutex_);
            if (!play_.realTerminal || !stored_) {
                return os.tcgetattr(fd, settings);
            }
            *settings = *stored_;
            settings->c_cflag &= ~play_.droppedFlags;
            if (play_.speedTaken) {
                cfsetispeed(settings, *play_.speedTaken);
                cfsetospeed(settings, *play_.speedTaken);
            }
            return 0;
        };
        t.tcsetattr = [this, &os](int fd, int when, const termios* settings) {
            if (Gone()) {
                return Fail(EIO);
            }
            std::lock_guard lock(mutex_);
            stored_ = *settings;
            os.tcsetattr(fd, when, settings);
            return 0;
        };
        t.isPseudoTerminal = [this, &os](int fd) {
            return !play_.realTerminal && os.isPseudoTerminal(fd);
        };
        t.poll = [this, &os](pollfd* fds, nfds_t count, const timespec* timeout) {
            if (Gone()) {
                fds[0].revents = POLLHUP;
                return 1;
            }
            if (Stalled() && (fds[0].events & POLLOUT) != 0) {
                if (timeout != nullptr) {
                    std::this_thread::sleep_for(std::chrono::seconds(timeout->tv_sec) +
                                                std::chrono::nanoseconds(timeout->tv_nsec));
                }
                return 0;
            }
            return os.poll(fds, count, timeout);
        };
        t.read = [this, &os](int fd, void* buffer, size_t count) -> ssize_t {
            if (Gone() || Crossed(play_.unplugAfterRead, readAfterArm_)) {
                return Unplug();
            }
            const ssize_t got = os.read(fd, buffer, count);
            if (got > 0 && armed_) {
                readAfterArm_ += static_cast<std::size_t>(got);
            }
            return got;
        };
        t.write = [this, &os](int fd, const void* buffer, size_t count) -> ssize_t {
            if (Gone() || Crossed(play_.unplugAfterWrite, writtenAfterArm_)) {
                return Unplug();
            }
            if (Stalled()) {
                return Fail(EAGAIN);
            }
            if (play_.eagainEveryOtherWrite && (writes_++ % 2) == 0) {
                return Fail(EAGAIN);
            }
            if (play_.writeLimit != 0 && count > play_.writeLimit) {
                count = play_.writeLimit;
            }
            const ssize_t put = os.write(fd, buffer, count);
            if (put > 0) {
                undrained_ += static_cast<std::size_t>(put);
                if (armed_) {
                    writtenAfterArm_ += static_cast<std::size_t>(put);
                }
            }
            return put;
        };
        t.tcdrain = [this, &os](int fd) {
            if (Gone()) {
                return Fail(EIO);
            }
            if (play_.drainTakesLineTime) {
                std::this_thread::sleep_for(kLineFrameTime * static_cast<long>(undrained_));
            }
            undrained_ = 0;
            return os.tcdrain(fd);
        };
        t.tcflush = [this, &os](int fd, int queues) {
            return Gone() ? Fail(EIO) : os.tcflush(fd, queues);
        };
        return t;
    }

  private:
    static int Fail(int error) {
        errno = error;
        return -1;
    }
    bool Gone() const { return unplugged_; }
    bool Stalled() const { return Crossed(play_.stallAfterWrite, writtenAfterArm_); }
    bool Crossed(const std::optional<std::size_t>& limit, std::size_t done) const {
        return armed_ && limit && done >= *limit;
    }
    ssize_t Unplug() {
        unplugged_ = true;
        return Fail(EIO);
    }

    const DriverPlay play_;
    std::mutex mutex_;
    std::optional<termios> stored_;  // guarded by mutex_
    // The port is used by one thread at a time, but by different ones in turn.
    std::atomic<bool> armed_{false};
    std::atomic<bool> unplugged_{false};
    std::atomic<std::size_t> readAfterArm_{0};
    std::atomic<std::size_t> writtenAfterArm_{0};
    std::atomic<std::size_t> undrained_{0};
    std::atomic<std::size_t> breakClearsAfterArm_{0};
    std::atomic<unsigned> writes_{0};
};

// A real terminal's driver, with what change says about it.
template <typename Change>
DriverPlay RealTerminal(Change change) {
    DriverPlay play;
    play.realTerminal = true;
    change(play);
    return play;
}

const Personality kPersonalities[] = {
    {"PseudoTerminalAsItIs", {}, Expect::Works},
    {"UsbSerialWithoutBreak", RealTerminal([](DriverPlay& p) { p.breakErrno = ENOTTY; }),
     Expect::Works},
    {"CdcAcmWithoutBreak", RealTerminal([](DriverPlay& p) { p.breakErrno = EOPNOTSUPP; }),
     Expect::Works},
    {"CdcAcmStallingBreak", RealTerminal([](DriverPlay& p) { p.breakErrno = EPIPE; }),
     Expect::Works},
    {"DriverRejectingBreak", RealTerminal([](DriverPlay& p) { p.breakErrno = EINVAL; }),
     Expect::Works},
    {"SpaceParityDropped", RealTerminal([](DriverPlay& p) { p.droppedFlags = CMSPAR; }),
     Expect::Refused},
    {"SpeedNotTaken", RealTerminal([](DriverPlay& p) { p.speedTaken = B9600; }), Expect::Refused},
    {"WritesTakePartOfTheData", RealTerminal([](DriverPlay& p) { p.writeLimit = 7; }),
     Expect::Works},
    {"WritesReturnEagain", RealTerminal([](DriverPlay& p) { p.eagainEveryOtherWrite = true; }),
     Expect::Works},
    {"DrainTakesTheLineTime", RealTerminal([](DriverPlay& p) { p.drainTakesLineTime = true; }),
     Expect::Works},
    {"UnplugInTheMiddleOfARead", RealTerminal([](DriverPlay& p) { p.unplugAfterRead = 1; }),
     Expect::LinkLost},
    {"UnplugInTheMiddleOfAWrite", RealTerminal([](DriverPlay& p) { p.unplugAfterWrite = 4096; }),
     Expect::LinkLost},
    // In the program step's data phase: a port that takes nothing more has lost the link, though
    // the system never reports it gone.
    {"WritesStallInTheDataPhase", RealTerminal([](DriverPlay& p) { p.stallAfterWrite = 4096; }),
     Expect::LinkLost},
};

void PrintTo(const Personality& personality, std::ostream* out) {
    *out << personality.name;
}

class DriverPersonalityTest : public test::SimulatorTest,
                              public ::testing::WithParamInterface<Personality> {
  protected:
    DriverPersonalityTest() : driver_(GetParam().play), port_(driver_.Table()) {
        InstallPort(&port_);
        for (std::uint32_t a = 0; a <= kProgramEnd; ++a) {
            ProgramMemory[a] = static_cast<std::uint8_t>(a * 7 + (a >> 8));
        }
        CodeLoadedFlag = 1;
        StartAddress = 0;
        EndAddress = kProgramEnd;
        window_.SetField(TextField::Checksum, Hex(SumImageRange(0, kProgramEnd), 4));
    }
    ~DriverPersonalityTest() override {
        WaitForThreads();
        port_.Close();
        InstallPort(nullptr);
    }

    PlayedDriver driver_;
    TermiosSerialPort port_;
};

TEST_P(DriverPersonalityTest, ProbeAndAutoProgramEndAsTheDriverAllows) {
    const Expect expect = GetParam().expect;
    ProbePort("COM1");
    if (expect == Expect::Refused) {
        EXPECT_EQ(ProgrammerFoundFlag, 0);
        EXPECT_EQ(PortSelectedFlag, 0);
        EXPECT_EQ(LastOutcome().kind, OutcomeKind::Refused);
        ASSERT_EQ(window_.MessageBoxes().size(), 1u) << "refused once, not once per attempt";
        // The driver's reason alone, in the box and as the last status: no text blames the
        // port, the programmer or a busy line.
        const std::string text = window_.MessageBoxes()[0].text;
        EXPECT_EQ(text,
                  GetParam().play.droppedFlags == CMSPAR
                      ? "串口驱动不支持空校验(CMSPAR),无法发送第九位,请换用支持空校验的串口适配器"
                      : "串口驱动不接受19200波特率");
        EXPECT_EQ(window_.StatusLine(), text);
        EXPECT_EQ(LastOutcome().status, text);
        for (const std::string& status : window_.StatusHistory()) {
            EXPECT_TRUE(status == text || status == kProbeAnnounceText) << status;
        }
        RunAndWait(kAutoProgram);
        EXPECT_EQ(window_.StatusLine(), kNoPortText);
        EXPECT_TRUE(sim_.Exchanges().empty()) << "nothing is sent over a refused line";
        return;
    }
    ASSERT_EQ(ProgrammerFoundFlag, 1) << window_.StatusLine();
    EXPECT_TRUE(window_.MessageBoxes().empty());
    driver_.ArmUnplug();
    const std::size_t exchangesBefore = sim_.Exchanges().size();

    RunAndWait(kAutoProgram);

    if (expect == Expect::Works) {
        // The break is cleared when an exchange sets the port up, never per transfer.
        const std::size_t exchanges = sim_.Exchanges().size() - exchangesBefore;
        EXPECT_GE(driver_.BreakClearsAfterArm(), 1u);
        EXPECT_LE(driver_.BreakClearsAfterArm(), exchanges);
        EXPECT_EQ(window_.StatusLine(), kAutoProgramDoneText);
        EXPECT_EQ(LastOutcome().kind, OutcomeKind::Success);
        EXPECT_EQ(SuccessCount, 1u);
        const auto chip = sim_.ChipContents();
        ASSERT_GT(chip.size(), kProgramEnd);
        EXPECT_TRUE(
            std::equal(chip.begin(), chip.begin() + kProgramEnd + 1, ProgramMemory.begin()));
    } else {
        EXPECT_EQ(LastOutcome().kind, OutcomeKind::LinkLost) << window_.StatusLine();
        EXPECT_EQ(FailureFlag, 1);
        EXPECT_EQ(SuccessCount, 0u);
        EXPECT_EQ(CountFailureFlag, 0) << "a lost link is no verdict on the chip";
    }
}

INSTANTIATE_TEST_SUITE_P(Drivers, DriverPersonalityTest, ::testing::ValuesIn(kPersonalities),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace koru
