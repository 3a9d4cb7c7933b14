#pragma once

// A file written front to back through a buffer: text is appended whole and reaches the file
// in order; any write error is remembered and reported, at the latest by Close.
//
// A regular file (or a name not yet taken) is written as a new file beside the target, flushed
// to disk and only then renamed over it, so a save that fails part-way leaves the old file (or
// none) and never a cut line. A pipe, FIFO or character device is written directly, in
// blocking mode, so a slow reader gets every byte.

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace koru {

class OutputFile {
  public:
    OutputFile();
    ~OutputFile();  // an unfinished file is removed; the target stays as it was
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Opens path for writing. False when it cannot be written (a FIFO without a reader, a
    // folder where no file can be made); ErrorText tells why.
    bool Create(const std::string& path);

    // Adds text after everything appended before. False once any write has failed.
    bool Append(std::string_view text);

    // Writes what is buffered, makes it durable and puts the file in place. False when
    // anything appended did not reach the file (a full disk, a size limit, a device that
    // refuses writes); the target is then left as it was.
    bool Close();

    // The system's words for the last failure, empty when none.
    const std::string& ErrorText() const { return error_; }

    // Text is gathered up to this many bytes before it is written; a piece at least this long
    // is written as it is, without a copy.
    static constexpr std::size_t kBufferBytes = 64 * 1024;

  private:
    bool Flush();
    bool WriteAll(std::string_view text);
    void Fail(int error);
    void Abandon();
    bool OpenBeside(const std::string& path);

    // Each system's own parts (posix/, win32/). Those returning int return 0 on success, else
    // the error number of the failure.
    static bool IsStream(const std::string& path);  // a device or pipe, written in place
    int OpenInPlace(const std::string& path);
    int CreateNew(const std::string& name);  // EEXIST when the name is taken
    static std::string ProcessTag();         // part of a temporary's name, unique per process
    void KeepModeOf(const std::string& path);
    long long WriteSome(std::string_view text);  // bytes written, or -1 with errno set
    int SyncToDisk();
    int MoveIntoPlace();  // the temporary over the target, made durable where the system can

    UniqueFd fd_;
    std::string buffer_;
    std::string target_;
    std::string temporary_;  // empty when writing the target directly
    std::string error_;
    bool failed_ = false;
};

struct OutputCheck {
    std::string problem;   // the system's words when path cannot be written; empty when it can
    bool created = false;  // the check made a new empty file at path
};

// Tries path for writing before any work is done for it: opens it (creating it when it does
// not exist) without changing what it holds. A FIFO or device is only checked for permission,
// since opening and closing it would end a reader's input.
OutputCheck CheckOutputPath(const std::string& path);

// Removes a file the check created, when nothing was saved into it after all.
void RemoveCreatedFile(const std::string& path);

}  // namespace koru
