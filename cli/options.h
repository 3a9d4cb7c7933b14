#pragma once

// The command line of koru-cli.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace koru::cli {

enum class Command {
    Probe,
    BlankCheck,
    Checksum,
    ImageChecksum,
    Verify,
    Read,
    Erase,
    Protect,
    Program,
    Report,
    Ports,   // list the serial devices; needs no port
    Serial,  // serial define|status|release|find: the line database's serial jobs
    Sync,    // upload the records the line database has not taken yet
    Job,     // job create|show FILE: production job files; needs no port
};

// job create's settings beyond those every command has.
struct JobCreation {
    std::optional<std::string> code;          // --code: the code file whose range goes in
    std::optional<std::uint64_t> quota;       // --quota: passed chips per lot
    bool lock = false;                        // --lock: ask for a password
    std::optional<std::string> passwordFile;  // --password-file: its first line is the password
    std::optional<std::string> name, description, madeBy;
};

// serial define's description of a job, as typed.
struct SerialDefinition {
    std::optional<std::string> at, size, format, start, step, last, list, command;
};

struct Options {
    Command command = Command::Probe;
    std::string file;                 // the code file, or the output file of read
    std::uint8_t protectCode = 0;     // protect: the one-shot code
    std::optional<std::string> port;  // one port, or several separated by commas (program only)
    std::optional<std::string> log;   // the production record's file; default: the day file
    std::optional<bool> otp;          // chip kind; unset: the saved one
    std::optional<std::string> rangeStart, rangeEnd;  // as typed, read like the address fields
    bool fast = true;
    std::uint32_t steps = 0;  // auto option bits given on the command line
    bool stepsGiven = false;
    bool yes = false;
    bool beep = false;
    bool quiet = false;  // results only
    bool help = false;
    bool repeat = false;                   // program: round after round until the operator stops
    bool events = false;                   // --events jsonl: the event stream on standard output
    bool csv = false;                      // report: comma-separated values
    std::vector<std::string> reportArgs;   // report: files, days or day ranges
    std::optional<std::string> serialJob;  // program: the serial job of every chip
    std::optional<std::string> db;         // the line database (an SQLite file or a URI)
    bool json = false;                     // serial status: JSON
    bool force = false;                    // serial release: past the safety checks
    std::vector<std::string> serialArgs;   // serial: the words after it
    SerialDefinition define;               // serial define: the job's fields
    std::optional<std::string> html;       // report: also write the HTML page to this file
    std::optional<std::string> job;        // program: the job file that fixes the set-up
    std::optional<std::string> confirm;    // --job: the job checksum from the work order
    std::optional<std::string> lot;        // --job: the lot the chips go into; report: one lot
    std::vector<std::string> jobArgs;      // job: create|show FILE
    JobCreation creation;                  // job create
};

// The ports of --port, split at the commas; empty names are dropped.
std::vector<std::string> PortList(const std::string& ports);

// Parses argv[1..]. On failure returns nothing and puts the reason into error.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error);

// The --help text.
std::string UsageText();

}  // namespace koru::cli
