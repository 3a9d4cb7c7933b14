#include "image/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace koru {

namespace {

constexpr mode_t kNewFileMode = 0666;  // narrowed by the process's umask

}  // namespace

OutputFile::OutputFile() {
    buffer_.reserve(kBufferBytes);
}

bool OutputFile::Create(const std::string& path) {
    // Non-blocking only so that a FIFO without a reader is refused instead of waited for.
    fd_ = UniqueFd(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, kNewFileMode));
    failed_ = !fd_.Valid();
    buffer_.clear();
    return fd_.Valid();
}

bool OutputFile::Append(std::string_view text) {
    if (failed_) {
        return false;
    }
    if (buffer_.size() + text.size() > kBufferBytes && !Flush()) {
        return false;
    }
    buffer_.append(text);
    return true;
}

bool OutputFile::Flush() {
    std::size_t done = 0;
    while (!failed_ && done < buffer_.size()) {
        const ssize_t wrote = ::write(fd_.Get(), buffer_.data() + done, buffer_.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            failed_ = true;
        } else {
            done += static_cast<std::size_t>(wrote);
        }
    }
    buffer_.clear();
    return !failed_;
}

bool OutputFile::Close() {
    if (!fd_.Valid()) {
        return false;
    }
    const bool flushed = !failed_ && Flush();
    const bool closed = fd_.Close();
    failed_ = !(flushed && closed);
    return !failed_;
}

}  // namespace koru
