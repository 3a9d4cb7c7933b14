// The program ends at once when its window closes during an operation: the settings are saved,
// the running worker is not waited for, and the process exits normally (no abort, no crash).
// The program runs in a child process, as it would on its own.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/settings_words.h"
#include "core/shared_state.h"
#include "device/simulator.h"
#include "operations/runner.h"
#include "platform/settings_store.h"
#include "window/command_router.h"
#include "window/programmer_app.h"
#include "window/programmer_dlg.h"

namespace koru {
namespace {

// Exit statuses of the child that mean the test's own steps went wrong.
constexpr int kNoWorkerAtQuit = 3;
constexpr int kRunReturned = 4;
constexpr int kSimulatorFailed = 5;

// A blank check of 0000..1FFF in 32 steps of 500 ms: 16 s, far longer than the shut-down.
constexpr std::chrono::milliseconds kSlowStep{500};
constexpr std::chrono::seconds kShutDownLimit{10};

// Starts a slow blank check as soon as the window runs, then quits with "退出编程".
class QuitDuringBlankCheck final : public CProgrammerApp {
  protected:
    void WindowStarted(CProgrammerDlg& window) override {
        QTimer::singleShot(0, &window, [&window] {
            RouteCommand(window, 138, window.Control(107));
            QTimer::singleShot(300, &window, [&window] {
                if (BusyFlag.load() == 0 || LiveOperationWorkers() == 0) {
                    std::_Exit(kNoWorkerAtQuit);
                }
                RouteCommand(window, 154, &window);
            });
        });
    }
};

[[noreturn]] void RunProgramInChild(const std::string& config) {
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    device::Simulator sim;
    device::DeviceTiming slow;
    slow.stepDelay = kSlowStep;
    if (!sim.Start(slow)) {
        std::_Exit(kSimulatorFailed);
    }
    setenv("KORU_COM1", sim.SlavePath().c_str(), 1);
    QuitDuringBlankCheck app;
    char name[] = "koru";
    char* argv[] = {name, nullptr};
    app.Run(1, argv);
    std::_Exit(kRunReturned);  // it waited until no worker was left
}

TEST(ShutDownTest, QuitDuringAnOperationSavesTheSettingsAndEndsAtOnce) {
    const std::filesystem::path config =
        std::filesystem::temp_directory_path() / ("koru-shutdown-" + std::to_string(getpid()));
    std::filesystem::create_directories(config);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    {
        SettingsStore store(SettingsStore::PathForKey(kSettingsKey));
        store.SetString(kValueCom, "com1");
        store.SetString(kValueChip, "sotp");
        ASSERT_TRUE(store.Save());
    }

    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        RunProgramInChild(config.string());
    }
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(child, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() - start < 3 * kShutDownLimit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (done == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "the program did not end";
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;

    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_LT(elapsed, kShutDownLimit);

    SettingsStore saved(SettingsStore::PathForKey(kSettingsKey));
    ASSERT_TRUE(saved.Load());
    EXPECT_EQ(saved.GetString(kValueCom), "com1");
    EXPECT_EQ(saved.GetString(kValueChip), "sotp");
    EXPECT_EQ(saved.GetNumber(kValueAutoFunc), 0x21u);
    std::filesystem::remove_all(config);
}

}  // namespace
}  // namespace koru
