// A failing validate session written as a scenario that `panel-host run`
// replays to the same failure: its start-up lines, its steps, and after each
// step `expect` lines for what the script (or, when two libraries were
// compared, the reference library) sent.
#ifndef FAILURE_SCENARIO_H
#define FAILURE_SCENARIO_H

#include "session_runner.h"

#include <string>
#include <vector>

struct FailureStory {
    std::string library;
    std::string reference; // the library compared against, if any
    unsigned long long seed = 0;
    int session = 0;
    int level = 1;
    std::string what; // the failure, one line
};

// `expectations`: the run whose records become `expect` lines, for the steps
// before `expectUpTo` (the failing step gets none: the failure happens there).
std::string failureScenario(const FailureStory& story, const std::vector<std::string>& lines,
                            const SessionOutcome& expectations, int expectUpTo);

#endif
