#include "link/reset_listener.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "core/joined_threads.h"
#include "core/services.h"
#include "core/shared_state.h"
#include "core/step_report.h"
#include "image/program_memory.h"
#include "link/replies.h"
#include "link/transport.h"
#include "platform/serial_port.h"

namespace koru {
namespace {

constexpr std::size_t kQueueBytes = 1024;
constexpr std::size_t kListenBufferSize = 16;
constexpr std::uint32_t kListenAttempts = 5;  // about 50 ms for the first byte
constexpr int kPurgeAttempts = 10;            // a port that has gone fails every purge

// What the window's thread and one listener thread share. The thread keeps its own reference,
// so the control stays valid whether the listener is ended or finishes on its own.
struct ListenerControl {
    std::atomic<bool> stopRequested{false};
    // Whoever sets this first shows the reset text: the listener itself, or the caller that ended
    // it after it had blanked the image.
    std::atomic<bool> resetTextClaimed{false};
    std::mutex mutex;
    std::condition_variable released;
    bool portReleased = false;  // guarded by mutex
    bool resetHeard = false;    // guarded by mutex

    void Release(bool reset) {
        {
            std::lock_guard lock(mutex);
            portReleased = true;
            resetHeard = reset;
        }
        released.notify_all();
    }
    bool IsReleased() {
        std::lock_guard lock(mutex);
        return portReleased;
    }
    // Waits for the release; true when the listener heard a reset announcement.
    bool WaitReleased() {
        std::unique_lock lock(mutex);
        released.wait(lock, [this] { return portReleased; });
        return resetHeard;
    }
};

// The most recent listener; touched on the window's thread only.
std::shared_ptr<ListenerControl> currentListener;
std::atomic<int> liveThreads{0};

// Listens on the port and acts on a reset announcement. Returns true when the reset text is
// still to be shown; everything that touches the port or the image is done before it returns.
bool ListenAndAct(const std::atomic<bool>* stopRequested) {
    const OutcomesPausedOnThisThread listening;
    if (!Port().IsOpen()) {
        return false;
    }
    if (!Port().SetupQueues(kQueueBytes, kQueueBytes)) {
        return false;
    }
    ApplyListenTimeouts();

    // One attempt at a time, so that a stop request is seen between reads. Whether a byte came
    // is kept here, not in FailureFlag: a red failure text must not turn blue while we listen.
    std::uint8_t buffer[kListenBufferSize] = {};
    bool heard = false;
    for (std::uint32_t attempt = 0; attempt < kListenAttempts && !heard; ++attempt) {
        if (stopRequested != nullptr && stopRequested->load()) {
            break;
        }
        heard = TryReadReply(buffer, sizeof buffer, kReplyReset.size(), 1);
    }

    const bool reset = heard && ReplyIs(buffer, sizeof buffer, kReplyReset);
    if (reset) {
        ProgrammerFoundFlag = 1;
        FailureFlag = 1;
        BlankProgramMemory();
        CodeLoadedFlag = 0;
    }

    // A port that went away meanwhile is the next exchange's to report.
    TryClearLineErrors();
    for (int i = 0; i < kPurgeAttempts && !Port().Purge(); ++i) {
    }
    return reset;
}

void RunListener(std::shared_ptr<ListenerControl> control) {
    const bool report = ListenAndAct(&control->stopRequested);
    control->Release(report);
    // Ended meanwhile: the caller that ended us shows the text on its own thread, in order with
    // its own texts.
    if (report && !control->stopRequested && !control->resetTextClaimed.exchange(true)) {
        Window().SetStatusLine(kProgrammerResetText);
    }
    --liveThreads;
}

}  // namespace

void ResetListener() {
    if (ListenAndAct(nullptr)) {
        Window().SetStatusLine(kProgrammerResetText);
    }
}

int LiveListenerThreads() {
    return liveThreads;
}

bool ResetListenerRunning() {
    return currentListener && !currentListener->IsReleased();
}

void OnListenTick() {
    if (BusyFlag != 0 || ResetListenerRunning()) {
        return;
    }
    auto control = std::make_shared<ListenerControl>();
    ++liveThreads;
    // The window's thread never waits for more than the listener's release of the port (its own
    // status report may be waiting for us); the thread is joined only once it has finished.
    static JoinedThreads listeners;
    if (!listeners.Start([control] { RunListener(control); })) {
        --liveThreads;  // no thread this tick; the next one tries again
        return;
    }
    currentListener = std::move(control);
}

void EndResetListener() {
    if (!currentListener) {
        return;
    }
    const std::shared_ptr<ListenerControl> control = std::move(currentListener);
    control->stopRequested = true;
    // The image was blanked: the operator must learn why the code is gone, even though a probe
    // or an operation now takes the port.
    if (control->WaitReleased() && !control->resetTextClaimed.exchange(true)) {
        Window().SetStatusLine(kProgrammerResetText);
    }
}

}  // namespace koru
