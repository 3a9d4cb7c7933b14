#pragma once

// A throw-away PostgreSQL server for the tests and the benchmarks: initdb and pg_ctl of
// Debian's postgresql package in a temporary folder, listening on a Unix socket there only (no
// TCP port). As root the server runs as "nobody", since initdb refuses root. Every start and
// stop is bounded in time, and the destructor always stops the server.

#include <string>

namespace koru::test {

class PostgresServer {
  public:
    // durable: the server syncs its commits to the disk as a production server does (tests
    // leave it off: they judge logic, not durability).
    explicit PostgresServer(bool durable = false);
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // Creates the cluster and starts the server. False with the reason in SkipReason().
    bool Start();
    bool Stop();     // a fast shutdown; true when it stopped
    bool Restart();  // the same cluster again

    // The connection URI of its "postgres" database over the socket.
    std::string Uri() const;
    const std::string& SkipReason() const { return reason_; }

  private:
    bool RunBounded(const std::string& command);

    std::string folder_;
    std::string bin_;
    std::string asUser_;  // "runuser -u nobody -- " as root, else empty
    std::string reason_;
    bool running_ = false;
    bool durable_ = false;
};

}  // namespace koru::test
