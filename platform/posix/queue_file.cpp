#include "platform/queue_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/unique_fd.h"

namespace koru {
namespace {

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

// Opens path and holds its lock until the descriptor is closed.
UniqueFd OpenLocked(const std::string& path, int flags, std::string& error) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    UniqueFd fd(::open(path.c_str(), flags | O_CLOEXEC, 0600));
    if (!fd.Valid()) {
        error = path + ": " + std::strerror(errno);
        return fd;
    }
    int locked = -1;
    do {
        locked = ::flock(fd.Get(), LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        error = path + ": " + std::strerror(errno);
        return UniqueFd();
    }
    return fd;
}

}  // namespace

bool AppendToQueue(const std::string& path, const std::string& text, std::string& error) {
    const UniqueFd fd = OpenLocked(path, O_WRONLY | O_CREAT | O_APPEND, error);
    if (!fd.Valid()) {
        return false;
    }
    if (!WriteAll(fd.Get(), text) || ::fsync(fd.Get()) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool DrainQueue(const std::string& path, const std::function<bool(const std::string&)>& send,
                std::size_t& sent, std::size_t& left, std::string& error) {
    sent = left = 0;
    if (!std::filesystem::exists(path)) {
        return true;
    }
    const UniqueFd fd = OpenLocked(path, O_RDWR, error);
    if (!fd.Valid()) {
        return false;
    }
    std::string text;
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(fd.Get(), chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            error = path + ": " + std::strerror(errno);
            return false;
        }
        if (got == 0) {
            break;
        }
        text.append(chunk, static_cast<std::size_t>(got));
    }
    std::string kept;
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t end = text.find('\n', begin);
        if (end == std::string::npos) {
            kept += text.substr(begin);  // a line still being written: not ours to judge
            break;
        }
        const std::string line = text.substr(begin, end - begin);
        begin = end + 1;
        if (line.empty()) {
            continue;
        }
        if (send(line)) {
            ++sent;
        } else {
            kept += line + "\n";
            ++left;
        }
    }
    if (sent == 0) {
        return true;
    }
    if (::ftruncate(fd.Get(), 0) != 0 || ::lseek(fd.Get(), 0, SEEK_SET) != 0 ||
        !WriteAll(fd.Get(), kept) || ::fsync(fd.Get()) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace koru
