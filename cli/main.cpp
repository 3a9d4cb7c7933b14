// koru-cli: the programmer's operations from a script, through the same logic side and the
// same port as the window, with a console in place of the window.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/console_window_services.h"
#include "cli/event_stream.h"
#include "cli/gang.h"
#include "cli/job_command.h"
#include "cli/line_commands.h"
#include "cli/line_run.h"
#include "cli/options.h"
#include "cli/port_resolver.h"
#include "cli/ports_command.h"
#include "cli/report_command.h"
#include "cli/safety.h"
#include "core/outcome.h"
#include "core/settings_words.h"
#include "core/shared_state.h"
#include "core/step_report.h"
#include "image/code_loader.h"
#include "image/hex_writer.h"
#include "image/program_memory.h"
#include "link/connection.h"
#include "link/port_errors.h"
#include "operations/auto_run_report.h"
#include "operations/job_install.h"
#include "operations/one_shot.h"
#include "operations/production_recorder.h"
#include "operations/runner.h"
#include "platform/com_ports.h"
#include "platform/output_file.h"
#include "platform/port_list.h"
#include "platform/serial_port.h"
#include "platform/settings_store.h"
#include "platform/terminal.h"

namespace koru::cli {
namespace {

// A gang's port runs show a long step's progress as lines of figures for the gang's live lines.
bool FigureLinesWanted() {
    const char* value = std::getenv(kFigureLinesVariable);
    return value != nullptr && std::string(value) == kFigureLinesValue;
}

// The saved settings of the window program.
struct Saved {
    std::optional<std::string> port;  // "COM1".."COM4"
    bool otp = false;
    std::uint32_t optionMarks = 0;
    bool lockedProduction = false;
    LineSettings line;  // the line database and the programs serial jobs may run
};

Saved ReadSavedSettings() {
    SettingsStore store(SettingsStore::PathForKey(kSettingsKey));
    store.Load();
    LoadComMappings(store);
    Saved saved;
    const std::string com = store.GetString(kValueCom).value_or("");
    if (com.size() == 4 && com.compare(0, 3, "com") == 0 && com[3] >= '1' && com[3] <= '4') {
        saved.port = "COM" + com.substr(3);
    }
    saved.otp = store.GetString(kValueChip).value_or("") == "sotp";
    const std::uint32_t autoFunc = store.GetNumber(kValueAutoFunc).value_or(kDefaultAutoFunc);
    const std::uint32_t options = store.GetNumber(kValueAuto).value_or(kDefaultAutoOptions);
    saved.optionMarks = OptionMarksAfterLoad(options, autoFunc);
    saved.lockedProduction = (autoFunc & kFuncLockedProduction) != 0;
    saved.line.database = store.GetString(kValueLineDb).value_or("");
    saved.line.serialCommands = store.GetString(kValueSerialCommands).value_or("");
    return saved;
}

// Runs one operation on the runner's worker, as the window would, and waits for its thread to
// end.
void Run(std::uint8_t code) {
    RunOperationToEnd(code);
}

class Session {
  public:
    Session(const Options& options, const Saved& saved, const OpenedJob* job = nullptr)
        : options_(options),
          job_(job),
          console_(MakeSelections(options, saved), stderr,
                   DisplayFor(stderr, options.quiet, FigureLinesWanted())),
          line_(options, saved.line) {
        if (options.events) {
            // Each event names the port as it was given, as the gang and the station know it.
            events_.emplace(stdout, options.port.value_or(saved.port.value_or("")));
        }
        InstallWindowServices(&console_);
        AutoFunc = kFuncAlwaysSet | (options.beep ? kFuncBuzzerOn : 0) |
                   (!options.stepsGiven && saved.lockedProduction ? kFuncLockedProduction : 0);
        console_.WriteField(TextField::StartAddress, "0000");
        console_.WriteField(TextField::EndAddress, "1FFF");
    }
    ~Session() { InstallWindowServices(nullptr); }

    // Runs the command; with --events, its outcome and exit status end the stream.
    int RunWithEvents(const Saved& saved) {
        const int status = RunCommand(saved);
        if (events_) {
            Outcome outcome = LastOutcome();
            if (status == kBadUsage && outcome.kind == OutcomeKind::Success) {
                outcome.kind = OutcomeKind::Refused;  // refused before any operation ran
                outcome.status =
                    line_.LotRefusal().empty() ? console_.LastStatus() : line_.LotRefusal();
            }
            events_->Outcome(outcome, status);
        }
        return status;
    }

    int RunCommand(const Saved& saved) {
        if (options_.command == Command::ImageChecksum) {
            return Finish(ImageChecksum());
        }
        const std::optional<std::string> port = options_.port ? options_.port : saved.port;
        if (!port) {
            std::fprintf(stderr, "koru-cli: no port given and none saved: use --port\n");
            return kNoProgrammer;
        }
        std::string error;
        const std::optional<std::string> device =
            ResolvePortArgument(*port, ListSerialPorts(), error);
        if (!device) {
            std::fprintf(stderr, "koru-cli: --port %s\n", error.c_str());
            return kBadUsage;
        }
        port_ = *device;
        // Everything that can be refused without the programmer is refused before it is
        // spoken to.
        if (const auto refusal = RefusalBeforeTraffic(options_, console_.IsOtp())) {
            std::fprintf(stderr, "koru-cli: %s\n", refusal->c_str());
            return kBadUsage;
        }
        // So is a production record that cannot be written.
        std::optional<ProductionRecorder> recorder;
        if (options_.command == Command::Program) {
            RecorderHandlers handlers;
            handlers.writeFailed = [](const std::string& reason) {
                std::fprintf(stderr,
                             "koru-cli: warning: the production record was not written: %s\n",
                             reason.c_str());
            };
            handlers.recorded = [this](const nlohmann::json& record) {
                line_.NoteRecord(record);
                if (events_) {
                    const nlohmann::json* serial =
                        record.contains("serial") ? &record["serial"] : nullptr;
                    events_->Record(record.value("id", ""),
                                    serial != nullptr ? serial->value("value", "") : "",
                                    LastOutcome());
                }
            };
            std::string error;
            if (!recorder.emplace(options_.log.value_or(""), &line_.Records(), handlers)
                     .Check(error)) {
                std::fprintf(stderr, "koru-cli: the production record cannot be written: %s\n",
                             error.c_str());
                return kBadUsage;
            }
            recorder->Start();
        }
        if (options_.command == Command::Read && !CheckOutput()) {
            return kBadUsage;
        }
        if (options_.command == Command::Verify || options_.command == Command::Program) {
            if (job_ != nullptr) {
                // The job's image, not a file on disk.
                InstallJob(job_->job, job_->checksum, options_.file, job_->lot);
            } else {
                console_.WriteField(TextField::CodeFileName, options_.file);
                LoadCodeFile();
            }
            if (FailureFlag != 0) {
                return Finish(kBadUsage);
            }
            const AddressRange loaded = GetChecksumRange();
            ApplyRange();
            const auto refusal =
                RefusalForLoadedRange(options_, loaded, {StartAddress, EndAddress});
            if (refusal) {
                std::fprintf(stderr, "koru-cli: %s\n", refusal->c_str());
                return kBadUsage;
            }
        }
        if (options_.command == Command::Program) {
            int status = line_.Start(options_, port_, StartAddress, EndAddress);
            if (status == kSuccess && job_ != nullptr) {
                status = line_.TakeLotPlace(
                    {job_->lot, job_->job.name, job_->checksum, job_->job.quota}, port_);
            }
            if (status != kSuccess) {
                return status;
            }
        }
        if (events_) {
            console_.SetStatusObserver([this](const std::string& text, bool result) {
                events_->Status(text, result, CurrentStep(),
                                LastOutcome().kind != OutcomeKind::Success);
            });
        }
        const auto probeStarted = std::chrono::system_clock::now();
        const auto probeStartedSteady = std::chrono::steady_clock::now();
        ProbePort(port_);
        if (ProgrammerFoundFlag == 0) {
            ExplainNoProgrammer();
            if (recorder) {
                RecordNoProgrammer(probeStarted, probeStartedSteady);
            }
            return DropUnusedOutput(Finish(ExitStatusFor(LastOutcome().kind)));
        }
        if (events_) {
            events_->Connected();
        }
        if (options_.command == Command::Probe) {
            return Finish(kSuccess);
        }
        ApplyRange();
        switch (options_.command) {
            case Command::BlankCheck:
                Run(kBlankCheck);
                break;
            case Command::Checksum:
                Run(kChipChecksum);
                break;
            case Command::Verify:
                Run(kVerifyChip);
                break;
            case Command::Read:
                Run(kCopyChipToImage);
                if (FailureFlag == 0 && !console_.QuestionRefused()) {
                    Run(kSaveHexFile);
                    ExplainSaveFailure();
                }
                break;
            case Command::Erase:
                Run(kEraseMtp);
                break;
            case Command::Protect:
                Run(options_.protectCode);
                break;
            case Command::Program:
                Run(kBufferChecksum);
                Run(kAutoProgram);
                break;
            case Command::Probe:
            case Command::ImageChecksum:
            case Command::Report:
            case Command::Ports:
            case Command::Serial:
            case Command::Sync:
            case Command::Job:
                break;
        }
        std::string after = line_.SerialText();
        if (const std::string lot = line_.FinishLot(); !lot.empty()) {
            after += (after.empty() ? "" : "  ") + lot;
            if (const auto progress = line_.LastLotProgress(); progress && events_) {
                events_->Lot(progress->name, progress->passed, progress->quota);
            }
        }
        const int status = Finish(ExitStatusFor(LastOutcome().kind), after);
        if (LastOutcome().kind == OutcomeKind::LinkLost) {
            ExplainLinkLost();
        } else if (LastOutcome().kind == OutcomeKind::NoAnswer) {
            std::fprintf(stderr,
                         "koru-cli: the programmer on %s gave no answer where one was due (it "
                         "fell silent or restarted); the chip was not judged\n",
                         SerialPort::DevicePathFor(port_).c_str());
        }
        return DropUnusedOutput(status);
    }

  private:
    static ConsoleSelections MakeSelections(const Options& options, const Saved& saved) {
        ConsoleSelections selections;
        selections.otp = options.otp.value_or(saved.otp);
        selections.autoOptions = options.stepsGiven ? options.steps : saved.optionMarks;
        selections.fast = options.fast;
        selections.yes = options.yes;
        selections.savePath = options.command == Command::Read ? options.file : "";
        return selections;
    }

    // The range of --range, read like the address fields; else the fields as they stand.
    void ApplyRange() {
        if (options_.rangeStart) {
            console_.WriteField(TextField::StartAddress, *options_.rangeStart);
            console_.WriteField(TextField::EndAddress, *options_.rangeEnd);
        }
        ReadAddressRange();
    }

    int ImageChecksum() {
        console_.WriteField(TextField::CodeFileName, options_.file);
        LoadCodeFile();
        if (FailureFlag != 0) {
            return kBadUsage;
        }
        ApplyRange();
        BufferChecksum();
        return ExitStatusFor(LastOutcome().kind);
    }

    // read: the output is opened (made when new) before the chip is read at all.
    bool CheckOutput() {
        const OutputCheck check = CheckOutputPath(options_.file);
        if (!check.problem.empty()) {
            std::fprintf(stderr, "koru-cli: cannot write %s: %s\n", options_.file.c_str(),
                         check.problem.c_str());
            return false;
        }
        outputCreated_ = check.created;
        return true;
    }

    // An output that read made for its check, and then never saved into, does not stay.
    int DropUnusedOutput(int status) const {
        if (outputCreated_ && status != kSuccess) {
            RemoveCreatedFile(options_.file);
        }
        return status;
    }

    void ExplainSaveFailure() const {
        const std::string reason = LastSaveErrorText();
        if (FailureFlag != 0 && !reason.empty()) {
            console_.FinishLine();
            std::fprintf(stderr, "koru-cli: cannot write %s: %s\n", options_.file.c_str(),
                         reason.c_str());
        }
    }

    void ExplainLinkLost() const {
        std::fprintf(stderr,
                     "koru-cli: the link to the programmer on %s was lost: the port has gone "
                     "away or hung up (cable, adapter or programmer); the chip was not judged\n",
                     SerialPort::DevicePathFor(port_).c_str());
    }

    // program leaves a trace of a station whose programmer did not answer: a record of a run
    // that touched no chip.
    static void RecordNoProgrammer(std::chrono::system_clock::time_point started,
                                   std::chrono::steady_clock::time_point startedSteady) {
        AutoRunReport report;
        report.started = started;
        report.duration = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - startedSteady);
        report.outcome = LastOutcome();
        report.successCount = SuccessCount;
        report.failureCount = FailureCount;
        ReportAutoRun(report);
    }

    // Why the probe found no programmer: a lost link (even when the retry then found the
    // port gone), the port's own error, or silence.
    void ExplainNoProgrammer() const {
        console_.FinishLine();
        const PortOpenError error = Port().LastOpenError();
        if (LastOutcome().kind == OutcomeKind::LinkLost) {
            ExplainLinkLost();
        } else if (!Port().IsOpen() && error.failure != PortOpenFailure::None) {
            std::fprintf(stderr, "koru-cli: %s\n", PortOpenErrorText(error).c_str());
        } else if (LastOutcome().kind == OutcomeKind::Refused && !Port().LineRefusal().empty()) {
            std::fprintf(stderr,
                         "koru-cli: %s: the driver cannot carry the programmer's line: %s\n",
                         SerialPort::DevicePathFor(port_).c_str(), Port().LineRefusal().c_str());
        } else {
            std::fprintf(stderr, "koru-cli: no programmer answered on %s\n",
                         SerialPort::DevicePathFor(port_).c_str());
        }
    }

    // serial: the value just programmed and the next one, after the status. With --events
    // standard output carries only events: the line goes to standard error.
    int Finish(int status, const std::string& serial = {}) {
        console_.FinishLine();
        std::FILE* const out = events_ ? stderr : stdout;
        std::fprintf(out, "%s%s%s\n", console_.LastStatus().c_str(), serial.empty() ? "" : "  ",
                     serial.c_str());
        std::fflush(out);
        return status;
    }

    const Options& options_;
    const OpenedJob* job_;
    mutable ConsoleWindowServices console_;
    std::string port_;
    bool outputCreated_ = false;
    LineRun line_;
    std::optional<EventStream> events_;  // --events: the stream on standard output
};

}  // namespace
}  // namespace koru::cli

int main(int argc, char** argv) {
    using namespace koru::cli;
    koru::UseUtf8Console();
    std::string error;
    const auto options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        // The reason last, where the eye lands, not above the whole help text.
        std::fprintf(stderr, "koru-cli: %s\nRun 'koru-cli --help' for the commands and options.\n",
                     error.c_str());
        return kBadUsage;
    }
    if (options->help) {
        std::fputs(UsageText().c_str(), stdout);
        return kSuccess;
    }
    if (options->command == Command::Report && !options->db) {
        return RunReport(options->reportArgs, options->csv, options->html, options->lot);
    }
    if (options->command == Command::Report || options->command == Command::Serial ||
        options->command == Command::Sync) {
#if KORU_WITH_LINEDB
        return RunLineCommand(*options, ReadSavedSettings().line.database);
#else
        std::fprintf(stderr, "koru-cli: %s: %s\n",
                     options->command == Command::Report ? "--db"
                     : options->command == Command::Sync ? "sync"
                                                         : "serial",
                     koru::kNoLineDatabaseText);
        return kBadUsage;
#endif
    }
    if (options->command == Command::Job) {
        const Saved saved = ReadSavedSettings();
        return RunJobCommand(*options, saved.optionMarks, saved.line.database);
    }
    // A job is opened and confirmed before any port is: a gang's ports each open it again.
    Options run = *options;
    std::optional<OpenedJob> job;
    if (run.job) {
        int status = kSuccess;
        job = OpenJobForRun(run, ReadSavedSettings().line.database, status);
        if (!job) {
            return status;
        }
    }
    if (IsGang(run)) {
        std::vector<std::string> args(argv + 1, argv + argc);
        if (job && !options->lot) {
            // Every port's run counts into the lot named here, even past midnight.
            args.insert(args.begin(), {"--lot", job->lot});
        }
        return RunGang(run, args);
    }
    if (run.command == Command::Ports) {
        return RunPortsCommand();
    }
    const Saved saved = ReadSavedSettings();
    Session session(run, saved, job ? &*job : nullptr);
    return session.RunWithEvents(saved);
}
