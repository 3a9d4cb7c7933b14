#pragma once

// A file of lines waiting to be sent somewhere (records the line database did not take): lines
// are added and taken under an exclusive lock on the file, so several processes can share it
// and none is lost or taken twice (flock on Linux, LockFileEx on Windows).

#include <cstddef>
#include <functional>
#include <string>

namespace koru {

// Appends text (whole lines) to the queue at path, made when new, and flushes it to the disk.
bool AppendToQueue(const std::string& path, const std::string& text, std::string& error);

// Offers every line of the queue to send, in order; the lines send refuses stay in the file,
// the others leave it. A missing file is an empty queue.
bool DrainQueue(const std::string& path, const std::function<bool(const std::string&)>& send,
                std::size_t& sent, std::size_t& left, std::string& error);

}  // namespace koru
