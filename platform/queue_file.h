#pragma once

// A file of lines waiting to be sent somewhere (records the line database did not take): lines
// are added and taken under an exclusive lock, so several processes can share it and none is
// lost or taken twice. The lock is on PATH.lock, which is never replaced (flock on Linux,
// LockFileEx on Windows). A crash in the middle of an append leaves a partial last line, which
// the next append cuts off into PATH.damaged (it never parses, and a line glued onto it would
// not either; a drain leaves it where it is), and the queue is rewritten through a new file,
// flushed to the disk and renamed over it, so a power cut leaves the old queue or the new one,
// never a part.

#include <cstddef>
#include <functional>
#include <string>

namespace koru {

// Appends text (whole lines) to the queue at path, made when new, and flushes it to the disk.
// damaged (when given) says what was cut off a partial last line first; empty when nothing.
bool AppendToQueue(const std::string& path, const std::string& text, std::string& error,
                   std::string* damaged = nullptr);

// Offers every line of the queue to send, in order; the lines send refuses stay in the file,
// the others leave it (a partial last line stays too, for the next append to judge). A missing
// file is an empty queue.
bool DrainQueue(const std::string& path, const std::function<bool(const std::string&)>& send,
                std::size_t& sent, std::size_t& left, std::string& error);

}  // namespace koru
