#include "core/joined_threads.h"

#include <system_error>
#include <utility>

namespace koru {

JoinedThreads::~JoinedThreads() {
    for (auto& entry : threads_) {
        if (entry->finished) {
            entry->thread.join();
        } else {
            entry->thread.detach();  // the process is ending; nothing waits for it any more
        }
    }
}

void JoinedThreads::JoinFinished() {
    for (auto it = threads_.begin(); it != threads_.end();) {
        if ((*it)->finished) {
            (*it)->thread.join();
            it = threads_.erase(it);
        } else {
            ++it;
        }
    }
}

bool JoinedThreads::Start(std::function<void()> body) {
    JoinFinished();
    auto entry = std::make_unique<Entry>();
    Entry* const self = entry.get();
    try {
        entry->thread = std::thread([self, body = std::move(body)] {
            body();
            self->finished = true;
        });
    } catch (const std::system_error&) {
        return false;
    }
    threads_.push_back(std::move(entry));
    return true;
}

bool JoinedThreads::RunToEnd(const std::function<void()>& body) {
    std::thread thread;
    try {
        thread = std::thread(body);
    } catch (const std::system_error&) {
        return false;
    }
    thread.join();
    return true;
}

}  // namespace koru
