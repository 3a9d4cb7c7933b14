#include "image/text_line_reader.h"

#include "platform/input_file.h"
#include "platform/sha256.h"

namespace koru {

TextLineReader::TextLineReader(InputFile& file, Sha256* digest)
    : file_(&file), digest_(digest), chunk_(kChunkBytes) {
    line_.reserve(kMaxLineChars);
}

TextLineReader::TextLineReader(std::string_view contents) : pending_(contents) {
    line_.reserve(kMaxLineChars);
}

bool TextLineReader::Refill() {
    if (file_ == nullptr || ended_ || failed_) {
        return false;
    }
    const std::optional<std::size_t> got = file_->Read(chunk_.data(), chunk_.size());
    if (got && *got > 0) {
        pending_ = std::string_view(chunk_.data(), *got);
        if (digest_ != nullptr) {
            digest_->Add(pending_);
        }
        return true;
    }
    if (got) {
        ended_ = true;
    } else {
        failed_ = true;
    }
    return false;
}

int TextLineReader::PeekRaw() {
    if (pending_.empty() && !Refill()) {
        return -1;
    }
    return static_cast<unsigned char>(pending_.front());
}

int TextLineReader::NextRaw() {
    const int c = PeekRaw();
    if (c >= 0) {
        pending_.remove_prefix(1);
    }
    return c;
}

bool TextLineReader::TakeWholeLine(std::string_view& line) {
    // An LF within reach: its CR LF pair reads as one character, so one more raw character
    // than the limit may end a line.
    const std::string_view reach = pending_.substr(0, kMaxLineChars + 1);
    const std::size_t lf = reach.find('\n');
    if (lf == std::string_view::npos) {
        return false;
    }
    const bool crLf = lf > 0 && reach[lf - 1] == '\r';
    const std::size_t length = crLf ? lf : lf + 1;
    if (length > kMaxLineChars) {
        return false;
    }
    if (crLf) {
        line_.assign(reach.data(), lf - 1);
        line_.push_back('\n');
        line = line_;
    } else {
        line = reach.substr(0, length);  // the text itself: no copy
    }
    pending_.remove_prefix(lf + 1);
    return true;
}

bool TextLineReader::NextLine(std::string_view& line) {
    if (TakeWholeLine(line)) {
        return true;
    }
    line_.clear();
    while (line_.size() < kMaxLineChars) {
        if (pending_.empty() && !Refill()) {
            break;
        }
        // Take the plain characters up to the next CR or LF in one piece.
        const std::size_t room = kMaxLineChars - line_.size();
        const std::string_view view = pending_.substr(0, room);
        std::size_t plain = 0;
        while (plain < view.size() && view[plain] != '\r' && view[plain] != '\n') {
            ++plain;
        }
        line_.append(view.substr(0, plain));
        pending_.remove_prefix(plain);
        if (plain == view.size()) {
            continue;
        }
        int c = NextRaw();
        if (c == '\r' && PeekRaw() == '\n') {
            c = NextRaw();  // CR LF reads as one LF
        }
        line_.push_back(static_cast<char>(c));
        if (c == '\n') {
            break;
        }
    }
    if (failed_) {
        return false;
    }
    line = line_;
    return !line_.empty();
}

}  // namespace koru
