#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/serial_port.h"

namespace koru::test {

// A SerialPort without a device: reads are served from scripted pieces, every call is
// recorded. Install it with InstallPort(&port) (and InstallPort(nullptr) afterwards).
class ScriptedSerialPort : public SerialPort {
  public:
    // Bytes a later read takes; a read takes at most what is left of the first piece, so pieces
    // mark where a peer paused. An empty piece makes one read come back with nothing.
    std::deque<std::vector<std::uint8_t>> readPieces;
    // Largest count one write accepts; 0 makes every write stall.
    std::size_t writeLimit = SIZE_MAX;
    // False makes every primitive fail, like a removed adapter.
    bool alive = true;

    std::vector<std::size_t> readRequests;   // count asked of each read
    std::vector<std::size_t> writeRequests;  // count asked of each write
    std::vector<std::uint8_t> written;       // what the writes accepted, in order
    std::vector<PortTimeouts> timeouts;      // each SetTimeouts
    std::vector<int> failureFlagAtRead;      // FailureFlag as each read began
    std::function<void()> onPurge;           // runs inside each Purge, on the caller's thread
    int clearErrorCalls = 0;
    int clearBreakCalls = 0;
    int purgeCalls = 0;
    int configureCalls = 0;

    bool Open(std::string_view) override { return alive; }
    void Close() override {}
    bool IsOpen() const override { return true; }
    bool SetupQueues(std::size_t, std::size_t) override { return alive; }
    bool ClearErrors() override {
        ++clearErrorCalls;
        return alive;
    }
    bool ClearBreak() override {
        ++clearBreakCalls;
        return alive;
    }
    bool Purge() override {
        ++purgeCalls;
        if (onPurge) {
            onPurge();
        }
        return alive;
    }
    bool ConfigureLine() override {
        ++configureCalls;
        return alive;
    }
    void SetTimeouts(const PortTimeouts& t) override { timeouts.push_back(t); }
    std::size_t Read(std::uint8_t* buffer, std::size_t count) override;
    std::size_t Write(const std::uint8_t* buffer, std::size_t count) override;
    bool WaitTransmitEmpty() override { return alive; }

    void AddPiece(std::string_view text) { readPieces.emplace_back(text.begin(), text.end()); }
};

}  // namespace koru::test
