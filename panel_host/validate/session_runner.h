// One validate session on one script, in this process: the start-up lines
// (strict checks and the level's budgets among them), the steps and the delete. A crash or hang of
// a native script ends the process, so callers run this inside a ChildProcess.
#ifndef SESSION_RUNNER_H
#define SESSION_RUNNER_H

#include "child_process.h"
#include "script_route.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

// The failure of a session after which the script left processes running:
// its child ends, so that they end with it, and a new child takes the rest.
constexpr const char* leftProcessesKind = "left processes running";

struct SessionSettings {
    std::string library;
    bool keepTranscript = false; // for comparing two libraries
    bool logCompares = false;    // the values the script compares against, for the search
    bool countHits = false;      // how often each block ran, for the search
    bool recordCommands = true;  // each step's commands, for expect lines and the search
};

// What one step made the script send, for `expect` lines.
struct StepRecord {
    std::vector<std::string> commands; // as the transcript shows them
    bool parameter = false;
    std::optional<std::string> reply; // parameter steps
    int transcriptEnd = 0;            // transcript lines once the step was done
};

struct SessionOutcome {
    bool failed = false;
    std::string kind;    // what failed, without the particulars: shrinking keeps it
    std::string message; // the whole story
    // The step that failed: -1 the load, 0.. the steps, steps.size() the delete.
    int failedStep = 0;
    bool cannotLoad = false;
    std::vector<std::string> transcript;
    std::vector<StepRecord> records; // one per step played
    std::string shownLayout;         // the layout file the script's "PS" showed, if any
    ScriptPrints prints;             // what the script printed, where its child captures it
    // The script's code reached, where the route sees it. It only grows while
    // a library stays loaded, so outcomes of one child share it, read-only.
    std::shared_ptr<const CodeCoverage> coverage;
    std::vector<std::uint32_t>
        compared; // values its code compared against, where the route sees them
    // Comparisons made during the steps (both operands, and the step), where the route sees them.
    std::vector<Comparison> comparisons;
    // How often each block or guard of its code ran in this session, where the route sees them.
    std::vector<std::pair<std::uint32_t, std::uint8_t>> hits;
};

// A library kept loaded between the sessions of one child process. A session
// that passed hands its route back, rewound; one that failed, or a route that
// cannot rewind, leaves it empty, so the next session loads anew.
struct ResidentRoute {
    std::string library;
    std::unique_ptr<ScriptRoute> route;
};

// Plays `lines` (startup lines first) on a freshly loaded script, or on the
// resident one rewound to how it was right after loading; progress reports
// step numbers 0 (load) to steps + 1 (delete) under `job`.
SessionOutcome runSession(const SessionSettings& settings, const std::vector<std::string>& lines,
                          ChildProgress& progress, int job, ResidentRoute* resident = nullptr);

#endif
