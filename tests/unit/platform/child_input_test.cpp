// A child program's standard input pipe: what is written arrives whole, closing it ends the
// child's input, and writing to a child that has gone is a false, not a signal to the writer.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/child_process.h"

namespace koru {
namespace {

// Reads the child's output until it ends (or ten seconds pass).
std::string OutputToEnd(ChildProcess& child) {
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (child.ReadOutput(out) && std::chrono::steady_clock::now() < deadline) {
        WaitForOutput({&child}, std::chrono::milliseconds(50));
    }
    return out;
}

TEST(ChildInputTest, LinesReachTheChildAndClosingEndsItsInput) {
    ChildProcess cat;
    std::string error;
    ChildSetup setup;
    setup.inputPipe = true;
    ASSERT_TRUE(cat.Start({"/bin/cat"}, error, {}, setup)) << error;
    EXPECT_TRUE(cat.WriteInput("first\n"));
    EXPECT_TRUE(cat.WriteInput(std::string(100000, 'x') + "\n"));  // more than a pipe holds
    cat.CloseInput();
    EXPECT_FALSE(cat.WriteInput("late\n"));
    const std::string out = OutputToEnd(cat);
    EXPECT_EQ(out, "first\n" + std::string(100000, 'x') + "\n");
    EXPECT_EQ(cat.Wait(), 0);
}

TEST(ChildInputTest, WritingToAGoneChildIsFalseAndThisProcessLivesOn) {
    ChildProcess gone;
    std::string error;
    ChildSetup setup;
    setup.inputPipe = true;
    ASSERT_TRUE(gone.Start({"/bin/true"}, error, {}, setup)) << error;
    EXPECT_EQ(gone.Wait(), 0);
    bool written = true;
    for (int i = 0; i < 3 && written; ++i) {
        written = gone.WriteInput("anyone?\n");
    }
    EXPECT_FALSE(written);  // and no SIGPIPE ended this test

    ChildProcess plain;  // without a pipe: its input is /dev/null and nothing can be written
    ASSERT_TRUE(plain.Start({"/bin/cat"}, error)) << error;
    EXPECT_FALSE(plain.WriteInput("x"));
    EXPECT_EQ(OutputToEnd(plain), "");
    EXPECT_EQ(plain.Wait(), 0);
}

}  // namespace
}  // namespace koru
