// The Windows child process backend under Wine, with the system's own cmd.exe as the child: its
// output and errors apart, its exit status, an environment of only what it is given, and a
// child that never ends, ended with whatever it started.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/child_process.h"

namespace koru {
namespace {

std::string CommandShell() {
    const char* root = std::getenv("SystemRoot");
    return std::string(root != nullptr ? root : "C:\\windows") + "\\system32\\cmd.exe";
}

// Reads both streams until they end and the child has ended, within limit.
std::optional<int> RunOut(ChildProcess& child, std::string& output, std::string& errors,
                          std::chrono::seconds limit = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const bool outputOpen = child.ReadOutput(output);
        const bool errorsOpen = child.ReadErrors(errors);
        if (!outputOpen && !errorsOpen) {
            if (const std::optional<int> status = child.Ended()) {
                return status;
            }
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        WaitForOutput({&child}, std::chrono::milliseconds(50));
    }
}

TEST(Win32ChildProcess, OutputAndErrorsComeApartWithTheExitStatus) {
    ASSERT_EQ(ChildProcessesUnavailable(), "");
    ChildProcess child;
    std::string error;
    ASSERT_TRUE(child.Start({CommandShell(), "/c", "echo 12AB& echo no key left 1>&2& exit /b 3"},
                            error, {}, {.ownGroup = true, .errorsApart = true}))
        << error;
    std::string output, errors;
    const std::optional<int> status = RunOut(child, output, errors);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 3);
    EXPECT_EQ(output.substr(0, 4), "12AB") << output;
    EXPECT_EQ(output.find("no key"), std::string::npos) << output;
    EXPECT_NE(errors.find("no key left"), std::string::npos) << errors;
}

// A station's site reads its "next chip" lines from its standard input pipe.
TEST(Win32ChildProcess, ALineWrittenToItsInputReachesTheChild) {
    ChildProcess child;
    std::string error;
    ASSERT_TRUE(child.Start({CommandShell(), "/v:on", "/c", "set /p line=& echo got !line!"}, error,
                            {}, {.ownGroup = true, .errorsApart = true, .inputPipe = true}))
        << error;
    EXPECT_TRUE(child.WriteInput("next\r\n"));
    child.CloseInput();
    EXPECT_FALSE(child.WriteInput("late\r\n"));
    std::string output, errors;
    const std::optional<int> status = RunOut(child, output, errors);
    ASSERT_TRUE(status);
    EXPECT_NE(output.find("got next"), std::string::npos) << output << errors;
}

TEST(Win32ChildProcess, OnlyTheGivenEnvironmentReachesTheChild) {
    ::_putenv_s("KORU_TEST_SECRET", "s3cret");
    ChildProcess child;
    std::string error;
    ASSERT_TRUE(child.Start({CommandShell(), "/c", "set"}, error, {"KORU_SERIAL_JOB=SN"},
                            {.extraEnvironmentOnly = true}))
        << error;
    std::string output, errors;
    ASSERT_EQ(RunOut(child, output, errors), 0);
    EXPECT_NE(output.find("KORU_SERIAL_JOB=SN"), std::string::npos) << output;
    EXPECT_EQ(output.find("s3cret"), std::string::npos) << output;
    ::_putenv_s("KORU_TEST_SECRET", "");
}

TEST(Win32ChildProcess, AChildThatNeverEndsIsEndedWithWhatItStarted) {
    ChildProcess child;
    std::string error;
    // A loop with a step of 0 runs for ever, in a second shell the first one started.
    ASSERT_TRUE(
        child.Start({CommandShell(), "/c", CommandShell() + " /c for /l %i in (0,0,1) do rem"},
                    error, {}, {.ownGroup = true, .errorsApart = true}))
        << error;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(child.Ended());
    child.Terminate();
    child.Kill();
    std::string output, errors;
    // The inner shell holds the pipes too: they end only once it has ended as well.
    const std::optional<int> status = RunOut(child, output, errors, std::chrono::seconds(10));
    ASSERT_TRUE(status) << "still running after Kill, or its pipes still held";
    EXPECT_EQ(*status, 128 + 9);
}

TEST(Win32ChildProcess, AProgramThatDoesNotExistIsNamedWithTheReason) {
    ChildProcess child;
    std::string error;
    EXPECT_FALSE(child.Start({"C:\\no\\such\\program.exe"}, error));
    EXPECT_NE(error.find("C:\\no\\such\\program.exe"), std::string::npos) << error;
}

}  // namespace
}  // namespace koru
