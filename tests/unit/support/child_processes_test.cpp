#include "tests/support/child_processes.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "tests/support/wait.h"

namespace koru::test {
namespace {

// A shell started with `--port port` that starts a second one like it in the background (and
// that one a sleep, which holds no such argument); all in a process group of their own, ended
// together.
class PortHolders {
  public:
    explicit PortHolders(const std::string& port) {
        const std::string script = "sh -c 'sleep 30; true' inner --port \"$2\" & wait";
        const char* argv[] = {"sh", "-c", script.c_str(), "outer", "--port", port.c_str(), nullptr};
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
        if (posix_spawn(&pid_, "/bin/sh", nullptr, &attributes, const_cast<char**>(argv),
                        environ) != 0) {
            pid_ = -1;
        }
        posix_spawnattr_destroy(&attributes);
    }
    ~PortHolders() {
        if (pid_ > 0) {
            kill(-pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    PortHolders(const PortHolders&) = delete;
    PortHolders& operator=(const PortHolders&) = delete;

    pid_t Pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
};

TEST(ChildProcessesTest, FindsTheChildOfAPortAndItsOwnChildOnlyWhenAsked) {
    const std::string port = "/tmp/koru-child-test-" + std::to_string(getpid());
    EXPECT_TRUE(ChildProcessesForPort(port, true).empty());

    const PortHolders holders(port);
    ASSERT_GT(holders.Pid(), 0);
    // One scan judged whole: while the second shell starts, a scan may catch it between fork
    // and exec.
    std::vector<pid_t> both;
    ASSERT_TRUE(WaitUntil(
        [&] {
            both = ChildProcessesForPort(port, true);
            return both.size() == 2;
        },
        std::chrono::seconds(10)));
    EXPECT_EQ(both.front(), holders.Pid());
    EXPECT_NE(both.back(), holders.Pid());
    EXPECT_EQ(ChildProcessesForPort(port, false), std::vector<pid_t>{holders.Pid()});

    // The whole argument counts: neither another port nor a shorter name of this one matches.
    EXPECT_TRUE(ChildProcessesForPort(port + "0", true).empty());
    EXPECT_TRUE(ChildProcessesForPort(port.substr(0, port.size() - 1), true).empty());
}

}  // namespace
}  // namespace koru::test
