// koru-cli --events jsonl as a script reads it: a gang against simulators on pseudo-terminals,
// its standard output parsed line by line and held against the production record.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "device/simulator.h"
#include "tests/support/hex_text.h"

namespace koru {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

class EventStreamTest : public ::testing::Test {
  protected:
    EventStreamTest() {
        char pattern[] = "/tmp/koru-events-XXXXXX";
        folder_ = mkdtemp(pattern);
        for (device::Simulator& sim : sims_) {
            EXPECT_TRUE(sim.Start());
            sim.SetChip(device::ChipKind::Mtp, 0x2000);
        }
        std::vector<std::uint8_t> code(0x200);
        for (std::size_t i = 0; i < code.size(); ++i) {
            code[i] = static_cast<std::uint8_t>(i * 7 + 3);
        }
        std::ofstream(folder_ / "code.hex", std::ios::binary) << test::HexFileOf(code);
        ports_ = sims_[0].SlavePath() + "," + sims_[1].SlavePath();
    }
    ~EventStreamTest() override { fs::remove_all(folder_); }

    // Runs koru-cli with args, input as its standard input; out.txt and err.txt take its
    // output. Its exit status, or -1 when it could not be run or overstayed a minute.
    int Run(std::vector<std::string> args, const fs::path& input) {
        std::vector<std::string> env{"XDG_CONFIG_HOME=" + (folder_ / "config").string(),
                                     "XDG_STATE_HOME=" + (folder_ / "state").string(),
                                     "HOME=" + folder_.string(), "PATH=/usr/bin:/bin"};
        args.insert(args.begin(), KORU_CLI_PATH);
        std::vector<char*> argv;
        for (auto& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& entry : env) {
            envp.push_back(entry.data());
        }
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, (folder_ / "out.txt").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, (folder_ / "err.txt").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t pid = -1;
        const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            return -1;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                ADD_FAILURE() << "koru-cli did not end";
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    fs::path folder_;
    std::array<device::Simulator, 2> sims_;
    std::string ports_;
};

// A gang of two over two rounds, the second port's chip failing its verify each time: every
// line of standard output is an event of version 1 and nothing else is there; each port's
// events come in the order of a run, round after round, each step with one result, and each
// run's outcome names the kind, step and exit status its record holds.
TEST_F(EventStreamTest, AGangsStreamMatchesItsRecordsPortByPort) {
    device::CommandScript wrongSum;
    wrongSum.sum = device::SumFault::Wrong;
    sims_[1].Script(device::kCodeChecksum, wrongSum);
    const fs::path input = folder_ / "enter.txt";
    std::ofstream(input) << "\n";  // one more round, then the end of the input ends the gang
    const fs::path log = folder_ / "gang.jsonl";
    const int status = Run({"--events", "jsonl", "--port", ports_, "--repeat", "--mtp", "--verify",
                            "--log", log.string(), "program", (folder_ / "code.hex").string()},
                           input);
    const std::string out = ReadAll(folder_ / "out.txt");
    const std::string err = ReadAll(folder_ / "err.txt");
    EXPECT_EQ(status, 1) << err;
    ASSERT_FALSE(out.empty()) << err;
    EXPECT_EQ(out.back(), '\n');

    std::map<std::string, std::vector<nlohmann::json>> byPort;
    for (const std::string& line : Lines(out)) {
        const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
        ASSERT_TRUE(event.is_object()) << "not an event: " << line;
        EXPECT_EQ(event.value("v", 0), 1) << line;
        ASSERT_TRUE(event.contains("type") && event["type"].is_string()) << line;
        ASSERT_TRUE(event.contains("t") && event["t"].is_number_integer()) << line;
        byPort[event.value("port", "")].push_back(event);
    }
    ASSERT_EQ(byPort.size(), 2u) << out;

    std::map<std::string, std::vector<nlohmann::json>> recordsByPort;
    for (const std::string& line : Lines(ReadAll(log))) {
        const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
        ASSERT_TRUE(record.is_object()) << line;
        recordsByPort[record.value("port", "")].push_back(record);
    }

    for (std::size_t p = 0; p < sims_.size(); ++p) {
        const std::string port = sims_[p].SlavePath();
        SCOPED_TRACE(port);
        const std::vector<nlohmann::json>& events = byPort[port];
        const std::vector<nlohmann::json>& records = recordsByPort[port];
        ASSERT_EQ(records.size(), 2u);
        // The stream of a run: step probe, its result, connected, steps each with its result,
        // the record, the outcome; "waiting" between the rounds.
        std::vector<std::string> types;
        std::int64_t lastTime = 0;
        std::string openStep;
        std::size_t round = 0;
        for (const nlohmann::json& event : events) {
            const std::string type = event["type"];
            const std::int64_t time = event["t"];
            EXPECT_GE(time, lastTime) << event.dump();
            lastTime = time;
            types.push_back(type);
            if (type == "step") {
                EXPECT_TRUE(openStep.empty()) << "a step began before " << openStep << " ended";
                openStep = event["name"];
            } else if (type == "progress") {
                EXPECT_EQ(event["step"], openStep);
                EXPECT_LE(event["done"].get<std::uint64_t>(), event["total"].get<std::uint64_t>());
                EXPECT_EQ(event["total"], 0x200);
            } else if (type == "step-result") {
                EXPECT_EQ(event["name"], openStep) << event.dump();
                const bool failing = p == 1 && openStep == "verify";
                EXPECT_EQ(event["ok"], !failing) << event.dump();
                openStep.clear();
            } else if (type == "connected") {
                EXPECT_EQ(event["programmer"], "KORU V2.0B");
            } else if (type == "record") {
                ASSERT_LT(round, records.size());
                EXPECT_EQ(event["id"], records[round]["id"]);
            } else if (type == "outcome") {
                ASSERT_LT(round, records.size());
                const nlohmann::json& record = records[round];
                EXPECT_EQ(event["kind"], record["outcome"]["kind"]);
                EXPECT_EQ(event["step"], record["outcome"]["step"]);
                EXPECT_EQ(event["exit"], record["passed"] == true ? 0 : 1);
                EXPECT_TRUE(openStep.empty());
                ++round;
            } else {
                EXPECT_EQ(type, "waiting");
                ASSERT_GE(types.size(), 2u);
                EXPECT_EQ(types[types.size() - 2], "outcome") << "waiting only after a chip";
            }
        }
        EXPECT_EQ(round, 2u);
        ASSERT_GE(types.size(), 4u);
        EXPECT_EQ(types[0], "step");
        EXPECT_EQ(events[0]["name"], "probe");
        EXPECT_EQ(types[1], "step-result");
        EXPECT_EQ(types[2], "connected");
        // Under --repeat each chip's outcome is followed by waiting for the next one.
        EXPECT_EQ(types.back(), "waiting");
        EXPECT_EQ(std::count(types.begin(), types.end(), "waiting"), 2);
        EXPECT_EQ(events[events.size() - 2]["kind"], p == 0 ? "success" : "chip-failed");
        EXPECT_EQ(events[events.size() - 2]["step"],
                  p == 0 ? nlohmann::json() : nlohmann::json("verify"));
        // Per round: the record just before the outcome.
        for (std::size_t i = 1; i < types.size(); ++i) {
            if (types[i] == "outcome") {
                EXPECT_EQ(types[i - 1], "record");
            }
        }
    }
    // The human texts went to standard error: the round table is there.
    EXPECT_NE(err.find("chip failed"), std::string::npos) << err;
}

}  // namespace
}  // namespace koru
