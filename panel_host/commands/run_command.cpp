#include "run_command.h"

#include "child_process.h"
#include "exit_status.h"
#include "host_startup.h"
#include "open_script_route.h"
#include "panel_host.h"
#include "run_junit.h"
#include "scenario_steps.h"
#include "script_sandbox.h"
#include "studio.h"

#include <chrono>
#include <iostream>
#include <unistd.h>

namespace {

// Each line reaches the file or pipe at once, so that nothing written before
// a crash is lost.
// In a run with --junit: where the child's records go to the parent, or,
// where the script runs in-process, the recorder itself.
int junitFd = -1;
RunRecorder* inProcessRecorder = nullptr;
// The child's own copy of stdout, kept out of the script's way; -1: std::cout.
int transcriptFd = -1;

void printLine(const std::string& line) {
    if (transcriptFd >= 0) {
        writeAll(transcriptFd, line + "\n");
    } else {
        std::cout << line << '\n';
        std::cout.flush();
    }
    sendTranscriptLine(junitFd, line);
    if (inProcessRecorder != nullptr)
        inProcessRecorder->add(line);
}

void beginStep(ChildProgress& progress, std::int64_t step) {
    progress.begin(0, step);
    sendStepBegun(junitFd, step);
    if (inProcessRecorder != nullptr)
        inProcessRecorder->beginStep(step);
}

int playInChild(const RunOptions& options, const ScenarioSteps& steps, const HostStartup& startup,
                Studio& studio, ChildProgress& progress) {
    std::string error;
    beginStep(progress, 0);
    std::unique_ptr<ScriptRoute> route = openScriptRoute(options.library, error);
    if (!route) {
        std::cerr << "panel-host: " << error << "\n";
        return cannotLoad;
    }
    PanelHost host(studio, printLine);
    long long stepBudget = applyStartup(startup, host, studio, *route);
    if (!host.open(*route)) {
        printLine("panel-host: the script did not start, " + std::to_string(host.breachCount()) +
                  " breaches");
        return failedChecks;
    }
    ScenarioPlayer player(host);
    player.setStepBudgetMs(stepBudget);
    for (size_t i = 0; i < steps.size(); ++i) {
        beginStep(progress, static_cast<std::int64_t>(i + 1));
        if (!player.play(steps.at(i)))
            break;
    }
    beginStep(progress, static_cast<std::int64_t>(steps.size() + 1));
    host.close();
    size_t failures = player.failures().size();
    size_t breaches = host.breachCount();
#if !defined(_WIN32)
    // Ended with this child, so none outlives the run; a failure all the same.
    if (int left = leftoverProcesses(getppid(), {})) {
        printLine("BREACH: the script left " + std::to_string(left) + " process" +
                  (left == 1 ? "" : "es") + " running after its delete");
        ++breaches;
    }
#endif
    printLine("panel-host: " + std::to_string(steps.size()) + " steps, " +
              std::to_string(failures) + " failed expectations, " + std::to_string(breaches) +
              " breaches");
    return failures == 0 && breaches == 0 ? passed : failedChecks;
}

int statusOf(const ChildEnd& end) {
    switch (end.kind) {
    case ChildEnd::finished:
        return end.exitCode;
    case ChildEnd::signalled:
        return scriptCrashed;
    case ChildEnd::exited:
        return scriptExited;
    case ChildEnd::timedOut:
    case ChildEnd::outOfTime:
        return scriptHung;
    case ChildEnd::lostChannel:
        return failedChecks;
    case ChildEnd::failedToStart:
        break;
    }
    return cannotLoad;
}

} // namespace

int runScenarios(const RunOptions& options) {
    ScenarioSteps steps;
    std::string error;
    auto refuse = [&](const std::string& file) {
        std::cerr << "panel-host: " << error << "\n";
        if (!options.junitFile.empty())
            writeJUnit(options.junitFile,
                       RunRecorder::refused(options.library, options.scenarios, file, error));
        return badInput;
    };
    for (const std::string& path : options.scenarios) {
        if (!steps.read(path, error))
            return refuse(path);
    }
    HostStartup startup;
    Studio studio;
    if (!gatherStartup(steps, startup, error) ||
        (!options.studioFile.empty() && !studio.loadStudioFile(options.studioFile, error)))
        return refuse("");
    RunRecorder recorder(options.library, options.scenarios, steps);
    bool junit = !options.junitFile.empty();
    auto start = std::chrono::steady_clock::now();
    ChildEnd end = ChildProcess::run(
        [&](ChildProgress& progress, int fd) {
#if !defined(_WIN32)
            transcriptFd = childChannel::keep(dup(STDOUT_FILENO));
#endif
            junitFd = junit ? fd : -1;
            inProcessRecorder = junit && fd < 0 ? &recorder : nullptr;
            return playInChild(options, steps, startup, studio, progress);
        },
        options.stepTimeoutMs,
        junit ? ChildProcess::Output([&](const char* b, std::size_t n) { recorder.take(b, n); })
              : ChildProcess::Output());
    inProcessRecorder = nullptr;
    int status = statusOf(end);
    if (end.kind != ChildEnd::finished) {
        std::string where = stepName(end.step, steps);
        for (const std::string& line :
             {"panel-host: the script " + end.describe() + " in " + where,
              "panel-host: " + std::to_string(steps.size()) + " steps, stopped in " + where}) {
            printLine(line);
            recorder.add(line);
        }
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (junit && !writeJUnit(options.junitFile, recorder.suite(end, status, seconds))) {
        std::cerr << "panel-host: cannot write " << options.junitFile << "\n";
        return status == passed ? badInput : status;
    }
    return status;
}
