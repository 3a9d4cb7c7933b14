// What every backend's output file shares: its life cycle (a temporary beside the target, put
// in place on Close and removed when abandoned) and text gathered into pieces before it is
// written. Opening, writing, syncing and the final move are each system's own.

#include "platform/output_file.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace koru {

namespace {

constexpr char kTemporaryInfix[] = ".koru-save-";
constexpr int kTemporaryNameTries = 100;

}  // namespace

OutputFile::OutputFile() {
    buffer_.reserve(kBufferBytes);
}

OutputFile::~OutputFile() {
    Abandon();
}

void OutputFile::Fail(int error) {
    failed_ = true;
    error_ = std::strerror(error);
}

void OutputFile::Abandon() {
    fd_.Close();
    if (!temporary_.empty()) {
        std::remove(temporary_.c_str());
        temporary_.clear();
    }
}

bool OutputFile::Create(const std::string& path) {
    Abandon();
    buffer_.clear();
    error_.clear();
    failed_ = false;
    target_ = path;
    if (!IsStream(path)) {
        return OpenBeside(path);
    }
    if (const int error = OpenInPlace(path); error != 0) {
        fd_.Close();
        Fail(error);
        return false;
    }
    return true;
}

bool OutputFile::OpenBeside(const std::string& path) {
    static std::atomic<unsigned> serial{0};
    int error = 0;
    for (int attempt = 0; attempt < kTemporaryNameTries && !fd_.Valid(); ++attempt) {
        const std::string name =
            path + kTemporaryInfix + ProcessTag() + "-" + std::to_string(serial++);
        error = CreateNew(name);
        if (error == 0) {
            temporary_ = name;
        } else if (error != EEXIST) {
            break;
        }
    }
    if (!fd_.Valid()) {
        Fail(error);
        return false;
    }
    KeepModeOf(path);
    return true;
}

bool OutputFile::Append(std::string_view text) {
    if (failed_ || !fd_.Valid()) {
        return false;
    }
    if (buffer_.size() + text.size() > kBufferBytes && !Flush()) {
        return false;
    }
    if (text.size() >= kBufferBytes) {
        return WriteAll(text);  // a large piece goes to the file without a copy
    }
    buffer_.append(text);
    return true;
}

bool OutputFile::WriteAll(std::string_view text) {
    while (!failed_ && !text.empty()) {
        const long long wrote = WriteSome(text);
        if (wrote < 0) {
            Fail(errno);
        } else if (wrote == 0) {
            Fail(EIO);
        } else {
            text.remove_prefix(static_cast<std::size_t>(wrote));
        }
    }
    return !failed_;
}

bool OutputFile::Flush() {
    const bool ok = WriteAll(buffer_);
    buffer_.clear();
    return ok;
}

bool OutputFile::Close() {
    if (!fd_.Valid()) {
        return false;
    }
    bool ok = !failed_ && Flush();
    if (ok && !temporary_.empty()) {
        if (const int error = SyncToDisk(); error != 0) {
            Fail(error);
            ok = false;
        }
    }
    if (!fd_.Close() && ok) {
        Fail(errno);
        ok = false;
    }
    if (ok && !temporary_.empty()) {
        if (const int error = MoveIntoPlace(); error != 0) {
            Fail(error);
            ok = false;
        } else {
            temporary_.clear();
        }
    }
    if (!ok) {
        Abandon();
    }
    failed_ = !ok;
    return ok;
}

}  // namespace koru
