#include "cli/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <map>

#include "cli/event_stream.h"
#include "core/shared_state.h"
#include "image/numbers.h"
#include "operations/job_file.h"
#include "operations/one_shot.h"

namespace koru::cli {
namespace {

const std::map<std::string, Command>& CommandNames() {
    static const std::map<std::string, Command> names{
        {"probe", Command::Probe},       {"blank-check", Command::BlankCheck},
        {"checksum", Command::Checksum}, {"image-checksum", Command::ImageChecksum},
        {"verify", Command::Verify},     {"read", Command::Read},
        {"erase", Command::Erase},       {"protect", Command::Protect},
        {"program", Command::Program},   {"ports", Command::Ports},
        {"report", Command::Report},     {"serial", Command::Serial},
        {"sync", Command::Sync},         {"job", Command::Job},
    };
    return names;
}

const std::map<std::string, std::uint32_t>& StepOptions() {
    static const std::map<std::string, std::uint32_t> steps{
        {"--blank-check", kAutoBlankCheck},
        {"--erase", kAutoEraseMtp},
        {"--verify", kAutoVerify},
        {"--read-protect", kAutoReadProtect},
        {"--ldc-protect", kAutoLdcProtect},
        {"--hw-protect", kAutoHwProtect},
        {"--smart", kAutoSmart},
    };
    return steps;
}

std::map<std::string, std::optional<std::string>*> DefineOptions(SerialDefinition& define) {
    return {{"--at", &define.at},       {"--size", &define.size},      {"--format", &define.format},
            {"--start", &define.start}, {"--step", &define.step},      {"--last", &define.last},
            {"--list", &define.list},   {"--command", &define.command}};
}

// The commands that open a port and speak to the programmer there.
bool SpeaksToProgrammer(Command command) {
    switch (command) {
        case Command::Probe:
        case Command::BlankCheck:
        case Command::Checksum:
        case Command::Verify:
        case Command::Read:
        case Command::Erase:
        case Command::Protect:
        case Command::Program:
            return true;
        case Command::ImageChecksum:
        case Command::Report:
        case Command::Ports:
        case Command::Serial:
        case Command::Sync:
        case Command::Job:
            break;
    }
    return false;
}

bool NeedsFile(const Options& options) {
    const Command command = options.command;
    return command == Command::ImageChecksum || command == Command::Verify ||
           command == Command::Read || (command == Command::Program && !options.job);
}

bool IsHexText(const std::string& text) {
    return !text.empty() && text.size() <= 40 && AllCharsIn(text, "0123456789ABCDEFabcdef");
}

}  // namespace

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error) {
    // CLI11 reads the flat argument list: options before or after the command's words, which
    // are all positionals. What the words mean and which options go with which command are
    // checked below, with our own texts; the help text is ours too.
    Options options;
    std::vector<std::string> words;
    std::optional<std::string> range;
    CLI::App app;
    app.set_help_flag();
    app.allow_windows_style_options(false);  // "/x" is a path, on Windows too
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_option("words", words);
    app.add_flag("-h,--help", options.help);
    // A value option's type name says what it needs: "--log needs a file".
    const auto value = [&](const char* name, std::optional<std::string>& target, const char* what) {
        app.add_option_function<std::string>(name, [&target](const std::string& v) { target = v; })
            ->type_name(what);
    };
    value("--port", options.port, "a port (COM1..COM4, a device path or a by-id name fragment)");
    value("--log", options.log, "a file");
    value("--serial", options.serialJob, "a serial job's name");
    value("--db", options.db, "an SQLite file or a URI");
    value("--html", options.html, "a file");
    value("--range", range, "START-END in hexadecimal");
    value("--job", options.job, "a job file");
    value("--confirm", options.confirm, "the job checksum");
    value("--lot", options.lot, "a lot's name");
    std::optional<std::string> events;
    value("--events", events, "a format (jsonl)");
    JobCreation& creation = options.creation;
    value("--code", creation.code, "a code file");
    value("--password-file", creation.passwordFile, "a file");
    value("--name", creation.name, "a name");
    value("--description", creation.description, "a text");
    value("--by", creation.madeBy, "a name");
    std::optional<std::string> quota;
    value("--quota", quota, "a number of passed chips");
    app.add_flag("--lock", creation.lock);
    for (const auto& [name, target] : DefineOptions(options.define)) {
        value(name.c_str(), *target, "a value");
    }
    bool otp = false;
    CLI::Option* const kind = app.add_flag("--otp,!--mtp", otp);
    CLI::Option* const speed = app.add_flag("--fast,!--slow", options.fast);
    app.add_flag("--json", options.json);
    app.add_flag("--force", options.force);
    app.add_flag("--repeat", options.repeat);
    app.add_flag("--csv", options.csv);
    app.add_flag("--yes", options.yes);
    app.add_flag("--beep", options.beep);
    app.add_flag("--quiet", options.quiet);
    for (const auto& [name, step] : StepOptions()) {
        app.add_flag_callback(name, [&options, step = step] {
            options.steps |= step;
            options.stepsGiven = true;
        });
    }
    try {
        app.parse(std::vector<std::string>(args.rbegin(), args.rend()));  // CLI11 pops the back
    } catch (const CLI::ExtrasError&) {
        const std::vector<std::string> unknown = app.remaining();
        error = "unknown option " + (unknown.empty() ? std::string() : unknown.front());
        return std::nullopt;
    } catch (const CLI::ArgumentMismatch& mismatch) {
        // The list ended where an option's value should be ("--log" or "--log=").
        const std::string last = args.empty() ? std::string() : args.back();
        const std::string name = last.substr(0, last.find('='));
        const CLI::Option* const option = app.get_option_no_throw(name);
        error = option ? name + " needs " + option->get_type_name() : mismatch.what();
        return std::nullopt;
    } catch (const CLI::ParseError& other) {
        error = other.what();
        return std::nullopt;
    }
    if (kind->count() != 0) {
        options.otp = otp;
    }
    if (range) {
        const std::size_t dash = range->find('-');
        if (dash == std::string::npos || !IsHexText(range->substr(0, dash)) ||
            !IsHexText(range->substr(dash + 1))) {
            error = "--range takes START-END in hexadecimal, for example 0000-1FFF";
            return std::nullopt;
        }
        options.rangeStart = range->substr(0, dash);
        options.rangeEnd = range->substr(dash + 1);
    }
    if (options.help) {
        return options;
    }
    if (words.empty()) {
        error = "no command given";
        return std::nullopt;
    }
    const auto command = CommandNames().find(words[0]);
    if (command == CommandNames().end()) {
        error = "unknown command " + words[0];
        return std::nullopt;
    }
    options.command = command->second;
    std::size_t expected = 1;
    if (options.command == Command::Protect) {
        static const std::map<std::string, std::uint8_t> kinds{
            {"read", kReadProtect}, {"ldc", kLdcProtect}, {"hw", kHwWriteProtect}};
        if (words.size() < 2 || kinds.count(words[1]) == 0) {
            error = "protect takes read, ldc or hw";
            return std::nullopt;
        }
        options.protectCode = kinds.at(words[1]);
        expected = 2;
    } else if (options.command == Command::Job) {
        if (words.size() < 2 || (words[1] != "create" && words[1] != "show")) {
            error = "job takes create or show";
            return std::nullopt;
        }
        if (words.size() < 3) {
            error = "job " + words[1] + " needs a job file";
            return std::nullopt;
        }
        options.jobArgs.assign(words.begin() + 1, words.begin() + 3);
        expected = 3;
    } else if (NeedsFile(options)) {
        if (words.size() < 2) {
            error = words[0] + " needs a file";
            return std::nullopt;
        }
        options.file = words[1];
        expected = 2;
    } else if (options.command == Command::Report) {
        options.reportArgs.assign(words.begin() + 1, words.end());
        expected = words.size();
    } else if (options.command == Command::Serial) {
        options.serialArgs.assign(words.begin() + 1, words.end());
        expected = words.size();
        static const std::vector<std::string> kWhat{"define", "status", "release", "find"};
        if (words.size() < 2 || std::find(kWhat.begin(), kWhat.end(), words[1]) == kWhat.end()) {
            error = "serial takes define, status, release or find";
            return std::nullopt;
        }
    }
    if (options.force &&
        (options.command != Command::Serial || options.serialArgs.at(0) != "release")) {
        error = "--force works only with serial release";
        return std::nullopt;
    }
    if (quota) {
        if (quota->empty() || quota->size() > 18 || !AllCharsIn(*quota, "0123456789") ||
            std::stoull(*quota) == 0) {
            error = "--quota takes a number of passed chips, at least 1";
            return std::nullopt;
        }
        creation.quota = std::stoull(*quota);
    }
    const bool creating = options.command == Command::Job && options.jobArgs[0] == "create";
    if (!creating && (creation.code || creation.quota || creation.lock || creation.passwordFile ||
                      creation.name || creation.description || creation.madeBy)) {
        error =
            "--code, --quota, --lock, --password-file, --name, --description and --by work "
            "only with job create";
        return std::nullopt;
    }
    if (creating && !creation.code) {
        error = "job create needs --code with the code file";
        return std::nullopt;
    }
    if (creating && !options.otp) {
        error = "job create needs the chip kind: --otp or --mtp";
        return std::nullopt;
    }
    if (creation.passwordFile && !creation.lock) {
        error = "--password-file works only with --lock";
        return std::nullopt;
    }
    if (options.job && options.command != Command::Program) {
        error = "--job works only with program";
        return std::nullopt;
    }
    if (options.confirm && !options.job) {
        error = "--confirm works only with --job";
        return std::nullopt;
    }
    if (options.lot) {
        if (!options.job && options.command != Command::Report) {
            error = "--lot works only with --job and with report";
            return std::nullopt;
        }
        if (const std::string problem = LotNameProblem(*options.lot); !problem.empty()) {
            error = "--lot: " + problem;
            return std::nullopt;
        }
    }
    if (options.job) {
        // The job fixes the code, the range, the chip kind, the steps and the serial job.
        std::string fixed;
        const auto note = [&fixed](bool given, const char* what) {
            if (given) {
                fixed += (fixed.empty() ? "" : ", ") + std::string(what);
            }
        };
        note(words.size() > 1, "a code file");
        note(range.has_value(), "--range");
        note(kind->count() != 0, "--otp/--mtp");
        note(options.stepsGiven, "step options");
        note(speed->count() != 0, "--fast/--slow");
        note(options.serialJob.has_value(), "--serial");
        if (!fixed.empty()) {
            error = "the job fixes " + fixed + ": leave them out with --job";
            return std::nullopt;
        }
    }
    if (options.serialJob && options.command != Command::Program && !creating) {
        error = "--serial works only with program and job create";
        return std::nullopt;
    }
    if (options.port && PortList(*options.port).empty()) {
        error = "--port needs a port name";
        return std::nullopt;
    }
    const bool gang = options.port && PortList(*options.port).size() > 1;
    if ((gang || options.repeat) && options.command != Command::Program) {
        error = "several ports and --repeat work only with program";
        return std::nullopt;
    }
    if (events) {
        if (*events != kEventFormat) {
            error = "--events takes jsonl";
            return std::nullopt;
        }
        if (!SpeaksToProgrammer(options.command)) {
            error = "--events works only with the commands that speak to a programmer";
            return std::nullopt;
        }
        options.events = true;
    }
    if (options.html && options.command != Command::Report) {
        error = "--html works only with report";
        return std::nullopt;
    }
    if (words.size() > expected) {
        error = "unexpected " + words[expected];
        return std::nullopt;
    }
    return options;
}

std::vector<std::string> PortList(const std::string& ports) {
    std::vector<std::string> list;
    std::size_t begin = 0;
    while (begin <= ports.size()) {
        const std::size_t comma = std::min(ports.find(',', begin), ports.size());
        if (comma > begin) {
            list.push_back(ports.substr(begin, comma - begin));
        }
        begin = comma + 1;
    }
    return list;
}

std::string UsageText() {
    return R"(usage: koru-cli [options] COMMAND [FILE]

Runs the KORU programmer's operations from a script, through the same engine as the window.

commands:
  probe                  look for the programmer on the port
  blank-check            is the chip blank over the range?
  checksum               the chip's checksum over the range
  image-checksum FILE    load FILE and print the checksum of its range (no programmer)
  verify FILE            load FILE and compare the chip with it
  read OUT.hex           copy the chip's range into the image and save it as HEX (needs --yes)
  erase                  erase an MTP chip
  protect read|ldc|hw    read protection, LDC protection or hardware write protection
  program FILE           load FILE and auto-program the chip with the chosen steps; each
                         chip goes to the production record
  ports                  list the serial devices present (opens none of them)
  report [FILE|DAY|DAY..DAY]...
                         summarise production records per code file and per port, and per
                         job and lot where records name them (default: today's); DAY is
                         2026-12-07, read from the production record folder; with --db, every
                         record of the line database, per host as well; --lot NAME: that lot's
                         records only
  serial define JOB --at ADDR --size N --format le|be|bcd|ascii|hex --start V [--step S]
                [--last V]
  serial define JOB --at ADDR --size N --list FILE
  serial define JOB --at ADDR --size N --command 'PROGRAM [ARGS]'
                         define a serial job in the line database: a counter, a list of
                         hexadecimal values (imported now), or a program run per chip (only
                         when its whole command line is listed in this PC's "serialcommands")
  serial status [JOB] [--json]
                         each job's next value, spent, passed, failed and left, and the values
                         reserved but not yet spent (host, port, process, time)
  serial release JOB VALUE [--force]
                         return a reserved value that never reached a chip; refused while
                         its process runs, once data for a chip started to go out
                         ("sending") or when a record names it: --force, after checking that
                         chip, releases it all the same, and the database keeps who did
  serial find VALUE      every record of that value: job, host, port, time, file, outcome
  sync                   upload the production records the line database has not taken yet
  job create JOB.korujob --code FILE --otp|--mtp [--range START-END] [step options]
                [--serial JOB] [--quota N] [--lock [--password-file FILE]]
                [--name NAME] [--description TEXT] [--by WHO]
                         make a production job: the code file's bytes over the range, the chip
                         kind, the steps (default: the saved ones), the serial job and the lot
                         quota, sealed by the job checksum it prints; --lock asks for a
                         password on the terminal (never on the command line)
  job show JOB.korujob   every setting of the job, its checksum and the image checksum

options:
  --port PORT            COM1..COM4 (KORU_COM1..KORU_COM4, else the window program's port
                         settings, else /dev/ttyS0..3), a device path, or a fragment of a
                         /dev/serial/by-id/ name (e.g. a serial number) that matches exactly
                         one device; default: the port saved by the window program. program
                         takes several, separated by commas: one programmer per port, all
                         at once (gang programming)
  --repeat               program: round after round; Enter starts the next, q or Ctrl-D ends
  --job JOB.korujob      program: program the job's image with the job's chip kind, range,
                         steps and serial job (no FILE; those options are refused); each
                         record carries the job's name and checksum
  --confirm CHECKSUM     with --job: the job checksum from the work order (its first 8 digits
                         or more); a job whose checksum differs is refused before any traffic
  --lot NAME             with --job: the lot the chips go into (default: the job's name and
                         the date, "BOARD-A 2026-12-08"); a job with a quota counts its passed
                         chips per lot in the line database (gang and PCs share it) and refuses
                         the next chip before any traffic once the lot is complete (本批已完成);
                         the chip that completes it writes the lot report lot-NAME.html beside
                         the day files; report: that lot's records only
  --log FILE             program: append the production record to FILE instead of the day
                         file $XDG_STATE_HOME/lumatrix/production/DATE.jsonl (Windows:
                         %LOCALAPPDATA%\lumatrix\production\DATE.jsonl)
  --csv                  report: comma-separated values for a spreadsheet
  --html FILE            report: also write one self-contained HTML page with charts (chips
                         per hour, yield per port and per PC, failures by step, programming
                         times per port) and the tables
  --serial JOB           program: stamp each chip with the next value of the serial job
  --db URI               the line database: an SQLite file or a PostgreSQL URI; default: the
                         settings value "linedb", else KORU_DB, else
                         $XDG_STATE_HOME/lumatrix/line.sqlite (Windows:
                         %LOCALAPPDATA%\lumatrix\line.sqlite)
  --json                 serial status: JSON
  --force                serial release: release a value the checks hold back (logged)
  --at --size --format --start --step --last --list --command
                         serial define: the job's address (hexadecimal), size in bytes (1 to
                         16) and source, as shown above; counter values are decimal
  --code FILE            job create: the code file whose range goes into the job
  --quota N              job create: the lot's quota of passed chips
  --lock                 job create: lock the job with a password typed on the terminal
  --password-file FILE   job create --lock: the password is the file's first line (scripts)
  --name NAME --description TEXT --by WHO
                         job create: the job's name (default: the file's name without
                         .korujob), a free description, who made it (default: $USER)
  --otp, --mtp           chip kind; default: the saved one
  --range START-END      hexadecimal addresses, read like the window's address fields (the
                         last four digits count); default: the loaded file's range, or 0000-1FFF
  --fast, --slow         fast mode (default) or the slow pauses
  --blank-check --erase --verify --read-protect --ldc-protect --hw-protect --smart
                         the steps of program; without any, program uses the saved settings
                         of the window program (erase, SMART, hardware protection: MTP only)
  --yes                  answer yes to the confirmation questions
  --beep                 sound the buzzer as the window does
  --quiet                show only the results of the steps, no progress
  --events jsonl         machine-readable events on standard output, one JSON object a line
                         (version 1: connected, step, progress, step-result, record, waiting,
                         outcome; see the manual page); the status lines stay on standard
                         error
  --help                 this text

Status lines go to standard error as they change; the last one also goes to standard output.
On a terminal, a long step (program, verify, read, blank check, checksum, erase) shows one line
with bytes done of the total, percent, bytes per second and time left, redrawn in place until
the step's result replaces it.

Refused before anything is sent: erase, protect ldc and protect hw for OTP chips, a reversed
--range, program and verify of a file whose range does not fit the four-digit address fields
(name it with --range), read without --yes, and read into an output that cannot be written.

exit status:
  0  success
  1  the chip failed (not blank, differs, wrong checksum, refused by the programmer) or the
     programmer reported a supply fault
  2  the link was lost (the port went away or hung up) or no programmer answered
  3  refused: bad usage, an unreadable or invalid file, a bad range, a command the chip kind
     does not have, an output that cannot be written, a question without --yes, a
     production record that cannot be written, a damaged job file or a job checksum that
     differs from --confirm, a lot that has its quota (本批已完成), or a serial job
     that cannot give this chip a value (used up, outside the range, no database)
     (nothing is sent to the chip then)
  several ports: 0 when every port succeeded, else the most serious of the ports' codes
)";
}

}  // namespace koru::cli
