#pragma once

// A file that only grows by whole records: each record goes out in one write on a descriptor
// opened with O_APPEND and is flushed to the disk before Append returns, so a crash or a power
// loss leaves either the whole record or none of it, and never harms an earlier one. Several
// processes may append to the same file at once.

#include <string>
#include <string_view>

namespace koru {

class AppendOnlyFile {
  public:
    AppendOnlyFile() = default;
    ~AppendOnlyFile();
    AppendOnlyFile(const AppendOnlyFile&) = delete;
    AppendOnlyFile& operator=(const AppendOnlyFile&) = delete;

    // Opens (creating it and its folders when missing) the file at path for appending. False
    // with the reason in error when it cannot be written.
    bool Open(const std::string& path, std::string& error);
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }

    // Appends record (a complete line with its end) in one write, then flushes it to the disk.
    // False with the reason in error when the write or the flush failed or wrote only part.
    bool Append(std::string_view record, std::string& error);

    void Close();

  private:
    // Each system's own parts (posix/, win32/); on failure errno says why.
    static int OpenForAppend(const std::string& path);  // a descriptor, or -1
    static bool IsRegularFile(int fd);
    static long long WriteOnce(int fd, std::string_view record);  // bytes written, or -1
    static bool SyncToDisk(int fd);
    static void CloseDescriptor(int fd);

    int fd_ = -1;
    std::string path_;
};

}  // namespace koru
