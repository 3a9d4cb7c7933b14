#include "tests/support/scripted_serial_port.h"

#include <algorithm>

#include "core/shared_state.h"

namespace koru::test {

std::size_t ScriptedSerialPort::Read(std::uint8_t* buffer, std::size_t count) {
    readRequests.push_back(count);
    failureFlagAtRead.push_back(FailureFlag);
    if (!alive || readPieces.empty()) {
        return 0;
    }
    std::vector<std::uint8_t>& piece = readPieces.front();
    const std::size_t taken = std::min(count, piece.size());
    std::copy_n(piece.begin(), taken, buffer);
    piece.erase(piece.begin(), piece.begin() + static_cast<long>(taken));
    if (piece.empty()) {
        readPieces.pop_front();
    }
    return taken;
}

std::size_t ScriptedSerialPort::Write(const std::uint8_t* buffer, std::size_t count) {
    writeRequests.push_back(count);
    if (!alive) {
        return 0;
    }
    const std::size_t accepted = std::min(count, writeLimit);
    written.insert(written.end(), buffer, buffer + accepted);
    return accepted;
}

}  // namespace koru::test
