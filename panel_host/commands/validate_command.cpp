#include "validate_command.h"

#include "exit_status.h"
#include "junit_report.h"
#include "script_sandbox.h"
#include "validate_output.h"
#include "validate_report.h"
#include "validation_run.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <unistd.h>

namespace {

// The run's lines as they come: notes and progress on stderr (progress only
// on a terminal), findings on stdout.
class ConsoleLog : public ValidationLog {
  public:
    void note(const std::string& line) override { std::cerr << line << "\n"; }
    void finding(const std::string& line) override { std::cout << line << "\n" << std::flush; }
    void progress(int done, int planned) override {
        if (!isatty(STDERR_FILENO))
            return;
        if (planned > 0)
            std::fprintf(stderr, "\rvalidate: %d/%d sessions", done, planned);
        else
            std::fprintf(stderr, "\rvalidate: %d sessions", done);
        shown_ = true;
    }
    void endProgress() override {
        if (shown_)
            std::fprintf(stderr, "\n");
        shown_ = false;
    }

  private:
    bool shown_ = false;
};

void printSummary(const ValidateOptions& options, const ValidationResult& result) {
    const ValidateReport& report = result.report;
    const SessionReach& reach = report.reach;
    double rate = report.seconds > 0 ? static_cast<double>(report.steps) / report.seconds : 0;
    std::fprintf(stderr, "validate: %lld steps in %.2f s, %.0f steps/s\n", report.steps,
                 report.seconds, rate);
    std::cout << "validate: steps by kind:";
    for (const auto& [kind, count] : reach.stepKinds)
        std::cout << " " << kind << " " << count;
    std::cout << "\nvalidate: controls exercised " << reach.controls.size() << " of "
              << report.panelControls << "\n";
    std::cout << "validate: parameter keys sent " << reach.parameterKeys.size() << " ("
              << result.namedKeys << " named by the library); the script replied to:";
    for (const std::string& key : reach.answeredKeys)
        std::cout << " " << key;
    std::cout << (reach.answeredKeys.empty() ? " none\n" : "\n");
    if (report.search == "guided")
        std::cout << "validate: guided search: " << report.behaviours
                  << " behaviours of the script, " << result.blocksSeen
                  << " code blocks, a corpus of " << report.corpus << " sessions; "
                  << report.mutated << " of " << result.sessionsPlayed
                  << " sessions made by mutation, " << report.dictionary << " dictionary words; "
                  << report.replacements
                  << " sessions with a value replaced by what the script compared it with ("
                  << report.replacementsKept << " kept)\n";
    if (report.outOfTime) {
        std::cout << "validate: --time " << options.run.seconds << " s ran out after "
                  << result.sessionsPlayed;
        if (options.run.sessionsGiven)
            std::cout << " of " << result.sessionsPlanned;
        std::cout << " sessions\n";
    }
    if (!options.run.corpus.empty())
        std::cout << "validate: corpus " << options.run.corpus << ": " << result.corpusRead
                  << " sessions read and played first (" << result.corpusSkipped
                  << " files skipped), " << result.corpusPickedUp
                  << " picked up from other runs while running, " << result.corpusWritten
                  << " new sessions added\n";
    std::cout << "validate: the script ran in child processes with " << sandboxText(sandboxKind())
              << "\n";
    std::cout << codeReachedText(reach);
    // With --compare, the reference's share stands next to the library's.
    for (const std::optional<LineCoverage>* lines :
         {&report.sourceLines, &report.referenceSourceLines})
        if (*lines)
            std::cout << sourceLinesText(**lines);
    std::cout << "validate: " << result.sessionsPlayed << " sessions";
    if (report.shardCount > 1)
        std::cout << " (shard " << report.shardIndex << "/" << report.shardCount << ": sessions "
                  << report.firstSession << " to "
                  << report.firstSession + result.sessionsPlanned - 1 << ")";
    std::cout << ", " << report.steps << " steps, " << report.failures.size() << " failures"
              << std::endl;
}

bool writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    out.close();
    return !out.fail();
}

// FILE.info: the lines reached, as an lcov tracefile; any other name: the blocks.
std::string coverageText(const std::string& file, const ValidateReport& report) {
    const std::string info = ".info";
    bool lcov = file.size() > info.size() &&
                file.compare(file.size() - info.size(), info.size(), info) == 0;
    if (!lcov)
        return blockListText(report.reach);
    return report.sourceLines ? lcovTracefile(*report.sourceLines, "validate")
                              : std::string(); // nothing to say by line without symbols
}

// The reports asked for; the exit status.
int writeReports(const ValidateOptions& options, const ValidationResult& result) {
    std::string json;
    if (!options.jsonFile.empty())
        json = reportJson(result.report)
                   .dump(2, ' ', false, nlohmann::json::error_handler_t::replace) +
               "\n";
    const std::pair<const std::string&, std::string> files[] = {
        {options.jsonFile, json},
        {options.coverageFile,
         options.coverageFile.empty() ? "" : coverageText(options.coverageFile, result.report)}};
    for (const auto& [path, text] : files)
        if (!path.empty() && !writeText(path, text)) {
            std::cerr << "panel-host: cannot write " << path << "\n";
            return badInput;
        }
    if (!options.junitFile.empty() &&
        !writeJUnit(options.junitFile, validateJUnit(result.report, result.failedSteps))) {
        std::cerr << "panel-host: cannot write " << options.junitFile << "\n";
        return badInput;
    }
    if (!result.report.failures.empty())
        return failedChecks;
    if (result.sessionsPlayed == 0) {
        std::cout << "validate: no session was played, so nothing was tested (give more --time)"
                  << std::endl;
        return nothingTested;
    }
    return passed;
}

// Decimal digits only, and small enough that nothing wraps: a number past
// that is out of range, never read modulo 2^32.
bool wholeNumber(const std::string& text, long long& value) {
    if (text.empty() || text.size() > 12 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoll(text);
    return true;
}

// "K/N" with 1 <= K <= N <= sessions; false with the reason.
bool parseShard(const std::string& text, int sessions, int& index, int& count, std::string& why) {
    std::size_t slash = text.find('/');
    long long k = 0, n = 0;
    if (slash == std::string::npos || !wholeNumber(text.substr(0, slash), k) ||
        !wholeNumber(text.substr(slash + 1), n)) {
        why = "--shard takes K/N, such as 2/4";
        return false;
    }
    if (n < 1 || k < 1 || k > n) {
        why = "--shard K/N needs 1 <= K <= N";
        return false;
    }
    int batches = (sessions + sessionBatchSize - 1) / sessionBatchSize;
    if (n > batches) {
        why = "--shard: " + std::to_string(n) + " parts of " + std::to_string(sessions) +
              " sessions would leave some empty (a part is whole batches of " +
              std::to_string(sessionBatchSize) + " sessions)";
        return false;
    }
    index = static_cast<int>(k);
    count = static_cast<int>(n);
    return true;
}

// An empty path would name the working folder's parent or the root: refused like any bad value.
const CLI::Validator nonEmptyPath(
    [](std::string& path) { return path.empty() ? std::string("an empty path") : std::string(); },
    "PATH");

} // namespace

CLI::App* addValidateCommand(CLI::App& app, ValidateOptions& options) {
    CLI::App* command =
        app.add_subcommand("validate", "drive LIBRARY through seeded sessions as a strict host");
    command->add_option("library", options.run.library, "the panel script library")->required();
    command->add_option("--seed", options.run.seed, "the seed of the sessions (default 1)");
    command
        ->add_option("--sessions", options.run.sessions,
                     "how many sessions: all are played, whatever the time (default: as many as "
                     "--time allows, ending at the first round with a failure)")
        ->check(CLI::Range(1, 10000000))
        ->each([&options](const std::string&) { options.run.sessionsGiven = true; });
    command->add_option("--steps", options.run.steps, "steps a session (default 100)")
        ->check(CLI::Range(1, 100000));
    command
        ->add_option("--level", options.run.level,
                     "1 to 5: longer texts, stranger bytes, tighter budgets (default: sessions "
                     "spread over every level)")
        ->check(CLI::Range(1, 5))
        ->each([&options](const std::string&) { options.run.levelGiven = true; });
    command->add_option("--compare", options.run.compare,
                        "a second library that must answer alike");
    command
        ->add_option("--out", options.run.outFolder,
                     "where shrunk failures are saved (default validate-failures)")
        ->check(nonEmptyPath);
    command->add_option("--json", options.jsonFile, "a JSON report for CI")->check(nonEmptyPath);
    command
        ->add_option("--coverage-out", options.coverageFile,
                     "write the blocks of the script's code that ran (emulated route); "
                     "FILE.info: the panel's source lines reached, as an lcov tracefile")
        ->check(nonEmptyPath);
    command
        ->add_option("--junit", options.junitFile,
                     "a JUnit XML report for CI: a test case a kind of failure")
        ->check(nonEmptyPath);
    command
        ->add_option("--hang-timeout", options.run.hangTimeoutMs,
                     "milliseconds without progress that count as a hang (default 5000)")
        ->check(CLI::Range(50, 3600000));
    command
        ->add_option("--jobs", options.run.jobs,
                     "batches of sessions played at once (default: one a core); the verdict is "
                     "the same for any number")
        ->check(CLI::Range(1, 256));
    command->add_option("--layout", options.run.layoutFile,
                        "the panel layout to drive (default: the one the script shows with PS, "
                        "else the one beside the library)");
    command->add_flag("--blind", options.run.blind,
                      "draw every session on its own, without the guided search (as before it; "
                      "shards are then exact parts of the unsplit run)");
    command
        ->add_option("--time", options.run.seconds,
                     "the whole run's bound in seconds, shrinking included (default 60; 0: none)")
        ->check(CLI::Range(0.0, 1e7));
    command
        ->add_option("--corpus", options.run.corpus,
                     "a folder of sessions: the guided search starts from them and adds every "
                     "session it keeps, one scenario file each, named by its content's hash")
        ->check(nonEmptyPath);
    command->add_option("--shard", options.shard,
                        "K/N: play only the K-th of N equal parts of the sessions, for splitting "
                        "one run over machines (merge their --json with merge-reports)");
    return command;
}

int validate(const ValidateOptions& options) {
    ValidationOptions run = options.run;
    if (run.blind && !run.corpus.empty()) {
        std::cerr << "panel-host: --corpus feeds the guided search, which --blind turns off\n";
        return badInput;
    }
    if (!options.shard.empty()) {
        std::string why;
        if (!parseShard(options.shard, options.run.sessions, run.shardIndex, run.shardCount, why)) {
            std::cerr << "panel-host: " << why << "\n";
            return badInput;
        }
    }
    ConsoleLog log;
    ValidationResult result = ValidationRun(run, log).run();
    int status = passed;
    switch (result.end) {
    case ValidationResult::ran:
        printSummary(options, result);
        return writeReports(options, result);
    case ValidationResult::badInput:
        return badInput;
    case ValidationResult::cannotLoad:
        status = cannotLoad;
        break;
    case ValidationResult::noPanel:
        status = noPanel;
        break;
    }
    if (!options.junitFile.empty()) {
        JUnitCase c{"validate", "panel-host.validate", 0, {}, {}, {}, "", ""};
        c.error = status == cannotLoad ? "the library could not be loaded: " + options.run.library
                                       : "no panel to drive: no control step could be drawn";
        writeJUnit(options.junitFile,
                   JUnitSuite{"panel-host validate " + options.run.library, 0, {c}});
    }
    return status;
}
