#include "run_command.h"

#include "child_process.h"
#include "exit_status.h"
#include "host_startup.h"
#include "panel_host.h"
#include "scenario.h"
#include "open_script_route.h"
#include "studio.h"

#include <iostream>

namespace {

// Each line reaches the file or pipe at once, so that nothing written before
// a crash is lost.
void printLine(const std::string& line) {
    std::cout << line << '\n';
    std::cout.flush();
}

// What the parent says of the step the child stopped at: 0 is the load, the
// scenario steps follow, and the delete comes last.
std::string stepName(std::int64_t step, const std::vector<ScenarioStep>& steps) {
    if (step <= 0)
        return "the load (load_vesk_client_script)";
    if (step > static_cast<std::int64_t>(steps.size()))
        return "the delete";
    const ScenarioStep& s = steps[static_cast<size_t>(step - 1)];
    return "step " + std::to_string(step) + " (" + s.file + ":" + std::to_string(s.line) + ": " +
           s.verb + (s.rest.empty() ? "" : " " + s.rest) + ")";
}

int playInChild(const RunOptions& options, const std::vector<ScenarioStep>& steps,
                const HostStartup& startup, Studio& studio, ChildProgress& progress) {
    std::string error;
    progress.begin(0, 0);
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
        progress.begin(0, static_cast<std::int64_t>(i + 1));
        if (!player.play(steps[i]))
            break;
    }
    progress.begin(0, static_cast<std::int64_t>(steps.size() + 1));
    host.close();
    size_t failures = player.failures().size();
    size_t breaches = host.breachCount();
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
        return scriptHung;
    case ChildEnd::failedToStart:
        break;
    }
    return cannotLoad;
}

} // namespace

int runScenarios(const RunOptions& options) {
    std::vector<ScenarioStep> steps;
    std::string error;
    for (const std::string& path : options.scenarios) {
        if (!readScenario(path, steps, error)) {
            std::cerr << "panel-host: " << error << "\n";
            return badInput;
        }
    }
    HostStartup startup;
    Studio studio;
    if (!gatherStartup(steps, startup, error) ||
        (!options.studioFile.empty() && !studio.loadStudioFile(options.studioFile, error))) {
        std::cerr << "panel-host: " << error << "\n";
        return badInput;
    }
    ChildEnd end = ChildProcess::run(
        [&](ChildProgress& progress, int) {
            return playInChild(options, steps, startup, studio, progress);
        },
        options.stepTimeoutMs, nullptr);
    if (end.kind == ChildEnd::finished)
        return end.exitCode;
    std::string where = stepName(end.step, steps);
    printLine("panel-host: the script " + end.describe() + " in " + where);
    printLine("panel-host: " + std::to_string(steps.size()) + " steps, stopped in " + where);
    return statusOf(end);
}
