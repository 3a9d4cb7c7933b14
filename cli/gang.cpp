#include "cli/gang.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>

#include "cli/event_stream.h"
#include "cli/gang_display.h"
#include "operations/production_log.h"
#include "platform/child_process.h"

namespace koru::cli {
namespace {

constexpr int kNoProgrammer = 2;
constexpr int kBadUsage = 3;
constexpr int kSignalBase = 128;
constexpr auto kDisplayPeriod = std::chrono::milliseconds(100);

struct PortTotals {
    std::uint64_t passed = 0;
    std::uint64_t failed = 0;
};

// One port's run in progress.
struct PortRun {
    ChildProcess child;
    std::string output;
    std::string errors;        // with --events: its status lines, apart from its events
    bool outcomeSeen = false;  // with --events: it wrote its outcome
    std::chrono::steady_clock::time_point started;
    PortResult result;
    bool ended = false;
};

// With --events: passes the whole lines of a port's events in output on to standard output,
// one write each, so the ports' lines never mix; a part line waits for its end.
void ForwardEvents(PortRun& run) {
    std::size_t begin = 0;
    for (std::size_t end = run.output.find('\n'); end != std::string::npos;
         end = run.output.find('\n', begin)) {
        const std::string_view line(run.output.data() + begin, end - begin);
        const auto event = ParseEvent(line);
        if (event) {
            run.outcomeSeen = run.outcomeSeen || (*event)["type"] == "outcome";
            std::fwrite(run.output.data() + begin, 1, end + 1 - begin, stdout);
        } else if (!line.empty()) {
            // Not an event: it goes with the human texts, never into the stream.
            std::fprintf(stderr, "%s: %.*s\n", run.result.port.c_str(),
                         static_cast<int>(line.size()), line.data());
        }
        begin = end + 1;
    }
    run.output.erase(0, begin);
    std::fflush(stdout);
}

// With --events: a port's run ended; one that stated no outcome (it crashed, was killed or
// never started) gets one here, so every port's stream ends with its outcome.
void EndEvents(PortRun& run) {
    if (!run.output.empty()) {
        std::fprintf(stderr, "%s: its last event was cut off: %s\n", run.result.port.c_str(),
                     run.output.c_str());
        run.output.clear();
    }
    if (!run.outcomeSeen) {
        const std::string text = run.result.lastStatus.empty()
                                     ? "the port's run ended: " + ResultName(run.result.exitStatus)
                                     : run.result.lastStatus;
        const std::string line =
            OutcomeEvent(run.result.port, "ended", "", text, run.result.exitStatus)
                .dump(-1, ' ', false, Event::error_handler_t::replace) +
            "\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
        run.outcomeSeen = true;
    }
}

// Runs one round on every port; returns each port's result in port order.
std::vector<PortResult> RunRound(const std::vector<std::string>& ports,
                                 const std::vector<std::string>& args, GangDisplay& display,
                                 bool live, bool events) {
    const std::string program = OwnProgramPath();
    std::vector<std::string> environment;
    if (live) {
        environment.push_back(std::string(kFigureLinesVariable) + "=" + kFigureLinesValue);
    }
    std::vector<std::unique_ptr<PortRun>> runs;
    std::vector<ChildProcess*> children;
    for (const std::string& port : ports) {
        auto run = std::make_unique<PortRun>();
        run->result.port = port;
        run->started = std::chrono::steady_clock::now();
        std::vector<std::string> childArgs = PortRunArguments(args, port);
        childArgs.insert(childArgs.begin(), program);
        std::string error;
        ChildSetup setup;
        setup.errorsApart = events;
        if (program.empty() || !run->child.Start(childArgs, error, environment, setup)) {
            run->ended = true;
            run->result.exitStatus = kBadUsage;
            run->result.lastStatus = "could not start: " + error;
            display.Finished(run->result, runs.size());
            if (events) {
                EndEvents(*run);
            }
        }
        children.push_back(&run->child);
        runs.push_back(std::move(run));
    }
    std::chrono::steady_clock::time_point lastDrawn{};
    for (;;) {
        bool running = false;
        for (std::size_t i = 0; i < runs.size(); ++i) {
            PortRun& run = *runs[i];
            if (run.ended) {
                continue;
            }
            bool open = run.child.ReadOutput(run.output);
            if (events) {
                ForwardEvents(run);
                open = run.child.ReadErrors(run.errors) || open;
                // Only the last line is wanted: the rest need not pile up round after round.
                constexpr std::size_t kKeptErrorBytes = 4096;
                if (run.errors.size() > 2 * kKeptErrorBytes) {
                    run.errors.erase(0, run.errors.size() - kKeptErrorBytes);
                }
            }
            run.result.lastStatus = LastLine(events ? run.errors : run.output);
            display.Status(i, run.result.lastStatus);
            if (open) {
                running = true;
                continue;
            }
            run.result.exitStatus = run.child.Wait();
            run.result.duration = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - run.started);
            run.ended = true;
            display.Finished(run.result, i);
            if (events) {
                EndEvents(run);
            }
        }
        // Live lines are redrawn at most ten times a second, and once more at the end.
        const auto now = std::chrono::steady_clock::now();
        if (!running || now - lastDrawn >= kDisplayPeriod) {
            display.Draw();
            lastDrawn = now;
        }
        if (!running) {
            break;
        }
        WaitForOutput(children, kDisplayPeriod);
    }
    std::vector<PortResult> results;
    for (const auto& run : runs) {
        results.push_back(run->result);
    }
    return results;
}

std::string TotalsText(const std::vector<std::string>& ports,
                       const std::vector<PortTotals>& totals) {
    std::string text = "totals:";
    for (std::size_t i = 0; i < ports.size(); ++i) {
        text += "  " + ports[i] + " passed " + std::to_string(totals[i].passed) + ", failed " +
                std::to_string(totals[i].failed) + ";";
    }
    text.back() = '\n';
    return text;
}

// Asks for the next round on standard error; false when the operator ends (q, or the end of
// standard input).
bool NextRoundWanted() {
    std::fputs("Replace the chips and press Enter for the next round (q or Ctrl-D ends): ", stderr);
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        std::fputc('\n', stderr);
        return false;
    }
    return answer != "q" && answer != "Q";
}

}  // namespace

bool IsGang(const Options& options) {
    return options.command == Command::Program &&
           (options.repeat || (options.port && PortList(*options.port).size() > 1));
}

std::vector<std::string> PortRunArguments(const std::vector<std::string>& args,
                                          const std::string& port) {
    // Both spellings, "--port A,B" and "--port=A,B" (likewise --repeat=...): one left in would
    // make each port's run a gang of its own.
    const auto spelled = [](const std::string& arg, const std::string& option) {
        return arg == option || arg.rfind(option + "=", 0) == 0;
    };
    std::vector<std::string> result{"--port", port};
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--") {  // the rest are words, whatever they look like
            result.insert(result.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
            break;
        }
        if (args[i] == "--port" || args[i] == "--log") {
            if (args[i] == "--log" && i + 1 < args.size()) {
                result.push_back(args[i]);
                result.push_back(args[i + 1]);
            }
            ++i;  // the value goes with its option
        } else if (!spelled(args[i], "--port") && !spelled(args[i], "--repeat")) {
            result.push_back(args[i]);
        }
    }
    return result;
}

int GangExitStatus(const std::vector<int>& portStatuses) {
    int worst = 0;
    for (const int status : portStatuses) {
        worst = std::max(worst, status >= kSignalBase ? kNoProgrammer : status);
    }
    return worst;
}

int RunGang(const Options& options, const std::vector<std::string>& args) {
    const std::vector<std::string> ports =
        options.port ? PortList(*options.port) : std::vector<std::string>{};
    if (ports.empty()) {
        std::fprintf(stderr, "koru-cli: gang programming needs --port with the ports\n");
        return kBadUsage;
    }
    {
        // Before any port's run starts: a record that cannot be kept stops the gang here.
        ProductionLog log(options.log.value_or(""));
        std::string error;
        if (!log.Check(error)) {
            std::fprintf(stderr, "koru-cli: the production record cannot be written: %s\n",
                         error.c_str());
            return kBadUsage;
        }
    }
    // With --events standard output carries the events alone; what people read goes to
    // standard error, a line per port as it ends.
    const bool events = options.events;
    std::FILE* const human = events ? stderr : stdout;
    const bool live = !events && ::isatty(STDOUT_FILENO) != 0;
    std::vector<PortTotals> totals(ports.size());
    std::vector<int> statuses;
    for (int round = 1;; ++round) {
        if (options.repeat) {
            std::fprintf(human, "round %d\n", round);
        }
        GangDisplay display(ports, human, live);
        const std::vector<PortResult> results = RunRound(ports, args, display, live, events);
        std::fputs(RoundTable(results).c_str(), human);
        for (std::size_t i = 0; i < results.size(); ++i) {
            statuses.push_back(results[i].exitStatus);
            (results[i].exitStatus == 0 ? totals[i].passed : totals[i].failed) += 1;
        }
        if (options.repeat) {
            std::fputs(TotalsText(ports, totals).c_str(), human);
        }
        std::fflush(human);
        // A run that could not even start (bad file, bad usage) would fail every round alike.
        const bool unusable = std::any_of(results.begin(), results.end(), [](const PortResult& r) {
            return r.exitStatus == kBadUsage;
        });
        if (!options.repeat || unusable) {
            break;
        }
        if (events) {
            for (const std::string& port : ports) {
                std::fputs((MakeEvent("waiting", port).dump() + "\n").c_str(), stdout);
            }
            std::fflush(stdout);
        }
        if (!NextRoundWanted()) {
            break;
        }
    }
    return GangExitStatus(statuses);
}

}  // namespace koru::cli
