// panel-host run: plays scenarios on a script and prints the transcript. The
// script runs in a child process, so a crash, abort, exit or hang is reported
// with its step instead of ending panel-host without a word.
#ifndef RUN_COMMAND_H
#define RUN_COMMAND_H

#include <string>
#include <vector>

// Exit statuses of panel-host (docs/scenarios.md).
enum ExitStatus {
    passed = 0,
    failedChecks = 1,
    badInput = 2,
    cannotLoad = 3,
    scriptCrashed = 4, // a signal ended the script: a fault, an abort
    scriptExited = 5,  // the script ended the process itself
    scriptHung = 6,    // a step did not finish within the step timeout
};

struct RunOptions {
    std::string library;
    std::vector<std::string> scenarios;
    std::string studioFile;
    int stepTimeoutMs = 10000;
};

int runScenarios(const RunOptions& options);

#endif
