// What every backend's output file shares: text gathered into pieces before it is written.

#include "platform/output_file.h"

namespace koru {

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

bool OutputFile::Flush() {
    const bool ok = WriteAll(buffer_);
    buffer_.clear();
    return ok;
}

}  // namespace koru
