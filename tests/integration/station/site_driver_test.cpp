// Site drivers against real koru-cli processes and simulators on pseudo-terminals: each site
// runs on its own, its counts follow the production record, and a site whose process crashes,
// hangs or is stopped mid-chip says so and can be started again.

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>

#include "device/simulator.h"
#include "station/site_driver.h"
#include "tests/support/child_processes.h"
#include "tests/support/hex_text.h"
#include "tests/support/wait.h"

namespace koru::station {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kChipTime = std::chrono::seconds(30);  // a generous bound for one chip

class SiteDriverTest : public ::testing::Test {
  protected:
    SiteDriverTest() {
        char pattern[] = "/tmp/koru-site-XXXXXX";
        folder_ = mkdtemp(pattern);
        std::vector<std::uint8_t> code(0x400);
        for (std::size_t i = 0; i < code.size(); ++i) {
            code[i] = static_cast<std::uint8_t>(i * 5 + 1);
        }
        std::ofstream(folder_ / "code.hex", std::ios::binary) << test::HexFileOf(code);
    }
    ~SiteDriverTest() override {
        drivers_.clear();  // their processes end before the simulators go
        fs::remove_all(folder_);
    }

    // A simulator; paced: at the line's real speed, so that a chip takes a while; stepDelay:
    // its work per 256 bytes of a checksum.
    device::Simulator& AddSimulator(bool paced, std::chrono::microseconds stepDelay = 1ms) {
        sims_.push_back(std::make_unique<device::Simulator>());
        device::DeviceTiming timing;
        timing.paceLine = paced;
        timing.stepDelay = stepDelay;
        EXPECT_TRUE(sims_.back()->Start(timing, paced));
        sims_.back()->SetChip(device::ChipKind::Mtp, 0x2000);
        return *sims_.back();
    }

    SiteDriver& AddSite(const device::Simulator& sim, std::chrono::milliseconds silenceLimit = 20s,
                        std::chrono::milliseconds stopGrace = 10s) {
        SiteSetup setup;
        setup.program = KORU_CLI_PATH;
        setup.args = {"--mtp",   "--verify",
                      "--log",   (folder_ / "records.jsonl").string(),
                      "program", (folder_ / "code.hex").string()};
        setup.environment = {"XDG_CONFIG_HOME=" + (folder_ / "config").string(),
                             "XDG_STATE_HOME=" + (folder_ / "state").string()};
        setup.silenceLimit = silenceLimit;
        setup.stopGrace = stopGrace;
        drivers_.push_back(std::make_unique<SiteDriver>(sim.SlavePath(), setup));
        return *drivers_.back();
    }

    // The records of port: passed and failed.
    std::pair<int, int> RecordCounts(const std::string& port) const {
        std::ifstream file(folder_ / "records.jsonl");
        std::pair<int, int> counts{0, 0};
        for (std::string line; std::getline(file, line);) {
            const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
            if (record.is_object() && record.value("port", "") == port) {
                (record.value("passed", false) ? counts.first : counts.second) += 1;
            }
        }
        return counts;
    }

    static bool WaitForState(const SiteDriver& site, SiteState state,
                             std::chrono::milliseconds timeout = kChipTime) {
        return test::WaitUntil([&] { return site.Snapshot().state == state; }, timeout);
    }

    fs::path folder_;
    std::vector<std::unique_ptr<device::Simulator>> sims_;
    std::vector<std::unique_ptr<SiteDriver>> drivers_;
};

// Each site starts on its own: starting one sends nothing to the other's programmer; a running
// site refuses a second start; its next chip goes through the same process; the counts follow
// the record, a failing verify included.
TEST_F(SiteDriverTest, SitesRunOnTheirOwnAndCountAsTheRecordsDo) {
    device::Simulator& first = AddSimulator(false);
    device::Simulator& second = AddSimulator(false);
    device::CommandScript wrongSum;
    wrongSum.sum = device::SumFault::Wrong;
    second.Script(device::kCodeChecksum, wrongSum);
    SiteDriver& a = AddSite(first);
    SiteDriver& b = AddSite(second);

    std::string error;
    ASSERT_TRUE(a.Start(error)) << error;
    EXPECT_FALSE(a.Start(error));
    EXPECT_NE(error.find("a chip is running"), std::string::npos) << error;
    ASSERT_TRUE(WaitForState(a, SiteState::Ready)) << a.Snapshot().text;
    EXPECT_EQ(a.Snapshot().result, SiteResult::Passed);
    EXPECT_TRUE(second.Exchanges().empty()) << "the idle site's programmer was spoken to";
    EXPECT_EQ(b.Snapshot().state, SiteState::Stopped);

    ASSERT_TRUE(b.Start(error)) << error;
    ASSERT_TRUE(a.Start(error)) << error;  // the same process, its next chip
    ASSERT_TRUE(WaitForState(a, SiteState::Ready));
    ASSERT_TRUE(WaitForState(b, SiteState::Ready));
    ASSERT_TRUE(b.Start(error)) << error;
    ASSERT_TRUE(WaitForState(b, SiteState::Ready));

    const SiteSnapshot sa = a.Snapshot();
    const SiteSnapshot sb = b.Snapshot();
    EXPECT_EQ(sa.passed, 2u);
    EXPECT_EQ(sa.failed, 0u);
    EXPECT_EQ(sb.passed, 0u);
    EXPECT_EQ(sb.failed, 2u);
    EXPECT_EQ(sb.result, SiteResult::ChipFailed);
    EXPECT_EQ(sb.failedStep, "verify");
    EXPECT_EQ(RecordCounts(first.SlavePath()), std::make_pair(2, 0));
    EXPECT_EQ(RecordCounts(second.SlavePath()), std::make_pair(0, 2));

    // Stopped between chips: it ends as asked.
    const StopReport stopped = a.Stop();
    EXPECT_TRUE(stopped.wasRunning);
    EXPECT_TRUE(stopped.cooperative);
    EXPECT_FALSE(stopped.midData);
    EXPECT_EQ(a.Snapshot().state, SiteState::Stopped);
    EXPECT_EQ(a.Snapshot().passed, 2u);
}

// A pulled programmer: the site says the link was lost (or that nothing answered, when the
// port had already gone by the probe) while the other site finishes its chip.
TEST_F(SiteDriverTest, APulledSiteSaysSoWhileTheOtherFinishes) {
    device::Simulator& pulled = AddSimulator(true);
    device::Simulator& other = AddSimulator(true);
    SiteDriver& a = AddSite(pulled);
    SiteDriver& b = AddSite(other);
    std::string error;
    ASSERT_TRUE(a.Start(error)) << error;
    ASSERT_TRUE(b.Start(error)) << error;
    ASSERT_TRUE(test::WaitUntil([&] { return a.Snapshot().step == "program"; }, kChipTime));
    pulled.HangUp();
    ASSERT_TRUE(WaitForState(a, SiteState::Ready));
    ASSERT_TRUE(WaitForState(b, SiteState::Ready));
    EXPECT_EQ(a.Snapshot().result, SiteResult::LinkLost) << a.Snapshot().text;
    EXPECT_EQ(a.Snapshot().failed, 1u);
    EXPECT_EQ(b.Snapshot().result, SiteResult::Passed) << b.Snapshot().text;
    EXPECT_EQ(RecordCounts(pulled.SlavePath()), std::make_pair(0, 1));
}

// The site's process, or the chip's process it started, killed in the middle of a chip; and a
// process that falls silent: the chip counts as failed, the site says why and starts again.
// They are ended during verify, whose exchange the programmer finishes on its own (one left in
// the middle of the program data waits for the rest and answers nothing else until then).
TEST_F(SiteDriverTest, AKilledOrHungProcessFailsItsChipAndTheSiteStartsAgain) {
    const struct {
        const char* name;
        bool grandchild;  // kill the chip's process, not the site's
        bool freeze;      // stop its whole group (SIGSTOP) instead: silence, not a death
        SiteResult result;
        SiteState after;
    } cases[] = {
        {"site process killed", false, false, SiteResult::ProcessEnded, SiteState::Stopped},
        {"chip process killed", true, false, SiteResult::ProcessEnded, SiteState::Ready},
        {"site process silent", false, true, SiteResult::ProcessHung, SiteState::Stopped},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        device::Simulator& sim = AddSimulator(true, 200ms);
        SiteDriver& site = AddSite(sim, 1500ms);
        std::string error;
        ASSERT_TRUE(site.Start(error)) << error;
        ASSERT_TRUE(test::WaitUntil([&] { return site.Snapshot().step == "verify"; }, kChipTime));
        const std::vector<pid_t> processes =
            test::ChildProcessesForPort(sim.SlavePath(), c.grandchild);
        ASSERT_EQ(processes.size(), c.grandchild ? 2u : 1u);
        if (c.freeze) {
            kill(-processes.back(), SIGSTOP);  // the site's process leads its group
        } else {
            kill(processes.back(), SIGKILL);
        }
        ASSERT_TRUE(WaitForState(site, c.after));
        SiteSnapshot snapshot = site.Snapshot();
        EXPECT_EQ(snapshot.result, c.result) << snapshot.text;
        EXPECT_EQ(snapshot.failed, 1u);
        EXPECT_EQ(snapshot.passed, 0u);
        if (!c.grandchild) {
            EXPECT_EQ(snapshot.failedStep, "verify");
        }

        // The programmer finishes the verify it was left in (four steps of 200 ms) before it
        // takes another command.
        std::this_thread::sleep_for(1500ms);
        std::uint64_t unanswered = 0;
        for (int attempt = 0; attempt < 3; ++attempt) {
            ASSERT_TRUE(site.Start(error)) << error;
            ASSERT_TRUE(WaitForState(site, SiteState::Ready));
            snapshot = site.Snapshot();
            if (snapshot.result != SiteResult::NoAnswer) {
                break;
            }
            ++unanswered;
        }
        EXPECT_EQ(snapshot.result, SiteResult::Passed) << snapshot.text;
        EXPECT_EQ(snapshot.passed, 1u);
        EXPECT_EQ(snapshot.failed, 1u + unanswered);
        // The killed chip left no record; every other chip did.
        EXPECT_EQ(RecordCounts(sim.SlavePath()), std::make_pair(1, static_cast<int>(unanswered)));
    }
}

// Stopped in the middle of a chip's data with too short a grace: it is ended, and the report
// says it was in the middle of programming.
TEST_F(SiteDriverTest, StoppedMidChipItSaysItEndedTheDataPhase) {
    device::Simulator& sim = AddSimulator(true);
    SiteDriver& site = AddSite(sim, 20s, 100ms);
    std::string error;
    ASSERT_TRUE(site.Start(error)) << error;
    ASSERT_TRUE(test::WaitUntil([&] { return site.Snapshot().step == "program"; }, kChipTime));
    const StopReport report = site.Stop();
    EXPECT_TRUE(report.wasRunning);
    EXPECT_FALSE(report.cooperative);
    EXPECT_TRUE(report.midData);
    EXPECT_EQ(report.step, "program");
    const SiteSnapshot snapshot = site.Snapshot();
    EXPECT_EQ(snapshot.state, SiteState::Stopped);
    EXPECT_EQ(snapshot.failed, 1u);
    EXPECT_NE(snapshot.text.find("ended by the station during program"), std::string::npos)
        << snapshot.text;
}

}  // namespace
}  // namespace koru::station
