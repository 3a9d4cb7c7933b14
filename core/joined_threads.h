#pragma once

// Threads that their starter does not wait for, and that are still never detached.
//
// Detaching is not safe everywhere: with mingw-w64's winpthreads a detached thread that is still
// ending can hand its bookkeeping to the thread started next, which then never runs its body, or
// runs it without its argument. So every thread started here stays joinable. Its body's last act
// marks it finished, and the next start (or the owner's end) joins the finished ones: such a join
// waits only for the thread's own exit, never for work that might wait on the starter.

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <thread>

namespace koru {

class JoinedThreads {
  public:
    JoinedThreads() = default;
    JoinedThreads(const JoinedThreads&) = delete;
    JoinedThreads& operator=(const JoinedThreads&) = delete;
    // Joins the finished threads; one still running at the process's end is let go.
    ~JoinedThreads();

    // Starts body on a thread of its own after joining the finished ones. False when no thread
    // could be had (body does not run).
    bool Start(std::function<void()> body);

    // Runs body on a thread of its own and returns when that thread has ended. False when no
    // thread could be had (body does not run).
    static bool RunToEnd(const std::function<void()>& body);

  private:
    struct Entry {
        std::thread thread;
        std::atomic<bool> finished{false};
    };
    void JoinFinished();

    std::list<std::unique_ptr<Entry>> threads_;  // touched by the starting thread only
};

}  // namespace koru
