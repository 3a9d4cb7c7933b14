// koru-cli run as a process against the simulator on a pseudo-terminal: exit statuses, what
// it prints, and a program-then-read round trip.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "device/simulator.h"
#include "image/numbers.h"
#include "operations/job_file.h"
#include "support/postgres_server.h"
#include "tests/support/fake_device_tree.h"
#include "tests/support/hex_text.h"
#include "tests/support/wait.h"

extern char** environ;

namespace koru {
namespace {

namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadAll(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

class CliTest : public ::testing::Test {
  protected:
    CliTest() {
        char pattern[] = "/tmp/koru-cli-XXXXXX";
        folder_ = mkdtemp(pattern);
        EXPECT_TRUE(sim_.Start());
        sim_.SetChip(device::ChipKind::Mtp, 0x2000);
    }
    ~CliTest() override { fs::remove_all(folder_); }

    // Starts koru-cli with args; COM1 is the simulator and the saved settings live in a fresh
    // folder, so nothing of the user's leaks in. Its standard input comes from input (a file),
    // its output goes to out.txt and err.txt; ownGroup puts it into a process group of its own.
    // errPath and outPath, when given, take standard error and output in place of the files.
    // ownSession starts it in a session of its own, whose controlling terminal is its input
    // when that is a terminal.
    pid_t Spawn(std::vector<std::string> args, const std::string& input = "/dev/null",
                bool ownGroup = false, const std::string& errPath = "",
                const std::string& outPath = "", bool ownSession = false) {
        std::vector<std::string> env{"KORU_COM1=" + sim_.SlavePath(),
                                     "KORU_COM2=/dev/koru-no-such-port",
                                     "XDG_CONFIG_HOME=" + (folder_ / "config").string(),
                                     "HOME=" + folder_.string(), "PATH=/usr/bin:/bin"};
        env.insert(env.end(), extraEnv_.begin(), extraEnv_.end());
        args.insert(args.begin(), KORU_CLI_PATH);
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& entry : env)
            envp.push_back(entry.data());
        envp.push_back(nullptr);

        const fs::path out = outPath.empty() ? folder_ / "out.txt" : fs::path(outPath);
        const fs::path err = errPath.empty() ? folder_ / "err.txt" : fs::path(errPath);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        if (ownGroup) {
            posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
            posix_spawnattr_setpgroup(&attributes, 0);
        } else if (ownSession) {
            posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
        }
        pid_t pid = -1;
        if (posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data()) != 0) {
            pid = -1;
        }
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }

    Result Wait(pid_t pid) {
        Result result;
        int status = 0;
        if (pid > 0 && waitpid(pid, &status, 0) == pid) {
            result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        result.out = ReadAll(folder_ / "out.txt");
        result.err = ReadAll(folder_ / "err.txt");
        return result;
    }

    // Runs koru-cli with its standard error (and with outToo its output) on a pseudo-terminal;
    // err holds what the terminal received. Gives up (and fails) after a minute.
    Result RunOnTerminal(std::vector<std::string> args, bool outToo = false) {
        Result result;
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
            ADD_FAILURE() << "no pseudo-terminal";
            return result;
        }
        const std::string terminal = ptsname(master);
        const pid_t pid =
            Spawn(std::move(args), "/dev/null", false, terminal, outToo ? terminal : "");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        int status = 0;
        bool ended = false;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd readable{master, POLLIN, 0};
            if (poll(&readable, 1, 50) > 0 && (readable.revents & POLLIN) != 0) {
                char chunk[4096];
                const ssize_t got = read(master, chunk, sizeof chunk);
                if (got > 0) {
                    result.err.append(chunk, static_cast<std::size_t>(got));
                    continue;
                }
            }
            if (ended) {
                break;  // everything it wrote has been read
            }
            ended = pid > 0 && waitpid(pid, &status, WNOHANG) == pid;
        }
        close(master);
        if (!ended) {
            ADD_FAILURE() << "koru-cli did not end";
            if (pid > 0) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
            }
        }
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.out = ReadAll(folder_ / "out.txt");
        return result;
    }

  public:
    fs::path WriteCodeFile(const std::vector<std::uint8_t>& data) {
        const fs::path path = folder_ / "code.hex";
        std::ofstream(path, std::ios::binary) << test::HexFileOf(data);
        return path;
    }

    Result Run(std::vector<std::string> args) { return Wait(Spawn(std::move(args))); }
    const fs::path& Folder() const { return folder_; }
    device::Simulator& Sim() { return sim_; }

  protected:
    fs::path folder_;
    device::Simulator sim_;
    std::vector<std::string> extraEnv_;  // added to the environment of every run
};

std::vector<std::uint8_t> SampleCode(std::size_t size) {
    std::vector<std::uint8_t> code(size);
    for (std::size_t i = 0; i < size; ++i) {
        code[i] = static_cast<std::uint8_t>(i * 13 + 1);
    }
    return code;
}

// Bad usage: the reason as the last thing said, then where the help is; never the whole help.
TEST_F(CliTest, BadUsageSaysItsReasonLastAndExits3) {
    const struct {
        std::vector<std::string> args;
        std::string reason;
    } cases[] = {
        {{}, "no command given"},
        {{"frobnicate"}, "unknown command frobnicate"},
        {{"program"}, "program needs a file"},
        {{"protect", "all"}, "protect takes read, ldc or hw"},
        {{"--range", "12"}, "--range takes START-END in hexadecimal, for example 0000-1FFF"},
        {{"--nope"}, "unknown option --nope"},
        {{"probe", "--frob", "--yes"}, "unknown option --frob"},
        {{"--html", "page.html", "probe"}, "--html works only with report"},
        {{"probe", "--log"}, "--log needs a file"},
        {{"--port=COM1,COM2", "probe"}, "several ports and --repeat work only with program"},
        {{"probe", "extra"}, "unexpected extra"},
    };
    for (const auto& entry : cases) {
        const Result result = Run(entry.args);
        EXPECT_EQ(result.status, 3) << entry.reason;
        EXPECT_EQ(result.err, "koru-cli: " + entry.reason +
                                  "\nRun 'koru-cli --help' for the commands and options.\n");
        EXPECT_EQ(result.out, "");
    }
    for (const char* help : {"--help", "-h"}) {
        const Result result = Run({"probe", help});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out.rfind("usage: koru-cli [options] COMMAND [FILE]\n", 0), 0u) << help;
        EXPECT_NE(result.out.find("exit status"), std::string::npos);
    }
}

TEST_F(CliTest, ProbeFindsTheProgrammerOrExits2) {
    Result found = Run({"--port", "COM1", "probe"});
    EXPECT_EQ(found.status, 0) << found.err;
    EXPECT_EQ(found.out, "OK, 已检测到 KORU V2.0B 连接在端口 COM1\n");

    Result missing = Run({"--port", "COM2", "probe"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.out, "编程器连接错误,编程器可能正忙,请稍候再试!\n");
    EXPECT_NE(missing.err.find("/dev/koru-no-such-port: no such device"), std::string::npos)
        << missing.err;
    Result notTerminal = Run({"--port", "/dev/null", "probe"});
    EXPECT_EQ(notTerminal.status, 2);
    EXPECT_NE(notTerminal.err.find("/dev/null: not a serial terminal"), std::string::npos);

    Result none = Run({"probe"});  // no port given, none saved
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.err.find("--port"), std::string::npos);

    device::CommandScript silent;
    silent.silentFrom = device::Silence::InsteadOfAnswer;
    sim_.ScriptAll(silent);
    Result quiet = Run({"--port", "COM1", "blank-check"});
    EXPECT_EQ(quiet.status, 2);
}

TEST_F(CliTest, BlankCheckSucceedsOnABlankChipAndFailsWhereItStops) {
    Result blank = Run({"--port", "COM1", "--range", "0000-01FF", "blank-check"});
    EXPECT_EQ(blank.status, 0) << blank.err;
    EXPECT_EQ(blank.out, "芯片是空的, 在地址空间: 00000~~001FF\n");
    // Every status went to standard error, one line per change when it is not a terminal.
    EXPECT_NE(blank.err.find("请稍候,芯片空检查......\n"), std::string::npos);

    sim_.WriteChip(0x123, {0x00});
    Result used = Run({"--port", "COM1", "--range", "0000-01FF", "blank-check"});
    EXPECT_EQ(used.status, 1);
    EXPECT_EQ(used.out, "芯片不空, 在地址: 00123\n");
}

TEST_F(CliTest, ProgramThenReadGivesBackTheBytes) {
    const auto code = SampleCode(0x300);
    const fs::path file = WriteCodeFile(code);
    Result program = Run({"--port", "COM1", "--mtp", "--erase", "--verify", "program", file});
    EXPECT_EQ(program.status, 0) << program.err;
    EXPECT_EQ(program.out, "自动编程已成功完成\n");
    // Not a terminal: no progress line and nothing that rewrites one.
    EXPECT_EQ(program.err.find_first_of("\r\x1b"), std::string::npos) << program.err;
    EXPECT_EQ(program.err.find("program  "), std::string::npos) << program.err;
    const auto chip = sim_.ChipContents();
    EXPECT_TRUE(std::equal(code.begin(), code.end(), chip.begin()));

    const fs::path readBack = folder_ / "back.hex";
    Result noYes = Run({"--port", "COM1", "--range", "0000-02FF", "read", readBack});
    EXPECT_EQ(noYes.status, 3);
    EXPECT_NE(noYes.err.find("--yes"), std::string::npos);
    EXPECT_FALSE(fs::exists(readBack));

    Result read = Run({"--port", "COM1", "--range", "0000-02FF", "--yes", "read", readBack});
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(ReadAll(readBack), test::HexFileOf(code));
}

// On a terminal a long step shows one line of figures, redrawn in place at most ten times a
// second and replaced by the step's result; --quiet shows the results alone, there and in a file.
TEST_F(CliTest, ALongStepShowsItsProgressOnATerminalOnly) {
    device::DeviceTiming slow;
    slow.paceLine = true;
    slow.stepDelay = std::chrono::milliseconds(60);  // 8 blank-check reports over half a second
    sim_.SetTiming(slow);
    const fs::path file = WriteCodeFile(SampleCode(0x400));
    const struct {
        std::vector<std::string> args;
        const char* progress;  // how the step's line starts
        const char* result;
    } cases[] = {
        {{"--range", "0000-07FF", "blank-check"},
         "blank check  0/2048 B    0%",
         "芯片是空的, 在地址空间: 00000~~007FF"},
        {{"--mtp", "--erase", "program", file.string()}, "program  0/1024 B    0%", "编程成功"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.result);
        std::vector<std::string> args{"--port", "COM1"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result shown = RunOnTerminal(args);
        EXPECT_EQ(shown.status, 0) << shown.err;
        const std::string& err = shown.err;
        const std::string step = std::string("\r") + std::string(c.progress).substr(0, 9);
        const std::size_t first = err.find(std::string("\r") + c.progress);
        const std::size_t last = err.rfind(step);
        ASSERT_NE(first, std::string::npos) << err;
        ASSERT_NE(last, first) << "never redrawn: " << err;
        // Redrawn in place: no line ends between the first and the last drawing.
        EXPECT_EQ(err.substr(first, last - first).find('\n'), std::string::npos) << err;
        EXPECT_NE(err.find(" B/s  ", first), std::string::npos) << err;
        // The next thing drawn over it is the step's result, which stays on its line.
        const std::size_t next = err.find('\r', last + 1);
        const std::string replaced = std::string("\r") + c.result + "\x1b[K";
        EXPECT_EQ(err.compare(next, replaced.size(), replaced), 0) << err.substr(last);

        args.insert(args.begin(), "--quiet");
        const Result quiet = RunOnTerminal(args);
        EXPECT_EQ(quiet.status, 0) << quiet.err;
        EXPECT_EQ(quiet.err.find(step), std::string::npos) << quiet.err;
        EXPECT_EQ(quiet.err.find("请稍候"), std::string::npos) << quiet.err;
        EXPECT_NE(quiet.err.find(c.result), std::string::npos) << quiet.err;
        const Result quietFile = Run(args);
        EXPECT_EQ(quietFile.err.find("请稍候"), std::string::npos) << quietFile.err;
        EXPECT_NE(quietFile.err.find(std::string(c.result) + "\n"), std::string::npos)
            << quietFile.err;
    }

    // A gang's live lines carry each port's figures.
    device::Simulator other;
    ASSERT_TRUE(other.Start(slow));
    other.SetChip(device::ChipKind::Mtp, 0x2000);
    const Result gang = RunOnTerminal(
        {"--port", sim_.SlavePath() + "," + other.SlavePath(), "--mtp", "--erase", "program", file},
        true);
    EXPECT_EQ(gang.status, 0) << gang.err;
    for (const device::Simulator* sim : {&sim_, &other}) {
        EXPECT_NE(gang.err.find("\x1b[K" + sim->SlavePath() + "  program  "), std::string::npos)
            << gang.err;
    }
}

TEST_F(CliTest, VerifyReportsADifference) {
    const auto code = SampleCode(0x100);
    const fs::path file = WriteCodeFile(code);
    // Explicit steps: the defaults of a first run would read-protect the chip.
    ASSERT_EQ(Run({"--port", "COM1", "--verify", "program", file}).status, 0);
    EXPECT_EQ(Run({"--port", "COM1", "verify", file}).status, 0);

    auto changed = code;
    changed[0x42] ^= 0x01;
    const fs::path other = WriteCodeFile(changed);
    Result differs = Run({"--port", "COM1", "verify", other});
    EXPECT_EQ(differs.status, 1);
    EXPECT_EQ(differs.out, "校验芯片失败! 在地址: 00042\n");
}

TEST_F(CliTest, ImageChecksumNeedsNoProgrammerButAReadableFile) {
    const fs::path file = WriteCodeFile(std::vector<std::uint8_t>(0x2000, 0xFF));
    Result sum = Run({"image-checksum", file});
    EXPECT_EQ(sum.status, 0) << sum.err;
    EXPECT_EQ(sum.out, "编程内存检查和 = E000\n");

    Result missing = Run({"image-checksum", (folder_ / "none.hex").string()});
    EXPECT_EQ(missing.status, 3);
}

TEST_F(CliTest, ChecksumAndProtectionsReportTheProgrammersAnswer) {
    Result sum = Run({"--port", "COM1", "--range", "0000-00FF", "checksum"});
    EXPECT_EQ(sum.status, 0) << sum.err;
    EXPECT_EQ(sum.out, "芯片检查和 =  FF00\n");

    EXPECT_EQ(Run({"--port", "COM1", "protect", "read"}).status, 0);
    EXPECT_TRUE(sim_.Chip().protection.read);

    device::CommandScript no;
    no.firstStatus = "NO";
    sim_.Script(device::kCodeErase, no);
    Result refused = Run({"--port", "COM1", "--mtp", "erase"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "擦除芯片失败!\n");
}

// What can be refused without the programmer is refused before a byte goes to it, with exit 3.
TEST_F(CliTest, RefusalsComeBeforeAnyTraffic) {
    const fs::path wide = folder_ / "wide.hex";
    {
        std::ofstream file(wide, std::ios::binary);
        file << ":020000021000EC\r\n" << test::HexFileOf(SampleCode(0x60D0));  // to 0x160CF
    }
    const fs::path code = WriteCodeFile(SampleCode(0x100));
    const fs::path cut = folder_ / "cut.hex";
    {
        const std::string whole = test::HexFileOf(SampleCode(0x40));
        std::ofstream(cut, std::ios::binary) << whole.substr(0, whole.size() - 9);
    }
    struct Case {
        std::vector<std::string> args;
        std::string said;  // part of what standard error must say
    };
    const Case cases[] = {
        {{"--otp", "erase"}, "MTP chips only"},
        {{"--otp", "protect", "ldc"}, "MTP chips only"},
        {{"--otp", "protect", "hw"}, "MTP chips only"},
        {{"--range", "1-0", "checksum"}, "reversed"},
        {{"--range", "0200-01FF", "blank-check"}, "reversed"},
        {{"--mtp", "--verify", "program", wide.string()}, "编程地址已改变"},
        {{"verify", wide.string()}, "--range"},
        {{"--mtp", "--verify", "program", cut.string()}, "代码文件错误[记录不完整]"},
        {{"--yes", "read", (folder_ / "missing" / "out.hex").string()},
         (folder_ / "missing" / "out.hex").string() + ": No such file or directory"},
        {{"--yes", "read", folder_.string()}, "Is a directory"},
        {{"--port", "COM2", "--yes", "read", (folder_ / "unused.hex").string()}, "no such device"},
        {{"read", (folder_ / "unconfirmed.hex").string()}, "--yes"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"--port", "COM1"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(c.args.back());
        const Result result = Run(args);
        EXPECT_EQ(result.status, c.said == "no such device" ? 2 : 3) << result.err;
        EXPECT_NE(result.err.find(c.said), std::string::npos) << result.err;
        EXPECT_TRUE(sim_.Exchanges().empty());
    }
    EXPECT_FALSE(fs::exists(folder_ / "unused.hex"));  // made for the check, then dropped
    EXPECT_FALSE(fs::exists(folder_ / "unconfirmed.hex"));
    // Named with --range, the same file is programmed over that range.
    Result named =
        Run({"--port", "COM1", "--mtp", "--range", "0000-0FFF", "--verify", "program", code});
    EXPECT_EQ(named.status, 0) << named.err;
}

// The programmer vanishes (its adapter is pulled, the pseudo-terminal closes) at each point of
// each kind of exchange: always exit 2 with the lost-link text, never a verdict on the chip,
// and the next run on a port that is back succeeds.
TEST_F(CliTest, AVanishedProgrammerIsALostLinkWherever) {
    const fs::path code = WriteCodeFile(SampleCode(0x200));
    const std::string readOut = (folder_ / "read.hex").string();
    struct Case {
        std::vector<std::string> args;
        std::uint8_t code;
        device::Silence from;
        std::optional<std::uint32_t> afterReport;
    };
    using device::Silence;
    const std::vector<std::string> blank{"--range", "0000-03FF", "blank-check"};
    const std::vector<std::string> sum{"--range", "0000-03FF", "checksum"};
    const std::vector<std::string> program{"--mtp", "--verify", "program", code.string()};
    const std::vector<std::string> verify{"verify", code.string()};
    const std::vector<std::string> read{"--range", "0000-01FF", "--yes", "read", readOut};
    const std::vector<std::string> protect{"--mtp", "protect", "read"};
    const std::vector<std::string> probe{"probe"};
    const Case cases[] = {
        {probe, device::kCodeProbe, Silence::InsteadOfAnswer, {}},
        {blank, device::kCodeBlankCheck, Silence::InsteadOfAnswer, {}},
        {blank, device::kCodeBlankCheck, Silence::AfterAnswer, {}},
        {blank, device::kCodeBlankCheck, Silence::AfterStatus, {}},
        {blank, device::kCodeBlankCheck, Silence::Never, 0x100},
        {sum, device::kCodeChecksum, Silence::AfterAnswer, {}},
        {sum, device::kCodeChecksum, Silence::Never, 0x1FF},
        {program, device::kCodeProgram, Silence::InsteadOfAnswer, {}},
        {program, device::kCodeProgram, Silence::AfterStatus, {}},
        {program, device::kCodeChecksum, Silence::AfterStatus, {}},
        {verify, device::kCodeReadChip, Silence::AfterAnswer, {}},
        {verify, device::kCodeReadChip, Silence::AfterStatus, {}},
        {read, device::kCodeReadChip, Silence::InsteadOfAnswer, {}},
        {read, device::kCodeReadChip, Silence::AfterStatus, {}},
        {protect, device::kCodeReadProtect, Silence::InsteadOfAnswer, {}},
        {protect, device::kCodeReadProtect, Silence::AfterAnswer, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back() + " code " + std::to_string(c.code) + " point " +
                     std::to_string(static_cast<int>(c.from)));
        sim_.Stop();
        ASSERT_TRUE(sim_.Start());  // a fresh line, as when the adapter is plugged back in
        sim_.SetChip(device::ChipKind::Mtp, 0x2000);
        sim_.WriteChip(0, SampleCode(0x200));
        device::CommandScript vanish;
        vanish.silentFrom = c.from;
        vanish.silentAfterReport = c.afterReport;
        vanish.hangUpWhenSilent = true;
        sim_.Script(c.code, vanish);
        std::vector<std::string> args{"--port", "COM1"};
        args.insert(args.end(), c.args.begin(), c.args.end());

        const Result lost = Run(args);
        EXPECT_EQ(lost.status, 2) << lost.err;
        // The probe keeps its own text; the plain line on standard error names the cause.
        EXPECT_EQ(lost.out, c.code == device::kCodeProbe
                                ? "编程器连接错误,编程器可能正忙,请稍候再试!\n"
                                : "读取串口错误,该端口可能不存在或被其它软件占用!\n");
        EXPECT_NE(lost.err.find("was lost"), std::string::npos) << lost.err;
        EXPECT_FALSE(fs::exists(readOut));

        sim_.Stop();
        sim_.ClearScripts();
        ASSERT_TRUE(sim_.Start());
        sim_.SetChip(device::ChipKind::Mtp, 0x2000);
        sim_.WriteChip(0, SampleCode(0x200));
        const Result next = Run(args);
        EXPECT_EQ(next.status, c.args.back() == "blank-check" ? 1 : 0) << next.err;
        fs::remove(readOut);
    }
}

// A programmer that restarts in the middle of a blank check or a chip checksum announces it,
// and the announcement's first bytes read as an address beyond the image: no verdict, exit 2.
TEST_F(CliTest, ARestartInTheMiddleOfAnOperationIsNoVerdict) {
    for (const auto& [command, code] : {std::pair{"blank-check", device::kCodeBlankCheck},
                                        std::pair{"checksum", device::kCodeChecksum}}) {
        SCOPED_TRACE(command);
        device::CommandScript restart;
        restart.firstStatus = "OKZEPHRESET";  // the status, then the announcement
        restart.silentFrom = device::Silence::AfterStatus;
        restart.once = true;
        sim_.Script(code, restart);
        const Result result = Run({"--port", "COM1", "--range", "0000-01FF", command});
        EXPECT_EQ(result.status, 2) << result.err;
        EXPECT_EQ(result.out,
                  "OK,检测到 KORU-V2.0B 已复位!请点击[下载文件代码]按钮以刷新编程器内存代码\n");
        EXPECT_NE(result.err.find("gave no answer"), std::string::npos) << result.err;
    }
}

TEST_F(CliTest, ProgramWithoutStepOptionsUsesTheSavedSettings) {
    fs::create_directories(folder_ / "config" / "lumatrix");
    std::ofstream(folder_ / "config" / "lumatrix" / "settings.reg")
        << "[HKEY_CURRENT_USER\\Software\\lumatrix]\n"
           "\"auto\"=dword:00000004\n"  // blank check (plus the boxes every load marks)
           "\"chip\"=\"smtp\"\n"
           "\"com\"=\"com1\"\n";
    sim_.WriteChip(0x10, {0x00});  // not blank: the saved blank-check step must stop the run
    const fs::path file = WriteCodeFile(SampleCode(0x40));
    Result result = Run({"program", file});
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_EQ(result.out, "芯片不空, 在地址: 00010\n");
}

// The lines of a production record file, each parsed; a line that does not parse fails the test.
std::vector<nlohmann::json> RecordLines(const fs::path& log) {
    std::vector<nlohmann::json> records;
    std::istringstream lines(ReadAll(log));
    std::string line;
    while (std::getline(lines, line)) {
        records.push_back(nlohmann::json::parse(line, nullptr, false));
        EXPECT_FALSE(records.back().is_discarded()) << "line " << records.size() << ": " << line;
    }
    return records;
}

// The row of port in a gang's table.
std::string TableRow(const std::string& out, const std::string& port) {
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(port + " ", 0) == 0 && line.find(" s ") != std::string::npos) {
            return line;
        }
    }
    return {};
}

// program leaves a record of every run, even when no programmer answers: counters and kind
// tell one story, and the report counts a run that touched no chip apart from the chips.
TEST_F(CliTest, ASilentProgrammerLeavesARecordThatCountsNoFailedChip) {
    const fs::path file = WriteCodeFile(SampleCode(0x100));
    const fs::path log = folder_ / "silent.jsonl";
    const struct {
        std::uint8_t code;
        device::Silence from;
        std::vector<std::string> steps;
        const char* step;
    } cases[] = {
        {device::kCodeProbe, device::Silence::InsteadOfAnswer, {}, "probe"},
        {device::kCodeProgram, device::Silence::AfterStatus, {"program"}, "program"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        device::CommandScript silent;
        silent.silentFrom = c.from;
        sim_.ClearScripts();
        sim_.Script(c.code, silent);
        const Result result = Run({"--port", "COM1", "--verify", "--log", log, "program", file});
        EXPECT_EQ(result.status, 2) << result.err;
        EXPECT_NE(result.err.find(sim_.SlavePath()), std::string::npos) << result.err;
        const auto records = RecordLines(log);
        ASSERT_FALSE(records.empty());
        const nlohmann::json& record = records.back();
        EXPECT_EQ(record["outcome"]["kind"], "no-answer") << record.dump();
        EXPECT_EQ(record["outcome"]["step"], c.step);
        EXPECT_EQ(record["steps"], nlohmann::json(c.steps));
        EXPECT_EQ(record["passed"], false);
        EXPECT_EQ(record["counters"]["failure"], 0);
    }
    EXPECT_EQ(RecordLines(log).size(), std::size(cases));
    Result report = Run({"report", "--csv", log});
    EXPECT_EQ(report.status, 0) << report.err;
    // One chip, met by a silent programmer; one run without a programmer, no chip.
    EXPECT_NE(report.out.find(",1,0,0,0,0.0%,"), std::string::npos) << report.out;
    EXPECT_NE(report.out.find(",,1,1\n"), std::string::npos) << report.out;
}

TEST_F(CliTest, AGangOfFourSaysPerPortWhatHappenedAndRecordsEveryChip) {
    std::array<device::Simulator, 3> others;
    std::vector<device::Simulator*> sims{&sim_};
    for (device::Simulator& other : others) {
        ASSERT_TRUE(other.Start());
        other.SetChip(device::ChipKind::Mtp, 0x2000);
        sims.push_back(&other);
    }
    device::CommandScript wrongSum;  // the second chip fails its verify
    wrongSum.sum = device::SumFault::Wrong;
    sims[1]->Script(device::kCodeChecksum, wrongSum);
    device::CommandScript unplugged;  // the third adapter is pulled out while programming
    unplugged.silentFrom = device::Silence::AfterStatus;
    unplugged.hangUpWhenSilent = true;
    sims[2]->Script(device::kCodeProgram, unplugged);

    const auto code = SampleCode(0x300);
    const fs::path file = WriteCodeFile(code);
    const fs::path log = folder_ / "gang.jsonl";
    std::string ports;
    for (device::Simulator* sim : sims) {
        ports += (ports.empty() ? "" : ",") + sim->SlavePath();
    }
    Result gang = Run({"--port", ports, "--mtp", "--verify", "--log", log, "program", file});
    EXPECT_EQ(gang.status, 2) << gang.out << gang.err;

    const struct {
        const char* result;
        bool passed;
        const char* failedStep;
        const char* kind;
    } expected[] = {
        {"passed", true, nullptr, "success"},
        {"chip failed", false, "verify", "chip-failed"},
        {"no programmer or link lost", false, "program", "link-lost"},
        {"passed", true, nullptr, "success"},
    };
    std::map<std::string, nlohmann::json> byPort;
    for (const nlohmann::json& record : RecordLines(log)) {
        byPort[record.value("port", "")] = record;
    }
    EXPECT_EQ(byPort.size(), sims.size());
    for (std::size_t i = 0; i < sims.size(); ++i) {
        const std::string& port = sims[i]->SlavePath();
        SCOPED_TRACE(port);
        const std::string row = TableRow(gang.out, port);
        EXPECT_NE(row.find(std::string("  ") + expected[i].result + "  "), std::string::npos)
            << gang.out;
        if (expected[i].passed) {
            const auto chip = sims[i]->ChipContents();
            EXPECT_TRUE(std::equal(code.begin(), code.end(), chip.begin()));
        }
        const nlohmann::json& record = byPort[port];
        EXPECT_EQ(record.value("passed", !expected[i].passed), expected[i].passed);
        EXPECT_EQ(record["failed_step"], expected[i].failedStep
                                             ? nlohmann::json(expected[i].failedStep)
                                             : nlohmann::json());
        EXPECT_EQ(record["outcome"]["kind"], expected[i].kind) << record.dump();
        EXPECT_EQ(record["file"]["path"], fs::absolute(file).lexically_normal().string());
        EXPECT_EQ(record["file"]["size"], fs::file_size(file));
    }

    Result report = Run({"report", "--csv", log});
    EXPECT_EQ(report.status, 0) << report.err;
    EXPECT_NE(report.out.find(",4,2,1,1,50.0%,"), std::string::npos) << report.out;

    // The page: refused before reading when it cannot be written, else one bar per port.
    const fs::path nowhere = folder_ / "missing" / "gang.html";
    Result unwritable = Run({"report", "--html", nowhere, log});
    EXPECT_EQ(unwritable.status, 3);
    EXPECT_NE(unwritable.err.find("cannot write the page"), std::string::npos) << unwritable.err;
    EXPECT_EQ(unwritable.out, "");
    Result page = Run({"report", "--html", folder_ / "gang.html", log});
    EXPECT_EQ(page.status, 0) << page.err;
    const std::string html = ReadAll(folder_ / "gang.html");
    const std::size_t portChart = html.find("data-chart=\"yield-port\"");
    ASSERT_NE(portChart, std::string::npos);
    const std::string portBars = html.substr(portChart, html.find("</svg>", portChart) - portChart);
    for (const device::Simulator* sim : sims) {
        EXPECT_NE(portBars.find("<title>" + sim->SlavePath() + ": yield "), std::string::npos)
            << sim->SlavePath();
    }
}

// SIGKILL to the whole gang while it goes round after round: the record holds whole lines only.
TEST_F(CliTest, KilledBetweenChipsTheRecordStillParsesLineByLine) {
    const fs::path file = WriteCodeFile(SampleCode(0x100));
    const fs::path log = folder_ / "killed.jsonl";
    const fs::path input = folder_ / "enter.txt";
    std::ofstream(input) << std::string(100, '\n');
    const pid_t pid =
        Spawn({"--port", "COM1", "--repeat", "--verify", "--log", log, "program", file},
              input.string(), true);
    ASSERT_GT(pid, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (RecordLines(log).size() < 2 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(-pid, SIGKILL);
    const Result killed = Wait(pid);
    EXPECT_EQ(killed.status, 128 + SIGKILL);
    const std::string text = ReadAll(log);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    const auto records = RecordLines(log);
    EXPECT_GE(records.size(), 2u);
    for (const nlohmann::json& record : records) {
        EXPECT_EQ(record.value("passed", false), true) << record.dump();
    }
}

TEST_F(CliTest, ARecordThatCannotBeWrittenStopsProgrammingBeforeAnyChipTraffic) {
    const fs::path file = WriteCodeFile(SampleCode(0x40));
    for (const char* ports : {"COM1", "COM1,COM1"}) {
        sim_.ClearRecords();
        Result result = Run({"--port", ports, "--log", folder_.string(), "program", file});
        EXPECT_EQ(result.status, 3) << ports;
        EXPECT_NE(result.err.find("production record cannot be written"), std::string::npos)
            << result.err;
        EXPECT_TRUE(sim_.Exchanges().empty()) << ports;
    }
}

TEST_F(CliTest, PortsListsTheDevicesAndPortTakesAByIdFragmentThatMatchesOne) {
    const fs::path root = folder_ / "root";
    test::MakeFakeDeviceTree(root, sim_.SlavePath());  // the FTDI adapter leads to the simulator
    extraEnv_.push_back("KORU_DEVICE_ROOT=" + root.string());
    const std::string ftdi = (root / "dev/serial/by-id" / test::kFakeFtdiById).string();
    const std::string acm = (root / "dev/serial/by-id" / test::kFakeAcmById).string();

    const Result listed = Run({"ports"});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out, (root / "dev/ttyACM0").string() + "  " + acm +
                              "  2341:0043 Arduino Uno\n" + (root / "dev/ttyS0").string() + "\n" +
                              (root / "dev/ttyUSB0").string() + "  " + ftdi +
                              "  0403:6001 FTDI FT232R USB UART serial A1B2C3\n");

    const struct {
        std::string fragment;
        int status;
        std::string out;                    // the whole of standard output
        std::vector<std::string> errParts;  // each must be in standard error
    } cases[] = {
        {"A1B2C3", 0, std::string("OK, 已检测到 KORU V2.0B 连接在端口 ") + ftdi + "\n", {}},
        {"usb-", 3, "", {"matches 2 devices", ftdi, acm}},
        {"Z9Z9", 3, "", {"no serial device matches", ftdi, acm}},
    };
    for (const auto& c : cases) {
        const Result result = Run({"--port", c.fragment, "probe"});
        EXPECT_EQ(result.status, c.status) << c.fragment << ": " << result.err;
        EXPECT_EQ(result.out, c.out) << c.fragment;
        for (const std::string& part : c.errParts) {
            EXPECT_NE(result.err.find(part), std::string::npos) << c.fragment << ": " << result.err;
        }
    }
}

TEST_F(CliTest, AComMappingSavedInTheSettingsDrivesThePort) {
    fs::create_directories(folder_ / "config" / "lumatrix");
    std::ofstream(folder_ / "config" / "lumatrix" / "settings.reg")
        << "[HKEY_CURRENT_USER\\Software\\lumatrix]\n"
           "\"com\"=\"com3\"\n"
           "\"com3dev\"=\""
        << sim_.SlavePath() << "\"\n";
    const Result saved = Run({"probe"});
    EXPECT_EQ(saved.status, 0) << saved.err;
    EXPECT_EQ(saved.out, "OK, 已检测到 KORU V2.0B 连接在端口 COM3\n");

    extraEnv_.push_back("KORU_COM3=/dev/koru-no-such-port");  // the environment wins for a run
    EXPECT_EQ(Run({"--port", "COM3", "probe"}).status, 2);
}

// What a serial job refuses before any byte goes to the chip: a value outside the range, a job
// used up, a program this PC does not allow, and one that fails or prints the wrong length
// (with its own words); an allowed program's value goes into the chip.
TEST_F(CliTest, SerialJobsRefuseAChipBeforeTrafficWhenTheyCannotGiveItAValue) {
    const fs::path script = folder_ / "key.sh";
    std::ofstream(script) << "#!/bin/sh\n"
                             "echo \"$KORU_SERIAL_JOB $KORU_SERIAL_INDEX\" >> " +
                                 (folder_ / "calls").string() +
                                 "\n"
                                 "case $1 in\n"
                                 "  ok) echo A1B2 ;;\n"
                                 "  short) echo A1 ;;\n"
                                 "  *) echo 'the key server said no' >&2; exit 4 ;;\n"
                                 "esac\n";
    fs::permissions(script, fs::perms::owner_all);
    fs::create_directories(folder_ / "config" / "lumatrix");
    std::ofstream(folder_ / "config" / "lumatrix" / "settings.reg")
        << "[HKEY_CURRENT_USER\\Software\\lumatrix]\n\"serialcommands\"=\"/bin/true;"
        << script.string() << " ok;" << script.string() << " no;" << script.string()
        << " short\"\n";
    const struct {
        std::vector<std::string> define;
        int status;
        std::string said;
    } cases[] = {
        {{"--at", "0300", "--size", "2", "--format", "le", "--start", "1"}, 3, "outside"},
        {{"--at", "0010", "--size", "2", "--format", "le", "--start", "1", "--last", "1"}, 0, ""},
        {{"--at", "0010", "--size", "2", "--command", script.string() + " ok"}, 0, ""},
        {{"--at", "0010", "--size", "2", "--command", "/bin/echo A1B2"}, 3, "serialcommands"},
        // the program is allowed, but not with these arguments
        {{"--at", "0010", "--size", "2", "--command", script.string() + " ok --verbose"},
         3,
         "serialcommands"},
        {{"--at", "0010", "--size", "2", "--command", script.string() + " no"},
         3,
         "the key server said no"},
        {{"--at", "0010", "--size", "2", "--command", script.string() + " short"},
         3,
         "did not print 2 hexadecimal bytes"},
    };
    const fs::path file = WriteCodeFile(SampleCode(0x100));
    int number = 0;
    for (const auto& c : cases) {
        const std::string job = "J" + std::to_string(++number);
        SCOPED_TRACE(job);
        std::vector<std::string> define{"serial", "define", job};
        define.insert(define.end(), c.define.begin(), c.define.end());
        ASSERT_EQ(Run(define).status, 0);
        sim_.SetChip(device::ChipKind::Mtp, 0x2000);
        sim_.ClearRecords();
        const std::vector<std::string> program{"--serial", job,       "--port", "COM1",
                                               "--verify", "program", file};
        Result result = Run(program);
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_NE(result.err.find(c.said), std::string::npos) << result.err;
        if (c.status != 0) {
            // Nothing went to the chip (the probe's block at most).
            for (const auto& exchange : sim_.Exchanges()) {
                EXPECT_NE(exchange.Code(), device::kCodeProgram);
            }
            continue;
        }
        const auto chip = sim_.ChipContents();
        EXPECT_EQ(chip[0x10], number == 2 ? 0x01 : 0xA1);
        EXPECT_EQ(chip[0x11], number == 2 ? 0x00 : 0xB2);
        if (number == 2) {  // its only value is spent: the next chip is refused
            sim_.ClearRecords();
            Result usedUp = Run(program);
            EXPECT_EQ(usedUp.status, 3);
            EXPECT_NE(usedUp.err.find("序列号已用完"), std::string::npos) << usedUp.err;
            EXPECT_TRUE(sim_.Exchanges().empty());
        }
    }
    // The program ran for the allowed job and those that failed, never for the one not allowed.
    EXPECT_EQ(ReadAll(folder_ / "calls"), "J3 0\nJ6 0\nJ7 0\n");
}

// A counter job over a gang of four: each chip holds its own value, the records say which; a
// chip whose adapter is pulled while programming spends its value, one that fails its blank
// check gives it back, and the next chip gets it.
TEST_F(CliTest, ASerialCounterGivesEachChipOfAGangItsOwnValue) {
    Result define = Run({"serial", "define", "SN", "--at", "0100", "--size", "4", "--format", "be",
                         "--start", "5000", "--step", "7"});
    ASSERT_EQ(define.status, 0) << define.err;
    std::array<device::Simulator, 3> others;
    std::vector<device::Simulator*> sims{&sim_};
    for (device::Simulator& other : others) {
        ASSERT_TRUE(other.Start());
        other.SetChip(device::ChipKind::Mtp, 0x2000);
        sims.push_back(&other);
    }
    sims[1]->WriteChip(0x10, {0x00});  // fails its blank check before the program step
    device::CommandScript unplugged;
    unplugged.silentFrom = device::Silence::AfterStatus;
    unplugged.hangUpWhenSilent = true;
    sims[2]->Script(device::kCodeProgram, unplugged);

    const auto code = SampleCode(0x300);
    const fs::path file = WriteCodeFile(code);
    const fs::path log = folder_ / "serial.jsonl";
    std::string ports;
    for (device::Simulator* sim : sims) {
        ports += (ports.empty() ? "" : ",") + sim->SlavePath();
    }
    const std::vector<std::string> job{
        "--serial", "SN", "--mtp", "--blank-check", "--verify", "--log", log, "program", file};
    std::vector<std::string> args{"--port", ports};
    args.insert(args.end(), job.begin(), job.end());
    Result gang = Run(args);
    EXPECT_EQ(gang.status, 2) << gang.out << gang.err;

    std::map<std::string, nlohmann::json> byPort;
    for (const nlohmann::json& record : RecordLines(log)) {
        byPort[record.value("port", "")] = record;
    }
    ASSERT_EQ(byPort.size(), sims.size());
    std::set<std::string> values;
    for (std::size_t i : {0, 2, 3}) {
        const nlohmann::json& record = byPort[sims[i]->SlavePath()];
        ASSERT_TRUE(record.contains("serial")) << record.dump();
        EXPECT_EQ(record["serial"]["job"], "SN");
        values.insert(record["serial"]["value"].get<std::string>());
        if (i == 2) {
            EXPECT_EQ(record["outcome"]["kind"], "link-lost");
            continue;
        }
        EXPECT_TRUE(record.value("passed", false)) << record.dump();
        const std::uint32_t value = std::stoul(record["serial"]["value"].get<std::string>());
        auto stamped = code;
        for (int b = 0; b < 4; ++b) {
            stamped[0x100 + b] = static_cast<std::uint8_t>(value >> (8 * (3 - b)));
        }
        const auto chip = sims[i]->ChipContents();
        EXPECT_TRUE(std::equal(stamped.begin(), stamped.end(), chip.begin())) << value;
        EXPECT_NE(TableRow(gang.out, sims[i]->SlavePath()).find("序列号 " + std::to_string(value)),
                  std::string::npos)
            << gang.out;
    }
    EXPECT_EQ(values.size(), 3u);  // three different values went out
    EXPECT_FALSE(byPort[sims[1]->SlavePath()].contains("serial"));

    const Result status = Run({"serial", "status", "SN", "--json"});
    ASSERT_EQ(status.status, 0) << status.err;
    const nlohmann::json counts = nlohmann::json::parse(status.out, nullptr, false)[0];
    EXPECT_EQ(counts["spent"], 3);
    EXPECT_EQ(counts["passed"], 2);
    EXPECT_EQ(counts["failed"], 1);
    const std::string released = counts["next"];
    EXPECT_EQ(values.count(released), 0u);

    // The released value goes into the next chip; serial find names its record.
    sims[1]->WriteChip(0x10, {0xFF});
    const Result next = Run({"--port", sims[1]->SlavePath(), "--serial", "SN", "--mtp", "--verify",
                             "--log", log, "program", file});
    EXPECT_EQ(next.status, 0) << next.err;
    EXPECT_NE(next.out.find("序列号 " + released), std::string::npos) << next.out;
    const Result found = Run({"serial", "find", released});
    EXPECT_EQ(found.status, 0) << found.err;
    EXPECT_NE(found.out.find(sims[1]->SlavePath()), std::string::npos) << found.out;
    EXPECT_NE(found.out.find("passed"), std::string::npos) << found.out;
}

// The serial soak: two koru-cli processes, each a gang of four simulators, round after round on
// one database, with faults scheduled per port: a supply fault or a NO at erase (before any
// data: the value comes back) and a NO or silence after the data phase (spent). Judged from
// the simulators' own received bytes: no value in two chips, every chip's record names the
// value it holds, and no value is lost (the chips' values and the next value form one run).
class SerialSoakTest : public CliTest {
  protected:
    void Soak(const std::string& db, int rounds) {
        constexpr int kProcesses = 2;
        constexpr int kGang = 4;
        constexpr std::uint32_t kAt = 0x0100;
        constexpr std::int64_t kStart = 5000;
        ASSERT_EQ(Run({"--db", db, "serial", "define", "SN", "--at", "0100", "--size", "4",
                       "--format", "be", "--start", std::to_string(kStart)})
                      .status,
                  0);
        std::vector<std::unique_ptr<device::Simulator>> sims;
        for (int i = 0; i < kProcesses * kGang; ++i) {
            sims.push_back(std::make_unique<device::Simulator>());
            ASSERT_TRUE(sims.back()->Start());
        }
        const fs::path file = WriteCodeFile(SampleCode(0x200));
        std::map<std::uint32_t, std::string> chipOf;  // value -> round and port that received it
        int faults = 0, spentByFault = 0;
        const auto started = std::chrono::steady_clock::now();
        for (int round = 0; round < rounds; ++round) {
            for (int i = 0; i < kProcesses * kGang; ++i) {
                device::Simulator& sim = *sims[i];
                sim.ClearScripts();
                sim.ClearRecords();
                sim.SetChip(device::ChipKind::Mtp, 0x2000);
                // The last round runs clean, so values given back are handed out again.
                const int fault = round + 1 == rounds ? 0 : (round * 3 + i) % 6;
                device::CommandScript script;
                switch (fault) {
                    case 1:
                        script.firstStatus = "EV";
                        sim.Script(device::kCodeErase, script);
                        break;
                    case 2:
                        script.firstStatus = "NO";
                        sim.Script(device::kCodeErase, script);
                        break;
                    case 3:
                        script.finalReply = "NO";
                        sim.Script(device::kCodeProgram, script);
                        break;
                    case 4:
                        script.silentFrom = device::Silence::AfterStatus;
                        sim.Script(device::kCodeProgram, script);
                        break;
                    default:
                        break;
                }
                faults += fault >= 1 && fault <= 4 ? 1 : 0;
                spentByFault += fault == 3 || fault == 4 ? 1 : 0;
            }
            std::vector<pid_t> runs;
            for (int p = 0; p < kProcesses; ++p) {
                std::string ports;
                for (int k = 0; k < kGang; ++k) {
                    ports += (ports.empty() ? "" : ",") + sims[p * kGang + k]->SlavePath();
                }
                const fs::path folder = folder_ / ("p" + std::to_string(p));
                fs::create_directories(folder);
                runs.push_back(
                    Spawn({"--db", db, "--port", ports, "--serial", "SN", "--mtp", "--erase",
                           "--log", (folder / "records.jsonl").string(), "program", file.string()},
                          "/dev/null", false, (folder / "err.txt").string(),
                          (folder / "out.txt").string()));
            }
            for (const pid_t run : runs) {
                int status = 0;
                ASSERT_EQ(::waitpid(run, &status, 0), run);
            }
            // What each chip received, against what its record names.
            std::map<std::string, nlohmann::json> records;
            for (int p = 0; p < kProcesses; ++p) {
                const auto lines =
                    RecordLines(folder_ / ("p" + std::to_string(p)) / "records.jsonl");
                for (const nlohmann::json& record : lines) {
                    records[record.value("port", "")] = record;  // the latest of each port
                }
            }
            for (int i = 0; i < kProcesses * kGang; ++i) {
                const device::Simulator& sim = *sims[i];
                // The value the data phase carried: in the program exchange, or, from a device
                // that fell silent after its first status, in the bytes it took outside any block.
                std::optional<std::uint32_t> held;
                const auto valueIn = [&held](const std::vector<std::uint8_t>& d) {
                    if (d.size() > kAt + 3) {
                        held = (std::uint32_t{d[kAt]} << 24) | (std::uint32_t{d[kAt + 1]} << 16) |
                               (std::uint32_t{d[kAt + 2]} << 8) | d[kAt + 3];
                    }
                };
                for (const auto& exchange : sim.Exchanges()) {
                    if (exchange.Code() == device::kCodeProgram) {
                        valueIn(exchange.data);
                    }
                }
                if (!held) {
                    valueIn(sim.StrayBytes());
                }
                const std::string where = "round " + std::to_string(round) + " " + sim.SlavePath();
                SCOPED_TRACE(where);
                ASSERT_EQ(records.count(sim.SlavePath()), 1u);
                const nlohmann::json& record = records[sim.SlavePath()];
                if (!held) {
                    EXPECT_FALSE(record.contains("serial")) << record.dump();
                    continue;
                }
                const auto [first, fresh] = chipOf.emplace(*held, where);
                EXPECT_TRUE(fresh) << *held << " went to " << first->second << " and " << where;
                ASSERT_TRUE(record.contains("serial")) << record.dump();
                EXPECT_EQ(record["serial"]["value"], std::to_string(*held));
            }
        }
        const Result status = Run({"--db", db, "serial", "status", "SN", "--json"});
        ASSERT_EQ(status.status, 0) << status.err;
        const nlohmann::json job = nlohmann::json::parse(status.out, nullptr, false)[0];
        EXPECT_TRUE(job["reserved"].empty()) << status.out;
        std::uint32_t expected = kStart;
        for (const auto& [value, where] : chipOf) {
            EXPECT_EQ(value, expected) << "a value was skipped before " << where;
            expected = value + 1;
        }
        EXPECT_EQ(job["next"], std::to_string(expected));
        EXPECT_EQ(job["spent"], static_cast<int>(chipOf.size()));
        std::printf(
            "soak on %s: %d rounds, %zu chips programmed, %d faults scheduled (%d after "
            "data), in %.1f s\n",
            db.rfind("postgresql", 0) == 0 ? "PostgreSQL" : "SQLite", rounds, chipOf.size(), faults,
            spentByFault,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    }
};

TEST_F(SerialSoakTest, OnSqlite) {
    Soak((folder_ / "line.sqlite").string(), 10);
}

TEST_F(SerialSoakTest, OnPostgres) {
    test::PostgresServer server;
    if (!server.Start()) {
        GTEST_SKIP() << server.SkipReason();
    }
    Soak(server.Uri(), 10);
}

// A process killed (kill -9) in the middle of a data phase: its value stays "sending", so no
// other chip gets it; serial release refuses it, and --force, for a person who has checked the
// chip, releases it and is logged where serial find shows it.
TEST_F(CliTest, AValueKilledInTheDataPhaseStaysSendingUntilAPersonForcesItBack) {
    ASSERT_EQ(Run({"serial", "define", "SN", "--at", "0010", "--size", "2", "--format", "bcd",
                   "--start", "7"})
                  .status,
              0);
    device::DeviceTiming paced;
    paced.paceLine = true;  // about 1.2 s of data for 2 KiB
    sim_.SetTiming(paced);
    const fs::path file = WriteCodeFile(SampleCode(0x800));
    const pid_t run = Spawn({"--serial", "SN", "--port", "COM1", "--mtp", "program", file});
    ASSERT_GT(run, 0);
    const bool inDataPhase = test::WaitUntil(
        [this] {
            for (const auto& exchange : sim_.Exchanges()) {
                if (exchange.Code() == device::kCodeProgram && exchange.data.size() >= 64) {
                    return true;
                }
            }
            return false;
        },
        std::chrono::seconds(20));
    ::kill(run, SIGKILL);
    Wait(run);
    ASSERT_TRUE(inDataPhase);

    const Result status = Run({"serial", "status", "SN", "--json"});
    ASSERT_EQ(status.status, 0) << status.err;
    const nlohmann::json job = nlohmann::json::parse(status.out, nullptr, false)[0];
    ASSERT_EQ(job["reserved"].size(), 1u) << status.out;
    EXPECT_EQ(job["reserved"][0]["state"], "sending");
    EXPECT_EQ(job["reserved"][0]["value"], "7");
    EXPECT_EQ(job["next"], "8");  // never the value that may be in the chip

    const Result refused = Run({"serial", "release", "SN", "7"});
    EXPECT_EQ(refused.status, 3);
    EXPECT_NE(refused.err.find("data for a chip had started to go out"), std::string::npos)
        << refused.err;
    const Result forced = Run({"serial", "release", "SN", "7", "--force"});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_NE(forced.out.find("released 7 of SN by force (logged)"), std::string::npos)
        << forced.out;
    const Result found = Run({"serial", "find", "7"});
    EXPECT_NE(found.out.find("released by force by a person"), std::string::npos) << found.out;
    EXPECT_NE(found.out.find("while sending"), std::string::npos) << found.out;
    EXPECT_EQ(Run({"--force", "serial", "status"}).status, 3);  // --force releases only
}

// A list job hands its keys out in order, one per chip, across a gang and later runs: each chip
// holds its own key, serial find names where it went, and a list at its end refuses the next
// chip before any traffic.
TEST_F(CliTest, AListJobGivesEachChipTheNextKeyUntilItIsUsedUp) {
    const fs::path keys = folder_ / "keys.txt";
    std::ofstream(keys) << "# customer keys\nA1B2C3\n0D0E0F\n\n112233\n";
    ASSERT_EQ(
        Run({"serial", "define", "KEY", "--at", "0040", "--size", "3", "--list", keys}).status, 0);
    device::Simulator other;
    ASSERT_TRUE(other.Start());
    other.SetChip(device::ChipKind::Mtp, 0x2000);
    const auto code = SampleCode(0x100);
    const fs::path file = WriteCodeFile(code);
    const std::vector<std::string> job{"--serial", "KEY", "--mtp", "--verify", "program", file};
    auto run = [&](const std::string& ports) {
        std::vector<std::string> args{"--port", ports};
        args.insert(args.end(), job.begin(), job.end());
        return Run(args);
    };
    const Result gang = run(sim_.SlavePath() + "," + other.SlavePath());
    ASSERT_EQ(gang.status, 0) << gang.out << gang.err;
    const std::map<std::string, std::vector<std::uint8_t>> expected{{"A1B2C3", {0xA1, 0xB2, 0xC3}},
                                                                    {"0D0E0F", {0x0D, 0x0E, 0x0F}}};
    std::set<std::string> seen;
    for (device::Simulator* sim : {&sim_, &other}) {
        const auto chip = sim->ChipContents();
        const std::vector<std::uint8_t> key(chip.begin() + 0x40, chip.begin() + 0x43);
        for (const auto& [text, bytes] : expected) {
            if (key == bytes) {
                seen.insert(text);
                const Result found = Run({"serial", "find", text});
                EXPECT_NE(found.out.find(sim->SlavePath()), std::string::npos) << found.out;
            }
        }
        EXPECT_TRUE(std::equal(chip.begin(), chip.begin() + 0x40, code.begin()));
    }
    EXPECT_EQ(seen.size(), 2u);  // both keys, one in each chip

    sim_.SetChip(device::ChipKind::Mtp, 0x2000);
    EXPECT_EQ(run(sim_.SlavePath()).status, 0);
    EXPECT_EQ(sim_.ChipContents()[0x40], 0x11);
    sim_.SetChip(device::ChipKind::Mtp, 0x2000);
    sim_.ClearRecords();
    const Result usedUp = run(sim_.SlavePath());
    EXPECT_EQ(usedUp.status, 3);
    EXPECT_NE(usedUp.err.find("序列号已用完"), std::string::npos) << usedUp.err;
    for (const auto& exchange : sim_.Exchanges()) {
        EXPECT_NE(exchange.Code(), device::kCodeProgram);
    }
}

// The line database goes away: a serialized chip is refused before any traffic with the
// database's reason; plain runs go on, their records wait, and sync uploads exactly those.
TEST_F(CliTest, WithoutItsDatabaseASerialChipIsRefusedAndRecordsWaitForSync) {
    test::PostgresServer server;
    if (!server.Start()) {
        GTEST_SKIP() << server.SkipReason();
    }
    const std::string db = server.Uri();
    ASSERT_EQ(Run({"--db", db, "serial", "define", "SN", "--at", "0010", "--size", "2", "--format",
                   "bcd", "--start", "1"})
                  .status,
              0);
    const fs::path file = WriteCodeFile(SampleCode(0x100));
    const fs::path log = folder_ / "down.jsonl";
    const std::vector<std::string> plain{"--db",  db,  "--port",  "COM1", "--verify",
                                         "--log", log, "program", file};
    ASSERT_EQ(Run(plain).status, 0);  // this record reaches the database
    ASSERT_TRUE(server.Stop());

    sim_.ClearRecords();
    Result refused =
        Run({"--db", db, "--serial", "SN", "--port", "COM1", "--verify", "program", file});
    EXPECT_EQ(refused.status, 3) << refused.err;
    EXPECT_NE(refused.err.find("line database cannot be used"), std::string::npos) << refused.err;
    EXPECT_TRUE(sim_.Exchanges().empty());
    for (int run = 0; run < 2; ++run) {
        Result alone = Run(plain);
        EXPECT_EQ(alone.status, 0) << alone.err;
        EXPECT_NE(alone.err.find("kept for koru-cli sync"), std::string::npos) << alone.err;
    }
    EXPECT_NE(Run({"--db", db, "sync"}).status, 0);

    ASSERT_TRUE(server.Restart());
    const Result sync = Run({"--db", db, "sync"});
    EXPECT_EQ(sync.status, 0) << sync.err;
    EXPECT_NE(sync.out.find("uploaded 2 records"), std::string::npos) << sync.out;
    EXPECT_NE(Run({"--db", db, "sync"}).out.find("uploaded 0 records"), std::string::npos);
    // A record that waits goes up at the start of the next run as well.
    ASSERT_TRUE(server.Stop());
    EXPECT_EQ(Run(plain).status, 0);
    ASSERT_TRUE(server.Restart());
    EXPECT_EQ(Run(plain).status, 0);
    EXPECT_NE(Run({"--db", db, "sync"}).out.find("uploaded 0 records"), std::string::npos);
    const Result report = Run({"--db", db, "report", "--csv"});
    EXPECT_EQ(report.status, 0) << report.err;
    EXPECT_NE(report.out.find(",5,5,0,0,100.0%,"), std::string::npos) << report.out;

    // Another PC's record with a port of the same name: report --db keeps the two sockets apart
    // and writes the page over every PC, with a row and a bar per PC.
    nlohmann::json other = RecordLines(log).back();
    other["id"] = "other-pc-1";
    other["host"] = "other-pc";
    const fs::path queue = folder_ / ".local/state/lumatrix/unsent.jsonl";
    std::ofstream(queue, std::ios::app) << other.dump() << "\n";
    EXPECT_NE(Run({"--db", db, "sync"}).out.find("uploaded 1 records"), std::string::npos);
    const fs::path page = folder_ / "line.html";
    const Result html = Run({"--db", db, "report", "--html", page});
    EXPECT_EQ(html.status, 0) << html.err;
    EXPECT_NE(html.out.find("\nhost other-pc:\n"), std::string::npos) << html.out;
    EXPECT_NE(html.out.find("\n  other-pc: COM1 ("), std::string::npos) << html.out;
    const std::string text = ReadAll(page);
    EXPECT_NE(text.find("<tr><td><code>other-pc: COM1 ("), std::string::npos);
    EXPECT_NE(text.find("<h2>per PC</h2>"), std::string::npos);
    EXPECT_NE(text.find("<title>other-pc: yield 100.0%"), std::string::npos);
    EXPECT_EQ(Run({"--db", db, "report", "2026-12-01"}).status, 3);
}

// The whole job checksum job create prints, from its "job checksum:   SHORT  (WHOLE)" line.
std::string JobChecksumIn(const std::string& out) {
    const std::size_t line = out.find("job checksum:");
    const std::size_t open = out.find('(', line);
    const std::size_t close = out.find(')', open);
    if (line == std::string::npos || open == std::string::npos || close == std::string::npos) {
        ADD_FAILURE() << "no job checksum in: " << out;
        return "";
    }
    return out.substr(open + 1, close - open - 1);
}

// A job carries its own image: once made, the code file on disk may change and the job still
// programs what was approved, and each record names the job and its checksum. A job fixes its
// set-up: the options it fixes are refused, before any traffic.
TEST_F(CliTest, AJobProgramsTheApprovedBytesAfterTheCodeFileChanges) {
    const auto code = SampleCode(0x300);
    const fs::path file = WriteCodeFile(code);
    const fs::path job = folder_ / "lineA.korujob";
    const Result made = Run({"job", "create", job, "--code", file, "--mtp", "--range", "0000-02FF",
                             "--erase", "--verify", "--quota", "500", "--by", "engineer"});
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string checksum = JobChecksumIn(made.out);
    ASSERT_EQ(checksum.size(), 64u);
    EXPECT_TRUE(sim_.Exchanges().empty());

    const Result shown = Run({"job", "show", job});
    EXPECT_EQ(shown.status, 0) << shown.err;
    EXPECT_EQ(shown.out, made.out);  // what was written is what is read back
    for (const char* part :
         {"job:            lineA\n", "chip:           MTP\n",
          "range:          0000-02FF (768 bytes)\n", "编程前擦除MTP (erase), 自动校验 (verify)",
          "500 passed chips", "lock:           none\n", "engineer"}) {
        EXPECT_NE(shown.out.find(part), std::string::npos) << part << "\n" << shown.out;
    }

    const std::vector<std::string> fixed[] = {
        {"--mtp"}, {"--range", "0000-00FF"}, {"--verify"}, {"--slow"}, {file.string()}};
    for (const auto& extra : fixed) {
        std::vector<std::string> args{"--port", "COM1", "--job", job, "program"};
        args.insert(args.end(), extra.begin(), extra.end());
        const Result refused = Run(args);
        EXPECT_EQ(refused.status, 3) << extra[0];
        EXPECT_NE(refused.err.find("the job fixes"), std::string::npos) << refused.err;
    }
    EXPECT_TRUE(sim_.Exchanges().empty());

    auto changed = code;
    std::reverse(changed.begin(), changed.end());
    WriteCodeFile(changed);
    const fs::path log = folder_ / "job.jsonl";
    const Result run = Run({"--port", "COM1", "--log", log, "--job", job, "--confirm",
                            checksum.substr(0, 8), "program"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto chip = sim_.ChipContents();
    EXPECT_TRUE(std::equal(code.begin(), code.end(), chip.begin()));

    const std::vector<nlohmann::json> records = RecordLines(log);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["job"], (nlohmann::json{{"name", "lineA"}, {"checksum", checksum}}));
    // Without --lot the chip goes into the job's lot of the day, and is counted there.
    EXPECT_EQ(records[0].value("lot", "").rfind("lineA 20", 0), 0u) << records[0].dump();
    EXPECT_NE(run.out.find("本批 1/500"), std::string::npos) << run.out;
    EXPECT_EQ(records[0]["passed"], true);
    EXPECT_EQ(records[0]["range"]["end"], "002FF");
    EXPECT_EQ(records[0]["steps"], (nlohmann::json{"erase", "program", "verify"}));
}

// The work order's checksum guards the run: a wrong one, or a job file edited by hand (one byte
// of the image, the range, a step, its own checksum recomputed or not), never reaches the chip.
TEST_F(CliTest, AChangedJobOrAWrongChecksumIsRefusedBeforeAnyTraffic) {
    const fs::path file = WriteCodeFile(SampleCode(0x100));
    const fs::path job = folder_ / "j.korujob";
    const Result made =
        Run({"job", "create", job, "--code", file, "--otp", "--range", "0000-00FF", "--verify"});
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string checksum = JobChecksumIn(made.out);
    const std::string text = ReadAll(job);

    std::string wrong = checksum.substr(0, 8);
    wrong[0] = wrong[0] == '0' ? '1' : '0';
    for (const std::string& typed : {wrong, checksum.substr(0, 7), std::string("zzzzzzzz")}) {
        const Result refused = Run({"--port", "COM1", "--job", job, "--confirm", typed, "program"});
        EXPECT_EQ(refused.status, 3) << typed;
        EXPECT_NE(refused.err.find("the job checksum is " + checksum.substr(0, 8)),
                  std::string::npos)
            << refused.err;
    }

    // Edits by hand: each one is refused on load, whatever the checksum says.
    const auto edited = [&](const std::string& from, const std::string& to) {
        std::string copy = text;
        const std::size_t at = copy.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? copy : copy.replace(at, from.size(), to);
    };
    const struct {
        std::string text;
        std::string said;
    } edits[] = {
        {edited("\"010E1B28", "\"010E1B29"), "SHA-256"},                    // one image byte
        {edited("\"end\": \"000FF\"", "\"end\": \"000FE\""), "needs 255"},  // the range
        {edited("\"verify\"", "\"blank-check\""), "checksum"},              // a step
        {edited("\"version\": 1", "\"version\": 2"), "version 2"},
        {text.substr(0, text.size() / 2), "not JSON"},
        {edited("\"fast\": true", "\"fast\": true, \"extra\": 1"), "does not write"},
    };
    const fs::path bad = folder_ / "bad.korujob";
    for (const auto& edit : edits) {
        std::ofstream(bad, std::ios::binary) << edit.text;
        const Result refused = Run({"--port", "COM1", "--job", bad, "program"});
        EXPECT_EQ(refused.status, 3) << edit.said;
        EXPECT_NE(refused.err.find(edit.said), std::string::npos) << refused.err;
        EXPECT_EQ(Run({"job", "show", bad}).status, 3) << edit.said;
    }
    EXPECT_TRUE(sim_.Exchanges().empty());  // not one command block reached the programmer

    // The checksum confirmed in any case and in full lets the run go on.
    std::string upper = checksum;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    const Result run = Run({"--port", "COM1", "--job", job, "--confirm", upper, "program"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(sim_.Exchanges().empty());
}

// A gang runs the job on every port: a wrong checksum stops the whole gang before any port is
// spoken to, the right one programs the job's bytes on each, even with the code file gone.
TEST_F(CliTest, AGangRunsTheJobOnEveryPortOnceConfirmed) {
    device::Simulator other;
    ASSERT_TRUE(other.Start());
    other.SetChip(device::ChipKind::Mtp, 0x2000);
    const auto code = SampleCode(0x200);
    const fs::path file = WriteCodeFile(code);
    const fs::path job = folder_ / "gang.korujob";
    const Result made = Run({"job", "create", job, "--code", file, "--mtp", "--verify"});
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string checksum = JobChecksumIn(made.out);
    fs::remove(file);
    const std::string ports = sim_.SlavePath() + "," + other.SlavePath();
    const fs::path log = folder_ / "gang-job.jsonl";

    const Result refused =
        Run({"--port", ports, "--log", log, "--job", job, "--confirm", "00000000", "program"});
    EXPECT_EQ(refused.status, 3) << refused.err;
    EXPECT_TRUE(sim_.Exchanges().empty());
    EXPECT_TRUE(other.Exchanges().empty());
    EXPECT_FALSE(fs::exists(log));

    const Result gang =
        Run({"--port", ports, "--log", log, "--job", job, "--confirm", checksum, "program"});
    EXPECT_EQ(gang.status, 0) << gang.out << gang.err;
    for (device::Simulator* sim : {&sim_, &other}) {
        const auto chip = sim->ChipContents();
        EXPECT_TRUE(std::equal(code.begin(), code.end(), chip.begin()));
    }
    const std::vector<nlohmann::json> records = RecordLines(log);
    ASSERT_EQ(records.size(), 2u);
    for (const nlohmann::json& record : records) {
        EXPECT_EQ(record["job"]["checksum"], checksum);
        EXPECT_EQ(record["passed"], true);
    }
}

// A lot's quota of 3 over a gang of two, in the line database db: the first round passes two
// chips, in the second both ports race for the last place and one wins, the other is refused
// before its programmer hears a single block; the chip that completes the lot writes its report.
// After that no chip of the lot starts.
void RunLotQuotaOverAGang(CliTest& test, const std::string& db) {
    device::Simulator other;
    ASSERT_TRUE(other.Start());
    other.SetChip(device::ChipKind::Mtp, 0x2000);
    device::Simulator& sim = test.Sim();
    const fs::path file = test.WriteCodeFile(SampleCode(0x200));
    const fs::path job = test.Folder() / "board.korujob";
    const Result made = test.Run({"job", "create", job, "--code", file, "--mtp", "--verify",
                                  "--quota", "3", "--name", "BOARD-A"});
    ASSERT_EQ(made.status, 0) << made.err;
    const fs::path log = test.Folder() / "lot.jsonl";
    const std::string ports = sim.SlavePath() + "," + other.SlavePath();
    const std::vector<std::string> run{"--port", ports, "--db",  db,   "--log",  log,
                                       "--job",  job,   "--lot", "L1", "program"};

    const Result first = test.Run(run);
    ASSERT_EQ(first.status, 0) << first.out << first.err;
    EXPECT_NE(TableRow(first.out, sim.SlavePath()).find("本批 "), std::string::npos) << first.out;
    const std::size_t before[] = {sim.Exchanges().size(), other.Exchanges().size()};

    const Result second = test.Run(run);
    EXPECT_EQ(second.status, 3) << second.out << second.err;
    const std::size_t after[] = {sim.Exchanges().size(), other.Exchanges().size()};
    const int winners = (after[0] > before[0] ? 1 : 0) + (after[1] > before[1] ? 1 : 0);
    EXPECT_EQ(winners, 1) << "one port wins the last place, the other hears nothing";
    const std::string& winner = after[0] > before[0] ? sim.SlavePath() : other.SlavePath();
    const std::string& loser = after[0] > before[0] ? other.SlavePath() : sim.SlavePath();
    const fs::path report =
        test.Folder() / ".local" / "state" / "lumatrix" / "production" / "lot-L1.html";
    EXPECT_NE(second.out.find(winner + ": passed in "), std::string::npos) << second.out;
    EXPECT_NE(second.out.find("本批已完成 3/3, 报告 " + report.string()), std::string::npos)
        << second.out;
    // The loser met the winner's chip under way on the last place: refused, not yet complete.
    EXPECT_NE(TableRow(second.out, loser).find("本批名额已满: lot L1 has 2 of 3 chips passed"),
              std::string::npos)
        << second.out;

    // The refusal holds for any later chip, alone or in a gang; the event stream says why.
    const Result single = test.Run({"--port", "COM1", "--db", db, "--log", log, "--job", job,
                                    "--lot", "L1", "--events", "jsonl", "program"});
    EXPECT_EQ(single.status, 3) << single.err;
    EXPECT_NE(single.err.find("本批已完成: lot L1 has its 3 passed chips"), std::string::npos)
        << single.err;
    const std::size_t lastLine = single.out.rfind('\n', single.out.size() - 2);
    const nlohmann::json outcome = nlohmann::json::parse(
        single.out.substr(lastLine == std::string::npos ? 0 : lastLine + 1), nullptr, false);
    EXPECT_EQ(outcome.value("type", ""), "outcome") << single.out;
    EXPECT_EQ(outcome.value("kind", ""), "refused") << single.out;
    EXPECT_EQ(outcome.value("text", "").rfind("本批已完成", 0), 0u) << single.out;
    EXPECT_EQ(test.Run(run).status, 3);
    EXPECT_EQ(sim.Exchanges().size() + other.Exchanges().size(), after[0] + after[1]);

    // Exactly three chips were programmed, each record names the lot; the report says 3.
    const std::vector<nlohmann::json> records = RecordLines(log);
    ASSERT_EQ(records.size(), 3u);
    for (const nlohmann::json& record : records) {
        EXPECT_EQ(record["passed"], true);
        EXPECT_EQ(record["lot"], "L1");
    }
    const std::string page = ReadAll(report);
    EXPECT_NE(page.find(" lot L1</code></td><td class=\"n\">3</td><td class=\"n\">3</td>"),
              std::string::npos)
        << page;
    const Result text = test.Run({"report", "--db", db, "--lot", "L1"});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("records 3\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("per job and lot (name checksum lot NAME):\n  BOARD-A "),
              std::string::npos)
        << text.out;
    const Result none = test.Run({"report", "--lot", "L2", log});
    EXPECT_NE(none.out.find("records 0\n"), std::string::npos) << none.out;

    // Another lot of the same job starts from nothing.
    const Result next = test.Run(
        {"--port", "COM1", "--db", db, "--log", log, "--job", job, "--lot", "L2", "program"});
    EXPECT_EQ(next.status, 0) << next.err;
    EXPECT_NE(next.out.find("本批 1/3"), std::string::npos) << next.out;
    // The event stream says the same, for a station to show.
    const Result streamed = test.Run({"--port", "COM1", "--db", db, "--log", log, "--job", job,
                                      "--lot", "L2", "--events", "jsonl", "program"});
    EXPECT_EQ(streamed.status, 0) << streamed.err;
    EXPECT_NE(streamed.out.find(R"("type":"lot","port":"COM1",)"), std::string::npos)
        << streamed.out;
    EXPECT_NE(streamed.out.find(R"("name":"L2","passed":2,"quota":3})"), std::string::npos)
        << streamed.out;
}

TEST_F(CliTest, ALotQuotaHoldsAcrossAGangOnSqlite) {
    RunLotQuotaOverAGang(*this, (folder_ / "line.sqlite").string());
}

TEST_F(CliTest, ALotQuotaHoldsAcrossAGangOnPostgres) {
    test::PostgresServer server;
    if (!server.Start()) {
        GTEST_SKIP() << server.SkipReason();
    }
    RunLotQuotaOverAGang(*this, server.Uri());
}

// A job with a serial job: the place the job was approved for is kept, its bytes are left out
// of the image checksum, and a run where the line database's job writes elsewhere is refused.
TEST_F(CliTest, AJobKeepsItsSerialJobsPlaceAndRefusesAnotherOne) {
    ASSERT_EQ(Run({"serial", "define", "SN", "--at", "00FC", "--size", "4", "--format", "be",
                   "--start", "5000"})
                  .status,
              0);
    auto code = SampleCode(0x100);
    const fs::path file = WriteCodeFile(code);
    const fs::path job = folder_ / "sn.korujob";
    const Result made = Run({"job", "create", job, "--code", file, "--mtp", "--range", "0000-00FF",
                             "--verify", "--serial", "SN"});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_NE(made.out.find("serial job:     SN at 00FC, 4 bytes\n"), std::string::npos)
        << made.out;
    unsigned sum = 0;
    for (std::size_t i = 0; i < 0xFC; ++i) {
        sum += code[i];
    }
    EXPECT_NE(
        made.out.find("image checksum: " + Hex(sum & 0xFFFF, 4) + "  (serial bytes left out)"),
        std::string::npos)
        << made.out;

    const fs::path log = folder_ / "sn.jsonl";
    const Result run = Run({"--port", "COM1", "--log", log, "--job", job, "program"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<nlohmann::json> records = RecordLines(log);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["serial"]["job"], "SN");
    EXPECT_EQ(records[0]["job"]["name"], "sn");
    const auto chip = sim_.ChipContents();
    EXPECT_EQ(std::vector<std::uint8_t>(chip.begin() + 0xFC, chip.begin() + 0x100),
              (std::vector<std::uint8_t>{0x00, 0x00, 0x13, 0x88}));  // 5000, big-endian

    // Another line database whose SN writes elsewhere: not what was approved.
    const fs::path other = folder_ / "other.sqlite";
    ASSERT_EQ(Run({"--db", other, "serial", "define", "SN", "--at", "0010", "--size", "4",
                   "--format", "be", "--start", "1"})
                  .status,
              0);
    sim_.ClearRecords();
    const Result refused = Run({"--port", "COM1", "--db", other, "--job", job, "program"});
    EXPECT_EQ(refused.status, 3);
    EXPECT_NE(refused.err.find("serial job SN now writes 4 bytes at 0010"), std::string::npos)
        << refused.err;
    EXPECT_TRUE(sim_.Exchanges().empty());
}

// --lock reads the password from the terminal, twice, without echoing it; two different
// entries make no job. The lock then opens with that password only.
TEST_F(CliTest, ALockPasswordIsTypedOnTheTerminalWithoutEcho) {
    const fs::path file = WriteCodeFile(SampleCode(0x40));
    const fs::path job = folder_ / "locked.korujob";
    // Types the lines when asked; what the terminal showed.
    const auto typeOn = [&](const std::vector<std::string>& lines, int& status) {
        std::string shown;
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
            ADD_FAILURE() << "no pseudo-terminal";
            return shown;
        }
        const pid_t pid = Spawn({"job", "create", job, "--code", file, "--otp", "--lock"},
                                ptsname(master), false, "", "", true);
        std::size_t typed = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        bool ended = false;
        while (!ended && std::chrono::steady_clock::now() < deadline) {
            pollfd readable{master, POLLIN, 0};
            if (poll(&readable, 1, 50) > 0 && (readable.revents & POLLIN) != 0) {
                char chunk[256];
                const ssize_t got = read(master, chunk, sizeof chunk);
                if (got > 0) {
                    shown.append(chunk, static_cast<std::size_t>(got));
                }
            }
            // One line for each prompt shown so far.
            std::size_t prompts = 0;
            for (std::size_t at = shown.find("password"); at != std::string::npos;
                 at = shown.find("password", at + 1)) {
                ++prompts;
            }
            while (typed < lines.size() && typed < prompts) {
                const std::string line = lines[typed++] + "\n";
                EXPECT_EQ(write(master, line.data(), line.size()),
                          static_cast<ssize_t>(line.size()));
            }
            ended = waitpid(pid, &status, WNOHANG) == pid;
        }
        if (!ended) {
            ADD_FAILURE() << "koru-cli did not end: " << shown;
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        close(master);
        status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return shown;
    };

    int status = -1;
    std::string shown = typeOn({"first 密码", "second"}, status);
    EXPECT_EQ(status, 3) << shown;
    EXPECT_NE(ReadAll(folder_ / "err.txt").find("the two passwords differ"), std::string::npos);
    EXPECT_FALSE(fs::exists(job));

    shown = typeOn({"first 密码", "first 密码"}, status);
    EXPECT_EQ(status, 0) << ReadAll(folder_ / "err.txt");
    EXPECT_NE(shown.find("job password: "), std::string::npos) << shown;
    EXPECT_EQ(shown.find("first"), std::string::npos) << shown;  // never echoed
    const JobLoad load = LoadJobFile(job.string());
    ASSERT_TRUE(load.job) << load.reason;
    EXPECT_TRUE(JobLockOpens(*load.job, "first 密码"));
    EXPECT_FALSE(JobLockOpens(*load.job, "second"));
}

}  // namespace
}  // namespace koru
