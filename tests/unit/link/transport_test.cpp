#include "link/transport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <numeric>
#include <thread>
#include <vector>

#include "core/shared_state.h"
#include "image/program_memory.h"
#include "link/connection.h"
#include "link/reset_listener.h"
#include "tests/support/process_state.h"
#include "tests/support/scripted_serial_port.h"
#include "tests/support/wait.h"

namespace koru {
namespace {

using test::ScriptedSerialPort;

class TransportTest : public test::ProcessStateTest {
  protected:
    TransportTest() { InstallPort(&port_); }
    ~TransportTest() override { InstallPort(nullptr); }

    static std::vector<std::uint8_t> Pattern(std::size_t count) {
        std::vector<std::uint8_t> bytes(count);
        std::iota(bytes.begin(), bytes.end(), std::uint8_t{1});
        return bytes;
    }

    ScriptedSerialPort port_;
};

TEST_F(TransportTest, ReceiveBytesReadsInChunksOf256EachAfterItsOwnErrorClear) {
    port_.readPieces.push_back(Pattern(600));
    std::vector<std::uint8_t> buffer(600);
    std::uint32_t received = 0;
    ReceiveBytes(buffer.data(), 600, received);

    EXPECT_EQ(received, 600u);
    EXPECT_EQ(FailureFlag, 0);
    EXPECT_EQ(port_.readRequests, (std::vector<std::size_t>{256, 256, 88}));
    EXPECT_EQ(port_.clearErrorCalls, 3);
    EXPECT_EQ(port_.clearBreakCalls, 0) << "the break is cleared once per exchange, not per read";
    EXPECT_EQ(buffer, Pattern(600));
    // The normal profile: all five fields 9 ms.
    ASSERT_EQ(port_.timeouts.size(), 1u);
    const PortTimeouts& t = port_.timeouts[0];
    EXPECT_EQ(t.readInterval, 9u);
    EXPECT_EQ(t.readConstant, 9u);
    EXPECT_EQ(t.readMultiplier, 9u);
    EXPECT_EQ(t.writeConstant, 9u);
    EXPECT_EQ(t.writeMultiplier, 9u);
}

TEST_F(TransportTest, ReceiveBytesFromAPeerThatStopsKeepsWhatCameAndFails) {
    port_.readPieces.push_back(Pattern(300));
    std::vector<std::uint8_t> buffer(600);
    std::uint32_t received = 0;
    ReceiveBytes(buffer.data(), 600, received);

    EXPECT_EQ(received, 300u);
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_EQ(port_.readRequests, (std::vector<std::size_t>{256, 256, 256}));
}

TEST_F(TransportTest, PartialChunksAreContinuedWhereTheyEnded) {
    port_.readPieces.push_back(Pattern(100));
    port_.readPieces.push_back(Pattern(200));
    std::vector<std::uint8_t> buffer(300);
    std::uint32_t received = 0;
    ReceiveBytes(buffer.data(), 300, received);

    EXPECT_EQ(received, 300u);
    EXPECT_EQ(FailureFlag, 0);
    EXPECT_EQ(port_.readRequests, (std::vector<std::size_t>{256, 200}));
    EXPECT_EQ(buffer[99], 100);
    EXPECT_EQ(buffer[100], 1);
}

TEST_F(TransportTest, SendBytesWritesInChunksOf255) {
    const auto bytes = Pattern(600);
    std::uint32_t sent = 0;
    SendBytes(bytes.data(), 600, sent);

    EXPECT_EQ(sent, 600u);
    EXPECT_EQ(FailureFlag, 0);
    EXPECT_EQ(port_.writeRequests, (std::vector<std::size_t>{255, 255, 90}));
    EXPECT_EQ(port_.written, bytes);
    EXPECT_EQ(port_.clearErrorCalls, 3);
}

TEST_F(TransportTest, SendBytesGoesOnAfterAPartialWriteAndStopsWhenNothingMoves) {
    const auto bytes = Pattern(300);
    port_.writeLimit = 100;
    std::uint32_t sent = 0;
    SendBytes(bytes.data(), 300, sent);
    EXPECT_EQ(sent, 300u);
    EXPECT_EQ(FailureFlag, 0);
    EXPECT_EQ(port_.writeRequests, (std::vector<std::size_t>{255, 200, 100}));

    port_.writeLimit = 0;
    port_.writeRequests.clear();
    SendBytes(bytes.data(), 300, sent);
    EXPECT_EQ(sent, 0u);
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_EQ(port_.writeRequests.size(), 1u);
}

TEST_F(TransportTest, ZeroBytesTouchNeitherThePortNorTheFlag) {
    std::uint8_t buffer[4] = {};
    std::uint32_t count = 77;
    ReceiveBytes(buffer, 0, count);
    EXPECT_EQ(count, 0u);
    count = 77;
    SendBytes(buffer, 0, count);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(FailureFlag, 0);
    EXPECT_TRUE(port_.readRequests.empty());
    EXPECT_TRUE(port_.writeRequests.empty());

    FailureFlag = 1;  // and a flag that is set stays set
    ReceiveBytes(buffer, 0, count);
    EXPECT_EQ(FailureFlag, 1);
}

TEST_F(TransportTest, ReadReplyZeroesTheBufferAndReadsTheRestInOneRead) {
    port_.readPieces.push_back({});  // the first attempt meets silence
    port_.AddPiece("OK");
    std::uint8_t buffer[16];
    std::fill(std::begin(buffer), std::end(buffer), 0xAA);
    ReadReply(buffer, sizeof buffer, 2, 50);

    EXPECT_EQ(FailureFlag, 0);
    EXPECT_EQ(port_.readRequests, (std::vector<std::size_t>{1, 1, 1}));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer)), "OK");
    for (std::size_t i = 2; i < sizeof buffer; ++i) {
        EXPECT_EQ(buffer[i], 0) << i;
    }
}

TEST_F(TransportTest, ReadReplyWithAShortReplyLeavesZerosAndNoFailure) {
    port_.AddPiece("O");
    std::uint8_t buffer[8];
    ReadReply(buffer, sizeof buffer, 2, 5);
    EXPECT_EQ(buffer[0], 'O');
    EXPECT_EQ(buffer[1], 0);
    EXPECT_EQ(FailureFlag, 0);
}

TEST_F(TransportTest, ReadReplyFailsWhenNoAttemptBringsAByte) {
    std::uint8_t buffer[8];
    ReadReply(buffer, sizeof buffer, 2, 3);
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_EQ(port_.readRequests.size(), 3u);

    FailureFlag = 0;
    port_.readRequests.clear();
    port_.AddPiece("OK");
    ReadReply(buffer, sizeof buffer, 2, 0);  // no attempts: fails without reading
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_TRUE(port_.readRequests.empty());
}

TEST_F(TransportTest, ReadReplyNeverWritesPastTheBuffer) {
    port_.AddPiece("ZEPHRESET");
    std::uint8_t storage[6] = {0, 0, 0, 0, 0xEE, 0xEE};
    ReadReply(storage, 4, 9, 5);  // a 9-byte reply into 4 bytes
    EXPECT_EQ(FailureFlag, 0);
    EXPECT_EQ(port_.readRequests, (std::vector<std::size_t>{1, 3}));
    EXPECT_EQ(std::string(storage, storage + 4), "ZEPH");
    EXPECT_EQ(storage[4], 0xEE);

    ReadReply(storage, 0, 2, 5);  // no room even for the first byte
    EXPECT_EQ(FailureFlag, 1);
}

TEST_F(TransportTest, ReadWordReplyIsMostSignificantByteFirst) {
    port_.readPieces.push_back({0x12, 0x34});
    EXPECT_EQ(ReadWordReply(), 0x1234);
    EXPECT_EQ(FailureFlag, 0);
    EXPECT_EQ(port_.readRequests.front(), 1u);
}

TEST_F(TransportTest, ReadWordReplyIsZeroWhenTheFlagWasAlreadySetOrNothingCame) {
    FailureFlag = 1;
    port_.readPieces.push_back({0x12, 0x34});
    EXPECT_EQ(ReadWordReply(), 0);
    EXPECT_EQ(FailureFlag, 1);

    FailureFlag = 0;
    port_.readPieces.clear();
    port_.readRequests.clear();
    EXPECT_EQ(ReadWordReply(), 0);
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_EQ(port_.readRequests.size(), 30u);  // thirty attempts for the first byte

    // A sum that loses its low byte is no sum: its missing byte must not read as zero.
    FailureFlag = 0;
    port_.readPieces.push_back({0x12});
    EXPECT_EQ(ReadWordReply(), 0);
    EXPECT_EQ(FailureFlag, 1);
}

TEST_F(TransportTest, ProfilesSetAllFiveFields) {
    ApplyListenTimeouts();
    SetPortTimeouts(1, 2, 3, 4, 5);
    ASSERT_EQ(port_.timeouts.size(), 2u);
    EXPECT_EQ(port_.timeouts[0].readInterval, 5u);
    EXPECT_EQ(port_.timeouts[0].writeMultiplier, 5u);
    const PortTimeouts& t = port_.timeouts[1];
    EXPECT_EQ(t.readInterval, 1u);
    EXPECT_EQ(t.readConstant, 2u);
    EXPECT_EQ(t.readMultiplier, 3u);
    EXPECT_EQ(t.writeConstant, 4u);
    EXPECT_EQ(t.writeMultiplier, 5u);
}

TEST_F(TransportTest, ConfigurePortClearsPurgesAndSetsTheLine) {
    ConfigurePort();
    EXPECT_EQ(port_.clearErrorCalls, 1);
    EXPECT_EQ(port_.clearBreakCalls, 1);
    EXPECT_EQ(port_.purgeCalls, 1);
    EXPECT_EQ(port_.configureCalls, 1);
    EXPECT_EQ(FailureFlag, 0);
}

TEST_F(TransportTest, AGonePortEndsEachRoutineInBoundedTimeWithTheFlagSet) {
    port_.alive = false;
    port_.AddPiece("OK");
    const auto timed = [](auto&& step) {
        FailureFlag = 0;
        const auto begin = std::chrono::steady_clock::now();
        step();
        return std::chrono::steady_clock::now() - begin;
    };
    using std::chrono::milliseconds;
    std::uint8_t buffer[32];
    std::uint32_t count = 0;

    EXPECT_LT(timed([] { ClearLineErrors(); }), milliseconds(1000));
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_LT(timed([] { ConfigurePort(); }), milliseconds(1000));
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_EQ(port_.configureCalls, 0);
    // A hundred attempts would take ten seconds at 100 ms each: the first failed clear ends it.
    EXPECT_LT(timed([&] { ReadReply(buffer, sizeof buffer, 2, 100); }), milliseconds(1000));
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_LT(timed([&] { ReceiveBytes(buffer, sizeof buffer, count); }), milliseconds(1000));
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_EQ(count, 0u);
    EXPECT_LT(timed([&] { SendBytes(buffer, sizeof buffer, count); }), milliseconds(1000));
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(port_.readRequests.empty());
}

TEST_F(TransportTest, ASilentListenNeverChangesTheFailureFlagEvenForAMoment) {
    for (int before : {0, 1}) {
        port_.failureFlagAtRead.clear();
        FailureFlag = before;
        ResetListener();
        EXPECT_EQ(FailureFlag, before);
        ASSERT_FALSE(port_.failureFlagAtRead.empty());
        EXPECT_TRUE(std::all_of(port_.failureFlagAtRead.begin(), port_.failureFlagAtRead.end(),
                                [before](int seen) { return seen == before; }))
            << "a red text would be drawn blue while the listener reads";
    }
}

TEST_F(TransportTest, ARestartHeardAsTheListenerIsEndedIsStillShownOnce) {
    port_.AddPiece("ZEPHRESET");
    std::atomic<bool> purging{false};
    std::atomic<bool> release{false};
    // The listener has heard the restart and blanked the image, and is purging when it is ended.
    port_.onPurge = [&] {
        purging = true;
        while (!release) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    CodeLoadedFlag = 1;
    OnListenTick();
    ASSERT_TRUE(test::WaitUntil([&] { return purging.load(); }));
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        release = true;
    });
    EndResetListener();
    releaser.join();
    ASSERT_TRUE(test::WaitUntil([] { return LiveListenerThreads() == 0; }));

    EXPECT_EQ(CodeLoadedFlag, 0);
    const auto history = window_.StatusHistory();
    EXPECT_EQ(std::count(history.begin(), history.end(), kProgrammerResetText), 1);
}

// Sets its queues up, then fails every clear: a port found gone by the line set-up.
class PortGoneAtSetUp : public test::ScriptedSerialPort {
  public:
    std::vector<std::chrono::steady_clock::time_point> clearTimes;
    bool SetupQueues(std::size_t, std::size_t) override { return true; }
    bool ClearErrors() override {
        clearTimes.push_back(std::chrono::steady_clock::now());
        return false;
    }
};

TEST_F(TransportTest, AnExchangeWhoseSetUpFindsThePortGoneEndsWithoutASecondWait) {
    PortGoneAtSetUp gone;
    InstallPort(&gone);
    EXPECT_FALSE(ConnectAndSend());
    InstallPort(&port_);

    EXPECT_EQ(FailureFlag, 1);
    EXPECT_EQ(window_.StatusLine(), kConnectFailedText);
    EXPECT_TRUE(gone.writeRequests.empty());
    ASSERT_FALSE(gone.clearTimes.empty());
    // One bounded retry of 100 ms; the send used to add a second one (at least 200 ms in all).
    EXPECT_LT(gone.clearTimes.back() - gone.clearTimes.front(), std::chrono::milliseconds(190));
}

TEST(DelayMsTest, WaitsAtLeastTheTime) {
    const auto begin = std::chrono::steady_clock::now();
    DelayMs(20);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(20));
}

}  // namespace
}  // namespace koru
