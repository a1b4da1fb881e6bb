// panel-host run: plays scenarios on a script and prints the transcript. The
// script runs in a child process, so a crash, abort, exit or hang is reported
// with its step instead of ending panel-host without a word.
#ifndef RUN_COMMAND_H
#define RUN_COMMAND_H

#include <string>
#include <vector>

struct RunOptions {
    std::string library;
    std::vector<std::string> scenarios;
    std::string studioFile;
    int stepTimeoutMs = 10000;
    std::string junitFile; // a JUnit report, one test case a scenario file
};

int runScenarios(const RunOptions& options);

#endif
