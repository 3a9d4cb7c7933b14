#pragma once

// Reads a text file line by line the way a code file is read: CR LF and LF both end a line and
// reach the caller as a single LF, a lone CR is an ordinary character, and a line longer than
// the limit is cut there, its rest coming back as the next line.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace koru {

class InputFile;
class Sha256;

// Characters of one line handed over at most, line end included.
inline constexpr std::size_t kMaxLineChars = 1023;

class TextLineReader {
  public:
    // Reads from an open file, which the caller keeps and closes. Every byte read is also
    // added to digest, when one is given, so that the caller learns what the text it was handed
    // came from without reading the file again.
    explicit TextLineReader(InputFile& file, Sha256* digest = nullptr);
    // Reads from text held in memory, which must outlive the reader.
    explicit TextLineReader(std::string_view contents);

    TextLineReader(const TextLineReader&) = delete;
    TextLineReader& operator=(const TextLineReader&) = delete;

    // The next line, its LF included when it had one; valid until the next call. Returns
    // false at the end of the text or when reading failed (then Failed() is true).
    bool NextLine(std::string_view& line);

    bool Failed() const { return failed_; }

  private:
    static constexpr std::size_t kChunkBytes = 64 * 1024;

    // The next character of the raw text, or -1 at its end or on a read error.
    int NextRaw();
    int PeekRaw();
    bool Refill();
    // The common case: a whole line, LF included and not longer than the limit, lies in the
    // characters read. Takes it and returns true; otherwise leaves everything as it was.
    bool TakeWholeLine(std::string_view& line);

    InputFile* file_ = nullptr;
    Sha256* digest_ = nullptr;
    std::vector<char> chunk_;
    std::string_view pending_;  // raw characters not consumed yet
    bool failed_ = false;
    bool ended_ = false;
    std::string line_;
};

}  // namespace koru
