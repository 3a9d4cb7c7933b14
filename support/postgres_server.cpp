#include "support/postgres_server.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace koru::test {
namespace fs = std::filesystem;

namespace {

std::string FindServerBin() {
    const fs::path root = "/usr/lib/postgresql";
    std::error_code error;
    std::string best;
    for (const auto& entry : fs::directory_iterator(root, error)) {
        if (fs::exists(entry.path() / "bin" / "pg_ctl") && entry.path().string() > best) {
            best = entry.path().string();
        }
    }
    return best.empty() ? best : best + "/bin";
}

}  // namespace

PostgresServer::PostgresServer(bool durable) : durable_(durable) {
    char pattern[] = "/tmp/koru-pg-XXXXXX";
    if (::mkdtemp(pattern) != nullptr) {
        folder_ = pattern;
    }
    bin_ = FindServerBin();
    if (::geteuid() == 0) {
        asUser_ = "runuser -u nobody -- ";
    }
}

PostgresServer::~PostgresServer() {
    Stop();
    if (!folder_.empty()) {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
}

bool PostgresServer::RunBounded(const std::string& command) {
    const std::string line = "timeout 60 " + asUser_ + command + " >>" + folder_ + "/ctl.log 2>&1";
    return std::system(line.c_str()) == 0;
}

bool PostgresServer::Start() {
    if (folder_.empty() || bin_.empty()) {
        reason_ = "PostgreSQL's server programs are not installed (Debian package postgresql)";
        return false;
    }
    if (!asUser_.empty() &&
        std::system(("chown nobody " + folder_ + " && chmod 700 " + folder_).c_str()) != 0) {
        reason_ = "cannot hand the test folder to the user nobody";
        return false;
    }
    if (!RunBounded(bin_ + "/initdb -D " + folder_ + "/data -A trust -U koru --no-sync")) {
        reason_ = "initdb failed (see " + folder_ + "/ctl.log)";
        return false;
    }
    return Restart();
}

bool PostgresServer::Restart() {
    // fsync off unless asked: a test cluster needs no durability, and the disk is shared.
    running_ = RunBounded(bin_ + "/pg_ctl -D " + folder_ + "/data -l " + folder_ +
                          "/server.log -w -t 30 -o \"-k " + folder_ + " -c listen_addresses=''" +
                          (durable_ ? "" : " -c fsync=off") + "\" start");
    if (!running_) {
        reason_ = "the server did not start (see " + folder_ + "/server.log)";
    }
    return running_;
}

bool PostgresServer::Stop() {
    if (!running_) {
        return true;
    }
    running_ = !RunBounded(bin_ + "/pg_ctl -D " + folder_ + "/data -w -t 30 -m fast stop");
    return !running_;
}

std::string PostgresServer::Uri() const {
    return "postgresql://koru@/postgres?host=" + folder_;
}

}  // namespace koru::test
