#include "platform/queue_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/queue_lines.h"
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

bool ReadAll(int fd, std::string& text) {
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            return true;
        }
        text.append(chunk, static_cast<std::size_t>(got));
    }
}

std::string Failure(const std::string& path) {
    return path + ": " + std::strerror(errno);
}

// Takes the queue's lock (PATH.lock), held until the descriptor is closed. The lock has a
// file of its own because the queue itself is replaced by rename: a lock on the old file
// would no longer exclude a process that opens the new one.
UniqueFd Lock(const std::string& path, std::string& error) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    const std::string lockPath = path + ".lock";
    UniqueFd fd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd.Valid()) {
        error = Failure(lockPath);
        return fd;
    }
    int locked = -1;
    do {
        locked = ::flock(fd.Get(), LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        error = Failure(lockPath);
        return UniqueFd();
    }
    return fd;
}

// The folder's entry for a renamed file reaches the disk too.
void SyncFolder(const std::string& path) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    const UniqueFd fd(
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Valid()) {
        ::fsync(fd.Get());
    }
}

// Keeps tail (a partial line a crash left) in PATH.damaged, flushed.
bool KeepDamaged(const std::string& path, const std::string& tail, std::string& error) {
    const std::string damagedPath = path + ".damaged";
    const UniqueFd fd(::open(damagedPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
    if (!fd.Valid() || !WriteAll(fd.Get(), tail + "\n") || ::fsync(fd.Get()) != 0) {
        error = Failure(damagedPath);
        return false;
    }
    return true;
}

// Writes text as the queue's new contents: a new file, flushed, renamed over the old one.
bool Replace(const std::string& path, const std::string& text, std::string& error) {
    const std::string newPath = path + ".new";
    {
        const UniqueFd fd(::open(newPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        if (!fd.Valid() || !WriteAll(fd.Get(), text) || ::fsync(fd.Get()) != 0) {
            error = Failure(newPath);
            return false;
        }
    }
    if (::rename(newPath.c_str(), path.c_str()) != 0) {
        error = Failure(path);
        return false;
    }
    SyncFolder(path);
    return true;
}

}  // namespace

bool AppendToQueue(const std::string& path, const std::string& text, std::string& error,
                   std::string* damaged) {
    const UniqueFd lock = Lock(path, error);
    if (!lock.Valid()) {
        return false;
    }
    const UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
    if (!fd.Valid()) {
        error = Failure(path);
        return false;
    }
    // Every append under the lock ends in a new line: a last byte that is not one was left
    // by a crash. Only the end of the file is read to learn it.
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0) {
        error = Failure(path);
        return false;
    }
    if (info.st_size > 0) {
        char last = '\n';
        if (::pread(fd.Get(), &last, 1, info.st_size - 1) != 1) {
            error = Failure(path);
            return false;
        }
        if (last != '\n') {
            std::string all;
            if (::lseek(fd.Get(), 0, SEEK_SET) != 0 || !ReadAll(fd.Get(), all)) {
                error = Failure(path);
                return false;
            }
            const std::size_t keep = WholeLinesLength(all);
            if (!KeepDamaged(path, all.substr(keep), error) ||
                ::ftruncate(fd.Get(), static_cast<off_t>(keep)) != 0 || ::fsync(fd.Get()) != 0) {
                if (error.empty()) {
                    error = Failure(path);
                }
                return false;
            }
            if (damaged != nullptr) {
                *damaged = DamagedText(path, all.size() - keep);
            }
        }
    }
    if (!WriteAll(fd.Get(), text) || ::fsync(fd.Get()) != 0) {
        error = Failure(path);
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
    const UniqueFd lock = Lock(path, error);
    if (!lock.Valid()) {
        return false;
    }
    std::string text;
    {
        const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd.Valid() && errno == ENOENT) {
            return true;
        }
        if (!fd.Valid() || !ReadAll(fd.Get(), text)) {
            error = Failure(path);
            return false;
        }
    }
    const std::string kept = DrainLines(text, send, sent, left);
    if (sent == 0) {
        return true;
    }
    return Replace(path, kept, error);
}

}  // namespace koru
